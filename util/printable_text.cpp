#include "util/printable_text.h"

#include <cstdint>
#include <cstdio>

namespace klvr {
namespace {

void AppendByteEscape(std::string& out, unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    out += escape;
}

void AppendCodePointEscape(std::string& out, std::uint32_t code) {
    char escape[12];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
    out += escape;
}

// Characters that a terminal or a log viewer may take as a line break or use to reorder what is shown.
bool IsHiddenControl(std::uint32_t code) {
    return (code >= 0x80 && code <= 0x9f) || code == 0x2028 || code == 0x2029 ||
           (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069) || code == 0x200e ||
           code == 0x200f || code == 0x061c;
}

// Length of the valid UTF-8 sequence at the start of text, with its code point; 0 when it is not one.
std::size_t DecodeUtf8(std::string_view text, std::uint32_t& code) {
    const auto b0 = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    std::uint32_t min = 0;
    if (b0 >= 0xc2 && b0 <= 0xdf) {
        length = 2, code = b0 & 0x1f, min = 0x80;
    } else if (b0 >= 0xe0 && b0 <= 0xef) {
        length = 3, code = b0 & 0x0f, min = 0x800;
    } else if (b0 >= 0xf0 && b0 <= 0xf4) {
        length = 4, code = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xc0) != 0x80) return 0;
        code = (code << 6) | (b & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return length;
}

}  // namespace

std::string PrintableJson(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    while (!json.empty()) {
        const auto byte = static_cast<unsigned char>(json[0]);
        if (byte < 0x80) {
            if (byte == 0x7f)
                AppendCodePointEscape(out, byte);
            else
                out += static_cast<char>(byte);
            json.remove_prefix(1);
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = DecodeUtf8(json, code);
        if (length == 0) {
            AppendCodePointEscape(out, 0xfffd);
            json.remove_prefix(1);
            continue;
        }
        if (IsHiddenControl(code))
            AppendCodePointEscape(out, code);
        else
            out.append(json.substr(0, length));
        json.remove_prefix(length);
    }
    return out;
}

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        if (byte >= 0x20 && byte < 0x7f) {
            out += static_cast<char>(byte);
            text.remove_prefix(1);
            continue;
        }
        if (byte < 0x80) {
            if (byte == '\n')
                out += "\\n";
            else if (byte == '\r')
                out += "\\r";
            else if (byte == '\t')
                out += "\\t";
            else
                AppendByteEscape(out, byte);
            text.remove_prefix(1);
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = DecodeUtf8(text, code);
        if (length == 0) {
            AppendByteEscape(out, byte);
            text.remove_prefix(1);
            continue;
        }
        if (IsHiddenControl(code))
            AppendCodePointEscape(out, code);
        else
            out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace klvr
