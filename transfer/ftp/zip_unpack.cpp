#include "transfer/ftp/zip_unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/partial_file.h"
#include "util/printable_text.h"
#include "util/unique_fd.h"

namespace klvr {
namespace {

constexpr std::uint64_t kRatioFloor = 1ULL << 30;  // below this an archive may unpack to any ratio
constexpr std::uint64_t kMaxRatio = 1000;

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

struct Entry {
    zip_uint64_t index;
    std::string name;
    std::vector<std::string> parts;
    bool folder;
    std::uint64_t size;
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

std::vector<Entry> CheckedEntries(zip_t* archive) {
    std::vector<Entry> entries;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
        const std::string name = raw ? raw : "";
        auto parts = SafeComponents(name);
        const bool isFolder = !name.empty() && (name.back() == '/' || name.back() == '\\');
        if (!parts || (parts->empty() && !isFolder))
            throw FtpError("Unsafe zip entry refused [" + name + "]");
        if (IsSymlinkEntry(archive, index))
            throw FtpError("Zip entry is a symbolic link, refused [" + name + "]");
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            throw FtpError("Zip entry [" + name + "] gives no readable size");
        if (st.size > static_cast<zip_uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw FtpError("Zip entry [" + name + "] gives a size beyond what can be read");
        if (!parts->empty())
            entries.push_back({index, name, std::move(*parts), isFolder, isFolder ? 0 : st.size});
    }
    return entries;
}

void CheckRoom(const std::vector<Entry>& entries, std::int64_t archiveSize, const LocalFolder& folder) {
    std::uint64_t total = 0;
    for (const Entry& e : entries) {
        if (__builtin_add_overflow(total, e.size, &total))
            throw FtpError("The zip archive's entries add up to more than can be read");
    }
    const auto packed = static_cast<std::uint64_t>(archiveSize > 0 ? archiveSize : 0);
    if (auto problem = UnpackRoomProblem(total, packed, folder.FreeBytes()))
        throw FtpError("The zip archive is refused: " + *problem + " [" + folder.Path() + "]");
}

using ZipFile = std::unique_ptr<zip_file_t, ZipFileCloser>;

ZipFile OpenEntry(zip_t* archive, const Entry& entry) {
    ZipFile in(zip_fopen_index(archive, entry.index, 0));
    if (!in) throw FtpError("Cannot read zip entry [" + entry.name + "]: " + zip_strerror(archive));
    return in;
}

// The entry's next bytes into buffer, 0 at its end. The checks before unpacking trusted the declared
// sizes, so an entry holding more is refused.
std::size_t ReadEntry(zip_file_t* in, const Entry& entry, std::vector<char>& buffer, std::uint64_t& read) {
    const zip_int64_t n = zip_fread(in, buffer.data(), buffer.size());
    if (n < 0) throw FtpError("Cannot read zip entry [" + entry.name + "]: " + zip_file_strerror(in));
    read += static_cast<std::uint64_t>(n);
    if (read > entry.size)
        throw FtpError("Zip entry [" + entry.name + "] holds more than the " + std::to_string(entry.size) +
                       " bytes it declares");
    return static_cast<std::size_t>(n);
}

void CopyEntry(zip_t* archive, const Entry& entry, int out) {
    ZipFile in = OpenEntry(archive, entry);
    std::vector<char> buffer(64 * 1024);
    std::uint64_t read = 0;
    while (const std::size_t n = ReadEntry(in.get(), entry, buffer, read)) {
        const char* data = buffer.data();
        std::size_t left = n;
        while (left > 0) {
            const ssize_t w = ::write(out, data, left);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0)
                throw FtpError("Cannot write zip entry [" + entry.name + "]: " + std::strerror(errno));
            data += w;
            left -= static_cast<std::size_t>(w);
        }
    }
}

// Up to size bytes of fd into data, fewer only at the file's end; -1 on a read error.
ssize_t ReadLocal(int fd, char* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, data + got, size - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// Whether the local file name holds the entry's bytes, no more and no fewer. Anything but a plain file
// (a link, a folder, a pipe) does not.
bool SameBytes(zip_t* archive, const Entry& entry, const LocalFolder& folder, const std::string& name) {
    UniqueFd local(folder.OpenFile(name, O_RDONLY | O_NONBLOCK));
    struct stat st {};
    if (local.get() < 0 || ::fstat(local.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) != entry.size)
        return false;
    ZipFile in = OpenEntry(archive, entry);
    std::vector<char> ours(64 * 1024);
    std::vector<char> theirs(ours.size());
    std::uint64_t read = 0;
    while (const std::size_t n = ReadEntry(in.get(), entry, ours, read)) {
        if (ReadLocal(local.get(), theirs.data(), n) != static_cast<ssize_t>(n)) return false;
        if (std::memcmp(ours.data(), theirs.data(), n) != 0) return false;
    }
    char more = 0;
    return read == entry.size && ReadLocal(local.get(), &more, 1) == 0;
}

enum class Fate { kStored, kProvenSame, kPassedOver };

// A local file the entry does not replace: proven when it holds the entry's bytes, else reported.
Fate KeptFile(zip_t* archive, const Entry& entry, const LocalFolder& folder, const std::string& name,
              const UnpackOptions& options, const std::string& why) {
    if (SameBytes(archive, entry, folder, name)) return Fate::kProvenSame;
    if (options.warn) options.warn("Local file kept [" + Printable(folder.PathOf(name)) + "]: " + why);
    return Fate::kPassedOver;
}

Fate Extract(zip_t* archive, const Entry& entry, const LocalFolder& root, const UnpackOptions& options) {
    LocalFolder folder = root;
    const std::size_t folderParts = entry.folder ? entry.parts.size() : entry.parts.size() - 1;
    for (std::size_t i = 0; i < folderParts; ++i) folder = folder.Child(entry.parts[i], true);
    if (entry.folder) return Fate::kStored;

    const std::string& name = entry.parts.back();
    if (IsPartialFileName(name)) {
        if (options.warn)
            options.warn("Zip entry passed over [" + Printable(entry.name) +
                         "]: its name is the form kept for unfinished downloads");
        return Fate::kPassedOver;
    }
    const LocalEntry present = folder.Inspect(name);
    if (present.kind == LocalEntry::kLink) throw LocalLinkMet(folder.PathOf(name));
    if (present.kind != LocalEntry::kNone && options.keepExisting) {
        return KeptFile(archive, entry, folder, name, options,
                        present.kind == LocalEntry::kFile ? "it differs from the archive's entry"
                                                          : "it is not a file, the archive's entry is");
    }

    static thread_local std::mt19937_64 random{std::random_device{}()};
    char temp[40];
    std::snprintf(temp, sizeof temp, ".klvr-%016llx.part", static_cast<unsigned long long>(random()));
    UniqueFd out(folder.OpenFile(temp, O_WRONLY | O_CREAT | O_EXCL));
    if (out.get() < 0) throw FtpError("Cannot write zip entry [" + entry.name + "]: " + std::strerror(errno));
    bool stored = false;
    struct Cleanup {
        const LocalFolder& folder;
        const char* temp;
        bool& stored;
        ~Cleanup() {
            if (!stored) folder.Remove(temp);
        }
    } cleanup{folder, temp, stored};
    CopyEntry(archive, entry, out.get());
    if (!options.keepExisting) {
        folder.Rename(temp, name);
        stored = true;
        return Fate::kStored;
    }
    stored = folder.RenameNoReplace(temp, name);
    if (stored) return Fate::kStored;
    // what stands under the name now was put there by someone else while this entry was written
    return KeptFile(archive, entry, folder, name, options,
                    "it appeared while the archive was unpacked and differs from the archive's entry");
}

}  // namespace

std::optional<std::string> UnpackRoomProblem(std::uint64_t total, std::uint64_t archiveSize,
                                             std::optional<std::uint64_t> freeBytes) {
    const std::uint64_t packed = archiveSize > 0 ? archiveSize : 1;
    std::uint64_t ratioLimit = 0;
    const bool ratioFits = !__builtin_mul_overflow(packed, kMaxRatio, &ratioLimit);
    if (total > kRatioFloor && ratioFits && total > ratioLimit) {
        return "it unpacks to " + std::to_string(total) + " bytes, " + std::to_string(total / packed) +
               " times its own size";
    }
    if (freeBytes && total > *freeBytes) {
        return "it unpacks to " + std::to_string(total) + " bytes, but only " + std::to_string(*freeBytes) +
               " bytes are free in the folder";
    }
    return std::nullopt;
}

UnpackSummary UnpackZip(int archiveFd, std::int64_t archiveSize, const LocalFolder& folder,
                        const UnpackOptions& options) {
    int fd = ::dup(archiveFd);
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
        if (fd >= 0) ::close(fd);
        throw FtpError(std::string("Cannot read the downloaded zip archive: ") + std::strerror(errno));
    }
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_fdopen(fd, 0, &error));
    if (!archive) {
        ::close(fd);
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string text = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw FtpError("The downloaded file is not a readable zip archive: " + text);
    }
    const std::vector<Entry> entries = CheckedEntries(archive.get());
    CheckRoom(entries, archiveSize, folder);
    UnpackSummary summary;
    for (const Entry& entry : entries) {
        ++summary.entries;
        Fate fate = Fate::kPassedOver;
        try {
            fate = Extract(archive.get(), entry, folder, options);
        } catch (const LocalLinkMet& link) {
            if (options.warn) options.warn("Local link passed over [" + Printable(link.Path()) + "]");
        }
        switch (fate) {
            case Fate::kStored:
                ++summary.stored;
                break;
            case Fate::kProvenSame:
                ++summary.provenSame;
                break;
            case Fate::kPassedOver:
                ++summary.passedOver;
                break;
        }
    }
    return summary;
}

}  // namespace klvr
