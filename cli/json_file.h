#pragma once
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace klvr::cli {

// Where a byte of a text stands as an editor shows it: line and column counted from 1, a column being
// one character of UTF-8.
struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};
TextPosition PositionOf(std::string_view text, std::size_t offset);

// Reads a JSON file with its members in the file's order. A file that cannot be read or parsed raises
// CommandFileError naming `what` and the path, and for bad JSON the line and column of the fault.
nlohmann::ordered_json ReadJsonFile(const std::string& path, const std::string& what);

}  // namespace klvr::cli
