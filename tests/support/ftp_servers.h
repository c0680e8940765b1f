#pragma once
// Real FTP servers started on 127.0.0.1 for a test, serving a folder of the test's own.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/ports.h"
#include "support/temp_dir.h"

namespace klvr::test {

struct FtpUser {
    std::string name;
    std::string password;
    std::string home;               // absolute; empty: the server's root
    std::string perm = "elradfmw";  // pyftpdlib permission letters
};

struct PyFtpdOptions {
    std::string root;                   // also the anonymous user's home
    std::string address = "127.0.0.1";  // or "::1"
    std::vector<FtpUser> users{{"user", "secret", ""}};
    bool anonymous = true;
    PortBlock passive{};                      // {0, 0}: any port
    std::uint16_t port = 0;                   // 0: a free one
    std::string handlerClass = "FTPHandler";  // e.g. "TLS_FTPHandler" from pyftpdlib.handlers
    std::string handlerSetup;                 // Python lines run with `handler` bound to the class
};

// pyftpdlib, run by Debian's /usr/bin/python3.
class PyFtpdServer {
  public:
    explicit PyFtpdServer(PyFtpdOptions options);
    std::uint16_t Port() const { return port_; }
    std::string Log() const { return process_ ? process_->Log() : std::string(); }

  private:
    TempDir work_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

struct VsftpdOptions {
    // Local users, each logging on to its home (created when missing and given to the user, which may
    // then delete and write there). They are private accounts (support/private_accounts.h), so a test
    // with users needs CanUsePrivateAccounts().
    std::vector<FtpUser> users;
    std::string root;  // the anonymous user's root; made readable to all
    PortBlock passive{};
    bool askPassword = true;               // false: USER anonymous is answered 230 at once
    std::vector<std::string> extraConfig;  // further "name=value" lines
    std::vector<std::string> environment;  // "NAME=value" settings for the server's process
};

// vsftpd with anonymous logon (user "anonymous" or "ftp") and the local users of the options.
class VsftpdServer {
  public:
    explicit VsftpdServer(VsftpdOptions options);
    std::uint16_t Port() const { return port_; }
    std::string Log() const { return process_ ? process_->Log() : std::string(); }

  private:
    TempDir work_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

// A file of the FTP server packages that cannot be installed beside vsftpd (each provides ftp-server) and
// that scripts/install-deps.sh unpacks under /opt/klvr-test-servers; throws when it is missing.
std::string UnpackedServerFile(const std::string& relative);

}  // namespace klvr::test
