#include "settings/settings_codec.h"

#include <gtest/gtest.h>

#include "settings/field_table.h"
#include "settings/numeric_text.h"

namespace klvr {
namespace {

// A complete array of 35 elements whose element n is given by the map, "" elsewhere.
SettingsArray Array(std::initializer_list<std::pair<int, std::string>> elements, std::string fill = "") {
    std::vector<std::string> v(35, fill);
    for (const auto& [i, text] : elements) v[static_cast<std::size_t>(i - 1)] = text;
    return SettingsArray::FromOneBased(v);
}

TEST(NumericText, RecognisesDecimalTextOnly) {
    struct Case {
        const char* text;
        bool numeric;
        double value;
    };
    const Case cases[] = {
        {"30", true, 30},    {" -2.5 ", true, -2.5}, {"+7", true, 7},  {".5", true, 0.5},  {"5.", true, 5},
        {"1e3", true, 1000}, {"", false, 0},         {" ", false, 0},  {"abc", false, 0},  {"1,5", false, 0},
        {"12a", false, 0},   {"-", false, 0},        {"1e", false, 0}, {"0x10", false, 0},
    };
    for (const auto& c : cases) {
        const auto v = NumericValue(c.text);
        EXPECT_EQ(v.has_value(), c.numeric) << '"' << c.text << '"';
        if (v && c.numeric) {
            EXPECT_DOUBLE_EQ(*v, c.value) << c.text;
        }
    }
}

TEST(NumericText, RoundsHalvesToEvenAndChecksRange) {
    EXPECT_EQ(ToInt16("2.5"), 2);
    EXPECT_EQ(ToInt16("3.5"), 4);
    EXPECT_EQ(ToInt16("-0.4"), 0);
    EXPECT_EQ(ToInt16("32767"), 32767);
    EXPECT_EQ(ToInt16("-32768"), -32768);
    EXPECT_THROW(ToInt16("32768"), ConversionError);
    EXPECT_THROW(ToInt16("x"), ConversionError);
    EXPECT_EQ(ToInt32("2147483647"), 2147483647);
    EXPECT_THROW(ToInt32("2147483648"), ConversionError);
}

TEST(ConfigurationDecoding, EmptyElementsTakeDefaultsOrKeepFields) {
    CommandSettings s;
    s.RemoteHost = "kept";
    s.RetryCount = 4;
    s.PassiveMode = kTrue;
    DecodeForConfiguration(Array({}), s);
    EXPECT_EQ(s.RemoteHost, "kept");
    EXPECT_EQ(s.TransferMode, 1);
    EXPECT_EQ(s.SecurityMode, 1);
    EXPECT_EQ(s.RetryCount, 10);
    EXPECT_EQ(s.PassiveMode, kTrue);
    EXPECT_EQ(s.TraceLog, kFalse);
}

TEST(ConfigurationDecoding, OddValuesLeaveFieldsUnchanged) {
    CommandSettings s;
    s.RetryCount = 4;
    s.PassiveMode = kFalse;
    s.RemotePort = 21;
    s.ProxyPort = 1080;
    DecodeForConfiguration(
        Array({{25, "abc"}, {7, "2"}, {4, "40000"}, {15, "x"}, {23, "*"}, {3, "pw_$PW$_"}}), s);
    EXPECT_EQ(s.RetryCount, 4);
    EXPECT_EQ(s.PassiveMode, kFalse);
    EXPECT_EQ(s.RemotePort, 21);
    EXPECT_EQ(s.ProxyPort, 1080);
    EXPECT_EQ(s.FileFilter, ".");
    EXPECT_EQ(s.Password, "pw_$PW$_");

    DecodeForConfiguration(Array({{23, "*.*"}, {7, "1"}, {25, "2.5"}, {6, "1000"}}), s);
    EXPECT_EQ(s.FileFilter, "*.*");
    EXPECT_EQ(s.PassiveMode, kTrue);
    EXPECT_EQ(s.RetryCount, 2);
    EXPECT_EQ(s.TimeoutSeconds, 1000);  // only the run limits the time-out
}

TEST(ConfigurationDecoding, MissingElementsReadAsEmpty) {
    CommandSettings s;
    s.UserName = "u";
    DecodeForConfiguration(SettingsArray{1, {"host"}}, s);
    EXPECT_EQ(s.RemoteHost, "host");
    EXPECT_EQ(s.UserName, "u");
    EXPECT_EQ(s.TransferMode, 1);
}

TEST(RunDecoding, ConvertsEveryElementAndStopsAtTheFirstBadOne) {
    CommandSettings s;
    s.SecurityProtocol = 4;
    s.RetryCount = 7;
    auto data = Array({{4, "21"},
                       {5, "1"},
                       {6, "30"},
                       {7, "2"},
                       {13, "0"},
                       {15, "0"},
                       {26, "8"},
                       {27, "0"},
                       {28, "0"},
                       {29, "0"},
                       {30, "0"},
                       {10, "0"},
                       {34, ""},
                       {20, "3"},
                       {25, "abc"}});
    auto org = Array({{20, "<var>"}});
    DecodeForRun(data, org, s);
    EXPECT_EQ(s.PassiveMode, kTrue);
    EXPECT_EQ(s.DeleteAfterDownload, kFalse);
    EXPECT_EQ(s.ProcessAll, kTrue);  // empty is not "0"
    EXPECT_EQ(s.SecurityProtocol, 4);
    EXPECT_EQ(s.RetryCount, 7);
    EXPECT_EQ(s.VariableNumber, "3");
    EXPECT_EQ(s.VariableNumberRaw, "<var>");
    EXPECT_EQ(s.TraceLog, kFalse);

    // the failure names the setting and its value, for the user to find it
    const std::pair<std::size_t, const char*> bad[] = {
        {3, "40021"}, {14, ""}, {5, "soon"}, {26, "-40000"}};  // RemotePort, ProxyPort, Timeout, IgnoreDate
    const char* messages[] = {"RemotePort: 40021 is above 32767", "ProxyPort: \"\" is not a number",
                              "TimeoutSeconds: \"soon\" is not a number",
                              "IgnoreDateError: -40000 is below -32768"};
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        auto wrong = data;
        wrong.values[bad[i].first] = bad[i].second;
        try {
            DecodeForRun(wrong, org, s);
            ADD_FAILURE() << messages[i];
        } catch (const ConversionError& e) {
            EXPECT_STREQ(e.what(), messages[i]);
        }
    }
    auto shortArray = SettingsArray{1, {"h", "u", "p", "21"}};
    EXPECT_THROW(DecodeForRun(shortArray, org, s), SubscriptError);
    EXPECT_EQ(s.RemotePort, 21);  // decoded before the missing element
}

TEST(RunDecoding, TheStarTheDialogSavesForAnEmptyFilterMeansEveryName) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"*", "."}, {"*.*", "*.*"}, {"", ""}, {"\\.csv$", "\\.csv$"}};
    for (const auto& [stored, decoded] : cases) {
        CommandSettings s;
        DecodeForRun(Array({{23, stored}}, "0"), Array({}, "0"), s);
        EXPECT_EQ(s.FileFilter, decoded) << stored;
    }
}

