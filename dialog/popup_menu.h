#pragma once
// A popup menu as plain data: a tree of submenu entries, command items and separators. The model builds
// it; a view shows it and reports the chosen command's id.
#include <cstdint>
#include <string>
#include <vector>

namespace klvr {

// A separator carries this id; it is never returned as a choice.
inline constexpr std::uint16_t kMenuSeparatorId = 0x6001;

struct MenuEntry {
    enum class Kind { Submenu, Command, Separator };
    Kind kind = Kind::Command;
    std::string caption;  // empty for a separator
    std::uint16_t id = 0;
    std::vector<MenuEntry> items;  // the child menu of a submenu entry

    static MenuEntry Submenu(std::string caption, std::vector<MenuEntry> items = {}) {
        return {Kind::Submenu, std::move(caption), 0, std::move(items)};
    }
    static MenuEntry Command(std::string caption, std::uint16_t id) {
        return {Kind::Command, std::move(caption), id, {}};
    }
    static MenuEntry Separator() { return {Kind::Separator, "", kMenuSeparatorId, {}}; }
};

// The root of a popup menu: its items are the root's entries.
using PopupMenu = std::vector<MenuEntry>;

}  // namespace klvr
