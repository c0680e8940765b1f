#pragma once
// A program started by a test, in a process group of its own, stopped (group and all) when the
// object goes away.
#include <string>
#include <vector>

namespace klvr::test {

class ChildProcess {
  public:
    // stdout and stderr go to logFile.
    ChildProcess(const std::vector<std::string>& argv, const std::string& logFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    void Stop();
    int Pid() const { return pid_; }
    std::string Log() const;

  private:
    int pid_ = -1;
    std::string logFile_;
};

}  // namespace klvr::test
