// What vaultfetch run tells the next step: the exit status by cause, the dry run, the report file.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/command_file.h"
#include "cli/exit_status.h"
#include "cli/plugin_loader.h"
#include "support/ftp_servers.h"
#include "support/process.h"
#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "support/tls_servers.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;
using Settings = std::map<std::string, std::string>;

Settings RunSettings(std::uint16_t port, const std::string& user, const std::string& password,
                     const std::string& localDir) {
    return {{"RemoteHost", "127.0.0.1"}, {"UserName", user},
            {"Password", password},      {"RemotePort", std::to_string(port)},
            {"TransferMode", "1"},       {"TimeoutSeconds", "10"},
            {"PassiveMode", "1"},        {"RemoteDir", "/"},
            {"LocalDir", localDir},      {"DeleteAfterDownload", "0"},
            {"ProcessAll", "1"},         {"OverwriteExisting", "0"},
            {"CopySpecific", "0"},       {"SpecificFileName", ""},
            {"FileFilter", "."},         {"IncludeSubdirs", "0"},
            {"RetryCount", "1"},         {"SecurityMode", "8"},
            {"ProxyType", "0"},          {"TraceLog", "0"},
            {"ManualPortRange", "0::"}};
}

// Every entry below root, hidden ones and links included: kind and content (a link's target).
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), root).string();
        if (it->is_symlink())
            out[name] = "link " + fs::read_symlink(it->path()).string();
        else if (it->is_directory())
            out[name] = "folder";
        else
            out[name] = "file " + test::ReadFile(it->path().string());
    }
    return out;
}

class RunOutcome : public ::testing::Test {
  protected:
    std::string CommandFile(const Settings& settings) {
        nlohmann::json j = nlohmann::json::object();
        for (const auto& [member, value] : settings) j[member] = value;
        const std::string path = work_ / ("command-" + std::to_string(++commands_) + ".json");
        std::ofstream(path) << j.dump(2);
        return path;
    }
    // vaultfetch run with a report; the report's own exit status must be the process's.
    test::ProcessResult Run(const Settings& settings, std::vector<std::string> args = {},
                            const std::function<void(int)>& whileRunning = nullptr) {
        args.insert(args.begin(), {KLVR_CLI_PATH, "run", CommandFile(settings), "--report", ReportPath()});
        return test::RunProcess(args, std::chrono::seconds(120),
                                {"XDG_DATA_HOME=" + (work_ / "data"), "XDG_STATE_HOME=" + (work_ / "state")},
                                whileRunning);
    }
    std::string ReportPath() const { return work_ / "report.json"; }
    nlohmann::json Report() const { return nlohmann::json::parse(test::ReadFile(ReportPath())); }

    // A folder run with delete on against pyftpdlib that meets each action once: new.txt and
    // sub/deep.txt come new, big.bin goes on from the local copy of its first half, same.txt has a local
    // copy that nothing proves the same (so it stays, there and on the server), a local folder stands in
    // the way of blocked.txt, and a symbolic link in that of linked.txt.
    Settings Scenario() {
        std::string big;
        for (int i = 0; i < 200000; ++i) big += static_cast<char>('a' + i % 26);
        remote_.Write("new.txt", "fresh");
        remote_.Write("big.bin", big);
        remote_.Write("same.txt", "same");
        remote_.Write("blocked.txt", "blocked");
        remote_.Write("sub/deep.txt", "deep");
        remote_.Write("linked.txt", "linked");
        local_.Write("big.bin", big.substr(0, 100000));
        local_.Write("same.txt", "same");
        local_.MakeFolder("blocked.txt");
        std::error_code again;  // a second scenario finds it there
        fs::create_symlink(work_ / "elsewhere.txt", local_ / "linked.txt", again);
        test::PyFtpdOptions options;
        options.root = remote_.Path();
        server_ = std::make_unique<test::PyFtpdServer>(options);
        Settings settings = RunSettings(server_->Port(), "user", "secret", local_.Path());
        settings["IncludeSubdirs"] = "1";
        settings["DeleteAfterDownload"] = "1";
        return settings;
    }

    test::TempDir work_;
    int commands_ = 0;
    test::TempDir remote_;
    test::TempDir local_;
    std::unique_ptr<test::PyFtpdServer> server_;
};

// What a record says the run does with its file, as a dry run and the real run both state it.
std::string Decision(const nlohmann::json& f) {
    const std::string action = f["action"];
    const bool fetched = action == "download" || action == "downloaded" || action == "resumed";
    std::string text = f["remotePath"].get<std::string>() + " -> " + f["localPath"].get<std::string>();
    if (fetched) text += " fetched from " + std::to_string(f.value("resumeFrom", 0));
    if (action == "skipped") text += " skipped: " + f["reason"].get<std::string>();
    if (action == "failed") text += " failed: " + f["error"].get<std::string>();
    const std::string deletion = f.value("deletion", "");
    if (deletion == "deleted" || deletion == "would delete after the download") text += ", deleted";
    return text;
}

