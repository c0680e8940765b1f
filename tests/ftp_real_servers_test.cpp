// The client against real servers (pyftpdlib, vsftpd, ProFTPD, Pure-FTPd) on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "support/ftp_servers.h"
#include "support/private_accounts.h"
#include "support/proftpd_server.h"
#include "support/pure_ftpd_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

// Each real server, started on the given tree, with the logon it accepts.
class RealServer : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "proftpd" && !test::CanUsePrivateAccounts())
            GTEST_SKIP() << "ProFTPD's accounts need root";
    }
    void Start() {
        if (GetParam() == "pyftpdlib") {
            test::PyFtpdOptions options;
            options.root = remote.Path();
            py = std::make_unique<test::PyFtpdServer>(options);
            port = py->Port();
            user = "user";
            password = "secret";
            listsFacts = true;
        } else if (GetParam() == "vsftpd") {
            test::VsftpdOptions options;
            options.root = remote.Path();
            vs = std::make_unique<test::VsftpdServer>(options);
            port = vs->Port();
            user = "anonymous";
            password = "guest@";
        } else if (GetParam() == "proftpd") {
            test::ProFtpdOptions options;
            options.root = remote.Path();
            pro = std::make_unique<test::ProFtpdServer>(options);
            port = pro->Port();
            user = "anonymous";
            password = "guest@";
            listsFacts = true;
        } else {
            test::PureFtpdOptions options;
            options.users = {{"user", "secret", remote.Path()}};
            pure = std::make_unique<test::PureFtpdServer>(options);
            port = pure->Port();
            user = "user";
            password = "secret";
            listsFacts = true;
        }
        client.Timeout = 10000;
    }
    void Login() { client.Login("127.0.0.1", user, password, "", port); }

    TempDir remote;
    TempDir local;
    std::unique_ptr<test::PyFtpdServer> py;
    std::unique_ptr<test::VsftpdServer> vs;
    std::unique_ptr<test::ProFtpdServer> pro;
    std::unique_ptr<test::PureFtpdServer> pure;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    bool listsFacts = false;  // offers MLSD
    FtpClient client;
};

TEST_P(RealServer, SessionListGetAndFolders) {
    remote.Write("a.txt", "alpha\nbeta\n");  // servers that convert send CR LF, the others LF
    remote.Write("name with blanks.bin", std::string(100000, '\x5a'));
    remote.Write("sub/deeper/c.dat", "c");
    remote.Write("sub/b.dat", "bb");
    Start();

    std::vector<int> states;
    client.OnStateChanged = [&] { states.push_back(client.State()); };
    Login();
    EXPECT_EQ(client.State(), 2);
    EXPECT_EQ(client.RemoteEndpoint(), "127.0.0.1");
    EXPECT_EQ(client.ServerDirectory(), "/");

    Listing listing = client.List();
    EXPECT_EQ(listing.ListingFormat, listsFacts ? kListingFacts : kListingUnix);
    std::map<std::string, ListEntry> byName;
    for (const auto& e : listing.Entries) byName[e.Name] = e;
    ASSERT_EQ(byName.size(), 3u);
    EXPECT_EQ(byName["sub"].Type, "D");
    EXPECT_EQ(byName["name with blanks.bin"].Size, 100000);

    client.FileType = kFileImage;
    client.Get("name with blanks.bin", local / "copy.bin");
    EXPECT_EQ(ReadFile(local / "copy.bin"), std::string(100000, '\x5a'));
    client.FileType = kFileAscii;
    client.Get("a.txt", local / "a.txt");
    EXPECT_EQ(ReadFile(local / "a.txt"), "alpha\nbeta\n");

    client.SetServerDirectory("sub");
    EXPECT_EQ(client.ServerDirectory(), "/sub");
    EXPECT_THROW(client.SetServerDirectory("/no such folder"), FtpError);
    EXPECT_EQ(client.State(), 2);  // a refused command leaves the session as it was

    FileList list;
    client.FileType = kFileImage;
    client.MGet("/sub/*", local / "tree", list);
    EXPECT_EQ(ReadFile(local / "tree/b.dat"), "bb");
    EXPECT_EQ(ReadFile(local / "tree/deeper/c.dat"), "c");
    ASSERT_EQ(list.Count(), 2);
    std::set<std::string> names{list.Item(1), list.Item(2)};
    EXPECT_EQ(names, (std::set<std::string>{"/sub/b.dat", "/sub/deeper/c.dat"}));
    EXPECT_EQ(client.ServerDirectory(), "/sub");  // MGet leaves the working folder where it was

    client.Logout();
    EXPECT_EQ(client.State(), 0);
    EXPECT_EQ(states, (std::vector<int>{2, 0}));
}

