// Runs of the command where something goes wrong: a server that fails only the first time, a missing
// client certificate, a host stop during a pause, listings no real server produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "support/ftp_servers.h"
#include "support/log_capture.h"
#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "transfer/download_run.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetModuleState();
        moduleState().RetryPauseUnit = std::chrono::milliseconds(1);  // retries without their pauses
        capture = std::make_unique<test::LogCapture>();
    }
    void TearDown() override {
        capture.reset();
        ResetModuleState();
    }
    std::vector<std::string> Log() { return capture->LevelsAndMessages(); }
    std::string Expect(std::vector<std::string> lines) {
        for (auto& l : lines)
            for (auto at = l.find("{out}"); at != std::string::npos; at = l.find("{out}"))
                l.replace(at, 5, local.Path());
        return test::CompareLog(Log(), lines);
    }

    std::unique_ptr<test::LogCapture> capture;
    test::TempDir remote, local;
};

// A logon and a listing of "/" in the client's own order, with the listing's data given.
std::string ListingDialogue(const std::string& listingData) {
    std::string escaped;
    for (char c : listingData) {
        static constexpr char kHex[] = "0123456789abcdef";
        auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (byte >= 0x80) {
            escaped += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        } else {
            escaped += c;
        }
    }
    return R"(
> 220 ready
< USER u
> 331 password please
< PASS p
> 230 logged on
< CWD /
> 250 ok
< PWD
> 257 "/" is current
< EPSV
> 229 ok ({epsv})
< LIST
> 150 here it comes
data )" + escaped +
           R"(
data-close
> 226 done
)";
}

// Names no real file system can hold: none may become a local path, and none may count as an entry.
TEST_F(Faults, UnsafeRemoteNamesNeverBecomeLocalPaths) {
    test::ScriptedFtpServer server(ListingDialogue("drwxr-xr-x 2 u g 0 Jan 01 2026 .\r\n"
                                                   "drwxr-xr-x 2 u g 0 Jan 01 2026 ..\r\n"
                                                   "-rw-r--r-- 1 u g 4 Jan 01 2026 ../escape.txt\r\n"
                                                   "drwxr-xr-x 2 u g 0 Jan 01 2026 a/b\r\n"
                                                   "-rw-r--r-- 1 u g 2 Jan 01 2026 ok.txt\r\n") +
                                   R"(
< TYPE I
> 200 ok
< SIZE ok.txt
> 213 2
< EPSV
> 229 ok ({epsv})
< RETR ok.txt
> 150 here
data ok
data-close
> 226 done
< QUIT
> 221 bye
)");
    const std::string out = local / "out";
    std::filesystem::create_directory(out);
    Toolbox t;
    t.AutoLog(true);
    const SettingsArray data = test::RunCommand(server.Port(), "u", "p", out, {{"ProcessAll", "1"}});
    t.RunP("VAULTFETCH", data, data);
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(Expect({"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1",
                      "0 Connected, logged on as u", "0 Retrieving filelist ...",
                      "1 WARNING: Unsafe remote name skipped [a/b]",
                      "1 WARNING: Unsafe remote name skipped [../escape.txt]",
                      "0 Number of files & directories found: 1",
                      "0 Downloading [ok.txt] to [{out}/out/ok.txt] (2 Bytes) ...",
                      "0 Downloaded [ok.txt] <unknown> kBps", "0 Number of files downloaded : 1",
                      "0 Disconnecting from [127.0.0.1] ...", "0 Connection Closed"}),
              "");
    EXPECT_EQ(test::Snapshot(local.Path()), (std::map<std::string, std::string>{{"out/ok.txt", "ok"}}));
    EXPECT_FALSE(t.Error());
}

// The files of a listing fetched in the client's order: the transfer type once, then each file.
std::string FetchDialogue(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string dialogue = files.empty() ? "" : "< TYPE I\n> 200 ok\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& [name, content] = files[i];
        dialogue += "< SIZE " + name + "\n> 213 " + std::to_string(content.size()) + "\n";
        // the first file asks for its port; each later one takes the port asked for as the one
        // before it ended, before that transfer's final reply (which waits here until it is asked)
        if (i == 0) dialogue += "< EPSV\n> 229 ok ({epsv})\n";
        dialogue += "< RETR " + name + "\n> 150 here\ndata " + content + "\ndata-close\n";
        dialogue += i + 1 < files.size() ? "< EPSV\n> 226 done\n> 229 ok ({epsv})\n" : "> 226 done\n";
    }
    return dialogue + "< QUIT\n> 221 bye\n";
}

