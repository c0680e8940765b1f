#include "transfer/flat_download.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "settings/numeric_text.h"
#include "transfer/delete_decision.h"
#include "transfer/file_name_variable.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/local_folder.h"
#include "transfer/listed_facts.h"
#include "transfer/pause.h"
#include "transfer/reported_step.h"
#include "transfer/run_log.h"
#include "transfer/run_report.h"
#include "transfer/session_events.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

// The transfer's clock to the whole second, as the speed line has always been measured.
std::int64_t NowSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool IsZipArchiveName(const std::string& name) {
    return name.size() >= 3 && UpperCase(name.substr(name.size() - 3)) == "ZIP";
}

// A file the run passed over before asking the server anything.
void RecordSkip(FtpClient& ftp, const RemoteEntry& entry, const std::string& reason) {
    FileRecord record =
        SkippedFile(ftp.RemotePath(entry.name), moduleState().Settings.LocalDir + "/" + entry.name, reason);
    const ListedFile listed = ListedFacts(entry);
    record.size = listed.size;
    record.remoteTime = listed.modified;
    record.folder = IsOn(entry.IsFolder);
    moduleState().Report.Put(record);
}

// Every listed entry has its record, also those this mode does not fetch.
void RecordPassedOver(FtpClient& ftp) {
    ModuleState& m = moduleState();
    const auto& records = m.RemoteEntries.records;
    for (int i = 1; i <= m.RemoteEntries.UpperBound(); ++i) {
        const RemoteEntry& e = records[i];
        if (m.Report.Has(ftp.RemotePath(e.name))) continue;
        RecordSkip(ftp, e,
                   IsOn(e.IsFolder) ? "it is a folder, and folders are fetched in folder mode only"
                   : IsOn(m.Settings.CopySpecific) ? "it is not the named file"
                                                   : "only the first file is fetched");
    }
}

// A host's stop during the pause after a file ends the attempt there, as one during a transfer does: the
// client stopped first, then the failure path with the client's own word for it.
void PauseBetweenFiles() {
    if (Pause()) return;
    ActOnAbortRequest();
    throw std::runtime_error("Aborted");
}

}  // namespace

std::string SpeedText(const std::string& sizeText, std::int64_t seconds) {
    if (seconds < 1) return "<unknown>";
    const double size = NumericValue(sizeText).value_or(0.0);
    const double speed = std::floor(size / static_cast<double>(seconds) / 1024.0);
    // a size text beyond any real file gives no speed rather than an out-of-range conversion
    if (!(speed >= 1.0 && speed < 9.2e18)) return "<unknown>";
    return std::to_string(static_cast<std::int64_t>(speed));
}

EntryOutcome DownloadEntry(FtpClient& ftp, const RemoteEntry& entry, std::int32_t& filesDownloaded) {
    ModuleState& m = moduleState();
    const CommandSettings& s = m.Settings;
    const std::string& name = entry.name;
    m.LocalTarget = s.LocalDir + "/" + name;
    const LocalEntry present = LocalEntryAt(s.LocalDir, name);
    if (present.kind == LocalEntry::kLink) {
        WriteLog("WARNING: Local link passed over [" + Printable(m.LocalTarget) + "]", LogLevel::Warning);
        RecordSkip(ftp, entry, kLocalLinkReason);
        return EntryOutcome::Skipped;
    }
    if (!IsOn(s.OverwriteExisting) && present.kind == LocalEntry::kFile) {
        Inform("Skipped file [" + Printable(name) + "] - file exists and OVERWRITE=Off");
        RecordSkip(ftp, entry, "a local file of that name exists, and OverwriteExisting is off");
        return EntryOutcome::Skipped;
    }
    Inform("Downloading [" + Printable(name) + "] to [" + Printable(m.LocalTarget) + "] (" +
           Printable(entry.size) + " Bytes) ...");
    ftp.FileType = s.TransferMode;
    const std::int64_t start = NowSeconds();
    FetchResult result;
    Reported("Could not download [" + Printable(name) + "] ", [&] {
        if (s.TransferMode == kFileZip && IsZipArchiveName(name))
            result = ftp.Get(name, s.LocalDir, nullptr, ListedFacts(entry));
        else
            result = ftp.Get(name, m.LocalTarget, nullptr, ListedFacts(entry));
    });
    // a copy that appeared meanwhile is not replaced, and says so itself
    if (result.outcome != FetchOutcome::kFetched) return EntryOutcome::Skipped;
    const std::int64_t seconds = NowSeconds() - start;
    ++filesDownloaded;
    Inform("Downloaded [" + Printable(name) + "] " + SpeedText(entry.size, seconds) + " kBps");
    if (IsOn(s.DeleteAfterDownload)) {
        const DeleteVerdict verdict = JudgeDelete(ftp, name, result.proof);
        if (verdict.action != DeleteVerdict::kDelete) {
            WriteLog("WARNING: Remote file kept [" + Printable(name) + "]: " + verdict.reason,
                     LogLevel::Warning);
        } else {
            Inform("Deleting remote-file [" + Printable(name) + "] ...");
            Reported("Could not delete [" + Printable(name) + "] ", [&] { ftp.Delete(name); });
        }
    }
    return EntryOutcome::Downloaded;
}

void RunFlatBranch(FtpClient& ftp) {
    ModuleState& m = moduleState();
    const CommandSettings& s = m.Settings;
    const auto& records = m.RemoteEntries.records;
    const int count = m.RemoteEntries.UpperBound();
    std::int32_t filesDownloaded = 0;

    Inform(count >= 1 ? "Number of files & directories found: " + std::to_string(count) : "No files found.");
    bool onlyFolders = count >= 1;
    for (int i = 1; i <= count; ++i) onlyFolders = onlyFolders && IsOn(records[i].IsFolder);
    if (onlyFolders) {
        RecordPassedOver(ftp);
        return;
    }

    if (IsOn(s.CopySpecific)) {
        bool named = false;
        for (int i = 1; i <= count; ++i) {
            const RemoteEntry& e = records[i];
            if (IsOn(e.IsFolder) || e.name != s.SpecificFileName) continue;
            named = true;
            if (DownloadEntry(ftp, e, filesDownloaded) == EntryOutcome::Skipped) break;
            StoreFileNameInVariable(e.name);
        }
        // not a failure of the run, but a host that schedules it wants to tell it from a done one
        if (!named) m.Report.NoteFailure(FailureCause::kNotFound);
    } else if (IsOn(s.ProcessAll)) {
        for (int i = 1; i <= count; ++i) {
            const RemoteEntry& e = records[i];
            if (IsOn(e.IsFolder)) {
                PauseBetweenFiles();
                continue;
            }
            ftp.AnotherFileFollows = i < count;
            if (DownloadEntry(ftp, e, filesDownloaded) == EntryOutcome::Downloaded) PauseBetweenFiles();
        }
    } else {
        for (int i = 1; i <= count; ++i) {
            const RemoteEntry& e = records[i];
            if (IsOn(e.IsFolder)) continue;
            if (DownloadEntry(ftp, e, filesDownloaded) == EntryOutcome::Downloaded)
                StoreFileNameInVariable(e.name);
            break;
        }
    }
    Inform("Number of files downloaded : " + std::to_string(filesDownloaded));
    RecordPassedOver(ftp);
}

}  // namespace klvr
