// FileType ZIP: an archive fetched into an existing folder is unpacked there and not kept; no entry
// may land outside the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <map>
#include <memory>

#include "support/ftp_servers.h"
#include "support/temp_dir.h"
#include "transfer/delete_decision.h"
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

// Files (a content "-> target" a symbolic link, a name ending in "/" a folder) written into dir.
void Plant(const TempDir& dir, const std::map<std::string, std::string>& files) {
    for (const auto& [name, content] : files) {
        if (name.back() == '/') {
            dir.MakeFolder(name);
        } else if (content.rfind("-> ", 0) == 0) {
            std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
            std::filesystem::create_symlink(content.substr(3), dir / name);
        } else {
            dir.Write(name, content);
        }
    }
}

// Every file and symbolic link below folder with its content, a link as "-> target".
std::map<std::string, std::string> Files(const std::string& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    for (const auto& name : Tree(folder)) {
        const fs::path path = fs::path(folder) / name;
        if (fs::is_symlink(path))
            files[name] = "-> " + fs::read_symlink(path).string();
        else if (fs::is_regular_file(path))
            files[name] = ReadFile(path.string());
    }
    return files;
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

// An entry passed over exists nowhere once the remote archive goes: the archive then counts as not
// fetched, and DeleteAfterDownload keeps it. A kept local file holding the entry's very bytes loses
// nothing and needs no word.
TEST_F(ZipTest, AnArchiveCountsAsFetchedOnlyWhenEveryEntryIsStoredOrProvenTheSame) {
    struct Case {
        const char* name;
        std::vector<ZipEntry> entries;
        std::map<std::string, std::string> before;  // a content "-> target" plants a symbolic link
        bool overwrite;
        std::map<std::string, std::string> after;
        std::vector<std::string> warnings;  // {out} is the folder
        std::string keptBecause;            // empty: the remote archive may be deleted
    };
    const std::vector<ZipEntry> two = {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}};
    const Case cases[] = {
        {"every entry new", two, {}, false, {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}}, {}, ""},
        {"a kept file with the entry's bytes",
         two,
         {{"one.txt", "one\n"}},
         false,
         {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}},
         {},
         ""},
        {"a kept file of the entry's size that differs",
         two,
         {{"one.txt", "ONE\n"}},
         false,
         {{"one.txt", "ONE\n"}, {"sub/two.txt", "two\n"}},
         {"Local file kept [{out}/one.txt]: it differs from the archive's entry"},
         "1 of its 2 entries was not unpacked"},
        {"a kept file shorter than the entry",
         two,
         {{"sub/two.txt", "tw"}},
         false,
         {{"one.txt", "one\n"}, {"sub/two.txt", "tw"}},
         {"Local file kept [{out}/sub/two.txt]: it differs from the archive's entry"},
         "1 of its 2 entries was not unpacked"},
        {"a kept file longer than the entry",
         two,
         {{"one.txt", "one\nmore"}},
         false,
         {{"one.txt", "one\nmore"}, {"sub/two.txt", "two\n"}},
         {"Local file kept [{out}/one.txt]: it differs from the archive's entry"},
         "1 of its 2 entries was not unpacked"},
        {"a folder where an entry's file belongs",
         two,
         {{"one.txt/", ""}},
         false,
         {{"sub/two.txt", "two\n"}},
         {"Local file kept [{out}/one.txt]: it is not a file, the archive's entry is"},
         "1 of its 2 entries was not unpacked"},
        {"a planted link to a file",
         two,
         {{"one.txt", "-> elsewhere.txt"}},
         true,
         {{"one.txt", "-> elsewhere.txt"}, {"sub/two.txt", "two\n"}},
         {"Local link passed over [{out}/one.txt]"},
         "1 of its 2 entries was not unpacked"},
        {"a planted link to a folder",
         two,
         {{"sub", "-> elsewhere"}},
         false,
         {{"one.txt", "one\n"}, {"sub", "-> elsewhere"}},
         {"Local link passed over [{out}/sub]"},
         "1 of its 2 entries was not unpacked"},
        {"a name kept for unfinished downloads",
         {{"one.txt", "one\n"}, {".one.txt.klvr-part", "not ours"}},
         {},
         false,
         {{"one.txt", "one\n"}},
         {"Zip entry passed over [.one.txt.klvr-part]: its name is the form kept for unfinished downloads"},
         "1 of its 2 entries was not unpacked"},
        {"overwriting on: a differing file replaced",
         two,
         {{"one.txt", "ONE\n"}, {"sub/two.txt", "a longer two\n"}},
         true,
         {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}},
         {},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeZip(remote / "case.zip", c.entries);
        TempDir out;
        Plant(out, c.before);
        std::vector<std::string> reported;
        client.OnErrorReported = [&](int code, const std::string& text) {
            EXPECT_EQ(code, kReportWarning);
            reported.push_back(text);
        };
        client.OverwriteExisting = c.overwrite;
        const FetchResult result = client.Get("case.zip", out.Path());

        EXPECT_EQ(Files(out.Path()), c.after);
        std::vector<std::string> warnings;
        for (std::string w : c.warnings) {
            if (const auto at = w.find("{out}"); at != std::string::npos) w.replace(at, 5, out.Path());
            warnings.push_back(w);
        }
        EXPECT_EQ(reported, warnings);
        const DeleteVerdict verdict = DecideDelete(result.proof, {});
        if (c.keptBecause.empty()) {
            EXPECT_EQ(verdict.action, DeleteVerdict::kDelete);
        } else {
            EXPECT_EQ(verdict.action, DeleteVerdict::kKeep);
            EXPECT_EQ(verdict.reason, c.keptBecause);
        }
        EXPECT_EQ(client.State(), 2);
    }
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
