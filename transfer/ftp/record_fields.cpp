#include "transfer/ftp/record_fields.h"

#include <charconv>
#include <string>

namespace klvr {

std::optional<std::string_view> RecordWord(std::string_view text, std::string_view key) {
    std::string wanted(1, ' ');
    wanted.append(key).append(1, '=');
    const auto at = text.find(wanted);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view rest = text.substr(at + wanted.size());
    return rest.substr(0, rest.find(' '));
}

std::optional<std::int64_t> RecordNumber(std::string_view text, std::string_view key) {
    const auto word = RecordWord(text, key);
    if (!word || word->empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [next, error] = std::from_chars(word->data(), word->data() + word->size(), value);
    if (error != std::errc() || next != word->data() + word->size()) return std::nullopt;
    return value;
}

}  // namespace klvr
