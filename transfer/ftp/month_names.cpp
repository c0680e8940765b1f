#include "transfer/ftp/month_names.h"

#include <string>

namespace klvr {
namespace {

constexpr std::size_t kLongestName = 5;  // "avril"

// The base letter of a Latin-1 letter (U+00C0 to U+00FF), lower case; '_' where there is none.
char FoldLatin1(unsigned char code) {
    static constexpr std::string_view kBase =
        "aaaaaaaceeeeiiiidnooooo_ouuuuy__aaaaaaaceeeeiiiidnooooo_ouuuuy_y";
    return kBase[code - 0xc0];
}

// Lower case ASCII with accents removed; empty when the token holds anything else.
std::string Folded(std::string_view token) {
    std::string folded;
    for (std::size_t i = 0; i < token.size() && folded.size() <= kLongestName; ++i) {
        auto c = static_cast<unsigned char>(token[i]);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            folded += static_cast<char>(c | 0x20);
        } else if (c == 0xc3 && i + 1 < token.size() &&
                   (static_cast<unsigned char>(token[i + 1]) & 0xc0) == 0x80) {
            // UTF-8 for U+00C0 to U+00FF
            folded += FoldLatin1(
                static_cast<unsigned char>(0xc0 + (static_cast<unsigned char>(token[++i]) & 0x3f)));
        } else if (c >= 0xc0) {
            folded += FoldLatin1(c);
        } else {
            return {};
        }
    }
    return folded;
}

}  // namespace

bool IsMonthName(std::string_view token) {
    static constexpr std::string_view kNames[] = {
        // English
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "sept", "oct", "nov", "dec",
        // German ("Mär", "Jän"), also the older "Mrz"
        "mrz", "mai", "okt", "dez",
        // French ("févr.", "août", "déc.")
        "janv", "fevr", "fev", "mars", "avr", "avril", "juin", "juil", "aout",
        // Spanish
        "ene", "abr", "ago", "dic", "set",
        // Italian
        "gen", "mag", "giu", "lug", "ott",
        // Dutch
        "mrt", "mei",
        // Portuguese
        "out",
        // Scandinavian
        "maj", "des"};
    while (!token.empty() && token.back() == '.') token.remove_suffix(1);
    if (token.empty()) return false;
    const std::string folded = Folded(token);
    if (folded.empty() || folded.size() > kLongestName) return false;
    for (auto name : kNames)
        if (folded == name) return true;
    return false;
}

}  // namespace klvr
