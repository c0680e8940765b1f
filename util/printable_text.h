#pragma once
// Text from outside (server replies, remote names, listing lines, certificate fields, error descriptions)
// on its way into a log line, a trace line or a printed output value. Control characters, bytes that are
// not UTF-8, and the Unicode characters that break or reorder a line are shown as C-style escapes, so no
// such text can start a stamped line of its own, move a terminal's cursor or retitle its window.
#include <string>
#include <string_view>

namespace klvr {

// "\n", "\r", "\t" for those three, "\xHH" for every other C0 control, DEL and every byte that is not
// part of valid UTF-8, "\uHHHH" for C1 controls, line and paragraph separators and bidirectional
// controls. Everything else (printable ASCII, valid UTF-8 text, the backslash) stays as it is.
std::string Printable(std::string_view text);

// The same characters shown in JSON text that a serializer has already escaped as far as JSON asks
// (quotes, backslashes, C0 controls): DEL, the C1 controls and the line-breaking and reordering
// characters become \uHHHH escapes, and a byte that is not UTF-8 becomes \ufffd, so the text still
// parses to the same values while printing as plain ASCII where it matters.
std::string PrintableJson(std::string_view json);

}  // namespace klvr
