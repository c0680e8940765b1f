#include "transfer/remote_listing.h"

#include "host/log_sink.h"
#include "host/module_state.h"
#include "host/toolbox.h"
#include "transfer/file_filter.h"
#include "transfer/ftp/client.h"
#include "transfer/remote_name.h"
#include "transfer/run_log.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// Names that would leave the local folder never enter the table, and so are never counted or fetched.
bool TakeSafe(const std::string& name) {
    if (IsSafeLocalName(name)) return true;
    WriteLog("WARNING: Unsafe remote name skipped [" + Printable(name) + "]", LogLevel::Warning);
    return false;
}

RemoteEntry& Append(const ListEntry& entry) {
    RemoteEntry record;
    record.name = entry.Name;
    record.size = std::to_string(entry.Size);
    record.modified = entry.Modified;
    auto& records = moduleState().RemoteEntries.records;
    records.push_back(std::move(record));
    return records.back();
}

}  // namespace

void ReportUnparsedListing(const std::string& text) {
    WriteLog("Some non-UNIX or non-DOS listing were encountered.", LogLevel::Warning);
    WriteLog("This plugin only supports UNIX and DOS listings.", LogLevel::Warning);
    WriteLog("Here are some of the lines that failed:", LogLevel::Warning);
    WriteLog(Printable(text), LogLevel::Warning);
}

bool ReadListing(const Listing& listing, const LinkClassifier& classifyLink) {
    ModuleState& m = moduleState();
    m.RemoteEntries.Reset();
    try {
        NameFilter filter(m.Settings.FileFilter);
        // Lines that could not be read are reported, and never hide those that could.
        if (listing.ListingFormat == kListingUnparsed && !listing.UnparsedText.empty())
            ReportUnparsedListing(listing.UnparsedText);
        for (const ListEntry& entry : listing.Entries) {
            if (UpperCase(entry.Type) != "D" || IsDotEntry(entry.Name)) continue;
            if (!filter.Passes(entry.Name) || !TakeSafe(entry.Name)) continue;
            Append(entry).IsFolder = kTrue;
        }
        for (const ListEntry& entry : listing.Entries) {
            const std::string type = UpperCase(entry.Type);
            if (type == "D" || IsDotEntry(entry.Name)) continue;
            if (!filter.Passes(entry.Name) || !TakeSafe(entry.Name)) continue;
            const std::string kind = type == "L" ? classifyLink(m.Settings.RemoteDir, entry.Name) : "";
            RemoteEntry& record = Append(entry);
            if (kind == kFileLink) record.IsFileLink = kTrue;
            if (kind == kFolderLink) record.IsFolderLink = kTrue;
        }
        return true;
    } catch (const std::exception& e) {
        WriteLog("ERROR_FTP-DOWNLOAD: Error getting remote listing [" + LoggedDescription(e.what()) + "]",
                 LogLevel::Error);
        m.ErrorFlag = true;
        return false;
    }
}

std::string ClassifyLink(FtpClient& ftp, const std::string& folder, const std::string& name) {
    try {
        ftp.SetServerDirectory(folder + "/" + name);
    } catch (const std::exception&) {
        return kFileLink;
    }
    ftp.SetServerDirectory(folder);
    return kFolderLink;
}

}  // namespace klvr
