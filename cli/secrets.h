#pragma once
// Passwords that stay out of the command file: read from a file, from the environment, or from the
// user's netrc file when the command file leaves the password empty.
#include <string>

#include "klvr/toolbox.h"

namespace klvr::cli {

struct SecretOptions {
    std::string passwordFile, passwordEnv;
    std::string proxyPasswordFile, proxyPasswordEnv;
    std::string netrcFile;  // empty: ~/.netrc, when there is one
};

// Puts the passwords the options name into the settings (data, one-based). The logon password comes
// from --password-file or --password-env; else, when the command file leaves it empty, from the netrc
// entry of RemoteHost (and UserName, when set), which also gives an empty UserName. Throws
// CommandFileError for a secret that cannot be read, or a netrc file that others may read.
void ApplySecrets(const SecretOptions& options, abi::StringArray& data);

// The first line of a password file, without its line end.
std::string ReadPasswordFile(const std::string& path);

}  // namespace klvr::cli
