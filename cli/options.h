#pragma once
// The command line of one sub-command, read by getopt_long: long options as "--name value" or
// "--name=value" (and any unambiguous beginning of the name), short ones as "-q", operands anywhere,
// "--" ending the options. "--help" and "-h" are known to every sub-command.
#include <stdexcept>
#include <string>
#include <vector>

namespace klvr::cli {

// Arguments that cannot be used; the text is the one-line reason.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A command line that does not fit the command's options: shown with the command's usage lines.
class OptionError : public UsageError {
  public:
    using UsageError::UsageError;
};

struct OptionSpec {
    const char* name;  // without "--"
    char shortName;    // 0: none
    bool takesValue;
};

struct ParsedOptions {
    std::vector<std::pair<std::string, std::string>> given;  // long name and value, in the given order
    std::vector<std::string> operands;
    bool help = false;

    bool Has(const std::string& name) const;
    // The value given last for name, or fallback.
    std::string Value(const std::string& name, const std::string& fallback = {}) const;
};

// args without the program and sub-command names. Throws OptionError for an unknown option, a value
// missing or given to an option that takes none, and more operands than maxOperands. With
// stopAtOperand the options end at the first operand, which begins the operands (a sub-command and its
// own arguments).
ParsedOptions ParseOptions(const std::string& command, const std::vector<std::string>& args,
                           const std::vector<OptionSpec>& specs, std::size_t maxOperands,
                           bool stopAtOperand = false);

// The usage lines that begin a command's help text: everything before its first empty line.
std::string UsageLines(const std::string& help);

// Reports a command line that does not fit on standard error: "vaultfetch: " and the reason, then the
// usage lines of help.
void PrintOptionError(const std::string& reason, const std::string& help);

}  // namespace klvr::cli
