#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
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

// The system's CAs come from its hashed folder first, and from the bundle file only for what the folder
// does not settle, reading from the bundle just the certificates a chain could meet: every verdict is the
// one that OpenSSL's reading of the whole bundle and folder gives.
TEST(ServerCertificateVerdict, SystemCasFromTheHashedFolderOrTheBundle) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;  // both ROOT stores empty
    const std::filesystem::path base = stores.dataHome.parent_path();
    const std::filesystem::path folder = base / "system-certs";
    std::filesystem::create_directories(folder);
    struct Env {
        const char* name;
        ~Env() { ::unsetenv(name); }
    } file{"SSL_CERT_FILE"}, dir{"SSL_CERT_DIR"};
    ::setenv("SSL_CERT_DIR", folder.c_str(), 1);

    const std::string ca = test::ReadFile(certs.ca.certPem);
    std::string trustedForm;  // the CA with OpenSSL's trust settings: "TRUSTED CERTIFICATE"
    {
        std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
        PEM_write_bio_X509_AUX(out.get(), Load(certs.ca.certPem).x509.get());
        char* data = nullptr;
        trustedForm.assign(data, static_cast<std::size_t>(BIO_get_mem_data(out.get(), &data)));
    }
    const std::string systemFile = "/etc/ssl/certs/ca-certificates.crt";
    const std::string system = test::Exists(systemFile) ? test::ReadFile(systemFile) : std::string();
    const std::string broken = "-----BEGIN CERTIFICATE-----\n!!not base64!!\n-----END CERTIFICATE-----\n";
    struct Case {
        const char* name;
        std::string bundle;  // empty: no bundle file
        bool inFolder;       // the CA also in the hashed folder
        bool trusted;
    };
    const Case cases[] = {
        {"nothing", "", false, false},
        {"the bundle holds the CA", ca, false, true},
        {"the CA amid the system's bundle", system + ca + system, false, true},
        {"the CA with trust settings", trustedForm, false, true},
        {"a bundle that breaks off is not read, as OpenSSL reads it", ca + broken, false, false},
        {"the folder holds the CA", "", true, true},
    };
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx.0",
                  X509_NAME_hash_ex(X509_get_subject_name(Load(certs.ca.certPem).x509.get()), nullptr,
                                    nullptr, nullptr));
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path bundle = base / ("bundle" + std::to_string(++round) + ".pem");
        if (!c.bundle.empty()) std::ofstream(bundle, std::ios::binary) << c.bundle;
        ::setenv("SSL_CERT_FILE", bundle.c_str(), 1);
        std::filesystem::remove(folder / hash);
        if (c.inFolder) std::filesystem::copy_file(certs.ca.certPem, folder / hash);
        const auto whole = ServerTrustStore();  // OpenSSL's reading of all of it
        for (const TestCertificate* leaf :
             {&certs.server, &certs.expired, &certs.selfSigned, &certs.wildcard}) {
            const Certificate cert = Load(leaf->certPem);
            const auto v = JudgeServerCertificate(cert, {});
            const auto reference = JudgeServerCertificate(cert.x509.get(), nullptr, whole.get());
            EXPECT_EQ(v.errors, reference.errors) << leaf->certPem;
            EXPECT_EQ(v.description, reference.description);
        }
        EXPECT_EQ(JudgeServerCertificate(Load(certs.server.certPem), {}).Accepted(), c.trusted);
    }
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
