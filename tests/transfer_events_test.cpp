// The run session's event handlers, called as the client calls them, with the module state they share.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/module_state.h"
#include "support/log_capture.h"
#include "support/test_cert_stores.h"
#include "support/test_certificates.h"
#include "transfer/run_session.h"
#include "transfer/session_events.h"
#include "transfer/trace_file.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;

class SessionEvents : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetModuleState();
        capture = std::make_unique<test::LogCapture>();
        dir = fs::temp_directory_path() / ("klvr-events-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        if (const char* old = std::getenv("XDG_STATE_HOME")) savedState = old;
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }
    void TearDown() override {
        if (savedState)
            ::setenv("XDG_STATE_HOME", savedState->c_str(), 1);
        else
            ::unsetenv("XDG_STATE_HOME");
        capture.reset();
        ResetModuleState();
        fs::remove_all(dir);
    }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::unique_ptr<test::LogCapture> capture;
    fs::path dir;
    std::optional<std::string> savedState;
};

TEST_F(SessionEvents, ProgressWritesEachNewPercentageOnceAndLogsTextsWhileTracing) {
    ModuleState& m = moduleState();
    m.Settings.TraceLog = kTrue;
    m.TraceFile = PrepareTraceFile();
    RunSession session;
    OnProgress(session, 14, 1, "", 10, 100);
    OnProgress(session, 14, 1, "", 109, 1000);  // still 10 %
    OnProgress(session, 14, 1, "", 20, 100);
    OnProgress(session, 14, 0, "", 50, 100);  // not data flowing
    OnProgress(session, 4, 1, "", 50, 100);   // not a transfer
    OnProgress(session, 14, 1, "", 0, 100);
    OnProgress(session, 14, 1, "150 Opening data connection", 0, 0);
    EXPECT_EQ(Read(m.TraceFile), "<--- [Progress] 10%\r\n<--- [Progress] 20%\r\n");
    EXPECT_EQ(capture->LevelsAndMessages(), (std::vector<std::string>{"0 150 Opening data connection"}));

    // without tracing: neither percentages nor texts
    m.Settings.TraceLog = kFalse;
    OnProgress(session, 14, 1, "text", 90, 100);
    EXPECT_EQ(Read(m.TraceFile), "<--- [Progress] 10%\r\n<--- [Progress] 20%\r\n");
    EXPECT_EQ(capture->Messages().size(), 1u);
}

TEST_F(SessionEvents, TheTraceFileIsPrivateAndNeverWrittenThroughALink) {
    const std::string file = PrepareTraceFile();
    EXPECT_EQ(file, (dir / "state" / "klvrVaultfetch.log").string());
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    fs::remove(file);
    std::ofstream(dir / "victim") << "keep";
    fs::create_symlink(dir / "victim", file);
    EXPECT_THROW(PrepareTraceFile(), std::runtime_error);
    EXPECT_THROW(AppendTraceLine(file, "x"), std::runtime_error);
    EXPECT_EQ(Read(dir / "victim"), "keep");
}

TEST_F(SessionEvents, CertificateRequestedHandsOverTheReferencedCertificate) {
    test::TestCertStores stores;
    const auto& certs = test::TestCertificates::Shared();
    stores.Put(1, "MY", certs.client.certAndKeyPem, "client.pem");
    ModuleState& m = moduleState();
    RunSession session;

    m.Settings.ClientCertificate = "MY:klvr Test CA:klvr Test Client:1:" + certs.client.keyName;
    OnCertificateRequested(session);
    ASSERT_TRUE(session.Ftp.Certificate.has_value());
    EXPECT_EQ(session.Ftp.Certificate->KeyName, certs.client.keyName);
    EXPECT_TRUE(session.Ftp.Certificate->privateKey);

    // a KeyName the store no longer holds leaves the certificate as it was, without a line
    m.Settings.ClientCertificate = "MY:a:b:1:" + std::string(40, '0');
    OnCertificateRequested(session);
    EXPECT_EQ(session.Ftp.Certificate->KeyName, certs.client.keyName);
    EXPECT_TRUE(capture->Messages().empty());
    EXPECT_FALSE(m.ErrorFlag);

    // none configured: the request is answered with no certificate, quietly
    m.Settings.ClientCertificate = "";
    OnCertificateRequested(session);
    EXPECT_TRUE(capture->Messages().empty());
    EXPECT_FALSE(m.ErrorFlag);
}

// A reference that cannot be searched keeps its failure line, which says what is wrong with the setting.
TEST_F(SessionEvents, CertificateRequestedNamesWhatIsWrongWithTheReference) {
    const struct {
        std::string reference;
        std::string line;
    } cases[] = {
        {"MY:a:b",
         "2 ERROR_FTP-CERTIFICATE: ClientCertificate [MY:a:b] is not a certificate reference: it has "
         "3 of the 5 parts STORE:IssuedBy:IssuedTo:LOCATION:KEYNAME"},
        {"MY:a:b:here:00",
         "2 ERROR_FTP-CERTIFICATE: ClientCertificate [MY:a:b:here:00] names the store "
         "location [here], which is not a number (0 local machine, 1 current user)"},
        {"NOPE:a:b:1:00",
         "2 ERROR_FTP-CERTIFICATE: ClientCertificate [NOPE:a:b:1:00] names a store that "
         "cannot be opened: unknown certificate store \"NOPE\""},
        {"MY:a\x1b[2J:b",
         "2 ERROR_FTP-CERTIFICATE: ClientCertificate [MY:a\\x1b[2J:b] is not a certificate "
         "reference: it has 3 of the 5 parts STORE:IssuedBy:IssuedTo:LOCATION:KEYNAME"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        ModuleState& m = moduleState();
        m.ErrorFlag = false;
        capture->Clear();
        RunSession session;
        m.Settings.ClientCertificate = c.reference;
        OnCertificateRequested(session);
        EXPECT_EQ(capture->LevelsAndMessages(), (std::vector<std::string>{c.line}));
        EXPECT_TRUE(m.ErrorFlag);
        EXPECT_FALSE(session.Ftp.Certificate.has_value());
    }
}

// Once AlwaysAuthenticate let a certificate through, a later host mismatch in the same run is only noted.
TEST_F(SessionEvents, AuthenticateTurnsTheHostCheckOffForTheRestOfTheRun) {
    ModuleState& m = moduleState();
    m.Settings.RemoteHost = "127.0.0.1";
    m.Settings.AlwaysAuthenticate = 1;
    m.HostCheckActive = true;
    RunSession session;
    Certificate cert;
    cert.IssuedTo = "localhost";
    bool accept = true;
    std::string refusal;
    OnAuthenticate(session, cert, true, true, true, accept, refusal);
    EXPECT_TRUE(accept);
    EXPECT_FALSE(m.HostCheckActive);
    m.Settings.AlwaysAuthenticate = 0;
    accept = true;
    OnAuthenticate(session, cert, true, true, true, accept, refusal);
    EXPECT_TRUE(accept);
    EXPECT_EQ(capture->LevelsAndMessages(),
              (std::vector<std::string>{
                  "1 - The name on the security certificate does not match the name of the site\r\n",
                  "1 Authentication failed, but AlwaysAuthenticate=1, continuing.....",
                  "1 Ignored Host mismatch!"}));
    EXPECT_FALSE(m.ErrorFlag);
}

}  // namespace
}  // namespace klvr
