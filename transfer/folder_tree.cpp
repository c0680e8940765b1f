#include "transfer/folder_tree.h"

#include <stdexcept>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "transfer/delete_decision.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/local_folder.h"
#include "transfer/ftp/session_broken.h"
#include "transfer/listed_facts.h"
#include "transfer/normalize_path.h"
#include "transfer/run_log.h"
#include "transfer/run_report.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

void Fail(const std::string& line) {
    WriteLog(line, LogLevel::Error);
    moduleState().ErrorFlag = true;
}

std::string Described(const std::exception& e) {
    return LoggedDescription(e.what());
}

void PassOverLink(const std::string& path) {
    WriteLog("WARNING: Local link passed over [" + Printable(path) + "]", LogLevel::Warning);
}

}  // namespace

void FolderTreeDownload::PassOnWhenDisconnected() const {
    // A lost connection (421, a reset, the host's stop) is no failure of one entry: the attempt ends and
    // the next one reconnects and goes on where this one stopped.
    if (ftp_.State() != 2) throw;
}

void FolderTreeDownload::BuildTransferItem(const std::string& folder, int i) {
    try {
        items_ = {};
        const auto& records = moduleState().RemoteEntries.records;
        if (i < 1 || i >= static_cast<int>(records.size())) throw SubscriptError();
        const RemoteEntry& entry = records[static_cast<std::size_t>(i)];
        TransferItem& item = items_[1];
        item.name = entry.name;
        item.folder = folder;
        item.size = entry.size;
        item.kind = IsOn(entry.IsFolder)        ? kItemFolderClose
                    : !IsOn(entry.IsFolderLink) ? kItemFile
                                                : kItemFolderLink;
        item.listed = ListedFacts(entry);
    } catch (const std::exception& e) {
        Fail("ERROR_RemoteSelFiles: " + Described(e));
    }
}

void FolderTreeDownload::TransferEntry(std::string& localDir) {
    const TransferItem& item = items_[1];
    const bool folder = item.kind == kItemFolderLink || item.kind == kItemFolderClose || item.kind == "Link";
    // MGet holds this session until its own files are in, so the files before it go first.
    if (folder) Finish();
    bool later = false;
    try {
        fileList_ = FileList();
        if (item.folder.empty()) return;
        if (folder)
            DownloadFolderItem(localDir);
        else
            later = DownloadFileItem(localDir);
    } catch (const SessionBroken&) {
        throw;
    } catch (const std::exception& e) {
        PassOnWhenDisconnected();
        Fail("ERROR_Retrieve: " + Described(e));
    }
    if (cleanup_ && !later) RemoteCleanup(fileList_);
}

void FolderTreeDownload::Finish() {
    if (!runner_) return;
    runner_->Drain([this](const FileJob& job) { return FetchHere(job); }, [this] { ftp_.ServerDirectory(); });
}

JobOutcome FolderTreeDownload::FetchHere(const FileJob& job) {
    JobOutcome outcome;
    try {
        outcome.result = ftp_.FetchJob(job);
    } catch (const std::exception&) {
        outcome.error = std::current_exception();
        outcome.sessionLost = ftp_.State() != 2;
    }
    return outcome;
}

void FolderTreeDownload::TakeFileOutcome(const std::string& remotePath, JobOutcome& outcome) {
    FileList fetched;
    try {
        if (outcome.error) std::rethrow_exception(outcome.error);
        // a copy kept because it differs is not proven, so its remote file stays
        if (outcome.result->outcome != FetchOutcome::kKept) fetched.Add(remotePath, 0, outcome.result->proof);
    } catch (const std::exception& e) {
        // a lost session, this one or another, ends the attempt as with one session
        if (outcome.sessionLost || ftp_.State() != 2) throw SessionBroken(e.what());
        Fail("ERROR_RetrieveItem: " + Described(e));
    }
    if (cleanup_) RemoteCleanup(fetched);
}

