// The server's certificate as the Authenticate event sees it, the handler's last word on it, and the
// client certificate handed over when a server asks for one; real servers with certificates made for
// the test.
#include <gtest/gtest.h>

#include <memory>

#include "support/ftp_servers.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "transfer/certificates/certificate_store.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;
using test::TestCertificate;
using test::TestCertificates;

std::unique_ptr<test::PyFtpdServer> StartPyFtpd(const TempDir& root, const test::ServerTls& tls) {
    test::PyFtpdOptions options;
    options.root = root.Path();
    test::UseTls(options, tls);
    return std::make_unique<test::PyFtpdServer>(options);
}

struct Seen {
    int calls = 0;
    Certificate certificate;
    bool rootTrusted = false;
    bool dateValid = false;
    bool signatureValid = false;
    bool accept = false;
};

struct VerdictCase {
    const char* name;
    const TestCertificate TestCertificates::*certificate;
    bool caTrusted;
    bool rootTrusted;
    bool dateValid;
    bool signatureValid;
};

// Each verdict is false exactly for the certificate that breaks it; the host name is not the
// component's business (the run's handler compares IssuedTo itself).
TEST(ServerCertificate, EachVerdictFalseExactlyForTheCertificateThatBreaksIt) {
    const VerdictCase cases[] = {
        {"issued by the trusted CA", &TestCertificates::server, true, true, true, true},
        {"for another host", &TestCertificates::wrongHost, true, true, true, true},
        {"expired", &TestCertificates::expired, true, true, false, true},
        {"not yet valid", &TestCertificates::notYetValid, true, true, false, true},
        {"self-signed", &TestCertificates::selfSigned, true, false, true, true},
        {"with a damaged signature", &TestCertificates::badSignature, true, true, true, false},
        {"issued by a CA nobody trusts", &TestCertificates::server, false, false, true, true},
    };
    const TestCertificates& certs = TestCertificates::Shared();
    TempDir root;
    root.Write("f.txt", "f");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TestCertStores stores;
        if (c.caTrusted) stores.Put(0, "ROOT", certs.ca.certPem, "test-ca.pem");
        test::ServerTls tls;
        tls.certificate = &(certs.*c.certificate);
        auto server = StartPyFtpd(root, tls);

        FtpClient client;
        client.Timeout = 15000;
        client.Security = 5;
        Seen seen;
        client.OnAuthenticate = [&](const Certificate& cert, bool rootTrusted, bool dateValid,
                                    bool signatureValid, bool& accept, std::string&) {
            ++seen.calls;
            seen = {seen.calls, cert, rootTrusted, dateValid, signatureValid, accept};
        };
        bool allHold = c.rootTrusted && c.dateValid && c.signatureValid;
        try {
            client.Login("127.0.0.1", "user", "secret", "", server->Port());
            EXPECT_TRUE(allHold) << "a refused certificate let the logon through";
            client.Logout();
        } catch (const FtpError& e) {
            EXPECT_FALSE(allHold) << e.what();
            EXPECT_NE(std::string(e.what()).find("Server certificate refused"), std::string::npos)
                << e.what();
            EXPECT_EQ(client.State(), 0);
        }
        ASSERT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.rootTrusted, c.rootTrusted);
        EXPECT_EQ(seen.dateValid, c.dateValid);
        EXPECT_EQ(seen.signatureValid, c.signatureValid);
        EXPECT_EQ(seen.accept, allHold);
        EXPECT_EQ(seen.certificate.KeyName, (certs.*c.certificate).keyName);
        EXPECT_EQ(seen.certificate.IssuedTo, (certs.*c.certificate).commonName);
    }
}

