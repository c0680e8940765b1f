#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "transfer/certificates/certificate_file.h"
#include "transfer/certificates/server_verdict.h"

namespace klvr {
namespace {

using test::TestCertificate;
using test::TestCertificates;
using test::TestCertStores;

Certificate Load(const std::filesystem::path& file) {
    return ReadCertificateFile(file).at(0);
}

enum class CaIn { UserRoot, MachineRoot, Nowhere };

struct Case {
    const char* name;
    const TestCertificate TestCertificates::*leaf;
    CaIn ca;
    bool sendCaInChain;
    bool rootTrusted, dateValid, signatureValid;
};

// Each verdict turns False exactly for the certificate that breaks it, and the checks go on after the
// first problem so that one certificate can break two of them.
TEST(ServerCertificateVerdict, EachVerdictFailsExactlyForTheCertificateThatBreaksIt) {
    const auto& certs = TestCertificates::Shared();
    const Case cases[] = {
        {"issued by a CA of the user's ROOT store", &TestCertificates::server, CaIn::UserRoot, false, true,
         true, true},
        {"issued by a CA of the machine's ROOT store", &TestCertificates::server, CaIn::MachineRoot, false,
         true, true, true},
        {"CA sent along and trusted", &TestCertificates::server, CaIn::UserRoot, true, true, true, true},
        {"host name is not judged here", &TestCertificates::wrongHost, CaIn::UserRoot, false, true, true,
         true},
        {"expired", &TestCertificates::expired, CaIn::UserRoot, false, true, false, true},
        {"not yet valid", &TestCertificates::notYetValid, CaIn::MachineRoot, false, true, false, true},
        {"self-signed", &TestCertificates::selfSigned, CaIn::UserRoot, false, false, true, true},
        {"damaged signature", &TestCertificates::badSignature, CaIn::UserRoot, false, true, true, false},
        {"issuer unknown", &TestCertificates::server, CaIn::Nowhere, false, false, true, true},
        {"self-signed root sent along, not trusted", &TestCertificates::server, CaIn::Nowhere, true, false,
         true, true},
        {"expired and issuer unknown", &TestCertificates::expired, CaIn::Nowhere, false, false, false, true},
        // Any other error counts against the signature: a client certificate is not for servers.
        {"wrong purpose", &TestCertificates::client, CaIn::UserRoot, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestCertStores stores;
        if (c.ca == CaIn::UserRoot) stores.Put(1, "ROOT", certs.ca.certPem, "ca.pem");
        if (c.ca == CaIn::MachineRoot) stores.Put(0, "ROOT", certs.ca.certPem, "ca.pem");
        std::vector<Certificate> chain;
        if (c.sendCaInChain) chain.push_back(Load(certs.ca.certPem));

        const ServerCertificateVerdict v = JudgeServerCertificate(Load((certs.*c.leaf).certPem), chain);
        EXPECT_EQ(v.rootTrusted, c.rootTrusted) << v.description;
        EXPECT_EQ(v.dateValid, c.dateValid) << v.description;
        EXPECT_EQ(v.signatureValid, c.signatureValid) << v.description;
        EXPECT_EQ(v.Accepted(), c.rootTrusted && c.dateValid && c.signatureValid);
        EXPECT_EQ(v.description.empty(), v.errors.empty());
    }
}

TEST(ServerCertificateVerdict, AnUnreadableRootStoreFileTrustsNothingAndStopsNothing) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    stores.Put(1, "ROOT", certs.corrupt, "a-corrupt.pem");
    stores.Put(1, "ROOT", certs.ca.certPem, "b-ca.pem");
    std::unique_ptr<FILE, decltype(&std::fclose)> f(std::fopen(certs.server.certPem.c_str(), "r"),
                                                    &std::fclose);
    ASSERT_TRUE(f);
    std::unique_ptr<X509, decltype(&X509_free)> leaf(PEM_read_X509(f.get(), nullptr, nullptr, nullptr),
                                                     &X509_free);
    ASSERT_TRUE(leaf);

    EXPECT_TRUE(JudgeServerCertificate(leaf.get(), nullptr).Accepted());
    EXPECT_FALSE(JudgeServerCertificate(nullptr, nullptr).Accepted());
}

// The system's CAs come from its hashed folder first, and from its bundle file when the folder does not
// settle the chain: a CA that only the bundle holds is trusted all the same, and a chain the folder
// settles is judged without the bundle.
TEST(ServerCertificateVerdict, SystemCasFromTheHashedFolderOrTheBundle) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;  // both ROOT stores empty
    const std::filesystem::path folder = stores.dataHome.parent_path() / "system-certs";
    std::filesystem::create_directories(folder);
    const std::filesystem::path bundle = stores.dataHome.parent_path() / "bundle.pem";
    struct Env {
        const char* name;
        ~Env() { ::unsetenv(name); }
    } file{"SSL_CERT_FILE"}, dir{"SSL_CERT_DIR"};
    ::setenv("SSL_CERT_DIR", folder.c_str(), 1);

    ::setenv("SSL_CERT_FILE", (folder / "none.pem").c_str(), 1);
    EXPECT_FALSE(JudgeServerCertificate(Load(certs.server.certPem), {}).rootTrusted) << "nothing trusted yet";

    std::filesystem::copy_file(certs.ca.certPem, bundle);
    ::setenv("SSL_CERT_FILE", bundle.c_str(), 1);
    EXPECT_TRUE(JudgeServerCertificate(Load(certs.server.certPem), {}).Accepted()) << "the bundle only";

    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx.0",
                  X509_NAME_hash_ex(X509_get_subject_name(Load(certs.ca.certPem).x509.get()), nullptr,
                                    nullptr, nullptr));
    std::filesystem::copy_file(certs.ca.certPem, folder / hash);
    ::setenv("SSL_CERT_FILE", (folder / "none.pem").c_str(), 1);
    EXPECT_TRUE(JudgeServerCertificate(Load(certs.server.certPem), {}).Accepted()) << "the folder only";
    const auto expired = JudgeServerCertificate(Load(certs.expired.certPem), {});
    EXPECT_TRUE(expired.rootTrusted && !expired.dateValid)
        << "judged again against everything, same verdicts";
}

// Some test servers take only RSA keys for older protocol versions; the RSA set must judge the same.
TEST(ServerCertificateVerdict, RsaCertificatesAreJudgedLikeEcOnes) {
    TestCertStores stores;
    const TestCertificates rsa(stores.dataHome.parent_path() / "rsa", test::TestKeyType::Rsa);
    stores.Put(1, "ROOT", rsa.ca.certPem, "ca.pem");
    EXPECT_TRUE(JudgeServerCertificate(Load(rsa.server.certPem), {}).Accepted());
    const auto broken = JudgeServerCertificate(Load(rsa.badSignature.certPem), {});
    EXPECT_TRUE(broken.rootTrusted && broken.dateValid);
    EXPECT_FALSE(broken.signatureValid);
    EXPECT_EQ(ReadCertificateFile(rsa.clientP12).at(0).KeyName, rsa.client.keyName);
}

}  // namespace
}  // namespace klvr
