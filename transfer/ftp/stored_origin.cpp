#include "transfer/ftp/stored_origin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "transfer/ftp/record_fields.h"

namespace klvr {
namespace {

// A change that comes later than this after the record was written is someone else's.
constexpr std::int64_t kChangeSlackNs = 1'000'000'000;

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::string Number(const std::optional<std::int64_t>& value) {
    return value ? std::to_string(*value) : "-";
}

// A number that may be "-" for unknown; malformed is set when it is neither.
std::optional<std::int64_t> OptionalNumber(std::string_view text, std::string_view key, bool& malformed) {
    const auto word = RecordWord(text, key);
    if (word == "-") return std::nullopt;
    const auto number = RecordNumber(text, key);
    if (!number) malformed = true;
    return number;
}

}  // namespace

void WriteStoredOrigin(int fd, const StoredOrigin& origin) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::string value =
        "1 origin=" + origin.origin + " size=" + Number(origin.version.size) +
        " modified=" + Number(origin.version.modified) + " length=" + std::to_string(st.st_size) +
        " mtime=" + std::to_string(Nanoseconds(st.st_mtim)) + " at=" + std::to_string(Nanoseconds(now));
    // ENOTSUP and the like: this file system keeps no record, and the copy will prove nothing later
    ::fsetxattr(fd, kStoredOriginAttribute, value.data(), value.size(), 0);
}

std::optional<StoredOrigin> ReadStoredOrigin(const LocalFolder& folder, const std::string& name) {
    UniqueFd fd(folder.OpenFile(name, O_RDONLY | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    char buffer[512];
    const ssize_t n = ::fgetxattr(fd.get(), kStoredOriginAttribute, buffer, sizeof buffer - 1);
    if (n <= 0) return std::nullopt;
    const std::string_view text(buffer, static_cast<std::size_t>(n));
    if (text.substr(0, 2) != "1 ") return std::nullopt;
    const std::string_view fields = text.substr(1);
    bool malformed = false;
    StoredOrigin origin;
    origin.origin = std::string(RecordWord(fields, "origin").value_or(""));
    origin.version.size = OptionalNumber(fields, "size", malformed);
    origin.version.modified = OptionalNumber(fields, "modified", malformed);
    const auto length = OptionalNumber(fields, "length", malformed);
    const auto mtime = OptionalNumber(fields, "mtime", malformed);
    const auto at = OptionalNumber(fields, "at", malformed);
    if (malformed || origin.origin.empty() || !length || !mtime || !at) return std::nullopt;
    // still the file we left: its length, its modification time, and no change since the record
    if (*length != st.st_size || *mtime != Nanoseconds(st.st_mtim) ||
        Nanoseconds(st.st_ctim) > *at + kChangeSlackNs)
        return std::nullopt;
    return origin;
}

}  // namespace klvr
