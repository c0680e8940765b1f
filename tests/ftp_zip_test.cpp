// FileType ZIP: an archive fetched into an existing folder is unpacked there and not kept; no entry
// may land outside the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <memory>

#include "support/ftp_servers.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"

namespace klvr {
namespace {

using test::ReadFile;
using test::TempDir;

struct ZipEntry {
    std::string name;
    std::string content;
    bool symlink = false;
};

void MakeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const auto& e : entries) {
        zip_source_t* source = zip_source_buffer(archive, e.content.data(), e.content.size(), 0);
        zip_int64_t index = e.name.back() == '/'
                                ? zip_dir_add(archive, e.name.c_str(), ZIP_FL_ENC_RAW)
                                : zip_file_add(archive, e.name.c_str(), source, ZIP_FL_ENC_RAW);
        ASSERT_GE(index, 0) << e.name;
        if (e.name.back() == '/') zip_source_free(source);
        if (e.symlink) {
            zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                             (S_IFLNK | 0777u) << 16);
        }
    }
    ASSERT_EQ(zip_close(archive), 0);
}

std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        names.push_back(e.path().lexically_relative(folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ZipTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MakeZip(remote / "good.zip",
                {{"top.txt", "top"}, {"dir/", ""}, {"dir/inner.txt", "inner"}, {"a/b/c.txt", "c"}});
        MakeZip(remote / "dotdot.zip", {{"fine.txt", "f"}, {"../escape.txt", "x"}});
        MakeZip(remote / "hidden-dotdot.zip", {{"fine.txt", "f"}, {"dir/../../escape.txt", "x"}});
        MakeZip(remote / "absolute.zip", {{"/tmp/klvr-absolute.txt", "x"}});
        MakeZip(remote / "link.zip", {{"fine.txt", "f"}, {"link", "/etc/passwd", true}});
        MakeZip(remote / "through-link.zip", {{"out/escape.txt", "x"}});
        test::PyFtpdOptions options;
        options.root = remote.Path();
        server = std::make_unique<test::PyFtpdServer>(options);
        client.FileType = kFileZip;
        client.Login("127.0.0.1", "user", "secret", "", server->Port());
    }
    std::string Failure(const std::string& archive, const std::string& folder) {
        try {
            client.Get(archive, folder);
        } catch (const FtpError& e) {
            return e.what();
        }
        return "";
    }

    TempDir remote;
    TempDir local;
    std::unique_ptr<test::PyFtpdServer> server;
    FtpClient client;
};

TEST_F(ZipTest, UnpacksIntoAnExistingFolderAndKeepsNoArchive) {
    std::string folder = local.MakeFolder("out");
    client.Get("good.zip", folder);
    EXPECT_EQ(Tree(folder),
              (std::vector<std::string>{"a", "a/b", "a/b/c.txt", "dir", "dir/inner.txt", "top.txt"}));
    EXPECT_EQ(ReadFile(folder + "/dir/inner.txt"), "inner");

    // a destination that is no folder gets the archive itself
    client.Get("good.zip", local / "copy.zip");
    EXPECT_EQ(ReadFile(local / "copy.zip"), ReadFile(remote / "good.zip"));
}

TEST_F(ZipTest, EntriesThatWouldLeaveTheFolderRefuseTheWholeArchive) {
    std::string outside = local.MakeFolder("outside");
    std::string folder = local.MakeFolder("out");
    ASSERT_EQ(::symlink(outside.c_str(), (folder + "/out").c_str()), 0);
    const std::pair<const char*, const char*> cases[] = {
        {"dotdot.zip", "Unsafe zip entry refused [../escape.txt]"},
        {"hidden-dotdot.zip", "Unsafe zip entry refused [dir/../../escape.txt]"},
        {"absolute.zip", "Unsafe zip entry refused [/tmp/klvr-absolute.txt]"},
        {"link.zip", "Zip entry is a symbolic link, refused [link]"},
    };
    for (const auto& [archive, message] : cases) {
        EXPECT_EQ(Failure(archive, folder), message);
        EXPECT_EQ(Tree(folder), std::vector<std::string>{"out"}) << archive;  // nothing written, archive gone
    }
    // a symbolic link already in the folder is never written through: reported and passed over
    std::vector<std::string> reported;
    client.OnErrorReported = [&](int, const std::string& text) { reported.push_back(text); };
    EXPECT_EQ(Failure("through-link.zip", folder), "");
    EXPECT_EQ(reported, std::vector<std::string>{"Local link passed over [" + folder + "/out]"});
    EXPECT_EQ(Tree(outside), std::vector<std::string>{});
    EXPECT_FALSE(test::Exists("/tmp/klvr-absolute.txt"));
    EXPECT_EQ(client.State(), 2);
}

TEST_F(ZipTest, ExistingFilesStayUnlessOverwritingIsOn) {
    MakeZip(remote / "again.zip", {{"top.txt", "new top"}, {"same.txt", "same"}, {"fresh.txt", "fresh"}});
    const std::string folder = local.MakeFolder("keep");
    local.Write("keep/top.txt", "the old top");
    local.Write("keep/same.txt", "SAME");
    std::vector<std::string> reported;
    client.OnErrorReported = [&](int code, const std::string& text) {
        EXPECT_EQ(code, kReportWarning);
        reported.push_back(text);
    };
    client.OverwriteExisting = false;
    client.Get("again.zip", folder);
    EXPECT_EQ(ReadFile(folder + "/top.txt"), "the old top");
    EXPECT_EQ(ReadFile(folder + "/same.txt"), "SAME");  // the same size: left alone quietly
    EXPECT_EQ(ReadFile(folder + "/fresh.txt"), "fresh");
    EXPECT_EQ(reported, std::vector<std::string>{"Local file kept [" + folder +
                                                 "/top.txt]: the archive's entry differs in size"});
    client.OverwriteExisting = true;
    client.Get("again.zip", folder);
    EXPECT_EQ(ReadFile(folder + "/top.txt"), "new top");
    EXPECT_EQ(ReadFile(folder + "/same.txt"), "same");
}

// An archive whose entries claim gigabytes: refused before anything is written.
TEST_F(ZipTest, AnArchiveUnpackingToFarMoreThanItsSizeIsRefused) {
    MakeZip(remote / "bomb.zip", {{"a.txt", "aaaa"}, {"b.txt", "bbbb"}});
    std::string bytes = ReadFile(remote / "bomb.zip");
    auto patch = [&](const std::string& signature, std::size_t sizeOffset) {
        for (auto at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4)) {
            const char claimed[4] = {0, 0, 0, '\x70'};  // 1.75 GiB, in the classic 32-bit field
            bytes.replace(at + sizeOffset, 4, claimed, 4);
        }
    };
    patch(std::string("PK\x01\x02", 4), 24);  // central directory
    patch(std::string("PK\x03\x04", 4), 22);  // local headers
    remote.Write("bomb.zip", bytes);
    const std::string folder = local.MakeFolder("out");
    const std::string failure = Failure("bomb.zip", folder);
    EXPECT_EQ(failure.rfind("The zip archive is refused: it unpacks to 3758096384 bytes, ", 0), 0u)
        << failure;
    EXPECT_EQ(Tree(folder), std::vector<std::string>{});
    EXPECT_EQ(client.State(), 2);
}

}  // namespace
}  // namespace klvr
