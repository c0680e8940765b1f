#pragma once
// The folder branch of a run: each entry of RemoteEntries fetched on its own, folders whole with MGet
// into a local folder of their name, files with Get resumed from the length of a local copy. Every step
// logs its own failure, sets ErrorFlag and lets the run go on with the next entry.
#include <array>
#include <cstdint>
#include <string>

#include "transfer/ftp/file_list.h"

namespace klvr {

class FtpClient;

inline constexpr const char* kItemFolderClose = "FolderClose";
inline constexpr const char* kItemFile = "File";
inline constexpr const char* kItemFolderLink = "FolderLink";

struct TransferItem {
    std::string name;
    std::string folder;  // the remote folder holding it
    std::string kind;    // FolderClose, File or FolderLink
    std::string size;
    std::string spare1, spare2, spare3;
};

class FolderTreeDownload {
  public:
    explicit FolderTreeDownload(FtpClient& ftp) : ftp_(ftp) {}

    // Makes entry i of RemoteEntries, in folder, the one item to transfer.
    void BuildTransferItem(const std::string& folder, int i);
    // Fetches the item into localDir, which comes back in its folder form.
    void TransferEntry(std::string& localDir);
    // Deletes on the server what the last TransferEntry fetched; a failed delete is only a warning.
    void RemoteCleanup();

    const TransferItem& Item() const { return items_[1]; }
    const FileList& Fetched() const { return fileList_; }

  private:
    void DownloadFolderItem(std::string& localDir);
    void DownloadFileItem(std::string& localDir);
    void EnsureFolder(const std::string& path);
    void LocalFileSize(const std::string& path, std::int64_t& size);

    FtpClient& ftp_;
    std::array<TransferItem, 2> items_;  // only item 1 is used
    FileList fileList_;
};

}  // namespace klvr
