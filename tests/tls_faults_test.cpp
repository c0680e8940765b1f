// What goes wrong around TLS: peers that close, refuse or talk nonsense where the handshake should be,
// and servers that end a protected data connection without closing TLS.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ftp_servers.h"
#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::Exists;
using test::ReadFile;
using test::TempDir;

// Each failure is clear, comes from the fault itself rather than from the time-out (except for the
// silent peer), and never lets a logon command out.
TEST(TlsHandshakeFaults, ClearFailureAndNoLogon) {
    struct Case {
        const char* name;
        int security;
        std::string dialogue;
        const char* message;  // a part of the failure's text
    };
    const Case cases[] = {
        {"AUTH refused", 5, "> 220 ready\n< AUTH TLS\n> 504 Security mechanism not understood\nhang\n",
         "504 Security mechanism not understood"},
        {"closes during the handshake", 5, "> 220 ready\n< AUTH TLS\n> 234 go ahead\nclose\n",
         "closed the connection during the TLS handshake"},
        {"garbage instead of TLS", 5,
         "> 220 ready\n< AUTH TLS\n> 234 go ahead\nsleep 200\n>| HTTP/1.0 400 Bad Request\\r\\n\nhang\n",
         "The TLS handshake failed"},
        {"garbage right behind the reply", 5,
         "> 220 ready\n< AUTH TLS\n>| 234 go ahead\\r\\nHTTP/1.0\nhang\n",
         "The server sent more than its reply before TLS started"},
        {"a clear greeting where implicit TLS belongs", 3, "> 220 plain text here\nhang\n",
         "The TLS handshake failed"},
        {"silent after agreeing to TLS", 5, "> 220 ready\n< AUTH TLS\n> 234 go ahead\nhang\n",
         "Timed out after 1500 ms waiting for the server's side of the TLS handshake"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedFtpServer server(c.dialogue);
        FtpClient client;
        client.Timeout = std::string(c.name).rfind("silent", 0) == 0 ? 1500 : 20000;
        client.Security = c.security;
        try {
            client.Login("127.0.0.1", "u", "p", "", server.Port());
            ADD_FAILURE() << "logged on";
        } catch (const FtpError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_EQ(client.State(), 0);
        server.Finish();
        auto commands = server.Commands();
        EXPECT_TRUE(std::none_of(commands.begin(), commands.end(),
                                 [](const std::string& s) { return s.rfind("USER", 0) == 0; }));
    }
}

// How a protected data connection ends does not make a file complete: a file counts when the size the
// server announced arrived, or, without a size, on the server's word that the transfer completed. A file
// cut short is a failure that leaves nothing under its name, whether TLS was closed properly or not.
TEST(TlsDataEnd, CompleteOnlyWhenEverythingArrived) {
    test::TestCertStores stores;
    stores.Put(0, "ROOT", test::TestCertificates::Shared().ca.certPem, "test-ca.pem");
    TempDir root;
    std::string content(100000, 'x');
    root.Write("f.bin", content);
    root.Write("t.txt", "line\r\n");
    TempDir local;

    struct Case {
        bool closeNotify;
        long long extra;  // bytes SIZE claims beyond the file's
        std::string failure;
    };
    const Case cases[] = {
        {false, 0, ""},
        {false, 10, "ended without closing TLS after 100000 of 100010 bytes"},
        {true, 10, "incomplete: only 100000 of the 100010 bytes the server announced arrived"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        test::ServerTls tls;
        tls.dataWithoutCloseNotify = !c.closeNotify;
        tls.claimedSizeExtra = c.extra;
        test::PyFtpdOptions options;
        options.root = root.Path();
        test::UseTls(options, tls);
        test::PyFtpdServer server(options);

        FtpClient client;
        client.Timeout = 15000;
        client.Security = 5;
        std::vector<std::string> reported;
        client.OnErrorReported = [&](int, const std::string& text) { reported.push_back(text); };
        client.Login("127.0.0.1", "user", "secret", "", server.Port());
        client.FileType = kFileImage;
        const std::string target =
            local / ("f" + std::to_string(c.extra) + (c.closeNotify ? "n" : "") + ".bin");
        std::string failure;
        try {
            client.Get("f.bin", target);
        } catch (const FtpError& e) {
            failure = e.what();
        }
        if (c.failure.empty()) {
            EXPECT_EQ(failure, "");
            EXPECT_EQ(ReadFile(target), content);
        } else {
            EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
            EXPECT_FALSE(Exists(target));
        }
        client.FileType = kFileAscii;  // no size known: the final reply decides
        client.Get("t.txt", local / "t.txt");
        EXPECT_EQ(ReadFile(local / "t.txt"), "line\n");
        client.Logout();
        EXPECT_TRUE(reported.empty()) << reported.front();
    }
}

}  // namespace
}  // namespace klvr