std::vector<std::string> Decisions(const nlohmann::json& report) {
    std::vector<std::string> out;
    for (const auto& f : report["files"]) out.push_back(Decision(f));
    return out;
}

// A dry run with delete on leaves the server and the local folder as they were, byte for byte, and
// foretells what the real run then does.
TEST_F(RunOutcome, ADryRunChangesNothingAndForetellsTheRun) {
    const Settings settings = Scenario();
    const auto remoteBefore = Tree(remote_.Path());
    const auto localBefore = Tree(local_.Path());
    const auto dry = Run(settings, {"--dry-run"});
    EXPECT_EQ(dry.exitCode, cli::kExitFailed) << dry.err;  // blocked.txt cannot be written either way
    EXPECT_EQ(Tree(remote_.Path()), remoteBefore);
    EXPECT_EQ(Tree(local_.Path()), localBefore);
    const nlohmann::json planned = Report();
    EXPECT_EQ(planned["dryRun"], true);
    // what it prints for each file
    const std::string top = local_.Path();
    for (const std::string& line :
         {"download (new) /new.txt -> " + top + "/new.txt (5 bytes); delete on the server after the download",
          "download (new) /sub/deep.txt -> " + top +
              "/sub/deep.txt (4 bytes); delete on the server after the "
              "download",
          "download (resume from 100000) /big.bin -> " + top +
              "/big.bin (200000 bytes); delete on the server after the download",
          std::string("skip /same.txt: nothing proves its content the same as the remote file's"),
          std::string("skip /linked.txt: a symbolic link is in its place locally")})
        EXPECT_NE(dry.out.find(line + "\n"), std::string::npos) << line << "\n" << dry.out;
    EXPECT_EQ(dry.out.find("\"userVariables\""), std::string::npos) << dry.out;

    const auto real = Run(settings);
    EXPECT_EQ(real.exitCode, cli::kExitFailed) << real.err;
    EXPECT_EQ(Decisions(Report()), Decisions(planned));
    EXPECT_EQ(Tree(remote_.Path()), (std::map<std::string, std::string>{{"same.txt", "file same"},
                                                                        {"blocked.txt", "file blocked"},
                                                                        {"linked.txt", "file linked"},
                                                                        {"sub", "folder"}}));
}

// The report of a run holds one record per file with what the next step needs, the totals and the exit
// status, and it is written whole: nothing else is left beside it.
TEST_F(RunOutcome, TheReportRecordsEachFile) {
    const auto r = Run(Scenario());
    EXPECT_EQ(r.exitCode, cli::kExitFailed) << r.err;
    const nlohmann::json report = Report();
    EXPECT_EQ(report["dryRun"], false);
    EXPECT_EQ(report["exitStatus"], cli::kExitFailed);
    EXPECT_EQ(report["failureCause"], "other");
    EXPECT_GT(report["seconds"].get<double>(), 0.0);
    EXPECT_EQ(report["totals"], (nlohmann::json{{"files", 6},
                                                {"downloaded", 3},
                                                {"resumed", 1},
                                                {"skipped", 2},
                                                {"failed", 1},
                                                {"deletedOnServer", 3},
                                                {"bytes", report["totals"]["bytes"]}}));
    std::map<std::string, nlohmann::json> byPath;
    for (const auto& f : report["files"]) byPath[f["remotePath"]] = f;
    ASSERT_EQ(byPath.size(), 6u) << report.dump(2);

    const nlohmann::json& fresh = byPath["/new.txt"];
    EXPECT_EQ(fresh["localPath"], local_ / "new.txt");
    EXPECT_EQ(fresh["size"], 5);
    EXPECT_TRUE(fresh["remoteTime"].is_number());
    EXPECT_EQ(fresh["action"], "downloaded");
    EXPECT_EQ(fresh["bytes"], 5);
    EXPECT_GE(fresh["seconds"].get<double>(), 0.0);
    EXPECT_EQ(fresh["deletion"], "deleted");

    const nlohmann::json& resumed = byPath["/big.bin"];
    EXPECT_EQ(resumed["action"], "resumed");
    EXPECT_EQ(resumed["size"], 200000);
    EXPECT_EQ(resumed["resumeFrom"], 100000);
    // the bytes held are compared with the server's before anything is appended
    EXPECT_GT(resumed["bytes"].get<std::int64_t>(), 100000);
    EXPECT_LT(resumed["bytes"].get<std::int64_t>(), 200000);
    EXPECT_EQ(resumed["deletion"], "deleted");

    const nlohmann::json& same = byPath["/same.txt"];
    EXPECT_EQ(same["action"], "skipped");
    EXPECT_EQ(same["reason"], "nothing proves its content the same as the remote file's");
    EXPECT_EQ(same["bytes"], 0);
    EXPECT_EQ(same["deletion"], "kept");

    const nlohmann::json& blocked = byPath["/blocked.txt"];
    EXPECT_EQ(blocked["action"], "failed");
    EXPECT_NE(blocked["error"].get<std::string>().find("a folder of that name exists"), std::string::npos);
    EXPECT_FALSE(blocked.contains("deletion"));

    EXPECT_EQ(byPath["/linked.txt"]["action"], "skipped");
    EXPECT_EQ(byPath["/linked.txt"]["reason"], "a symbolic link is in its place locally");
    EXPECT_FALSE(fs::exists(work_ / "elsewhere.txt"));

    EXPECT_EQ(byPath["/sub/deep.txt"]["localPath"], local_ / "sub/deep.txt");
    EXPECT_EQ(byPath["/sub/deep.txt"]["action"], "downloaded");
    EXPECT_EQ(report["totals"]["bytes"], 5 + 4 + resumed["bytes"].get<std::int64_t>());

    EXPECT_EQ(Tree(work_.Path()).size(), commands_ + 1u);  // the command files and the report only
    const auto toOut = test::RunProcess({KLVR_CLI_PATH, "run", CommandFile(Scenario()), "--report", "-"});
    const auto variables = toOut.out.find("\"userVariables\"");
    ASSERT_NE(variables, std::string::npos) << toOut.out;
    EXPECT_NE(toOut.out.find("\"exitStatus\"", variables), std::string::npos) << toOut.out;
}

