#include "dialog/qt/qt_application.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "dialog/qt/x11_display.h"

namespace klvr::qt {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool PlatformPluginInstalled(const QString& name) {
    QStringList folders{QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms"};
    for (const char* variable : {"QT_QPA_PLATFORM_PLUGIN_PATH", "QT_PLUGIN_PATH"}) {
        for (const QString& folder :
             QString::fromStdString(Environment(variable)).split(':', Qt::SkipEmptyParts))
            folders << folder << folder + "/platforms";
    }
    for (const QString& folder : folders)
        if (!QDir(folder).entryList({"libq" + name + "*.so"}, QDir::Files).isEmpty()) return true;
    return false;
}

bool WaylandReachable() {
    const std::string display = Environment("WAYLAND_DISPLAY");
    if (display.empty()) return false;
    const std::filesystem::path socket =
        display.front() == '/' ? std::filesystem::path(display)
                               : std::filesystem::path(Environment("XDG_RUNTIME_DIR")) / display;
    std::error_code ec;
    return std::filesystem::exists(socket, ec) && PlatformPluginInstalled("wayland");
}

bool Reachable(const QString& platform, X11Connection* keep) {
    if (platform == "xcb") {
        if (!PlatformPluginInstalled(platform)) return false;
        X11Connection connection("");
        if (!connection) return false;
        if (keep) *keep = std::move(connection);
        return true;
    }
    if (platform.startsWith("wayland")) return WaylandReachable();
    return PlatformPluginInstalled(platform);
}

}  // namespace

bool DisplayAvailable(X11Connection* keep) {
    // Qt ends the process when none of the platforms it tries can start, so they are checked first.
    const QString wanted = QString::fromStdString(Environment("QT_QPA_PLATFORM"));
    if (!wanted.isEmpty()) {
        for (const QString& entry : wanted.split(';', Qt::SkipEmptyParts))
            if (Reachable(entry.section(':', 0, 0), keep)) return true;
        return false;
    }
    if (!Environment("DISPLAY").empty() && Reachable("xcb", keep)) return true;
    return WaylandReachable();
}

bool EnsureApplication() {
    if (QCoreApplication* existing = QCoreApplication::instance())
        return qobject_cast<QApplication*>(existing) && existing->thread() == QThread::currentThread();
    X11Connection server;
    if (!DisplayAvailable(&server)) return false;
    // Qt keeps the arguments for the application's whole life; the application itself stays until the
    // process ends, since a host may open the dialog again and Qt cannot be started twice.
    static int argc = 1;
    static char name[] = "klvrVaultfetch";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    return true;
}

}  // namespace klvr::qt
