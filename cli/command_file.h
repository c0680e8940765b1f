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

// Reads a command file: a JSON object whose members are named after the settings fields. A member left
// out, or left empty where the dialog never stores an empty value (flags, numbers, lists, the filter,
// the variable scope, the port range), reads as what the dialog saves for a new command.
CommandFile ReadCommandFile(const std::string& path);

// Writes the 35 saved elements back into the file (the saved array is also what was configured),
// keeping the order of the members the file already has.
void WriteCommandFile(const std::string& path, const abi::StringArray& saved);

// The host hands the password element on without the marker the dialog appended to it.
void StripPasswordMarker(abi::StringArray& data);

// Reads the settings as the run will, so that one that can never convert is reported once, by its
// member name, instead of failing every attempt. Throws CommandFileError.
void CheckRunSettings(const abi::StringArray& data);

}  // namespace klvr::cli
