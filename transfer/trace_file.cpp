#include "transfer/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace klvr {
namespace {

constexpr const char* kTraceName = "klvrVaultfetch.log";

std::string StateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // The base-directory rules ignore a relative value.
    if (state && state[0] == '/') return state;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') throw std::runtime_error("Cannot place the trace file: HOME is not set");
    return std::string(home) + "/.local/state";
}

// Opens for appending, creating the file private to the user; a symbolic link in its place is refused.
int OpenForAppend(const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int code = errno;
        throw std::runtime_error(
            "Cannot open the trace file [" + file +
            "]: " + (code == ELOOP ? std::string("it is a symbolic link") : std::strerror(code)));
    }
    return fd;
}

}  // namespace

std::string PrepareTraceFile() {
    const std::string folder = StateFolder();
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder)) {
        std::filesystem::create_directories(folder, ignored);
        ::chmod(folder.c_str(), 0700);
    }
    const std::string file = folder + "/" + kTraceName;
    ::close(OpenForAppend(file));
    return file;
}

void AppendTraceLine(const std::string& file, const std::string& line) {
    const int fd = OpenForAppend(file);
    const std::string text = line + "\r\n";
    const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
    if (written != static_cast<ssize_t>(text.size())) throw std::runtime_error("Cannot write the trace file");
}

}  // namespace klvr
