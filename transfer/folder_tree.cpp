#include "transfer/folder_tree.h"

#include <stdexcept>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "transfer/delete_decision.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/local_folder.h"
#include "transfer/listed_facts.h"
#include "transfer/normalize_path.h"
#include "transfer/run_log.h"
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
    try {
        fileList_ = FileList();
        const TransferItem& item = items_[1];
        if (item.folder.empty()) return;
        if (item.kind == kItemFolderLink || item.kind == kItemFolderClose || item.kind == "Link")
            DownloadFolderItem(localDir);
        else
            DownloadFileItem(localDir);
    } catch (const std::exception& e) {
        PassOnWhenDisconnected();
        Fail("ERROR_Retrieve: " + Described(e));
    }
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
        ftp_.MGet(pattern, local + name, fileList_);
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

void FolderTreeDownload::DownloadFileItem(std::string& localDir) {
    try {
        TransferItem& item = items_[1];
        const std::string remote = NormalizePath(item.folder, true);
        const std::string& name = item.name;
        if (name.empty()) return;
        // Sizes and offsets are 64-bit: files of 2 GiB and more are fetched and resumed like any other.
        const std::int64_t size = ToInt64(item.size);
        const std::string local = NormalizePath(localDir, false);
        if (LocalEntryAt(local, name).kind == LocalEntry::kLink) return PassOverLink(local + name);
        std::int64_t offset = 0;
        LocalFileSize(local, name, offset);
        if (offset >= 1 && IsOn(moduleState().Settings.OverwriteExisting)) offset = 0;
        Inform("Downloading file [" + Printable(remote + name) + "] to [" + Printable(local + name) + "] (" +
               std::to_string(size) + " Bytes) ...");
        ftp_.FileType = moduleState().Settings.TransferMode;
        const FetchResult result = ftp_.Get(remote + name, local + name, &offset, item.listed);
        // a copy kept because it differs is not proven, so its remote file stays
        if (result.outcome != FetchOutcome::kKept) fileList_.Add(remote + name, 0, result.proof);
    } catch (const std::exception& e) {
        PassOnWhenDisconnected();
        Fail("ERROR_RetrieveItem: " + Described(e));
    }
}

void FolderTreeDownload::RemoteCleanup() {
    try {
        Inform("Deleting " + std::to_string(fileList_.Count()) + " on remote server.....");
    } catch (...) {
    }
    for (int i = 1; i <= fileList_.Count(); ++i) {
        std::string name;
        try {
            name = fileList_.Item(i);
            const DeleteVerdict verdict = JudgeDelete(ftp_, name, fileList_.Proof(i));
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
