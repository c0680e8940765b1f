#include "cli/json_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "cli/command_file.h"
#include "util/printable_text.h"

namespace klvr::cli {

TextPosition PositionOf(std::string_view text, std::size_t offset) {
    TextPosition at;
    offset = std::min(offset, text.size());
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++at.line;
            at.column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++at.column;
        }
    }
    return at;
}

nlohmann::ordered_json ReadJsonFile(const std::string& path, const std::string& what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CommandFileError("cannot read the " + what + " " + path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    try {
        return nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        // The library counts lines its own way and prefixes its own codes; the reason is what the user
        // needs, at the place an editor shows.
        std::string reason = e.what();
        const std::size_t column = reason.find(", column ");
        const std::size_t colon = column == std::string::npos ? reason.find("] ") : reason.find(": ", column);
        if (colon != std::string::npos) reason.erase(0, colon + 2);
        const TextPosition at = PositionOf(text, e.byte > 0 ? e.byte - 1 : 0);
        throw CommandFileError("the " + what + " " + path + " is not valid JSON: line " +
                               std::to_string(at.line) + ", column " + std::to_string(at.column) + ": " +
                               Printable(reason));
    }
}

}  // namespace klvr::cli
