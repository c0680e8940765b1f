// Text a hostile server chooses (listing lines, names, replies) reaches the log and the trace with its
// control characters shown as escapes: it can neither start a stamped line of its own nor drive the
// terminal of whoever reads the log.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "support/log_capture.h"
#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

// A control character other than the CR LF that ends each line of the trace.
bool HasControl(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

std::vector<std::string> TraceLines(const std::string& trace) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < trace.size();) {
        const std::size_t end = trace.find("\r\n", at);
        lines.push_back(trace.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? trace.size() : end + 2;
    }
    return lines;
}

// The logon and a listing of "/" with the given data (escapes as the scripted server reads them), then
// the rest of the dialogue.
std::string Dialogue(const std::string& listingData, const std::string& rest) {
    return "> 220 ready\n< USER u\n> 331 password please\n< PASS p\n> 230 logged on\n< CWD /\n> 250 ok\n"
           "< PWD\n> 257 \"/\" is current\n< EPSV\n> 229 ok ({epsv})\n< LIST\n> 150 here it comes\ndata " +
           listingData + "\ndata-close\n> 226 done\n" + rest;
}

TEST(HostileText, ReachesLogAndTraceOnlyAsEscapes) {
    const struct Case {
        const char* name;
        std::string dialogue;
        std::string inLog;    // a message holds this
        std::string inTrace;  // a trace line holds this ("" when the text never reaches the trace)
    } cases[] = {
        {"a line feed in a listing line",
         Dialogue("first line\\n01-01-2000 00:00:00.0 error FORGED\\r\\n", "< QUIT\n> 221 bye\n"),
         "first line\\n01-01-2000 00:00:00.0 error FORGED\\r\\n", ""},
        {"a bare CR in a name", Dialogue("-rw-r--r-- 1 u g 4 Jan 01 2026 a\\rFORGED\\r\\n", ""),
         "Could not download [a\\rFORGED] [Unsafe remote name refused [a\\rFORGED]", ""},
        {"escape sequences in a name and a reply",
         Dialogue("-rw-r--r-- 1 u g 4 Jan 01 2026 \\x1b]0;owned\\x07.txt\\r\\n",
                  "< TYPE I\n> 200 ok\n< SIZE *\n> 550 \x1b[2Jno size\n< EPSV\n> 229 ok ({epsv})\n< RETR *\n"
                  "> 550 \x1b[2J\x1b[31mgone\n"),
         "Could not download [\\x1b]0;owned\\x07.txt] [550 \\x1b[2J\\x1b[31mgone]",
         "<--- 550 \\x1b[2J\\x1b[31mgone"},
        {"a NUL in a name",
         Dialogue("-rw-r--r-- 1 u g 4 Jan 01 2026 nul\\x00name\\r\\n", "< QUIT\n> 221 bye\n"),
         "WARNING: Unsafe remote name skipped [nul\\x00name]", ""},
    };
    for (const Case& c : cases) {
        ResetModuleState();
        test::TempDir local, state;
        ::setenv("XDG_STATE_HOME", state.Path().c_str(), 1);
        auto capture = std::make_unique<test::LogCapture>();
        {
            test::ScriptedFtpServer server(c.dialogue);
            Toolbox t;
            t.AutoLog(true);
            const SettingsArray data = test::RunCommand(server.Port(), "u", "p", local.Path(),
                                                        {{"TraceLog", "1"}, {"TimeoutSeconds", "3"}});
            t.RunP("VAULTFETCH", data, data);
        }
        ::unsetenv("XDG_STATE_HOME");
        const std::vector<std::string> messages = capture->Messages();
        bool found = false;
        for (const std::string& m : messages) {
            EXPECT_FALSE(HasControl(m)) << c.name << ": " << m;
            found = found || m.find(c.inLog) != std::string::npos;
        }
        EXPECT_TRUE(found) << c.name << ": " << ::testing::PrintToString(messages);

        const std::string trace = test::ReadFile(state / "klvrVaultfetch.log");
        found = c.inTrace.empty();
        for (const std::string& line : TraceLines(trace)) {
            EXPECT_FALSE(HasControl(line)) << c.name << ": " << line;
            found = found || line.find(c.inTrace) != std::string::npos;
        }
        EXPECT_TRUE(found) << c.name << ": " << trace;
    }
    ResetModuleState();
}

}  // namespace
}  // namespace klvr
