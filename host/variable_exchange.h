#pragma once
#include <string>
#include <vector>

#include "host/host_lists.h"
#include "settings/settings_array.h"

namespace klvr {

// Entries of a host list: every text followed by "]|["; the text after the last separator is no entry.
std::vector<std::string> SplitHostList(const std::string& list);

// Adds every entry under its name; a name already present raises DuplicateKeyError and keeps the
// entries added before it.
void AddVariables(VariableCollection& collection, const std::string& list);

// Replaces the collection by the list's entries (Description, or dbName for database presets).
void ReplacePresets(std::vector<clsConstants>& collection, const std::string& list, bool dbName);

// Appends Value(1) to Value(15); a missing index raises SubscriptError after the entries before it.
void AddConstants(std::vector<clsConstants>& collection, const SettingsArray& value);

}  // namespace klvr
