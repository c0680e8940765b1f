// The vaultfetch program against FTP servers as they are deployed: vsftpd with its defaults, ProFTPD and
// Pure-FTPd as their Debian packages set them up; explicit and implicit TLS; certificates issued by a
// CA that name the host only in subjectAltName or by a wildcard, or name another host; flat and folder
// mode. Each run is the program as a user starts it, in a mount namespace of its own whose /etc/hosts
// knows the test's host names, and is judged by its exit status and Error, its log and its files.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "settings/field_table.h"
#include "support/ftp_servers.h"
#include "support/private_hosts.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "transfer/ftp/socket_address.h"
#include "transfer_run_support.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

using test::TempDir;
using test::TestCertificate;
using test::TestCertificates;
using test::TlsStart;
using Files = std::map<std::string, std::string>;

const std::vector<test::HostEntry> kNames = {
    {"127.0.0.1", "ftp.klvr.test"}, {"::1", "klvr-six.test"}, {"127.0.0.1", "klvr-six.test"}};

struct Outcome {
    int exitCode = -1;
    bool error = false;
    std::vector<std::string> log;  // "level message", level as the program prints it
};

// Runs the program on the settings in a namespace that knows kNames.
Outcome RunVaultfetch(const SettingsArray& settings, const TempDir& work) {
    nlohmann::json command = nlohmann::json::object();
    for (const FieldDef& field : FieldTable()) command[std::string(field.name)] = settings.Get(field.index);
    const std::string file = work.Write("command.json", command.dump());
    std::vector<std::string> argv = test::WithPrivateHosts(kNames, work);
    argv.insert(argv.end(), {KLVR_CLI_PATH, "run", file});
    const test::ProcessResult r = test::RunProcess(argv, std::chrono::seconds(120));
    Outcome out;
    out.exitCode = r.exitCode;
    try {
        out.error = nlohmann::json::parse(r.out).at("error").get<bool>();
    } catch (const std::exception&) {
        ADD_FAILURE() << "no output variables: " << r.out << r.err;
    }
    // A line may hold line breaks of its own (the certificate reasons): lines begin at a time stamp.
    const std::regex stamp(R"((^|\n)\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\.\d{1,3} )");
    std::vector<std::size_t> starts;
    for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), stamp); it != std::sregex_iterator();
         ++it)
        starts.push_back(static_cast<std::size_t>(it->position() + it->length()));
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::size_t end = i + 1 < starts.size() ? r.err.rfind('\n', starts[i + 1] - 1) : r.err.size();
        std::string line = r.err.substr(starts[i], end - starts[i]);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        out.log.push_back(line);
    }
    return out;
}

enum class Server { Vs, Pro, Pure };
enum class Cert { SanOnly, Wildcard, WrongName, ClientRequired };

struct Case {
    Server server;
    TlsStart start;
    Cert cert;
    bool folderMode;
};

struct RunningServer {
    std::unique_ptr<test::VsftpdServer> vs;
    std::unique_ptr<test::ProFtpdServer> pro;
    std::unique_ptr<test::PureFtpdServer> pure;
    std::uint16_t port = 0;
    std::string user = "anonymous";
    std::string password = "guest@";
    std::string Log() const { return vs ? vs->Log() : pro ? pro->Log() : pure ? pure->Log() : ""; }
};

RunningServer Start(const Case& c, const std::string& root, const TempDir& work) {
    const TestCertificates& certs = TestCertificates::Shared();
    test::ServerTls tls;
    tls.start = c.start;
    tls.certificate = c.cert == Cert::Wildcard    ? &certs.wildcard
                      : c.cert == Cert::WrongName ? &certs.wrongHost
                                                  : &certs.sanOnly;
    tls.requireClientCertificate = c.cert == Cert::ClientRequired;
    RunningServer s;
    if (c.server == Server::Vs) {
        test::VsftpdOptions options;
        options.root = root;
        test::UseTls(options, tls, work);
        s.vs = std::make_unique<test::VsftpdServer>(options);
        s.port = s.vs->Port();
    } else if (c.server == Server::Pro) {
        test::ProFtpdOptions options;
        options.root = root;
        test::UseTls(options, tls);
        s.pro = std::make_unique<test::ProFtpdServer>(options);
        s.port = s.pro->Port();
    } else {
        test::PureFtpdOptions options;
        options.users = {{"user", "secret", root}};
        test::UseTls(options, tls, work);
        s.pure = std::make_unique<test::PureFtpdServer>(options);
        s.port = s.pure->Port();
        s.user = "user";
        s.password = "secret";
    }
    return s;
}

