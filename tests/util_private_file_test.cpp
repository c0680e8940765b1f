// Files that only their user may read: the trace file takes back its privacy and refuses whatever is
// planted in its place without waiting on it; a replaced file keeps its mode and is never half written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "util/private_file.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string ErrorOf(const std::string& path) {
    try {
        AppendToPrivateFile(path, "secret line\r\n");
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(PrivateFile, IsCreatedPrivateAndAnOpenOneIsMadePrivate) {
    test::TempDir dir;
    const std::string fresh = dir / "fresh.log";
    AppendToPrivateFile(fresh, "one\r\n");
    AppendToPrivateFile(fresh, "two\r\n");
    EXPECT_EQ(test::ReadFile(fresh), "one\r\ntwo\r\n");
    EXPECT_EQ(ModeOf(fresh), 0600u);

    const std::string open = dir.Write("open.log", "earlier\r\n");
    ASSERT_EQ(::chmod(open.c_str(), 0644), 0);
    AppendToPrivateFile(open, "later\r\n");
    EXPECT_EQ(test::ReadFile(open), "earlier\r\nlater\r\n");
    EXPECT_EQ(ModeOf(open), 0600u);
}

TEST(PrivateFile, RefusesWhatIsNotARegularFileAtOnce) {
    test::TempDir dir;
    const std::string target = dir.Write("target", "");
    const std::string link = dir / "link.log";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const std::string fifo = dir / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.MakeFolder("folder.log");

    EXPECT_NE(ErrorOf(link).find("symbolic link"), std::string::npos) << ErrorOf(link);
    EXPECT_EQ(test::ReadFile(target), "");
    // a FIFO nobody reads would block the opening for good; one that is read would take the lines
    EXPECT_NE(ErrorOf(fifo).find("not a regular file"), std::string::npos) << ErrorOf(fifo);
    const UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_GE(reader.get(), 0);
    EXPECT_NE(ErrorOf(fifo).find("not a regular file"), std::string::npos) << ErrorOf(fifo);
    char byte = 0;
    EXPECT_LE(::read(reader.get(), &byte, 1), 0);
    EXPECT_NE(ErrorOf(folder), "");
}

TEST(PrivateFile, ReplacedContentKeepsModeAndLinkAndLeavesNoTemporaryFile) {
    test::TempDir dir;
    for (const mode_t mode : {0600, 0640, 0644}) {
        const std::string file = dir.Write("command.json", "old");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ReplaceFileContent(file, "new");
        EXPECT_EQ(test::ReadFile(file), "new");
        EXPECT_EQ(ModeOf(file), mode);
    }
    const std::string link = dir / "link.json";
    ASSERT_EQ(::symlink((dir / "command.json").c_str(), link.c_str()), 0);
    ReplaceFileContent(link, "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadFile(dir / "command.json"), "through the link");

    EXPECT_THROW(ReplaceFileContent(dir / "missing.json", "x"), std::runtime_error);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 2);  // the file and the link, nothing left over
}

}  // namespace
}  // namespace klvr