// The exit status names the cause a scheduler acts on, from real servers as their admins set them up,
// and from a scripted one for a session the server ends.
TEST_F(RunOutcome, TheExitStatusNamesTheCause) {
    struct Case {
        const char* name;
        const char* server;  // none, pyftpdlib, pyftpdlib-tls, vsftpd, scripted, scripted-retry
        Settings settings;
        std::vector<std::string> args;
        int status;
        const char* cause;
    };
    const std::vector<Case> cases = {
        {"nothing listens", "none", {}, {}, cli::kExitConnect, "connect"},
        {"the proxy refuses",
         "none",
         {{"ProxyType", "2"}, {"ProxyHost", "127.0.0.1"}, {"ProxyPort", "9"}},
         {},
         cli::kExitConnect,
         "connect"},
        {"wrong password", "pyftpdlib", {{"Password", "wrong"}}, {}, cli::kExitLogon, "logon"},
        {"unknown user", "vsftpd", {{"UserName", "nobody-here"}}, {}, cli::kExitLogon, "logon"},
        {"untrusted certificate", "pyftpdlib-tls", {{"SecurityMode", "0"}}, {}, cli::kExitTls, "tls"},
        {"missing remote folder",
         "pyftpdlib",
         {{"RemoteDir", "/nowhere"}},
         {},
         cli::kExitNotFound,
         "not-found"},
        {"missing remote folder", "vsftpd", {{"RemoteDir", "/nowhere"}}, {}, cli::kExitNotFound, "not-found"},
        {"named file not listed",
         "pyftpdlib",
         {{"CopySpecific", "1"}, {"SpecificFileName", "absent.txt"}},
         {},
         cli::kExitNotFound,
         "not-found"},
        {"missing local folder",
         "pyftpdlib",
         {{"LocalDir", "/nonexistent/klvr-out"}},
         {},
         cli::kExitLocalWrite,
         "local-write"},
        {"nothing to fetch",
         "vsftpd",
         {{"RemoteDir", "/empty"}},
         {"--fail-if-empty"},
         cli::kExitNothingMatched,
         "none"},
        {"nothing to fetch, not asked", "vsftpd", {{"RemoteDir", "/empty"}}, {}, cli::kExitDone, "none"},
        {"the server ends the session", "scripted", {}, {}, cli::kExitFailed, "other"},
        // the first attempt's logon is refused, the retry's connection closes before the greeting
        {"the last attempt's cause", "scripted-retry", {{"RetryCount", "2"}}, {}, cli::kExitFailed, "other"},
    };
    test::TempDir remote;
    remote.Write("a.txt", "alpha");
    remote.MakeFolder("empty");
    test::OpenToAll(remote.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " (" + c.server + ")");
        test::TempDir local;
        const std::string server = c.server;
        std::unique_ptr<test::PyFtpdServer> py;
        std::unique_ptr<test::VsftpdServer> vs;
        std::unique_ptr<test::ScriptedFtpServer> scripted;
        Settings settings = RunSettings(9, "user", "secret", local.Path());
        if (server == "pyftpdlib" || server == "pyftpdlib-tls") {
            test::PyFtpdOptions options;
            options.root = remote.Path();
            if (server == "pyftpdlib-tls") {
                test::ServerTls tls;
                tls.start = test::TlsStart::Implicit;
                test::UseTls(options, tls);
            }
            py = std::make_unique<test::PyFtpdServer>(options);
            settings["RemotePort"] = std::to_string(py->Port());
        } else if (server == "vsftpd") {
            test::VsftpdOptions options;
            options.root = remote.Path();
            vs = std::make_unique<test::VsftpdServer>(options);
            settings = RunSettings(vs->Port(), "anonymous", "guest@", local.Path());
        } else if (server == "scripted-retry") {
            scripted = std::make_unique<test::ScriptedFtpServer>(R"(
> 220 ready
< USER user
> 331 password please
< PASS secret
> 530 not now
accept
close
)");
            settings["RemotePort"] = std::to_string(scripted->Port());
        } else if (server == "scripted") {
            scripted = std::make_unique<test::ScriptedFtpServer>(R"(
> 220 ready
< USER user
> 331 password please
< PASS secret
> 230 logged on
< CWD /
> 250 ok
< PWD
> 257 "/" is current
< EPSV
> 229 ok ({epsv})
< LIST
> 150 here it comes
data -rw-r--r-- 1 u g 10 Jan 01 2026 a.bin\r\n
data-close
> 226 done
< TYPE I
> 200 ok
< SIZE a.bin
> 213 10
< EPSV
> 229 ok ({epsv})
< RETR a.bin
> 150 go
data 01234
sleep 100
> 421 Service closing
close
)");
            settings["RemotePort"] = std::to_string(scripted->Port());
        }
        for (const auto& [name, value] : c.settings) settings[name] = value;
        const auto r = Run(settings, c.args);
        EXPECT_EQ(r.exitCode, c.status) << r.err;
        const nlohmann::json report = Report();
        EXPECT_EQ(report["exitStatus"], c.status);
        EXPECT_EQ(report["failureCause"], c.cause);
        if (scripted) {
            EXPECT_EQ(scripted->Finish(), "");
        }
    }
}

