#include "transfer/ftp/download_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/stored_origin.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

std::string ErrorText() {
    return std::strerror(errno);
}

}  // namespace

std::optional<PartialState> DownloadFile::FindPartial(const LocalFolder& folder, const std::string& name) {
    UniqueFd fd(folder.OpenFile(PartialFileName(name), O_RDONLY));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kPartialTrailerSize))
        return std::nullopt;
    std::string tail(kPartialTrailerSize, '\0');
    const off_t at = st.st_size - static_cast<off_t>(kPartialTrailerSize);
    if (::pread(fd.get(), tail.data(), tail.size(), at) != static_cast<ssize_t>(tail.size()))
        return std::nullopt;
    return ReadPartialTrailer(tail, static_cast<std::int64_t>(st.st_size));
}

DownloadFile DownloadFile::Fresh(const LocalFolder& folder, const std::string& name,
                                 std::optional<PartialVersion> resumable) {
    const std::string partial = PartialFileName(name);
    folder.Remove(partial);
    int fd = folder.OpenFile(partial, O_RDWR | O_CREAT | O_EXCL);
    if (fd < 0)
        throw FtpError("Cannot create a file in [" + folder.Path() + "]: " + ErrorText(),
                       FailureCause::kLocalWrite);
    return DownloadFile(folder, name, partial, fd, std::move(resumable));
}

DownloadFile DownloadFile::ContinuePartial(const LocalFolder& folder, const std::string& name,
                                           const PartialState& state) {
    const std::string partial = PartialFileName(name);
    int fd = folder.OpenFile(partial, O_RDWR);
    if (fd < 0)
        throw FtpError("Cannot go on with [" + folder.PathOf(partial) + "]: " + ErrorText(),
                       FailureCause::kLocalWrite);
    DownloadFile file(folder, name, partial, fd, state.version);
    // the trailer goes; it is written again should this attempt stop early too
    if (::ftruncate(fd, state.length) != 0 || ::lseek(fd, state.length, SEEK_SET) < 0)
        throw FtpError("Cannot go on with [" + folder.PathOf(partial) + "]: " + ErrorText(),
                       FailureCause::kLocalWrite);
    return file;
}

DownloadFile DownloadFile::FromCopy(const LocalFolder& folder, const std::string& name, std::int64_t length,
                                    std::optional<PartialVersion> resumable) {
    UniqueFd copy(folder.OpenFile(name, O_RDONLY | O_NONBLOCK));
    struct stat st {};
    if (copy.get() < 0 || ::fstat(copy.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw FtpError("Cannot resume [" + folder.PathOf(name) + "]: " + ErrorText(),
                       FailureCause::kLocalWrite);
    if (st.st_size != length) {
        throw FtpError("Cannot resume [" + folder.PathOf(name) + "] at byte " + std::to_string(length) +
                           ": it changed while the download began",
                       FailureCause::kLocalWrite);
    }
    DownloadFile file = Fresh(folder, name, std::move(resumable));
    off_t in = 0;
    while (in < length) {
        const ssize_t n =
            ::copy_file_range(copy.get(), &in, file.fd_, nullptr, static_cast<std::size_t>(length - in), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            char buffer[64 * 1024];
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(sizeof buffer, length - in));
            const ssize_t got = ::pread(copy.get(), buffer, want, in);
            if (got <= 0)
                throw FtpError("Cannot resume [" + folder.PathOf(name) + "]: " + ErrorText(),
                               FailureCause::kLocalWrite);
            file.Write(std::string_view(buffer, static_cast<std::size_t>(got)));
            in += got;
            continue;
        }
        if (n <= 0)
            throw FtpError("Cannot resume [" + folder.PathOf(name) + "]: " + ErrorText(),
                           FailureCause::kLocalWrite);
    }
    return file;
}

DownloadFile::DownloadFile(DownloadFile&& other) noexcept
    : folder_(other.folder_),
      name_(std::move(other.name_)),
      partial_(std::move(other.partial_)),
      fd_(other.fd_),
      version_(std::move(other.version_)),
      provenEnd_(other.provenEnd_),
      takesPipe_(other.takesPipe_) {
    other.fd_ = -1;
    other.partial_.clear();
}

DownloadFile::~DownloadFile() {
    if (fd_ < 0) return;
    std::int64_t length = BytesOnDisk();
    if (provenEnd_ && length > *provenEnd_) {
        // bytes that were not proven to continue the same content do not stay
        if (::ftruncate(fd_, *provenEnd_) == 0) length = *provenEnd_;
    }
    // only an unfinished download is worth going on with: all bytes there and still no success means the
    // server itself called the transfer failed
    if (version_ && length > 0 && length < version_->size) {
        const std::string trailer = PartialTrailer(*version_, length);
        if (::pwrite(fd_, trailer.data(), trailer.size(), length) == static_cast<ssize_t>(trailer.size())) {
            Close();
            return;
        }
    }
    Close();
    folder_.Remove(partial_);
}

void DownloadFile::Close() {
    ::close(fd_);
    fd_ = -1;
}

void DownloadFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            throw FtpError(
                "Cannot write [" + folder_.PathOf(name_) + "]: " + (n < 0 ? ErrorText() : "disk full"),
                FailureCause::kLocalWrite);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void DownloadFile::WriteFromPipe(int pipe, std::size_t count) {
    while (count > 0 && takesPipe_) {
        const ssize_t n = ::splice(pipe, nullptr, fd_, nullptr, count, SPLICE_F_MOVE);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
            takesPipe_ = false;
            break;
        }
        if (n <= 0) {
            throw FtpError(
                "Cannot write [" + folder_.PathOf(name_) + "]: " + (n < 0 ? ErrorText() : "disk full"),
                FailureCause::kLocalWrite);
        }
        count -= static_cast<std::size_t>(n);
    }
    char buffer[64 * 1024];
    while (count > 0) {
        const ssize_t n = ::read(pipe, buffer, std::min(count, sizeof buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw FtpError("Cannot write [" + folder_.PathOf(name_) + "]: the data went missing",
                           FailureCause::kLocalWrite);
        Write(std::string_view(buffer, static_cast<std::size_t>(n)));
        count -= static_cast<std::size_t>(n);
    }
}

std::int64_t DownloadFile::BytesOnDisk() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool DownloadFile::Commit(std::optional<std::int64_t> modified, bool replace,
                          const std::optional<StoredOrigin>& origin) {
    if (modified) {
        // the copy carries the remote file's time, as mirrors do
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*modified), 0}};
        ::futimens(fd_, times);
    }
    // The record goes on with the file's final bytes and times; the rename that follows changes the
    // file's change time by no more than the record allows for.
    if (origin) WriteStoredOrigin(fd_, *origin);
    // a write the file system reports only now must fail the download before the file takes its name
    const int fd = fd_;
    fd_ = -1;
    const std::string partial = std::move(partial_);
    partial_.clear();
    if (::close(fd) != 0) {
        const std::string error = ErrorText();
        folder_.Remove(partial);
        throw FtpError("Cannot write [" + folder_.PathOf(name_) + "]: " + error, FailureCause::kLocalWrite);
    }
    try {
        if (replace) {
            folder_.Rename(partial, name_);
        } else if (!folder_.RenameNoReplace(partial, name_)) {
            folder_.Remove(partial);
            return false;
        }
    } catch (...) {
        folder_.Remove(partial);
        throw;
    }
    return true;
}

void DownloadFile::Discard() {
    if (fd_ < 0) return;
    Close();
    folder_.Remove(partial_);
    partial_.clear();
}

}  // namespace klvr
