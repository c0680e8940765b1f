#pragma once
#include <string>

namespace klvr {

// The client's DataPortRange from element 35 ("use:from:to"): "from:to" when the first part is "1",
// otherwise (and for an empty element) "0". A "1" without the two ports after it raises SubscriptError.
std::string DataPortRangeFor(const std::string& element35);

}  // namespace klvr
