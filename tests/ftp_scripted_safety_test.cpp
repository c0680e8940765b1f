// Get against servers that send too little, too much, ignore a REST, or changed the file in between;
// local copies that must not be replaced; unfinished downloads that are resumed. Each case is one
// dialogue with the local folder before and after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/partial_file.h"

namespace klvr {
namespace {

using Files = std::map<std::string, std::string>;

const std::string kLogon = "> 220 ready\n< USER u\n> 331 pw\n< PASS p\n> 230 in\n< TYPE I\n> 200 ok\n";
constexpr std::int64_t kLongAgo = 946684800;  // 2000-01-01, the time of an aged local copy
const std::string kMdtmLongAgo = "< MDTM f.bin\n> 213 19991231000000\n";
const std::string kMdtmRecent = "< MDTM f.bin\n> 213 20240101000000\n";

std::int64_t Now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// The unfinished download of a 10-byte f.bin, begun just now, holding its first five bytes.
std::string Partial(const std::string& bytes = "01234", std::int64_t size = 10) {
    return bytes + PartialTrailer({size, std::nullopt, Now()}, static_cast<std::int64_t>(bytes.size()));
}

// A RETR of f.bin from offset (0: no REST) sending data.
std::string Retr(const std::string& data, std::int64_t offset = 0) {
    std::string d = "< EPSV\n> 229 ok ({epsv})\n";
    if (offset > 0) d += "< REST " + std::to_string(offset) + "\n> 350 Restarting\n";
    return d + "< RETR f.bin\n> 150 go\ndata " + data + "\ndata-close\n> 226 done\n";
}

// 3 MiB of a 64-byte pattern, more than a pipe holds.
const std::string kPattern = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
std::string RepeatedData() {
    std::string data;
    for (int i = 0; i < 49152; ++i) data += kPattern;
    return data;
}
std::string RetrRepeated() {
    return "< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n> 150 go\ndata-repeat 49152 " + kPattern +
           "\ndata-close\n> 226 done\n";
}

// Every file of the folder; a partial download shown as its bytes and "+trailer" when it has one.
Files Contents(const std::string& folder) {
    Files files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        std::string content = test::ReadFile(e.path());
        if (content.size() >= kPartialTrailerSize &&
            ReadPartialTrailer(content.substr(content.size() - kPartialTrailerSize),
                               static_cast<std::int64_t>(content.size())))
            content = content.substr(0, content.size() - kPartialTrailerSize) + "+trailer";
        files[e.path().filename()] = content;
    }
    return files;
}

TEST(ScriptedSafety, VerifiesResumesAndKeeps) {
    struct Case {
        const char* name;
        Files before;
        bool agedCopy;   // f.bin was written long ago
        bool overwrite;  // OverwriteExisting
        std::string dialogue;
        std::string failure;
        Files after;
        std::vector<std::string> warnings;
    };
    const std::string partial = ".f.bin.klvr-part";
    const Case cases[] = {
        {"too few bytes: the old file stays, what came waits hidden for the next attempt",
         {{"f.bin", "old"}},
         false,
         true,
         "< SIZE f.bin\n> 213 10\n" + Retr("abc"),
         "The download of [f.bin] is incomplete: only 3 of the 10 bytes the server announced arrived",
         {{"f.bin", "old"}, {partial, "abc+trailer"}},
         {}},
        {"too many bytes: refused before they reach the disk",
         {{"f.bin", "old"}},
         false,
         true,
         "< SIZE f.bin\n> 213 3\n" + Retr("abcdefghij"),
         "The server sent more than the 3 bytes it announced for [f.bin]",
         {{"f.bin", "old"}},
         {}},
        // Plain binary data moves into the file in the kernel, many pipe loads at a time, up to the
        // announced size; what comes beyond it is still refused.
        {"several MiB: whole",
         {{"f.bin", "old"}},
         false,
         true,
         "< SIZE f.bin\n> 213 3145728\n" + RetrRepeated(),
         "",
         {{"f.bin", RepeatedData()}},
         {}},
        {"several MiB, one byte more than announced: refused",
         {{"f.bin", "old"}},
         false,
         true,
         "< SIZE f.bin\n> 213 3145727\n" + RetrRepeated(),
         "The server sent more than the 3145727 bytes it announced for [f.bin]",
         {{"f.bin", "old"}},
         {}},
        {"the unfinished download of the same version goes on",
         {{partial, Partial()}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n" + kMdtmLongAgo + Retr("56789", 5),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"the remote file was regenerated since: afresh",
         {{partial, Partial()}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20991231000000\n" + Retr("ABCDEFGHIJ"),
         "",
         {{"f.bin", "ABCDEFGHIJ"}},
         {}},
        {"the remote file changed size since: afresh, without asking its time",
         {{partial, Partial()}},
         false,
         false,
         "< SIZE f.bin\n> 213 12\n" + Retr("0123456789ab"),
         "",
         {{"f.bin", "0123456789ab"}},
         {}},
        {"REST answered, yet the whole file sent: fetched again whole",
         {{partial, Partial()}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n" + kMdtmLongAgo + Retr("0123456789", 5) + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"REST refused: fetched whole",
         {{partial, Partial()}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n" + kMdtmLongAgo +
             "< EPSV\n> 229 ok ({epsv})\n< REST 5\n> 502 No REST here\n" + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"overwrite: a copy is replaced once the new file is complete",
         {{"f.bin", "the old copy"}},
         false,
         true,
         "< SIZE f.bin\n> 213 10\n" + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"keep: a complete copy is left alone",
         {{"f.bin", "0123456789"}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n",
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"keep: a larger copy stays",
         {{"f.bin", "0123456789 and more"}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n",
         "",
         {{"f.bin", "0123456789 and more"}},
         {"Local file kept [{out}/f.bin]: it is larger than the remote file"}},
        {"keep: a shorter copy of the same version is resumed",
         {{"f.bin", "01234"}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n" + kMdtmLongAgo + Retr("56789", 5),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"keep: a shorter copy of an older version stays",
         {{"f.bin", "01234"}},
         true,
         false,
         "< SIZE f.bin\n> 213 10\n" + kMdtmRecent,
         "",
         {{"f.bin", "01234"}},
         {"Local file kept [{out}/f.bin]: the remote file is newer"}},
        {"keep: REST ignored while resuming a copy: the copy is replaced only by the whole file",
         {{"f.bin", "01234"}},
         false,
         false,
         "< SIZE f.bin\n> 213 10\n" + kMdtmLongAgo + Retr("0123456789", 5) + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedFtpServer server(kLogon + c.dialogue);
        test::TempDir local;
        for (const auto& [name, content] : c.before) local.Write(name, content);
        if (c.agedCopy) {
            const timespec times[2] = {{kLongAgo, 0}, {kLongAgo, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (local / "f.bin").c_str(), times, 0), 0);
        }
        FtpClient client;
        client.Timeout = 5000;
        client.OverwriteExisting = c.overwrite;
        std::vector<std::string> warnings;
        client.OnErrorReported = [&](int code, const std::string& text) {
            EXPECT_EQ(code, kReportWarning) << text;
            warnings.push_back(text);
        };
        client.Login("127.0.0.1", "u", "p", "", server.Port());
        client.FileType = kFileImage;
        std::string failure;
        try {
            client.Get("f.bin", local / "f.bin");
        } catch (const FtpError& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(server.Finish(), "");
        EXPECT_EQ(Contents(local.Path()), c.after);
        std::vector<std::string> expected;
        for (std::string w : c.warnings) expected.push_back(w.replace(w.find("{out}"), 5, local.Path()));
        EXPECT_EQ(warnings, expected);
        EXPECT_EQ(client.State(), 2);
    }
}

// A server whose reply to RETR names the size SIZE gave: later fresh downloads of the session take the
// size from that reply and ask no SIZE, and are held to it just the same; a reply that names none brings
// SIZE back, after the transfer.
TEST(ScriptedSafety, SizeNamedInTheReplyToRetr) {
    auto retr = [](const std::string& name, const std::string& preliminary, const std::string& data) {
        return "< EPSV\n> 229 ok ({epsv})\n< RETR " + name + "\n> " + preliminary + "\ndata " + data +
               "\ndata-close\n> 226 done\n";
    };
    test::ScriptedFtpServer server(
        kLogon + "< SIZE a.bin\n> 213 10\n" + retr("a.bin", "150 Opening (10 bytes)", "0123456789") +
        retr("b.bin", "150 Opening (10 bytes)", "abc") +
        retr("c.bin", "150 Opening (3 bytes)", "abcdefghij") +
        retr("d.bin", "150 Opening (4 bytes)", "wxyz") + retr("e.bin", "150 go", "abc") +
        "< SIZE e.bin\n> 213 10\n" + retr("f.bin", "150 go", "0123456789") + "< SIZE f.bin\n> 213 10\n" +
        retr("g.bin", "150 Opening (3 bytes)", "abc") + "< SIZE g.bin\n> 213 10\n" +
        retr("h.bin", "150 Opening (4 bytes)", "wxyz") + "< SIZE h.bin\n> 213 4\n");
    test::TempDir local;
    FtpClient client;
    client.Timeout = 5000;
    client.Login("127.0.0.1", "u", "p", "", server.Port());
    client.FileType = kFileImage;
    auto get = [&](const std::string& name, std::optional<std::int64_t> listed = {}) -> std::string {
        try {
            client.Get(name, local / name, nullptr, {listed, std::nullopt});
        } catch (const FtpError& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(get("a.bin"), "");
    EXPECT_EQ(get("b.bin"),
              "The download of [b.bin] is incomplete: only 3 of the 10 bytes the server announced arrived");
    EXPECT_EQ(get("c.bin"), "The server sent more than the 3 bytes it announced for [c.bin]");
    EXPECT_EQ(get("d.bin"), "");
    EXPECT_EQ(get("e.bin"),
              "The download of [e.bin] is incomplete: only 3 of the 10 bytes the server announced arrived");
    EXPECT_EQ(get("f.bin"), "");
    // the listing said 10: a reply to RETR that names another size is checked with SIZE after the transfer
    EXPECT_EQ(get("g.bin", 10),
              "The download of [g.bin] is incomplete: only 3 of the 10 bytes the server announced arrived");
    EXPECT_EQ(get("h.bin", 10), "") << "the file changed since the listing";
    EXPECT_EQ(server.Finish(), "");
    // the short one waits, resumable, for the next attempt; the one of unknown size until the end does not
    EXPECT_EQ(Contents(local.Path()), (Files{{"a.bin", "0123456789"},
                                             {".b.bin.klvr-part", "abc+trailer"},
                                             {"d.bin", "wxyz"},
                                             {"f.bin", "0123456789"},
                                             {"h.bin", "wxyz"}}));
}

// With OverwriteExisting off, a file that appears under the name while its download runs stays; and a
// remote file named as an unfinished download is never stored, since that name is taken.
TEST(ScriptedSafety, NoFileIsReplacedThatAppearedMeanwhile) {
    test::ScriptedFtpServer server(kLogon +
                                   "< SIZE f.bin\n> 213 10\n< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n"
                                   "> 150 go\ndata 01234\nsleep 300\ndata 56789\ndata-close\n> 226 done\n");
    test::TempDir local;
    FtpClient client;
    client.Timeout = 5000;
    client.OverwriteExisting = false;
    std::vector<std::string> warnings;
    client.OnErrorReported = [&](int, const std::string& text) { warnings.push_back(text); };
    client.Login("127.0.0.1", "u", "p", "", server.Port());
    client.FileType = kFileImage;
    std::thread user([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::exists(local / ".f.bin.klvr-part") &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        local.Write("f.bin", "the user's own");
    });
    const FetchResult result = client.Get("f.bin", local / "f.bin");
    user.join();
    EXPECT_EQ(result.outcome, FetchOutcome::kKept);
    EXPECT_EQ(Contents(local.Path()), (Files{{"f.bin", "the user's own"}}));
    EXPECT_EQ(client.Get(".g.klvr-part", local / ".g.klvr-part").outcome, FetchOutcome::kKept);
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "Local file kept [" + local.Path() + "/f.bin]: it appeared while the download ran",
                  "Remote file passed over [.g.klvr-part]: its name is the form kept for unfinished "
                  "downloads"}));
    EXPECT_EQ(server.Finish(), "");
}

}  // namespace
}  // namespace klvr
