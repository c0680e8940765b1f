// The vaultfetch host program, run as a user runs it.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "klvr/version.h"
#include "support/ftp_servers.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "support/tls_servers.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;

class VaultfetchCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("klvr-cli-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& text) {
        const auto path = dir_ / name;
        std::ofstream(path) << text;
        return path.string();
    }
    static test::ProcessResult Cli(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), KLVR_CLI_PATH);
        return test::RunProcess(args, std::chrono::seconds(120), env);
    }
    // A command file of the given members, each a string.
    std::string Command(const std::string& name, const std::map<std::string, std::string>& members) {
        nlohmann::json j = nlohmann::json::object();
        for (const auto& [member, value] : members) j[member] = value;
        return Write(name, j.dump(2));
    }

    fs::path dir_;
};

TEST_F(VaultfetchCli, InfoShowsTheIdentity) {
    const auto r = Cli({"info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Info: Plugin: Vaultfetch]|[native"), std::string::npos);
    EXPECT_NE(r.out.find("Version: " KLVR_VERSION_STRING), std::string::npos);
    EXPECT_NE(
        r.out.find("Name=Vaultfetch IconLarge=39 IconSmall=39 Cat=Vaultnet CatIconLarge=6 CatIconSmall=6"),
        std::string::npos);
}