TEST(Encoding, WritesFieldsAndControlsInIndexOrder) {
    CommandSettings s;
    s.RemoteHost = "h";
    s.Password = "secret";
    s.ProxyType = 2;
    s.ProxyPort = 1080;
    s.FileFilter = ".";
    const auto saved = EncodeSettings(s, [](int index) { return "c" + std::to_string(index); });
    ASSERT_EQ(saved.size(), 36u);
    EXPECT_EQ(saved[0], "");
    EXPECT_EQ(saved[1], "h");
    EXPECT_EQ(saved[3], "secret_$PW$_");
    EXPECT_EQ(saved[4], "c4");
    EXPECT_EQ(saved[13], "2");
    EXPECT_EQ(saved[15], "1080");
    EXPECT_EQ(saved[23], ".");
    EXPECT_EQ(saved[35], "c35");

    CommandSettings back;
    DecodeForConfiguration(SettingsArray{0, saved}, back);
    EXPECT_EQ(back.Password, "secret_$PW$_");  // the marker is never removed on reading
}

TEST(FieldTable, NamesEveryElementOnce) {
    for (int i = 1; i <= kFieldCount; ++i) {
        EXPECT_EQ(Field(i).index, i);
        EXPECT_EQ(FindField(Field(i).name), &Field(i));
    }
    EXPECT_EQ(FindField("Nope"), nullptr);
}

TEST(SplitText, KeepsEmptyPartsAndGivesNoneForEmptyText) {
    EXPECT_EQ(SplitText("a::b", ":"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitText("a:", ":"), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(SplitText("", ":").empty());
}

}  // namespace
}  // namespace klvr
