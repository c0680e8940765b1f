#include "transfer/ftp/download_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "transfer/ftp/ftp_error.h"

namespace klvr {
namespace {

std::string Folder(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string ErrorText() {
    return std::strerror(errno);
}

}  // namespace

DownloadFile DownloadFile::Fresh(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        throw FtpError("Cannot write [" + target + "]: a folder of that name exists");
    }
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string folder = Folder(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, "/.klvr-%016llx.part", static_cast<unsigned long long>(random()));
        std::string temp = folder + name;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return DownloadFile(target, temp, fd);
        if (errno != EEXIST) throw FtpError("Cannot create a file in [" + folder + "]: " + ErrorText());
    }
    throw FtpError("Cannot create a temporary file in [" + folder + "]");
}

DownloadFile DownloadFile::Resume(const std::string& target, std::int64_t offset) {
    int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw FtpError("Cannot resume [" + target + "]: " + ErrorText());
    DownloadFile file(target, "", fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw FtpError("Cannot resume [" + target + "]: not a file");
    if (st.st_size < offset) {
        throw FtpError("Cannot resume [" + target + "] at byte " + std::to_string(offset) +
                       ": it holds only " + std::to_string(st.st_size) + " bytes");
    }
    if ((st.st_size > offset && ::ftruncate(fd, offset) != 0) || ::lseek(fd, offset, SEEK_SET) < 0) {
        throw FtpError("Cannot resume [" + target + "]: " + ErrorText());
    }
    return file;
}

DownloadFile::DownloadFile(DownloadFile&& other) noexcept
    : target_(std::move(other.target_)), tempPath_(std::move(other.tempPath_)), fd_(other.fd_) {
    other.fd_ = -1;
    other.tempPath_.clear();
}

DownloadFile::~DownloadFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

void DownloadFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw FtpError("Cannot write [" + target_ + "]: " + (n < 0 ? ErrorText() : "disk full"));
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void DownloadFile::Commit() {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw FtpError("Cannot write [" + target_ + "]: " + ErrorText());
    if (tempPath_.empty()) return;
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        throw FtpError("Cannot store [" + target_ + "]: " + ErrorText());
    }
    tempPath_.clear();
}

}  // namespace klvr
