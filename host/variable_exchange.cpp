#include "host/variable_exchange.h"

#include "settings/settings_codec.h"

namespace klvr {

std::vector<std::string> SplitHostList(const std::string& list) {
    std::vector<std::string> parts = SplitText(list, "]|[");
    if (!parts.empty()) parts.pop_back();
    return parts;
}

void AddVariables(VariableCollection& collection, const std::string& list) {
    for (auto& name : SplitHostList(list)) collection.Add(clsVariables{name, {}});
}

void ReplacePresets(std::vector<clsConstants>& collection, const std::string& list, bool dbName) {
    collection.clear();
    for (auto& entry : SplitHostList(list))
        collection.push_back(dbName ? clsConstants{{}, entry} : clsConstants{entry, {}});
}

void AddConstants(std::vector<clsConstants>& collection, const SettingsArray& value) {
    for (int i = 1; i <= 15; ++i) collection.push_back(clsConstants{value.At(i), {}});
}

}  // namespace klvr