// A dialogue that stalls after the user name, until the client goes away.
const char kStalledLogon[] = R"(
> 220 ready
< USER user
hang
)";

bool AwaitUser(const test::ScriptedFtpServer& server) {
    for (int i = 0; i < 200; ++i) {
        const auto commands = server.Commands();
        if (!commands.empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// A signal stops the run as shells expect (128 + its number), with the report written all the same;
// a host's Abort reads as such in the report the plug-in hands the host.
TEST_F(RunOutcome, AStoppedRunSaysWhoStoppedIt) {
    {
        test::ScriptedFtpServer server(kStalledLogon);
        test::TempDir local;
        Settings settings = RunSettings(server.Port(), "user", "secret", local.Path());
        settings["TimeoutSeconds"] = "60";
        const auto r = Run(settings, {}, [&](int pid) {
            if (AwaitUser(server)) ::kill(pid, SIGTERM);
        });
        EXPECT_EQ(r.exitCode, 128 + SIGTERM) << r.err;
        EXPECT_EQ(Report()["exitStatus"], 128 + SIGTERM);
    }
    {
        // the host program's dry run stops the same way
        test::ScriptedFtpServer server(kStalledLogon);
        test::TempDir local;
        Settings settings = RunSettings(server.Port(), "user", "secret", local.Path());
        settings["TimeoutSeconds"] = "60";
        const auto r = Run(settings, {"--dry-run"}, [&](int pid) {
            if (AwaitUser(server)) ::kill(pid, SIGINT);
        });
        EXPECT_EQ(r.exitCode, 128 + SIGINT) << r.err;
        EXPECT_EQ(Report()["dryRun"], true);
        EXPECT_TRUE(fs::is_empty(local.Path()));
    }
    {
        test::ScriptedFtpServer server(kStalledLogon);
        test::TempDir local;
        Settings settings = RunSettings(server.Port(), "user", "secret", local.Path());
        settings["TimeoutSeconds"] = "60";
        const cli::CommandFile command = cli::ReadCommandFile(CommandFile(settings));
        cli::Plugin plugin(KLVR_PLUGIN_PATH);
        abi::Toolbox t(plugin.functions());
        std::thread run([&] { t.RunP("VAULTFETCH", command.data, command.orgData); });
        if (AwaitUser(server)) t.Abort();
        run.join();
        EXPECT_TRUE(t.Error());
        const nlohmann::json report = nlohmann::json::parse(t.RunReport());
        EXPECT_EQ(report["failureCause"], "aborted");
        EXPECT_EQ(cli::ExitStatusOf({t.Error(), report["failureCause"], 0, false, true}), cli::kExitAborted);
    }
}

}  // namespace
}  // namespace klvr