TEST_F(VaultfetchCli, UnusableCommandFilesExitTwoWithOneLine) {
    struct Case {
        std::string content;  // empty: the file does not exist
        std::string reason;
    };
    const Case cases[] = {
        {"", "cannot read"},
        {"{not json", "not valid JSON: line 1, column 3: "},
        {"{\n  \"RemoteHost\": \"h\",\n  \"UserName\": tru\n}", "not valid JSON: line 3, column 18: "},
        {R"({"RemotePort": "40021"})", "RemotePort: 40021 is above 32767"},
        {R"({"TimeoutSeconds": "soon"})", "TimeoutSeconds: \"soon\" is not a number"},
        {"[1, 2]", "not a JSON object"},
        {R"({"RemoteHost": "h", "Colour": "blue"})", "unknown member \"Colour\""},
        {R"({"RemotePort": 21})", "is not a string"},
        {R"({"orgData": {"Nope": "1"}})", "unknown member \"Nope\" in orgData"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string file = c.content.empty() ? (dir_ / "missing.json").string()
                                                   : Write("bad" + std::to_string(n++) + ".json", c.content);
        const auto r = Cli({"run", file});
        EXPECT_EQ(r.exitCode, 2) << c.content;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(Cli({"run"}).exitCode, 2);
    EXPECT_EQ(Cli({"frobnicate"}).exitCode, 2);
}

TEST_F(VaultfetchCli, HelpAndVersionGoToStandardOutputAndAnUnknownOptionShowsTheUsage) {
    const auto version = Cli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "vaultfetch " KLVR_VERSION_STRING "\n");
    for (const std::string command :
         {"run", "configure", "info", "daemon", "certs", "register", "unregister"}) {
        const auto help = Cli({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind("usage: vaultfetch ", 0), 0) << help.out;
        EXPECT_NE(help.out.substr(0, help.out.find('\n')).find(command), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "") << command;
    }
    const auto main = Cli({"-h"});
    EXPECT_EQ(main.exitCode, 0);
    EXPECT_NE(main.out.find("Commands:"), std::string::npos);

    struct Case {
        std::vector<std::string> args;
        std::string reason, usage;
    };
    const Case cases[] = {
        {{"run", "cmd.json", "--colour=red"},
         "run: unknown or ambiguous option --colour",
         "usage: vaultfetch run "},
        {{"run", "cmd.json", "--instance"}, "run: --instance needs a value", "usage: vaultfetch run "},
        {{"run", "-q", "-v", "cmd.json"}, "run: -q and -v exclude each other", "usage: vaultfetch run "},
        {{"daemon", "now"}, "daemon: unexpected argument \"now\"", "usage: vaultfetch daemon"},
        {{"certs", "list", "--store"}, "certs: --store needs a value", "usage: vaultfetch certs list"},
        {{"--colour"}, "unknown or ambiguous option --colour", "usage: vaultfetch [--plugin LIB]"},
        {{"frobnicate"}, "unknown command \"frobnicate\"", "usage: vaultfetch [--plugin LIB]"},
    };
    for (const auto& c : cases) {
        const auto r = Cli(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.reason;
        EXPECT_EQ(r.err.rfind("vaultfetch: " + c.reason + "\n" + c.usage, 0), 0) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// A server that refuses every connection: each attempt fails at once, so the retries show.
TEST_F(VaultfetchCli, FailingRunShowsTheRetryLinesAndExitsByItsCause) {
    const std::string file = Write("cmd.json", R"({"RemoteHost": "127.0.0.1", "UserName": "u",
        "Password": "p_$PW$_", "RemotePort": "9", "TransferMode": "1", "TimeoutSeconds": "5",
        "PassiveMode": "1", "LocalDir": ")" + (dir_ / "out").string() +
                                                   R"(", "ProcessAll": "1",
        "OverwriteExisting": "1", "FileFilter": ".", "IncludeSubdirs": "0", "RetryCount": "3",
        "SecurityMode": "8", "SecurityProtocol": "0", "IgnoreDateError": "0", "IgnoreHostError": "0",
        "IgnoreRootError": "0", "AlwaysAuthenticate": "0", "TraceLog": "0", "ManualPortRange": "0::"})");
    const auto r = Cli({"run", file});
    EXPECT_EQ(r.exitCode, 3) << r.err;  // nothing listens on the port
    const std::string stamp = R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\.\d{1,3} )";
    EXPECT_TRUE(std::regex_search(r.err, std::regex(stamp + R"(warning Retrying 2/3 \.\.\.\.\.)"))) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(stamp + R"(warning Retrying 3/3 \.\.\.\.\.)"))) << r.err;
    EXPECT_TRUE(
        std::regex_search(r.err, std::regex(stamp + R"(error Retry-count exceeded, aborting\.\.\.\.\.)")))
        << r.err;
    EXPECT_LT(r.err.find("Retrying 2/3"), r.err.find("Retrying 3/3"));
    const auto out = nlohmann::json::parse(r.out);
    EXPECT_EQ(out["error"], true);
    EXPECT_TRUE(out["userVariables"].empty());
    EXPECT_TRUE(out["localVars"].empty());

    // two attempts are enough to show that no line reaches the terminal (and spare a pause)
    std::string twice = test::ReadFile(file);
    twice.replace(twice.find("\"RetryCount\": \"3\""), 17, "\"RetryCount\": \"2\"");
    const auto quiet = Cli({"run", Write("twice.json", twice), "--no-daemon"});
    EXPECT_EQ(quiet.exitCode, 3);
    EXPECT_EQ(quiet.err.find("Retrying"), std::string::npos);
}

// A name that is not UTF-8 is stored as the server's bytes; the printed JSON stays valid, and the
// exit status is the run's.
TEST_F(VaultfetchCli, ANameThatIsNotUtf8PrintsValidJsonAndExitsZero) {
    test::TempDir remote;
    remote.Write("caf\xe9.txt", "latte");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    test::PyFtpdServer server(options);
    const std::string file =
        Write("cmd.json", R"({"RemoteHost": "127.0.0.1", "UserName": "user", "Password": "secret_$PW$_",
        "RemotePort": ")" + std::to_string(server.Port()) +
                              R"(", "TransferMode": "1", "TimeoutSeconds": "10", "PassiveMode": "1",
        "LocalDir": ")" + (dir_ / "out").string() +
                              R"(", "FileFilter": ".", "SaveFileName": "1", "VariableScope": "USER",
        "VariableNumber": "last", "IncludeSubdirs": "0", "RetryCount": "1", "SecurityMode": "8",
        "SecurityProtocol": "0", "ProxyType": "0", "ProxyPort": "0", "DeleteAfterDownload": "0",
        "ProcessAll": "0", "OverwriteExisting": "0", "CopySpecific": "0", "IgnoreDateError": "0",
        "IgnoreHostError": "0", "IgnoreRootError": "0", "AlwaysAuthenticate": "0", "TraceLog": "0",
        "ManualPortRange": "0::"})");
    fs::create_directory(dir_ / "out");
    const auto r = Cli({"run", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "caf\xe9.txt")) << r.err;
    nlohmann::json out;
    ASSERT_NO_THROW(out = nlohmann::json::parse(r.out)) << r.out;
    EXPECT_EQ(out["error"], false);
    ASSERT_EQ(out["userVariables"].size(), 1u) << r.out;
    EXPECT_EQ(out["userVariables"][0]["name"], "last");
    EXPECT_EQ(out["userVariables"][0]["value"], "caf\xef\xbf\xbd.txt");
}

