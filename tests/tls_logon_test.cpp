// The logon of each security mode where it differs from plain FTP: the one-time password, TLS only
// when the server offers it, obsolete protocols, no TLS at all, and a refused PROT P.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ftp_servers.h"
#include "support/ports.h"
#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

bool SentPassword(const std::vector<std::string>& commands) {
    return std::any_of(commands.begin(), commands.end(),
                       [](const std::string& c) { return c.rfind("PASS", 0) == 0; });
}

// The password is the pass-phrase: what goes out is the answer to the server's challenge.
TEST(OneTimePasswordLogon, AnswersTheChallengeOfTheAnswerToUser) {
    struct Case {
        const char* challenge;
        const char* passPhrase;
        const char* pass;
    };
    const Case cases[] = {
        {"331 Response to otp-md5 99 TeSt required.", "This is a test.", "PASS 50FE1962C4965880"},
        {"331 otp-sha1 1 alpha1 ext", "AbCdEfGhIjK", "PASS D07CE229B5CF119B"},
    };
    for (const auto& c : cases) {
        test::ScriptedFtpServer server(std::string("> 220 ready\n< USER u\n> ") + c.challenge + "\n< " +
                                       c.pass + "\n> 230 in\n< QUIT\n> 221 bye\n");
        FtpClient client;
        client.Timeout = 10000;
        client.Security = 8;
        client.Login("127.0.0.1", "u", c.passPhrase, "", server.Port());
        client.Logout();
        EXPECT_EQ(server.Finish(), "") << c.challenge;
    }
}

TEST(OneTimePasswordLogon, WithoutAChallengeThePasswordIsNeverSent) {
    for (const char* answer : {"331 Password required for u.", "331 s/key 99 ke1234"}) {
        test::ScriptedFtpServer server(std::string("> 220 ready\n< USER u\n> ") + answer + "\nhang\n");
        FtpClient client;
        client.Timeout = 10000;
        client.Security = 8;
        try {
            client.Login("127.0.0.1", "u", "secret", "", server.Port());
            ADD_FAILURE() << "logged on without a challenge";
        } catch (const FtpError& e) {
            EXPECT_NE(std::string(e.what()).find("one-time-password challenge"), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(client.State(), 0);
        server.Finish();
        EXPECT_FALSE(SentPassword(server.Commands())) << answer;
    }
}

// Security 16 against a server without TLS: a warning through ErrorReported, then plain FTP. And
// SecurityProtocol 5 (None) means no TLS whatever the mode.
TEST(TlsWhenOffered, PlainServerGetsPlainFtpWithAWarning) {
    TempDir root;
    root.Write("f.txt", "plain");
    TempDir local;
    test::PyFtpdOptions options;
    options.root = root.Path();
    test::PyFtpdServer server(options);

    struct Case {
        int security;
        int securityProtocol;
        bool warned;
    };
    for (const auto& c : {Case{16, 0, true}, Case{5, 5, false}, Case{3, 5, false}}) {
        FtpClient client;
        client.Timeout = 10000;
        client.Security = c.security;
        client.SecurityProtocol = c.securityProtocol;
        std::vector<std::string> reported;
        client.OnErrorReported = [&](int, const std::string& text) { reported.push_back(text); };
        client.Login("127.0.0.1", "user", "secret", "", server.Port());
        client.Get("f.txt", local / "f.txt");
        EXPECT_EQ(ReadFile(local / "f.txt"), "plain");
        client.Logout();
        ASSERT_EQ(reported.size(), c.warned ? 1u : 0u) << c.security;
        if (c.warned) {
            EXPECT_NE(reported[0].find("does not offer TLS"), std::string::npos) << reported[0];
        }
    }
}

// SSL 3, SSL 2 and PCT are refused before anything is sent, with the setting's name in the reason.
TEST(SecurityProtocol, ObsoleteProtocolsAreRefusedAtLogon) {
    for (auto [value, name] : {std::pair{1, "SSL3"}, std::pair{2, "SSL2"}, std::pair{3, "PCT"}}) {
        FtpClient client;
        client.Timeout = 10000;
        client.Security = 5;
        client.SecurityProtocol = value;
        try {
            // nothing listens there: a connection attempt would fail with another reason
            client.Login("127.0.0.1", "u", "p", "", test::FreePort());
            ADD_FAILURE() << name << " was not refused";
        } catch (const FtpError& e) {
            std::string text = e.what();
            EXPECT_NE(text.find("SecurityProtocol"), std::string::npos) << text;
            EXPECT_NE(text.find(name), std::string::npos) << text;
            EXPECT_NE(text.find("obsolete"), std::string::npos) << text;
        }
        EXPECT_EQ(client.State(), 0);
    }
}

// A server that will not protect data connections ends the logon of a protecting mode; the
// clear-data mode still works with it.
TEST(ProtectedData, RefusedProtIsAFailureNeverAFallBack) {
    test::TestCertStores stores;
    stores.Put(0, "ROOT", test::TestCertificates::Shared().ca.certPem, "test-ca.pem");
    TempDir root;
    root.Write("f.txt", "data");
    TempDir local;
    test::ServerTls tls;
    tls.refuseProtectedData = true;
    test::PyFtpdOptions options;
    options.root = root.Path();
    test::UseTls(options, tls);
    test::PyFtpdServer server(options);

    FtpClient client;
    client.Timeout = 10000;
    client.Security = 5;
    try {
        client.Login("127.0.0.1", "user", "secret", "", server.Port());
        ADD_FAILURE() << "PROT P refused, yet logged on";
    } catch (const FtpError& e) {
        EXPECT_NE(std::string(e.what()).find("(PROT P): 534"), std::string::npos) << e.what();
    }
    EXPECT_EQ(client.State(), 0);

    client.Security = 4;
    client.Login("127.0.0.1", "user", "secret", "", server.Port());
    client.Get("f.txt", local / "f.txt");
    EXPECT_EQ(ReadFile(local / "f.txt"), "data");
    client.Logout();
}

}  // namespace
}  // namespace klvr
