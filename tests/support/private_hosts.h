#pragma once
// Host names of the test's own for a program it starts: a private copy of /etc/hosts with the test's
// entries added, mounted over the real one in a mount namespace that only that program sees. The
// machine's own file is never touched.
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace klvr::test {

struct HostEntry {
    std::string address;  // "127.0.0.1", "::1"
    std::string name;
};

// False where no private mount namespace can be made (not root, no unshare).
bool CanUsePrivateHosts();

// The command prefix that starts a program with the entries in place; the program's own argv follows.
std::vector<std::string> WithPrivateHosts(const std::vector<HostEntry>& entries, const TempDir& work);

}  // namespace klvr::test
