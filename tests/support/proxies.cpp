#include "support/proxies.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/ports.h"
#include "support/private_accounts.h"

namespace klvr::test {
namespace {

std::string DanteConfig(std::uint16_t port, bool users) {
    return "logoutput: stderr\n"
           "internal: 127.0.0.1 port = " +
           std::to_string(port) + "\n" +
           "external: 127.0.0.1\n"
           "socksmethod: " +
           (users ? "username" : "none") + "\n" +
           "clientmethod: none\n"
           "user.privileged: root\n"
           "user.unprivileged: nobody\n"
           "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
           "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }\n"
           "socks pass { from: 127.0.0.0/8 to: . command: connect }\n";
}

}  // namespace

bool DanteProxy::CanCheckUsers() {
    return CanUsePrivateAccounts();
}

DanteProxy::DanteProxy(const std::string& user, const std::string& password) {
    bool users = !user.empty();
    std::vector<std::string> prefix;
    if (users) prefix = WithPrivateAccounts({{user, password}}, work_);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreePort();
        std::string config = work_.Write("sockd.conf", DanteConfig(port_, users));
        std::vector<std::string> argv = prefix;
        for (const auto& a : {std::string("/usr/sbin/danted"), std::string("-f"), config, std::string("-N"),
                              std::string("2")}) {
            argv.push_back(a);
        }
        process_ = std::make_unique<ChildProcess>(argv, work_ / "sockd.log");
        if (WaitForPort(port_, 10000)) return;
        process_->Stop();
    }
    throw std::runtime_error("dante did not start: " + Log());
}

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreePort();
        std::string config = "Port " + std::to_string(port_) +
                             "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\n"
                             "MaxClients 50\nLogLevel Info\n";
        if (!user.empty()) config += "BasicAuth " + user + " " + password + "\n";
        std::string file = work_.Write("tinyproxy.conf", config);
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", file}, work_ / "tinyproxy.log");
        if (WaitForPort(port_, 10000)) return;
        process_->Stop();
    }
    throw std::runtime_error("tinyproxy did not start: " + Log());
}

// ---- the gateway ----
namespace {

void Send(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("peer gone");
        sent += static_cast<std::size_t>(n);
    }
}

// One line (without CR LF), read a byte at a time so that nothing after it is taken.
std::string ReadLine(int fd) {
    std::string line;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 15000) <= 0) throw std::runtime_error("peer silent");
        char c;
        if (::recv(fd, &c, 1, 0) != 1) throw std::runtime_error("peer gone");
        if (c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// A whole reply of the upstream server (multi-line replies too).
std::string ReadReply(int fd) {
    std::string first = ReadLine(fd);
    std::string all = first + "\r\n";
    if (first.size() > 3 && first[3] == '-') {
        std::string end = first.substr(0, 3) + " ";
        for (;;) {
            std::string line = ReadLine(fd);
            all += line + "\r\n";
            if (line.rfind(end, 0) == 0) break;
        }
    }
    return all;
}

int ConnectTo(const std::string& hostAndPort) {
    auto colon = hostAndPort.rfind(':');
    std::string host = colon == std::string::npos ? hostAndPort : hostAndPort.substr(0, colon);
    int port = colon == std::string::npos ? 21 : std::stoi(hostAndPort.substr(colon + 1));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Relay(int a, int b, int stopFd) {
    char buffer[65536];
    for (;;) {
        pollfd fds[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 3, 60000) <= 0 || fds[2].revents) return;
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) continue;
            ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            Send(i == 0 ? b : a, std::string(buffer, static_cast<std::size_t>(n)));
        }
    }
}

}  // namespace

FtpGateway::FtpGateway(int kind) : kind_(kind) {
    for (int attempt = 0; attempt < 20 && listenFd_ < 0; ++attempt) {
        port_ = FreePort();
        listenFd_ = ListenOnLoopback(port_);
    }
    if (listenFd_ < 0) throw std::runtime_error("gateway: no port");
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

FtpGateway::~FtpGateway() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
    ::close(listenFd_);
}

std::vector<std::string> FtpGateway::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::string FtpGateway::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

void FtpGateway::Run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents) return;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        try {
            Serve(client);
        } catch (const std::exception& e) {
            std::lock_guard lock(mutex_);
            failures_ += std::string(e.what()) + "\n";
        }
        ::close(client);
    }
}

