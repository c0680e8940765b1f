#include <gtest/gtest.h>

#include "dialog/form.h"

namespace klvr {
namespace {

Control Make(ControlKind kind, const std::string& name, const std::string& container = "") {
    Control c;
    c.kind = kind;
    c.name = name;
    c.container = container;
    return c;
}

// A small form whose rules write what ran into a trace, so that the order of nested rules shows.
class TracedForm : public Form {
  public:
    std::vector<std::string> trace;

    TracedForm() : Form("frmTest", "Test") {
        Add(Make(ControlKind::CheckBox, "chkA"));
        Add(Make(ControlKind::CheckBox, "chkB"));
        Add(Make(ControlKind::Text, "txtA")).maxLength = 5;
        Add(Make(ControlKind::Text, "txtB"));
        Add(Make(ControlKind::Frame, "fra"));
        Add(Make(ControlKind::Option, "optX", "fra")).selected = true;
        Add(Make(ControlKind::Option, "optY", "fra"));
        Add(Make(ControlKind::PickList, "cmb")).items = {{"a", 0}, {"b", 0}};
        Add(Make(ControlKind::Button, "cmdGo"));
        // chkA switched on sets chkB, whose rule writes txtB: all of it before chkA's rule goes on
        On("chkA", FormEvent::Click, [this] {
            trace.push_back("chkA " + std::to_string(Get("chkA").value) + " begin");
            SetValue("chkB", Get("chkA").value);
            trace.push_back("chkA end");
        });
        On("chkB", FormEvent::Click, [this] {
            trace.push_back("chkB " + std::to_string(Get("chkB").value));
            SetText("txtB", "b" + std::to_string(Get("chkB").value));
        });
        On("txtB", FormEvent::Change, [this] { trace.push_back("txtB=" + Get("txtB").text); });
        On("txtA", FormEvent::Change, [this] { trace.push_back("txtA=" + Get("txtA").text); });
        On("optX", FormEvent::Click, [this] { trace.push_back("optX"); });
        On("optY", FormEvent::Click, [this] { trace.push_back("optY"); });
        On("cmb", FormEvent::Click,
           [this] { trace.push_back("cmb " + std::to_string(Get("cmb").listIndex)); });
        On("cmdGo", FormEvent::Click, [this] { trace.push_back("cmdGo"); });
        // txtB refuses "bad" on focus-out and takes the focus back
        On("txtB", FormEvent::LostFocus, [this] {
            trace.push_back("txtB lost");
            if (Get("txtB").text == "bad") SetFocus("txtB");
        });
        On("txtB", FormEvent::GotFocus, [this] { trace.push_back("txtB got"); });
    }
};

TEST(FormModel, RulesRunOnChangesByCodeNestedToTheirEndAndNotForUnchangedState) {
    TracedForm f;
    f.SetValue("chkA", 1);
    EXPECT_EQ(f.trace, (std::vector<std::string>{"chkA 1 begin", "chkB 1", "txtB=b1", "chkA end"}));

    f.trace.clear();
    f.SetValue("chkA", 1);    // already 1
    f.SetText("txtB", "b1");  // same text
    f.Select("optX");         // already selected
    EXPECT_TRUE(f.trace.empty());

    f.Select("optY");
    EXPECT_FALSE(f.Get("optX").selected);
    f.SetListIndex("cmb", 1);
    f.SetListIndex("cmb", 1);  // a list's rule runs whenever its selection is set
    EXPECT_EQ(f.trace, (std::vector<std::string>{"optY", "cmb 1", "cmb 1"}));

    EXPECT_THROW(f.SetValue("chkA", 3), InvalidValueError);
    EXPECT_THROW(f.SetListIndex("cmb", 2), InvalidValueError);
    EXPECT_EQ(f.Get("chkA").value, 1);
    EXPECT_EQ(f.Get("cmb").listIndex, 1);
}

TEST(FormModel, TypingReplacesTheSelectionStopsAtTheMaximumAndRunsTheChangeRulePerCharacter) {
    struct Case {
        const char* before;
        int selStart, selLength;
        const char* typed;
        const char* after;
        int caret;
    };
    const Case cases[] = {
        {"abcd", 2, 0, "X", "abXcd", 3},      // at the caret
        {"abcd", 1, 2, "X", "aXd", 2},        // replaces the selection
        {"abcd", 0, 4, "<Work", "<Work", 5},  // whole text selected
        {"abcd", 4, 0, "XYZ", "abcdX", 5},    // stops at five characters
        {"ab", 1, 0, "¦¦¦¦", "a¦¦¦b", 4},     // counts characters, not bytes
    };
    for (const auto& c : cases) {
        TracedForm f;
        f.SetText("txtA", c.before);
        f.SetFocus("txtA");
        f.SetSelection("txtA", c.selStart, c.selLength);
        f.trace.clear();
        f.TypeIntoFocused(c.typed);
        EXPECT_EQ(f.Get("txtA").text, c.after) << c.before << " + " << c.typed;
        EXPECT_EQ(f.Get("txtA").selStart, c.caret) << c.typed;
        EXPECT_EQ(f.trace.back(), std::string("txtA=") + c.after);
    }
    TracedForm f;
    f.SetFocus("txtA");
    f.TypeIntoFocused("ab");
    EXPECT_EQ(f.trace, (std::vector<std::string>{"txtA=a", "txtA=ab"}));
}

TEST(FormModel, TheUserCannotReachDisabledControlsOrControlsInADisabledFrame) {
    TracedForm f;
    f.SetEnabled("fra", false);
    EXPECT_FALSE(f.IsUsable("optY"));
    EXPECT_FALSE(f.UserClick("optY"));
    EXPECT_TRUE(f.Get("optX").selected);
    EXPECT_TRUE(f.Get("optY").enabled);  // the control keeps its own state

    f.SetEnabled("fra", true);
    EXPECT_TRUE(f.UserClick("optY"));
    EXPECT_TRUE(f.Get("optY").selected);

    f.SetEnabled("txtA", false);
    EXPECT_FALSE(f.UserType("txtA", "x"));
    EXPECT_EQ(f.Get("txtA").text, "");

    EXPECT_TRUE(f.UserClick("chkA"));
    EXPECT_EQ(f.Get("chkA").value, 1);
    EXPECT_TRUE(f.UserClick("chkA"));
    EXPECT_EQ(f.Get("chkA").value, 0);
}

TEST(FormModel, AFocusOutRuleThatTakesTheFocusBackDropsTheUsersClick) {
    TracedForm f;
    ASSERT_TRUE(f.UserType("txtB", "bad"));
    f.trace.clear();
    EXPECT_FALSE(f.UserClick("cmdGo"));
    EXPECT_EQ(f.Focused()->name, "txtB");
    EXPECT_EQ(f.trace, (std::vector<std::string>{"txtB lost", "txtB got"}));

    f.SetText("txtB", "good");
    f.trace.clear();
    EXPECT_TRUE(f.UserClick("cmdGo"));
    EXPECT_EQ(f.Focused()->name, "cmdGo");
    EXPECT_EQ(f.trace, (std::vector<std::string>{"txtB lost", "cmdGo"}));
}

}  // namespace
}  // namespace klvr
