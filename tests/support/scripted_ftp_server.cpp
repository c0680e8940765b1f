#include "support/scripted_ftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "support/ports.h"

namespace klvr::test {
namespace {

constexpr int kStepTimeoutMs = 15000;

std::uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Waits for fd (or the stop signal); false on stop or time-out.
bool WaitFor(int fd, short events, int stopFd, int timeoutMs) {
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    int n = ::poll(fds, 2, timeoutMs);
    return n > 0 && !(fds[1].revents & POLLIN) && fds[0].revents;
}

void SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("the client stopped reading");
        sent += static_cast<std::size_t>(n);
    }
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string Trim(const std::string& s) {
    auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool Matches(const std::string& pattern, const std::string& command) {
    if (!pattern.empty() && pattern.back() == '*')
        return command.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0;
    return pattern == command;
}

}  // namespace

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == '0')
            out += '\0';
        else if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

ScriptedFtpServer::ScriptedFtpServer(const std::string& dialogue) {
    std::istringstream lines(dialogue);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        steps_.push_back(line);
    }
    for (int attempt = 0; attempt < 20 && listenFd_ < 0; ++attempt) {
        port_ = FreePort();
        listenFd_ = ListenOnLoopback(port_);
    }
    if (listenFd_ < 0) throw std::runtime_error("scripted server: no port");
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    ::close(stopFd_);
    ::close(listenFd_);
}

void ScriptedFtpServer::Fail(const std::string& text) {
    std::lock_guard lock(mutex_);
    failures_ += text + "\n";
}

std::string ScriptedFtpServer::Finish() {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (finished_ || stepsDone_) return failures_;
        }
        if (std::chrono::steady_clock::now() > end) return "the dialogue did not end\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<std::string> ScriptedFtpServer::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::uint16_t> ScriptedFtpServer::DataPeerPorts() const {
    std::lock_guard lock(mutex_);
    return dataPeerPorts_;
}

