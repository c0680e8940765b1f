#include "cli/trace_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "util/printable_text.h"
#include "util/unique_fd.h"

namespace klvr::cli {

TraceFollower::TraceFollower(std::string path, Console& console) : path_(std::move(path)), console_(console) {
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) offset_ = static_cast<std::uint64_t>(st.st_size);
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            ShowNew();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
}

TraceFollower::~TraceFollower() {
    stop_ = true;
    thread_.join();
    ShowNew();
    if (!partial_.empty()) console_.Line(0, "trace " + Printable(partial_));
}

void TraceFollower::ShowNew() {
    const UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) return;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (static_cast<std::uint64_t>(st.st_size) < offset_) offset_ = 0;  // replaced meanwhile
    char buffer[65536];
    while (true) {
        const ssize_t n = ::pread(fd.get(), buffer, sizeof buffer, static_cast<off_t>(offset_));
        if (n <= 0) break;
        offset_ += static_cast<std::uint64_t>(n);
        partial_.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t start = 0;
    for (std::size_t lf; (lf = partial_.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::string line = partial_.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        console_.Line(0, "trace " + Printable(line));
    }
    partial_.erase(0, start);
}

}  // namespace klvr::cli
