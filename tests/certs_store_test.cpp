#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "settings/settings_array.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "transfer/certificates/certificate_error.h"
#include "transfer/certificates/certificate_store.h"

namespace klvr {
namespace {

using test::TestCertificates;
using test::TestCertStores;

std::vector<std::string> KeyNames(const CertificateStore& store) {
    std::vector<std::string> names;
    for (const auto& c : store.Certificates()) names.push_back(c.KeyName);
    return names;
}

CertificateStore Loaded(int location, const std::string& name, std::vector<std::string>* errors = nullptr) {
    CertificateStore store;
    store.StoreLocation = location;
    store.StoreName = name;
    store.OnError = [errors](const std::string& text) {
        if (errors) errors->push_back(text);
    };
    store.Refresh();
    return store;
}

TEST(CertificateStore, ListsFilesInNameOrderWithTheirFields) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    // Copied in another order than the names sort, so that directory order cannot pass for name order.
    stores.Put(1, "MY", certs.ca.certPem, "c-authority.pem");
    stores.Put(1, "MY", certs.server.certPem, "a-server.pem");
    stores.Put(1, "MY", certs.client.certAndKeyPem, "b-client.pem");

    std::vector<std::string> errors;
    const CertificateStore store = Loaded(1, "MY", &errors);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(KeyNames(store),
              (std::vector<std::string>{certs.server.keyName, certs.client.keyName, certs.ca.keyName}));

    const Certificate& server = store.Item(1);
    EXPECT_EQ(server.IssuedTo, "localhost");
    EXPECT_EQ(server.IssuedBy, "klvr Test CA");
    EXPECT_EQ(server.FriendlyName, "a-server");
    EXPECT_EQ(server.KeyName.size(), 40u);
    EXPECT_EQ(server.KeyName.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    const auto now = std::chrono::system_clock::now();
    EXPECT_LT(server.ValidFrom, now);
    EXPECT_GT(server.ValidTo, now + std::chrono::hours(24 * 300));
    ASSERT_TRUE(server.x509);
    EXPECT_FALSE(server.privateKey);

    const Certificate& client = store.Item(2);
    EXPECT_EQ(client.IssuedTo, "klvr Test Client");
    ASSERT_TRUE(client.privateKey);
    EXPECT_EQ(X509_check_private_key(client.x509.get(), client.privateKey.get()), 1);
    EXPECT_EQ(store.Item(3).IssuedBy, "klvr Test CA");

    EXPECT_THROW(store.Item(0), SubscriptError);
    EXPECT_THROW(store.Item(4), SubscriptError);
}

TEST(CertificateStore, ReadsPkcs12WithItsFriendlyNameAndKey) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    stores.Put(0, "MY", certs.clientP12, "exported.p12");

    const CertificateStore store = Loaded(0, "MY");
    ASSERT_EQ(store.Count(), 1);
    const Certificate& c = store.Item(1);
    EXPECT_EQ(c.FriendlyName, certs.clientFriendlyName);
    EXPECT_EQ(c.KeyName, certs.client.keyName);
    EXPECT_EQ(c.IssuedTo, "klvr Test Client");
    ASSERT_TRUE(c.privateKey);
    EXPECT_EQ(X509_check_private_key(c.x509.get(), c.privateKey.get()), 1);
}

TEST(CertificateStore, PassesOverFilesItCannotUseAndListsTheRest) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    stores.Put(1, "ROOT", certs.server.certPem, "a.pem");
    stores.Put(1, "ROOT", certs.corrupt, "b-corrupt.pem");
    const auto folder = stores.Folder(1, "ROOT");
    std::ofstream(folder / "c-garbage.p12") << std::string("\x30\x82\x01\x00 not DER at all", 20);
    stores.Put(1, "ROOT", certs.server.keyPem, "d-key-only.pem");
    // A key that belongs to none of the file's certificates could never be presented.
    {
        std::ofstream mixed(folder / "e-wrong-key.pem");
        mixed << std::ifstream(certs.client.certPem).rdbuf() << std::ifstream(certs.server.keyPem).rdbuf();
    }
    std::filesystem::create_directories(folder / "f-subfolder");
    stores.Put(1, "ROOT", certs.server.certPem, ".hidden.pem");
    stores.Put(1, "ROOT", certs.ca.certPem, "g.pem");

