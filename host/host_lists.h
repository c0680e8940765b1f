#pragma once
// The names the host hands over for the dialog's insertion menus, and the records the host reads back.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/command_settings.h"

namespace klvr {

struct clsVariables {
    std::string VarName;
    std::string varData;
};

struct clsConstants {
    std::string Description;
    std::string dbName;
};

// Raised when a keyed collection already holds the name, as the host's collections do.
class DuplicateKeyError : public std::runtime_error {
  public:
    DuplicateKeyError()
        : std::runtime_error("This key is already associated with an element of this collection") {}
};

// An ordered collection of variable records keyed by VarName (case-insensitive keys, as the host's are).
class VariableCollection {
  public:
    void Add(clsVariables record);  // throws DuplicateKeyError
    const std::vector<clsVariables>& Items() const { return items_; }
    std::size_t Count() const { return items_.size(); }
    void Clear() { items_.clear(); }

  private:
    std::vector<clsVariables> items_;
};

struct ModType {
    std::string Name, IconLarge, IconSmall, Cat, CatIconLarge, CatIconSmall;
};

struct VarType {
    Flag Use = kFalse;
    std::string Value;
};

}  // namespace klvr
