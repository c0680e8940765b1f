// vaultfetch run: the host's calling order for one run of a command, its log lines and its outcome.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_commands.h"
#include "cli/command_file.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/log_receiver.h"
#include "cli/options.h"
#include "cli/report_file.h"
#include "cli/run_totals.h"
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

// The plug-in's run report; an empty object from a plug-in older than the report.
nlohmann::json PluginReport(abi::Toolbox& t) {
    const std::string text = t.RunReport();
    nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    return report.is_object() ? report : nlohmann::json::object();
}

// Writes the report where --report says; a report that cannot be written turns a done run into a
// failed local write, for the next step would find nothing to read.
int WriteReport(const RunOptions& o, const nlohmann::json& document, int status) {
    const std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (o.report == "-") {
        std::fputs(PrintableJson(text).c_str(), stdout);
        std::fflush(stdout);
        return status;
    }
    try {
        WriteReportFile(o.report, text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vaultfetch: %s\n", e.what());
        if (status == kExitDone) return kExitLocalWrite;
    }
    return status;
}

}  // namespace

int Run(const Plugin& plugin, const RunOptions& o) {
    CommandFile command = ReadCommandFile(o.file);
    StripPasswordMarker(command.data);
    StripPasswordMarker(command.orgData);
    ApplySecrets(o.secrets, command.data);
    if (o.verbose) command.data.values[kTraceLog - command.data.lowerBound] = "1";
    CheckRunSettings(command.data);
    if (!o.report.empty() && o.report != "-") CheckReportPlace(o.report);
    const std::string instance = o.instance.empty() ? "vaultfetch-" + std::to_string(::getpid()) : o.instance;

    BlockStopSignals();
    Console console(stderr, !o.quiet && ::isatty(STDERR_FILENO) == 1, o.quiet);
    abi::Toolbox t(plugin.functions());
    if (!t.SetDryRun(o.dryRun) && o.dryRun) throw UsageError("this plug-in offers no dry run");
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
    const auto started = std::chrono::steady_clock::now();
    std::atomic<int> stopSignal{0};
    {
        SignalThread signals([&](int sig) {
            stopSignal = sig;
            t.Abort();
        });
        t.RunP("VAULTFETCH", command.data, command.orgData);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    trace.reset();
    if (receiver) receiver->StopAndDrain();
    console.ClearProgress();

    const nlohmann::json report = PluginReport(t);
    const nlohmann::json files = report.value("files", nlohmann::json::array());
    const RunTotals totals = TotalsOf(files);
    RunFacts facts;
    facts.error = t.Error();
    facts.failureCause = report.value("failureCause", "");
    facts.signal = stopSignal;
    facts.failIfEmpty = o.failIfEmpty;
    facts.nothingMatched = totals.files == 0;
    int status = ExitStatusOf(facts);
    // a dry run sets no variable: its decisions take their place
    if (o.dryRun) {
        std::fputs(DecisionLines(files).c_str(), stdout);
        std::fflush(stdout);
    } else {
        PrintOutputVariables(t);
    }
    if (!o.report.empty()) status = WriteReport(o, ReportDocument(report, status, seconds, o.dryRun), status);
    if (!o.quiet && (o.verbose || ::isatty(STDERR_FILENO) == 1))
        std::fprintf(stderr, "%s\n", SummaryLine(totals, seconds, o.dryRun).c_str());
    return status;
}

}  // namespace klvr::cli