TEST_F(VaultfetchCli, DaemonPrintsTheLinesOfItsInstance) {
    const std::string file = Write("cmd.json", R"({"RemoteHost": "127.0.0.1", "RemotePort": "9",
        "TimeoutSeconds": "5", "RetryCount": "2", "SecurityMode": "8", "ManualPortRange": "0::"})");
    const std::string instance = "cli-daemon-" + std::to_string(::getpid());
    test::ProcessResult run;
    const auto daemon = test::RunProcess({KLVR_CLI_PATH, "daemon", "--instance", instance},
                                         std::chrono::seconds(60), {}, [&](int pid) {
                                             ::usleep(300 * 1000);  // let the daemon bind its socket
                                             run = Cli({"run", file, "--no-daemon", "--instance", instance});
                                             ::kill(pid, SIGINT);
                                         });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(daemon.exitCode, 0) << daemon.err;
    EXPECT_NE(daemon.out.find(" warning Retrying 2/2 ....."), std::string::npos) << daemon.out;
    EXPECT_NE(daemon.out.find(" error Retry-count exceeded, aborting....."), std::string::npos) << daemon.out;
}

// Waits until a receiver has bound the instance's socket.
std::string BoundSocket(const std::string& instance) {
    const std::string path = *DaemonSocketPath(instance);
    for (int i = 0; i < 500 && !fs::exists(path); ++i) ::usleep(10 * 1000);
    return path;
}

