// The command over TLS through the plug-in: the server certificate judged under each ignore switch and
// AlwaysAuthenticate, the host name, the client certificate from a store, and the detail lines of a
// traced run. Log, downloaded file and Error are checked together.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "support/ftp_servers.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

using test::TestCertificate;
using test::TestCertificates;

enum class Server { Py, Vs };

struct TlsCase {
    const char* name;
    Server server;
    TestCertificate TestCertificates::*certificate;  // the server's
    bool requireClientCertificate;
    std::map<std::string, std::string> set;  // beyond explicit TLS and the one named file
    std::vector<std::string> judged;         // the lines the certificate decision writes
    bool downloaded;                         // false: the logon fails on the refused certificate
    bool error;
    std::string failure = "*";  // the failed logon's description
    bool tls12Only = false;
    bool caTrusted = true;
};

const std::string kRoot = "1 - Certificate Authority is not trusted\r\n";
const std::string kHost = "1 - The name on the security certificate does not match the name of the site\r\n";
const std::string kFailed = "2 Authentication failed!";

const TlsCase kCases[] = {
    {"a trusted certificate with the host's name",
     Server::Py,
     &TestCertificates::server,
     false,
     {},
     {},
     true,
     false},
    {"the same from vsftpd", Server::Vs, &TestCertificates::server, false, {}, {}, true, false},
    {"self-signed: refused",
     Server::Py,
     &TestCertificates::selfSigned,
     false,
     {},
     {kRoot, kFailed},
     false,
     true},
    {"self-signed, root ignored",
     Server::Py,
     &TestCertificates::selfSigned,
     false,
     {{"IgnoreRootError", "1"}},
     {"1 Ignored Root mismatch!"},
     true,
     false},
    {"expired, date ignored",
     Server::Py,
     &TestCertificates::expired,
     false,
     {{"IgnoreDateError", "1"}},
     {"1 Ignored Date mismatch!"},
     true,
     false},
    {"not yet valid: refused",
     Server::Py,
     &TestCertificates::notYetValid,
     false,
     {},
     {"1 - Certificate date is invalid\r\n", kFailed},
     false,
     true},
    // no ignore switch covers a bad signature
    {"bad signature, every switch on: refused",
     Server::Py,
     &TestCertificates::badSignature,
     false,
     {{"IgnoreDateError", "1"}, {"IgnoreHostError", "1"}, {"IgnoreRootError", "1"}},
     {"1 - Certificate does not contain a valid signature\r\n", kFailed},
     false,
     true},
    {"bad signature, AlwaysAuthenticate",
     Server::Py,
     &TestCertificates::badSignature,
     false,
     {{"AlwaysAuthenticate", "1"}},
     {"1 Ignored invalid signature!"},
     true,
     false},
    {"another host's name: refused",
     Server::Py,
     &TestCertificates::wrongHost,
     false,
     {},
     {kHost, kFailed},
     false,
     true},
    {"another host's name, host ignored",
     Server::Vs,
     &TestCertificates::wrongHost,
     false,
     {{"IgnoreHostError", "1"}},
     {"1 Ignored Host mismatch!"},
     true,
     false},
    {"another host's name, AlwaysAuthenticate",
     Server::Py,
     &TestCertificates::wrongHost,
     false,
     {{"AlwaysAuthenticate", "1"}},
     {kHost, "1 Authentication failed, but AlwaysAuthenticate=1, continuing....."},
     true,
     false},
    {"a client certificate from the user's store",
     Server::Py,
     &TestCertificates::server,
     true,
     {{"ClientCertificate", "MY:klvr Test CA:klvr Test Client:1:{client}"}},
     {},
     true,
     false},
    {"traced: the certificate's details come first",
     Server::Py,
     &TestCertificates::server,
     false,
     {{"TraceLog", "1"}},
     {"0 AUTHENTICATE EVENT-----------------", "0 IssuedBy : klvr Test CA", "0 IssuedTo : localhost",
      "0 KeyName : *", "0 ValidFrom : *", "0 ValidTo : *", "0 FriendlyName : *",
      "0 -----------------------------------"},
     true,
     false},
    // TLS 1.3 ends the session after the handshake, TLS 1.2 in it
    {"no client certificate configured while the server requires one",
     Server::Py,
     &TestCertificates::server,
     true,
     {},
     {},
     false,
     true,
     "TLS failed: the server requires a client certificate; none is configured"},
    {"no client certificate configured while the server requires one, TLS 1.2",
     Server::Vs,
     &TestCertificates::server,
     true,
     {},
     {},
     false,
     true,
     "The TLS handshake failed: the server requires a client certificate; none is configured",
     true},
    // the refusal names the check that refused, not the issuer fault the user ignores
    {"another host's name from an untrusted CA, root ignored: refused for the name",
     Server::Py,
     &TestCertificates::wrongHost,
     false,
     {{"IgnoreRootError", "1"}},
     {"1 Ignored Root mismatch!", kHost, kFailed},
     false,
     true,
     "Server certificate refused [wrong-host.invalid]: The name on the security certificate does not match "
     "the name of the site",
     false,
     false},
};

