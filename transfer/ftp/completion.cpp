#include "transfer/ftp/completion.h"

namespace klvr {

std::optional<std::string> IncompleteTransfer(const CompletionFacts& f) {
    if (!f.confirmed) return "the server did not confirm the transfer";
    if (!f.binary || !f.announced || f.onDisk == *f.announced) return std::nullopt;
    if (f.onDisk < *f.announced) {
        return "only " + std::to_string(f.onDisk) + " of the " + std::to_string(*f.announced) +
               " bytes the server announced arrived";
    }
    return std::to_string(f.onDisk) + " bytes arrived where the server announced " +
           std::to_string(*f.announced);
}

}  // namespace klvr
