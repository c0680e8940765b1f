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

// Threads inherit the mask of the thread that starts them: blocked before any thread starts, the stop
// signals reach only the signal thread's sigwait instead of ending the process in another thread.
sigset_t BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

// Signals are taken by one thread with sigwait, so that an interrupt can call Abort as a host's stop
// button would, while the run blocks the main thread.
class SignalThread {
  public:
    template <typename OnSignal>
    explicit SignalThread(OnSignal onSignal) {
        const sigset_t set = BlockStopSignals();
        thread_ = std::thread([set, onSignal] {
            while (true) {
                int sig = 0;
                if (sigwait(&set, &sig) != 0) continue;
                if (sig == SIGUSR2) return;
                onSignal(sig);
            }
        });
    }
    ~SignalThread() {
        pthread_kill(thread_.native_handle(), SIGUSR2);
        thread_.join();
    }

  private:
    std::thread thread_;
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

int Run(const Plugin& plugin, const std::vector<std::string>& rest) {
    std::string file, instance = "vaultfetch-" + std::to_string(::getpid());
    bool autolog = true, daemon = true;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "--instance" && i + 1 < rest.size())
            instance = rest[++i];
        else if (rest[i] == "--no-autolog")
            autolog = false;
        else if (rest[i] == "--no-daemon")
            daemon = false;
        else if (file.empty() && rest[i].rfind("--", 0) != 0)
            file = rest[i];
        else
            throw CommandFileError("unexpected argument \"" + rest[i] + "\"");
    }
    if (file.empty()) throw CommandFileError("run needs a command file");
    CommandFile command = ReadCommandFile(file);
    StripPasswordMarker(command.data);
    StripPasswordMarker(command.orgData);

    BlockStopSignals();
    abi::Toolbox t(plugin.functions());
    std::unique_ptr<LogReceiver> receiver;
    if (daemon) {
        receiver = std::make_unique<LogReceiver>(instance);
        if (!receiver->ok())
            std::fprintf(stderr, "vaultfetch: cannot receive log lines for %s\n", instance.c_str());
        receiver->Start();
    }
    t.GetInfo();
    t.AutoLog(autolog);
    t.dInstance(instance);
    {
        std::atomic<bool> interrupted{false};
        SignalThread signals([&](int) {
            interrupted = true;
            t.Abort();
        });
        t.RunP("VAULTFETCH", command.data, command.orgData);
    }
    if (receiver) receiver->StopAndDrain();

    nlohmann::json out;
    out["error"] = t.Error();
    out["userVariables"] = nlohmann::json::array();
    const auto names = t.UserVariableName();
    const auto values = t.UserVariableData();
    for (std::size_t i = 1; i < names.size() && i < values.size(); ++i)
        out["userVariables"].push_back({{"name", names[i]}, {"value", values[i]}});
    out["localVars"] = nlohmann::json::object();
    out["globalVars"] = nlohmann::json::object();
    for (int16_t i = 0; i < 16; ++i) {
        const auto local = t.LocalVar(i);
        if (local.Use) out["localVars"][std::to_string(i + 1)] = local.Value;
        const auto global = t.GlobalVar(i);
        if (global.Use) out["globalVars"][std::to_string(i + 1)] = global.Value;
    }
    // Names are the server's bytes and need not be UTF-8; the JSON stays valid (U+FFFD in their place)
    // and the exit status stays the run's. Whatever could move the terminal's cursor or reorder what it
    // shows prints as an escape.
    std::printf("%s\n",
                PrintableJson(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)).c_str());
    std::fflush(stdout);
    return t.Error() ? 1 : 0;
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
        if (args.command == "run") return Run(plugin, args.rest);
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
