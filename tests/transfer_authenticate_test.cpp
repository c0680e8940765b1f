// The server-certificate decision: verdicts, ignore switches, AlwaysAuthenticate and the host name.
#include <gtest/gtest.h>

#include "transfer/authenticate.h"

namespace klvr {
namespace {

constexpr LogLevel W = LogLevel::Warning;
constexpr LogLevel E = LogLevel::Error;
const std::string kDate = "- Certificate date is invalid\r\n";
const std::string kRoot = "- Certificate Authority is not trusted\r\n";
const std::string kSig = "- Certificate does not contain a valid signature\r\n";
const std::string kHost = "- The name on the security certificate does not match the name of the site\r\n";
const std::string kAlways = "Authentication failed, but AlwaysAuthenticate=1, continuing.....";

struct AuthCase {
    const char* what;
    bool root, date, sig;
    std::string issuedTo;
    bool ignoreDate, ignoreHost, ignoreRoot;
    std::int16_t always;
    bool hostCheckActive;
    // expected
    bool accept;
    bool hostCheckAfter;
    bool errorFlag;
    std::vector<LogLine> lines;
};

TEST(DecideAuthentication, FollowsTheSwitchesAndTheHostName) {
    const AuthCase cases[] = {
        {"all good", true, true, true, "ftp.example", false, false, false, 0, true, true, true, false, {}},
        {"self-signed refused",
         false,
         true,
         true,
         "ftp.example",
         false,
         false,
         false,
         0,
         true,
         false,
         true,
         true,
         {{W, kRoot}, {E, "Authentication failed!"}}},
        {"self-signed, root ignored",
         false,
         true,
         true,
         "ftp.example",
         false,
         false,
         true,
         0,
         true,
         true,
         true,
         false,
         {{W, "Ignored Root mismatch!"}}},
        {"expired, date ignored",
         true,
         false,
         true,
         "ftp.example",
         true,
         false,
         false,
         0,
         true,
         true,
         true,
         false,
         {{W, "Ignored Date mismatch!"}}},
        // no ignore switch covers a bad signature; only AlwaysAuthenticate does
        {"bad signature, every switch on",
         true,
         true,
         false,
         "ftp.example",
         true,
         true,
         true,
         0,
         true,
         false,
         true,
         true,
         {{W, kSig}, {E, "Authentication failed!"}}},
        {"bad signature, always",
         true,
         true,
         false,
         "ftp.example",
         false,
         false,
         false,
         1,
         true,
         true,
         true,
         false,
         {{W, "Ignored invalid signature!"}}},
        {"three failures in one reason line",
         false,
         false,
         false,
         "ftp.example",
         false,
         false,
         false,
         0,
         true,
         false,
         true,
         true,
         {{W, kDate + kRoot + kSig}, {E, "Authentication failed!"}}},
        // the client accepted, yet the name differs
        {"host mismatch",
         true,
         true,
         true,
         "other.example",
         false,
         false,
         false,
         0,
         true,
         false,
         true,
         true,
         {{W, kHost}, {E, "Authentication failed!"}}},
        {"host mismatch ignored",
         true,
         true,
         true,
         "other.example",
         false,
         true,
         false,
         0,
         true,
         true,
         true,
         false,
         {{W, "Ignored Host mismatch!"}}},
        {"host mismatch, always: accepted and the check is off for the run",
         true,
         true,
         true,
         "other.example",
         false,
         false,
         false,
         1,
         true,
         true,
         false,
         false,
         {{W, kHost}, {W, kAlways}}},
        {"host mismatch after the check went off",
         true,
         true,
         true,
         "other.example",
         false,
         false,
         false,
         0,
         false,
         true,
         false,
         false,
         {{W, "Ignored Host mismatch!"}}},
        {"AlwaysAuthenticate other than 1 counts as off",
         false,
         true,
         true,
         "ftp.example",
         false,
         false,
         false,
         2,
         true,
         false,
         true,
         true,
         {{W, kRoot}, {E, "Authentication failed!"}}},
    };
    for (const AuthCase& c : cases) {
        Certificate cert;
        cert.IssuedTo = c.issuedTo;
        AuthenticateInput in;
        in.rootTrusted = c.root;
        in.dateValid = c.date;
        in.signatureValid = c.sig;
        in.accept = c.root && c.date && c.sig;
        in.ignoreDate = c.ignoreDate;
        in.ignoreHost = c.ignoreHost;
        in.ignoreRoot = c.ignoreRoot;
        in.alwaysAuthenticate = c.always;
        in.remoteHost = "ftp.example";
        in.hostCheckActive = c.hostCheckActive;
        const AuthenticateOutcome out = DecideAuthentication(cert, in);
        EXPECT_EQ(out.accept, c.accept) << c.what;
        EXPECT_EQ(out.hostCheckActive, c.hostCheckAfter) << c.what;
        EXPECT_EQ(out.setErrorFlag, c.errorFlag) << c.what;
        EXPECT_EQ(out.lines, c.lines) << c.what;
    }
}

// A refusal names the checks that refused it, never one the user chose to ignore.
TEST(DecideAuthentication, TheRefusalNamesTheChecksThatRefused) {
    const struct {
        bool root, date;
        std::string issuedTo;
        bool ignoreRoot;
        std::int16_t always;
        std::string refusal;
    } cases[] = {
        {false, true, "other.example", true, 0,
         "The name on the security certificate does not match the name of the site"},
        {false, false, "ftp.example", false, 0,
         "Certificate date is invalid; Certificate Authority is not trusted"},
        {false, true, "other.example", false, 1, ""},  // let through
        {true, true, "ftp.example", false, 0, ""},
    };
    for (const auto& c : cases) {
        Certificate cert;
        cert.IssuedTo = c.issuedTo;
        AuthenticateInput in;
        in.rootTrusted = c.root;
        in.dateValid = c.date;
        in.signatureValid = true;
        in.accept = c.root && c.date;
        in.ignoreRoot = c.ignoreRoot;
        in.alwaysAuthenticate = c.always;
        in.remoteHost = "ftp.example";
        EXPECT_EQ(DecideAuthentication(cert, in).refusal, c.refusal) << c.issuedTo;
    }
}

// The client refused, yet every verdict holds and the name matches: nothing speaks against it.
TEST(DecideAuthentication, ARefusalWithoutAnyReasonIsAccepted) {
    Certificate cert;
    cert.IssuedTo = "h";
    AuthenticateInput in;
    in.rootTrusted = in.dateValid = in.signatureValid = true;
    in.accept = false;
    in.remoteHost = "h";
    const AuthenticateOutcome out = DecideAuthentication(cert, in);
    EXPECT_TRUE(out.accept);
    EXPECT_TRUE(out.lines.empty());
}

TEST(DecideAuthentication, TracingShowsTheCertificateFirst) {
    Certificate cert;
    cert.IssuedTo = "h";
    cert.IssuedBy = "CA";
    cert.KeyName = "AB";
    cert.FriendlyName = "f";
    AuthenticateInput in;
    in.rootTrusted = in.dateValid = in.signatureValid = in.accept = true;
    in.remoteHost = "h";
    in.traceLog = true;
    const AuthenticateOutcome out = DecideAuthentication(cert, in);
    std::vector<std::string> texts;
    for (const auto& l : out.lines) texts.push_back(l.text);
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts[0], "AUTHENTICATE EVENT-----------------");
    EXPECT_EQ(texts[1], "IssuedBy : CA");
    EXPECT_EQ(texts[2], "IssuedTo : h");
    EXPECT_EQ(texts[3], "KeyName : AB");
    EXPECT_EQ(texts[4].rfind("ValidFrom : ", 0), 0u);
    EXPECT_EQ(texts[6], "FriendlyName : f");
    EXPECT_EQ(texts[7], "-----------------------------------");
}

// Certificate fields are the server's to choose: shown with their control characters escaped, while
// the reasons keep the line breaks that separate them.
TEST(DecideAuthentication, HostileCertificateFieldsStayOnTheirLines) {
    Certificate cert;
    cert.IssuedTo = "evil\n01-01-2000 00:00:00.0 error FORGED";
    cert.IssuedBy = "CA\r\x1b[2K";
    cert.KeyName = "AB";
    cert.FriendlyName = std::string("f\0\x1b]0;owned\x07", 12);
    AuthenticateInput in;
    in.rootTrusted = in.dateValid = in.signatureValid = in.accept = true;
    in.remoteHost = "ftp.example";
    in.traceLog = true;
    const AuthenticateOutcome out = DecideAuthentication(cert, in);
    std::vector<std::string> texts;
    for (const auto& l : out.lines) texts.push_back(l.text);
    ASSERT_EQ(texts.size(), 10u);
    EXPECT_EQ(texts[1], "IssuedBy : CA\\r\\x1b[2K");
    EXPECT_EQ(texts[2], "IssuedTo : evil\\n01-01-2000 00:00:00.0 error FORGED");
    EXPECT_EQ(texts[6], "FriendlyName : f\\x00\\x1b]0;owned\\x07");
    EXPECT_EQ(texts[8], kHost);
    EXPECT_EQ(texts[9], "Authentication failed!");
}

}  // namespace
}  // namespace klvr
