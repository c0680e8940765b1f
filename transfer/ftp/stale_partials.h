#pragma once
// Unfinished downloads do not pile up: in a walk of a whole remote folder, an unfinished download whose
// remote file is no longer listed there and that nobody has touched for kStalePartialAge is removed. One
// whose file is still listed stays whatever its age (it is gone on with, or replaced, when that file is
// fetched), and the files under final names are never touched: what goes is only ever an incomplete
// piece of a file that the server no longer offers under that name.
#include <cstdint>
#include <set>
#include <string>

#include "transfer/ftp/local_folder.h"

namespace klvr {

inline constexpr std::int64_t kStalePartialAge = 30 * 24 * 60 * 60;  // seconds

// listedPartials: PartialFileName of every file the remote folder lists; now: the local clock, compared
// with the local file times only. Returns how many were removed.
int RemoveStalePartials(const LocalFolder& folder, const std::set<std::string>& listedPartials,
                        std::int64_t now);

}  // namespace klvr
