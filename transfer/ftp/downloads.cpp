// Get and MGet: where the bytes land, text conversions, resuming, the check that a file is whole, ZIP
// unpacking and the folder walk.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <set>

#include "transfer/ftp/client_impl.h"
#include "transfer/ftp/completion.h"
#include "transfer/ftp/download_file.h"
#include "transfer/ftp/fetch_plan.h"
#include "transfer/ftp/file_job_runner.h"
#include "transfer/ftp/local_paths.h"
#include "transfer/ftp/partial_file.h"
#include "transfer/ftp/remote_hash.h"
#include "transfer/ftp/reply_values.h"
#include "transfer/ftp/stale_partials.h"
#include "transfer/ftp/stored_origin.h"
#include "transfer/ftp/text_converter.h"
#include "transfer/ftp/zip_unpack.h"
#include "transfer/run_report.h"
#include "util/printable_text.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

constexpr int kMaxFolderDepth = 64;

// More bytes than the server announced: the file changed under the transfer, or the server ignored REST.
class ExcessData : public FtpError {
  public:
    using FtpError::FtpError;
};

// The first bytes of a resumed transfer differ from the bytes held for the same place.
class OverlapMismatch : public FtpError {
  public:
    using FtpError::FtpError;
};

// A resumed transfer starts this far before the end of what is held, and those bytes are compared with
// the ones held before anything is appended.
constexpr std::int64_t kOverlap = 64 * 1024;

class FileDataSink : public DataSink {
  public:
    // Without a limit, onAnnounced set means the server's reply to RETR is to name it. The first overlap
    // bytes are compared with the file's bytes from overlapAt on and not written; onProven runs once
    // they all matched.
    FileDataSink(DownloadFile& file, TextConverter::Mode mode, std::optional<std::int64_t> limit,
                 std::function<void(std::int64_t)> onAnnounced = {}, std::int64_t overlapAt = 0,
                 std::int64_t overlap = 0, std::function<void()> onProven = {})
        : file_(file),
          converter_(mode),
          binary_(mode == TextConverter::Mode::Binary),
          limit_(limit),
          onAnnounced_(std::move(onAnnounced)),
          overlapAt_(overlapAt),
          overlap_(overlap),
          onProven_(std::move(onProven)) {}
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
        if (overlap_ > 0) bytes.remove_prefix(Compare(bytes));
        if (!bytes.empty()) file_.Write(converter_.Convert(bytes));
    }
    // Binary bytes go to the file as they come, up to the announced size; a byte beyond it must come
    // through Write, which refuses it, and so must the bytes still to be compared.
    std::size_t PipeRoom() const override {
        if (!binary_ || !file_.TakesPipe() || overlap_ > 0) return 0;
        if (!limit_) return std::numeric_limits<std::size_t>::max();
        // bytes that came before the size was named may already be beyond it
        return static_cast<std::size_t>(std::max<std::int64_t>(0, *limit_ - received_));
    }
    void WriteFromPipe(int pipe, std::size_t count) override {
        received_ += static_cast<std::int64_t>(count);
        file_.WriteFromPipe(pipe, count);
    }
    // A transfer that ended within the bytes held appended nothing; the length check then fails it.
    void Finish() { file_.Write(converter_.Finish()); }

  private:
    // How many leading bytes were compared; throws on the first difference.
    std::size_t Compare(std::string_view bytes) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(overlap_, bytes.size()));
        std::string held(count, '\0');
        std::size_t got = 0;
        while (got < count) {
            const ssize_t n = ::pread(file_.Fd(), held.data() + got, count - got,
                                      static_cast<off_t>(overlapAt_ + static_cast<std::int64_t>(got)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw OverlapMismatch("the bytes held cannot be read back");
            got += static_cast<std::size_t>(n);
        }
        if (bytes.substr(0, count) != held)
            throw OverlapMismatch("the bytes held differ from the remote file's");
        overlapAt_ += static_cast<std::int64_t>(count);
        overlap_ -= static_cast<std::int64_t>(count);
        if (overlap_ == 0 && onProven_) onProven_();
        return count;
    }

    DownloadFile& file_;
    TextConverter converter_;
    bool binary_;
    std::optional<std::int64_t> limit_;
    std::function<void(std::int64_t)> onAnnounced_;
    std::int64_t received_ = 0;
    std::int64_t overlapAt_;
    std::int64_t overlap_;
    std::function<void()> onProven_;
};

