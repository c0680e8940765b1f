// Downloads over TLS from real servers (pyftpdlib, vsftpd, ProFTPD, Pure-FTPd on 127.0.0.1) in the
// security modes each of them supports; servers that insist on protected data wherever the mode
// promises it.
#include "support/tls_servers.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "support/ftp_servers.h"
#include "support/private_accounts.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;
using test::TlsStart;

enum class Server { Py, Vs, Pro, Pure };

struct Case {
    std::string name;
    Server server;
    TlsStart start;
    int security;
    bool passive = true;
    bool tls12Only = false;
};

bool ProtectsData(int security) {
    return security == 1 || security == 3 || security == 5 || security == 16;
}

class TlsDownload : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (GetParam().server == Server::Pro && !test::CanUsePrivateAccounts())
            GTEST_SKIP() << "ProFTPD's accounts need root";
    }
    void Start() {
        const Case& c = GetParam();
        test::ServerTls tls;
        tls.start = c.start;
        tls.tls12Only = c.tls12Only;
        stores.Put(0, "ROOT", test::TestCertificates::Shared().ca.certPem, "test-ca.pem");
        if (c.server == Server::Pro) {
            test::ProFtpdOptions options;
            options.root = remote.Path();
            test::UseTls(options, tls);
            pro = std::make_unique<test::ProFtpdServer>(options);
            port = pro->Port();
            user = "anonymous";
            password = "guest@";
        } else if (c.server == Server::Pure) {
            test::PureFtpdOptions options;
            options.users = {{"user", "secret", remote.Path()}};
            test::UseTls(options, tls, work);
            pure = std::make_unique<test::PureFtpdServer>(options);
            port = pure->Port();
            user = "user";
            password = "secret";
        } else if (c.server == Server::Vs) {
            test::VsftpdOptions options;
            options.root = remote.Path();
            test::UseTls(options, tls, work);
            if (ProtectsData(c.security)) options.extraConfig.push_back("force_anon_data_ssl=YES");
            vs = std::make_unique<test::VsftpdServer>(options);
            port = vs->Port();
            user = "anonymous";
            password = "guest@";
        } else {
            test::PyFtpdOptions options;
            options.root = remote.Path();
            test::UseTls(options, tls);
            if (ProtectsData(c.security)) options.handlerSetup += "\nhandler.tls_data_required = True\n";
            py = std::make_unique<test::PyFtpdServer>(options);
            port = py->Port();
            user = "user";
            password = "secret";
        }
        client.Timeout = 15000;
        client.Security = c.security;
        client.Passive = c.passive;
        client.OnErrorReported = [this](int, const std::string& text) { reported.push_back(text); };
    }
    std::string ServerLog() const {
        return vs ? vs->Log() : py ? py->Log() : pro ? pro->Log() : pure ? pure->Log() : std::string();
    }

    test::TestCertStores stores;
    TempDir work;
    TempDir remote;
    TempDir local;
    std::unique_ptr<test::PyFtpdServer> py;
    std::unique_ptr<test::VsftpdServer> vs;
    std::unique_ptr<test::ProFtpdServer> pro;
    std::unique_ptr<test::PureFtpdServer> pure;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    std::vector<std::string> reported;
    FtpClient client;
};

// A listing, a file of several TLS records, and a folder: each a data connection of its own, every one
// of which a strict server accepts only when it resumes the control connection's session.
TEST_P(TlsDownload, ListGetAndFolder) {
    std::string big;
    for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + (i * 7) % 26);
    remote.Write("big.bin", big);
    remote.Write("tree/one.txt", "1");
    remote.Write("tree/two.txt", "22");
    Start();

    try {
        client.Login("127.0.0.1", user, password, "", port);
    } catch (const FtpError& e) {
        FAIL() << e.what() << "\n" << ServerLog();
    }
    Listing listing = client.List();
    std::set<std::string> names;
    for (const auto& e : listing.Entries) names.insert(e.Name);
    EXPECT_EQ(names, (std::set<std::string>{"big.bin", "tree"}));

    client.FileType = kFileImage;
    client.Get("big.bin", local / "big.bin");
    EXPECT_EQ(ReadFile(local / "big.bin"), big);

    FileList list;
    client.MGet("/tree/*", local / "tree", list);
    EXPECT_EQ(ReadFile(local / "tree/one.txt"), "1");
    EXPECT_EQ(ReadFile(local / "tree/two.txt"), "22");
    client.Logout();
    EXPECT_TRUE(reported.empty()) << reported.front();
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Modes, TlsDownload,
                         ::testing::Values(
                             // pyftpdlib, which here also answers CCC
                             Case{"Py_ExplicitProtected_5", Server::Py, TlsStart::Explicit, 5},
                             Case{"Py_ExplicitClearData_4", Server::Py, TlsStart::Explicit, 4},
                             Case{"Py_ExplicitWhenOffered_16", Server::Py, TlsStart::Explicit, 16},
                             Case{"Py_ClearCommandsAfterLogon_1", Server::Py, TlsStart::Explicit, 1},
                             Case{"Py_FirewallReady_9", Server::Py, TlsStart::Explicit, 9},
                             Case{"Py_ImplicitProtected_3", Server::Py, TlsStart::Implicit, 3},
                             Case{"Py_ImplicitClearData_2", Server::Py, TlsStart::Implicit, 2},
                             Case{"Py_Active_1", Server::Py, TlsStart::Explicit, 1, false},
                             Case{"Py_Tls12_5", Server::Py, TlsStart::Explicit, 5, true, true},
                             // vsftpd, which refuses a data connection that does not resume the session
                             Case{"Vs_ExplicitProtected_5", Server::Vs, TlsStart::Explicit, 5},
                             Case{"Vs_ExplicitClearData_4", Server::Vs, TlsStart::Explicit, 4},
                             Case{"Vs_ExplicitWhenOffered_16", Server::Vs, TlsStart::Explicit, 16},
                             Case{"Vs_ImplicitProtected_3", Server::Vs, TlsStart::Implicit, 3},
                             Case{"Vs_ImplicitClearData_2", Server::Vs, TlsStart::Implicit, 2},
                             Case{"Vs_Active_5", Server::Vs, TlsStart::Explicit, 5, false},
                             Case{"Vs_Tls12_5", Server::Vs, TlsStart::Explicit, 5, true, true},
                             Case{"Vs_Tls12Implicit_3", Server::Vs, TlsStart::Implicit, 3, true, true},
                             Case{"Vs_Tls12Active_5", Server::Vs, TlsStart::Explicit, 5, false, true},
                             // ProFTPD and Pure-FTPd as their packages set them up
                             Case{"Pro_ExplicitProtected_5", Server::Pro, TlsStart::Explicit, 5},
                             Case{"Pro_ImplicitProtected_3", Server::Pro, TlsStart::Implicit, 3},
                             Case{"Pure_ExplicitProtected_5", Server::Pure, TlsStart::Explicit, 5}),
                         CaseName);

}  // namespace
}  // namespace klvr
