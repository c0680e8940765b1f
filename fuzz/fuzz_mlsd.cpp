// The MLSD parser fed hostile MLSD data: whole, and again in pieces, which must give the same listing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/ftp/mlsd_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t piece = 1 + data[0] % 32;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    klvr::Listing whole = klvr::ParseMlsdListing(bytes);
    klvr::MlsdParser parser;
    for (std::size_t at = 0; at < bytes.size(); at += piece) parser.Feed(bytes.substr(at, piece));
    klvr::Listing pieces = parser.Finish();

    if (whole.ListingFormat != pieces.ListingFormat || whole.UnparsedText != pieces.UnparsedText ||
        whole.Entries.size() != pieces.Entries.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < whole.Entries.size(); ++i) {
        const auto& a = whole.Entries[i];
        const auto& b = pieces.Entries[i];
        if (a.Name != b.Name || a.Type != b.Type || a.Size != b.Size || a.Modified != b.Modified ||
            a.Unique != b.Unique) {
            std::abort();
        }
        if (a.Name.empty() || a.Size < 0 || a.Name.find('\n') != std::string::npos) std::abort();
        if (a.Type != "D" && a.Type != "L" && a.Type != "F") std::abort();
    }
    if (whole.ListingFormat != klvr::kListingFacts && whole.ListingFormat != klvr::kListingUnparsed)
        std::abort();
    if (whole.UnparsedText.size() > klvr::ListingCollector::kMaxUnparsedText) std::abort();
    return 0;
}
