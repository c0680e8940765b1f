#include "support/test_certificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "transfer/certificates/certificate_fields.h"

namespace klvr::test {
namespace {

namespace fs = std::filesystem;

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 60 * 60;

[[noreturn]] void Fail(const std::string& what) {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error("test certificates: " + what + ": " + text);
}

KeyPtr NewKey(TestKeyType type) {
    EVP_PKEY* key = type == TestKeyType::Ec
                        ? EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")
                        : EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
    if (key == nullptr) Fail("key generation");
    return KeyPtr(key, &EVP_PKEY_free);
}

struct Profile {
    std::string commonName;
    long notBeforeOffset = -kDay;  // seconds from now
    long notAfterOffset = 365 * kDay;
    bool isCa = false;
    std::string subjectAltName;    // e.g. "DNS:localhost"; empty: none
    std::string extendedKeyUsage;  // e.g. "serverAuth"; empty: none
};

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    if (ext == nullptr || X509_add_ext(cert, ext, -1) != 1) Fail("extension " + value);
    X509_EXTENSION_free(ext);
}

// Issues a certificate for key; issuer and issuerKey null make it self-signed.
X509Ptr Issue(const Profile& profile, EVP_PKEY* key, TestKeyType type, X509* issuer, EVP_PKEY* issuerKey) {
    X509Ptr cert(X509_new(), &X509_free);
    if (!cert) Fail("X509_new");
    X509_set_version(cert.get(), X509_VERSION_3);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;  // a positive serial number
    std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(BN_bin2bn(serial, sizeof serial, nullptr), &BN_free);
    BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get()));
    X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, profile.notBeforeOffset, nullptr);
    X509_time_adj_ex(X509_getm_notAfter(cert.get()), 0, profile.notAfterOffset, nullptr);
    X509_set_pubkey(cert.get(), key);

    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("klvr test"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(profile.commonName.c_str()), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, signer, cert.get(), nullptr, nullptr, 0);
    if (profile.isCa) {
        AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), &ctx, NID_key_usage,
                     type == TestKeyType::Ec ? "critical,digitalSignature"
                                             : "critical,digitalSignature,keyEncipherment");
    }
    AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (issuer != nullptr) AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid");
    if (!profile.subjectAltName.empty())
        AddExtension(cert.get(), &ctx, NID_subject_alt_name, profile.subjectAltName);
    if (!profile.extendedKeyUsage.empty())
        AddExtension(cert.get(), &ctx, NID_ext_key_usage, profile.extendedKeyUsage);

    if (X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) <= 0) Fail("signing");
    return cert;
}

// The same certificate with one byte of its signature changed: it still parses, but no longer verifies.
X509Ptr DamageSignature(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    if (length <= 0) Fail("encoding");
    std::vector<unsigned char> bytes(der, der + length);
    OPENSSL_free(der);
    bytes[bytes.size() - 2] ^= 0x5A;  // the signature value ends the encoding
    const unsigned char* p = bytes.data();
    X509Ptr damaged(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())), &X509_free);
    if (!damaged) Fail("decoding the damaged certificate");
    return damaged;
}

using FilePtr = std::unique_ptr<FILE, decltype(&std::fclose)>;

FilePtr Create(const fs::path& path, mode_t mode) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("test certificates: cannot write " + path.string());
    ::chmod(path.c_str(), mode);
    return FilePtr(f, &std::fclose);
}

void WriteCert(FILE* f, X509* cert) {
    if (PEM_write_X509(f, cert) != 1) Fail("writing a certificate");
}

void WriteKey(FILE* f, EVP_PKEY* key) {
    if (PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) != 1) Fail("writing a key");
}

TestCertificate Save(const fs::path& folder, const std::string& name, X509* cert, EVP_PKEY* key,
                     const std::string& commonName) {
    TestCertificate t;
    t.certPem = folder / (name + "-cert.pem");
    t.keyPem = folder / (name + "-key.pem");
    t.certAndKeyPem = folder / (name + ".pem");
    WriteCert(Create(t.certPem, 0644).get(), cert);
    WriteKey(Create(t.keyPem, 0600).get(), key);
    {
        FilePtr f = Create(t.certAndKeyPem, 0600);
        WriteCert(f.get(), cert);
        WriteKey(f.get(), key);
    }
    t.keyName = Fingerprint(cert);
    t.commonName = commonName;
    return t;
}

}  // namespace