void FolderTreeDownload::DownloadFolderItem(std::string& localDir) {
    try {
        TransferItem& item = items_[1];
        const std::string remote = NormalizePath(item.folder, true);
        const std::string& name = item.name;
        const std::string local = NormalizePath(localDir, false);
        const LocalEntry present = LocalEntryAt(local, name);
        if (present.kind == LocalEntry::kLink) return PassOverLink(local + name);
        if (present.kind != LocalEntry::kFolder && !ftp_.DryRun) EnsureFolder(local, name);
        Inform("Downloading folder [" + Printable(remote + name) + "] to [" + Printable(local + name) +
               "]...");
        ftp_.FileType = moduleState().Settings.TransferMode;
        std::string pattern = remote + name + "/*";
        if ((remote + name).find(' ') != std::string::npos) pattern = "\"" + pattern + "\"";
        ftp_.MGet(pattern, local + name, fileList_, runner_);
    } catch (const SessionBroken&) {
        throw;
    } catch (const std::exception& e) {
        PassOnWhenDisconnected();
        Fail("ERROR_GetFolder: " + Described(e));
    }
}

void FolderTreeDownload::EnsureFolder(const std::string& folder, const std::string& name) {
    try {
        // One level only: the configured folder must exist, the entry's folder is made inside it.
        LocalFolder::Open(folder).Child(name, true);
    } catch (const std::exception& e) {
        Fail("ERROR_CreateLocalFolder: [" + Described(e) + "]");
    }
}

void FolderTreeDownload::LocalFileSize(const std::string& folder, const std::string& name,
                                       std::int64_t& size) {
    try {
        const LocalEntry present = LocalFolder::Open(folder).Inspect(name);
        if (present.kind == LocalEntry::kFolder || present.kind == LocalEntry::kOther)
            throw std::runtime_error("[" + folder + name + "] is not a file");
        size = present.kind == LocalEntry::kFile ? present.size : 0;
    } catch (const std::exception& e) {
        Fail("ERROR_GetLocalFileSize: " + Described(e));
    }
}

bool FolderTreeDownload::DownloadFileItem(std::string& localDir) {
    try {
        TransferItem& item = items_[1];
        const std::string remote = NormalizePath(item.folder, true);
        const std::string& name = item.name;
        if (name.empty()) return false;
        // Sizes and offsets are 64-bit: files of 2 GiB and more are fetched and resumed like any other.
        const std::int64_t size = ToInt64(item.size);
        const std::string local = NormalizePath(localDir, false);
        if (LocalEntryAt(local, name).kind == LocalEntry::kLink) {
            PassOverLink(local + name);
            moduleState().Report.Put(SkippedFile(remote + name, local + name, kLocalLinkReason));
            return false;
        }
        std::int64_t offset = 0;
        LocalFileSize(local, name, offset);
        if (offset >= 1 && IsOn(moduleState().Settings.OverwriteExisting)) offset = 0;
        Inform("Downloading file [" + Printable(remote + name) + "] to [" + Printable(local + name) + "] (" +
               std::to_string(size) + " Bytes) ...");
        ftp_.FileType = moduleState().Settings.TransferMode;
        if (runner_) {
            FileJob job = ftp_.GetJob(remote + name, local + name, &offset, item.listed);
            const std::string path = remote + name;
            runner_->Submit(
                std::move(job), [this, path](JobOutcome& outcome) { TakeFileOutcome(path, outcome); },
                [this](const FileJob& next) { return FetchHere(next); });
            return true;
        }
        const FetchResult result = ftp_.Get(remote + name, local + name, &offset, item.listed);
        // a copy kept because it differs is not proven, so its remote file stays
        if (result.outcome != FetchOutcome::kKept) fileList_.Add(remote + name, 0, result.proof);
    } catch (const SessionBroken&) {
        throw;
    } catch (const std::exception& e) {
        PassOnWhenDisconnected();
        Fail("ERROR_RetrieveItem: " + Described(e));
    }
    return false;
}

void FolderTreeDownload::RemoteCleanup(const FileList& fetched) {
    try {
        Inform("Deleting " + std::to_string(fetched.Count()) + " on remote server.....");
    } catch (...) {
    }
    for (int i = 1; i <= fetched.Count(); ++i) {
        std::string name;
        try {
            name = fetched.Item(i);
            const DeleteVerdict verdict = JudgeDelete(ftp_, name, fetched.Proof(i));
            if (verdict.action == DeleteVerdict::kDelete)
                ftp_.Delete(name);
            else
                WriteLog("WARNING: Remote file kept [" + Printable(name) + "]: " + verdict.reason,
                         LogLevel::Warning);
        } catch (const std::exception& e) {
            PassOnWhenDisconnected();
            WriteLog("Eror deleting [" + Printable(name) + "] [" + Described(e) + "]", LogLevel::Warning);
        }
    }
}

}  // namespace klvr