class TlsRun : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ResetModuleState();
        ::setenv("XDG_STATE_HOME", state.Path().c_str(), 1);  // where a traced run writes its trace file
        stores = std::make_unique<test::TestCertStores>();
        capture = std::make_unique<test::LogCapture>();
    }
    void TearDown() override {
        capture.reset();
        stores.reset();
        ::unsetenv("XDG_STATE_HOME");
        ResetModuleState();
    }
    test::TempDir state;
    std::unique_ptr<test::TestCertStores> stores;
    std::unique_ptr<test::LogCapture> capture;
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

TEST_P(TlsRun, JudgesTheCertificateAndDownloads) {
    const TlsCase& c = kCases[GetParam()];
    SCOPED_TRACE(c.name);
    const TestCertificates& certs = TestCertificates::Shared();
    if (c.caTrusted) stores->Put(0, "ROOT", certs.ca.certPem, "test-ca.pem");
    stores->Put(1, "MY", certs.client.certAndKeyPem, "client.pem");

    test::TempDir remote, local, work;
    remote.Write("tls/file.txt", "secure\n");
    test::ServerTls tls;
    tls.certificate = &(certs.*c.certificate);
    tls.requireClientCertificate = c.requireClientCertificate;
    tls.tls12Only = c.tls12Only;
    std::unique_ptr<test::PyFtpdServer> py;
    std::unique_ptr<test::VsftpdServer> vs;
    std::uint16_t port = 0;
    std::string user = "user", password = "secret";
    if (c.server == Server::Py) {
        test::PyFtpdOptions options;
        options.root = remote.Path();
        test::UseTls(options, tls);
        options.handlerSetup += "\nhandler.tls_data_required = True\n";
        py = std::make_unique<test::PyFtpdServer>(options);
        port = py->Port();
    } else {
        test::VsftpdOptions options;
        options.root = remote.Path();
        test::UseTls(options, tls, work);
        options.extraConfig.push_back("force_anon_data_ssl=YES");
        vs = std::make_unique<test::VsftpdServer>(options);
        port = vs->Port();
        user = "anonymous";
        password = "guest@";
    }

    std::map<std::string, std::string> set = {{"RemoteHost", "localhost"},
                                              {"SecurityMode", "2"},
                                              {"RemoteDir", "/tls"},
                                              {"CopySpecific", "1"},
                                              {"SpecificFileName", "file.txt"}};
    for (const auto& [name, value] : c.set) set[name] = Replace(value, "{client}", certs.client.keyName);
    const SettingsArray data = test::RunCommand(port, user, password, local.Path(), set);
    Toolbox t;
    t.AutoLog(true);
    t.RunP("VAULTFETCH", data, data);

    std::vector<std::string> expected = {"0 Connecting with [localhost] ...", "0 Connected to: *"};
    expected.insert(expected.end(), c.judged.begin(), c.judged.end());
    if (c.downloaded) {
        for (const char* line : {"0 Connected, logged on as {user}", "0 Retrieving filelist ...",
                                 "0 Number of files & directories found: 1",
                                 "0 Downloading [file.txt] to [{out}/file.txt] (7 Bytes) ...",
                                 "0 Downloaded [file.txt] <unknown> kBps", "0 Number of files downloaded : 1",
                                 "0 Disconnecting from [localhost] ...", "0 Connection Closed"})
            expected.push_back(Replace(Replace(line, "{user}", user), "{out}", local.Path()));
    } else {
        const std::string closing = c.failure == "*" ? "*" : c.failure + "]";
        expected.insert(expected.end(),
                        {"0 Connection Closed", "2 ERROR_FTP-DOWNLOAD: Could not login! [" + closing,
                         "2 ERROR_FTP-DOWNLOAD: " + c.failure, "2 Retry-count exceeded, aborting....."});
    }
    EXPECT_EQ(test::CompareLog(capture->LevelsAndMessages(), expected), "");
    using Files = std::map<std::string, std::string>;
    const Files expectedFiles = c.downloaded ? Files{{"file.txt", "secure\n"}} : Files{};
    EXPECT_EQ(test::Snapshot(local.Path()), expectedFiles);
    EXPECT_EQ(t.Error(), c.error);
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsRun, ::testing::Range(0, static_cast<int>(std::size(kCases))),
                         [](const auto& info) {
                             std::string id;
                             bool upper = true;
                             for (const char* p = kCases[info.param].name; *p; ++p) {
                                 const unsigned char ch = static_cast<unsigned char>(*p);
                                 if (std::isalnum(ch)) {
                                     id +=
                                         upper ? static_cast<char>(std::toupper(ch)) : static_cast<char>(ch);
                                     upper = false;
                                 } else {
                                     upper = true;
                                 }
                             }
                             return id;
                         });

}  // namespace
}  // namespace klvr
