#pragma once
// Month names as LIST output prints them: servers that hand the job to the system's ls print them in
// the system's language, abbreviated, often with a trailing dot, accented in UTF-8 or Latin-1.
#include <string_view>

namespace klvr {

// True for a month name of English, German, French, Spanish, Italian, Dutch, Portuguese or the
// Scandinavian languages, in any case, with or without a trailing dot and with or without its accents.
bool IsMonthName(std::string_view token);

}  // namespace klvr