// Whether a server that answered REST and still sent from the start could pass the comparison: the
// bytes held at the start are the same as those at the place compared.
bool OverlapCannotTellStart(int fd, std::int64_t overlapAt, std::int64_t overlap) {
    if (overlapAt == 0 || overlap <= 0) return false;
    std::string first(static_cast<std::size_t>(overlap), '\0');
    std::string there(static_cast<std::size_t>(overlap), '\0');
    return ::pread(fd, first.data(), first.size(), 0) == static_cast<ssize_t>(first.size()) &&
           ::pread(fd, there.data(), there.size(), static_cast<off_t>(overlapAt)) ==
               static_cast<ssize_t>(there.size()) &&
           first == there;
}

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

std::string LeftAloneReason(const FetchPlan& plan) {
    if (!plan.reason.empty()) return plan.reason;
    return plan.proven ? "the local copy is the remote file already" : "a local copy is there";
}

// A dry run ends with the plan: what would move, and whether the remote file would go afterwards. The
// result keeps every caller from going further (no variable, no delete), and nothing local was touched.
FetchResult PlannedOnly(const FetchPlan& plan, const FetchFacts& facts, bool deleteAfter,
                        FileRecord& record) {
    const bool transfers = plan.Transfers();
    if (transfers) {
        record.action = FileRecord::kPlanned;
        record.plan = plan.action != FetchAction::kFresh ? "resume" : facts.copy ? "overwrite" : "new";
        record.resumeFrom = plan.action != FetchAction::kFresh ? plan.from : 0;
        if (facts.remoteSize) record.bytes = *facts.remoteSize - record.resumeFrom;
    } else {
        record.action = FileRecord::kSkipped;
        record.reason = plan.action == FetchAction::kKeep ? plan.reason : LeftAloneReason(plan);
    }
    if (deleteAfter && (transfers || (plan.action == FetchAction::kLeaveAlone && plan.proven)))
        record.deletion = "would delete after the download";
    return {FetchOutcome::kKept, {false, "a dry run changes nothing", {}}};
}

TextConverter::Mode ModeOf(int fileType) {
    return fileType == kFileAscii    ? TextConverter::Mode::Ascii
           : fileType == kFileEbcdic ? TextConverter::Mode::Ebcdic
                                     : TextConverter::Mode::Binary;
}

}  // namespace

RemoteTime FtpClient::Impl::ModifiedTime(const std::string& remoteName, Waiter& waiter) {
    Reply reply = Question("MDTM " + remoteName, waiter);
    if (reply.code == 213) {
        if (auto seconds = ParseMdtmReply(reply.lines.empty() ? "" : reply.lines.front()))
            return RemoteTime::Known(*seconds);
    }
    return RemoteTime::Unavailable();
}

FetchResult FtpClient::Impl::Fetch(const FetchTarget& t, Waiter& waiter) {
    FileRecord record;
    record.remotePath = RemotePathOf(t.remoteName);
    record.localPath = t.folder.PathOf(t.name);
    record.size = t.listed.size;
    record.remoteTime = t.listed.modified;
    record.order = t.place;
    const auto start = std::chrono::steady_clock::now();
    auto put = [&] {
        record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (self.Report) self.Report->Put(record);
    };
    try {
        FetchResult result = FetchFile(t, waiter, record);
        put();
        return result;
    } catch (const LocalLinkMet& link) {
        record.action = FileRecord::kSkipped;
        record.reason = kLocalLinkReason;
        put();
        throw;
    } catch (const FtpError& e) {
        record.action = FileRecord::kFailed;
        record.error = e.what();
        put();
        if (self.Report) self.Report->NoteFailure(abort.Raised() ? FailureCause::kAborted : e.cause);
        throw;
    }
}

