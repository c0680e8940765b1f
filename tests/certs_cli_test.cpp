#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "transfer/certificates/certificate_store.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;
using test::TestCertificates;
using test::TestCertStores;

// vaultfetch certs with the test's machine stores; the user stores follow the XDG_DATA_HOME that
// TestCertStores set in this process, which the child inherits.
test::ProcessResult Certs(const TestCertStores& stores, std::vector<std::string> args) {
    std::vector<std::string> argv{KLVR_CLI_PATH, "certs"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--machine-root");
    argv.push_back(stores.machineRoot.string());
    return test::RunProcess(argv);
}

// The lines listed under one store's heading ("MY, current user" ...).
std::string Section(const std::string& listing, const std::string& heading) {
    std::istringstream in(listing);
    std::string line, section;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("  ", 0) != 0)
            inside = line.rfind(heading + ":", 0) == 0;
        else if (inside)
            section += line + "\n";
    }
    return section;
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
    return files;
}

mode_t Mode(const fs::path& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mode & 07777;
}

std::string Contents(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CertsCommand, ImportListAndRemoveRoundTrip) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;

    auto r =
        Certs(stores, {"import", certs.client.certAndKeyPem.string(), "--store", "MY", "--location", "user"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Certs(stores, {"import", certs.clientP12.string(), "--store", "MY", "--location", "machine"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Certs(stores,
              {"import", certs.server.certAndKeyPem.string(), "--store", "ROOT", "--location", "user"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const auto userMy = FilesIn(stores.Folder(1, "MY"));
    ASSERT_EQ(userMy.size(), 1u);
    EXPECT_EQ(Mode(userMy[0]), 0600u);  // it holds a private key
    const auto userRoot = FilesIn(stores.Folder(1, "ROOT"));
    ASSERT_EQ(userRoot.size(), 1u);
    EXPECT_EQ(Contents(userRoot[0]).find("PRIVATE KEY"), std::string::npos);  // a ROOT store holds no keys

    // What the runs and the picker read: the imported client certificate, with its key.
    CertificateStore store;
    store.StoreLocation = 1;
    store.StoreName = "MY";
    store.Refresh();
    ASSERT_EQ(store.Count(), 1);
    EXPECT_EQ(store.Item(1).KeyName, certs.client.keyName);
    EXPECT_TRUE(store.Item(1).privateKey);

    r = Certs(stores, {"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(Section(r.out, "MY, current user").find(certs.client.keyName), std::string::npos) << r.out;
    EXPECT_NE(Section(r.out, "MY, current user").find("IssuedTo: klvr Test Client  IssuedBy: klvr Test CA"),
              std::string::npos)
        << r.out;
    EXPECT_NE(Section(r.out, "MY, local machine").find(certs.client.keyName), std::string::npos) << r.out;
    // the reference a command file takes, as the certificate picker would store it
    EXPECT_NE(Section(r.out, "MY, current user")
                  .find("\n    ClientCertificate: MY:klvr Test CA:klvr Test Client:1:" +
                        certs.client.keyName + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(Section(r.out, "ROOT, current user").find(certs.server.keyName), std::string::npos) << r.out;
    EXPECT_EQ(Section(r.out, "ROOT, local machine"), "  (no certificates)\n");

    r = Certs(stores, {"remove", certs.client.keyName, "--store", "MY", "--location", "user"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(FilesIn(stores.Folder(1, "MY")).empty());
    r = Certs(stores, {"list"});
    EXPECT_EQ(Section(r.out, "MY, current user").find(certs.client.keyName), std::string::npos);
    EXPECT_NE(Section(r.out, "MY, local machine").find(certs.client.keyName), std::string::npos);

    r = Certs(stores, {"remove", certs.client.keyName, "--store", "MY", "--location", "user"});
    EXPECT_EQ(r.exitCode, 1);
}

TEST(CertsCommand, RemoveLeavesAFileWithOtherCertificatesAlone) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    const fs::path bundle = stores.Folder(0, "ROOT") / "bundle.pem";
    fs::create_directories(bundle.parent_path());
    std::ofstream(bundle) << Contents(certs.ca.certPem) << Contents(certs.server.certPem);

    const auto r =
        Certs(stores, {"remove", certs.server.keyName, "--store", "ROOT", "--location", "machine"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("bundle.pem"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(bundle));
}

TEST(CertsCommand, UnusableArgumentsExitWithOneLineReason) {
    const auto& certs = TestCertificates::Shared();
    TestCertStores stores;
    const std::string file = certs.client.certAndKeyPem.string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"rename"},
        {"list", "extra"},
        {"list", "--verbose"},
        {"import", "--store", "MY", "--location", "user"},
        {"import", file, "--store", "CA", "--location", "user"},
        {"import", file, "--store", "MY", "--location", "everywhere"},
        {"import", file, "--store", "MY"},
        {"import", certs.corrupt.string(), "--store", "MY", "--location", "user"},
        {"import", (certs.folder / "missing.pem").string(), "--store", "MY", "--location", "user"},
        {"remove", "not-a-key", "--store", "MY", "--location", "user"},
        {"remove", certs.client.keyName, "--location", "user"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        SCOPED_TRACE(shown);
        const auto r = Certs(stores, args);
        EXPECT_EQ(r.exitCode, 2);
        // one reason, and for a command line that does not fit, the usage lines after it
        EXPECT_EQ(r.err.rfind("vaultfetch: ", 0), 0) << r.err;
        const std::string rest = r.err.substr(r.err.find('\n') + 1);
        EXPECT_TRUE(rest.empty() || rest.rfind("usage: vaultfetch certs list", 0) == 0) << r.err;
    }
    EXPECT_FALSE(fs::exists(stores.dataHome));  // nothing was written anywhere
    EXPECT_FALSE(fs::exists(stores.machineRoot));

    const auto help = Certs(stores, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("import FILE --store MY|ROOT"), std::string::npos);
}

}  // namespace
}  // namespace klvr
