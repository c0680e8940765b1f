// Starting the certificate manager from the configuration window.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>

#include "dialog/qt/program_start.h"

namespace klvr::qt {
namespace {

TEST(ProgramStart, ADetachedProgramLeavesNoChildBehindAndAMissingOneIsRefused) {
    EXPECT_FALSE(StartDetachedProgram("/nonexistent/CertManager"));
    EXPECT_FALSE(StartDetachedProgram(""));
    EXPECT_TRUE(StartDetachedProgram("/bin/true"));
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace klvr::qt
