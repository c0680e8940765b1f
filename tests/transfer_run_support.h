#pragma once
// What the end-to-end runs of the command share: a complete settings array, snapshots of folder trees,
// and log comparison with wildcards for the parts a server words in its own way.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "settings/settings_array.h"

namespace klvr::test {

// The settings a saved dialog writes for a plain FTP logon to 127.0.0.1:port into localDir, with the
// named elements replaced ("RemoteDir", "ProcessAll", ...).
SettingsArray RunCommand(std::uint16_t port, const std::string& user, const std::string& password,
                         const std::string& localDir, const std::map<std::string, std::string>& overrides);

// Every regular file below root, by its path relative to root, with its content; a symbolic link as
// "-> target".
std::map<std::string, std::string> Snapshot(const std::string& root);

// Writes files (a path ending in "/" is an empty folder, a content beginning "-> " a symbolic link).
void Populate(const std::string& root, const std::map<std::string, std::string>& files);

// The bytes of a ZIP archive holding the given files.
std::string ZipBytes(const std::map<std::string, std::string>& files);

// Compares "level message" lines; an expected line ending in "*" matches any line that begins with the
// rest. Returns a description of the first difference, or "" when they match.
std::string CompareLog(const std::vector<std::string>& actual, const std::vector<std::string>& expected);

}  // namespace klvr::test
