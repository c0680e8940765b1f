// Resuming, text conversions, data-port ranges, listings, hostile names, abort, progress and trace,
// played against the scripted server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

const std::string kLogon = "> 220 ready\n< USER u\n> 331 pw\n< PASS p\n> 230 in\n";

struct Session {
    explicit Session(const std::string& afterLogon) : server(kLogon + afterLogon) {
        client.Timeout = 5000;
        client.OnErrorReported = [this](int, const std::string& text) { reported.push_back(text); };
    }
    void Login() { client.Login("127.0.0.1", "u", "p", "", server.Port()); }
    std::string Failure(const std::function<void()>& body) {
        try {
            body();
        } catch (const FtpError& e) {
            return e.what();
        }
        return "";
    }

    test::ScriptedFtpServer server;
    FtpClient client;
    std::vector<std::string> reported;
    TempDir local;
};

// A text copy cannot be measured against the remote file (line ends change on the way): kept as it is
// unless overwriting is on, and then replaced by the whole file; an offset is no byte offset here.
TEST(ScriptedResume, TextCopiesAreLeftAloneOrReplacedWhole) {
    Session s(R"(
< TYPE A
> 200 ok
< EPSV
> 229 ok ({epsv})
< RETR t.txt
> 150 go
data whole\r\nfile\r\n
data-close
> 226 done
)");
    s.local.Write("t.txt", "who");
    s.Login();
    s.client.FileType = kFileAscii;
    std::int64_t offset = 3;
    s.client.Get("t.txt", s.local / "t.txt", &offset);
    EXPECT_EQ(ReadFile(s.local / "t.txt"), "who");
    s.client.Get("t.txt", s.local / "t.txt");
    EXPECT_EQ(ReadFile(s.local / "t.txt"), "whole\nfile\n");
    EXPECT_EQ(s.server.Finish(), "");
}

TEST(ScriptedTransfer, EbcdicTextIsConvertedFromCodePage037) {
    // "Hello, World" NL "x" in code page 037, then CR LF
    Session s(R"(
< TYPE E
> 200 ok
< EPSV
> 229 ok ({epsv})
< RETR e.txt
> 150 go
data \xc8\x85\x93\x93\x96\x6b\x40\xe6\x96\x99\x93\x84\x15\xa7\x0d\x25
data-close
> 226 done
)");
    s.Login();
    s.client.FileType = kFileEbcdic;
    s.client.Get("e.txt", s.local / "e.txt");
    EXPECT_EQ(ReadFile(s.local / "e.txt"), "Hello, World\nx\n");
    EXPECT_EQ(s.server.Finish(), "");
}

TEST(ScriptedDataPorts, RangeHoldsInBothModes) {
    Session s(R"(
< PORT 127,0,0,1,*
> 200 ok
< LIST
> 150 go
active
data 01-05-24  01:45PM       <DIR>          Folder One\r\n
data 01-05-24  01:45PM                  12 a file.txt\r\n
data-close
> 226 done
< EPSV
> 229 ok ({epsv})
< LIST
> 150 go
data-close
> 226 done
)");
    s.Login();
    s.client.DataPortRange = "31000:31010";
    s.client.Passive = false;
    Listing listing = s.client.List();
    EXPECT_EQ(listing.ListingFormat, kListingDos);
    ASSERT_EQ(listing.Entries.size(), 2u);
    EXPECT_EQ(listing.Entries[0].Type, "D");
    EXPECT_EQ(listing.Entries[1].Name, "a file.txt");
    s.client.Passive = true;
    s.client.List();
    EXPECT_EQ(s.server.Finish(), "");

    auto commands = s.server.Commands();
    std::string port = commands[2];
    int p[6];
    ASSERT_EQ(std::sscanf(port.c_str(), "PORT %d,%d,%d,%d,%d,%d", &p[0], &p[1], &p[2], &p[3], &p[4], &p[5]),
              6);
    EXPECT_GE(p[4] * 256 + p[5], 31000);
    EXPECT_LE(p[4] * 256 + p[5], 31010);
    ASSERT_EQ(s.server.DataPeerPorts().size(), 1u);
    EXPECT_GE(s.server.DataPeerPorts()[0], 31000);
    EXPECT_LE(s.server.DataPeerPorts()[0], 31010);

    s.client.DataPortRange = "9:1";
    EXPECT_NE(s.Failure([&] { s.client.List(); }).find("DataPortRange"), std::string::npos);
}

