#include "transfer/folder_tree.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "settings/numeric_text.h"
#include "transfer/ftp/client.h"
#include "transfer/normalize_path.h"
#include "transfer/run_log.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

namespace fs = std::filesystem;

void Fail(const std::string& line) {
    WriteLog(line, LogLevel::Error);
    moduleState().ErrorFlag = true;
}

std::string Described(const std::exception& e) {
    return LoggedDescription(e.what());
}

std::int64_t ToInt64(const std::string& text) {
    const std::optional<double> value = NumericValue(text);
    if (!value) throw ConversionError("Type mismatch: [" + text + "] is not a number");
    return static_cast<std::int64_t>(*value);
}

}  // namespace

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
        Fail("ERROR_Retrieve: " + Described(e));
    }
}

void FolderTreeDownload::DownloadFolderItem(std::string& localDir) {
    try {
        TransferItem& item = items_[1];
        const std::string remote = NormalizePath(item.folder, true);
        const std::string& name = item.name;
        const std::string local = NormalizePath(localDir, false);
        if (!fs::is_directory(local + name)) EnsureFolder(local + name);
        Inform("Downloading folder [" + Printable(remote + name) + "] to [" + Printable(local + name) +
               "]...");
        ftp_.FileType = moduleState().Settings.TransferMode;
        std::string pattern = remote + name + "/*";
        if ((remote + name).find(' ') != std::string::npos) pattern = "\"" + pattern + "\"";
        ftp_.MGet(pattern, local + name, fileList_);
    } catch (const std::exception& e) {
        Fail("ERROR_GetFolder: " + Described(e));
    }
}

void FolderTreeDownload::EnsureFolder(const std::string& path) {
    try {
        if (fs::is_directory(path)) return;
        // One level only: the configured folder must exist, the entry's folder is made inside it.
        if (::mkdir(path.c_str(), 0777) != 0) throw std::system_error(errno, std::generic_category(), path);
    } catch (const std::exception& e) {
        Fail("ERROR_CreateLocalFolder: [" + Described(e) + "]");
    }
}

void FolderTreeDownload::LocalFileSize(const std::string& path, std::int64_t& size) {
    try {
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            if (ec) throw fs::filesystem_error("cannot read", path, ec);
            size = 0;
            return;
        }
        size = static_cast<std::int64_t>(fs::file_size(path));
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
        std::int64_t offset = 0;
        LocalFileSize(local + name, offset);
        if (offset >= 1 && IsOn(moduleState().Settings.OverwriteExisting)) offset = 0;
        Inform("Downloading file [" + Printable(remote + name) + "] to [" + Printable(local + name) + "] (" +
               std::to_string(size) + " Bytes) ...");
        ftp_.FileType = moduleState().Settings.TransferMode;
        ftp_.Get(remote + name, local + name, &offset);
        fileList_.Add(remote + name, 0);
    } catch (const std::exception& e) {
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
            ftp_.Delete(name);
        } catch (const std::exception& e) {
            WriteLog("Eror deleting [" + Printable(name) + "] [" + Described(e) + "]", LogLevel::Warning);
        }
    }
}

}  // namespace klvr
