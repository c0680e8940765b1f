#include "transfer/trace_file.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "util/private_file.h"

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

}  // namespace

std::string PrepareTraceFile() {
    const std::string folder = StateFolder();
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder)) {
        std::filesystem::create_directories(folder, ignored);
        ::chmod(folder.c_str(), 0700);
    }
    const std::string file = folder + "/" + kTraceName;
    AppendToPrivateFile(file, "");
    return file;
}

void AppendTraceLine(const std::string& file, const std::string& line) {
    AppendToPrivateFile(file, line + "\r\n");
}

}  // namespace klvr
