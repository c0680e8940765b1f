// vaultfetch: a small host for the plug-in. It loads the library as a host does and plays the host's
// part: run a configured command, open its configuration dialog, show identity, receive log lines.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/command_file.h"
#include "cli/exit_status.h"
#include "cli/log_receiver.h"
#include "cli/options.h"
#include "cli/plugin_loader.h"
#include "cli/stop_signals.h"
#include "klvr/version.h"
#include "util/printable_text.h"

namespace klvr::cli {
namespace {

const char kHelp[] =
    "usage: vaultfetch [--plugin LIB] COMMAND [OPTIONS]\n"
    "       vaultfetch --version | --help\n"
    "\n"
    "Runs and configures the Vaultfetch command of the plug-in libklvrVaultfetch, as its host does.\n"
    "\n"
    "Commands:\n"
    "  run COMMAND.json        runs the command: log lines on standard error, output variables on\n"
    "                          standard output\n"
    "  configure COMMAND.json  opens the command's configuration dialog and saves it into the file\n"
    "  info                    shows the plug-in's identity\n"
    "  daemon                  prints the log lines of an instance until interrupted\n"
    "  certs                   lists the certificate stores, imports and removes certificates\n"
    "  register, unregister    writes or removes the plug-in's manifest for the host\n"
    "\n"
    "Options:\n"
    "  --plugin LIB            the plug-in library (default: the one beside this program, else the\n"
    "                          installed one)\n"
    "  --version               shows the version\n"
    "  -h, --help              shows this help\n"
    "\n"
    "\"vaultfetch COMMAND --help\" describes a command.\n"
    "Exit status: 0 success, 1 the run or the operation failed, 2 unusable arguments or command file;\n"
    "\"vaultfetch run --help\" lists the statuses of a run by cause.\n";

const char kRunHelp[] =
    "usage: vaultfetch run COMMAND.json [OPTIONS]\n"
    "\n"
    "Runs the command the file describes, as the host does: the log lines go to standard error, the\n"
    "output variables to standard output as one JSON object. A member the file leaves out takes what the\n"
    "configuration dialog saves for a new command. On a terminal the file being fetched has a live line:\n"
    "bytes, percentage, rate and time left. SIGINT or SIGTERM stops the run as the host's stop button.\n"
    "\n"
    "Options:\n"
    "  --instance NAME             the log daemon instance (default: a name unique to this process)\n"
    "  --no-autolog                sends warnings and errors only, not the run's information lines\n"
    "  --no-daemon                 does not receive the log lines (another receiver may)\n"
    "  -q, --quiet                 prints error lines only, and no live progress\n"
    "  -v, --verbose               writes the protocol trace and shows it on standard error as well\n"
    "  --dry-run                   connects, logs on, lists and decides as the run would, prints what it\n"
    "                              would do with each file on standard output (instead of the\n"
    "                              variables) and changes nothing, locally or on the server\n"
    "  --report FILE               writes a JSON report: one record per listed entry (paths, size, time,\n"
    "                              action, bytes, duration), the totals and the exit status; written\n"
    "                              whole, also when the run fails or is stopped; - for standard output\n"
    "                              after the variables\n"
    "  --fail-if-empty             exits with 9 when the listing holds no file to fetch\n"
    "  --password-file FILE        the logon password: the first line of FILE\n"
    "  --password-env NAME         the logon password: the environment variable NAME\n"
    "  --proxy-password-file FILE  the proxy password: the first line of FILE\n"
    "  --proxy-password-env NAME   the proxy password: the environment variable NAME\n"
    "  --netrc-file FILE           reads FILE instead of ~/.netrc when the command has no Password\n"
    "  --parallel N                fetches a folder's files on up to N sessions at once, 1 to 16\n"
    "                              (default 2; flat mode and ZIP transfers use one)\n"
    "  --plugin LIB                the plug-in library\n"
    "  -h, --help                  shows this help\n"
    "\n"
    "A summary line closes the run on standard error when it is a terminal or -v is given.\n"
    "\n"
    "Exit status (by the cause the last attempt met):\n"
    "  0    done\n"
    "  1    a failure not listed below (a transfer failed, the server ended the session)\n"
    "  2    unusable command file or options\n"
    "  3    could not connect (host name, refused, time-out, proxy)\n"
    "  4    logon refused\n"
    "  5    server certificate refused or TLS failed\n"
    "  6    remote folder or named file not found\n"
    "  7    local write failed (permission, disk full)\n"
    "  8    stopped by the host's Abort\n"
    "  9    nothing to fetch in the listing (with --fail-if-empty only)\n"
    "  128+N  stopped by signal N (130 SIGINT, 143 SIGTERM)\n";

const char kConfigureHelp[] =
    "usage: vaultfetch configure COMMAND.json [--host-lists LISTS.json]\n"
    "\n"
    "Opens the command's configuration dialog with the values a run would use. Ok writes the 35\n"
    "settings back into the file, keeping the order of its members; Cancel leaves it untouched.\n"
    "\n"
    "Options:\n"
    "  --host-lists LISTS.json  the host's names for the insertion menus: variables, sharedVariables,\n"
    "                           presets, dbPresets (arrays of names), localConstants, globalConstants\n"
    "                           (arrays of 15 descriptions)\n"
    "  --plugin LIB             the plug-in library\n"
    "  -h, --help               shows this help\n"
    "\n"
    "Exit status: 0 saved or cancelled, 1 the dialog could not be shown, 2 unusable file or options.\n";

const char kInfoHelp[] =
    "usage: vaultfetch info [--plugin LIB]\n"
    "\n"
    "Shows the plug-in's Info, Author and Version and its module record.\n";

const char kDaemonHelp[] =
    "usage: vaultfetch daemon [--instance NAME]\n"
    "\n"
    "Receives the log lines of an instance (see vaultfetch run --no-daemon --instance NAME) and prints\n"
    "them on standard output until interrupted. An instance another receiver serves is refused.\n";

const char kRegisterHelp[] =
    "usage: vaultfetch register | unregister [--plugin LIB]\n"
    "\n"
    "Writes (or removes) the plug-in's manifest in $XDG_DATA_HOME/kelvara/plugins/, by which the host\n"
    "finds the plug-in. Removing a manifest that is not there is no failure.\n";

int Info(const Plugin& plugin) {
    abi::Toolbox t(plugin.functions());
    t.GetInfo();
    std::printf("Info: %s\nAuthor: %s\nVersion: %s\nModuleCount: %d\n", t.Info().c_str(), t.Author().c_str(),
                t.Version().c_str(), t.ModuleCount());
    const auto r = t.ModuleInfo(1);
    std::printf("Module 1: Name=%s IconLarge=%s IconSmall=%s Cat=%s CatIconLarge=%s CatIconSmall=%s\n",
                r.Name.c_str(), r.IconLarge.c_str(), r.IconSmall.c_str(), r.Cat.c_str(),
                r.CatIconLarge.c_str(), r.CatIconSmall.c_str());
    return 0;
}

RunOptions RunOptionsOf(const ParsedOptions& p) {
    RunOptions o;
    if (p.operands.empty()) throw OptionError("run needs a command file");
    o.file = p.operands.front();
    o.instance = p.Value("instance");
    o.autolog = !p.Has("no-autolog");
    o.daemon = !p.Has("no-daemon");
    o.quiet = p.Has("quiet");
    o.verbose = p.Has("verbose");
    if (o.quiet && o.verbose) throw OptionError("-q and -v exclude each other");
    o.secrets.passwordFile = p.Value("password-file");
    o.secrets.passwordEnv = p.Value("password-env");
    o.secrets.proxyPasswordFile = p.Value("proxy-password-file");
    o.secrets.proxyPasswordEnv = p.Value("proxy-password-env");
    o.secrets.netrcFile = p.Value("netrc-file");
    o.dryRun = p.Has("dry-run");
    o.report = p.Value("report");
    if (p.Has("report") && o.report.empty()) throw OptionError("--report needs a file name or -");
    o.failIfEmpty = p.Has("fail-if-empty");
    if (p.Has("parallel")) {
        const std::string n = p.Value("parallel");
        if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(n) < 1 || std::stoi(n) > 16)
            throw OptionError("--parallel takes a number from 1 to 16");
        o.parallel = std::stoi(n);
    }
    return o;
}

int Daemon(const ParsedOptions& p) {
    const std::string instance = p.Value("instance");
    LogReceiver receiver(instance, stdout);
    if (!receiver.ok())
        throw CommandFileError("cannot open the log socket for instance \"" + Printable(instance) + "\"");
    std::fprintf(stderr, "vaultfetch: receiving log lines on %s\n", receiver.path().c_str());
    std::atomic<bool> stop{false};
    SignalThread signals([&](int) { stop = true; });
    receiver.RunUntil(stop);
    return 0;
}

struct SubCommand {
    const char* name;
    const char* help;
    std::vector<OptionSpec> options;
    std::size_t operands;
    // the plug-in, loaded for the commands that call it
    std::function<int(const Plugin*, const ParsedOptions&)> body;
};

const OptionSpec kPluginOption{"plugin", 0, true};

std::vector<SubCommand> SubCommands() {
    return {
        {"run",
         kRunHelp,
         {{"instance", 0, true},
          {"no-autolog", 0, false},
          {"no-daemon", 0, false},
          {"quiet", 'q', false},
          {"verbose", 'v', false},
          {"password-file", 0, true},
          {"password-env", 0, true},
          {"proxy-password-file", 0, true},
          {"proxy-password-env", 0, true},
          {"netrc-file", 0, true},
          {"dry-run", 0, false},
          {"report", 0, true},
          {"fail-if-empty", 0, false},
          {"parallel", 0, true},
          kPluginOption},
         1,
         [](const Plugin* plugin, const ParsedOptions& p) { return Run(*plugin, RunOptionsOf(p)); }},
        {"configure",
         kConfigureHelp,
         {{"host-lists", 0, true}, kPluginOption},
         1,
         [](const Plugin* plugin, const ParsedOptions& p) {
             if (p.operands.empty()) throw OptionError("configure needs a command file");
             return Configure(*plugin, p.operands.front(), p.Value("host-lists"));
         }},
        {"info",
         kInfoHelp,
         {kPluginOption},
         0,
         [](const Plugin* plugin, const ParsedOptions&) { return Info(*plugin); }},
        {"daemon",
         kDaemonHelp,
         {{"instance", 0, true}},
         0,
         [](const Plugin*, const ParsedOptions& p) { return Daemon(p); }},
        {"register",
         kRegisterHelp,
         {kPluginOption},
         0,
         [](const Plugin* plugin, const ParsedOptions&) { return Register(*plugin, true); }},
        {"unregister",
         kRegisterHelp,
         {kPluginOption},
         0,
         [](const Plugin* plugin, const ParsedOptions&) { return Register(*plugin, false); }},
    };
}

}  // namespace

