#include "transfer/run_report.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace klvr {
namespace {

bool Stored(FileRecord::Action a) {
    return a == FileRecord::kDownloaded || a == FileRecord::kResumed;
}

nlohmann::json ToJson(const FileRecord& r) {
    nlohmann::json j{{"remotePath", r.remotePath}, {"localPath", r.localPath},       {"size", nullptr},
                     {"remoteTime", nullptr},      {"action", ActionName(r.action)}, {"bytes", r.bytes},
                     {"seconds", r.seconds}};
    if (r.size) j["size"] = *r.size;
    if (r.remoteTime) j["remoteTime"] = *r.remoteTime;
    if (r.folder) j["folder"] = true;
    if (!r.reason.empty()) j["reason"] = r.reason;
    if (!r.error.empty()) j["error"] = r.error;
    if (!r.plan.empty()) j["plan"] = r.plan;
    if (r.action == FileRecord::kResumed || r.plan == "resume") j["resumeFrom"] = r.resumeFrom;
    if (!r.deletion.empty()) j["deletion"] = r.deletion;
    if (!r.deletionDetail.empty()) j["deletionDetail"] = r.deletionDetail;
    return j;
}

}  // namespace

FileRecord SkippedFile(const std::string& remotePath, const std::string& localPath,
                       const std::string& reason) {
    FileRecord record;
    record.remotePath = remotePath;
    record.localPath = localPath;
    record.reason = reason;
    return record;
}

std::string ActionName(FileRecord::Action action) {
    switch (action) {
        case FileRecord::kDownloaded:
            return "downloaded";
        case FileRecord::kResumed:
            return "resumed";
        case FileRecord::kFailed:
            return "failed";
        case FileRecord::kPlanned:
            return "download";
        case FileRecord::kSkipped:
            break;
    }
    return "skipped";
}

void RunReport::Clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
    at_.clear();
    cause_ = FailureCause::kNone;
    places_ = 0;
}

void RunReport::BeginAttempt() {
    std::lock_guard lock(mutex_);
    cause_ = FailureCause::kNone;
}

void RunReport::Put(const FileRecord& record) {
    std::lock_guard lock(mutex_);
    const auto found = at_.find(record.remotePath);
    if (found == at_.end()) {
        at_.emplace(record.remotePath, records_.size());
        records_.push_back(record);
        if (records_.back().order == 0) records_.back().order = ++places_;
        return;
    }
    FileRecord& kept = records_[found->second];
    // A retried attempt finds the file the failed one stored already there and leaves it alone.
    if (Stored(kept.action) && record.action == FileRecord::kSkipped) return;
    const std::int64_t first = kept.order;
    kept = record;
    kept.order = first;
}

std::int64_t RunReport::NextPlace() {
    std::lock_guard lock(mutex_);
    return ++places_;
}

bool RunReport::Has(const std::string& remotePath) const {
    std::lock_guard lock(mutex_);
    return at_.count(remotePath) != 0;
}

void RunReport::NoteDeletion(const std::string& remotePath, const std::string& deletion,
                             const std::string& detail) {
    std::lock_guard lock(mutex_);
    const auto found = at_.find(remotePath);
    if (found == at_.end()) return;
    records_[found->second].deletion = deletion;
    records_[found->second].deletionDetail = detail;
}

void RunReport::NoteFailure(FailureCause cause) {
    std::lock_guard lock(mutex_);
    cause_ = cause;
}

std::vector<FileRecord> RunReport::Records() const {
    std::vector<FileRecord> out;
    {
        std::lock_guard lock(mutex_);
        out = records_;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const FileRecord& a, const FileRecord& b) { return a.order < b.order; });
    return out;
}

FailureCause RunReport::Cause() const {
    std::lock_guard lock(mutex_);
    return cause_;
}

std::string RunReport::Json() const {
    nlohmann::json files = nlohmann::json::array();
    for (const FileRecord& r : Records()) files.push_back(ToJson(r));
    const nlohmann::json out{{"files", files}, {"failureCause", CauseName(Cause())}};
    // names are the server's bytes and need not be UTF-8
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace klvr
