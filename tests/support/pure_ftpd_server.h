#pragma once
// Pure-FTPd with the options Debian's pure-ftpd-wrapper gives it from the package's /etc/pure-ftpd/conf,
// started on 127.0.0.1 from the unpacked package that scripts/install-deps.sh puts under
// /opt/klvr-test-servers. Users are virtual users of a PureDB file, as the package's README.Debian shows,
// each shut into its home; anonymous logon needs a private "ftp" account (support/private_accounts.h).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/ftp_servers.h"
#include "support/ports.h"
#include "support/temp_dir.h"

namespace klvr::test {

struct PureFtpdOptions {
    // Virtual users, each logging on to its home (created when missing and given to the user; empty:
    // root), which is "/" for that user.
    std::vector<FtpUser> users;
    // The anonymous root ("anonymous" or "ftp"); empty: the package's NoAnonymous stays on. Anonymous
    // logon runs the server in a private mount namespace, so it needs CanUsePrivateAccounts().
    std::string root;
    PortBlock passive{};
    std::vector<std::string> extraArguments;  // further options, after the package's own
    std::vector<std::string> environment;     // "NAME=value" settings for the server's process
};

class PureFtpdServer {
  public:
    explicit PureFtpdServer(PureFtpdOptions options);
    std::uint16_t Port() const { return port_; }
    std::string Log() const { return process_ ? process_->Log() : std::string(); }

  private:
    TempDir work_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace klvr::test
