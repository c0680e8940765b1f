// Which real servers take the next file's passive port asked for while a transfer ends, plain and over
// TLS, and that a server which does not still gets every file stored whole and nothing reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ftp_servers.h"
#include "support/private_accounts.h"
#include "support/proftpd_server.h"
#include "support/pure_ftpd_server.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

enum class Server { Py, Vs, Pro, Pure };

struct Case {
    std::string name;
    Server server;
    bool tls;
    // answers the early request in turn, after the transfer's final reply (else the session falls back)
    bool takesIt;
    // sends its final reply only once our end of the data connection is closed, so that the request
    // always goes out before it; the others send it with the end of the data, and the request then
    // often follows a final reply already read
    bool holdsFinalReply;
};

constexpr int kFiles = 4;

// What the protocol trace shows of the port requests sent while a RETR had no final reply yet.
struct EarlyRequests {
    int sent = 0;
    int outOfTurn = 0;  // answered before the transfer's final reply, or refused
    int retried = 0;    // a file asked for again after a RETR of it
};

EarlyRequests ReadTrace(const std::string& trace) {
    std::istringstream lines(trace);
    std::string line;
    EarlyRequests early;
    std::vector<std::string> retrieved;
    bool retrOpen = false;
    int answersDue = 0;  // replies after an early request: the final, then the answer
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("> RETR ", 0) == 0) {
            if (std::find(retrieved.begin(), retrieved.end(), line) != retrieved.end()) ++early.retried;
            retrieved.push_back(line);
            retrOpen = true;
        }
        if (retrOpen && (line == "> EPSV" || line == "> PASV")) {
            ++early.sent;
            answersDue = 2;
        }
        const bool finalLine =
            line.size() > 6 && line.rfind("< ", 0) == 0 && line[2] != '1' && line[5] == ' ';
        if (!finalLine) continue;
        retrOpen = false;
        if (answersDue == 2 && (line[2] != '2' || line.rfind("< 229", 0) == 0)) ++early.outOfTurn;
        if (answersDue == 1 && line.rfind("< 229", 0) != 0 && line.rfind("< 227", 0) != 0) ++early.outOfTurn;
        if (answersDue > 0) --answersDue;
    }
    return early;
}

class Pipelining : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (GetParam().server == Server::Pro && !test::CanUsePrivateAccounts())
            GTEST_SKIP() << "ProFTPD's accounts need root";
    }
    void Start() {
        const Case& c = GetParam();
        test::ServerTls tls;
        stores.Put(0, "ROOT", test::TestCertificates::Shared().ca.certPem, "test-ca.pem");
        if (c.server == Server::Py) {
            test::PyFtpdOptions options;
            options.root = remote.Path();
            if (c.tls) test::UseTls(options, tls);
            py = std::make_unique<test::PyFtpdServer>(options);
            port = py->Port();
            user = "user";
            password = "secret";
        } else if (c.server == Server::Vs) {
            test::VsftpdOptions options;
            options.root = remote.Path();
            if (c.tls) {
                test::UseTls(options, tls, work);
                options.extraConfig.push_back("force_anon_data_ssl=YES");
            }
            vs = std::make_unique<test::VsftpdServer>(options);
            port = vs->Port();
        } else if (c.server == Server::Pro) {
            test::ProFtpdOptions options;
            options.root = remote.Path();
            if (c.tls) test::UseTls(options, tls);
            pro = std::make_unique<test::ProFtpdServer>(options);
            port = pro->Port();
        } else {
            test::PureFtpdOptions options;
            options.users = {{"user", "secret", remote.Path()}};
            if (c.tls) test::UseTls(options, tls, work);
            pure = std::make_unique<test::PureFtpdServer>(options);
            port = pure->Port();
            user = "user";
            password = "secret";
        }
        client.Timeout = 15000;
        client.Security = c.tls ? 5 : 0;  // explicit TLS, protected data
        client.FileType = kFileImage;
        client.OnErrorReported = [this](int, const std::string& text) { reported.push_back(text); };
        client.Trace(trace, true, true, "> ", "< ");
    }

    test::TestCertStores stores;
    TempDir work;
    TempDir remote;
    TempDir local;
    std::string trace = work / "trace.txt";
    std::unique_ptr<test::PyFtpdServer> py;
    std::unique_ptr<test::VsftpdServer> vs;
    std::unique_ptr<test::ProFtpdServer> pro;
    std::unique_ptr<test::PureFtpdServer> pure;
    std::uint16_t port = 0;
    std::string user = "anonymous";
    std::string password = "guest@";
    std::vector<std::string> reported;
    FtpClient client;
};

// A folder of files of a few TLS records each, fetched in one session by MGet (every file but the
// last is followed by another) and by Get with the caller's word that another file follows, a
// question about the file between.
TEST_P(Pipelining, EveryFileArrivesWhetherTheServerTakesItOrNot) {
    std::vector<std::string> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(std::string(40000 + i * 1000, static_cast<char>('a' + i)));
        remote.Write("tree/f" + std::to_string(i) + ".bin", contents.back());
    }
    Start();
    client.Login("127.0.0.1", user, password, "", port);

    FileList list;
    client.MGet("/tree/*", local / "tree", list);
    ASSERT_EQ(list.Count(), kFiles);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(ReadFile(local / ("tree/f" + std::to_string(i) + ".bin")), contents[i]) << i;
    const EarlyRequests afterFolder = ReadTrace(ReadFile(trace));

    // each Get asks MDTM first: the port named while the file before ended must outlive the question
    client.CheckBeforeDelete = true;
    for (int i = 0; i < kFiles; ++i) {
        client.AnotherFileFollows = i + 1 < kFiles;
        client.Get("/tree/f" + std::to_string(i) + ".bin", local / ("g" + std::to_string(i)));
        EXPECT_EQ(ReadFile(local / ("g" + std::to_string(i))), contents[i]) << i;
    }
    const EarlyRequests all = ReadTrace(ReadFile(trace));
    const Case& c = GetParam();
    EXPECT_EQ(all.outOfTurn == 0 && all.retried == 0, c.takesIt) << ReadFile(trace);
    if (c.takesIt && c.holdsFinalReply) {
        EXPECT_GT(afterFolder.sent, 0) << ReadFile(trace);
        EXPECT_GT(all.sent - afterFolder.sent, 0) << ReadFile(trace);
    }
    client.Logout();
    EXPECT_TRUE(reported.empty()) << reported.front();
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Measured: all four take the request sent once a file's data is in. (Sent while the data still flows,
// ProFTPD and Pure-FTPd over TLS answer it out of turn and pyftpdlib ends the running transfer, which is
// why it waits for the end of the data.)
INSTANTIATE_TEST_SUITE_P(Servers, Pipelining,
                         ::testing::Values(Case{"Py", Server::Py, false, true, false},
                                           Case{"PyTls", Server::Py, true, true, false},
                                           Case{"Vs", Server::Vs, false, true, true},
                                           Case{"VsTls", Server::Vs, true, true, true},
                                           Case{"Pro", Server::Pro, false, true, true},
                                           Case{"ProTls", Server::Pro, true, true, true},
                                           Case{"Pure", Server::Pure, false, true, false},
                                           Case{"PureTls", Server::Pure, true, true, false}),
                         CaseName);

}  // namespace
}  // namespace klvr
