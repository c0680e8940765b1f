// Get and MGet: where the bytes land, text conversions, resuming, the check that a file is whole, ZIP
// unpacking and the folder walk.
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>

#include "transfer/ftp/client_impl.h"
#include "transfer/ftp/completion.h"
#include "transfer/ftp/download_file.h"
#include "transfer/ftp/local_paths.h"
#include "transfer/ftp/partial_file.h"
#include "transfer/ftp/reply_values.h"
#include "transfer/ftp/text_converter.h"
#include "transfer/ftp/zip_unpack.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

constexpr int kMaxFolderDepth = 64;

// More bytes than the server announced: the file changed under the transfer, or the server ignored REST.
class ExcessData : public FtpError {
  public:
    using FtpError::FtpError;
};

class FileSink : public DataSink {
  public:
    // Without a limit, onAnnounced set means the server's reply to RETR is to name it.
    FileSink(DownloadFile& file, TextConverter::Mode mode, std::optional<std::int64_t> limit,
             std::function<void(std::int64_t)> onAnnounced = {})
        : file_(file),
          converter_(mode),
          binary_(mode == TextConverter::Mode::Binary),
          limit_(limit),
          onAnnounced_(std::move(onAnnounced)) {}
    bool Announced(std::int64_t bytes) override {
        if (limit_ || !onAnnounced_) return false;
        limit_ = bytes;
        onAnnounced_(bytes);
        return true;
    }
    void Write(std::string_view bytes) override {
        const auto n = static_cast<std::int64_t>(bytes.size());
        // stopped before the first byte too many reaches the file
        if (limit_ && n > *limit_ - received_) throw ExcessData("more data than announced");
        received_ += n;
        file_.Write(converter_.Convert(bytes));
    }
    // Binary bytes go to the file as they come, up to the announced size; a byte beyond it must come
    // through Write, which refuses it.
    std::size_t PipeRoom() const override {
        if (!binary_ || !file_.TakesPipe()) return 0;
        if (!limit_) return std::numeric_limits<std::size_t>::max();
        // bytes that came before the size was named may already be beyond it
        return static_cast<std::size_t>(std::max<std::int64_t>(0, *limit_ - received_));
    }
    void WriteFromPipe(int pipe, std::size_t count) override {
        received_ += static_cast<std::int64_t>(count);
        file_.WriteFromPipe(pipe, count);
    }
    void Finish() { file_.Write(converter_.Finish()); }

  private:
    DownloadFile& file_;
    TextConverter converter_;
    bool binary_;
    std::optional<std::int64_t> limit_;
    std::function<void(std::int64_t)> onAnnounced_;
    std::int64_t received_ = 0;
};

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string JoinRemote(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::int64_t Now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

TextConverter::Mode ModeOf(int fileType) {
    return fileType == kFileAscii    ? TextConverter::Mode::Ascii
           : fileType == kFileEbcdic ? TextConverter::Mode::Ebcdic
                                     : TextConverter::Mode::Binary;
}

}  // namespace

RemoteTime FtpClient::Impl::ModifiedTime(const std::string& remoteName, Waiter& waiter) {
    Reply reply = Command("MDTM " + remoteName, waiter);
    if (reply.code == 213) {
        if (auto seconds = ParseMdtmReply(reply.lines.empty() ? "" : reply.lines.front()))
            return RemoteTime::Known(*seconds);
    }
    return RemoteTime::Unavailable();
}