void FtpGateway::Serve(int client) {
    auto command = [&](const std::string& expectedVerb) {
        std::string line = ReadLine(client);
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(line);
        }
        if (line.rfind(expectedVerb + " ", 0) != 0) {
            Send(client, "500 The gateway expected " + expectedVerb + "\r\n");
            throw std::runtime_error("gateway: expected " + expectedVerb + ", got " + line);
        }
        return line.substr(expectedVerb.size() + 1);
    };
    auto proxyLogon = [&] {
        if (command("USER") != "puser") throw std::runtime_error("gateway: wrong proxy user");
        Send(client, "331 Gateway password please\r\n");
        if (command("PASS") != "ppass") {
            Send(client, "530 Gateway logon refused\r\n");
            throw std::runtime_error("gateway: wrong proxy password");
        }
        Send(client, "230 Gateway logon accepted\r\n");
    };
    auto open = [&](const std::string& hostAndPort) {
        int upstream = ConnectTo(hostAndPort);
        if (upstream < 0) {
            Send(client, "421 Cannot reach " + hostAndPort + "\r\n");
            throw std::runtime_error("gateway: cannot reach " + hostAndPort);
        }
        ReadReply(upstream);  // the server's greeting
        return upstream;
    };

    Send(client, "220 FTP gateway ready\r\n");
    int upstream = -1;
    if (kind_ == 3 || kind_ == 6) {
        if (kind_ == 3) proxyLogon();
        upstream = open(command(kind_ == 3 ? "SITE" : "OPEN"));
        Send(client, "220 Connected through the gateway\r\n");
    } else {
        if (kind_ == 4) proxyLogon();
        std::string userAt = command("USER");
        auto at = userAt.rfind('@');
        if (at == std::string::npos) throw std::runtime_error("gateway: USER without @host");
        upstream = open(userAt.substr(at + 1));
        Send(upstream, "USER " + userAt.substr(0, at) + "\r\n");
        Send(client, ReadReply(upstream));
    }
    Relay(client, upstream, stopFd_);
    ::close(upstream);
}

// ---- the SOCKS4a relay ----
Socks4aRelay::Socks4aRelay() {
    for (int attempt = 0; attempt < 20 && listenFd_ < 0; ++attempt) {
        port_ = FreePort();
        listenFd_ = ListenOnLoopback(port_);
    }
    if (listenFd_ < 0) throw std::runtime_error("socks4a relay: no port");
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

Socks4aRelay::~Socks4aRelay() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
    ::close(listenFd_);
}

std::vector<std::string> Socks4aRelay::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Socks4aRelay::Run() {
    // The control connection and each data connection are relayed at the same time, so every
    // accepted connection gets a thread of its own.
    std::vector<std::thread> relays;
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents) break;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        relays.emplace_back([this, client] {
            try {
                auto readZeroTerminated = [&] {
                    std::string text;
                    char c;
                    while (::recv(client, &c, 1, 0) == 1 && c != 0) text += c;
                    return text;
                };
                unsigned char head[8];
                if (::recv(client, head, 8, MSG_WAITALL) != 8 || head[0] != 4 || head[1] != 1)
                    throw std::runtime_error("bad");
                int port = head[2] * 256 + head[3];
                std::string user = readZeroTerminated();
                bool named = head[4] == 0 && head[5] == 0 && head[6] == 0 && head[7] != 0;
                std::string host = named ? readZeroTerminated()
                                         : std::to_string(head[4]) + "." + std::to_string(head[5]) + "." +
                                               std::to_string(head[6]) + "." + std::to_string(head[7]);
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(user + "@" + host + ":" + std::to_string(port));
                }
                int upstream =
                    ConnectTo((host == "localhost" ? "127.0.0.1" : host) + ":" + std::to_string(port));
                std::string answer = {0, static_cast<char>(upstream >= 0 ? 90 : 91), 0, 0, 0, 0, 0, 0};
                Send(client, answer);
                if (upstream >= 0) {
                    Relay(client, upstream, stopFd_);
                    ::close(upstream);
                }
            } catch (const std::exception&) {
            }
            ::close(client);
        });
    }
    for (auto& t : relays) t.join();
}

}  // namespace klvr::test
