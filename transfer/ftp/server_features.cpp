#include "transfer/ftp/server_features.h"

namespace klvr {

ServerFeatures ParseFeatReply(const Reply& reply) {
    ServerFeatures features;
    if (reply.code != 211) return features;
    // the first line opens the list and "211 End" ends it; each line between holds one feature, led by
    // a blank (a few servers repeat the code instead)
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        std::string_view line = reply.lines[i];
        if (line.rfind("211 ", 0) == 0 || line == "211") continue;
        if (line.rfind("211-", 0) == 0) line.remove_prefix(4);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        std::string name;
        for (char c : line) {
            if (c == ' ' || c == '\t' || c == '\r') break;
            name += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        }
        if (!name.empty()) features.names.insert(std::move(name));
    }
    return features;
}

}  // namespace klvr
