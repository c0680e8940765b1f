// The client against a scripted server: the faults real servers cannot be made to show.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

const std::string kLogon = R"(
> 220-Scripted server
> 220 ready
< USER u
> 331 Password please
< PASS p
> 230-Welcome
> 230 Logged on
)";

struct Session {
    explicit Session(const std::string& afterLogon) : server(kLogon + afterLogon) {
        client.Timeout = 5000;
        client.OnErrorReported = [this](int, const std::string& text) { reported.push_back(text); };
        client.OnStateChanged = [this] { states.push_back(client.State()); };
    }
    void Login() { client.Login("127.0.0.1", "u", "p", "", server.Port()); }
    // The failure text of body, "" when it succeeded.
    template <class Body>
    std::string Failure(Body body) {
        try {
            body();
        } catch (const FtpError& e) {
            return e.what();
        }
        return "";
    }
    // Files in the folder apart from the expected ones (left-over temporary files).
    static std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::ScriptedFtpServer server;
    FtpClient client;
    std::vector<std::string> reported;
    std::vector<int> states;
    TempDir local;
};

// A refusal at any step raises the server's own reply text; the session survives it unless it was
// the logon or the server closed it.
TEST(ScriptedFailures, EachStepRaisesTheServersReply) {
    struct Case {
        const char* name;
        std::string dialogue;
        std::function<void(FtpClient&, const std::string& local)> action;
        std::string message;
        int stateAfter;
    };
    auto list = [](FtpClient& c, const std::string&) { c.List(); };
    auto get = [](FtpClient& c, const std::string& local) {
        c.FileType = kFileImage;
        c.Get("f.bin", local + "/f.bin");
    };
    const Case cases[] = {
        {"CWD", "< CWD /x\n> 550 /x: No such directory",
         [](FtpClient& c, auto&) { c.SetServerDirectory("/x"); }, "550 /x: No such directory", 2},
        {"PWD", "< PWD\n> 500 PWD not understood", [](FtpClient& c, auto&) { c.ServerDirectory(); },
         "500 PWD not understood", 2},
        {"DELE", "< DELE f\n> 550 Permission denied", [](FtpClient& c, auto&) { c.Delete("f"); },
         "550 Permission denied", 2},
        {"EPSV 4xx", "< EPSV\n> 425 Cannot open passive connection", list,
         "425 Cannot open passive connection", 2},
        {"PASV", "< EPSV\n> 500 EPSV?\n< PASV\n> 425 No passive port", list, "425 No passive port", 2},
        {"LIST", "< EPSV\n> 229 ok ({epsv})\n< LIST\n> 550 No listing", list, "550 No listing", 2},
        {"TYPE", "< TYPE I\n> 504 No binary here", get, "504 No binary here", 2},
        {"RETR",
         "< TYPE I\n> 200 ok\n< SIZE f.bin\n> 550 no\n< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n> 550 Gone",
         get, "550 Gone", 2},
        // RETR is on its way while the data connection is made: a server that took it waits for that
        // connection, so its failure ends the session
        {"data connection refused",
         "< TYPE I\n> 200 ok\n< SIZE f.bin\n> 213 3\n< EPSV\n> 229 ok (|||1|)\n< RETR f.bin\nhang", get,
         "Cannot connect to 127.0.0.1 port 1: Connection refused", 0},
        {"final reply",
         "< TYPE I\n> 200 ok\n< SIZE f.bin\n> 213 3\n< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n"
         "> 150 go\ndata abc\ndata-close\n> 451 Local error in processing",
         get, "451 Local error in processing", 2},
        {"421 in a reply", "< CWD /x\n> 421 Service closing\nclose",
         [](FtpClient& c, auto&) { c.SetServerDirectory("/x"); }, "421 Service closing", 0},
        {"421 mid-transfer",
         "< EPSV\n> 229 ok ({epsv})\n< LIST\n> 150 Here it comes\n> 421 Shutting down\nclose", list,
         "421 Shutting down", 0},
        {"421 while idle", "< CWD /x\n>| 250 ok\\r\\n421 Idle time-out\\r\\n\nhang",
         [](FtpClient& c, auto&) {
             c.SetServerDirectory("/x");
             c.ServerDirectory();  // the stray 421 is not taken for PWD's answer
         },
         "421 Idle time-out", 0},
        {"unreadable reply", "< PWD\n> hello there", [](FtpClient& c, auto&) { c.ServerDirectory(); },
         "The server sent an unreadable reply: hello there", 0},
        {"closed", "< PWD\nclose", [](FtpClient& c, auto&) { c.ServerDirectory(); },
         "The server closed the connection", 0},
    };
    for (const auto& c : cases) {
        Session s(c.dialogue);
        s.Login();
        EXPECT_EQ(s.Failure([&] { c.action(s.client, s.local.Path()); }), c.message) << c.name;
        EXPECT_EQ(s.client.State(), c.stateAfter) << c.name;
        EXPECT_EQ(s.server.Finish(), "") << c.name;
        EXPECT_EQ(Session::Files(s.local.Path()), std::vector<std::string>{}) << c.name;
    }
}

