#include "cli/run_totals.h"

#include <cstdio>

#include "util/printable_text.h"

namespace klvr::cli {
namespace {

std::string Text(const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::string Fixed(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

std::string Decision(const nlohmann::json& f) {
    const std::string action = Text(f.value("action", nlohmann::json()));
    const std::string remote = Printable(Text(f.value("remotePath", nlohmann::json())));
    const std::string local = Printable(Text(f.value("localPath", nlohmann::json())));
    std::string line;
    if (action == "download" || action == "downloaded" || action == "resumed") {
        const std::string plan = Text(f.value("plan", nlohmann::json()));
        const std::string how = plan == "resume" || action == "resumed"
                                    ? "resume from " + std::to_string(f.value("resumeFrom", std::int64_t{0}))
                                : plan.empty() ? action
                                               : plan;
        line = "download (" + how + ") " + remote + " -> " + local;
        if (f.value("size", nlohmann::json()).is_number())
            line += " (" + std::to_string(f["size"].get<std::int64_t>()) + " bytes)";
    } else if (action == "failed") {
        line = "fail " + remote + ": " + Printable(Text(f.value("error", nlohmann::json())));
    } else {
        line = "skip " + remote + ": " + Printable(Text(f.value("reason", nlohmann::json())));
    }
    const std::string deletion = Text(f.value("deletion", nlohmann::json()));
    if (deletion == "would delete after the download" || deletion == "deleted")
        line += "; delete on the server after the download";
    else if (deletion == "kept")
        line += "; keep on the server: " + Printable(Text(f.value("deletionDetail", nlohmann::json())));
    return line + "\n";
}

}  // namespace

RunTotals TotalsOf(const nlohmann::json& files) {
    RunTotals t;
    if (!files.is_array()) return t;
    for (const auto& f : files) {
        if (!f.is_object() || f.value("folder", false)) continue;
        ++t.files;
        const std::string action = Text(f.value("action", nlohmann::json()));
        const std::string deletion = Text(f.value("deletion", nlohmann::json()));
        const std::int64_t bytes = f.value("bytes", std::int64_t{0});
        if (action == "downloaded" || action == "resumed") {
            ++t.downloaded;
            t.bytes += bytes;
        }
        if (action == "resumed") ++t.resumed;
        if (action == "download") {
            ++t.planned;
            t.bytes += bytes;
        }
        if (action == "skipped") ++t.skipped;
        if (action == "failed") ++t.failed;
        if (deletion == "deleted" || deletion == "would delete after the download") ++t.deleted;
    }
    return t;
}

std::string ByteAmount(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    return Fixed(value) + " " + units[unit];
}

std::string SummaryLine(const RunTotals& t, double seconds, bool dryRun) {
    if (dryRun) {
        return "dry run: " + std::to_string(t.planned) + " to download (" + ByteAmount(t.bytes) + "), " +
               std::to_string(t.skipped) + " skipped, " + std::to_string(t.deleted) +
               " to delete on the server, " + std::to_string(t.failed) + " failed in " + Fixed(seconds) +
               " s";
    }
    return std::to_string(t.downloaded) + " downloaded (" + ByteAmount(t.bytes) + "), " +
           std::to_string(t.skipped) + " skipped, " + std::to_string(t.deleted) + " deleted on the server, " +
           std::to_string(t.failed) + " failed in " + Fixed(seconds) + " s";
}

std::string DecisionLines(const nlohmann::json& files) {
    std::string out;
    if (!files.is_array()) return out;
    for (const auto& f : files)
        if (f.is_object() && !f.value("folder", false)) out += Decision(f);
    return out;
}

nlohmann::json ReportDocument(const nlohmann::json& pluginReport, int exitStatus, double seconds,
                              bool dryRun) {
    const nlohmann::json files = pluginReport.is_object() && pluginReport.contains("files")
                                     ? pluginReport["files"]
                                     : nlohmann::json::array();
    const RunTotals t = TotalsOf(files);
    nlohmann::json totals{
        {"files", t.files},   {"downloaded", t.downloaded},   {"resumed", t.resumed}, {"skipped", t.skipped},
        {"failed", t.failed}, {"deletedOnServer", t.deleted}, {"bytes", t.bytes}};
    if (dryRun) {
        totals["toDownload"] = t.planned;
        totals.erase("downloaded");
        totals.erase("resumed");
    }
    return {{"dryRun", dryRun},
            {"exitStatus", exitStatus},
            {"failureCause", pluginReport.is_object() ? pluginReport.value("failureCause", "none") : "none"},
            {"seconds", seconds},
            {"totals", totals},
            {"files", files}};
}

}  // namespace klvr::cli
