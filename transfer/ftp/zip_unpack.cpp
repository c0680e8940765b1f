#include "transfer/ftp/zip_unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "transfer/ftp/ftp_error.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// The components of an entry name; nullopt when the name could lead outside the folder.
std::optional<std::vector<std::string>> SafeComponents(const std::string& name) {
    std::vector<std::string> parts;
    if (name.empty() || name[0] == '/' || name[0] == '\\') return std::nullopt;
    std::string part;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        // archives made on Windows may separate with backslashes
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (part == "..") return std::nullopt;
            if (!part.empty() && part != ".") parts.push_back(part);
            part.clear();
        } else {
            part += name[i];
        }
    }
    return parts;
}

bool IsSymlinkEntry(zip_t* archive, zip_uint64_t index) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0) return false;
    return system == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
}

// Opens (creating when missing) the folder name inside parent, never through a symbolic link.
int OpenFolderAt(int parent, const std::string& name, const std::string& entry) {
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
        throw FtpError("Cannot create the folder of zip entry [" + entry + "]: " + std::strerror(errno));
    }
    int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw FtpError("Cannot open the folder of zip entry [" + entry + "]: " + std::strerror(errno));
    return fd;
}

void Extract(zip_t* archive, zip_uint64_t index, const std::string& entry,
             const std::vector<std::string>& parts, int root, bool isFolder) {
    auto folder = std::make_unique<UniqueFd>(::dup(root));
    std::size_t folderParts = isFolder ? parts.size() : parts.size() - 1;
    for (std::size_t i = 0; i < folderParts; ++i)
        folder = std::make_unique<UniqueFd>(OpenFolderAt(folder->get(), parts[i], entry));
    if (isFolder) return;

    static thread_local std::mt19937_64 random{std::random_device{}()};
    char temp[40];
    std::snprintf(temp, sizeof temp, ".klvr-%016llx.part", static_cast<unsigned long long>(random()));
    UniqueFd out(::openat(folder->get(), temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (out.get() < 0) throw FtpError("Cannot write zip entry [" + entry + "]: " + std::strerror(errno));
    bool stored = false;
    struct Cleanup {
        int folder;
        const char* temp;
        bool& stored;
        ~Cleanup() {
            if (!stored) ::unlinkat(folder, temp, 0);
        }
    } cleanup{folder->get(), temp, stored};

    std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(archive, index, 0));
    if (!in) throw FtpError("Cannot read zip entry [" + entry + "]: " + zip_strerror(archive));
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        zip_int64_t n = zip_fread(in.get(), buffer.data(), buffer.size());
        if (n < 0) throw FtpError("Cannot read zip entry [" + entry + "]: " + zip_file_strerror(in.get()));
        if (n == 0) break;
        const char* data = buffer.data();
        auto left = static_cast<std::size_t>(n);
        while (left > 0) {
            ssize_t w = ::write(out.get(), data, left);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) throw FtpError("Cannot write zip entry [" + entry + "]: " + std::strerror(errno));
            data += w;
            left -= static_cast<std::size_t>(w);
        }
    }
    // renameat replaces a symbolic link of that name instead of following it
    if (::renameat(folder->get(), temp, folder->get(), parts.back().c_str()) != 0) {
        throw FtpError("Cannot store zip entry [" + entry + "]: " + std::strerror(errno));
    }
    stored = true;
}

}  // namespace

void UnpackZip(const std::string& archivePath, const std::string& folder) {
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open(archivePath.c_str(), ZIP_RDONLY, &error));
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string text = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw FtpError("The downloaded file is not a readable zip archive: " + text);
    }
    zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    struct Entry {
        zip_uint64_t index;
        std::string name;
        std::vector<std::string> parts;
        bool folder;
    };
    std::vector<Entry> entries;
    for (zip_int64_t i = 0; i < count; ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        const char* raw = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
        std::string name = raw ? raw : "";
        auto parts = SafeComponents(name);
        bool isFolder = !name.empty() && (name.back() == '/' || name.back() == '\\');
        if (!parts || (parts->empty() && !isFolder))
            throw FtpError("Unsafe zip entry refused [" + name + "]");
        if (IsSymlinkEntry(archive.get(), index))
            throw FtpError("Zip entry is a symbolic link, refused [" + name + "]");
        if (!parts->empty()) entries.push_back({index, name, std::move(*parts), isFolder});
    }
    UniqueFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) throw FtpError("Cannot open the folder [" + folder + "]: " + std::strerror(errno));
    for (const auto& entry : entries)
        Extract(archive.get(), entry.index, entry.name, entry.parts, root.get(), entry.folder);
}

}  // namespace klvr
