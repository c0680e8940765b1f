#pragma once
// Runs a program to its end (or kills it after a time limit) and collects what it printed.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace klvr::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it was killed or did not start
    std::string out;
    std::string err;
    bool timedOut = false;
};

// `extraEnv` entries are "NAME=value" added to this process's environment, each replacing a variable of
// its name. `whileRunning` is called once with the child's pid shortly after it started (for tests that
// send it a signal).
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         std::chrono::seconds limit = std::chrono::seconds(60),
                         const std::vector<std::string>& extraEnv = {},
                         const std::function<void(int pid)>& whileRunning = nullptr);

}  // namespace klvr::test
