#include "transfer/ftp/local_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "transfer/ftp/local_paths.h"

namespace klvr {
namespace {

std::string ErrorText(int error) {
    return std::strerror(error);
}

void CheckName(const std::string& name) {
    if (!IsSafeListedName(name)) throw FtpError("Unsafe local name refused [" + name + "]");
}

// The components of a path without empty and "." ones; "/a//b/./c/" gives a, b, c.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(begin, end - begin);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        begin = end + 1;
    }
    return parts;
}

}  // namespace

LocalFolder LocalFolder::Open(const std::string& path) {
    int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw FtpError("Cannot open the local folder [" + path + "]: " + ErrorText(errno),
                       FailureCause::kLocalWrite);
    return LocalFolder(std::make_shared<UniqueFd>(fd), path);
}

LocalFolder LocalFolder::Missing(const std::string& path) {
    return LocalFolder(std::make_shared<UniqueFd>(-1), path);
}

LocalFolder LocalFolder::ChildIfThere(const std::string& name) const {
    try {
        return Child(name, false);
    } catch (const LocalLinkMet&) {
        throw;
    } catch (const FtpError&) {
        return Missing(PathOf(name));
    }
}

std::string LocalFolder::PathOf(const std::string& name) const {
    if (path_.empty()) return name;
    return path_.back() == '/' ? path_ + name : path_ + "/" + name;
}

LocalFolder LocalFolder::Child(const std::string& name, bool create) const {
    CheckName(name);
    const std::string path = PathOf(name);
    if (Fd() < 0 && create)
        throw FtpError("Cannot create the local folder [" + path + "]: its parent is missing",
                       FailureCause::kLocalWrite);
    if (Fd() < 0) return Missing(path);
    if (create && ::mkdirat(Fd(), name.c_str(), 0777) != 0 && errno != EEXIST)
        throw FtpError("Cannot create the local folder [" + path + "]: " + ErrorText(errno),
                       FailureCause::kLocalWrite);
    int fd = ::openat(Fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (Inspect(name).kind == LocalEntry::kLink) throw LocalLinkMet(path);
        throw FtpError("Cannot open the local folder [" + path + "]: " + ErrorText(error),
                       FailureCause::kLocalWrite);
    }
    return LocalFolder(std::make_shared<UniqueFd>(fd), path);
}

LocalEntry LocalFolder::Inspect(const std::string& name) const {
    CheckName(name);
    struct stat st {};
    LocalEntry entry;
    if (Fd() < 0) return entry;
    if (::fstatat(Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return entry;
        throw FtpError("Cannot read [" + PathOf(name) + "]: " + ErrorText(errno));
    }
    entry.kind = S_ISREG(st.st_mode)   ? LocalEntry::kFile
                 : S_ISDIR(st.st_mode) ? LocalEntry::kFolder
                 : S_ISLNK(st.st_mode) ? LocalEntry::kLink
                                       : LocalEntry::kOther;
    entry.size = static_cast<std::int64_t>(st.st_size);
    entry.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    return entry;
}

int LocalFolder::OpenFile(const std::string& name, int flags) const {
    CheckName(name);
    return ::openat(Fd(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0666);
}

void LocalFolder::Rename(const std::string& from, const std::string& to) const {
    CheckName(from);
    CheckName(to);
    // renameat replaces a link of the name `to` instead of writing through it
    if (::renameat(Fd(), from.c_str(), Fd(), to.c_str()) != 0)
        throw FtpError("Cannot store [" + PathOf(to) + "]: " + ErrorText(errno), FailureCause::kLocalWrite);
}

bool LocalFolder::RenameNoReplace(const std::string& from, const std::string& to) const {
    CheckName(from);
    CheckName(to);
    if (::renameat2(Fd(), from.c_str(), Fd(), to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS)
        throw FtpError("Cannot store [" + PathOf(to) + "]: " + ErrorText(errno), FailureCause::kLocalWrite);
    // A check followed by a plain rename would replace what appears between the two steps.
    return LinkNoReplace(from, to);
}

bool LocalFolder::LinkNoReplace(const std::string& from, const std::string& to) const {
    CheckName(from);
    CheckName(to);
    if (::linkat(Fd(), from.c_str(), Fd(), to.c_str(), 0) != 0) {
        const int error = errno;
        if (error == EEXIST) return false;
        if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS) {
            throw FtpError(
                "Cannot store [" + PathOf(to) +
                    "]: the file system can neither rename without replacing nor make hard links (" +
                    ErrorText(error) + ")",
                FailureCause::kLocalWrite);
        }
        throw FtpError("Cannot store [" + PathOf(to) + "]: " + ErrorText(error), FailureCause::kLocalWrite);
    }
    if (::unlinkat(Fd(), from.c_str(), 0) != 0) {
        throw FtpError(
            "Stored [" + PathOf(to) + "], but cannot remove [" + PathOf(from) + "]: " + ErrorText(errno),
            FailureCause::kLocalWrite);
    }
    return true;
}

void LocalFolder::Remove(const std::string& name) const {
    if (IsSafeListedName(name)) ::unlinkat(Fd(), name.c_str(), 0);
}

std::optional<std::uint64_t> LocalFolder::FreeBytes() const {
    struct statvfs st {};
    if (::fstatvfs(Fd(), &st) != 0) return std::nullopt;
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(st.f_bavail),
                               static_cast<std::uint64_t>(st.f_frsize), &bytes))
        return UINT64_MAX;
    return bytes;
}

LocalEntry LocalEntryAt(const std::string& path, const std::string& name) {
    try {
        return LocalFolder::Open(path).Inspect(name);
    } catch (const FtpError&) {
        return {};
    }
}

LocalFolder OpenLocalFolder(const std::string& root, const std::string& path, bool create) {
    const std::vector<std::string> rootParts = Components(root);
    const std::vector<std::string> parts = Components(path);
    const bool below = !root.empty() && !path.empty() && (root.front() == '/') == (path.front() == '/') &&
                       parts.size() >= rootParts.size() &&
                       std::equal(rootParts.begin(), rootParts.end(), parts.begin());
    if (!below) {
        if (create && ::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
            throw FtpError("Cannot create the local folder [" + path + "]: " + ErrorText(errno),
                           FailureCause::kLocalWrite);
        return LocalFolder::Open(path);
    }
    LocalFolder folder = LocalFolder::Open(root);
    for (std::size_t i = rootParts.size(); i < parts.size(); ++i) {
        if (parts[i] == "..")
            throw FtpError("Unsafe local path refused [" + path + "]: it leads out of [" + root + "]");
        folder = folder.Child(parts[i], create);
    }
    return folder;
}

LocalPlace LocalPlaceOf(const std::string& root, const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {OpenLocalFolder(root, ".", false), path};
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    return {OpenLocalFolder(root, folder, false), path.substr(slash + 1)};
}

LocalFolder OpenLocalFolderIfThere(const std::string& root, const std::string& path) {
    try {
        return OpenLocalFolder(root, path, false);
    } catch (const LocalLinkMet&) {
        throw;
    } catch (const FtpError&) {
        return LocalFolder::Missing(path);
    }
}

}  // namespace klvr
