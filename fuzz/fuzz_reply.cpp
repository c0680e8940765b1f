// The reply reader fed hostile control-connection bytes in pieces of varying size, and the readers of
// values inside replies fed the same bytes as reply text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/ftp/reply.h"
#include "transfer/ftp/reply_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // the first byte chooses how the rest is cut into pieces, as the network might
    std::size_t piece = 1 + data[0] % 64;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    klvr::ReplyReader reader;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        std::string_view chunk = rest.substr(0, piece);
        rest.remove_prefix(chunk.size());
        while (!chunk.empty()) {
            std::size_t used = reader.Feed(chunk);
            if (used == 0 && !reader.Ready()) std::abort();  // no progress: the caller would spin
            chunk.remove_prefix(used);
            if (!reader.Ready()) continue;
            klvr::Reply reply = reader.Take();
            if (reply.lines.size() > klvr::ReplyReader::kMaxKeptLines) std::abort();
            for (const auto& line : reply.lines)
                if (line.size() > klvr::ReplyReader::kMaxLineLength) std::abort();
            if (!reply.Malformed() && (reply.code < 100 || reply.code > 599)) std::abort();
        }
    }

    (void)klvr::ParsePasvReply(bytes);
    (void)klvr::ParseEpsvReply(bytes);
    (void)klvr::ParsePwdReply(bytes);
    (void)klvr::ParseSizeReply(bytes);
    (void)klvr::ParseTransferSize(bytes);
    return 0;
}
