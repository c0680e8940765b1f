#include "transfer/ftp/partial_file.h"

#include "transfer/ftp/file_evidence.h"
#include "transfer/ftp/record_fields.h"

namespace klvr {
namespace {

constexpr std::string_view kMagic = "KLVR-PARTIAL 2";
constexpr std::size_t kNameMax = 255;  // bytes of one name on the usual Linux file systems

}  // namespace

std::string PartialFileName(const std::string& name) {
    constexpr std::string_view suffix = ".klvr-part";
    std::string partial(1, '.');
    if (1 + name.size() + suffix.size() <= kNameMax) {
        partial += name;
    } else {
        // A cut name may end inside a UTF-8 sequence; it is only ever a local, hidden name.
        const std::size_t keep = kNameMax - 1 - 1 - 16 - suffix.size();
        partial.append(name, 0, keep).append(1, '~').append(ShortDigest(name));
    }
    return partial.append(suffix);
}

bool IsPartialFileName(const std::string& name) {
    constexpr std::string_view suffix = ".klvr-part";
    return name.size() > suffix.size() && name.front() == '.' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string PartialTrailer(const PartialVersion& version, std::int64_t length) {
    std::string text = std::string(kMagic) + " length=" + std::to_string(length) +
                       " size=" + std::to_string(version.size) +
                       " started=" + std::to_string(version.started) + " origin=" + version.origin;
    if (version.modified) text += " modified=" + std::to_string(*version.modified);
    text.resize(kPartialTrailerSize - 1, ' ');
    return text + "\n";
}

std::optional<PartialState> ReadPartialTrailer(std::string_view tail, std::int64_t fileSize) {
    if (tail.size() != kPartialTrailerSize || tail.back() != '\n' ||
        tail.substr(0, kMagic.size()) != kMagic || fileSize < static_cast<std::int64_t>(kPartialTrailerSize))
        return std::nullopt;
    const std::string_view fields = tail.substr(kMagic.size(), tail.size() - kMagic.size() - 1);
    const auto length = RecordNumber(fields, "length");
    const auto size = RecordNumber(fields, "size");
    const auto started = RecordNumber(fields, "started");
    if (!length || !size || !started) return std::nullopt;
    if (*length != fileSize - static_cast<std::int64_t>(kPartialTrailerSize) || *size < 0 || *length > *size)
        return std::nullopt;
    PartialState state;
    state.length = *length;
    state.version.size = *size;
    state.version.started = *started;
    state.version.modified = RecordNumber(fields, "modified");
    state.version.origin = std::string(RecordWord(fields, "origin").value_or(""));
    if (state.version.origin.empty()) return std::nullopt;
    return state;
}

}  // namespace klvr
