#pragma once
// The folder branch of a run: each entry of RemoteEntries fetched on its own, folders whole with MGet
// into a local folder of their name, files with Get resumed from the length of a local copy. Every step
// logs its own failure, sets ErrorFlag and lets the run go on with the next entry; only a lost connection
// ends the attempt, so that the next one starts where this one stopped.
#include <array>
#include <cstdint>
#include <string>

#include "transfer/ftp/client.h"
#include "transfer/ftp/file_job_runner.h"
#include "transfer/ftp/file_list.h"

namespace klvr {

inline constexpr const char* kItemFolderClose = "FolderClose";
inline constexpr const char* kItemFile = "File";
inline constexpr const char* kItemFolderLink = "FolderLink";

struct TransferItem {
    std::string name;
    std::string folder;  // the remote folder holding it
    std::string kind;    // FolderClose, File or FolderLink
    std::string size;
    std::string spare1, spare2, spare3;
    ListedFile listed;  // the listing's size and exact time of a file entry
};

class FolderTreeDownload {
  public:
    // runner: where files go to be fetched on several sessions (none: each here, in turn); cleanup:
    // what an entry fetched is deleted on the server afterwards.
    FolderTreeDownload(FtpClient& ftp, FileJobRunner* runner, bool cleanup)
        : ftp_(ftp), runner_(runner), cleanup_(cleanup) {}

    // Makes entry i of RemoteEntries, in folder, the one item to transfer.
    void BuildTransferItem(const std::string& folder, int i);
    // Fetches the item into localDir, which comes back in its folder form, then deletes on the server
    // what it fetched when asked to; with a runner a file's turn may end later, in Finish at the latest.
    void TransferEntry(std::string& localDir);
    // Waits for the files still on their way and takes their outcomes.
    void Finish();

    const TransferItem& Item() const { return items_[1]; }

  private:
    // Deletes on the server what an entry fetched; a failed delete is only a warning.
    void RemoteCleanup(const FileList& fetched);
    // The outcome of a file entry's Get, wherever it was fetched.
    void TakeFileOutcome(const std::string& remotePath, JobOutcome& outcome);
    void DownloadFolderItem(std::string& localDir);
    // True when the file went to the runner: its outcome and delete come later.
    bool DownloadFileItem(std::string& localDir);
    JobOutcome FetchHere(const FileJob& job);
    void EnsureFolder(const std::string& folder, const std::string& name);
    void LocalFileSize(const std::string& folder, const std::string& name, std::int64_t& size);
    // Lets a failure through to the attempt's failure path when the connection is gone.
    void PassOnWhenDisconnected() const;

    FtpClient& ftp_;
    FileJobRunner* runner_;
    bool cleanup_;
    std::array<TransferItem, 2> items_;  // only item 1 is used
    FileList fileList_;
};

}  // namespace klvr
