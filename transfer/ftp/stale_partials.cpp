#include "transfer/ftp/stale_partials.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "transfer/ftp/partial_file.h"

namespace klvr {

int RemoveStalePartials(const LocalFolder& folder, const std::set<std::string>& listedPartials,
                        std::int64_t now) {
    const int fd = ::openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsPartialFileName(name) || listedPartials.count(name) > 0) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (now - static_cast<std::int64_t>(st.st_mtime) > kStalePartialAge) stale.push_back(name);
    }
    ::closedir(dir);
    for (const auto& name : stale) folder.Remove(name);
    return static_cast<int>(stale.size());
}

}  // namespace klvr
