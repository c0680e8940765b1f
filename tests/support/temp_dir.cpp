#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace klvr::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "klvr-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
    std::filesystem::path path = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return path.string();
}

std::string TempDir::MakeFolder(const std::string& relative) const {
    std::filesystem::path path = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(path);
    return path.string();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

void OpenToAll(const std::string& path) {
    namespace fs = std::filesystem;
    auto open = [](const fs::path& p) {
        std::error_code error;
        auto status = fs::symlink_status(p, error);
        if (fs::is_symlink(status)) return;
        fs::permissions(p,
                        fs::is_directory(status)
                            ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec
                            : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                  fs::perms::others_read,
                        error);
    };
    open(path);
    for (const auto& entry : fs::recursive_directory_iterator(path)) open(entry.path());
}

}  // namespace klvr::test
