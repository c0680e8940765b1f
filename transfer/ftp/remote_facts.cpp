// The questions asked about one remote file beside its transfer: its version now, and its hash.
#include "transfer/ftp/client_impl.h"
#include "transfer/ftp/mlsd_parser.h"
#include "transfer/ftp/remote_hash.h"
#include "transfer/ftp/reply_values.h"

namespace klvr {

RemoteVersion FtpClient::Impl::CurrentVersion(const std::string& remoteName, const RemoteVersion& wanted,
                                              Waiter& waiter) {
    RemoteVersion now;
    if (features.Has("MLST") && !mlstRefused) {
        Reply reply = Command("MLST " + remoteName, waiter);
        if (reply.code == 250) {
            // the facts come on a line of their own, led by a blank
            for (std::size_t i = 1; i < reply.lines.size(); ++i) {
                const std::string& line = reply.lines[i];
                if (line.empty() || line.front() != ' ') continue;
                const ParsedLine parsed = ParseMlsdLine(std::string_view(line).substr(1));
                if (parsed.form != LineForm::Facts) continue;
                if (parsed.entry.Type == "F") now.size = parsed.entry.Size;
                now.modified = parsed.entry.Modified;
                return now;
            }
        } else if (reply.code == 500 || reply.code == 502) {
            mlstRefused = true;
        }
        if (!mlstRefused) return now;  // the file is gone, or cannot be read: nothing to confirm
    }
    if (wanted.size) {
        Reply reply = Command("SIZE " + remoteName, waiter);
        if (reply.code == 213) now.size = ParseSizeReply(reply.lines.empty() ? "" : reply.lines.front());
    }
    if (wanted.modified) {
        const RemoteTime time = ModifiedTime(remoteName, waiter);
        if (time.IsKnown()) now.modified = time.seconds;
    }
    return now;
}

HashVerdict FtpClient::Impl::CompareHash(const std::string& remoteName, int fd, std::int64_t length,
                                         Waiter& waiter) {
    const HashCommand command = ChooseHashCommand(features);
    if (!command.Offered() || hashRefused) return HashVerdict::kUnavailable;
    Reply reply = Command(command.verb + " " + remoteName, waiter);
    if (reply.code == 500 || reply.code == 502) hashRefused = true;
    if (!reply.Positive() || reply.lines.empty()) return HashVerdict::kUnavailable;
    // the reply's text after its code
    const std::string& line = reply.lines.back();
    const auto remote = ParseHashReply(command, line.size() > 4 ? std::string_view(line).substr(4) : "");
    if (!remote) return HashVerdict::kUnavailable;
    const auto local = LocalHash(fd, length, remote->algorithm);
    if (!local) return HashVerdict::kUnavailable;
    return *local == remote->hex ? HashVerdict::kEqual : HashVerdict::kDiffers;
}

}  // namespace klvr
