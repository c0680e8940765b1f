// Outside text on its way into a log line: what is shown as an escape and what stays as it is.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "util/printable_text.h"

namespace klvr {
namespace {

TEST(PrintableText, MakesEveryLineBreakingOrHiddenCharacterVisible) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"report.csv", "report.csv"},
        {"a b\\c", "a b\\c"},
        {"x\n01-01-2000 00:00:00.0 error FORGED", "x\\n01-01-2000 00:00:00.0 error FORGED"},
        {"over\rwrite", "over\\rwrite"},
        {"tab\there", "tab\\there"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"del\x7f", "del\\x7f"},
        {"Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac",
         "Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac"},                    // valid UTF-8 stays
        {"latin1 \xfc", "latin1 \\xfc"},       // not UTF-8
        {"cut \xe2\x82", "cut \\xe2\\x82"},    // truncated sequence
        {"over \xc0\xaf", "over \\xc0\\xaf"},  // overlong "/"
        {"csi \xc2\x9b"
         "2J",
         "csi \\u009b2J"},  // C1 control
        {"line\xe2\x80\xa8sep", "line\\u2028sep"},
        {"txt.\xe2\x80\xae"
         "exe",
         "txt.\\u202eexe"},  // right-to-left override
    };
    for (const auto& c : cases) EXPECT_EQ(Printable(c.in), c.out) << c.in;
}

// A printed output value: the JSON text means the same values, and prints nothing a terminal acts on.
TEST(PrintableText, JsonKeepsItsValuesAndShowsHiddenCharactersAsEscapes) {
    const nlohmann::json value = {{"name",
                                   "txt.\xe2\x80\xae"
                                   "exe"},
                                  {"csi",
                                   "\xc2\x9b"
                                   "2J"},
                                  {"del", "del\x7f"},
                                  {"lines",
                                   "a\xe2\x80\xa8"
                                   "b\n"},
                                  {"plain",
                                   "Gr\xc3\xbc\xc3\x9f"
                                   "e \xe2\x82\xac"}};
    const std::string printed = PrintableJson(value.dump());
    EXPECT_EQ(nlohmann::json::parse(printed), value);
    for (const std::string escape : {"\\u202e", "\\u009b", "\\u007f", "\\u2028", "\\n"})
        EXPECT_NE(printed.find(escape), std::string::npos) << escape << " in " << printed;
    EXPECT_NE(printed.find("Gr\xc3\xbc\xc3\x9f"
                           "e \xe2\x82\xac"),
              std::string::npos)
        << printed;
    EXPECT_EQ(PrintableJson("[\"latin1 \xfc\"]"), "[\"latin1 \\ufffd\"]");
}

}  // namespace
}  // namespace klvr