TEST(ScriptedListing, UnreadableLinesAreReportedWithTheReadableOnes) {
    Session s(R"(
< EPSV
> 229 ok ({epsv})
< LIST
> 150 go
data total 3\r\n-rw-r--r-- 1 o g 3 Jan 5 13:45 fine\r\nmodify=20240101;size=3; weird\r\n
data-close
> 226 done
)");
    s.Login();
    Listing listing = s.client.List();
    EXPECT_EQ(listing.ListingFormat, kListingUnparsed);
    EXPECT_EQ(listing.UnparsedText, "modify=20240101;size=3; weird\r\n");
    ASSERT_EQ(listing.Entries.size(), 1u);
    EXPECT_EQ(listing.Entries[0].Name, "fine");
    EXPECT_EQ(s.server.Finish(), "");
}

// Names out of a hostile listing never steer a write outside the destination folder.
TEST(ScriptedHostileNames, MGetPassesOverUnsafeNamesAndFetchesTheRest) {
    Session s(R"(
< PWD
> 257 "/"
< CWD /in
> 250 ok
< PWD
> 257 "/in"
< EPSV
> 229 ok ({epsv})
< LIST
> 150 go
data -rw-r--r-- 1 o g 1 Jan 5 13:45 ..\r\n-rw-r--r-- 1 o g 1 Jan 5 13:45 ../escape\r\n
data -rw-r--r-- 1 o g 1 Jan 5 13:45 a/b\r\n-rw-r--r-- 1 o g 1 Jan 5 13:45 .\r\n
data -rw-r--r-- 1 o g 1 Jan 5 13:45 ctl\x01name\r\n-rw-r--r-- 1 o g 1 Jan 5 13:45 caf\xe9\r\n
data-close
> 226 done
< TYPE I
> 200 ok
< EPSV
> 229 ok ({epsv})
< RETR ctl\x01name
> 150 go
data 1
data-close
> 226 done
< EPSV
> 229 ok ({epsv})
< RETR caf\xe9
> 150 go
data 2
data-close
> 226 done
< CWD /
> 250 ok
)");
    s.Login();
    s.client.FileType = kFileImage;
    FileList list;
    std::string folder = s.local.MakeFolder("out");
    s.client.MGet("/in/*", folder, list);
    EXPECT_EQ(s.server.Finish(), "");
    EXPECT_EQ(ReadFile(folder + "/ctl\x01name"), "1");
    EXPECT_EQ(ReadFile(folder + "/caf\xe9"), "2");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(2), "/in/caf\xe9");
    std::vector<std::string> skipped;
    for (const auto& r : s.reported)
        if (r.rfind("Unsafe remote name skipped [", 0) == 0) skipped.push_back(r);
    EXPECT_EQ(skipped, (std::vector<std::string>{"Unsafe remote name skipped [../escape]",
                                                 "Unsafe remote name skipped [a/b]"}));
    EXPECT_FALSE(test::Exists(s.local / "escape"));
}