TEST_P(RealServer, ResumeActiveModeByteNamesAndHugeSizes) {
    remote.Write("r.bin", "0123456789abcdef");
    std::string latin1 = "caf\xe9 men\xfc.txt";  // not UTF-8: the name is bytes end to end
    remote.Write(latin1, "bytes");
    {
        // a sparse file bigger than 4 GiB: its size must survive the listing
        std::ofstream big(remote / "big.iso", std::ios::binary);
        big.seekp(5368709119LL);
        big.put('\0');
    }
    Start();
    Login();
    client.FileType = kFileImage;
    client.Passive = false;
    client.DataPortRange = "0";

    Listing listing = client.List();
    std::map<std::string, std::int64_t> sizes;
    for (const auto& e : listing.Entries) sizes[e.Name] = e.Size;
    EXPECT_EQ(sizes["big.iso"], 5368709120LL);
    ASSERT_EQ(sizes.count(latin1), 1u);

    local.Write("r.bin", "0123456");
    std::int64_t offset = 7;
    client.Get("r.bin", local / "r.bin", &offset);
    EXPECT_EQ(ReadFile(local / "r.bin"), "0123456789abcdef");

    client.Get(latin1, local / latin1);
    EXPECT_EQ(ReadFile(local / latin1), "bytes");
    EXPECT_EQ(client.State(), 2);
}

// Servers that offer MLSD are listed by it: the exact time of each entry comes with it.
TEST_P(RealServer, ListingsGiveExactTimesWhereTheServerListsFacts) {
    remote.Write("dated file.txt", "12345");
    remote.Write("folder/inner.txt", "i");
    const timeval times[2] = {{1704462300, 0}, {1704462300, 0}};
    ASSERT_EQ(::utimes((remote / "dated file.txt").c_str(), times), 0);
    Start();
    Login();
    Listing listing = client.List();
    std::map<std::string, ListEntry> byName;
    for (const auto& e : listing.Entries) byName[e.Name] = e;
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(byName["folder"].Type, "D");
    EXPECT_EQ(byName["dated file.txt"].Type, "F");
    EXPECT_EQ(byName["dated file.txt"].Size, 5);
    EXPECT_EQ(byName["dated file.txt"].Modified,
              listsFacts ? std::optional<std::int64_t>(1704462300) : std::nullopt);

    // A copy takes that time, as mirrors do; elsewhere it keeps the time of its download, which a later
    // remote version is newer than.
    const auto before = static_cast<std::int64_t>(::time(nullptr));
    client.FileType = kFileImage;
    FileList list;
    client.MGet("/*", local / "all", list);
    struct stat st {};
    ASSERT_EQ(::stat((local / "all/dated file.txt").c_str(), &st), 0);
    if (listsFacts)
        EXPECT_EQ(st.st_mtime, 1704462300);
    else
        EXPECT_GE(st.st_mtime, before - 1);
}

// A link back up to a folder above is walked once at most, whether the server shows it as a link or,
// following it, as a folder.
TEST_P(RealServer, FolderWalkStopsAtALinkBackUp) {
    remote.Write("tree/a.txt", "a");
    ASSERT_EQ(::symlink(".", (remote / "tree/loop").c_str()), 0);
    Start();
    Login();
    std::vector<std::string> reported;
    client.OnErrorReported = [&](int, const std::string& text) { reported.push_back(text); };
    client.FileType = kFileImage;
    FileList list;
    client.MGet("/tree/*", local / "tree", list);
    EXPECT_EQ(ReadFile(local / "tree/a.txt"), "a");
    EXPECT_LE(list.Count(), 2);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].rfind("Link to a folder not followed [/tree/", 0), 0u) << reported[0];
}

