// The file filter: which names pass, and what a broken or runaway pattern does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/file_filter.h"

namespace klvr {
namespace {

struct FilterCase {
    std::string filter;
    std::vector<std::string> pass;
    std::vector<std::string> refuse;
};

TEST(NameFilter, DecidesByAnyNonEmptyPatternMatchingAnywhere) {
    const FilterCase cases[] = {
        {".", {"a.txt", "noext", ""}, {}},                          // the dialog's form of "*": everything
        {"\\.csv$", {"x.csv", "a.b.csv"}, {"x.csv.bak", "X.CSV"}},  // case matters
        {"^in_;\\.xml$", {"in_1.txt", "b.xml"}, {"out_1.txt"}},     // either pattern
        {"", {}, {"a.txt", "."}},                                   // empty filter lets nothing through
        {";;", {}, {"a.txt"}},                                      // nor do empty patterns
        {"a;", {"cat"}, {"dog"}},                                   // the empty part is skipped
    };
    for (const FilterCase& c : cases) {
        NameFilter f(c.filter);
        for (const auto& name : c.pass) EXPECT_TRUE(f.Passes(name)) << c.filter << " / " << name;
        for (const auto& name : c.refuse) EXPECT_FALSE(f.Passes(name)) << c.filter << " / " << name;
    }
}

TEST(NameFilter, BuildsTheListWithAnEmptySecondPatternForOnePattern) {
    EXPECT_EQ(BuildFilterList("abc"), (std::vector<std::string>{"abc", ""}));
    EXPECT_EQ(BuildFilterList("a;;b"), (std::vector<std::string>{"a", "", "b"}));
}

// A pattern that does not compile fails with PCRE2's message, even when an earlier pattern matched.
TEST(NameFilter, ABrokenPatternFailsWithPcre2sMessage) {
    NameFilter f("a;(x");
    try {
        f.Passes("abc");
        FAIL() << "no failure";
    } catch (const FilterError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Invalid filter pattern [(x]: missing closing parenthesis at offset 2");
    }
}

// Server names need not be UTF-8; they are matched, never refused for their bytes.
TEST(NameFilter, NamesThatAreNotUtf8StillMatch) {
    NameFilter f("\\.txt$");
    EXPECT_TRUE(f.Passes("caf\xe9.txt"));
    EXPECT_FALSE(f.Passes("caf\xe9.dat"));
    NameFilter any("caf.");
    EXPECT_TRUE(any.Passes("caf\xc3\xa9"));
}

// Catastrophic backtracking ends at the match limit with a failure instead of holding up the run.
TEST(NameFilter, ARunawayPatternStopsAtItsLimit) {
    NameFilter f("^(a+)+$");
    EXPECT_THROW(f.Passes(std::string(40, 'a') + "!"), FilterError);
}

}  // namespace
}  // namespace klvr