int Main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const ParsedOptions global =
            ParseOptions("", args, {kPluginOption, {"version", 0, false}}, 0, /*stopAtOperand=*/true);
        if (global.Has("version")) {
            std::printf("vaultfetch %s\n", KLVR_VERSION_STRING);
            return 0;
        }
        if (global.help) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (global.operands.empty()) {
            std::fputs(kHelp, stderr);
            return kExitUnusable;
        }
        const std::string name = global.operands.front();
        const std::vector<std::string> rest(global.operands.begin() + 1, global.operands.end());
        if (name == "certs") return Certs(rest);
        for (const SubCommand& command : SubCommands()) {
            if (name != command.name) continue;
            try {
                const ParsedOptions p = ParseOptions(name, rest, command.options, command.operands);
                if (p.help) {
                    std::fputs(command.help, stdout);
                    return 0;
                }
                std::optional<Plugin> plugin;
                if (std::find_if(command.options.begin(), command.options.end(), [](const OptionSpec& o) {
                        return std::string(o.name) == "plugin";
                    }) != command.options.end()) {
                    const std::string path = p.Value("plugin", global.Value("plugin"));
                    plugin.emplace(path.empty() ? DefaultPluginPath() : path);
                }
                return command.body(plugin ? &*plugin : nullptr, p);
            } catch (const OptionError& e) {
                PrintOptionError(name + ": " + e.what(), command.help);
                return kExitUnusable;
            }
        }
        PrintOptionError("unknown command \"" + Printable(name) + "\"", kHelp);
        return kExitUnusable;
    } catch (const OptionError& e) {
        PrintOptionError(e.what(), kHelp);
        return kExitUnusable;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vaultfetch: %s\n", e.what());
        return kExitUnusable;
    }
}

}  // namespace klvr::cli

int main(int argc, char** argv) {
    return klvr::cli::Main(argc, argv);
}