TEST(ScriptedHostileNames, GetRefusesNamesThatDoNotEndInAFileName) {
    Session s("");
    s.Login();
    const std::pair<std::string, std::string> cases[] = {
        {"..", "x"},
        {"dir/", "x"},
        {"a/..", "x"},
        {"a/.", "x"},
        {std::string("a\0b", 3), "x"},
        {"a\r\nDELE b", "x"},
        {"f", "folder/"},
        {"f", "folder/.."},
        {"f", "."},
        {"f", ""},
    };
    for (const auto& [remote, local] : cases) {
        std::string failure = s.Failure([&] { s.client.Get(remote, local.empty() ? "" : s.local / local); });
        EXPECT_NE(failure.find("Unsafe"), std::string::npos) << remote << " -> " << local << ": " << failure;
    }
    EXPECT_EQ(s.client.State(), 2);
    EXPECT_EQ(s.server.Finish(), "");
    EXPECT_EQ(s.server.Commands().size(), 2u);  // nothing was sent after the logon
}

TEST(ScriptedAbort, FromAHandlerFromAnotherThreadAndWhenIdle) {
    {
        // a progress handler aborts a transfer that has stalled
        Session s(
            "< TYPE I\n> 200 ok\n< SIZE f\n> 213 100\n< EPSV\n> 229 ok ({epsv})\n< RETR f\n> 150 go\ndata "
            "12345\nhang");
        s.Login();
        s.client.FileType = kFileImage;
        int events = 0;
        s.client.OnProgress = [&](int, int, const std::string&, std::int64_t, std::int64_t) {
            if (++events == 3) s.client.Abort();
        };
        EXPECT_EQ(s.Failure([&] { s.client.Get("f", s.local / "f"); }), "Aborted");
        EXPECT_EQ(s.client.State(), 0);
        EXPECT_FALSE(test::Exists(s.local / "f"));
    }
    {
        // another thread aborts a logon that waits on a silent server
        test::ScriptedFtpServer server("hang");
        FtpClient client;
        client.Timeout = 20000;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            client.Abort();
        });
        std::string failure;
        try {
            client.Login("127.0.0.1", "u", "p", "", server.Port());
        } catch (const FtpError& e) {
            failure = e.what();
        }
        stopper.join();
        EXPECT_EQ(failure, "Aborted");
        EXPECT_EQ(client.State(), 0);
    }
    {
        // an idle client just drops its connection; the next call is not aborted by it
        Session s("< FEAT\n> 502 no\naccept\n" + kLogon);
        int closed = 0;
        s.Login();
        s.client.OnStateChanged = [&] { closed += s.client.State() == 0; };
        s.client.Abort();
        EXPECT_EQ(s.client.State(), 0);
        EXPECT_EQ(closed, 1);
        s.Login();
        EXPECT_EQ(s.client.State(), 2);
        EXPECT_EQ(s.server.Finish(), "");
    }
}

TEST(ScriptedProgress, BytesWhileDataFlowsAndTicksWhileWaiting) {
    Session s(R"(
< TYPE I
> 200 ok
< SIZE f
> 213 8
< EPSV
> 229 ok ({epsv})
< RETR f
> 150 go
data 1234
sleep 350
data 5678
data-close
> 226 done
)");
    s.Login();
    s.client.FileType = kFileImage;
    struct Event {
        int operation, status;
        std::int64_t done, total;
    };
    std::vector<Event> events;
    s.client.OnProgress = [&](int op, int st, const std::string& text, std::int64_t done,
                              std::int64_t total) {
        EXPECT_EQ(text, "");
        events.push_back({op, st, done, total});
    };
    s.client.Get("f", s.local / "f");
    EXPECT_EQ(ReadFile(s.local / "f"), "12345678");
    bool flowing = false;
    for (const auto& e : events) {
        if (e.operation == kProgressTransfer && e.status == kProgressDataFlowing) {
            flowing = true;
            EXPECT_EQ(e.done, 4);
            EXPECT_EQ(e.total, 8);
        } else {
            EXPECT_EQ(e.done, 0);
            EXPECT_EQ(e.total, 0);
        }
    }
    EXPECT_TRUE(flowing);
    EXPECT_EQ(s.server.Finish(), "");
}

