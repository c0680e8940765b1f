// The folder handles every local write goes through: the folder the user chose may be a link, nothing
// below it is ever reached through one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "transfer/ftp/local_folder.h"

namespace klvr {
namespace {

using test::TempDir;

TEST(LocalFolder, FollowsTheChosenFolderAndNoLinkBelowIt) {
    TempDir dir;
    const std::string real = dir.MakeFolder("real");
    const std::string outside = dir.MakeFolder("outside");
    const std::string root = dir / "chosen";
    ASSERT_EQ(::symlink(real.c_str(), root.c_str()), 0);  // the user's LocalDir is a link
    ASSERT_EQ(::symlink(outside.c_str(), (real + "/planted").c_str()), 0);
    dir.Write("real/a/file", "x");

    // folders below the root are made inside it
    const LocalFolder made = OpenLocalFolder(root + "/", root + "//new/deeper", true);
    EXPECT_TRUE(std::filesystem::is_directory(real + "/new/deeper"));
    EXPECT_EQ(made.PathOf("f"), root + "/new/deeper/f");

    struct Case {
        std::string path;
        bool create;
        std::string failure;  // "" when the folder opens
    };
    const Case cases[] = {
        {root + "/planted", false, "[" + root + "/planted] is a symbolic link; it is not followed"},
        {root + "/planted/sub", true, "[" + root + "/planted] is a symbolic link; it is not followed"},
        {root + "/a/file", false, "Cannot open the local folder [" + root + "/a/file]: Not a directory"},
        {root + "/a/../..", false,
         "Unsafe local path refused [" + root + "/a/../..]: it leads out of [" + root + "]"},
        {root + "/missing", false,
         "Cannot open the local folder [" + root + "/missing]: No such file or directory"},
        {outside, false, ""},  // not below the root: taken as given
    };
    for (const Case& c : cases) {
        std::string failure;
        try {
            OpenLocalFolder(root, c.path, c.create);
        } catch (const LocalLinkMet& e) {
            failure = e.what();
            EXPECT_EQ(e.Path(), root + "/planted");
        } catch (const FtpError& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, c.failure) << c.path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(outside));

    const LocalPlace place = LocalPlaceOf(root, root + "/a/file");
    EXPECT_EQ(place.name, "file");
    EXPECT_EQ(place.folder.Inspect("file").kind, LocalEntry::kFile);
    EXPECT_EQ(LocalFolder::Open(root).Inspect("planted").kind, LocalEntry::kLink);
    EXPECT_EQ(LocalEntryAt(root + "/nowhere", "x").kind, LocalEntry::kNone);
}

// The names in folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Where the file system renames only with replacing, a file takes its final name by a second link and
// never replaces what appeared under it meanwhile.
TEST(LocalFolder, TheRenameFallbackByLinkNeverReplaces) {
    TempDir dir;
    dir.Write("new", "the entry");
    dir.Write("taken", "appeared meanwhile");
    const LocalFolder folder = LocalFolder::Open(dir.Path());
    EXPECT_FALSE(folder.LinkNoReplace("new", "taken"));
    EXPECT_EQ(test::ReadFile(dir / "taken"), "appeared meanwhile");
    EXPECT_EQ(test::ReadFile(dir / "new"), "the entry");

    ASSERT_EQ(::symlink("nowhere", (dir / "link").c_str()), 0);
    EXPECT_FALSE(folder.LinkNoReplace("new", "link"));  // a dangling link is taken too
    EXPECT_TRUE(folder.LinkNoReplace("new", "free"));
    EXPECT_EQ(test::ReadFile(dir / "free"), "the entry");
    EXPECT_FALSE(test::Exists(dir / "new"));
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"free", "link", "taken"}));
}

}  // namespace
}  // namespace klvr
