#pragma once
// The netrc file of FTP clients (netrc(5)): "machine NAME login USER password SECRET" entries, a
// "default" entry for any other machine, "account" read and ignored, and "macdef" macros passed over.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace klvr::cli {

struct NetrcEntry {
    std::string machine;  // empty for the default entry
    bool isDefault = false;
    std::optional<std::string> login;
    std::optional<std::string> password;
};

// A netrc text that cannot be read; the text says where.
class NetrcError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The entries in the file's order. Tokens are separated by blanks and line ends; a token may be put in
// double quotes (with backslash escapes) to hold blanks; a line whose first token begins with "#" is a
// comment; a macdef runs to the next empty line.
std::vector<NetrcEntry> ParseNetrc(std::string_view text);

// The entry for host (names compared without regard to case): the first machine entry for it whose
// login is user, or any login when user is empty; else the default entry, with the same rule.
std::optional<NetrcEntry> FindNetrcEntry(const std::vector<NetrcEntry>& entries, const std::string& host,
                                         const std::string& user);

}  // namespace klvr::cli
