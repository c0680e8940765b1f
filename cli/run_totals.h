#pragma once
// What a run did, told from the plug-in's run report: the totals, the closing summary line, a dry run's
// decisions, and the report document that the next step of a workflow reads.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace klvr::cli {

struct RunTotals {
    int files = 0;       // listed entries that are files
    int downloaded = 0;  // resumed ones included
    int resumed = 0;
    int planned = 0;  // a dry run's downloads
    int skipped = 0;
    int failed = 0;
    int deleted = 0;         // deleted on the server (a dry run: would be)
    std::int64_t bytes = 0;  // moved over the network (a dry run: would be)
};

// files: the "files" array of the plug-in's run report.
RunTotals TotalsOf(const nlohmann::json& files);

// "12 downloaded (48.2 MiB), 3 skipped, 12 deleted on the server, 0 failed in 6.4 s"; a dry run says
// what it would do instead.
std::string SummaryLine(const RunTotals& totals, double seconds, bool dryRun);

// One line per listed file: what the run would do with it, then what becomes of the remote file.
std::string DecisionLines(const nlohmann::json& files);

// The report: the plug-in's records, the totals, the run's duration and exit status.
nlohmann::json ReportDocument(const nlohmann::json& pluginReport, int exitStatus, double seconds,
                              bool dryRun);

// "512 B", "1.5 KiB", "48.2 MiB", ...
std::string ByteAmount(std::int64_t bytes);

}  // namespace klvr::cli
