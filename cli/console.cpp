#include "cli/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "util/printable_text.h"

namespace klvr::cli {
namespace {

constexpr int kErrorLevel = 2;
// A little under the plug-in's pace of about ten figures a second, so that none is passed over.
constexpr auto kRedrawInterval = std::chrono::milliseconds(90);

std::size_t TerminalWidth(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

Console::Console(std::FILE* out, bool progress, bool quiet) : out_(out), progress_(progress), quiet_(quiet) {}

Console::~Console() {
    ClearProgress();
}

void Console::Erase() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", out_);
    shown_ = false;
}

void Console::Line(int level, const std::string& printed) {
    if (quiet_ && level < kErrorLevel) return;
    const std::lock_guard lock(mutex_);
    Erase();
    std::fprintf(out_, "%s\n", printed.c_str());
    std::fflush(out_);
    // the live line comes back with the next figures
    nextDraw_ = {};
}

void Console::Progress(const std::string& name, std::int64_t done, std::int64_t total) {
    if (!progress_) return;
    const std::lock_guard lock(mutex_);
    const auto now = RateMeter::Clock::now();
    if (name != name_ || done < lastDone_) {
        name_ = name;
        rate_ = RateMeter();
        nextDraw_ = {};
    }
    lastDone_ = done;
    rate_.Add(now, done);
    if (now < nextDraw_) return;
    nextDraw_ = now + kRedrawInterval;
    const ProgressFigures figures{Printable(name), done, total, rate_.BytesPerSecond()};
    std::fprintf(out_, "\r%s\x1b[K", ProgressLine(figures, TerminalWidth(out_)).c_str());
    std::fflush(out_);
    shown_ = true;
}

void Console::ClearProgress() {
    const std::lock_guard lock(mutex_);
    Erase();
    std::fflush(out_);
}

}  // namespace klvr::cli
