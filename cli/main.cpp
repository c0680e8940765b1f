// vaultfetch: a small host for the plug-in. It loads the library as a host does and plays the host's
// part: run a configured command, open its configuration dialog, show identity, receive log lines.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/command_file.h"
#include "cli/log_receiver.h"
#include "cli/plugin_loader.h"
#include "cli/stop_signals.h"
#include "util/printable_text.h"

namespace klvr::cli {
namespace {

constexpr int kExitUnusable = 2;

void Usage() {
    std::fprintf(stderr,
                 "usage: vaultfetch [--plugin LIB] info\n"
                 "       vaultfetch [--plugin LIB] run COMMAND.json [--instance NAME] [--no-autolog] "
                 "[--no-daemon]\n"
                 "       vaultfetch [--plugin LIB] configure COMMAND.json [--host-lists LISTS.json]\n"
                 "       vaultfetch daemon [--instance NAME]\n"
                 "       vaultfetch [--plugin LIB] register | unregister\n"
                 "       vaultfetch certs ...   (see vaultfetch certs --help)\n");
}

struct Args {
    std::string plugin;
    std::string command;
    std::vector<std::string> rest;
};

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

RunOptions ParseRun(std::vector<std::string> rest) {
    RunOptions o;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (const std::size_t eq = rest[i].find('='); rest[i].starts_with("--") && eq != std::string::npos) {
            rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest[i].substr(eq + 1));
            rest[i].erase(eq);
        }
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= rest.size()) throw CommandFileError(rest[i] + " needs a value");
            return rest[++i];
        };
        if (rest[i] == "--instance")
            o.instance = value();
        else if (rest[i] == "--no-autolog")
            o.autolog = false;
        else if (rest[i] == "--no-daemon")
            o.daemon = false;
        else if (rest[i] == "-q" || rest[i] == "--quiet")
            o.quiet = true;
        else if (rest[i] == "-v" || rest[i] == "--verbose")
            o.verbose = true;
        else if (rest[i] == "--password-file")
            o.secrets.passwordFile = value();
        else if (rest[i] == "--password-env")
            o.secrets.passwordEnv = value();
        else if (rest[i] == "--proxy-password-file")
            o.secrets.proxyPasswordFile = value();
        else if (rest[i] == "--proxy-password-env")
            o.secrets.proxyPasswordEnv = value();
        else if (rest[i] == "--netrc-file")
            o.secrets.netrcFile = value();
        else if (o.file.empty() && rest[i].rfind("-", 0) != 0)
            o.file = rest[i];
        else
            throw CommandFileError("unexpected argument \"" + rest[i] + "\"");
    }
    if (o.file.empty()) throw CommandFileError("run needs a command file");
    return o;
}

int Daemon(const std::vector<std::string>& rest) {
    std::string instance;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "--instance" && i + 1 < rest.size())
            instance = rest[++i];
        else
            throw CommandFileError("unexpected argument \"" + rest[i] + "\"");
    }
    LogReceiver receiver(instance, stdout);
    if (!receiver.ok())
        throw CommandFileError("cannot open the log socket for instance \"" + instance + "\"");
    std::fprintf(stderr, "vaultfetch: receiving log lines on %s\n", receiver.path().c_str());
    std::atomic<bool> stop{false};
    SignalThread signals([&](int) { stop = true; });
    receiver.RunUntil(stop);
    return 0;
}

}  // namespace

int Main(int argc, char** argv) {
    Args args;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc) {
            args.plugin = argv[++i];
        } else {
            args.command = argv[i++];
            break;
        }
    }
    for (; i < argc; ++i) args.rest.emplace_back(argv[i]);
    if (args.command.empty() || args.command == "--help" || args.command == "-h") {
        Usage();
        return args.command.empty() ? kExitUnusable : 0;
    }
    try {
        if (args.command == "daemon") return Daemon(args.rest);
        if (args.command == "certs") return Certs(args.rest);
        const bool registration = args.command == "register" || args.command == "unregister";
        if (args.command != "info" && args.command != "run" && args.command != "configure" && !registration) {
            Usage();
            return kExitUnusable;
        }
        Plugin plugin(args.plugin.empty() ? DefaultPluginPath() : args.plugin);
        if (args.command == "info") return Info(plugin);
        if (registration) {
            if (!args.rest.empty()) throw CommandFileError("unexpected argument \"" + args.rest[0] + "\"");
            return Register(plugin, args.command == "register");
        }
        if (args.command == "run") return Run(plugin, ParseRun(args.rest));
        return Configure(plugin, args.rest);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vaultfetch: %s\n", e.what());
        return kExitUnusable;
    }
}

}  // namespace klvr::cli

int main(int argc, char** argv) {
    return klvr::cli::Main(argc, argv);
}
