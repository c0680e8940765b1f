// What the windows need of the display, against a real X server (Xvfb): whether Qt may be started at all
// (Qt ends the process when no platform can start), and Caps Lock switched off through XKB.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "dialog/qt/qt_application.h"
#include "dialog/qt/x11_display.h"
#include "dialog/variable_menu.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace klvr {
namespace {

// The display variables of the process, put back when the object goes.
class DisplayEnvironment {
  public:
    DisplayEnvironment() {
        for (const char* name : kNames)
            if (const char* value = getenv(name)) saved_[name] = value;
    }
    ~DisplayEnvironment() {
        for (const char* name : kNames) {
            const auto it = saved_.find(name);
            if (it == saved_.end())
                unsetenv(name);
            else
                setenv(name, it->second.c_str(), 1);
        }
    }
    // Only the given variables are set.
    void Use(const std::map<std::string, std::string>& variables) {
        for (const char* name : kNames) unsetenv(name);
        for (const auto& [name, value] : variables) setenv(name.c_str(), value.c_str(), 1);
    }

  private:
    static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::map<std::string, std::string> saved_;
};

// An X server of the test's own, on a display number the server picks itself so that parallel tests
// never meet. It does not reset when its last client leaves, so that a test may connect again at once.
class Xvfb {
  public:
    Xvfb() : server_({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"}, dir_ / "xvfb.log") {
        // the server writes its display number on a line of its own, among whatever else it reports
        for (int i = 0; i < 500 && display_.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::istringstream log(server_.Log());
            for (std::string line; display_.empty() && std::getline(log, line) && !log.eof();) {
                const auto digit = [](unsigned char c) { return std::isdigit(c) != 0; };
                if (!line.empty() && std::all_of(line.begin(), line.end(), digit)) display_ = ":" + line;
            }
        }
    }
    const std::string& Display() const { return display_; }  // empty when the server did not start
    std::string Log() const { return server_.Log(); }

  private:
    test::TempDir dir_;
    test::ChildProcess server_;
    std::string display_;
};

TEST(QtDisplay, QtIsStartedOnlyWhereAPlatformCanStart) {
    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << x.Log();
    DisplayEnvironment environment;
    const struct {
        std::map<std::string, std::string> variables;
        bool available;
    } cases[] = {
        {{}, false},
        {{{"DISPLAY", x.Display()}}, true},
        {{{"DISPLAY", ":65001"}}, false},  // no server there
        {{{"WAYLAND_DISPLAY", "klvr-no-such-compositor"}}, false},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
        {{{"QT_QPA_PLATFORM", "klvr-no-such-platform"}, {"DISPLAY", x.Display()}}, false},
        {{{"QT_QPA_PLATFORM", "klvr-no-such-platform;offscreen"}}, true},
        {{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":65001"}}, false},
        {{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", x.Display()}}, true},
    };
    for (const auto& c : cases) {
        environment.Use(c.variables);
        std::string shown;
        for (const auto& [name, value] : c.variables) shown += name + "=" + value + " ";
        EXPECT_EQ(qt::DisplayAvailable(), c.available) << shown;
    }

    // the connection that found the X server is held for Qt's own to follow
    environment.Use({{"DISPLAY", x.Display()}});
    qt::X11Connection kept;
    EXPECT_TRUE(qt::DisplayAvailable(&kept));
    EXPECT_TRUE(kept);
}

TEST(QtDisplay, CapsLockIsReadAndSwitchedOffThroughXkb) {
    Xvfb x;
    ASSERT_FALSE(x.Display().empty()) << x.Log();
    const std::unique_ptr<KeyboardState> keyboard = qt::OpenXkbKeyboard(x.Display());
    ASSERT_NE(keyboard, nullptr) << x.Log();
    EXPECT_EQ(qt::OpenXkbKeyboard(":65001"), nullptr);

    keyboard->ToggleCapsLock();
    ASSERT_TRUE(keyboard->CapsLock());
    SetCapsLockState(*keyboard, false);
    EXPECT_FALSE(keyboard->CapsLock());
    SetCapsLockState(*keyboard, false);  // already off: it stays off
    EXPECT_FALSE(keyboard->CapsLock());
}

}  // namespace
}  // namespace klvr