// FEAT once per session; MLSD for every listing when FEAT offers it, with UTF-8 names asked for (a
// refusal changes nothing).
TEST(ScriptedListing, MlsdWhenOfferedAndFeatOncePerSession) {
    Session s(R"(
< FEAT
> 211-Features:
>  MDTM
>  MLST type*;size*;modify*;
>  UTF8
> 211 End
< OPTS UTF8 ON
> 501 Unsupported command
< EPSV
> 229 ok ({epsv})
< MLSD
> 150 go
data type=cdir;modify=20240105134500; /\r\ntype=dir;modify=20240105134500; sub\r\n
data type=file;size=3;modify=19991231235959; a b.txt \r\n
data-close
> 226 done
< EPSV
> 229 ok ({epsv})
< MLSD
> 150 go
data-close
> 226 done
)");
    s.Login();
    Listing listing = s.client.List();
    EXPECT_EQ(listing.ListingFormat, kListingFacts);
    ASSERT_EQ(listing.Entries.size(), 2u);
    // in name order, as LIST comes, whatever the order of the server's folder
    EXPECT_EQ(listing.Entries[0].Name, "a b.txt ");
    EXPECT_EQ(listing.Entries[0].Size, 3);
    EXPECT_EQ(listing.Entries[0].Modified, 946684799);
    EXPECT_EQ(listing.Entries[1].Name, "sub");
    EXPECT_EQ(listing.Entries[1].Type, "D");
    EXPECT_TRUE(s.client.List().Entries.empty());
    EXPECT_EQ(s.server.Finish(), "");
    EXPECT_TRUE(s.reported.empty());
}

// A server that names MLST in FEAT but does not know MLSD: LIST, at once and for the rest of the session.
TEST(ScriptedListing, ListWhereMlsdIsNotUnderstood) {
    Session s(R"(
< FEAT
> 211-Features:
>  MLST type*;size*;
> 211 End
< EPSV
> 229 ok ({epsv})
< MLSD
> 500 MLSD not understood
< EPSV
> 229 ok ({epsv})
< LIST
> 150 go
data -rw-r--r-- 1 o g 3 Jan 5 13:45 a\r\n
data-close
> 226 done
< EPSV
> 229 ok ({epsv})
< LIST
> 150 go
data-close
> 226 done
)");
    s.Login();
    Listing listing = s.client.List();
    EXPECT_EQ(listing.ListingFormat, kListingUnix);
    ASSERT_EQ(listing.Entries.size(), 1u);
    EXPECT_EQ(listing.Entries[0].Modified, std::nullopt);
    s.client.List();
    EXPECT_EQ(s.server.Finish(), "");
}

TEST(ScriptedTrace, CommandsAndRepliesWithPrefixesAndAMaskedPassword) {
    TempDir folder;
    std::string file = folder / "trace.log";
    {
        test::ScriptedFtpServer server(kLogon + "< PWD\n> 257 \"/\"\n");
        FtpClient client;
        client.Trace(file, true, true, "---> ", "<--- ");
        client.Login("127.0.0.1", "u", "p", "", server.Port());
        client.ServerDirectory();
        EXPECT_EQ(server.Finish(), "");
    }
    EXPECT_EQ(
        ReadFile(file),
        "<--- 220 ready\r\n---> USER u\r\n<--- 331 pw\r\n---> PASS ********\r\n<--- 230 in\r\n---> FEAT\r\n"
        "<--- 502 FEAT not implemented\r\n---> PWD\r\n<--- 257 \"/\"\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // a trace path that is a symbolic link is not followed
    std::string target = folder.Write("target", "");
    std::string link = folder / "link.log";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    test::ScriptedFtpServer server(kLogon);
    FtpClient client;
    client.Trace(link, true, true, "> ", "< ");
    client.Login("127.0.0.1", "u", "p", "", server.Port());
    EXPECT_EQ(ReadFile(target), "");
}

}  // namespace
}  // namespace klvr
