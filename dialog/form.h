#pragma once
// A toolkit-free form: named controls with the state the dialogs use, and rules attached to control
// events. A rule runs on a change made by code exactly as on one made by the user, synchronously and to
// its end before the code that caused the change goes on, so rules set off other rules in a fixed order.
// Views (Qt, or a test script) read the controls, show them, and feed the user's actions back through
// the User... members.
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace klvr {

class CertificateList;
class UiHost;

// A control refused a value (a list position outside the list, a check-box value other than 0 to 2,
// an unknown control name); the control keeps its state.
class InvalidValueError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A Component is shown by the view through the concrete form's own interface (the certificate list).
enum class ControlKind { Label, Text, CheckBox, Option, PickList, Button, Image, Frame, TabStrip, Component };
enum class FormEvent { Change, Click, GotFocus, LostFocus };

struct ListItem {
    std::string text;
    int tag = 0;
};

// One control's state. Views read it; only the Form changes it, so that every change runs its rule.
struct Control {
    std::string name;
    ControlKind kind = ControlKind::Label;
    std::string caption;  // a label's text, a button's or box's caption, a frame's title
    std::string tooltip;
    std::string container;  // the frame that holds the control, empty for the form itself
    std::string buddy;      // for a label: the control it names (hidden and shown by the rules with it)

    // text fields; lengths and positions count characters, not bytes
    std::string text;
    int maxLength = 0;  // 0: no limit; limits typing only, as text set by code is never cut
    bool masked = false;
    bool readOnly = false;
    int selStart = 0;  // the caret
    int selLength = 0;

    int value = 0;          // check box: 0 unchecked, 1 checked, 2 grey
    bool selected = false;  // option

    std::vector<ListItem> items;  // pick list entries, or the tabs of a tab strip
    int listIndex = -1;           // the selected entry or the current tab; -1 none

    bool enabled = true;
    bool visible = true;
};

// Told about every change so that a view can follow the model.
class FormObserver {
  public:
    virtual ~FormObserver() = default;
    virtual void ControlChanged(const Control&) {}
    virtual void FocusChanged(const Control*) {}
    virtual void Closed() {}
};

// The members a view calls are virtual: the Qt views live in a module of their own and reach the form's
// code through the form itself, never through a second copy of it.
class Form {
  public:
    Form(std::string name, std::string caption);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }

    // Building: controls keep the order in which they were added.
    Control& Add(Control control);
    void On(const std::string& control, FormEvent event, std::function<void()> rule);
    // A variable button serves one text field (see PressVariableButton).
    void BindVariableButton(const std::string& button, const std::string& field) {
        variableButtons_[button] = field;
    }
    virtual std::string VariableButtonField(const std::string& button) const;

    virtual bool Has(const std::string& name) const;
    // throws InvalidValueError for an unknown name
    virtual const Control& Get(const std::string& name) const;
    virtual std::vector<const Control*> Controls() const;

    // The object behind a Component control, for its view: the certificate list; null for any other.
    virtual CertificateList* ComponentList(const std::string&) { return nullptr; }

    // Changes made by code; each runs the control's rule when its state changes. SetText: Change when
    // the text differs.
    virtual void SetText(const std::string& name, const std::string& text);
    void SetValue(const std::string& name, int value);  // Click when the value differs
    void Select(const std::string& name);               // option: Click when newly selected
    void SetListIndex(const std::string& name,
                      int index);  // pick list: Click on every setting; tabs: on change
    void AddItem(const std::string& name, const std::string& text, int tag = 0);
    void ClearItems(const std::string& name);
    void SetEnabled(const std::string& name, bool enabled);
    void SetVisible(const std::string& name, bool visible);
    virtual void SetSelection(const std::string& name, int start, int length);
    void SetFocus(const std::string& name);

    const Control* Focused() const { return focused_; }
    std::string SelectedText(const std::string& name) const;  // the selected list entry's text, or ""

    // Whether the user can reach the control: it, and every frame around it, enabled and visible.
    bool IsUsable(const std::string& name) const;

    // Types text into the focused text field, character by character: each character replaces the
    // selection or lands at the caret, none goes beyond the field's maximum length, and each runs the
    // field's change rule. Does nothing when no usable, writable text field has the focus.
    void TypeIntoFocused(const std::string& text);

    // The user's actions, as a view reports them. Each refuses a control the user cannot reach and
    // returns whether it was carried out. Actions on a control that takes the focus move the focus
    // first; when a focus-out rule takes the focus back, the action is dropped.
    virtual bool UserFocus(const std::string& name);
    // check box toggles, option selects, button and image click
    virtual bool UserClick(const std::string& name);
    bool UserType(const std::string& name, const std::string& text);
    virtual bool UserChoose(const std::string& name, int index);  // pick-list entry or tab
    virtual void UserClose();                                     // the window's close box
    // A variable button pressed at (x, y) of the window: its field takes the focus and the variable menu
    // opens there (dialog/variable_menu.h).
    virtual void UserPressVariableButton(UiHost& ui, const std::string& button, int x, int y);

    void Close();
    bool IsClosed() const { return closed_; }

    void SetObserver(FormObserver* observer) { observer_ = observer; }

  protected:
    Control& Mutable(const std::string& name);

  private:
    void Fire(const std::string& name, FormEvent event);
    void Changed(const Control& control);
    bool TakesFocus(const Control& control) const;
    bool FocusForUser(const Control& control);

    std::string name_;
    std::string caption_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::map<std::string, Control*> byName_;
    std::map<std::pair<std::string, FormEvent>, std::function<void()>> rules_;
    std::map<std::string, std::string> variableButtons_;
    Control* focused_ = nullptr;
    bool focusMoving_ = false;
    Control* focusTarget_ = nullptr;
    bool closed_ = false;
    FormObserver* observer_ = nullptr;
};

// Character counts and positions of UTF-8 text, as text fields count them.
int CharacterCount(const std::string& text);
std::size_t ByteOffset(const std::string& text, int characters);

}  // namespace klvr
