// The listing parsers (LIST and MLSD): tables of lines and what they must give, and how a listing's data
// is cut into lines.
#include <gtest/gtest.h>

#include "transfer/ftp/listing_parser.h"
#include "transfer/ftp/mlsd_parser.h"

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
        // sizes no file has: never cast, never wrapped
        {"-rw-r--r--   1 o g 99999999999999999999 Jan 5 13:45 x", LineForm::Unreadable, "", "", 0},
        {"-rw-r--r--   1 o g 0000000000000000000001 Jan 5 13:45 x", LineForm::Unreadable, "", "", 0},
        {"-rw-r--r--   1 o g 9223372036854775808 Jan 5 13:45 x", LineForm::Unreadable, "", "", 0},
        {"-rw-r--r--   1 o g -5 Jan 5 13:45 x", LineForm::Unreadable, "", "", 0},
        {"01-05-24  01:45PM  99,999,999,999,999,999,999 x", LineForm::Unreadable, "", "", 0},
        {"-rw-r--r--   1 o g 9223372036854775807 Jan 5 13:45 max", LineForm::Unix, "max", "F",
         9223372036854775807},
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

// Servers that print what the system's ls prints use the system's language: the month abbreviated in
// any case, with a dot, accented in UTF-8 or Latin-1, and in some languages after the day.
TEST(ListingParser, LocalisedMonths) {
    const char* const months[] = {"Okt",
                                  "Dez.",
                                  "M\xc3\xa4r",
                                  "M\xe4r",
                                  "Mrz",
                                  "mars",
                                  "f\xc3\xa9vr.",
                                  "janv.",
                                  "ao\xc3\xbbt",
                                  "d\xe9"
                                  "c.",
                                  "ene",
                                  "abr",
                                  "ago",
                                  "dic",
                                  "gen",
                                  "mag",
                                  "giu",
                                  "lug",
                                  "ott",
                                  "mrt",
                                  "mei",
                                  "fev",
                                  "out",
                                  "dez",
                                  "maj",
                                  "JAN",
                                  "sept"};
    for (const char* month : months) {
        for (const std::string& date :
             {std::string(month) + "  5 13:45", std::string(month) + " 12  2023",
              "5. " + std::string(month) + " 13:45", "12 " + std::string(month) + "  2023"}) {
            const std::string line = "-rw-r--r--   1 ftp ftp  1234 " + date + " the name";
            ParsedLine parsed = ParseListingLine(line);
            EXPECT_EQ(parsed.form, LineForm::Unix) << line;
            EXPECT_EQ(parsed.entry.Name, "the name") << line;
            EXPECT_EQ(parsed.entry.Size, 1234) << line;
        }
    }
    for (const char* notMonth : {"Foo", "Okto", "m\xc3\xa4rz", "12", "mayo", "m.", "..."}) {
        const std::string line = "-rw-r--r--   1 ftp ftp  1234 " + std::string(notMonth) + "  5 13:45 x";
        EXPECT_EQ(ParseListingLine(line).form, LineForm::Unreadable) << line;
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

// A name holding a line break spreads over two LIST lines: one unreadable line, never an entry named by
// half of it. Servers that end lines in LF alone are still read line by line.
TEST(ListingParser, LineBreaksInNamesAndLfEndedListings) {
    const std::string a = "-rw-r--r-- 1 o g 3 Jan 5 13:45 a";
    const std::string b = "-rw-r--r-- 1 o g 3 Jan 5 13:45 b";
    const std::string broken = "-rw-r--r-- 1 o g 3 Jan 5 13:45 line\nbreak";
    struct Case {
        std::string text;
        std::vector<std::string> names;
        std::string unparsed;
    };
    const Case cases[] = {
        {a + "\r\n" + broken + "\r\n" + b + "\r\n", {"a", "b"}, broken + "\r\n"},
        {broken + "\r\n" + a + "\r\n" + b, {"a", "b"}, broken + "\r\n"},  // before the first CR LF
        {a + "\r\n" + broken, {"a"}, broken + "\r\n"},                    // the last line, unended
        {a + "\n" + b + "\n", {"a", "b"}, ""},
        {a + "\n\n" + b, {"a", "b"}, ""},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, c.text.size()}) {
            ListingParser parser;
            for (std::size_t at = 0; at < c.text.size(); at += piece)
                parser.Feed(std::string_view(c.text).substr(at, piece));
            Listing listing = parser.Finish();
            std::vector<std::string> names;
            for (const auto& e : listing.Entries) names.push_back(e.Name);
            EXPECT_EQ(names, c.names) << c.text << " in pieces of " << piece;
            EXPECT_EQ(listing.UnparsedText, c.unparsed) << c.text;
        }
    }

    // an LF-ended listing longer than a line may be, before anything shows how its lines end
    std::string many;
    for (int i = 0; i < 2000; ++i) many += "-rw-r--r-- 1 o g 3 Jan 5 13:45 file" + std::to_string(i) + "\n";
    Listing listing = ParseListing(many);
    ASSERT_EQ(listing.Entries.size(), 2000u);
    EXPECT_EQ(listing.Entries[1999].Name, "file1999");
    EXPECT_EQ(listing.ListingFormat, kListingUnix);
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

struct FactsCase {
    const char* line;
    LineForm form;
    const char* name;
    const char* type;
    std::int64_t size;
    std::optional<std::int64_t> modified;
    const char* unique;
};

TEST(MlsdParser, Lines) {
    const FactsCase cases[] = {
        {"type=file;size=1234;modify=20240105134500;perm=r;unique=801g3; report 2024.txt", LineForm::Facts,
         "report 2024.txt", "F", 1234, 1704462300, "801g3"},
        {"Type=DIR;Sizd=4096;Modify=19991231235959; sub", LineForm::Facts, "sub", "D", 0, 946684799, ""},
        {"type=file;size=5;modify=20240105134500.123; fraction", LineForm::Facts, "fraction", "F", 5,
         1704462300, ""},
        // links, as the servers that say so write them
        {"modify=20230401102000;perm=adfrw;size=7;type=OS.unix=symlink;unique=fd01g4;UNIX.mode=0777; link",
         LineForm::Facts, "link", "L", 7, 1680344400, "fd01g4"},
        {"type=OS.unix=slink:/target dir;size=10; other link",
         LineForm::Facts,
         "other link",
         "L",
         10,
         {},
         ""},
        {"type=OS.unix=slink; no size", LineForm::Facts, "no size", "L", 0, {}, ""},
        {"type=OS.unix=chr-4/3;size=0; tty", LineForm::Facts, "tty", "F", 0, {}, ""},
        // the name is everything after the first "; ": blanks, semicolons and equals signs included
        {"type=file;size=3;  two blanks ", LineForm::Facts, " two blanks ", "F", 3, {}, ""},
        {"type=file;size=3; semi;colon=and blank", LineForm::Facts, "semi;colon=and blank", "F", 3, {}, ""},
        {"type=file;size=9223372036854775807; max", LineForm::Facts, "max", "F", 9223372036854775807, {}, ""},
        // a time that is no time leaves the entry without one
        {"type=file;size=5;modify=2024010513; short", LineForm::Facts, "short", "F", 5, {}, ""},
        {"type=file;size=5;modify=20230229120000; no leap year",
         LineForm::Facts,
         "no leap year",
         "F",
         5,
         {},
         ""},
        {"type=file;size=5;modify=20240105134500.; empty fraction",
         LineForm::Facts,
         "empty fraction",
         "F",
         5,
         {},
         ""},
        // the folder itself and its parent
        {"type=cdir;sizd=4096;modify=20240105134500; /pub", LineForm::Ignored, "", "", 0, {}, ""},
        {"type=pdir;modify=20240105134500; ..", LineForm::Ignored, "", "", 0, {}, ""},
        {"", LineForm::Ignored, "", "", 0, {}, ""},
        // lines that cannot be trusted
        {"type=file;size=99999999999999999999; huge", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;size=9223372036854775808; 2^63", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;size=-5; negative", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;size=; empty size", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;modify=20240105134500; file without a size", LineForm::Unreadable, "", "", 0, {}, ""},
        {"size=1; no type", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;type=dir;size=1; twice", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=weird;size=1; unknown type", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;size=1; ", LineForm::Unreadable, "", "", 0, {}, ""},
        {"type=file;size=1 x", LineForm::Unreadable, "", "", 0, {}, ""},
        {"=file;size=1; x", LineForm::Unreadable, "", "", 0, {}, ""},
        {" name only", LineForm::Unreadable, "", "", 0, {}, ""},
        {"-rw-r--r-- 1 o g 3 Jan 5 13:45 a LIST line", LineForm::Unreadable, "", "", 0, {}, ""},
    };
    for (const auto& c : cases) {
        ParsedLine parsed = ParseMlsdLine(c.line);
        EXPECT_EQ(parsed.form, c.form) << c.line;
        if (c.form != LineForm::Facts) continue;
        EXPECT_EQ(parsed.entry.Name, c.name) << c.line;
        EXPECT_EQ(parsed.entry.Type, c.type) << c.line;
        EXPECT_EQ(parsed.entry.Size, c.size) << c.line;
        EXPECT_EQ(parsed.entry.Modified, c.modified) << c.line;
        EXPECT_EQ(parsed.entry.Unique, c.unique) << c.line;
    }
}

TEST(MlsdParser, ListingVerdictAndBrokenLines) {
    Listing good =
        ParseMlsdListing("type=cdir;modify=20240105134500; .\r\ntype=file;size=3; a\r\ntype=dir; b c\r\n");
    EXPECT_EQ(good.ListingFormat, kListingFacts);
    ASSERT_EQ(good.Entries.size(), 2u);
    EXPECT_EQ(good.Entries[1].Name, "b c");

    Listing mixed = ParseMlsdListing("type=file;size=3; line\nbreak\r\ntype=file;size=3; a\r\n");
    EXPECT_EQ(mixed.ListingFormat, kListingUnparsed);
    ASSERT_EQ(mixed.Entries.size(), 1u);
    EXPECT_EQ(mixed.Entries[0].Name, "a");
    EXPECT_EQ(mixed.UnparsedText, "type=file;size=3; line\nbreak\r\n");
}

}  // namespace
}  // namespace klvr
