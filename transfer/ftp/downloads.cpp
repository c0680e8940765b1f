// Get and MGet: where the bytes land, text conversions, resuming, ZIP unpacking and the folder walk.
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "transfer/ftp/client_impl.h"
#include "transfer/ftp/download_file.h"
#include "transfer/ftp/local_paths.h"
#include "transfer/ftp/reply_values.h"
#include "transfer/ftp/text_converter.h"
#include "transfer/ftp/zip_unpack.h"

namespace klvr {
namespace {

constexpr int kMaxFolderDepth = 64;

class FileSink : public DataSink {
  public:
    FileSink(DownloadFile& file, TextConverter::Mode mode) : file_(file), converter_(mode) {}
    void Write(std::string_view bytes) override { file_.Write(converter_.Convert(bytes)); }
    void Finish() { file_.Write(converter_.Finish()); }

  private:
    DownloadFile& file_;
    TextConverter converter_;
};

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string JoinRemote(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string JoinLocal(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

void FtpClient::Impl::Get(const std::string& remoteName, const std::string& localPath, std::int64_t offset,
                          std::optional<std::int64_t> knownSize, bool allowUnpack, Waiter& waiter) {
    Control();
    CheckRemoteFileName(remoteName);
    int fileType = self.FileType;
    if (fileType < kFileAscii || fileType > kFileZip) {
        throw FtpError("FileType " + std::to_string(fileType) +
                       " is not one of 0 (ASCII), 1 (IMAGE), 2 (EBCDIC), 3 (ZIP)");
    }
    bool text = fileType == kFileAscii || fileType == kFileEbcdic;
    // Text transfers change line ends, so a local byte count says nothing about the remote offset:
    // such a file is fetched whole again.
    if (text || offset < 0) offset = 0;
    bool unpack = fileType == kFileZip && allowUnpack && IsFolder(localPath);
    if (!unpack) CheckLocalFilePath(localPath);

    SetType(fileType == kFileAscii ? 'A' : fileType == kFileEbcdic ? 'E' : 'I', waiter);
    std::optional<std::int64_t> size = knownSize;
    if (!size && !text) {
        Reply reply = Command("SIZE " + remoteName, waiter);
        if (reply.code == 213) size = ParseSizeReply(reply.lines.empty() ? "" : reply.lines.front());
    }
    if (offset > 0 && size) {
        if (offset == *size) return;     // the local copy is complete already
        if (offset > *size) offset = 0;  // the remote file changed: start afresh
    }

    std::string target = unpack ? JoinLocal(localPath, ".klvr-archive") : localPath;
    DownloadFile file = offset > 0 ? DownloadFile::Resume(localPath, offset) : DownloadFile::Fresh(target);
    FileSink sink(file, fileType == kFileAscii    ? TextConverter::Mode::Ascii
                        : fileType == kFileEbcdic ? TextConverter::Mode::Ebcdic
                                                  : TextConverter::Mode::Binary);
    done = offset;
    total = size.value_or(0);
    std::optional<std::int64_t> expected;
    if (size && !text) expected = *size - offset;
    Transfer("RETR " + remoteName, sink, expected, waiter, offset);
    sink.Finish();
    if (!unpack) {
        file.Commit();
        return;
    }
    // the archive itself is not kept: it is the uncommitted temporary file, removed with `file`
    UnpackZip(file.WrittenPath(), localPath);
}

void FtpClient::Impl::MGet(const std::string& pattern, const std::string& localFolder, FileList& list,
                           Waiter& waiter) {
    Control();
    std::string unquoted = pattern;
    if (unquoted.size() >= 2 && unquoted.front() == '"' && unquoted.back() == '"')
        unquoted = unquoted.substr(1, unquoted.size() - 2);
    auto slash = unquoted.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : unquoted.substr(0, slash);
    if (slash == 0) folder = "/";
    std::string mask = slash == std::string::npos ? unquoted : unquoted.substr(slash + 1);
    if (mask.empty()) mask = "*";
    if (localFolder.empty()) throw FtpError("No local folder given");
    if (!IsFolder(localFolder)) {
        std::error_code error;
        std::filesystem::create_directory(localFolder, error);
        if (error) throw FtpError("Cannot create the local folder [" + localFolder + "]: " + error.message());
    }

    std::string home = WorkingFolder(waiter);
    int failed = 0;
    int fetched = 0;
    std::string firstFailure;

    // Remote folders are entered by their absolute spelling (PWD after the first CWD), files are
    // fetched by bare name from inside their folder.
    struct Pending {
        std::string absolute;  // "" for the starting folder, which is entered by the pattern's text
        std::string listed;    // the remote path as the caller spells it, for the list
        std::string local;
        int depth;
        // MLSD's unique facts of this folder and those above it: a server that lists links to folders as
        // folders still names their target, so a link back up is not walked round and round
        std::vector<std::string> above;
    };
    std::vector<Pending> folders{{std::string(), folder, localFolder, 0, {}}};
    try {
        while (!folders.empty()) {
            Pending current = std::move(folders.back());
            folders.pop_back();
            if (current.absolute.empty()) {
                if (!folder.empty()) ChangeFolder(folder, waiter);
                current.absolute = WorkingFolder(waiter);
            } else {
                ChangeFolder(current.absolute, waiter);
            }
            Listing listing = ListCurrentFolder(waiter);
            if (listing.ListingFormat == kListingUnparsed) {
                ReportError("Unreadable listing lines in [" + current.listed + "]: " + listing.UnparsedText);
            }
            std::vector<Pending> subfolders;
            for (const auto& entry : listing.Entries) {
                if (entry.Name == "." || entry.Name == "..") continue;
                if (!IsSafeListedName(entry.Name)) {
                    ReportError("Unsafe remote name skipped [" + entry.Name + "]");
                    continue;
                }
                std::string remotePath = JoinRemote(current.listed, entry.Name);
                std::string localPath = JoinLocal(current.local, entry.Name);
                bool isFolder = entry.Type == "D";
                if (entry.Type == "L") {
                    // A link to a folder is not followed (links can loop); a link to a file is fetched.
                    try {
                        ChangeFolder(JoinRemote(current.absolute, entry.Name), waiter);
                        ChangeFolder(current.absolute, waiter);
                        ReportError("Link to a folder not followed [" + remotePath + "]");
                        continue;
                    } catch (const SessionBroken&) {
                        throw;
                    } catch (const FtpError&) {
                    }
                }
                if (isFolder) {
                    const auto& above = current.above;
                    if (current.depth + 1 > kMaxFolderDepth) {
                        ReportError("Folder nested too deeply, skipped [" + remotePath + "]");
                    } else if (!entry.Unique.empty() &&
                               std::find(above.begin(), above.end(), entry.Unique) != above.end()) {
                        ReportError("Link to a folder not followed [" + remotePath + "]");
                    } else {
                        Pending sub{JoinRemote(current.absolute, entry.Name), remotePath, localPath,
                                    current.depth + 1, above};
                        if (!entry.Unique.empty()) sub.above.push_back(entry.Unique);
                        subfolders.push_back(std::move(sub));
                    }
                    continue;
                }
                if (::fnmatch(mask.c_str(), entry.Name.c_str(), FNM_NOESCAPE) != 0) continue;
                try {
                    // a link's listed size is the length of the link, not of the file
                    auto size = entry.Type == "F" ? std::optional(entry.Size) : std::nullopt;
                    Get(entry.Name, localPath, 0, size, false, waiter);
                    list.Add(remotePath, entry.Size);
                    ++fetched;
                } catch (const SessionBroken&) {
                    throw;
                } catch (const FtpError& e) {
                    ++failed;
                    if (firstFailure.empty()) firstFailure = std::string("[") + remotePath + "] " + e.what();
                    ReportError("Could not fetch [" + remotePath + "]: " + e.what());
                }
            }
            // depth first, in listing order
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) {
                std::error_code error;
                if (!IsFolder(it->local)) std::filesystem::create_directory(it->local, error);
                if (error || !IsFolder(it->local)) {
                    ++failed;
                    std::string text = "Cannot create the local folder [" + it->local + "]" +
                                       (error ? ": " + error.message() : std::string());
                    if (firstFailure.empty()) firstFailure = text;
                    ReportError(text);
                    continue;
                }
                folders.push_back(std::move(*it));
            }
        }
    } catch (const SessionBroken&) {
        throw;
    } catch (const FtpError&) {
        try {
            ChangeFolder(home, waiter);
        } catch (const SessionBroken&) {
            throw;
        } catch (const FtpError&) {
        }
        throw;
    }
    ChangeFolder(home, waiter);
    if (failed > 0) {
        throw FtpError(std::to_string(failed) + " of " + std::to_string(failed + fetched) +
                       " files could not be fetched; the first: " + firstFailure);
    }
}

}  // namespace klvr
