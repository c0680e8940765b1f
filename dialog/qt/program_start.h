#pragma once
#include <string>

namespace klvr::qt {

// Starts a program as a detached process (its own session, reaped at once); false when it cannot run.
bool StartDetachedProgram(const std::string& path);

}  // namespace klvr::qt
