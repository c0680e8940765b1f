// The next file's passive port asked for while a transfer ends, against the answers real servers do not
// give: out of turn, refused, a failed transfer after it, a port that is gone. Each falls back to the
// plain order for the rest of the session, silently, with both files stored whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

const std::string kFirstFile = R"(
> 220 ready
< USER u
> 331 Password please
< PASS p
> 230 Logged on
< TYPE I
> 200 ok
< SIZE f1
> 213 3
< EPSV
> 229 ok ({epsv})
< RETR f1
> 150 Opening f1 (3 bytes)
data abc
data-close
)";

// f1 once more, in the plain order, after a reply that leaves its transfer in doubt
const std::string kFirstAgain = R"(
< EPSV
> 229 ok ({epsv})
< RETR f1
> 150 Opening f1 (3 bytes)
data abc
data-close
> 226 done
)";

// f2 in the plain order; the pause lets a client that still asked early do so before the final reply
const std::string kSecondPlain = R"(
< EPSV
> 229 ok ({epsv})
< RETR f2
> 150 Opening f2 (3 bytes)
data xyz
data-close
sleep 50
> 226 done
)";

TEST(ScriptedPipelining, EveryAnswerFallsBackWithoutLosingAFile) {
    struct Case {
        const char* name;
        std::string afterFirstData;  // from the early port request on
        bool fallsBack = true;
    };
    const Case cases[] = {
        {"in turn: the named port serves f2",
         "< EPSV\n> 226 done\n> 229 ok ({epsv})\n< RETR f2\n> 150 Opening f2 (3 bytes)\ndata xyz\n"
         "data-close\n> 226 done",
         false},
        {"answered before the transfer's final reply",
         "< EPSV\n> 229 ok ({epsv})\n> 226 done" + kSecondPlain},
        {"refused in turn", "< EPSV\n> 226 done\n> 500 Not now" + kSecondPlain},
        {"refused out of turn", "< EPSV\n> 450 EPSV: data transfer in progress\n> 226 done" + kSecondPlain},
        {"the transfer failed after it",
         "< EPSV\n> 426 Transfer aborted\n> 229 ok ({epsv})" + kFirstAgain + kSecondPlain},
        {"two refusals: which is whose is unclear",
         "< EPSV\n> 451 Local error\n> 500 Not now" + kFirstAgain + kSecondPlain},
        {"the named port is gone",
         "< EPSV\n> 226 done\n> 229 ok (|||1|)\n< RETR f2\n> 425 No data connection" + kSecondPlain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedFtpServer server(kFirstFile + c.afterFirstData);
        TempDir local;
        FtpClient client;
        client.Timeout = 5000;
        std::vector<std::string> reported;
        client.OnErrorReported = [&](int, const std::string& text) { reported.push_back(text); };
        client.Login("127.0.0.1", "u", "p", "", server.Port());
        client.FileType = kFileImage;
        client.AnotherFileFollows = true;
        client.Get("f1", local / "f1");
        // no third file follows, but a session that fell back would not ask early anyway
        client.AnotherFileFollows = c.fallsBack;
        client.Get("f2", local / "f2");
        EXPECT_EQ(server.Finish(), "");
        EXPECT_EQ(ReadFile(local / "f1"), "abc");
        EXPECT_EQ(ReadFile(local / "f2"), "xyz");
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(local.Path()))
            files.push_back(e.path().filename());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (std::vector<std::string>{"f1", "f2"}));
        EXPECT_TRUE(reported.empty()) << reported.front();
        EXPECT_EQ(client.State(), 2);
    }
}

// A port named for the next transfer outlives questions about a file, not other commands: the server may
// have dropped it, or taken such a command for the transfer it was for.
TEST(ScriptedPipelining, OnlyQuestionsMayGoBeforeTheNamedPort) {
    test::ScriptedFtpServer server(kFirstFile + R"(
< EPSV
> 226 done
> 229 ok ({epsv})
< MDTM f2
> 213 20240105134500
< RETR f2
> 150 Opening f2 (3 bytes)
data xyz
data-close
< EPSV
> 226 done
> 229 ok ({epsv})
< DELE old
> 250 deleted
< EPSV
> 229 ok ({epsv})
< RETR f3
> 150 Opening f3 (3 bytes)
data 123
data-close
> 226 done
)");
    TempDir local;
    FtpClient client;
    client.Timeout = 5000;
    client.Login("127.0.0.1", "u", "p", "", server.Port());
    client.FileType = kFileImage;
    client.AnotherFileFollows = true;
    client.Get("f1", local / "f1");
    EXPECT_EQ(client.ModifiedTime("f2"), 1704462300);
    client.AnotherFileFollows = true;
    client.Get("f2", local / "f2");
    client.Delete("old");
    client.Get("f3", local / "f3");
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(ReadFile(local / "f2"), "xyz");
    EXPECT_EQ(ReadFile(local / "f3"), "123");
}

// Whatever transfer comes next takes the named port; a listing that finds it gone asks again.
TEST(ScriptedPipelining, AListingOnAPortThatIsGoneAsksAgain) {
    test::ScriptedFtpServer server(kFirstFile + R"(
< EPSV
> 226 done
> 229 ok (|||1|)
< LIST
> 425 No data connection
< EPSV
> 229 ok ({epsv})
< LIST
> 150 Here it comes
data -rw-r--r--   1 u g 3 Jan  5  2024 f2\r\n
data-close
> 226 done
)");
    TempDir local;
    FtpClient client;
    client.Timeout = 5000;
    client.Login("127.0.0.1", "u", "p", "", server.Port());
    client.FileType = kFileImage;
    client.AnotherFileFollows = true;
    client.Get("f1", local / "f1");
    const Listing listing = client.List();
    EXPECT_EQ(server.Finish(), "");
    ASSERT_EQ(listing.Entries.size(), 1u);
    EXPECT_EQ(listing.Entries[0].Name, "f2");
}

}  // namespace
}  // namespace klvr