void ScriptedFtpServer::Run() {
    int control = -1;
    int dataListen = -1;
    int data = -1;
    std::string pending;  // received bytes not yet split into commands
    std::string lastPort;
    auto acceptControl = [&] {
        CloseFd(control);
        pending.clear();
        if (!WaitFor(listenFd_, POLLIN, stopFd_, kStepTimeoutMs))
            throw std::runtime_error("no client connected");
        control = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        int one = 1;  // replies sent line by line must not wait for the client's delayed ACKs
        ::setsockopt(control, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    };
    auto readCommand = [&]() -> std::string {
        for (;;) {
            auto lf = pending.find('\n');
            if (lf != std::string::npos) {
                std::string command = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                if (!command.empty() && command.back() == '\r') command.pop_back();
                std::lock_guard lock(mutex_);
                commands_.push_back(command);
                return command;
            }
            if (!WaitFor(control, POLLIN, stopFd_, kStepTimeoutMs))
                throw std::runtime_error("no command came");
            char buffer[4096];
            ssize_t n = ::recv(control, buffer, sizeof buffer, 0);
            if (n <= 0) throw std::runtime_error("the client closed the connection");
            pending.append(buffer, static_cast<std::size_t>(n));
        }
    };
    // the data connection, accepted first when the client has yet to be taken from the listener
    auto dataConnection = [&]() -> int& {
        if (data >= 0) return data;
        if (dataListen < 0)
            throw std::runtime_error("data step without a data listener or active connection");
        if (!WaitFor(dataListen, POLLIN, stopFd_, kStepTimeoutMs))
            throw std::runtime_error("no data connection came");
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        data = ::accept4(dataListen, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        CloseFd(dataListen);
        std::lock_guard lock(mutex_);
        dataPeerPorts_.push_back(ntohs(peer.sin_port));
        return data;
    };
    // A FEAT the dialogue does not ask for is answered as by a server without extensions, and is not
    // counted among the commands.
    auto answerFeat = [&] {
        {
            std::lock_guard lock(mutex_);
            commands_.pop_back();
        }
        SendAll(control, "502 FEAT not implemented\r\n");
    };
    auto newDataListener = [&] {
        CloseFd(dataListen);
        CloseFd(data);
        dataListen = ListenOnLoopback(0);
        return LocalPort(dataListen);
    };

    try {
        acceptControl();
        for (const auto& step : steps_) {
            if (step.rfind(">|", 0) == 0) {
                SendAll(control, Unescape(step.substr(3)));
            } else if (step[0] == '>') {
                std::string reply = step.size() > 2 ? step.substr(2) : std::string();
                if (auto at = reply.find("{pasv}"); at != std::string::npos) {
                    std::uint16_t port = newDataListener();
                    reply.replace(
                        at, 6, "127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff));
                }
                if (auto at = reply.find("{pasvport}"); at != std::string::npos) {
                    std::uint16_t port = newDataListener();
                    reply.replace(at, 10, std::to_string(port >> 8) + "," + std::to_string(port & 0xff));
                }
                if (auto at = reply.find("{epsv}"); at != std::string::npos) {
                    reply.replace(at, 6, "|||" + std::to_string(newDataListener()) + "|");
                }
                SendAll(control, Unescape(reply) + "\r\n");
            } else if (step[0] == '<') {
                std::string pattern = Unescape(Trim(step.substr(1)));
                std::string command = readCommand();
                while (command == "FEAT" && !Matches(pattern, command)) {
                    answerFeat();
                    command = readCommand();
                }
                if (command.rfind("PORT ", 0) == 0 || command.rfind("EPRT ", 0) == 0) lastPort = command;
                if (!Matches(pattern, command)) {
                    Fail("expected \"" + pattern + "\", got \"" + command + "\"");
                    SendAll(control, "500 Not in the script\r\n");
                    break;
                }
            } else if (step.rfind("data-repeat ", 0) == 0 || step.rfind("data-offer ", 0) == 0) {
                const bool offer = step.rfind("data-offer ", 0) == 0;
                std::istringstream in(step.substr(offer ? 11 : 12));
                long count = 0;
                in >> count;
                std::string text;
                std::getline(in, text);
                text = Unescape(Trim(text));
                int fd = dataConnection();
                try {
                    for (long i = 0; i < count; ++i) SendAll(fd, text);
                } catch (const std::runtime_error&) {
                    if (!offer) throw;  // a client that stops reading an offer ends only the offer
                }
            } else if (step == "data-close") {
                CloseFd(dataConnection());
            } else if (step == "data-reset") {
                linger hard{1, 0};
                ::setsockopt(dataConnection(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                CloseFd(data);
            } else if (step.rfind("data ", 0) == 0) {
                SendAll(dataConnection(), Unescape(step.substr(5)));
            } else if (step == "active") {
                // "PORT h1,h2,h3,h4,p1,p2"
                auto numbers = lastPort.substr(5);
                int p[6] = {};
                if (std::sscanf(numbers.c_str(), "%d,%d,%d,%d,%d,%d", &p[0], &p[1], &p[2], &p[3], &p[4],
                                &p[5]) != 6) {
                    throw std::runtime_error("active step without a PORT command");
                }
                CloseFd(data);
                data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(static_cast<std::uint16_t>(p[4] * 256 + p[5]));
                address.sin_addr.s_addr =
                    htonl(static_cast<std::uint32_t>((p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]));
                if (::connect(data, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                    throw std::runtime_error("cannot connect to the client's data port");
                }
            } else if (step.rfind("sleep ", 0) == 0) {
                pollfd stop{stopFd_, POLLIN, 0};
                ::poll(&stop, 1, std::stoi(step.substr(6)));
            } else if (step == "hang") {
                for (;;) {
                    if (!WaitFor(control, POLLIN, stopFd_, 60000)) break;
                    char buffer[512];
                    if (::recv(control, buffer, sizeof buffer, 0) <= 0) break;
                }
            } else if (step == "close") {
                CloseFd(data);
                CloseFd(control);
            } else if (step == "accept") {
                acceptControl();
            } else {
                throw std::runtime_error("unknown step: " + step);
            }
        }
        {
            std::lock_guard lock(mutex_);
            stepsDone_ = true;
        }
        // After the script the client may only go away (or ask for the features the script left out).
        while (control >= 0 && (pending.find('\n') != std::string::npos ||
                                WaitFor(control, POLLIN, stopFd_, kStepTimeoutMs))) {
            if (pending.find('\n') == std::string::npos) {
                char buffer[512];
                ssize_t n = ::recv(control, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                pending.append(buffer, static_cast<std::size_t>(n));
                if (pending.find('\n') == std::string::npos) continue;
            }
            std::string command = readCommand();
            if (command == "FEAT") {
                answerFeat();
                continue;
            }
            Fail("unexpected command after the script: \"" + command + "\"");
            break;
        }
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    CloseFd(data);
    CloseFd(dataListen);
    CloseFd(control);
    std::lock_guard lock(mutex_);
    finished_ = true;
}

}  // namespace klvr::test