// One receiver per instance: a second one, or a run that would receive for it, is refused by name and
// takes nothing from the first; a receiver that ends removes its own socket only. Every message prints
// so that nothing in it passes for a stamped line.
TEST_F(VaultfetchCli, ReceiversOwnTheirInstanceAndPrintUnforgeableLines) {
    const std::string file = Write("cmd.json", R"({"RemoteHost": "127.0.0.1", "RemotePort": "9",
        "TimeoutSeconds": "5", "RetryCount": "1", "SecurityMode": "8", "ManualPortRange": "0::"})");
    const std::string instance = "cli-owner-" + std::to_string(::getpid());
    moduleState().DaemonInstance = instance;
    test::ProcessResult second, run, successor;
    const auto first = test::RunProcess(
        {KLVR_CLI_PATH, "daemon", "--instance", instance}, std::chrono::seconds(60), {}, [&](int firstPid) {
            const std::string path = BoundSocket(instance);
            second = Cli({"daemon", "--instance", instance});
            run = Cli({"run", file, "--instance", instance});
            WriteLog("first\r\nsecond \x1b[2J\n01-01-2000 00:00:00.0 error FORGED", LogLevel::Warning);
            WriteLog("- one reason\r\n- another reason\r\n", LogLevel::Warning);
            // the name is taken over behind the first receiver's back; its end must leave the new socket
            ::usleep(300 * 1000);
            ::unlink(path.c_str());
            successor = test::RunProcess({KLVR_CLI_PATH, "daemon", "--instance", instance},
                                         std::chrono::seconds(60), {}, [&](int successorPid) {
                                             BoundSocket(instance);
                                             ::kill(firstPid, SIGINT);
                                             ::usleep(500 * 1000);
                                             WriteLog("for the successor", LogLevel::Information);
                                             ::usleep(300 * 1000);
                                             ::kill(successorPid, SIGINT);
                                         });
        });
    for (const auto* refused : {&second, &run}) {
        EXPECT_EQ(refused->exitCode, 2) << refused->err;
        EXPECT_NE(refused->err.find("\"" + instance + "\""), std::string::npos) << refused->err;
        EXPECT_EQ(std::count(refused->err.begin(), refused->err.end(), '\n'), 1) << refused->err;
    }
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.out.find(" warning first\n    second \\x1b[2J\n    01-01-2000 00:00:00.0 error FORGED\n"),
              std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find(" warning - one reason\n    - another reason\n"), std::string::npos)
        << first.out;
    EXPECT_EQ(first.out.find("\n01-01-2000"), std::string::npos) << first.out;
    EXPECT_EQ(successor.exitCode, 0) << successor.err;
    EXPECT_NE(successor.out.find(" info for the successor\n"), std::string::npos) << successor.out;
    EXPECT_FALSE(fs::exists(*DaemonSocketPath(instance)));

    // a socket left by a receiver that did not end cleanly is taken over
    const std::string path = *DaemonSocketPath(instance);
    {
        const UniqueFd dead(::socket(AF_UNIX, SOCK_DGRAM, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        ASSERT_EQ(::bind(dead.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    }
    const auto taken = Cli({"run", file, "--instance", instance});
    EXPECT_EQ(taken.exitCode, 1) << taken.err;
    EXPECT_NE(taken.err.find(" error Retry-count exceeded, aborting....."), std::string::npos) << taken.err;
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(VaultfetchCli, ConfigureWithoutASaveLeavesTheFileUntouched) {
    const std::string text = R"({"RemoteHost": "h", "UserName": "u"})";
    const std::string file = Write("cmd.json", text);
    const std::string lists = Write("lists.json", R"({"variables": ["a", "b"], "presets": []})");
    const auto r =
        test::RunProcess({KLVR_CLI_PATH, "configure", file, "--host-lists", lists}, std::chrono::seconds(60),
                         {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
    EXPECT_EQ(r.exitCode, 1) << r.err;  // no display: a dialog that never opened is no cancel
    EXPECT_NE(r.err.find("cannot be shown"), std::string::npos) << r.err;
    std::ifstream in(file);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), text);

    const std::string badLists = Write("bad.json", R"({"localConstants": ["only one"]})");
    const auto bad = Cli({"configure", file, "--host-lists", badLists});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("15 descriptions"), std::string::npos) << bad.err;
}

// The package's install scripts register the plug-in through the program.
TEST_F(VaultfetchCli, RegisterWritesTheManifestWhereTheBaseDirectoryRulesSay) {
    const fs::path home = dir_ / "home";
    struct Case {
        std::string xdgDataHome;
        fs::path folder;
    };
    const Case cases[] = {
        {(dir_ / "data").string(), dir_ / "data"},
        {"relative/data", home / ".local/share"},  // a relative XDG_DATA_HOME is ignored
        {"", home / ".local/share"},
    };
    for (const Case& c : cases) {
        const fs::path manifest = c.folder / "kelvara/plugins/klvrVaultfetch.Toolbox.json";
        const std::vector<std::string> env{"HOME=" + home.string(), "XDG_DATA_HOME=" + c.xdgDataHome};
        const auto r = test::RunProcess({KLVR_CLI_PATH, "register"}, std::chrono::seconds(60), env);
        ASSERT_EQ(r.exitCode, 0) << c.xdgDataHome << ": " << r.err;
        std::ifstream in(manifest);
        const auto json = nlohmann::json::parse(in, nullptr, false);
        ASSERT_TRUE(json.is_object()) << manifest;
        EXPECT_EQ(json.value("class", ""), "klvrVaultfetch.Toolbox");
        const fs::path library = json.value("library", "");
        EXPECT_TRUE(library.is_absolute()) << library;
        EXPECT_TRUE(fs::equivalent(library, KLVR_PLUGIN_PATH)) << library;

        EXPECT_EQ(test::RunProcess({KLVR_CLI_PATH, "unregister"}, std::chrono::seconds(60), env).exitCode, 0);
        EXPECT_FALSE(fs::exists(manifest));
        // nothing left to remove is no failure
        EXPECT_EQ(test::RunProcess({KLVR_CLI_PATH, "unregister"}, std::chrono::seconds(60), env).exitCode, 0);
    }
    EXPECT_FALSE(fs::exists("relative"));
}

TEST_F(VaultfetchCli, AFailedRegistrationSaysWhereAndWhy) {
    Write("file", "not a folder");
    const std::string blocked = (dir_ / "file/data").string();
    const auto r =
        test::RunProcess({KLVR_CLI_PATH, "register"}, std::chrono::seconds(60), {"XDG_DATA_HOME=" + blocked});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(blocked + "/kelvara/plugins/klvrVaultfetch.Toolbox.json: Not a directory"),
              std::string::npos)
        << r.err;

    const auto nowhere = test::RunProcess({KLVR_CLI_PATH, "register"}, std::chrono::seconds(60),
                                          {"XDG_DATA_HOME=relative", "HOME="});
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_NE(nowhere.err.find("neither XDG_DATA_HOME nor HOME names an absolute folder"), std::string::npos)
        << nowhere.err;
    EXPECT_EQ(Cli({"register", "extra"}).exitCode, 2);
}

// What a user writes first: host, user, password, port and folders. Everything left out takes what the
// dialog saves for a new command: implicit TLS checked against the trusted roots, the first file only,
// and no remote file deleted; an empty flag reads the same.
TEST_F(VaultfetchCli, AMinimalCommandFileDownloadsAndDeletesNothing) {
    const test::TestCertificates& certs = test::TestCertificates::Shared();
    test::TempDir remote;
    remote.Write("a.txt", "alpha");
    remote.Write("b.txt", "beta");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    test::ServerTls tls;
    tls.start = test::TlsStart::Implicit;
    test::UseTls(options, tls);
    test::PyFtpdServer server(options);

    // the server's issuer becomes trusted as the README shows it
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + (dir_ / "data").string(),
                                          "XDG_STATE_HOME=" + (dir_ / "state").string()};
    const auto trusted =
        Cli({"certs", "import", certs.ca.certPem.string(), "--store", "ROOT", "--location", "user"}, env);
    ASSERT_EQ(trusted.exitCode, 0) << trusted.err;

    const std::map<std::string, std::string> minimal = {
        {"RemoteHost", "127.0.0.1"}, {"UserName", "user"},
        {"Password", "secret"},      {"RemotePort", std::to_string(server.Port())},
        {"RemoteDir", "/"},          {"LocalDir", (dir_ / "first").string()}};
    fs::create_directory(dir_ / "first");
    const auto r = Cli({"run", Command("minimal.json", minimal)}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err << server.Log();
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "first"), fs::directory_iterator()), 1) << r.err;
    EXPECT_TRUE(test::Exists(remote / "a.txt") && test::Exists(remote / "b.txt"));

    auto every = minimal;
    every["LocalDir"] = (dir_ / "every").string();
    every["ProcessAll"] = "1";
    every["DeleteAfterDownload"] = "";
    fs::create_directory(dir_ / "every");
    const auto all = Cli({"run", Command("every.json", every)}, env);
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(test::ReadFile((dir_ / "every" / "b.txt").string()), "beta") << all.err;
    EXPECT_TRUE(test::Exists(remote / "a.txt") && test::Exists(remote / "b.txt")) << all.err;
}

