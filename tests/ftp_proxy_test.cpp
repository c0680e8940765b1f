// Every proxy kind against a real peer: dante for SOCKS4 and SOCKS5, tinyproxy for HTTP CONNECT, and a
// relaying gateway for the SITE, USER and OPEN logons; behind each a real pyftpdlib server.
#include <gtest/gtest.h>

#include <memory>

#include "support/ftp_servers.h"
#include "support/proxies.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

class ProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        remote.Write("data.bin", std::string(300000, 'p'));
        remote.Write("sub/small.txt", "s");
        test::PyFtpdOptions options;
        options.root = remote.Path();
        server = std::make_unique<test::PyFtpdServer>(options);
        client.Timeout = 10000;
        client.FileType = kFileImage;
    }
    // Logs on through the proxy and fetches a file and a folder.
    void RoundTrip(const std::string& host = "127.0.0.1") {
        client.Login(host, "user", "secret", "", server->Port());
        EXPECT_EQ(client.List().Entries.size(), 2u);
        client.Get("data.bin", local / "data.bin");
        EXPECT_EQ(ReadFile(local / "data.bin"), std::string(300000, 'p'));
        FileList list;
        client.MGet("/sub/*", local / "sub", list);
        EXPECT_EQ(ReadFile(local / "sub/small.txt"), "s");
        client.Logout();
    }
    std::string LoginFailure() {
        try {
            client.Login("127.0.0.1", "user", "secret", "", server->Port());
        } catch (const FtpError& e) {
            return e.what();
        }
        return "";
    }

    TempDir remote;
    TempDir local;
    std::unique_ptr<test::PyFtpdServer> server;
    FtpClient client;
};

TEST_F(ProxyTest, Socks4AndSocks4a) {
    test::DanteProxy proxy;
    client.ProxyType = kProxySocks4;
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = proxy.Port();
    client.ProxyUsername = "someone";  // the SOCKS4 user id
    client.Passive = false;            // a tunnel carries passive data connections whatever is set
    RoundTrip();
}

// dante does not speak SOCKS4a, nor does any other proxy Debian carries that a test could start, so a
// name over SOCKS4 is checked against a small relaying peer of the tests' own.
TEST_F(ProxyTest, Socks4aForNames) {
    test::Socks4aRelay proxy;
    client.ProxyType = kProxySocks4;
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = proxy.Port();
    client.ProxyUsername = "someone";
    RoundTrip("localhost");
    EXPECT_EQ(proxy.Requests().front(), "someone@localhost:" + std::to_string(server->Port()));
}

TEST_F(ProxyTest, Socks5) {
    test::DanteProxy proxy;
    client.ProxyType = kProxySocks5;
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = proxy.Port();
    RoundTrip();
    RoundTrip("localhost");
}

TEST_F(ProxyTest, Socks5WithUserAndPassword) {
    if (!test::DanteProxy::CanCheckUsers()) GTEST_SKIP() << "needs root for dante's private password files";
    test::DanteProxy proxy("sockuser", "s3cret pass");
    client.ProxyType = kProxySocks5;
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = proxy.Port();
    client.ProxyUsername = "sockuser";
    client.ProxyPassword = "s3cret pass";
    RoundTrip();

    client.ProxyPassword = "wrong";
    EXPECT_EQ(LoginFailure(), "The SOCKS5 proxy refused the user name or password");
    client.ProxyUsername = "";
    EXPECT_EQ(
        LoginFailure(),
        "The SOCKS5 proxy accepts none of the offered authentication methods (it may want a user name and "
        "password)");
    EXPECT_EQ(client.State(), 0);
}

TEST_F(ProxyTest, HttpConnect) {
    test::TinyProxy open;
    client.ProxyType = kProxyPipe;
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = open.Port();
    RoundTrip();

    test::TinyProxy guarded("puser", "ppass");
    client.ProxyPort = guarded.Port();
    client.ProxyUsername = "puser";
    client.ProxyPassword = "ppass";
    RoundTrip();
    client.ProxyPassword = "wrong";
    EXPECT_EQ(LoginFailure().rfind("The HTTP proxy refused the tunnel to 127.0.0.1:", 0), 0u);
}

TEST_F(ProxyTest, GatewayLogons) {
    std::string port = std::to_string(server->Port());
    struct Case {
        int kind;
        std::vector<std::string> gatewaySaw;
    };
    const Case cases[] = {
        {kProxySite, {"USER puser", "PASS ppass", "SITE 127.0.0.1:" + port}},
        {kProxyUserLogon, {"USER puser", "PASS ppass", "USER user@127.0.0.1:" + port}},
        {kProxyUserNoLogon, {"USER user@127.0.0.1:" + port}},
        {kProxyOpen, {"OPEN 127.0.0.1:" + port}},
    };
    for (const auto& c : cases) {
        test::FtpGateway gateway(c.kind);
        client.ProxyType = c.kind;
        client.ProxyHost = "127.0.0.1";
        client.ProxyPort = gateway.Port();
        client.ProxyUsername = "puser";
        client.ProxyPassword = "ppass";
        RoundTrip();
        EXPECT_EQ(gateway.Commands(), c.gatewaySaw) << c.kind;
        EXPECT_EQ(gateway.Failures(), "") << c.kind;
    }
}

TEST_F(ProxyTest, UnreachableProxyAndMissingProxyHost) {
    client.ProxyType = kProxySocks5;
    client.ProxyHost = "";
    EXPECT_EQ(LoginFailure(), "ProxyType 2 needs a ProxyHost");
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = test::FreePort();
    EXPECT_EQ(LoginFailure().rfind("Cannot connect to 127.0.0.1 port", 0), 0u);
}

}  // namespace
}  // namespace klvr
