#include "host/host_lists.h"

#include <algorithm>
#include <cctype>

namespace klvr {
namespace {

bool SameKey(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

void VariableCollection::Add(clsVariables record) {
    for (const auto& existing : items_)
        if (SameKey(existing.VarName, record.VarName)) throw DuplicateKeyError();
    items_.push_back(std::move(record));
}

}  // namespace klvr
