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
#include "transfer/ftp/file_evidence.h"
#include "transfer/ftp/partial_file.h"

namespace klvr {
namespace {

using Files = std::map<std::string, std::string>;

const std::string kLogon = "> 220 ready\n< USER u\n> 331 pw\n< PASS p\n> 230 in\n< TYPE I\n> 200 ok\n";

std::int64_t Now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// A RETR of f.bin from offset (0: no REST) sending data.
std::string Retr(const std::string& data, std::int64_t offset = 0) {
    std::string d = "< EPSV\n> 229 ok ({epsv})\n";
    if (offset > 0) d += "< REST " + std::to_string(offset) + "\n> 350 Restarting\n";
    return d + "< RETR f.bin\n> 150 go\ndata " + data + "\ndata-close\n> 226 done\n";
}

// 3 MiB of a 64-byte pattern, more than a pipe holds.
const std::string kPattern = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
std::string Repeated(int times) {
    std::string data;
    for (int i = 0; i < times; ++i) data += kPattern;
    return data;
}
std::string RepeatedData() {
    return Repeated(49152);
}
// A RETR of f.bin sending the pattern times times, from offset (0: no REST); with offer set, the client
// may stop reading before the end.
std::string RetrRepeated(int times = 49152, std::int64_t offset = 0, bool offer = false) {
    std::string d = "< EPSV\n> 229 ok ({epsv})\n";
    if (offset > 0) d += "< REST " + std::to_string(offset) + "\n> 350 Restarting\n";
    return d + "< RETR f.bin\n> 150 go\n" + (offer ? "data-offer " : "data-repeat ") + std::to_string(times) +
           " " + kPattern + "\ndata-close\n> 226 done\n";
}

// An 80000-byte file of the pattern, of which an unfinished download or a shorter copy holds the first
// 69632 bytes: a resumed transfer starts 64 KiB before their end, at 4096. The pattern repeats every 64
// bytes, so a server that ignores the restart sends bytes that match the ones compared.
const std::string kLong = Repeated(1250);
const std::string kLongHeld = Repeated(1088);

// Long contents by name, so that a difference stays readable.
std::string Shown(const std::string& content) {
    if (content == kLong) return "{long}";
    if (content == kLongHeld) return "{long held}";
    if (content == RepeatedData()) return "{3 MiB}";
    if (content.size() > 100) return "{" + std::to_string(content.size()) + " other bytes}";
    return content;
}

// Every file of the folder; a partial download shown as its bytes and "+trailer" when it has one.
Files Contents(const std::string& folder) {
    Files files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        std::string content = test::ReadFile(e.path());
        if (content.size() >= kPartialTrailerSize &&
            ReadPartialTrailer(content.substr(content.size() - kPartialTrailerSize),
                               static_cast<std::int64_t>(content.size())))
            content = Shown(content.substr(0, content.size() - kPartialTrailerSize)) + "+trailer";
        else
            content = Shown(content);
        files[e.path().filename()] = content;
    }
    return files;
}

// The unfinished download of f.bin, as this client leaves it for the scripted server at port.
struct Partial {
    std::string bytes;
    std::int64_t size;
    std::optional<std::int64_t> modified;
    std::string For(std::uint16_t port) const {
        const PartialVersion version{OriginDigest("127.0.0.1", port, "u", "f.bin"), size, modified, Now()};
        return bytes + PartialTrailer(version, static_cast<std::int64_t>(bytes.size()));
    }
};

TEST(ScriptedSafety, ResumesOnlyWhatItsBytesProveAndKeepsTheRest) {
    struct Case {
        const char* name;
        std::optional<Partial> partial;
        std::optional<std::string> copy;  // f.bin before
        bool overwrite;                   // OverwriteExisting
        std::string dialogue;
        std::string failure;
        Files after;
        std::vector<std::string> warnings;
    };
    const std::string partial = ".f.bin.klvr-part";
    const std::string discarded =
        "Unfinished download discarded [{out}/f.bin]: the bytes held differ from the remote file's";
    const Case cases[] = {
        {"too few bytes: the old file stays, what came waits hidden for the next attempt",
         {},
         "old",
         true,
         "< SIZE f.bin\n> 213 10\n" + Retr("abc"),
         "The download of [f.bin] is incomplete: only 3 of the 10 bytes the server announced arrived",
         {{"f.bin", "old"}, {partial, "abc+trailer"}},
         {}},
        {"too many bytes: refused before they reach the disk",
         {},
         "old",
         true,
         "< SIZE f.bin\n> 213 3\n" + Retr("abcdefghij"),
         "The server sent more than the 3 bytes it announced for [f.bin]",
         {{"f.bin", "old"}},
         {}},
        // Plain binary data moves into the file in the kernel, many pipe loads at a time, up to the
        // announced size; what comes beyond it is still refused.
        {"several MiB: whole",
         {},
         "old",
         true,
         "< SIZE f.bin\n> 213 3145728\n" + RetrRepeated(),
         "",
         {{"f.bin", "{3 MiB}"}},
         {}},
        {"several MiB, one byte more than announced: refused",
         {},
         "old",
         true,
         "< SIZE f.bin\n> 213 3145727\n" + RetrRepeated(),
         "The server sent more than the 3145727 bytes it announced for [f.bin]",
         {{"f.bin", "old"}},
         {}},
        // An unfinished download goes on once the bytes it holds were met again; a short one is compared
        // whole, a long one over its last 64 KiB, and the server's times are never compared with ours.
        {"a short unfinished download: compared whole, then gone on with",
         Partial{"01234", 10, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 10\n" + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"a long unfinished download: restarted 64 KiB before its end",
         Partial{kLongHeld, 80000, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 80000\n" + RetrRepeated(1250 - 64, 4096),
         "",
         {{"f.bin", "{long}"}},
         {}},
        {"another version of the same size, no time to tell: its bytes tell, afresh",
         Partial{"AAAAA", 10, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 10\n" + Retr("BBBBBBBBBB") + Retr("BBBBBBBBBB"),
         "",
         {{"f.bin", "BBBBBBBBBB"}},
         {discarded}},
        {"the server names another time than the download began with: afresh",
         Partial{"01234", 10, 1700000000},
         {},
         false,
         "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20991231000000\n" + Retr("ABCDEFGHIJ"),
         "",
         {{"f.bin", "ABCDEFGHIJ"}},
         {}},
        {"the same time: gone on with",
         Partial{"01234", 10, 1700000000},
         {},
         false,
         "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20231114221320\n" + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"the remote file changed size since: afresh",
         Partial{"01234", 10, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 12\n" + Retr("0123456789ab"),
         "",
         {{"f.bin", "0123456789ab"}},
         {}},
        {"REST answered, yet the whole file sent: the repeating bytes pass the comparison, the excess does "
         "not; compared whole",
         Partial{kLongHeld, 80000, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 80000\n" + RetrRepeated(1250, 4096, true) + RetrRepeated(1250),
         "",
         {{"f.bin", "{long}"}},
         {}},
        {"REST answered, the file sent from its start and cut: nothing unproven is kept",
         Partial{kLongHeld, 80000, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 80000\n< EPSV\n> 229 ok ({epsv})\n< REST 4096\n> 350 Restarting\n< RETR f.bin\n"
         "> 150 go\ndata " +
             Repeated(5) + "\ndata-close\n> 426 cut\n",
         "426 cut",
         {{partial, "{long held}+trailer"}},
         {}},
        {"more than announced from the file's start, while resuming: refused, not retried",
         Partial{"01234", 10, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 10\n" + Retr("0123456789ab"),
         "The server sent more than the 10 bytes it announced for [f.bin]",
         {},
         {}},
        {"REST refused: compared whole",
         Partial{kLongHeld, 80000, {}},
         {},
         false,
         "< SIZE f.bin\n> 213 80000\n< EPSV\n> 229 ok ({epsv})\n< REST 4096\n> 502 No REST here\n" +
             RetrRepeated(1250),
         "",
         {{"f.bin", "{long}"}},
         {}},
        {"overwrite: a copy is replaced once the new file is complete",
         {},
         "the old copy",
         true,
         "< SIZE f.bin\n> 213 10\n" + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        // OverwriteExisting off: the file under the final name is the user's unless its bytes prove it an
        // unfinished copy of the remote file.
        {"keep: a copy of the same size is left alone",
         {},
         "0123456789",
         false,
         "< SIZE f.bin\n> 213 10\n",
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"keep: a larger copy stays",
         {},
         "0123456789 and more",
         false,
         "< SIZE f.bin\n> 213 10\n",
         "",
         {{"f.bin", "0123456789 and more"}},
         {"Local file kept [{out}/f.bin]: it is larger than the remote file"}},
        {"keep: a shorter copy that begins the remote file is completed",
         {},
         "01234",
         false,
         "< SIZE f.bin\n> 213 10\n" + Retr("0123456789"),
         "",
         {{"f.bin", "0123456789"}},
         {}},
        {"keep: a shorter copy of other bytes is the user's and stays",
         {},
         "user!",
         false,
         "< SIZE f.bin\n> 213 10\n" + Retr("0123456789"),
         "",
         {{"f.bin", "user!"}},
         {"Local file kept [{out}/f.bin]: it is not the beginning of the remote file"}},
        {"keep: a long shorter copy, REST ignored: compared whole before the copy is replaced",
         {},
         kLongHeld,
         false,
         "< SIZE f.bin\n> 213 80000\n" + RetrRepeated(1250, 4096, true) + RetrRepeated(1250),
         "",
         {{"f.bin", "{long}"}},
         {}},
        {"keep: a cut while completing a copy leaves the copy as it was",
         {},
         "01234",
         false,
         "< SIZE f.bin\n> 213 10\n< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n> 150 go\ndata 0123456\n"
         "data-close\nsleep 200\n> 426 cut\n",
         "426 cut",
         {{"f.bin", "01234"}, {partial, "0123456+trailer"}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedFtpServer server(kLogon + c.dialogue);
        test::TempDir local;
        if (c.partial) local.Write(partial, c.partial->For(server.Port()));
        if (c.copy) local.Write("f.bin", *c.copy);
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
