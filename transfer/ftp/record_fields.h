#pragma once
// The "key=value" fields of the small records we write beside downloads (a partial file's trailer, a
// stored file's attribute): values are single words, fields separated by blanks.
#include <cstdint>
#include <optional>
#include <string_view>

namespace klvr {

// The word after " key=" in text; nothing when the key is missing.
std::optional<std::string_view> RecordWord(std::string_view text, std::string_view key);
// That word as a whole decimal number; nothing when it is missing or not one.
std::optional<std::int64_t> RecordNumber(std::string_view text, std::string_view key);

}  // namespace klvr
