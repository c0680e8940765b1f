// What we record beside a stored file counts only while the file is as we left it; unfinished downloads
// of files the server no longer lists go once nobody has touched them for a month.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "support/scripted_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/local_folder.h"
#include "transfer/ftp/partial_file.h"
#include "transfer/ftp/stale_partials.h"
#include "transfer/ftp/stored_origin.h"

namespace klvr {
namespace {

std::int64_t Now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool KeepsAttributes(const std::string& path) {
    return ::setxattr(path.c_str(), "user.klvr-probe", "1", 1, 0) == 0;
}

TEST(StoredOrigin, ReadBackOnlyWhileTheFileIsAsWeLeftIt) {
    test::TempDir local;
    local.Write("probe", "");
    if (!KeepsAttributes(local / "probe")) GTEST_SKIP() << "no extended attributes here";
    const LocalFolder folder = LocalFolder::Open(local.Path());
    const StoredOrigin stored{"0123456789abcdef", {10, 1700000000}};
    auto store = [&](const std::string& name) {
        local.Write(name, "0123456789");
        const int fd = folder.OpenFile(name, O_RDWR);
        ASSERT_GE(fd, 0);
        WriteStoredOrigin(fd, stored);
        ::close(fd);
    };
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> change;
        bool proves;
    };
    const Case cases[] = {
        {"as we left it", [](const std::string&) {}, true},
        {"other bytes of the same length",
         [](const std::string& p) {
             const int fd = ::open(p.c_str(), O_WRONLY);
             ASSERT_EQ(::pwrite(fd, "X", 1, 0), 1);
             ::close(fd);
         },
         false},
        {"appended to", [](const std::string& p) { std::filesystem::resize_file(p, 11); }, false},
        {"its time set back by hand",
         [](const std::string& p) {
             struct stat st {};
             ASSERT_EQ(::stat(p.c_str(), &st), 0);
             const timespec times[2] = {st.st_atim, st.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);  // same times, a later change
         },
         true},
        {"a record that names another format",
         [](const std::string& p) {
             ASSERT_EQ(::setxattr(p.c_str(), kStoredOriginAttribute, "2 origin=x", 10, 0), 0);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store("f.bin");
        c.change(local / "f.bin");
        const auto read = ReadStoredOrigin(folder, "f.bin");
        EXPECT_EQ(read.has_value(), c.proves);
        if (read) {
            EXPECT_EQ(read->origin, stored.origin);
            EXPECT_EQ(read->version, stored.version);
        }
    }
    // A change long after the record (here: a record written as if two seconds ago) is someone else's.
    store("g.bin");
    char value[512];
    const ssize_t n = ::getxattr((local / "g.bin").c_str(), kStoredOriginAttribute, value, sizeof value);
    ASSERT_GT(n, 0);
    std::string text(value, static_cast<std::size_t>(n));
    const auto at = text.find(" at=");
    const std::int64_t written = std::stoll(text.substr(at + 4));
    text = text.substr(0, at) + " at=" + std::to_string(written - 2'000'000'000);
    ASSERT_EQ(::setxattr((local / "g.bin").c_str(), kStoredOriginAttribute, text.data(), text.size(), 0), 0);
    EXPECT_FALSE(ReadStoredOrigin(folder, "g.bin"));
    // no record at all
    local.Write("h.bin", "0123456789");
    EXPECT_FALSE(ReadStoredOrigin(folder, "h.bin"));
}

// A download leaves its record on the stored file, and the record proves the copy to a later run while
// the server names the same size and time.
TEST(StoredOrigin, ADownloadRecordsItselfAndALaterRunTrustsTheRecord) {
    test::TempDir local;
    local.Write("probe", "");
    if (!KeepsAttributes(local / "probe")) GTEST_SKIP() << "no extended attributes here";
    test::ScriptedFtpServer server(
        "> 220 ready\n< USER u\n> 331 pw\n< PASS p\n> 230 in\n< TYPE I\n> 200 ok\n< SIZE f.bin\n> 213 10\n"
        "< MDTM f.bin\n> 213 20260101000000\n< EPSV\n> 229 ok ({epsv})\n< RETR f.bin\n> 150 go\n"
        "data 0123456789\ndata-close\n> 226 done\n"
        // the next run, the copy kept: the same version proves it
        "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20260101000000\n"
        // and once more, the remote file changed since
        "< SIZE f.bin\n> 213 10\n< MDTM f.bin\n> 213 20260102000000\n");
    FtpClient client;
    client.Timeout = 5000;
    client.FileType = kFileImage;
    client.CheckBeforeDelete = true;  // the exact time is learnt before the transfer
    std::vector<std::string> warnings;
    client.OnErrorReported = [&](int, const std::string& text) { warnings.push_back(text); };
    client.Login("127.0.0.1", "u", "p", "", server.Port());
    EXPECT_TRUE(client.Get("f.bin", local / "f.bin").proof.proven);
    const auto stored = ReadStoredOrigin(LocalFolder::Open(local.Path()), "f.bin");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->origin, OriginDigest("127.0.0.1", server.Port(), "u", "f.bin"));
    EXPECT_EQ(stored->version, (RemoteVersion{10, 1767225600}));

    client.OverwriteExisting = false;
    FetchResult again = client.Get("f.bin", local / "f.bin");
    EXPECT_EQ(again.outcome, FetchOutcome::kLeftAlone);
    EXPECT_TRUE(again.proof.proven);
    again = client.Get("f.bin", local / "f.bin");
    EXPECT_EQ(again.outcome, FetchOutcome::kKept);
    EXPECT_EQ(test::ReadFile(local / "f.bin"), "0123456789");
    EXPECT_EQ(warnings, std::vector<std::string>{"Local file kept [" + local.Path() +
                                                 "/f.bin]: the remote file changed since it was fetched"});
    EXPECT_EQ(server.Finish(), "");
}

TEST(StalePartials, OnlyUnlistedAndUntouchedForAMonthGo) {
    test::TempDir local;
    const LocalFolder folder = LocalFolder::Open(local.Path());
    const std::int64_t now = Now();
    auto age = [&](const std::string& name, std::int64_t seconds) {
        local.Write(name, "bytes");
        const timespec times[2] = {{now - seconds, 0}, {now - seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (local / name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    const std::int64_t day = 24 * 60 * 60;
    age(PartialFileName("listed.bin"), 400 * day);  // its file is still offered: it stays
    age(PartialFileName("gone.bin"), 31 * day);     // offered no more, untouched for a month: it goes
    age(PartialFileName("recent.bin"), 2 * day);    // offered no more, but recent: it stays
    age("old.bin", 400 * day);                      // a file under its final name is never touched
    std::filesystem::create_symlink("/nonexistent", local / PartialFileName("link.bin"));
    EXPECT_EQ(RemoveStalePartials(folder, {PartialFileName("listed.bin")}, now), 1);
    EXPECT_FALSE(std::filesystem::exists(local / PartialFileName("gone.bin")));
    for (const std::string& name :
         {PartialFileName("listed.bin"), PartialFileName("recent.bin"), std::string("old.bin")})
        EXPECT_TRUE(std::filesystem::exists(local / name)) << name;
    EXPECT_TRUE(std::filesystem::is_symlink(local / PartialFileName("link.bin")));
}

}  // namespace
}  // namespace klvr
