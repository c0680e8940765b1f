#pragma once
// What a run did with each listed file and why it failed, for a host that hands the files on to the
// next step of a workflow. Filled from the places that decide (the fetch, the delete, the run's failure
// path) and read by the host after RunP. Safe to fill from several threads at once.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "transfer/ftp/failure_cause.h"

namespace klvr {

struct FileRecord {
    enum Action {
        kDownloaded,  // stored whole by this run
        kResumed,     // an unfinished copy completed by this run
        kSkipped,     // left as it is; reason says why
        kFailed,      // error says why
        kPlanned,     // a dry run: would be fetched (plan, resumeFrom)
    };
    std::string remotePath;
    std::string localPath;
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> remoteTime;  // seconds since 1970 UTC
    Action action = kSkipped;
    std::string reason;           // kSkipped
    std::string error;            // kFailed
    std::string plan;             // kPlanned: "new", "overwrite" or "resume"
    std::int64_t resumeFrom = 0;  // kResumed, kPlanned resume: bytes held before
    std::int64_t bytes = 0;       // moved over the network (planned: to be moved)
    double seconds = 0;           // the fetch's duration
    bool folder = false;          // a listed folder, not a file
    // Its place in the listing (NextPlace), where files are fetched out of order (several at once); 0:
    // the next place when it is put.
    std::int64_t order = 0;
    std::string deletion;        // "", "deleted", "kept", "failed", "would delete after the download"
    std::string deletionDetail;  // why kept, or the delete's error
};

class RunReport {
  public:
    // A new run: no records, no cause.
    void Clear();
    // A new attempt: only its own failure counts.
    void BeginAttempt();

    // The record of a file; a later one for the same remote path takes its place, except that a skip
    // does not hide what an earlier attempt stored. Records keep the place of their first appearance.
    void Put(const FileRecord& record);
    bool Has(const std::string& remotePath) const;
    // A place for a file handed over now and recorded later, perhaps after files handed over after it.
    std::int64_t NextPlace();
    // What happened to the remote file after its download.
    void NoteDeletion(const std::string& remotePath, const std::string& deletion, const std::string& detail);

    // The cause of this attempt's failure; a later one replaces an earlier one.
    void NoteFailure(FailureCause cause);

    // In listing order.
    std::vector<FileRecord> Records() const;
    FailureCause Cause() const;
    // Records and cause as one JSON object (see toolbox.h, klvr_toolbox_run_report).
    std::string Json() const;

  private:
    mutable std::mutex mutex_;
    std::vector<FileRecord> records_;  // in order of first appearance
    // Where each remote path's record stands: a folder of many files is not searched once a file.
    std::unordered_map<std::string, std::size_t> at_;
    FailureCause cause_ = FailureCause::kNone;
    std::int64_t places_ = 0;
};

// A file passed over before anything was asked of the server.
FileRecord SkippedFile(const std::string& remotePath, const std::string& localPath,
                       const std::string& reason);

// Why a file was passed over where a symbolic link stands in its local place.
inline constexpr const char* kLocalLinkReason = "a symbolic link is in its place locally";

// The name of an action in the JSON text.
std::string ActionName(FileRecord::Action action);

}  // namespace klvr
