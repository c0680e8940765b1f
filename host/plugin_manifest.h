#pragma once
// The manifest through which the host finds the plug-in: a small JSON file naming the class and the
// library, in $XDG_DATA_HOME/kelvara/plugins/. Self-install writes it, self-remove deletes it.
#include <filesystem>
#include <optional>
#include <string>

namespace klvr {

// The user's data folder by the XDG base-directory rules: XDG_DATA_HOME when it is an absolute path
// (a relative one is ignored), else HOME/.local/share when HOME is absolute; none otherwise. Null
// pointers stand for unset variables.
std::optional<std::filesystem::path> UserDataHome(const char* xdgDataHome, const char* home);

// The manifest's path for this process's environment; throws std::runtime_error when there is no
// data folder to put it in.
std::filesystem::path ManifestPath();

// The manifest naming className and the library at libraryPath; throws nlohmann::json::type_error for
// text that is not UTF-8.
std::string ManifestText(const std::string& className, const std::string& libraryPath);

// Writes text as the file at path, creating its folders; the file is replaced whole or not at all.
// Throws std::filesystem::filesystem_error (carrying the system's error code) when it cannot.
void WriteManifest(const std::filesystem::path& path, const std::string& text);

}  // namespace klvr
