// The host program's own parts, alone: the netrc reader, the live progress line, JSON error positions,
// the option parser, the command file's writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command_file.h"
#include "cli/json_file.h"
#include "cli/netrc.h"
#include "cli/options.h"
#include "cli/progress_line.h"

namespace klvr::cli {
namespace {

TEST(Netrc, EntriesAreFoundByHostThenLogin) {
    const std::string text =
        "# a comment line\n"
        "machine ftp.example.test login alice password first\n"
        "machine FTP.example.test\n  login bob\n  password \"with blank \\\"quoted\\\"\"\n"
        "macdef init\ncd /pub\nbinary\n\n"
        "machine other.test login carol account x password third\n"
        "default login anonymous password guest@\n";
    const auto entries = ParseNetrc(text);
    ASSERT_EQ(entries.size(), 4u);
    struct Case {
        const char* host;
        const char* user;
        const char* login;  // nullptr: no entry
        const char* password;
    };
    const Case cases[] = {
        {"ftp.example.test", "", "alice", "first"},  // the first entry for the host
        {"ftp.example.test", "bob", "bob", "with blank \"quoted\""},
        {"Ftp.Example.Test", "alice", "alice", "first"},  // host names ignore case
        {"other.test", "", "carol", "third"},
        {"ftp.example.test", "dave", nullptr, nullptr},  // no such login there, and default is another's
        {"unknown.test", "", "anonymous", "guest@"},
        {"unknown.test", "anonymous", "anonymous", "guest@"},
    };
    for (const auto& c : cases) {
        const auto entry = FindNetrcEntry(entries, c.host, c.user);
        if (!c.login) {
            EXPECT_FALSE(entry) << c.host << " " << c.user;
            continue;
        }
        ASSERT_TRUE(entry) << c.host << " " << c.user;
        EXPECT_EQ(entry->login.value_or(""), c.login) << c.host << " " << c.user;
        EXPECT_EQ(entry->password.value_or(""), c.password) << c.host << " " << c.user;
    }
    // an entry without a login gives its password to any user of that machine
    const auto bare = ParseNetrc("machine h password p");
    ASSERT_TRUE(FindNetrcEntry(bare, "h", "someone"));
    EXPECT_FALSE(FindNetrcEntry(bare, "h", "someone")->login);
}

TEST(Netrc, TextThatCannotBeReadIsRefused) {
    for (const char* text : {"login alice", "machine", "machine h password \"open", "machine h colour red"})
        EXPECT_THROW(ParseNetrc(text), NetrcError) << text;
    EXPECT_TRUE(ParseNetrc("").empty());
    EXPECT_TRUE(ParseNetrc("macdef only\nnever machine x\n").empty());
}

TEST(ProgressLine, ShowsTheFiguresAndGivesTheNameTheRestOfTheWidth) {
    const double mib = 1024.0 * 1024.0;
    struct Case {
        ProgressFigures figures;
        std::size_t width;
        const char* line;
    };
    const Case cases[] = {
        {{"report.csv", 12 * 1024 * 1024 + 300 * 1024, 200 * 1024 * 1024, 21.4 * mib},
         80,
         "report.csv  12.3 MiB / 200.0 MiB  6%  21.4 MiB/s  0:09 left"},
        {{"a.bin", 512, 2048, std::nullopt}, 80, "a.bin  512 B / 2.0 KiB  25%"},  // no rate yet
        {{"a.bin", 3000, 0, 1000.0}, 80, "a.bin  2.9 KiB  1000 B/s"},             // size not announced
        {{"big.iso", 0, 4LL << 30, 1024.0}, 80, "big.iso  0 B / 4.0 GiB  0%  1.0 KiB/s  1165:05:04 left"},
        {{"a-very-long-file-name.tar.gz", 1024, 2048, std::nullopt},
         40,
         "...-name.tar.gz  1.0 KiB / 2.0 KiB  50%"},
        {{"xx\xc3\xa9t\xc3\xa9-report.pdf", 1024, 2048, std::nullopt},
         40,
         "...\xc3\xa9-report.pdf  1.0 KiB / 2.0 KiB  50%"},  // cut between characters, not inside one
    };
    for (const auto& c : cases) EXPECT_EQ(ProgressLine(c.figures, c.width), c.line) << c.figures.name;
}

TEST(ProgressLine, TheRateFollowsTheLastSeconds) {
    RateMeter meter;
    const auto start = RateMeter::Clock::now();
    EXPECT_FALSE(meter.BytesPerSecond());
    meter.Add(start, 0);
    EXPECT_FALSE(meter.BytesPerSecond());
    // a fast start, then 1000 bytes a second for ten seconds: the rate is the recent one
    meter.Add(start + std::chrono::seconds(1), 1'000'000);
    for (int s = 2; s <= 11; ++s) meter.Add(start + std::chrono::seconds(s), 1'000'000 + (s - 1) * 1000);
    ASSERT_TRUE(meter.BytesPerSecond());
    EXPECT_NEAR(*meter.BytesPerSecond(), 1000.0, 1.0);
}

TEST(JsonFile, PositionsCountLinesAndCharacters) {
    const std::string text = "{\n  \"\xc3\xa9\": tru\n}";
    struct Case {
        std::size_t offset;
        std::size_t line, column;
    };
    const Case cases[] = {{0, 1, 1}, {1, 1, 2}, {2, 2, 1}, {10, 2, 8}, {14, 3, 1}, {99, 3, 2}};
    for (const auto& c : cases) {
        const TextPosition at = PositionOf(text, c.offset);
        EXPECT_EQ(at.line, c.line) << c.offset;
        EXPECT_EQ(at.column, c.column) << c.offset;
    }
}

const std::vector<OptionSpec> kRunLike = {
    {"instance", 0, true}, {"no-daemon", 0, false}, {"quiet", 'q', false}, {"password-file", 0, true}};

TEST(Options, BothLongFormsShortOnesAndOperandsAnywhere) {
    struct Case {
        std::vector<std::string> args;
        std::string instance, passwordFile;
        bool quiet, noDaemon, help;
        std::vector<std::string> operands;
    };
    const Case cases[] = {
        {{"cmd.json", "--instance", "a", "--password-file=/p=q"},
         "a",
         "/p=q",
         false,
         false,
         false,
         {"cmd.json"}},
        {{"--instance=", "-q", "cmd.json", "--no-daemon"}, "", "", true, true, false, {"cmd.json"}},
        {{"--inst=b", "--instance", "c", "cmd.json"}, "c", "", false, false, false, {"cmd.json"}},
        {{"--", "--instance"}, "", "", false, false, false, {"--instance"}},
        {{"-h", "extra", "operands"}, "", "", false, false, true, {"extra", "operands"}},
        {{"--help"}, "", "", false, false, true, {}},
    };
    for (const auto& c : cases) {
        const ParsedOptions p = ParseOptions("run", c.args, kRunLike, 1);
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(p.Value("instance"), c.instance);
        EXPECT_EQ(p.Value("password-file"), c.passwordFile);
        EXPECT_EQ(p.Has("quiet"), c.quiet);
        EXPECT_EQ(p.Has("no-daemon"), c.noDaemon);
        EXPECT_EQ(p.help, c.help);
        EXPECT_EQ(p.operands, c.operands);
    }
    // a sub-command's own options are not the program's
    const ParsedOptions global =
        ParseOptions("", {"--plugin=lib.so", "run", "cmd.json", "-q"}, {{"plugin", 0, true}}, 0, true);
    EXPECT_EQ(global.Value("plugin"), "lib.so");
    EXPECT_EQ(global.operands, (std::vector<std::string>{"run", "cmd.json", "-q"}));
}

TEST(Options, ACommandLineThatDoesNotFitIsRefusedWithItsReason) {
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const Case cases[] = {
        {{"--colour", "x"}, "unknown or ambiguous option --colour"},
        {{"--colour=red"}, "unknown or ambiguous option --colour"},
        {{"-x"}, "unknown option -x"},
        {{"cmd.json", "--instance"}, "--instance needs a value"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"a.json", "b.json"}, "unexpected argument \"b.json\""},
    };
    for (const auto& c : cases) {
        try {
            ParseOptions("run", c.args, kRunLike, 1);
            ADD_FAILURE() << c.reason;
        } catch (const OptionError& e) {
            EXPECT_EQ(std::string(e.what()), c.reason);
        }
    }
    EXPECT_EQ(UsageLines("usage: a\n       b\n\nmore\n"), "usage: a\n       b\n");
}

// configure writes the saved settings back in the order the user keeps the file in, new members last.
TEST(CommandFile, SavingKeepsTheMembersWhereTheFileHasThem) {
    const auto path = std::filesystem::temp_directory_path() / ("klvr-order-" + std::to_string(::getpid()));
    std::ofstream(path)
        << R"({"UserName": "u", "RemoteHost": "h", "LocalDir": "/in", "DeleteAfterDownload": ""})";
    const CommandFile read = ReadCommandFile(path.string());
    abi::StringArray saved = read.data;
    saved.values[1] = "bob";
    WriteCommandFile(path.string(), saved);
    const auto written = ReadJsonFile(path.string(), "command file");
    std::filesystem::remove(path);

    std::vector<std::string> names;
    for (const auto& [name, value] : written.items()) names.push_back(name);
    ASSERT_EQ(names.size(), 35u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 4),
              (std::vector<std::string>{"UserName", "RemoteHost", "LocalDir", "DeleteAfterDownload"}));
    EXPECT_EQ(written["UserName"], "bob");
    EXPECT_EQ(written["DeleteAfterDownload"], "0");  // what the run used, not the empty text
}

}  // namespace
}  // namespace klvr::cli