// Lines the client cannot read are reported and passed over; every line it can read counts, in the
// languages servers print their dates in.
TEST_F(Faults, ListingsWithUnreadableOrLocalisedLines) {
    using Fetched = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* name;
        std::string listing;
        Fetched fetched;
        std::vector<std::string> log;  // between "Retrieving filelist ..." and the count of downloads
    };
    const std::vector<std::string> block = {"1 Some non-UNIX or non-DOS listing were encountered.",
                                            "1 This plugin only supports UNIX and DOS listings.",
                                            "1 Here are some of the lines that failed:"};
    const Case cases[] = {
        {"no line readable",
         "Volume in drive C is DATA\r\nsomething else\r\n",
         {},
         {block[0], block[1], block[2], "1 Volume in drive C is DATA\\r\\nsomething else\\r\\n",
          "0 No files found."}},
        {"unreadable lines among readable ones",
         "-rw-r--r-- 1 u g 3 Jan 05 2026 a.txt\r\n"
         "-rw-r--r-- 1 u g 99999999999999999999 Jan 05 2026 huge.bin\r\n"
         "-rw-r--r-- 1 u g 2 Jan 05 2026 line\nbreak.txt\r\n"
         "-rw-r--r-- 1 u g 2 Jan 05 2026 b.txt\r\n",
         {{"a.txt", "abc"}, {"b.txt", "bb"}},
         {block[0], block[1], block[2],
          "1 -rw-r--r-- 1 u g 99999999999999999999 Jan 05 2026 huge.bin\\r\\n"
          "-rw-r--r-- 1 u g 2 Jan 05 2026 line\\nbreak.txt\\r\\n",
          "0 Number of files & directories found: 2", "0 Downloading [a.txt] to [{out}/a.txt] (3 Bytes) ...",
          "0 Downloaded [a.txt] <unknown> kBps", "0 Downloading [b.txt] to [{out}/b.txt] (2 Bytes) ...",
          "0 Downloaded [b.txt] <unknown> kBps"}},
        {"a localised listing",
         "-rw-r--r-- 1 u g 3 5. Okt 13:45 bericht.txt\r\n"
         "-rw-r--r-- 1 u g 2 f\xc3\xa9vr. 12  2023 fevrier.txt\r\n"
         "-rw-r--r-- 1 u g 4 dic 31  2019 viejo.txt\r\n",
         {{"bericht.txt", "abc"}, {"fevrier.txt", "fe"}, {"viejo.txt", "odds"}},
         {"0 Number of files & directories found: 3",
          "0 Downloading [bericht.txt] to [{out}/bericht.txt] (3 Bytes) ...",
          "0 Downloaded [bericht.txt] <unknown> kBps",
          "0 Downloading [fevrier.txt] to [{out}/fevrier.txt] (2 Bytes) ...",
          "0 Downloaded [fevrier.txt] <unknown> kBps",
          "0 Downloading [viejo.txt] to [{out}/viejo.txt] (4 Bytes) ...",
          "0 Downloaded [viejo.txt] <unknown> kBps"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir out;
        test::ScriptedFtpServer server(ListingDialogue(c.listing) + FetchDialogue(c.fetched));
        capture = std::make_unique<test::LogCapture>();
        Toolbox t;
        t.AutoLog(true);
        const SettingsArray data =
            test::RunCommand(server.Port(), "u", "p", out.Path(), {{"ProcessAll", "1"}});
        t.RunP("VAULTFETCH", data, data);
        EXPECT_EQ(server.Finish(), "");
        std::vector<std::string> log = {"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1",
                                        "0 Connected, logged on as u", "0 Retrieving filelist ..."};
        for (auto line : c.log) {
            if (auto at = line.find("{out}"); at != std::string::npos) line.replace(at, 5, out.Path());
            log.push_back(line);
        }
        log.insert(log.end(), {"0 Number of files downloaded : " + std::to_string(c.fetched.size()),
                               "0 Disconnecting from [127.0.0.1] ...", "0 Connection Closed"});
        EXPECT_EQ(test::CompareLog(Log(), log), "");
        std::map<std::string, std::string> files(c.fetched.begin(), c.fetched.end());
        EXPECT_EQ(test::Snapshot(out.Path()), files);
        EXPECT_FALSE(t.Error());
        ResetModuleState();
    }
}

// The folder appears on the server between the attempts: the second attempt succeeds.
TEST_F(Faults, ARetrySucceedsWhenTheServerFailsOnlyTheFirstTime) {
    test::PyFtpdOptions options;
    options.root = remote.Path();
    test::PyFtpdServer server(options);
    moduleState().downloadAttempt = [this](const SettingsArray& d, const SettingsArray& o) {
        if (moduleState().AttemptCounter == 2) remote.Write("late/late.txt", "on time\n");
        DownloadRun(d, o);
    };
    Toolbox t;
    t.AutoLog(true);
    const SettingsArray data = test::RunCommand(server.Port(), "user", "secret", local.Path(),
                                                {{"RemoteDir", "/late"}, {"RetryCount", "3"}});
    t.RunP("VAULTFETCH", data, data);
    EXPECT_EQ(
        Expect({"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1",
                "0 Connected, logged on as user",
                "2 ERROR_FTP-DOWNLOAD: Could not change-directory to [/late] [550 *", "1 WARNING: 550 *",
                "0 Connection Closed", "1 Retrying 2/3 .....", "0 Connecting with [127.0.0.1] ...",
                "0 Connected to: 127.0.0.1", "0 Connected, logged on as user", "0 Retrieving filelist ...",
                "0 Number of files & directories found: 1",
                "0 Downloading [late.txt] to [{out}/late.txt] (8 Bytes) ...",
                "0 Downloaded [late.txt] <unknown> kBps", "0 Number of files downloaded : 1",
                "0 Disconnecting from [127.0.0.1] ...", "0 Connection Closed"}),
        "");
    EXPECT_EQ(test::Snapshot(local.Path()), (std::map<std::string, std::string>{{"late.txt", "on time\n"}}));
    EXPECT_FALSE(t.Error());
}

// The server closes the session in the middle of a folder run: the attempt fails as a whole, and the
// retry reconnects, leaves the file already fetched alone, goes on with the interrupted one from where
// it stopped, and fetches the rest.
TEST_F(Faults, ALostConnectionInFolderModeIsRetriedAndResumed) {
    const std::string listing =
        "data -rw-r--r-- 1 u g 5 Jan 01 2026 a.bin\\r\\n"
        "-rw-r--r-- 1 u g 10 Jan 01 2026 b.bin\\r\\n"
        "-rw-r--r-- 1 u g 3 Jan 01 2026 c.bin\\r\\n\n";
    const std::string logonAndList = R"(
> 220 ready
< USER u
> 331 password please
< PASS p
> 230 logged on
< CWD /
> 250 ok
< PWD
> 257 "/" is current
< EPSV
> 229 ok ({epsv})
< LIST
> 150 here it comes
)" + listing + R"(data-close
> 226 done
< TYPE I
> 200 ok
< SIZE /a.bin
> 213 5
)";
    test::ScriptedFtpServer server(logonAndList + R"(< EPSV
> 229 ok ({epsv})
< RETR /a.bin
> 150 go
data abcde
data-close
> 226 done
< SIZE /b.bin
> 213 10
< EPSV
> 229 ok ({epsv})
< RETR /b.bin
> 150 go
data 01234
sleep 100
> 421 Service closing
close
accept
)" + logonAndList + R"(< SIZE /b.bin
> 213 10
< EPSV
> 229 ok ({epsv})
< RETR /b.bin
> 150 go
data 0123456789
data-close
> 226 done
< SIZE /c.bin
> 213 3
< EPSV
> 229 ok ({epsv})
< RETR /c.bin
> 150 go
data xyz
data-close
> 226 done
< QUIT
> 221 bye
)");
    Toolbox t;
    t.AutoLog(true);
    const SettingsArray data = test::RunCommand(server.Port(), "u", "p", local.Path(),
                                                {{"IncludeSubdirs", "1"}, {"RetryCount", "3"}});
    t.RunP("VAULTFETCH", data, data);
    EXPECT_EQ(server.Finish(), "");
    const std::vector<std::string> logon = {"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1",
                                            "0 Connected, logged on as u", "0 Retrieving filelist ..."};
    std::vector<std::string> log = logon;
    for (const std::string line :
         {"0 Downloading file [/a.bin] to [{out}/a.bin] (5 Bytes) ...",
          "0 Downloading file [/b.bin] to [{out}/b.bin] (10 Bytes) ...", "0 Connection Closed",
          "1 WARNING: 421 Service closing", "1 Retrying 2/3 ....."})
        log.push_back(line);
    log.insert(log.end(), logon.begin(), logon.end());
    for (const std::string line : {"0 Downloading file [/a.bin] to [{out}/a.bin] (5 Bytes) ...",
                                   "0 Downloading file [/b.bin] to [{out}/b.bin] (10 Bytes) ...",
                                   "0 Downloading file [/c.bin] to [{out}/c.bin] (3 Bytes) ...",
                                   "0 Disconnecting from [127.0.0.1] ...", "0 Connection Closed"})
        log.push_back(line);
    EXPECT_EQ(Expect(log), "");
    EXPECT_EQ(
        test::Snapshot(local.Path()),
        (std::map<std::string, std::string>{{"a.bin", "abcde"}, {"b.bin", "0123456789"}, {"c.bin", "xyz"}}));
    EXPECT_FALSE(t.Error());
}