FetchResult FtpClient::Impl::Fetch(const FetchTarget& t, Waiter& waiter) {
    const int fileType = self.FileType;
    const bool text = fileType == kFileAscii || fileType == kFileEbcdic;
    const std::string shown = t.folder.PathOf(t.name);
    if (IsPartialFileName(t.name)) {
        ReportWarning("Remote file passed over [" + Printable(t.remoteName) +
                      "]: its name is the form kept for unfinished downloads");
        return {FetchOutcome::kKept, CopyProof{false, false, 0, std::nullopt}};
    }

    const LocalEntry present = t.unpack ? LocalEntry{} : t.folder.Inspect(t.name);
    if (present.kind == LocalEntry::kLink) throw LocalLinkMet(shown);
    if (present.kind == LocalEntry::kFolder)
        throw FtpError("Cannot write [" + shown + "]: a folder of that name exists");
    if (present.kind == LocalEntry::kOther) throw FtpError("Cannot write [" + shown + "]: it is not a file");

    SetType(fileType == kFileAscii ? 'A' : fileType == kFileEbcdic ? 'E' : 'I', waiter);
    FetchFacts facts;
    facts.binary = !text;
    facts.keepExisting = t.keepExisting;
    if (t.listed.modified) facts.remoteTime = RemoteTime::Known(*t.listed.modified);
    if (present.kind == LocalEntry::kFile) facts.copy = LocalCopyFacts{present.size, present.modified};
    if (!text) facts.partial = DownloadFile::FindPartial(t.folder, t.name);
    auto sizeNow = [&] {
        Reply reply = Command("SIZE " + t.remoteName, waiter);
        return reply.code == 213 ? ParseSizeReply(reply.lines.empty() ? "" : reply.lines.front())
                                 : std::nullopt;
    };
    // A file that comes whole in any case takes its size from the server's reply to RETR, when the
    // server names it there; nothing is decided on the size before.
    const bool sizeFromRetr =
        !text && t.askSize && sizeInRetrReply && !facts.partial && (!facts.copy || !t.keepExisting);
    const bool sizeAsked = !text && t.askSize && !sizeFromRetr;
    if (sizeAsked) facts.remoteSize = sizeNow();
    if (!text && !facts.remoteSize) facts.remoteSize = t.listed.size;
    FetchPlan plan = PlanFetch(facts);
    if (plan.action == FetchAction::kAskTime) {
        facts.remoteTime = ModifiedTime(t.remoteName, waiter);
        plan = PlanFetch(facts);
    }

    const std::optional<std::int64_t> remoteTime =
        facts.remoteTime.IsKnown() ? std::optional(facts.remoteTime.seconds) : std::nullopt;
    FetchResult result;
    result.proof.remoteModified = remoteTime;
    const bool aboutCopy = plan.action == FetchAction::kLeaveAlone || plan.action == FetchAction::kKeep ||
                           plan.action == FetchAction::kResumeCopy;
    // an unfinished download beside a copy that is kept or resumed has nothing more to give
    if (aboutCopy && facts.partial) t.folder.Remove(PartialFileName(t.name));
    if (plan.action == FetchAction::kLeaveAlone || plan.action == FetchAction::kKeep) {
        result.proof.fetched = false;
        result.proof.sameSize = !text;
        result.proof.copyModified = present.modified;
        result.outcome = FetchOutcome::kLeftAlone;
        if (plan.action == FetchAction::kKeep) {
            ReportWarning("Local file kept [" + Printable(shown) + "]: " + plan.reason);
            result.proof.sameSize = false;
            result.outcome = FetchOutcome::kKept;
        }
        return result;
    }

    std::optional<std::int64_t> size = text || sizeFromRetr ? std::nullopt : facts.remoteSize;
    // Only a download of known size can be resumed: the size is half of what names its version.
    std::optional<PartialVersion> version;
    if (size) version = PartialVersion{*size, remoteTime, Now()};
    std::int64_t from = restUnusable ? 0 : plan.from;
    auto startFile = [&]() -> DownloadFile {
        if (from > 0 && plan.action == FetchAction::kResumeCopy)
            return DownloadFile::AppendToCopy(t.folder, t.name, from);
        if (from > 0 && plan.action == FetchAction::kResumePartial)
            return DownloadFile::ContinuePartial(t.folder, t.name, *facts.partial);
        from = 0;
        return DownloadFile::Fresh(t.folder, t.name, version);
    };
    std::optional<DownloadFile> file(startFile());
    auto announced = [&](std::int64_t bytes) {
        size = bytes;
        version = PartialVersion{bytes, remoteTime, Now()};
        file->SetResumable(*version);
    };
    for (;;) {
        FileSink sink(*file, ModeOf(fileType), size ? std::optional(*size - from) : std::nullopt,
                      sizeFromRetr ? std::function<void(std::int64_t)>(announced) : nullptr);
        done = from;
        total = size ? *size : t.listed.size.value_or(0);
        transferName = t.remoteName;
        try {
            Transfer("RETR " + t.remoteName, sink, size ? std::optional(*size - from) : std::nullopt, waiter,
                     from);
            sink.Finish();
            break;
        } catch (const RestRefused&) {
        } catch (const ExcessData&) {
            file->Discard();
            if (from == 0) {
                throw FtpError("The server sent more than the " + std::to_string(*size) +
                               " bytes it announced for [" + t.remoteName + "]");
            }
        }
        // The server refused REST, or answered it and still sent the file from its start: the file comes
        // whole, into a new partial file, for the rest of the session too.
        restUnusable = true;
        from = 0;
        file.reset();
        file.emplace(DownloadFile::Fresh(t.folder, t.name, version));
    }
    // SIZE and the reply to RETR named the same size: later files of the session need not ask
    if (sizeAsked && from == 0 && size && retrReplySize == size) sizeInRetrReply = true;
    if (sizeFromRetr && !size) {
        // this time the reply to RETR named no size: the file is measured against SIZE after all
        size = sizeNow();
        if (!size) size = t.listed.size;
    } else if (sizeFromRetr && t.listed.size && size != t.listed.size) {
        // the listing and the reply to RETR disagree: SIZE, asked now, has the last word
        if (auto now = sizeNow()) size = now;
    }
    if (auto problem = IncompleteTransfer({!text, size, file->BytesOnDisk(), true}))
        throw FtpError("The download of [" + t.remoteName + "] is incomplete: " + *problem);

    if (t.unpack) {
        // the archive itself is not kept
        try {
            UnpackZip(file->Fd(), file->BytesOnDisk(), t.folder,
                      {t.keepExisting, [this](const std::string& line) { ReportWarning(line); }});
        } catch (...) {
            file->Discard();
            throw;
        }
        file->Discard();
        return result;
    }
    // With OverwriteExisting off a file that appeared while this one downloaded is not replaced either;
    // a copy proven to be an unfinished one of this version is.
    const bool replace = !t.keepExisting || plan.action == FetchAction::kResumeCopy;
    if (!file->Commit(remoteTime, replace)) {
        ReportWarning("Local file kept [" + Printable(shown) + "]: it appeared while the download ran");
        result.proof.fetched = false;
        result.outcome = FetchOutcome::kKept;
    }
    return result;
}

