#include "dialog/qt/program_start.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace klvr::qt {

bool StartDetachedProgram(const std::string& path) {
    if (path.empty() || access(path.c_str(), X_OK) != 0) return false;
    // The program outlives the dialog and must not become our zombie: an intermediate child starts it
    // in a session of its own and exits at once; a close-on-exec pipe tells whether exec succeeded.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            execv(path.c_str(), argv);
            const char failed = 1;
            [[maybe_unused]] const auto n = write(report[1], &failed, 1);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    char failed = 0;
    ssize_t n;
    while ((n = read(report[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

}  // namespace klvr::qt