// The handler's final accept decides, both ways; without a handler the verdicts decide. A refusal is
// described by the handler's reason, else by the checks that failed.
TEST(ServerCertificate, TheHandlersLastWordDecides) {
    const TestCertificates& certs = TestCertificates::Shared();
    test::TestCertStores stores;
    stores.Put(1, "ROOT", certs.ca.certPem, "test-ca.pem");
    TempDir root;
    root.Write("f.txt", "content");
    TempDir local;

    struct Case {
        const char* name;
        const TestCertificate* certificate;
        std::function<void(bool&, std::string&)> handler;  // empty: no handler at all
        bool loggedOn;
        std::string description;  // of the refusal
    };
    const Case cases[] = {
        {"self-signed, accepted by the handler", &certs.selfSigned,
         [](bool& accept, std::string&) { accept = true; }, true, ""},
        {"trusted, refused by the handler", &certs.server, [](bool& accept, std::string&) { accept = false; },
         false, "Server certificate refused [localhost]"},
        {"untrusted, refused by the handler for its name", &certs.selfSigned,
         [](bool&, std::string& refusal) { refusal = "not the site's name"; }, false,
         "Server certificate refused [localhost]: not the site's name"},
        {"trusted, no handler", &certs.server, nullptr, true, ""},
        {"expired, no handler", &certs.expired, nullptr, false,
         "Server certificate refused [localhost]: certificate has expired"},
        {"trusted, a handler that fails", &certs.server,
         [](bool&, std::string&) { throw std::runtime_error("handler broke"); }, false,
         "Server certificate refused [localhost]: handler broke"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ServerTls tls;
        tls.certificate = c.certificate;
        auto server = StartPyFtpd(root, tls);
        FtpClient client;
        client.Timeout = 15000;
        client.Security = 5;
        if (c.handler) {
            client.OnAuthenticate = [&](const Certificate&, bool, bool, bool, bool& accept,
                                        std::string& refusal) { c.handler(accept, refusal); };
        }
        if (!c.loggedOn) {
            try {
                client.Login("127.0.0.1", "user", "secret", "", server->Port());
                ADD_FAILURE() << "logged on";
            } catch (const FtpError& e) {
                EXPECT_EQ(e.what(), c.description);
            }
            EXPECT_EQ(client.State(), 0);
            continue;
        }
        client.Login("127.0.0.1", "user", "secret", "", server->Port());
        client.Get("f.txt", local / "f.txt");
        EXPECT_EQ(ReadFile(local / "f.txt"), "content");
        client.Logout();
    }
}

// A server that insists on a client certificate gets the one the handler of CertificateRequested takes
// from a store, with its key, on the control connection and on every data connection.
class ClientCertificate : public ::testing::TestWithParam<bool> {};

TEST_P(ClientCertificate, FromAStoreToAServerThatRequiresOne) {
    const bool vsftpd = GetParam();
    const TestCertificates& certs = TestCertificates::Shared();
    test::TestCertStores stores;
    stores.Put(0, "ROOT", certs.ca.certPem, "test-ca.pem");
    stores.Put(1, "MY", certs.client.certAndKeyPem, "client.pem");
    TempDir work;
    TempDir root;
    root.Write("a.txt", "alpha");
    root.Write("b.txt", "beta");
    TempDir local;

    test::ServerTls tls;
    tls.requireClientCertificate = true;
    std::unique_ptr<test::PyFtpdServer> py;
    std::unique_ptr<test::VsftpdServer> vs;
    std::uint16_t port;
    std::string user = "user";
    std::string password = "secret";
    if (vsftpd) {
        test::VsftpdOptions options;
        options.root = root.Path();
        test::UseTls(options, tls, work);
        vs = std::make_unique<test::VsftpdServer>(options);
        port = vs->Port();
        user = "anonymous";
        password = "guest@";
    } else {
        py = StartPyFtpd(root, tls);
        port = py->Port();
    }

    auto connect = [&](bool presentOne) {
        auto client = std::make_unique<FtpClient>();
        client->Timeout = 15000;
        client->Security = 5;
        client->OnCertificateRequested = [c = client.get(), presentOne, &certs] {
            if (!presentOne) return;
            CertificateStore store;
            store.StoreLocation = 1;
            store.StoreName = "MY";
            store.Refresh();
            for (const auto& candidate : store.Certificates())
                if (candidate.KeyName == certs.client.keyName) c->Certificate = candidate;
        };
        return client;
    };

    auto withCertificate = connect(true);
    int requests = 0;
    auto handler = withCertificate->OnCertificateRequested;
    withCertificate->OnCertificateRequested = [&] {
        ++requests;
        handler();
    };
    withCertificate->Login("127.0.0.1", user, password, "", port);
    EXPECT_EQ(requests, 1);
    ASSERT_TRUE(withCertificate->Certificate);
    withCertificate->FileType = kFileImage;
    withCertificate->Get("a.txt", local / "a.txt");
    withCertificate->Get("b.txt", local / "b.txt");
    EXPECT_EQ(ReadFile(local / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(local / "b.txt"), "beta");
    withCertificate->Logout();

    auto without = connect(false);
    try {
        without->Login("127.0.0.1", user, password, "", port);
        without->Get("a.txt", local / "again.txt");
        ADD_FAILURE() << "the server took a session without a client certificate";
    } catch (const FtpError& e) {
        EXPECT_EQ(without->State(), 0);
        EXPECT_NE(std::string(e.what()).find("certificate"), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientCertificate, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "vsftpd" : "pyftpdlib"; });

}  // namespace
}  // namespace klvr