std::string BinaryContent() {
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes += static_cast<char>((i * 131 + i / 256) & 0xff);
    return bytes;
}

class DeployedServers : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (!test::CanUsePrivateHosts()) GTEST_SKIP() << "private host names need root and unshare";
        stores.Put(1, "ROOT", TestCertificates::Shared().ca.certPem, "test-ca.pem");
    }
    test::TestCertStores stores;
    TempDir remote, local, work;
};

TEST_P(DeployedServers, DownloadsWhereTheCertificateNamesTheHost) {
    const Case& c = GetParam();
    const Files tree = {{"top.txt", "top\r\nline\n"}, {"sub/inner.bin", BinaryContent()}};
    test::Populate(remote.Path(), tree);
    const RunningServer server = Start(c, remote.Path(), work);
    const std::string host = c.cert == Cert::Wildcard ? "ftp.klvr.test" : "localhost";
    const SettingsArray settings =
        test::RunCommand(server.port, server.user, server.password, local.Path(),
                         {{"RemoteHost", host},
                          {"SecurityMode", c.start == TlsStart::Implicit ? "0" : "2"},
                          {"ProcessAll", "1"},
                          {"IncludeSubdirs", c.folderMode ? "1" : "0"}});
    const Outcome out = RunVaultfetch(settings, work);
    const std::string all = ::testing::PrintToString(out.log) + "\n" + server.Log();

    const std::string refusal = "The name on the security certificate does not match the name of the site";
    const std::string noCertificate = "the server requires a client certificate; none is configured";
    switch (c.cert) {
        case Cert::SanOnly:
        case Cert::Wildcard: {
            EXPECT_EQ(out.exitCode, 0) << all;
            EXPECT_FALSE(out.error);
            for (const auto& line : out.log) EXPECT_EQ(line.rfind("info ", 0), 0u) << line;
            ASSERT_GE(out.log.size(), 5u) << all;
            EXPECT_EQ(out.log[0], "info Connecting with [" + host + "] ...");
            EXPECT_EQ(out.log[1], "info Connected to: 127.0.0.1");
            EXPECT_EQ(out.log[2], "info Connected, logged on as " + server.user);
            EXPECT_EQ(out.log[out.log.size() - 2], "info Disconnecting from [" + host + "] ...");
            EXPECT_EQ(out.log.back(), "info Connection Closed");
            const Files expected = c.folderMode ? tree : Files{{"top.txt", "top\r\nline\n"}};
            EXPECT_EQ(test::Snapshot(local.Path()), expected);
            break;
        }
        case Cert::WrongName: {
            EXPECT_EQ(out.exitCode, 5) << all;  // the certificate refused
            EXPECT_TRUE(out.error);
            // with implicit TLS the connection counts as open only once its certificate is accepted
            const bool explicitTls = c.start == TlsStart::Explicit;
            std::vector<std::string> expected = {"info Connecting with [localhost] ..."};
            if (explicitTls) expected.push_back("info Connected to: 127.0.0.1");
            expected.insert(expected.end(), {"warning - " + refusal, "error Authentication failed!"});
            if (explicitTls) expected.push_back("info Connection Closed");
            const std::string description = "Server certificate refused [wrong-host.invalid]: " + refusal;
            expected.insert(
                expected.end(),
                {"error ERROR_FTP-DOWNLOAD: Could not login! [" + description + "]",
                 "error ERROR_FTP-DOWNLOAD: " + description, "error Retry-count exceeded, aborting....."});
            EXPECT_EQ(test::CompareLog(out.log, expected), "");
            EXPECT_EQ(test::Snapshot(local.Path()), Files{});
            break;
        }
        case Cert::ClientRequired:
            EXPECT_EQ(out.exitCode, 5) << all;  // TLS failed
            EXPECT_TRUE(out.error);
            EXPECT_EQ(
                test::CompareLog(
                    out.log, {"info Connecting with [localhost] ...", "info Connected to: 127.0.0.1",
                              "info Connection Closed", "error ERROR_FTP-DOWNLOAD: Could not login! [*",
                              "error ERROR_FTP-DOWNLOAD: *", "error Retry-count exceeded, aborting....."}),
                "");
            ASSERT_EQ(out.log.size(), 6u);
            EXPECT_NE(out.log[4].find(noCertificate), std::string::npos) << out.log[4];
            EXPECT_EQ(test::Snapshot(local.Path()), Files{});
            break;
    }
}

