#pragma once
// How the download run and its helpers write to the host's log.
#include <string>

namespace klvr {

// An information line of the run: it reaches the log only while the host has automatic logging on.
void Inform(const std::string& line);

// Error descriptions go into the log without their CR LF pairs, so each stays one line.
std::string WithoutCrLf(std::string text);

// An error description as it joins a log line: without its CR LF pairs, and with whatever control
// characters remain made visible, since it may quote a server's reply or a remote name.
std::string LoggedDescription(const std::string& text);

}  // namespace klvr
