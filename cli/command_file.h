#pragma once
#include <stdexcept>
#include <string>

#include "klvr/toolbox.h"

namespace klvr::cli {

// A command file that cannot be used; its text is the one-line reason shown to the user.
class CommandFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct CommandFile {
    abi::StringArray data;     // elements 1 to 35
    abi::StringArray orgData;  // the same before the host's substitution
};

// Reads a command file: a JSON object whose members are named after the settings fields.
CommandFile ReadCommandFile(const std::string& path);

// Writes the 35 saved elements back into the file (the saved array is also what was configured).
void WriteCommandFile(const std::string& path, const abi::StringArray& saved);

// The host hands the password element on without the marker the dialog appended to it.
void StripPasswordMarker(abi::StringArray& data);

}  // namespace klvr::cli
