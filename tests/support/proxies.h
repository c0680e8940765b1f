#pragma once
// Proxies started on 127.0.0.1 for a test: dante (SOCKS4 and SOCKS5), tinyproxy (HTTP CONNECT) and a
// small FTP gateway that speaks the SITE, USER and OPEN logons and then relays to the real server.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace klvr::test {

// dante's sockd. With a user name, SOCKS5 clients must log on with it; dante checks such users against
// the system's password files, so the user is a private account (support/private_accounts.h).
class DanteProxy {
  public:
    explicit DanteProxy(const std::string& user = "", const std::string& password = "");
    std::uint16_t Port() const { return port_; }
    std::string Log() const { return process_ ? process_->Log() : std::string(); }
    // False where a private mount namespace cannot be made (not root): user logons cannot be tested.
    static bool CanCheckUsers();

  private:
    TempDir work_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

// tinyproxy; with a user name it asks for Basic authentication.
class TinyProxy {
  public:
    explicit TinyProxy(const std::string& user = "", const std::string& password = "");
    std::uint16_t Port() const { return port_; }
    std::string Log() const { return process_ ? process_->Log() : std::string(); }

  private:
    TempDir work_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

// An FTP gateway of one logon kind (3 SITE, 4 USER with logon, 5 USER without logon, 6 OPEN). It
// logs the client on to itself as the kind demands (proxy user "puser", password "ppass"), connects to
// the host:port the client names, and from then on relays the session in both directions.
class FtpGateway {
  public:
    explicit FtpGateway(int kind);
    ~FtpGateway();
    FtpGateway(const FtpGateway&) = delete;
    FtpGateway& operator=(const FtpGateway&) = delete;

    std::uint16_t Port() const { return port_; }
    // The commands the gateway itself answered, before relaying began.
    std::vector<std::string> Commands() const;
    std::string Failures() const;

  private:
    void Run();
    void Serve(int client);

    int kind_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::string failures_;
};

// A SOCKS4a peer (no Debian proxy speaks it): resolves the requested name, connects and relays. It
// serves connections one after the other, each until either side closes.
class Socks4aRelay {
  public:
    Socks4aRelay();
    ~Socks4aRelay();
    Socks4aRelay(const Socks4aRelay&) = delete;
    Socks4aRelay& operator=(const Socks4aRelay&) = delete;

    std::uint16_t Port() const { return port_; }
    // "userid@host:port" of every request
    std::vector<std::string> Requests() const;

  private:
    void Run();

    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

}  // namespace klvr::test