std::vector<Case> Matrix() {
    std::vector<Case> cases;
    for (Server server : {Server::Vs, Server::Pro, Server::Pure}) {
        for (TlsStart start : {TlsStart::Explicit, TlsStart::Implicit}) {
            if (server == Server::Pure && start == TlsStart::Implicit) continue;  // Pure-FTPd has none
            for (Cert cert : {Cert::SanOnly, Cert::Wildcard}) {
                cases.push_back({server, start, cert, false});
                cases.push_back({server, start, cert, true});
            }
            cases.push_back({server, start, Cert::WrongName, false});
            cases.push_back({server, start, Cert::ClientRequired, false});
        }
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    const char* servers[] = {"Vsftpd", "ProFtpd", "PureFtpd"};
    const char* certs[] = {"SanOnly", "Wildcard", "WrongName", "ClientCertificateRequired"};
    return std::string(servers[static_cast<int>(c.server)]) +
           (c.start == TlsStart::Implicit ? "Implicit" : "Explicit") + certs[static_cast<int>(c.cert)] +
           (c.folderMode ? "Folder" : "Flat");
}

INSTANTIATE_TEST_SUITE_P(Tls, DeployedServers, ::testing::ValuesIn(Matrix()), CaseName);

// A host name whose first address (::1) drops every connection request, as a dead route does: the run
// connects at the next address (127.0.0.1) after a short delay instead of spending its time-out there.
TEST(DeployedNames, ASilentFirstAddressHandsOverToTheNext) {
    if (!test::CanUsePrivateHosts()) GTEST_SKIP() << "private host names need root and unshare";
    TempDir remote, local, work;
    remote.Write("f.txt", "reached");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    test::PyFtpdServer server(options);

    // a listener whose queue is full leaves further requests unanswered
    UniqueFd silent(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    SocketAddress six = *SocketAddress::FromNumeric("::1", server.Port());
    ASSERT_EQ(::bind(silent.get(), six.Raw(), six.length), 0);
    ASSERT_EQ(::listen(silent.get(), 0), 0);
    std::vector<std::unique_ptr<UniqueFd>> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(
            std::make_unique<UniqueFd>(::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)));
        ::connect(queued.back()->get(), six.Raw(), six.length);
    }

    const SettingsArray settings =
        test::RunCommand(server.Port(), "user", "secret", local.Path(),
                         {{"RemoteHost", "klvr-six.test"}, {"TimeoutSeconds", "60"}, {"ProcessAll", "1"}});
    const Outcome out = RunVaultfetch(settings, work);
    EXPECT_EQ(out.exitCode, 0);
    ASSERT_GE(out.log.size(), 2u);
    EXPECT_EQ(out.log[1], "info Connected to: 127.0.0.1");
    EXPECT_EQ(test::Snapshot(local.Path()), (Files{{"f.txt", "reached"}}));
}

}  // namespace
}  // namespace klvr
