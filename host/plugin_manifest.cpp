#include "host/plugin_manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "util/unique_fd.h"

namespace klvr {
namespace {

bool IsAbsolute(const char* path) {
    return path && path[0] == '/';
}

[[noreturn]] void Fail(const char* what, const std::filesystem::path& path) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

}  // namespace

std::optional<std::filesystem::path> UserDataHome(const char* xdgDataHome, const char* home) {
    if (IsAbsolute(xdgDataHome)) return std::filesystem::path(xdgDataHome);
    if (IsAbsolute(home)) return std::filesystem::path(home) / ".local" / "share";
    return std::nullopt;
}

std::filesystem::path ManifestPath() {
    const auto data = UserDataHome(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (!data) throw std::runtime_error("neither XDG_DATA_HOME nor HOME names an absolute folder");
    return *data / "kelvara" / "plugins" / "klvrVaultfetch.Toolbox.json";
}

std::string ManifestText(const std::string& className, const std::string& libraryPath) {
    const nlohmann::json manifest = {{"class", className}, {"library", libraryPath}};
    return manifest.dump() + "\n";  // throws for a path that is not UTF-8: JSON cannot carry it
}

void WriteManifest(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    // A host reading the folder meanwhile sees the old manifest or the new one, never half of one.
    const std::filesystem::path temporary = path.string() + ".new";
    {
        UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (fd.get() < 0) Fail("cannot write", temporary);
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Fail("cannot write", temporary);
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(fd.get()) != 0) Fail("cannot write", temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        errno = code;
        Fail("cannot write", path);
    }
}

}  // namespace klvr