// A user who may write deletes; a refusal carries the server's own reply.
TEST_P(RealServer, DeletesAndRefusesWithItsReply) {
    remote.Write("gone.txt", "x");
    if (GetParam() == "pyftpdlib") {
        test::PyFtpdOptions options;
        options.root = remote.Path();
        options.handlerSetup = "handler.auth_failed_timeout = 0.01";
        py = std::make_unique<test::PyFtpdServer>(options);
        port = py->Port();
    } else if (GetParam() == "vsftpd") {
        if (!test::CanUsePrivateAccounts()) GTEST_SKIP() << "vsftpd's local users need root";
        test::VsftpdOptions options;
        options.root = remote.Path();
        options.users = {{"user", "secret", remote.Path()}};
        vs = std::make_unique<test::VsftpdServer>(options);
        port = vs->Port();
    } else if (GetParam() == "proftpd") {
        test::ProFtpdOptions options;
        options.users = {{"user", "secret", remote.Path()}};
        pro = std::make_unique<test::ProFtpdServer>(options);
        port = pro->Port();
    } else {
        test::PureFtpdOptions options;
        options.users = {{"user", "secret", remote.Path()}};
        pure = std::make_unique<test::PureFtpdServer>(options);
        port = pure->Port();
    }
    client.Login("127.0.0.1", "user", "secret", "", port);
    client.Delete("gone.txt");
    EXPECT_FALSE(test::Exists(remote / "gone.txt"));
    try {
        client.Delete("gone.txt");
        ADD_FAILURE();
    } catch (const FtpError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("550 ", 0), 0u) << e.what();
    }
    try {
        client.Login("127.0.0.1", "user", "wrong", "", port);
        ADD_FAILURE();
    } catch (const FtpError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("530 ", 0), 0u) << e.what();
    }
    EXPECT_EQ(client.State(), 0);
}

// IPv6 needs EPSV and EPRT; a name whose first address refuses is tried at its next one.
TEST(RealServerOnly, Ipv6BothModesAndNames) {
    TempDir remote;
    TempDir local;
    remote.Write("six.txt", "six");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    options.address = "::1";
    test::PyFtpdServer six(options);
    FtpClient client;
    client.FileType = kFileImage;
    client.Login("::1", "user", "secret", "", six.Port());
    EXPECT_EQ(client.RemoteEndpoint(), "::1");
    client.Get("six.txt", local / "passive.txt");
    client.Passive = false;
    client.Get("six.txt", local / "active.txt");
    EXPECT_EQ(ReadFile(local / "active.txt"), "six");
    client.Logout();

    options.address = "127.0.0.1";
    test::PyFtpdServer four(options);
    client.Login("localhost", "user", "secret", "", four.Port());
    EXPECT_EQ(client.RemoteEndpoint(), "127.0.0.1");
    client.Get("six.txt", local / "four.txt");
    EXPECT_EQ(ReadFile(local / "four.txt"), "six");
}

// ProFTPD with mod_digest loaded, one LoadModule line as its documentation gives it: the server's hash
// checks every download, proves a copy of the same size the same or tells it apart, and checks a
// resumed file whole.
TEST(RealServerOnly, ProFtpdHashesProveOrRefuseCopies) {
    if (!test::CanUsePrivateAccounts()) GTEST_SKIP() << "ProFTPD's local users need root";
    TempDir remote;
    TempDir local;
    std::string big;
    for (int i = 0; i < 20000; ++i) big += std::to_string(i * 7919) + ",";
    remote.Write("data.bin", big);
    remote.Write("same.bin", "0123456789");
    test::ProFtpdOptions options;
    options.users = {{"user", "secret", remote.Path()}};
    options.extraConfig = {"LoadModule mod_digest.c"};
    test::ProFtpdServer server(options);
    FtpClient client;
    client.FileType = kFileImage;
    std::vector<std::string> warnings;
    client.OnErrorReported = [&](int, const std::string& text) { warnings.push_back(text); };
    client.Login("127.0.0.1", "user", "secret", "", server.Port());

    EXPECT_TRUE(client.Get("data.bin", local / "data.bin").proof.proven);
    EXPECT_EQ(ReadFile(local / "data.bin"), big);

    client.OverwriteExisting = false;
    local.Write("same.bin", "0123456789");
    FetchResult result = client.Get("same.bin", local / "same.bin");
    EXPECT_EQ(result.outcome, FetchOutcome::kLeftAlone);
    EXPECT_TRUE(result.proof.proven) << result.proof.reason;

    local.Write("same.bin", "012345678X");
    result = client.Get("same.bin", local / "same.bin");
    EXPECT_EQ(result.outcome, FetchOutcome::kKept);
    EXPECT_EQ(ReadFile(local / "same.bin"), "012345678X");

    // a shorter copy that begins the file is completed, and the whole is checked by the server's hash
    local.Write("data.bin", big.substr(0, 100000));
    result = client.Get("data.bin", local / "data.bin");
    EXPECT_EQ(result.outcome, FetchOutcome::kFetched);
    EXPECT_EQ(ReadFile(local / "data.bin"), big);
    EXPECT_EQ(warnings, std::vector<std::string>{"Local file kept [" + local.Path() +
                                                 "/same.bin]: its content differs from the remote file"});
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         ::testing::Values("pyftpdlib", "vsftpd", "proftpd", "pure_ftpd"));

}  // namespace
}  // namespace klvr
