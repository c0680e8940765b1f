// From the client's listing to RemoteEntries: order, filter, links, unsafe names and unreadable listings.
#include <gtest/gtest.h>

#include <map>

#include "host/module_state.h"
#include "support/log_capture.h"
#include "transfer/remote_listing.h"

namespace klvr {
namespace {

class ReadListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetModuleState();
        moduleState().Settings.RemoteDir = "/pub";
        capture = std::make_unique<test::LogCapture>();
    }
    void TearDown() override {
        capture.reset();
        ResetModuleState();
    }

    // Links named in folderLinks enter; every probe is recorded.
    bool Read(const Listing& listing) {
        return ReadListing(listing, [this](const std::string& folder, const std::string& name) {
            probes.push_back(folder + "|" + name);
            return folderLinks.count(name) ? kFolderLink : kFileLink;
        });
    }
    static std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        const auto& r = moduleState().RemoteEntries.records;
        for (std::size_t i = 1; i < r.size(); ++i)
            rows.push_back(r[i].name + " " + r[i].size + " " + std::to_string(r[i].IsFolder) +
                           std::to_string(r[i].IsFileLink) + std::to_string(r[i].IsFolderLink));
        return rows;
    }

    std::map<std::string, int> folderLinks;
    std::vector<std::string> probes;
    std::unique_ptr<test::LogCapture> capture;
    test::LogCapture& log() { return *capture; }
};

TEST_F(ReadListingTest, FoldersFirstDotsDroppedLinksProbedFilterAppliedToEveryKind) {
    moduleState().Settings.FileFilter = "^[a-z]";
    folderLinks["ln-dir"] = 1;
    Listing l;
    l.Entries = {{"b.txt", "F", 10, {}, {}},   {".", "D", 0, {}, {}},      {"sub", "d", 0, {}, {}},
                 {"..", "D", 0, {}, {}},       {"ln-dir", "l", 0, {}, {}}, {"ln-file", "L", 5, {}, {}},
                 {"Zdir", "D", 0, {}, {}},     {"a.txt", "F", 3, {}, {}},  {"zz", "D", 0, {}, {}},
                 {"Upper.txt", "F", 1, {}, {}}};
    ASSERT_TRUE(Read(l));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"sub 0 -100", "zz 0 -100", "b.txt 10 000", "ln-dir 0 00-1",
                                                "ln-file 5 0-10", "a.txt 3 000"}));
    EXPECT_EQ(probes, (std::vector<std::string>{"/pub|ln-dir", "/pub|ln-file"}));
    EXPECT_TRUE(log().Messages().empty());
    EXPECT_FALSE(moduleState().ErrorFlag);
}

// A name that would leave the local folder never becomes an entry; the user is told which.
TEST_F(ReadListingTest, UnsafeNamesArePassedOverWithAWarning) {
    moduleState().Settings.FileFilter = ".";
    Listing l;
    l.Entries = {{"a/../../x", "F", 1, {}, {}},
                 {"ok", "F", 1, {}, {}},
                 {std::string("n\0ul", 4), "F", 1, {}, {}},
                 {"d/e", "D", 0, {}, {}}};
    ASSERT_TRUE(Read(l));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"ok 1 000"}));
    EXPECT_EQ(log().LevelsAndMessages(),
              (std::vector<std::string>{"1 WARNING: Unsafe remote name skipped [d/e]",
                                        "1 WARNING: Unsafe remote name skipped [a/../../x]",
                                        "1 WARNING: Unsafe remote name skipped [n\\x00ul]"}));
}

// Lines the client could not read are shown (their line ends made visible) and never hide the others;
// an exact time from the listing stays with its entry.
TEST_F(ReadListingTest, UnreadableLinesAreReportedAndTheReadableEntriesKept) {
    moduleState().Settings.FileFilter = ".";
    Listing l;
    l.ListingFormat = kListingUnparsed;
    l.UnparsedText = "total garbage\r\nline\nbreak\r\n";
    l.Entries = {{"readable.txt", "F", 1, 1704462300, {}}, {"sub", "D", 0, {}, {}}};
    ASSERT_TRUE(Read(l));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"sub 0 -100", "readable.txt 1 000"}));
    EXPECT_EQ(moduleState().RemoteEntries.records[2].modified, 1704462300);
    EXPECT_EQ(moduleState().RemoteEntries.records[1].modified, std::nullopt);
    EXPECT_EQ(log().LevelsAndMessages(),
              (std::vector<std::string>{
                  "1 Some non-UNIX or non-DOS listing were encountered.",
                  "1 This plugin only supports UNIX and DOS listings.",
                  "1 Here are some of the lines that failed:", "1 total garbage\\r\\nline\\nbreak\\r\\n"}));
}

TEST_F(ReadListingTest, ARejectedPatternFailsTheListingWithItsMessage) {
    moduleState().Settings.FileFilter = "[";
    Listing l;
    l.Entries = {{"a", "F", 1, {}, {}}};
    EXPECT_FALSE(Read(l));
    EXPECT_TRUE(moduleState().ErrorFlag);
    const auto lines = log().LevelsAndMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "2 ERROR_FTP-DOWNLOAD: Error getting remote listing [Invalid filter pattern [[]: missing "
              "terminating ] "
              "for character class at offset 1]");
}

// Getting back from a probed link is not optional: later transfers use bare names.
TEST_F(ReadListingTest, AFailedReturnFromAProbeFailsTheListing) {
    moduleState().Settings.FileFilter = ".";
    Listing l;
    l.Entries = {{"ln", "L", 1, {}, {}}};
    const bool ok = ReadListing(l, [](const std::string&, const std::string&) -> std::string {
        throw std::runtime_error("550 /pub: gone");
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(
        log().Messages(),
        (std::vector<std::string>{"ERROR_FTP-DOWNLOAD: Error getting remote listing [550 /pub: gone]"}));
}

}  // namespace
}  // namespace klvr
