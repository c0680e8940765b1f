// The listing parser: one table of lines and what they must give.
#include <gtest/gtest.h>

#include "transfer/ftp/listing_parser.h"

namespace klvr {
namespace {

struct LineCase {
    const char* line;
    LineForm form;
    const char* name;
    const char* type;
    std::int64_t size;
};

TEST(ListingParser, Lines) {
    const LineCase cases[] = {
        // UNIX, both date forms, several owner layouts
        {"-rw-r--r--   1 owner group     1234 Jan  5 13:45 report.txt", LineForm::Unix, "report.txt", "F",
         1234},
        {"-rw-r--r--   1 owner group     1234 Dec 31  2019 old.txt", LineForm::Unix, "old.txt", "F", 1234},
        {"drwxr-xr-x   2 0        0            4096 Mar 01 09:00 sub", LineForm::Unix, "sub", "D", 4096},
        {"-rw-r--r-- 1 owner 77 Feb 29 2020 no-group", LineForm::Unix, "no-group", "F", 77},
        {"-rw-r--r--+  1 o g 5 Jan 1 2021 acl", LineForm::Unix, "acl", "F", 5},
        {"-rw-r--r--   1 o g 5 2023-04-01 10:20 iso", LineForm::Unix, "iso", "F", 5},
        // names with blanks, leading blanks, arrows in links
        {"-rw-r--r--   1 o g 9 Jan  5 13:45 name with  blanks ", LineForm::Unix, "name with  blanks ", "F",
         9},
        {"-rw-r--r--   1 o g 9 Jan  5 13:45  leading", LineForm::Unix, " leading", "F", 9},
        {"lrwxrwxrwx   1 o g 7 Jan  5 13:45 a -> b", LineForm::Unix, "a", "L", 7},
        {"lrwxrwxrwx   1 o g 7 Jan  5 13:45 my link -> ../target dir", LineForm::Unix, "my link", "L", 7},
        {"-rw-r--r--   1 o g 7 Jan  5 13:45 not -> a link", LineForm::Unix, "not -> a link", "F", 7},
        // beyond 32 bits
        {"-rw-r--r--   1 o g 5368709120 Jan  5 13:45 big.iso", LineForm::Unix, "big.iso", "F", 5368709120},
        // DOS / IIS
        {"01-05-24  01:45PM       <DIR>          Folder One", LineForm::Dos, "Folder One", "D", 0},
        {"01-05-2024  13:45              5368709120 big file.bin", LineForm::Dos, "big file.bin", "F",
         5368709120},
        {"12-31-99  11:59 AM                 12 y2k.txt", LineForm::Dos, "y2k.txt", "F", 12},
        {"02/03/21  12:00AM                1,024 comma.txt", LineForm::Dos, "comma.txt", "F", 1024},
        // lines that are not entries
        {"total 24", LineForm::Ignored, "", "", 0},
        {"   ", LineForm::Ignored, "", "", 0},
        {"Volume serial number is 1234", LineForm::Unreadable, "", "", 0},
        {"-rw-r--r--   1 o g 7 Jan  5 13:45", LineForm::Unreadable, "", "", 0},    // no name
        {"-rw-r--r--   1 o g 7 Foo  5 13:45 x", LineForm::Unreadable, "", "", 0},  // no month
        {"-rw-r--r--   1 o g 7 Jan 32 13:45 x", LineForm::Unreadable, "", "", 0},  // no such day
        {"-rw-r--r--   1 o g 99999999999999999999 Jan 5 13:45 x", LineForm::Unreadable, "", "", 0},
        {"13-05-24  01:45PM  <DIR>  x", LineForm::Unreadable, "", "", 0},  // month 13
        {"01-05-24  13:45PM  <DIR>  x", LineForm::Unreadable, "", "", 0},  // 13 PM
    };
    for (const auto& c : cases) {
        ParsedLine parsed = ParseListingLine(c.line);
        EXPECT_EQ(parsed.form, c.form) << c.line;
        if (c.form == LineForm::Unix || c.form == LineForm::Dos) {
            EXPECT_EQ(parsed.entry.Name, c.name) << c.line;
            EXPECT_EQ(parsed.entry.Type, c.type) << c.line;
            EXPECT_EQ(parsed.entry.Size, c.size) << c.line;
        }
    }
}

TEST(ListingParser, NamesAreBytesAndPassUnchanged) {
    std::string latin1 = "caf\xe9 \x01\x7f";
    Listing listing = ParseListing("-rw-r--r-- 1 o g 3 Jan 5 13:45 " + latin1 + "\r\n");
    ASSERT_EQ(listing.Entries.size(), 1u);
    EXPECT_EQ(listing.Entries[0].Name, latin1);
}

TEST(ListingParser, FormatVerdictAndUnparsedText) {
    Listing unix =
        ParseListing("total 2\r\n-rw-r--r-- 1 o g 3 Jan 5 13:45 a\r\ndrwxr-xr-x 1 o g 3 Jan 5 13:45 b\r\n");
    EXPECT_EQ(unix.ListingFormat, kListingUnix);
    EXPECT_EQ(unix.Entries.size(), 2u);
    EXPECT_EQ(unix.UnparsedText, "");

    Listing dos = ParseListing("01-05-24  01:45PM  <DIR>  d\n01-05-24  01:45PM  5 f\n");
    EXPECT_EQ(dos.ListingFormat, kListingDos);
    EXPECT_EQ(dos.Entries.size(), 2u);

    // one unreadable line among good ones: format 2, the good entries still there, the line kept
    Listing mixed =
        ParseListing("-rw-r--r-- 1 o g 3 Jan 5 13:45 a\r\n+i8388621.29609,m824255902,/,\tdev\r\n");
    EXPECT_EQ(mixed.ListingFormat, kListingUnparsed);
    EXPECT_EQ(mixed.Entries.size(), 1u);
    EXPECT_EQ(mixed.UnparsedText, "+i8388621.29609,m824255902,/,\tdev\r\n");

    EXPECT_EQ(ParseListing("").ListingFormat, kListingUnix);
    // the last line without a line end still counts
    EXPECT_EQ(ParseListing("-rw-r--r-- 1 o g 3 Jan 5 13:45 last").Entries.size(), 1u);
}

TEST(ListingParser, LinesSplitAcrossPiecesAndHostileSizes) {
    std::string text = "-rw-r--r-- 1 o g 3 Jan 5 13:45 first\r\n01-05-24  01:45PM  5 second\r\n";
    for (std::size_t chunk = 1; chunk < text.size(); chunk += 5) {
        ListingParser parser;
        for (std::size_t at = 0; at < text.size(); at += chunk)
            parser.Feed(std::string_view(text).substr(at, chunk));
        Listing listing = parser.Finish();
        ASSERT_EQ(listing.Entries.size(), 2u) << chunk;
        EXPECT_EQ(listing.Entries[1].Name, "second");
    }

    ListingParser parser;
    parser.Feed("-rw-r--r-- 1 o g 3 Jan 5 13:45 " + std::string(1 << 20, 'n') + "\r\n");
    for (int i = 0; i < 10000; ++i) parser.Feed("garbage line that no parser reads\r\n");
    Listing listing = parser.Finish();
    EXPECT_EQ(listing.Entries.size(), 0u);  // an over-long line is unreadable, not cut into a wrong name
    EXPECT_EQ(listing.ListingFormat, kListingUnparsed);
    EXPECT_LE(listing.UnparsedText.size(), ListingParser::kMaxUnparsedText);
}

}  // namespace
}  // namespace klvr