// Right before a delete the server is asked again about the file, and a file replaced since it was
// fetched stays: by its time where the server gives one (MDTM, asked before the transfer when the
// listing gives no exact time, or MLST), else by its size. FTP has no conditional delete; the question
// narrows the window to the one round trip before DELE.
TEST_F(Faults, ADeleteAsksTheServerAgainAndKeepsAFileReplacedMeanwhile) {
    const std::string fetch =
        "< TYPE I\n> 200 ok\n< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20260101000000\n"
        "< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n> 150 go\ndata 0123456789\ndata-close\n> 226 done\n";
    const std::string changed =
        "1 WARNING: Remote file kept [f.bin]: it changed on the server since it was fetched";
    struct Case {
        const char* name;
        std::string afterFetch;  // the dialogue between the transfer and the end of the session
        std::string warning;     // "" when the file is deleted
    };
    const Case cases[] = {
        {"the same version: deleted",
         "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20260101000000\n< DELE f.bin\n> 250 gone\n", ""},
        {"replaced by a newer version of the same size",
         "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20260101000500\n", changed + " (its time differs)"},
        {"replaced by a version of another size",
         "< SIZE f.bin\n> 213 12\n< MDTM f.bin\n> 213 20260101000000\n", changed + " (its size differs)"},
        {"the server no longer answers: nothing contradicts the copy",
         "< SIZE f.bin\n> 550 no\n< MDTM f.bin\n> 550 no\n< DELE f.bin\n> 250 gone\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetModuleState();
        moduleState().RetryPauseUnit = std::chrono::milliseconds(1);
        capture = std::make_unique<test::LogCapture>();
        test::TempDir out;
        test::ScriptedFtpServer server(ListingDialogue("-rw-r--r-- 1 u g 10 Jan 01 2026 f.bin\r\n") + fetch +
                                       c.afterFetch + "< QUIT\n> 221 bye\n");
        Toolbox t;
        t.AutoLog(true);
        const SettingsArray data = test::RunCommand(server.Port(), "u", "p", out.Path(),
                                                    {{"ProcessAll", "1"}, {"DeleteAfterDownload", "1"}});
        t.RunP("VAULTFETCH", data, data);
        EXPECT_EQ(server.Finish(), "");
        EXPECT_EQ(test::Snapshot(out.Path()), (std::map<std::string, std::string>{{"f.bin", "0123456789"}}));
        const auto log = Log();
        const bool warned = std::find(log.begin(), log.end(), c.warning) != log.end();
        EXPECT_EQ(warned, !c.warning.empty());
        EXPECT_FALSE(t.Error());
    }
}

// A configured certificate the store no longer holds ends every attempt before it connects.
TEST_F(Faults, AMissingClientCertificateEndsEachAttemptAtOnce) {
    test::TestCertStores stores;
    const std::string reference = "MY:klvr Test CA:klvr Test Client:1:" + std::string(40, 'A');
    Toolbox t;
    t.AutoLog(true);
    const SettingsArray data =
        test::RunCommand(1, "u", "p", local.Path(),
                         {{"SecurityMode", "2"}, {"ClientCertificate", reference}, {"RetryCount", "2"}});
    t.RunP("VAULTFETCH", data, data);
    EXPECT_EQ(
        Expect({"2 ERROR: Could not find configured certificate [" + reference + "]", "1 Retrying 2/2 .....",
                "2 ERROR: Could not find configured certificate [" + reference + "]",
                "2 Retry-count exceeded, aborting....."}),
        "");
    EXPECT_TRUE(t.Error());
}

// A security mode the dialog never writes is refused before anything is sent, like an unknown protocol;
// it never falls back to plain FTP and a password in clear.
TEST_F(Faults, AnUnknownSecurityModeIsRefusedBeforeConnecting) {
    for (const std::string mode : {"9", "-1"}) {
        SCOPED_TRACE(mode);
        capture->Clear();
        test::ScriptedFtpServer server("> 220 ready\n> 234 TLS offered\n");
        Toolbox t;
        t.AutoLog(true);
        const SettingsArray data = test::RunCommand(server.Port(), "u", "p", local.Path(),
                                                    {{"SecurityMode", mode}, {"RetryCount", "2"}});
        t.RunP("VAULTFETCH", data, data);
        const std::string refusal = "Unknown SecurityMode " + mode + "; use 0 (Implicit Normal) to 8 (None)";
        EXPECT_EQ(Expect({"1 WARNING: " + refusal, "1 Retrying 2/2 .....", "2 ERROR_FTP-DOWNLOAD: " + refusal,
                          "2 Retry-count exceeded, aborting....."}),
                  "");
        EXPECT_TRUE(t.Error());
        EXPECT_TRUE(server.Commands().empty());
    }
}

// The host's stop arrives from another thread while the run pauses after a file: the run ends there as
// a stop during a transfer ends it. The next file is never asked for, no further attempt starts, and
// what was fetched stays.
TEST_F(Faults, AHostStopDuringThePauseEndsTheRunBeforeTheNextFile) {
    remote.Write("f1.txt", "one\n");
    remote.Write("f2.txt", "two\n");
    remote.Write("f3.txt", "three\n");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    test::PyFtpdServer server(options);
    Toolbox t;
    t.AutoLog(true);
    std::atomic<bool> done{false};
    std::thread host([&] {
        auto downloaded = [&] {
            const auto lines = capture->Messages();
            return std::find(lines.begin(), lines.end(), "Downloaded [f1.txt] <unknown> kBps") != lines.end();
        };
        while (!done && !downloaded()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // the pause after the file lasts 250 ms
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        t.Abort();
    });
    const SettingsArray data = test::RunCommand(server.Port(), "user", "secret", local.Path(),
                                                {{"ProcessAll", "1"}, {"RetryCount", "2"}});
    t.RunP("VAULTFETCH", data, data);
    done = true;
    host.join();
    EXPECT_EQ(test::Snapshot(local.Path()), (std::map<std::string, std::string>{{"f1.txt", "one\n"}}));
    EXPECT_TRUE(t.Error());
    EXPECT_EQ(Expect({"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1",
                      "0 Connected, logged on as user", "0 Retrieving filelist ...",
                      "0 Number of files & directories found: 3",
                      "0 Downloading [f1.txt] to [{out}/f1.txt] (4 Bytes) ...",
                      "0 Downloaded [f1.txt] <unknown> kBps", "0 Connection Closed",
                      "2 ERROR_FTP-DOWNLOAD: Aborted", "2 Retry-count exceeded, aborting....."}),
              "");
    // the server logs every file it sent or began to send
    EXPECT_NE(server.Log().find("RETR " + remote.Path() + "/f1.txt"), std::string::npos) << server.Log();
    EXPECT_EQ(server.Log().find("f2.txt"), std::string::npos) << server.Log();
}

// A port below 1 is a setting gone wrong: the attempt fails naming it, and nothing is dialled.
TEST_F(Faults, APortBelowOneIsAnErrorNamingTheSetting) {
    for (const std::string port : {"0", "-1"}) {
        capture->Clear();
        Toolbox t;
        t.AutoLog(true);
        const SettingsArray data = test::RunCommand(21, "u", "p", local.Path(), {{"RemotePort", port}});
        t.RunP("VAULTFETCH", data, data);
        EXPECT_TRUE(t.Error());
        EXPECT_EQ(Expect({"0 Connecting with [127.0.0.1] ...",
                          "2 ERROR_FTP-DOWNLOAD: Could not login! [RemotePort " + port +
                              " is not a port number; it must be 1 or more]",
                          "2 ERROR_FTP-DOWNLOAD: RemotePort " + port +
                              " is not a port number; it must be 1 or more",
                          "2 Retry-count exceeded, aborting....."}),
                  "")
            << port;
    }
}

}  // namespace
}  // namespace klvr