    std::vector<std::string> errors;
    const CertificateStore store = Loaded(1, "ROOT", &errors);
    EXPECT_EQ(KeyNames(store), (std::vector<std::string>{certs.server.keyName, certs.ca.keyName}));
    ASSERT_EQ(errors.size(), 4u);
    const char* expected[] = {"b-corrupt.pem", "c-garbage.p12", "d-key-only.pem", "e-wrong-key.pem"};
    for (std::size_t i = 0; i < errors.size(); ++i)
        EXPECT_NE(errors[i].find(expected[i]), std::string::npos) << errors[i];
}

TEST(CertificateStore, EachLocationAndNameHasItsOwnFolder) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    EXPECT_EQ(stores.Folder(0, "ROOT"), stores.machineRoot / "ROOT");
    EXPECT_EQ(stores.Folder(1, "my"), stores.dataHome / "klvrVaultfetch" / "certstores" / "MY");
    stores.Put(0, "MY", certs.client.certAndKeyPem, "client.pem");
    stores.Put(1, "ROOT", certs.ca.certPem, "ca.pem");

    EXPECT_EQ(KeyNames(Loaded(0, "MY")), std::vector<std::string>{certs.client.keyName});
    EXPECT_EQ(KeyNames(Loaded(1, "ROOT")), std::vector<std::string>{certs.ca.keyName});
    EXPECT_EQ(Loaded(0, "ROOT").Count(), 0);  // a missing folder is an empty store
    EXPECT_EQ(Loaded(1, "MY").Count(), 0);

    // A reference from the settings names the store; it must never lead outside the store folders.
    EXPECT_THROW(Loaded(1, "../MY"), CertificateError);
    EXPECT_THROW(Loaded(2, "MY"), CertificateError);
}

TEST(CertificateStore, NamesWithoutCommonNameShowTheWholeSubject) {
    TestCertStores stores;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
    X509_set_version(cert.get(), X509_VERSION_3);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("DE"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Müller, Ltd"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
    const auto folder = stores.Folder(1, "ROOT");
    std::filesystem::create_directories(folder);
    {
        FILE* f = std::fopen((folder / "nocn.pem").c_str(), "w");
        ASSERT_NE(f, nullptr);
        PEM_write_X509(f, cert.get());
        std::fclose(f);
    }
    const CertificateStore store = Loaded(1, "ROOT");
    ASSERT_EQ(store.Count(), 1);
    EXPECT_EQ(store.Item(1).IssuedTo, "C = DE, O = \"Müller, Ltd\"");
    EXPECT_EQ(store.Item(1).IssuedBy, store.Item(1).IssuedTo);
}

TEST(CertificateList, SelectionFollowsTheModelAndRefreshClearsIt) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    stores.Put(1, "MY", certs.server.certPem, "a.pem");
    stores.Put(1, "MY", certs.client.certAndKeyPem, "b.pem");

    CertificateList list;
    int selectionEvents = 0, acceptEvents = 0;
    list.OnSelectionChanged = [&] { ++selectionEvents; };
    list.OnAccept = [&] { ++acceptEvents; };
    list.StoreLocation = 1;
    list.StoreName = "MY";
    list.Refresh();
    EXPECT_EQ(list.SelectedIndex(), 0);
    list.Accept();  // nothing selected: nothing to accept
    EXPECT_EQ(acceptEvents, 0);

    list.Select(2);
    list.Select(2);
    EXPECT_EQ(list.SelectedIndex(), 2);
    EXPECT_EQ(selectionEvents, 1);
    list.Accept();
    EXPECT_EQ(acceptEvents, 1);
    EXPECT_THROW(list.Select(3), SubscriptError);
    EXPECT_EQ(list.SelectedIndex(), 2);

    list.Refresh();
    EXPECT_EQ(list.SelectedIndex(), 0);
    EXPECT_EQ(selectionEvents, 2);
}

TEST(CertificateList, UsageFilterKeepsCertificatesThatAllowIt) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    stores.Put(0, "ROOT", certs.ca.certPem, "a-ca.pem");
    stores.Put(0, "ROOT", certs.server.certPem, "b-server.pem");

    CertificateList list;
    list.StoreLocation = 0;
    list.StoreName = "ROOT";
    const auto listed = [&](int usage) {
        list.CertificateUsage = usage;
        list.Refresh();
        return KeyNames(list);
    };
    EXPECT_EQ(listed(0), (std::vector<std::string>{certs.ca.keyName, certs.server.keyName}));
    EXPECT_EQ(listed(0x04), std::vector<std::string>{certs.ca.keyName});      // certificate signing
    EXPECT_EQ(listed(0x80), std::vector<std::string>{certs.server.keyName});  // digital signature
}

}  // namespace
}  // namespace klvr