TEST(ScriptedFailures, LogonRefusalsCloseTheSession) {
    struct Case {
        std::string dialogue;
        std::string message;
    };
    const Case cases[] = {
        {"> 421 Too many users\nclose", "421 Too many users"},
        {"> 554 Go away", "554 Go away"},
        {"> 220 hi\n< USER u\n> 530 Not you", "530 Not you"},
        {"> 220 hi\n< USER u\n> 331 pw\n< PASS p\n> 530 Login incorrect", "530 Login incorrect"},
        {"> 220 hi\n< USER u\n> 331 pw\n< PASS p\n> 332 Need account", "332 Need account"},
    };
    for (const auto& c : cases) {
        test::ScriptedFtpServer server(c.dialogue);
        FtpClient client;
        std::vector<int> states;
        client.OnStateChanged = [&] { states.push_back(client.State()); };
        try {
            client.Login("127.0.0.1", "u", "p", "", server.Port());
            ADD_FAILURE() << c.message;
        } catch (const FtpError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(client.State(), 0);
        EXPECT_EQ(states, (std::vector<int>{2, 0})) << c.message;
        EXPECT_EQ(server.Finish(), "") << c.message;
    }
}

// A reply nobody asked for is not taken for the answer to the next command.
TEST(ScriptedSession, StrayRepliesAreNotMistakenForAnswers) {
    Session s("< CWD /x\n>| 250 ok\\r\\n226 Stray\\r\\n\n< PWD\n> 257 \"/x\"\n");
    s.Login();
    s.client.SetServerDirectory("/x");
    EXPECT_EQ(s.client.ServerDirectory(), "/x");
    EXPECT_EQ(s.server.Finish(), "");
}

TEST(ScriptedSession, AccountAndGreetingDelays) {
    test::ScriptedFtpServer server(
        "> 120 Wait a moment\n> 220 ready\n< USER u\n> 331 pw\n< PASS p\n> 332 account?\n< ACCT acc\n> 230 "
        "in\n");
    FtpClient client;
    client.Login("127.0.0.1", "u", "p", "acc", server.Port());
    EXPECT_EQ(client.State(), 2);
    EXPECT_EQ(server.Finish(), "");
}

// A data connection lost in the middle of a file: the failure carries the server's verdict, the local
// file that was there before is neither truncated nor replaced, and what arrived waits hidden beside it
// for the next attempt to go on with.
TEST(ScriptedTransfer, DroppedDataConnectionKeepsTheOldFile) {
    Session s(R"(
< TYPE I
> 200 ok
< SIZE f.bin
> 213 100000
< EPSV
> 229 ok ({epsv})
< RETR f.bin
> 150 Opening
data-repeat 100 0123456789
sleep 100
data-reset
> 426 Connection closed; transfer aborted
)");
    s.local.Write("f.bin", "the old contents");
    s.Login();
    s.client.FileType = kFileImage;
    EXPECT_EQ(s.Failure([&] { s.client.Get("f.bin", s.local / "f.bin"); }),
              "426 Connection closed; transfer aborted");
    EXPECT_EQ(ReadFile(s.local / "f.bin"), "the old contents");
    EXPECT_EQ(Session::Files(s.local.Path()), (std::vector<std::string>{".f.bin.klvr-part", "f.bin"}));
    EXPECT_EQ(s.client.State(), 2);
    EXPECT_EQ(s.server.Finish(), "");
}

TEST(ScriptedTransfer, SilentServerTimesOutEverywhere) {
    struct Case {
        const char* name;
        std::string dialogue;  // complete, greeting included
        bool loginFails;
        std::vector<std::string> left;  // files left in the folder: only an unfinished download, hidden
    };
    const Case cases[] = {
        {"greeting", "hang", true, {}},
        {"logon", "> 220 hi\n< USER u\nhang", true, {}},
        {"mid-file",
         kLogon + "< TYPE I\n> 200 ok\n< SIZE f\n> 213 50\n< EPSV\n> 229 ok ({epsv})\n< RETR f\n> 150 go\n"
                  "data 0123456789\nhang",
         false,
         {".f.klvr-part"}},
        {"final reply",
         kLogon +
             "< TYPE A\n> 200 ok\n< EPSV\n> 229 ok ({epsv})\n< RETR f\n> 150 go\ndata abc\ndata-close\nhang",
         false,
         {}},
    };
    for (const auto& c : cases) {
        test::ScriptedFtpServer server(c.dialogue);
        FtpClient client;
        client.Timeout = 300;
        TempDir local;
        std::string failure;
        try {
            client.Login("127.0.0.1", "u", "p", "", server.Port());
            client.FileType = c.name == std::string("final reply") ? kFileAscii : kFileImage;
            client.Get("f", local / "f");
        } catch (const FtpError& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure.rfind("Timed out after 300 ms", 0), 0u) << c.name << ": " << failure;
        EXPECT_EQ(client.State(), 0) << c.name;
        EXPECT_FALSE(test::Exists(local / "f")) << c.name;
        EXPECT_EQ(Session::Files(local.Path()), c.left) << c.name;
    }
}

// A server that trickles a byte at a time is never silent for long: a reply and the logon must still
// end within the time-out, while data that keeps flowing may take as long as it takes.
TEST(ScriptedTransfer, TricklingServerTimesOutWhereAnAnswerMustEnd) {
    auto trickle = [](const std::string& text) {
        std::string steps;
        char hex[8];
        for (unsigned char c : text) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            steps += std::string(">| ") + hex + "\nsleep 250\n";
        }
        return steps;
    };
    const std::string listing = "< EPSV\n> 229 ok ({epsv})\n< LIST\n> 150 go\n";
    std::string dataDrip;
    for (int i = 0; i < 10; ++i)
        dataDrip += "data -rw-r--r-- 1 u g 1 Jan 01 2026 f" + std::to_string(i) + "\\r\\n\nsleep 250\n";
    struct Case {
        const char* name;
        std::string dialogue;  // complete, greeting included
        bool completes;
    };
    const Case cases[] = {
        {"greeting", trickle("220 hello, at a snail's pace\r\n"), false},
        {"endless 120",
         [] {
             std::string steps;
             for (int i = 0; i < 24; ++i) steps += "> 120 wait a little\nsleep 250\n";
             return steps + "> 220 ready";
         }(),
         false},
        {"final reply", kLogon + listing + "data-close\n" + trickle("226 done, at a snail's pace\r\n"),
         false},
        {"trickling data", kLogon + listing + dataDrip + "data-close\n> 226 done", true},
    };
    for (const auto& c : cases) {
        test::ScriptedFtpServer server(c.dialogue);
        FtpClient client;
        client.Timeout = 1000;
        const auto start = std::chrono::steady_clock::now();
        std::string failure;
        try {
            client.Login("127.0.0.1", "u", "p", "", server.Port());
            EXPECT_EQ(client.List().Entries.size(), 10u) << c.name;
        } catch (const FtpError& e) {
            failure = e.what();
        }
        if (c.completes) {
            EXPECT_EQ(failure, "") << c.name;
            continue;
        }
        EXPECT_EQ(failure.rfind("Timed out after 1000 ms", 0), 0u) << c.name << ": " << failure;
        // the trickle would have gone on for five seconds and more
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << c.name;
        EXPECT_EQ(client.State(), 0) << c.name;
    }
}

