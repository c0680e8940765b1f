#include "support/private_hosts.h"

#include "support/private_accounts.h"

namespace klvr::test {

bool CanUsePrivateHosts() {
    return CanUsePrivateAccounts();
}

std::vector<std::string> WithPrivateHosts(const std::vector<HostEntry>& entries, const TempDir& work) {
    std::string hosts = ReadFile("/etc/hosts");
    if (!hosts.empty() && hosts.back() != '\n') hosts += '\n';
    for (const auto& e : entries) hosts += e.address + " " + e.name + "\n";
    const std::string file = work.Write("hosts", hosts);
    return {"/usr/bin/unshare", "--mount", "sh", "-c", "mount --bind '" + file + "' /etc/hosts && exec \"$0\" \"$@\""};
}

}  // namespace klvr::test