// The logon password from outside the command file: the user's netrc file, another one, the
// environment or a password file; a netrc file that others may read gives no password.
TEST_F(VaultfetchCli, ThePasswordComesFromNetrcTheEnvironmentOrAFile) {
    test::TempDir remote;
    remote.Write("a.txt", "alpha");
    test::PyFtpdOptions options;
    options.root = remote.Path();
    options.users = {{"user", "s3 cret", ""}};
    test::PyFtpdServer server(options);
    const std::string home = (dir_ / "home").string();
    fs::create_directory(home);
    const std::string other = Write("other-netrc", "default login user password \"s3 cret\"\n");
    ::chmod(other.c_str(), 0600);
    const std::string passwordFile = Write("password", "s3 cret\nsecond line\n");

    struct Case {
        const char* name;
        std::string netrc;  // ~/.netrc, when not empty
        mode_t mode;
        bool userInFile;
        std::vector<std::string> args;
        int exitCode;
        const char* err;  // expected in standard error, when the run is refused
    };
    const Case cases[] = {
        {"netrc", "machine 127.0.0.1\n  login user\n  password \"s3 cret\"\n", 0600, false, {}, 0, ""},
        {"netrc for another login", "machine 127.0.0.1 login root password x\n", 0600, true, {}, 4, ""},
        {"netrc readable by others",
         "machine 127.0.0.1 login user password \"s3 cret\"\n",
         0644,
         false,
         {},
         2,
         "may be read by others"},
        {"another netrc file", "", 0, false, {"--netrc-file", other}, 0, ""},
        {"environment", "", 0, true, {"--password-env", "KLVR_TEST_PASSWORD"}, 0, ""},
        {"unset variable",
         "",
         0,
         true,
         {"--password-env", "KLVR_TEST_UNSET"},
         2,
         "KLVR_TEST_UNSET is not set"},
        {"password file", "", 0, true, {"--password-file=" + passwordFile}, 0, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string netrc = home + "/.netrc";
        fs::remove(netrc);
        if (!c.netrc.empty()) {
            Write("home/.netrc", c.netrc);
            ::chmod(netrc.c_str(), c.mode);
        }
        const std::string out = (dir_ / ("out" + std::to_string(++n))).string();
        fs::create_directory(out);
        std::map<std::string, std::string> members = {
            {"RemoteHost", "127.0.0.1"}, {"RemotePort", std::to_string(server.Port())},
            {"SecurityMode", "8"},       {"PassiveMode", "1"},
            {"RetryCount", "1"},         {"LocalDir", out}};
        if (c.userInFile) members["UserName"] = "user";
        std::vector<std::string> args = {"run", Command("cmd.json", members)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Cli(args, {"HOME=" + home, "KLVR_TEST_PASSWORD=s3 cret"});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << "\n" << r.err;
        EXPECT_EQ(test::Exists(out + "/a.txt"), c.exitCode == 0) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << "\n" << r.err;
    }
}

struct TerminalResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error as the terminal received them
};

// Runs the program with a pseudo-terminal as its standard input, output and error.
TerminalResult RunOnTerminal(const std::vector<std::string>& argv) {
    TerminalResult result;
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return result;
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the program and its children have closed the terminal
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(master);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

// On a terminal the file being fetched has one live line: name, bytes, percentage, rate, time left,
// redrawn in place and cleared before the next log line. Nothing of it reaches a pipe.
TEST_F(VaultfetchCli, ATerminalShowsTheTransferLiveAndAPipeDoesNot) {
    test::TempDir remote;
    std::string bytes(384 * 1024, 'x');
    remote.Write("big.bin", bytes);
    test::PyFtpdOptions options;
    options.root = remote.Path();
    // 64 KiB a second, which the server sends as two 64 KiB bursts every two seconds: the line has a
    // rate and a time left from the second pair of bursts on
    options.handlerSetup =
        "class Slow(handlers.ThrottledDTPHandler):\n"
        "    write_limit = 64 * 1024\n"
        "handler.dtp_handler = Slow\n";
    test::PyFtpdServer server(options);
    const auto command = [&](const std::string& out) {
        fs::create_directory(dir_ / out);
        return Command(out + ".json", {{"RemoteHost", "127.0.0.1"},
                                       {"UserName", "user"},
                                       {"Password", "secret"},
                                       {"RemotePort", std::to_string(server.Port())},
                                       {"SecurityMode", "8"},
                                       {"PassiveMode", "1"},
                                       {"LocalDir", (dir_ / out).string()}});
    };

    const auto terminal = RunOnTerminal({KLVR_CLI_PATH, "run", command("terminal")});
    EXPECT_EQ(terminal.exitCode, 0) << terminal.output;
    EXPECT_EQ(fs::file_size(dir_ / "terminal" / "big.bin"), bytes.size());
    const std::string& t = terminal.output;
    const std::regex live(
        R"(\rbig\.bin  [0-9.]+ KiB / 384\.0 KiB  [0-9]+%  [0-9.]+ KiB/s  0:0[0-9] left\x1b\[K)");
    EXPECT_TRUE(std::regex_search(t, live)) << t;
    const std::size_t downloaded = t.find("Downloaded [big.bin]");
    ASSERT_NE(downloaded, std::string::npos) << t;
    const std::size_t cleared = t.rfind("\r\x1b[K", downloaded);
    ASSERT_NE(cleared, std::string::npos) << t;
    EXPECT_TRUE(std::regex_match(t.substr(cleared + 4, downloaded - cleared - 4),
                                 std::regex(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\.\d{1,3} info )")))
        << t;

    const auto pipe = Cli({"run", command("pipe")});
    EXPECT_EQ(pipe.exitCode, 0) << pipe.err;
    EXPECT_NE(pipe.err.find("Downloaded [big.bin]"), std::string::npos) << pipe.err;
    EXPECT_EQ(pipe.err.find('\r'), std::string::npos) << pipe.err;
    EXPECT_EQ(pipe.err.find("\x1b"), std::string::npos) << pipe.err;
}

}  // namespace
}  // namespace klvr