FetchResult FtpClient::Impl::FetchFile(const FetchTarget& t, Waiter& waiter, FileRecord& record) {
    const int fileType = self.FileType;
    const bool text = fileType == kFileAscii || fileType == kFileEbcdic;
    const std::string shown = t.folder.PathOf(t.name);
    FetchResult result;
    auto kept = [&](std::string reason) {
        ReportWarning("Local file kept [" + Printable(shown) + "]: " + reason);
        record.action = FileRecord::kSkipped;
        record.reason = reason;
        result.outcome = FetchOutcome::kKept;
        result.proof = {false, std::move(reason), {}};
        return result;
    };
    if (IsPartialFileName(t.name)) {
        record.reason = "its name is the form kept for unfinished downloads";
        ReportWarning("Remote file passed over [" + Printable(t.remoteName) + "]: " + record.reason);
        return {FetchOutcome::kKept, {false, record.reason, {}}};
    }

    const LocalEntry present = t.unpack ? LocalEntry{} : t.folder.Inspect(t.name);
    if (present.kind == LocalEntry::kLink) throw LocalLinkMet(shown);
    if (present.kind == LocalEntry::kFolder)
        throw FtpError("Cannot write [" + shown + "]: a folder of that name exists");
    if (present.kind == LocalEntry::kOther) throw FtpError("Cannot write [" + shown + "]: it is not a file");

    SetType(fileType == kFileAscii ? 'A' : fileType == kFileEbcdic ? 'E' : 'I', waiter);
    // The evidence about this file, gathered once; PlanFetch reads nothing else.
    FetchFacts facts;
    facts.binary = !text;
    facts.keepExisting = t.keepExisting;
    facts.origin = OriginDigest(targetHost, targetPort, logonUser, RemotePathOf(t.remoteName));
    facts.hashOffered = !hashRefused && ChooseHashCommand(features).Offered();
    if (t.listed.modified) facts.remoteTime = RemoteTime::Known(*t.listed.modified);
    if (present.kind == LocalEntry::kFile)
        facts.copy =
            LocalCopyFacts{present.size, t.keepExisting ? ReadStoredOrigin(t.folder, t.name) : std::nullopt};
    if (!text) facts.partial = DownloadFile::FindPartial(t.folder, t.name);
    auto sizeNow = [&] {
        Reply reply = Question("SIZE " + t.remoteName, waiter);
        return reply.code == 213 ? ParseSizeReply(reply.lines.empty() ? "" : reply.lines.front())
                                 : std::nullopt;
    };
    // A file that comes whole in any case takes its size from the server's reply to RETR, when the
    // server names it there; nothing is decided on the size before.
    const bool sizeFromRetr =
        !text && t.askSize && sizeInRetrReply && !facts.partial && (!facts.copy || !t.keepExisting);
    const bool sizeAsked = !text && t.askSize && !sizeFromRetr;
    if (sizeAsked) facts.remoteSize = sizeNow();
    if (!facts.remoteSize) facts.remoteSize = t.listed.size;
    FetchPlan plan = PlanFetch(facts);
    for (;;) {
        if (plan.action == FetchAction::kAskTime) {
            facts.remoteTime = ModifiedTime(t.remoteName, waiter);
        } else if (plan.action == FetchAction::kAskHash) {
            UniqueFd copy(t.folder.OpenFile(t.name, O_RDONLY | O_NONBLOCK));
            facts.copyHash = copy.get() < 0 ? HashVerdict::kUnavailable
                                            : CompareHash(t.remoteName, copy.get(), facts.copy->size, waiter);
        } else {
            break;
        }
        plan = PlanFetch(facts);
    }
    const bool transfers = plan.Transfers();
    if (facts.remoteSize) record.size = facts.remoteSize;
    if (facts.remoteTime.IsKnown()) record.remoteTime = facts.remoteTime.seconds;
    if (self.DryRun) return PlannedOnly(plan, facts, self.CheckBeforeDelete, record);
    // A remote file that is to be deleted afterwards is pinned to its exact time now, so that a version
    // put in its place meanwhile is told apart before the delete.
    if (transfers && self.CheckBeforeDelete && facts.remoteTime.state == RemoteTime::kNotAsked)
        facts.remoteTime = ModifiedTime(t.remoteName, waiter);

    const std::optional<std::int64_t> remoteTime =
        facts.remoteTime.IsKnown() ? std::optional(facts.remoteTime.seconds) : std::nullopt;
    // an unfinished download beside a copy that is kept or resumed has nothing more to give
    if (!transfers || plan.action == FetchAction::kResumeCopy) {
        if (facts.partial) t.folder.Remove(PartialFileName(t.name));
    }
    if (plan.action == FetchAction::kKeep) return kept(plan.reason);
    if (plan.action == FetchAction::kLeaveAlone) {
        record.reason = LeftAloneReason(plan);
        result.outcome = FetchOutcome::kLeftAlone;
        result.proof = {plan.proven, plan.reason, {facts.remoteSize, remoteTime}};
        // a copy proven by our own record is the version the record names
        if (plan.proven && facts.copy->stored && facts.copy->stored->origin == facts.origin)
            result.proof.version = facts.copy->stored->version;
        return result;
    }

    std::optional<std::int64_t> size = text || sizeFromRetr ? std::nullopt : facts.remoteSize;
    // Only a download of known size can be resumed: the size is half of what names its version.
    std::optional<PartialVersion> version;
    if (size) version = PartialVersion{facts.origin, *size, remoteTime, Now()};
    // A resumed transfer starts before the end of the bytes held and compares them first; a server that
    // cannot restart at all sends the file from its start, and all of them are compared.
    bool resuming = plan.action != FetchAction::kFresh;
    const std::int64_t held = plan.from;
    std::int64_t from = 0;
    auto startFile = [&]() -> DownloadFile {
        from = resuming && !restUnusable ? std::max<std::int64_t>(0, held - kOverlap) : 0;
        if (resuming && plan.action == FetchAction::kResumeCopy) {
            DownloadFile file = DownloadFile::FromCopy(t.folder, t.name, held, version);
            file.KeepOnlyUpTo(held);
            return file;
        }
        if (resuming) {
            DownloadFile file = DownloadFile::ContinuePartial(t.folder, t.name, *facts.partial);
            file.KeepOnlyUpTo(held);
            return file;
        }
        return DownloadFile::Fresh(t.folder, t.name, version);
    };
    std::optional<DownloadFile> file(startFile());
    auto announced = [&](std::int64_t bytes) {
        size = bytes;
        version = PartialVersion{facts.origin, bytes, remoteTime, Now()};
        file->SetResumable(*version);
    };
    for (;;) {
        const std::int64_t overlap = resuming ? held - from : 0;
        // Once the bytes held matched, what follows belongs after them, unless a server that ignored the
        // restart could have sent the same bytes from the file's start.
        auto proven = [&] {
            if (!OverlapCannotTellStart(file->Fd(), from, overlap)) file->KeepOnlyUpTo(std::nullopt);
        };
        FileDataSink sink(*file, ModeOf(fileType), size ? std::optional(*size - from) : std::nullopt,
                          sizeFromRetr ? std::function<void(std::int64_t)>(announced) : nullptr, from,
                          overlap, proven);
        done = from;
        total = size ? *size : t.listed.size.value_or(0);
        transferName = t.remoteName;
        try {
            Transfer("RETR " + t.remoteName, sink, size ? std::optional(*size - from) : std::nullopt, waiter,
                     from, t.anotherFollows);
            sink.Finish();
            break;
        } catch (const RestRefused&) {
            restUnusable = true;
        } catch (const PipeliningRefused&) {
            // the session asks for ports in the plain order now, and the file comes again as it would have
        } catch (const ExcessData&) {
            // from the file's start, more than announced is more than the file: no restart explains it
            if (!resuming || from == 0) {
                file->Discard();
                throw FtpError("The server sent more than the " + std::to_string(*size) +
                               " bytes it announced for [" + t.remoteName + "]");
            }
            // the server answered REST and still sent the file from its start
            restUnusable = true;
        } catch (const OverlapMismatch& mismatch) {
            if (!resuming) throw;
            if (plan.action == FetchAction::kResumeCopy) {
                file->Discard();  // the user's file was never touched
                return kept("it is not the beginning of the remote file");
            }
            ReportWarning("Unfinished download discarded [" + Printable(shown) + "]: " + mismatch.what());
            file->Discard();
            resuming = false;
        }
        // the bytes held are compared again from the file's start, or the file comes whole
        file.reset();
        file.emplace(startFile());
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
    const RemoteVersion fetched{text ? facts.remoteSize : size, remoteTime};
    if (fetched.size) record.size = fetched.size;
    record.bytes = file->BytesOnDisk() - from;
    record.action = resuming ? FileRecord::kResumed : FileRecord::kDownloaded;
    record.resumeFrom = resuming ? held : 0;
    // Where the server hashes files, the bytes are checked whole: a file rewritten in place while it was
    // sent, or a resumed one whose beginning differs, has the right length and the wrong content.
    if (!text && facts.hashOffered && size &&
        CompareHash(t.remoteName, file->Fd(), *size, waiter) == HashVerdict::kDiffers) {
        file->Discard();
        if (plan.action == FetchAction::kResumeCopy)
            return kept("it does not match the server's hash of the remote file");
        throw FtpError("The download of [" + t.remoteName +
                       "] does not match the server's hash of the file: it changed while it was fetched");
    }

    if (t.unpack) {
        // the archive itself is not kept
        UnpackSummary summary;
        try {
            summary = UnpackZip(file->Fd(), file->BytesOnDisk(), t.folder,
                                {t.keepExisting, [this](const std::string& line) { ReportWarning(line); }});
        } catch (...) {
            file->Discard();
            throw;
        }
        file->Discard();
        result.proof = {true, {}, fetched};
        if (!summary.Complete()) {
            // an entry passed over is nowhere but in the remote archive, which must then stay
            const int missing = summary.entries - summary.stored - summary.provenSame;
            result.proof = {false,
                            std::to_string(missing) + " of its " + std::to_string(summary.entries) +
                                (missing == 1 ? " entries was not unpacked" : " entries were not unpacked"),
                            fetched};
        }
        return result;
    }
    // With OverwriteExisting off a file that appeared while this one downloaded is not replaced either;
    // a copy proven to be an unfinished one of this version is.
    const bool replace = !t.keepExisting || plan.action == FetchAction::kResumeCopy;
    if (!file->Commit(remoteTime, replace, StoredOrigin{facts.origin, fetched}))
        return kept("it appeared while the download ran");
    result.proof = {true, {}, fetched};
    return result;
}

FetchResult FtpClient::Impl::Get(const std::string& remoteName, const std::string& localPath,
                                 bool keepExisting, const ListedFile& listed, bool anotherFollows,
                                 Waiter& waiter) {
    FileJob job = GetJob(remoteName, localPath, keepExisting, listed);
    job.anotherFollows = anotherFollows;
    return Fetch(job, waiter);
}

FileJob FtpClient::Impl::GetJob(const std::string& remoteName, const std::string& localPath,
                                bool keepExisting, const ListedFile& listed) {
    Control();
    CheckRemoteFileName(remoteName);
    const int fileType = self.FileType;
    if (fileType < kFileAscii || fileType > kFileZip) {
        throw FtpError("FileType " + std::to_string(fileType) +
                       " is not one of 0 (ASCII), 1 (IMAGE), 2 (EBCDIC), 3 (ZIP)");
    }
    if (fileType == kFileZip && IsFolder(localPath)) {
        LocalFolder folder = OpenLocalFolder(self.LocalRoot, localPath, false);
        FileJob job{remoteName, folder,  LastComponent(remoteName), listed, true, keepExisting, true,
                    {},         fileType};
        if (self.Report) job.place = self.Report->NextPlace();
        return job;
    }
    CheckLocalFilePath(localPath);
    LocalPlace place = LocalPlaceOf(self.LocalRoot, localPath);
    FileJob job{remoteName, place.folder, place.name, listed, true, keepExisting, false, {}, fileType};
    if (self.Report) job.place = self.Report->NextPlace();
    return job;
}

FetchResult FtpClient::Impl::FetchHere(const FileJob& job, Waiter& waiter) {
    Control();
    if (!job.remoteFolder.empty() && job.remoteFolder != workingFolder)
        ChangeFolder(job.remoteFolder, waiter);
    self.FileType = job.fileType;
    return Fetch(job, waiter);
}

JobOutcome FtpClient::Impl::Attempt(const FileJob& job, Waiter& waiter) {
    JobOutcome outcome;
    try {
        outcome.result = FetchHere(job, waiter);
    } catch (const SessionBroken&) {
        outcome.error = std::current_exception();
        outcome.sessionLost = true;
    } catch (const std::exception&) {
        outcome.error = std::current_exception();
    }
    return outcome;
}

void FtpClient::Impl::MGet(const std::string& pattern, const std::string& localFolder, FileList& list,
                           FileJobRunner* runner, Waiter& waiter) {
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
    const LocalFolder top = self.DryRun ? OpenLocalFolderIfThere(self.LocalRoot, localFolder)
                                        : OpenLocalFolder(self.LocalRoot, localFolder, true);
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
    const FileJobRunner::RunHere runHere = [&](const FileJob& job) { return Attempt(job, waiter); };
    // Whatever ends the walk early, no outcome may reach this frame's counters after it is gone.
    struct Settled {
        FileJobRunner* runner;
        ~Settled() {
            if (runner) runner->Settle();
        }
    } settled{runner};
    try {
        while (!folders.empty()) {
            Pending current = std::move(folders.back());
            folders.pop_back();
            std::optional<LocalFolder> here;
            try {
                here = current.localName.empty() ? current.parent
                       : self.DryRun             ? current.parent.ChildIfThere(current.localName)
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
            // the folder's files are fetched here by this spelling, on whichever session
            const std::string jobFolder = workingFolder;
            Listing listing = ListCurrentFolder(waiter);
            if (listing.ListingFormat == kListingUnparsed) {
                ReportError("Unreadable listing lines in [" + current.listed + "]: " + listing.UnparsedText);
            }
            std::vector<Pending> subfolders;
            // the last entry that may be fetched: every file before it is followed by another transfer
            const auto last =
                std::find_if(listing.Entries.rbegin(), listing.Entries.rend(), [&](const ListEntry& e) {
                    return e.Type != "D" && ::fnmatch(mask.c_str(), e.Name.c_str(), FNM_NOESCAPE) == 0;
                });
            const ListEntry* const lastFile = last == listing.Entries.rend() ? nullptr : &*last;
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
                // a link's listed size and time are the link's own, not the file's
                const bool plain = entry.Type == "F";
                const ListedFile listed{plain ? std::optional(entry.Size) : std::nullopt,
                                        plain ? entry.Modified : std::nullopt};
                FileJob job{entry.Name,   *here, entry.Name, listed,       !plain,
                            keepExisting, false, jobFolder,  self.FileType};
                // on this session the next file of the listing follows; on others their runner knows
                job.anotherFollows = !runner && &entry != lastFile;
                if (self.Report) job.place = self.Report->NextPlace();
                auto finish = [&, remotePath, size = entry.Size](JobOutcome& outcome) {
                    try {
                        if (outcome.error) std::rethrow_exception(outcome.error);
                        const FetchResult& result = *outcome.result;
                        if (result.outcome != FetchOutcome::kKept) list.Add(remotePath, size, result.proof);
                        if (result.outcome == FetchOutcome::kFetched) ++fetched;
                    } catch (const LocalLinkMet& link) {
                        ReportWarning("Local link passed over [" + Printable(link.Path()) + "]");
                    } catch (const SessionBroken&) {
                        throw;
                    } catch (const FtpError& e) {
                        // another session's loss ends the run as this one's would
                        if (outcome.sessionLost) throw SessionBroken(e.what());
                        fail("Could not fetch [" + remotePath + "]: " + e.what(),
                             "[" + remotePath + "] " + e.what());
                    }
                };
                if (runner) {
                    runner->Submit(std::move(job), finish, runHere);
                    // a job fetched here from another folder moved this session
                    if (!jobFolder.empty() && workingFolder != jobFolder) ChangeFolder(jobFolder, waiter);
                } else {
                    JobOutcome outcome = Attempt(job, waiter);
                    finish(outcome);
                }
            }
            if (!self.DryRun && listing.ListingFormat != kListingUnparsed && listing.UnparsedText.empty()) {
                std::set<std::string> listedPartials;
                for (const auto& entry : listing.Entries) listedPartials.insert(PartialFileName(entry.Name));
                RemoveStalePartials(*here, listedPartials, Now());
            }
            // depth first, in listing order
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
                folders.push_back(std::move(*it));
        }
        if (runner) runner->Drain(runHere, [&] { Command("NOOP", waiter); });
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
