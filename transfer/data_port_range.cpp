#include "transfer/data_port_range.h"

#include "settings/settings_array.h"
#include "settings/settings_codec.h"

namespace klvr {

std::string DataPortRangeFor(const std::string& element35) {
    if (element35.empty()) return "0";
    const std::vector<std::string> parts = SplitText(element35, ":");
    if (parts[0] != "1") return "0";
    if (parts.size() < 3) throw SubscriptError();
    return parts[1] + ":" + parts[2];
}

}  // namespace klvr
