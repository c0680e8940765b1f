#include "cli/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "cli/options.h"
#include "util/printable_text.h"

namespace klvr::cli {
namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void CheckReportPlace(const std::string& path) {
    const std::string folder = FolderOf(path);
    struct stat st {};
    if (path.empty() || path.back() == '/') throw UsageError("--report needs a file name");
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw UsageError("the report's folder " + Printable(folder) + " does not exist");
    if (::access(folder.c_str(), W_OK) != 0)
        throw UsageError("cannot write the report into " + Printable(folder) + ": " + std::strerror(errno));
}

void WriteReportFile(const std::string& path, const std::string& text) {
    const std::string folder = FolderOf(path);
    auto fail = [&](int error) {
        throw std::runtime_error("cannot write the report " + Printable(path) + ": " + std::strerror(error));
    };
    // The usual mode of a new file, umask applied: the next step may run as another user of the group.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        temp = folder + "/.vaultfetch-report-" + std::to_string(::getpid()) + "-" + std::to_string(stamp);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) fail(errno);
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    int error = errno;
    ::close(fd);
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return;
    if (ok) error = errno;
    ::unlink(temp.c_str());
    fail(error);
}

}  // namespace klvr::cli