// The control connection dies quietly during a long transfer (a NAT forgets it): a file whose every
// byte arrived is kept, the loss is reported, and the session is closed.
TEST(ScriptedTransfer, CompleteFileSurvivesALostFinalReply) {
    Session s(R"(
< TYPE I
> 200 ok
< SIZE f.bin
> 213 20
< EPSV
> 229 ok ({epsv})
< RETR f.bin
> 150 Opening
data 01234567890123456789
data-close
close
)");
    s.Login();
    s.client.FileType = kFileImage;
    s.client.Get("f.bin", s.local / "f.bin");
    EXPECT_EQ(ReadFile(s.local / "f.bin"), "01234567890123456789");
    ASSERT_EQ(s.reported.size(), 1u);
    EXPECT_NE(s.reported[0].find("did not confirm"), std::string::npos);
    EXPECT_EQ(s.client.State(), 0);
    EXPECT_EQ(s.server.Finish(), "");
}

// Only the port of a PASV answer counts: the data connection goes to the control connection's peer,
// whatever host the answer names (here another loopback address, where nothing listens).
TEST(ScriptedTransfer, APassiveAnswerNeverAimsTheDataAtAnotherHost) {
    Session s(R"(
< TYPE I
> 200 ok
< SIZE f.bin
> 213 5
< EPSV
> 500 EPSV not understood
< PASV
> 227 Entering Passive Mode (127,0,0,2,{pasvport})
< RETR f.bin
> 150 go
data bytes
data-close
> 226 done
)");
    s.Login();
    s.client.FileType = kFileImage;
    s.client.Get("f.bin", s.local / "f.bin");
    EXPECT_EQ(ReadFile(s.local / "f.bin"), "bytes");
    EXPECT_EQ(s.server.Finish(), "");
}

TEST(ScriptedTransfer, FinalReplyBeforeTheDataAndPassiveFallback) {
    // EPSV refused once: PASV from then on; the 226 may overtake the data; PASV 0.0.0.0 means the
    // control peer.
    Session s(R"(
< TYPE A
> 200 ok
< EPSV
> 500 EPSV not understood
< PASV
> 227 Entering Passive Mode ({pasv})
< RETR a.txt
> 150 go
> 226 done
data line one\r\nline two\r
data \n
data-close
< PASV
> 227 Entering Passive Mode (0,0,0,0,{pasvport})
< RETR b.txt
> 150 go
data b\r\n
data-close
> 226 done
)");
    s.Login();
    s.client.Get("a.txt", s.local / "a.txt");
    EXPECT_EQ(ReadFile(s.local / "a.txt"), "line one\nline two\n");
    s.client.Get("b.txt", s.local / "b.txt");
    EXPECT_EQ(ReadFile(s.local / "b.txt"), "b\n");
    EXPECT_EQ(s.server.Finish(), "");
}

}  // namespace
}  // namespace klvr
