// vaultfetch run: the host's calling order for one run of a command, its log lines and its outcome.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_commands.h"
#include "cli/command_file.h"
#include "cli/console.h"
#include "cli/log_receiver.h"
#include "cli/stop_signals.h"
#include "cli/trace_follower.h"
#include "transfer/trace_file.h"
#include "util/printable_text.h"

namespace klvr::cli {
namespace {

constexpr int kTraceLog = 34;

void PrintOutputVariables(abi::Toolbox& t) {
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
}

}  // namespace

int Run(const Plugin& plugin, const RunOptions& o) {
    CommandFile command = ReadCommandFile(o.file);
    StripPasswordMarker(command.data);
    StripPasswordMarker(command.orgData);
    ApplySecrets(o.secrets, command.data);
    if (o.verbose) command.data.values[kTraceLog - command.data.lowerBound] = "1";
    CheckRunSettings(command.data);
    const std::string instance = o.instance.empty() ? "vaultfetch-" + std::to_string(::getpid()) : o.instance;

    BlockStopSignals();
    Console console(stderr, !o.quiet && ::isatty(STDERR_FILENO) == 1, o.quiet);
    abi::Toolbox t(plugin.functions());
    std::unique_ptr<LogReceiver> receiver;
    if (o.daemon) {
        receiver = std::make_unique<LogReceiver>(
            instance, [&console](const LogDatagram& line) { console.Line(line.level, PrintedLine(line)); });
        if (!receiver->ok())
            console.Line(2, "vaultfetch: cannot receive log lines for " + Printable(instance));
        receiver->Start();
    }
    t.SetProgressCallback(
        [&console](const abi::Progress& p) { console.Progress(p.remoteName, p.bytesDone, p.bytesTotal); });
    std::optional<TraceFollower> trace;
    if (o.verbose) trace.emplace(PrepareTraceFile(), console);
    t.SetParallelSessions(o.parallel);
    t.GetInfo();
    t.AutoLog(o.autolog);
    t.dInstance(instance);
    {
        SignalThread signals([&](int) { t.Abort(); });
        t.RunP("VAULTFETCH", command.data, command.orgData);
    }
    trace.reset();
    if (receiver) receiver->StopAndDrain();
    console.ClearProgress();
    PrintOutputVariables(t);
    return t.Error() ? 1 : 0;
}

}  // namespace klvr::cli