FetchResult FtpClient::Impl::Get(const std::string& remoteName, const std::string& localPath,
                                 bool keepExisting, const ListedFile& listed, Waiter& waiter) {
    Control();
    CheckRemoteFileName(remoteName);
    const int fileType = self.FileType;
    if (fileType < kFileAscii || fileType > kFileZip) {
        throw FtpError("FileType " + std::to_string(fileType) +
                       " is not one of 0 (ASCII), 1 (IMAGE), 2 (EBCDIC), 3 (ZIP)");
    }
    if (fileType == kFileZip && IsFolder(localPath)) {
        LocalFolder folder = OpenLocalFolder(self.LocalRoot, localPath, false);
        return Fetch({remoteName, folder, LastComponent(remoteName), listed, true, keepExisting, true},
                     waiter);
    }
    CheckLocalFilePath(localPath);
    LocalPlace place = LocalPlaceOf(self.LocalRoot, localPath);
    return Fetch({remoteName, place.folder, place.name, listed, true, keepExisting, false}, waiter);
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
    const LocalFolder top = OpenLocalFolder(self.LocalRoot, localFolder, true);
    const bool keepExisting = !self.OverwriteExisting;

    std::string home = WorkingFolder(waiter);
    int failed = 0;
    int fetched = 0;
    std::string firstFailure;
    auto fail = [&](const std::string& text, const std::string& first) {
        ++failed;
        if (firstFailure.empty()) firstFailure = first;
        ReportError(text);
    };

    // Remote folders are entered by their absolute spelling (PWD after the first CWD), files are
    // fetched by bare name from inside their folder. A local folder is opened from its parent's handle
    // when its turn comes, so no link planted meanwhile is ever followed.
    struct Pending {
        std::string absolute;  // "" for the starting folder, which is entered by the pattern's text
        std::string listed;    // the remote path as the caller spells it, for the list
        LocalFolder parent;
        std::string localName;  // "" for the starting folder itself
        int depth;
        // MLSD's unique facts of this folder and those above it: a server that lists links to folders as
        // folders still names their target, so a link back up is not walked round and round
        std::vector<std::string> above;
    };
    std::vector<Pending> folders{{std::string(), folder, top, std::string(), 0, {}}};
    try {
        while (!folders.empty()) {
            Pending current = std::move(folders.back());
            folders.pop_back();
            std::optional<LocalFolder> here;
            try {
                here = current.localName.empty() ? current.parent
                                                 : current.parent.Child(current.localName, true);
            } catch (const LocalLinkMet& link) {
                ReportWarning("Local link passed over [" + Printable(link.Path()) + "]");
                continue;
            } catch (const FtpError& e) {
                fail(e.what(), e.what());
                continue;
            }
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
                        Pending sub{JoinRemote(current.absolute, entry.Name),
                                    remotePath,
                                    *here,
                                    entry.Name,
                                    current.depth + 1,
                                    above};
                        if (!entry.Unique.empty()) sub.above.push_back(entry.Unique);
                        subfolders.push_back(std::move(sub));
                    }
                    continue;
                }
                if (::fnmatch(mask.c_str(), entry.Name.c_str(), FNM_NOESCAPE) != 0) continue;
                try {
                    // a link's listed size and time are the link's own, not the file's
                    const bool plain = entry.Type == "F";
                    const ListedFile listed{plain ? std::optional(entry.Size) : std::nullopt,
                                            plain ? entry.Modified : std::nullopt};
                    const FetchResult result =
                        Fetch({entry.Name, *here, entry.Name, listed, !plain, keepExisting, false}, waiter);
                    if (result.outcome != FetchOutcome::kKept) list.Add(remotePath, entry.Size, result.proof);
                    if (result.outcome == FetchOutcome::kFetched) ++fetched;
                } catch (const LocalLinkMet& link) {
                    ReportWarning("Local link passed over [" + Printable(link.Path()) + "]");
                } catch (const SessionBroken&) {
                    throw;
                } catch (const FtpError& e) {
                    fail("Could not fetch [" + remotePath + "]: " + e.what(),
                         "[" + remotePath + "] " + e.what());
                }
            }
            // depth first, in listing order
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
                folders.push_back(std::move(*it));
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
