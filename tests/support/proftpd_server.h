#pragma once
// ProFTPD as Debian's package sets it up (its template proftpd.conf and modules.conf, mod_tls from
// proftpd-mod-crypto), started on 127.0.0.1 from the unpacked package that scripts/install-deps.sh
// puts under /opt/klvr-test-servers. It runs in a private mount namespace (support/private_accounts.h)
// that holds the package's own system user and the test's users, so a test needs CanUsePrivateAccounts().
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/ftp_servers.h"
#include "support/ports.h"
#include "support/temp_dir.h"

namespace klvr::test {

struct ProFtpdOptions {
    // Local users, each logging on to its home (created when missing and given to the user); an empty
    // home is root.
    std::vector<FtpUser> users;
    std::string root;  // the anonymous root ("anonymous" or "ftp", read-only); empty: no anonymous logon
    PortBlock passive{};
    std::vector<std::string> extraConfig;  // further directives, after the package's own
};

class ProFtpdServer {
  public:
    explicit ProFtpdServer(ProFtpdOptions options);
    std::uint16_t Port() const { return port_; }
    // what the server wrote: its standard error, its system log and its TLS log
    std::string Log() const;

  private:
    TempDir work_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace klvr::test
