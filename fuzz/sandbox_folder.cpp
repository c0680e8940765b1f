#include "fuzz/sandbox_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <system_error>

namespace klvr::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVictimText = "must not change\n";

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.insert(entry.path().filename());
    return names;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

SandboxFolder::SandboxFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/klvr-fuzz-session-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    root_ = pattern;
    up_ = root_ + "/up";
    inside_ = up_ + "/inside";
    outside_ = up_ + "/outside";
    fs::create_directories(inside_);
    fs::create_directories(outside_ + "/folder");
    std::ofstream(outside_ + "/victim", std::ios::binary) << kVictimText;
}

SandboxFolder::~SandboxFolder() {
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

void SandboxFolder::PlantLinks() {
    if (planted_) return;
    std::error_code ec;
    fs::create_directories(inside_ + "/tree", ec);
    fs::remove_all(inside_ + "/link.bin", ec);
    fs::remove_all(inside_ + "/tree/sub", ec);
    fs::create_symlink(outside_ + "/victim", inside_ + "/link.bin", ec);
    fs::create_directory_symlink(outside_ + "/folder", inside_ + "/tree/sub", ec);
    planted_ = true;
}

std::string SandboxFolder::Trespass() const {
    if (Names(root_) != std::set<std::string>{"up"}) return "something beside " + up_;
    if (Names(up_) != std::set<std::string>{"inside", "outside"}) return "something beside " + inside_;
    if (Names(outside_) != std::set<std::string>{"folder", "victim"}) return "a change in " + outside_;
    if (!Names(outside_ + "/folder").empty()) return "something in " + outside_ + "/folder";
    if (fs::is_symlink(outside_ + "/victim") || ReadAll(outside_ + "/victim") != kVictimText)
        return "a change of " + outside_ + "/victim";

    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(inside_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const fs::path& path = it->path();
        const fs::file_status status = fs::symlink_status(path, ec);
        if (fs::is_symlink(status)) {
            const bool planted = planted_ && (path == inside_ + "/link.bin" || path == inside_ + "/tree/sub");
            if (!planted) return "a link made at " + path.string();
            const std::string target = fs::read_symlink(path, ec);
            if (target != outside_ + "/victim" && target != outside_ + "/folder")
                return "a link bent at " + path.string();
        } else if (!fs::is_regular_file(status) && !fs::is_directory(status)) {
            return "something neither file nor folder at " + path.string();
        }
    }
    if (ec) return "an unreadable destination: " + ec.message();
    return "";
}

}  // namespace klvr::fuzz
