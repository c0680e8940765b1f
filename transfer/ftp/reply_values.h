#pragma once
// Values carried inside reply texts: passive addresses, the working folder, a transfer's size.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace klvr {

struct PassiveAnswer {
    std::array<std::uint8_t, 4> address{};
    std::uint16_t port = 0;
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the six numbers wherever they stand.
std::optional<PassiveAnswer> ParsePasvReply(std::string_view text);
// "229 Entering Extended Passive Mode (|||port|)", any delimiter.
std::optional<std::uint16_t> ParseEpsvReply(std::string_view text);
// "257 "/a ""quoted"" folder" is created": the folder in the server's spelling.
std::optional<std::string> ParsePwdReply(std::string_view text);
// "213 12345"
std::optional<std::int64_t> ParseSizeReply(std::string_view text);
// "20240105134500", optionally with a fraction of a second, always UTC (MDTM's answer, MLSD's modify
// fact): whole seconds since 1970.
std::optional<std::int64_t> ParseFtpTime(std::string_view stamp);
// "213 20240105134500": the time as ParseFtpTime reads it.
std::optional<std::int64_t> ParseMdtmReply(std::string_view text);
// "150 Opening BINARY mode data connection for f (12345 bytes)."
std::optional<std::int64_t> ParseTransferSize(std::string_view text);

}  // namespace klvr
