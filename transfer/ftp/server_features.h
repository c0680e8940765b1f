#pragma once
// What a server says it offers in its answer to FEAT (RFC 2389): one feature a line, its name first.
#include <set>
#include <string>
#include <string_view>

#include "transfer/ftp/reply.h"

namespace klvr {

struct ServerFeatures {
    std::set<std::string> names;  // upper case, without their parameters ("MLST", "UTF8", "REST")
    bool Has(std::string_view name) const { return names.count(std::string(name)) > 0; }
    // MLST in FEAT names both MLST and MLSD; a few servers name MLSD itself.
    bool Mlsd() const { return Has("MLST") || Has("MLSD"); }
};

// The features of a FEAT reply; none for a refusal or an answer that lists none.
ServerFeatures ParseFeatReply(const Reply& reply);

}  // namespace klvr
