#include "util/private_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "util/unique_fd.h"

namespace klvr {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& reason) {
    throw std::runtime_error("Cannot write the file [" + path + "]: " + reason);
}

}  // namespace

void AppendToPrivateFile(const std::string& path, std::string_view text) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a reader, for good.
    const UniqueFd fd(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        const int code = errno;
        if (code == ELOOP) Refuse(path, "it is a symbolic link");
        if (code == ENXIO) Refuse(path, "it is not a regular file");
        Refuse(path, std::strerror(code));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) Refuse(path, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) Refuse(path, "it is not a regular file");
    if ((st.st_mode & 07777) != 0600 && ::fchmod(fd.get(), 0600) != 0)
        Refuse(path, std::string("cannot make it private to its user: ") + std::strerror(errno));
    while (!text.empty()) {
        const ssize_t n = ::write(fd.get(), text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Refuse(path, n < 0 ? std::strerror(errno) : "nothing was written");
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ReplaceFileContent(const std::string& path, const std::string& content) {
    char resolved[PATH_MAX];
    // A file reached through a symbolic link is replaced where it lies; the link stays.
    const std::string target = ::realpath(path.c_str(), resolved) ? resolved : path;
    struct stat original {};
    if (::stat(target.c_str(), &original) != 0) throw std::runtime_error("cannot read " + path);
    std::string temporary = target + ".XXXXXX";
    const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) throw std::runtime_error("cannot write next to " + path + ": " + std::strerror(errno));
    auto fail = [&](const std::string& what) -> std::runtime_error {
        const int code = errno;
        ::unlink(temporary.c_str());
        return std::runtime_error(what + ": " + std::strerror(code));
    };
    std::string_view left = content;
    while (!left.empty()) {
        const ssize_t n = ::write(fd.get(), left.data(), left.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw fail("cannot write " + temporary);
        left.remove_prefix(static_cast<std::size_t>(n));
    }
    struct stat made {};
    if (::fstat(fd.get(), &made) != 0) throw fail("cannot write " + temporary);
    if ((made.st_uid != original.st_uid || made.st_gid != original.st_gid) &&
        ::fchown(fd.get(), original.st_uid, original.st_gid) != 0)
        throw fail("cannot give the new " + path + " the owner of the old one");
    if (::fchmod(fd.get(), original.st_mode & 07777) != 0)
        throw fail("cannot give the new " + path + " the mode of the old one");
    if (::fsync(fd.get()) != 0) throw fail("cannot write " + temporary);
    if (::rename(temporary.c_str(), target.c_str()) != 0) throw fail("cannot replace " + path);
}

}  // namespace klvr