TestCertificates::TestCertificates(const fs::path& where, TestKeyType type) : folder(where) {
    fs::create_directories(folder);
    const std::string kLocalhostNames = "DNS:localhost,IP:127.0.0.1,IP:::1";

    KeyPtr caKey = NewKey(type);
    Profile caProfile{"klvr Test CA", -kDay, 3650 * kDay, true, "", ""};
    X509Ptr caCert = Issue(caProfile, caKey.get(), type, nullptr, nullptr);
    ca = Save(folder, "ca", caCert.get(), caKey.get(), caProfile.commonName);

    const auto issueByCa = [&](const std::string& name, Profile profile, bool damage = false) {
        KeyPtr key = NewKey(type);
        X509Ptr cert = Issue(profile, key.get(), type, caCert.get(), caKey.get());
        if (damage) cert = DamageSignature(cert.get());
        return Save(folder, name, cert.get(), key.get(), profile.commonName);
    };
    server = issueByCa("server", {"localhost", -kDay, 365 * kDay, false, kLocalhostNames, "serverAuth"});
    wrongHost = issueByCa("wrong-host", {"wrong-host.invalid", -kDay, 365 * kDay, false,
                                         "DNS:wrong-host.invalid", "serverAuth"});
    sanOnly =
        issueByCa("san-only", {"klvr Test Server", -kDay, 365 * kDay, false, kLocalhostNames, "serverAuth"});
    wildcard = issueByCa("wildcard",
                         {"klvr Test Wildcard", -kDay, 365 * kDay, false, "DNS:*.klvr.test", "serverAuth"});
    expired = issueByCa("expired", {"localhost", -30 * kDay, -kDay, false, kLocalhostNames, "serverAuth"});
    notYetValid =
        issueByCa("not-yet-valid", {"localhost", kDay, 30 * kDay, false, kLocalhostNames, "serverAuth"});
    badSignature = issueByCa("bad-signature",
                             {"localhost", -kDay, 365 * kDay, false, kLocalhostNames, "serverAuth"}, true);
    {
        KeyPtr key = NewKey(type);
        Profile profile{"localhost", -kDay, 365 * kDay, false, kLocalhostNames, "serverAuth"};
        X509Ptr cert = Issue(profile, key.get(), type, nullptr, nullptr);
        selfSigned = Save(folder, "self-signed", cert.get(), key.get(), profile.commonName);
    }
    {
        KeyPtr key = NewKey(type);
        Profile profile{"klvr Test Client", -kDay, 365 * kDay, false, "", "clientAuth"};
        X509Ptr cert = Issue(profile, key.get(), type, caCert.get(), caKey.get());
        client = Save(folder, "client", cert.get(), key.get(), profile.commonName);

        // The form other tools give a PKCS#12 "without a password": an empty one, with a MAC.
        clientFriendlyName = "klvr test client";
        std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(
            PKCS12_create("", clientFriendlyName.c_str(), key.get(), cert.get(), nullptr, 0, 0, 0, 0, 0),
            &PKCS12_free);
        if (!p12) Fail("PKCS#12");
        clientP12 = folder / "client.p12";
        if (i2d_PKCS12_fp(Create(clientP12, 0600).get(), p12.get()) != 1) Fail("writing PKCS#12");
    }
    corrupt = folder / "corrupt.pem";
    std::ofstream(corrupt)
        << "-----BEGIN CERTIFICATE-----\nThis is not a certificate.\n-----END CERTIFICATE-----\n";
}

const TestCertificates& TestCertificates::Shared() {
    struct Holder {
        fs::path folder;
        std::unique_ptr<TestCertificates> set;
        Holder() {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern =
                std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/klvr-certs-XXXXXX";
            if (::mkdtemp(pattern.data()) == nullptr)
                throw std::runtime_error("test certificates: mkdtemp failed");
            folder = pattern;
            set = std::make_unique<TestCertificates>(folder);
        }
        ~Holder() {
            std::error_code ec;
            fs::remove_all(folder, ec);
        }
    };
    static Holder holder;
    return *holder.set;
}

}  // namespace klvr::test
