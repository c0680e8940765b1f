#include "fuzz/dialogue_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <random>
#include <stdexcept>
#include <string_view>

namespace klvr::fuzz {
namespace {

// Only a safety net: the client gives up after its own, much shorter time-out and closes its sockets,
// which ends every wait here.
constexpr int kWaitMs = 10000;
// A client that keeps sending commands is cut off after this many in one connection.
constexpr int kMaxCommands = 4000;
constexpr std::size_t kMaxCommandBytes = 8192;
constexpr std::size_t kMaxDataWrites = 1024;

// A connection taken from listener, or -1. Each reply and piece of data goes out at once: waiting for
// the client's delayed acknowledgement would cost 40 ms a step.
int Accept(int listener) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// A listening socket on 127.0.0.1 at a port of 20000..32767 (the range the tests keep to), or -1.
int Listen(std::uint16_t& port) {
    std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(20000, 32767);
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return -1;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        port = static_cast<std::uint16_t>(pick(random));
        address.sin_port = htons(port);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 8) == 0)
            return fd;
        ::close(fd);
    }
    return -1;
}

// Waits for one of fds; the index of the first that is ready, or nothing on stop or time-out.
std::optional<std::size_t> WaitAny(std::initializer_list<pollfd> wanted, int stopFd) {
    pollfd fds[4];
    std::size_t count = 0;
    for (const pollfd& p : wanted) fds[count++] = p;
    fds[count++] = {stopFd, POLLIN, 0};
    if (::poll(fds, count, kWaitMs) <= 0 || fds[count - 1].revents) return std::nullopt;
    for (std::size_t i = 0; i + 1 < count; ++i)
        if (fds[i].revents) return i;
    return std::nullopt;
}

bool SendAll(int fd, std::string_view bytes, int stopFd) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitAny({{fd, POLLOUT, 0}}, stopFd)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// One command line from the client without its line end; nothing once the connection or the run ends.
std::optional<std::string> ReadCommand(int fd, std::string& pending, int stopFd) {
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos || pending.size() >= kMaxCommandBytes) {
            std::string line = pending.substr(0, std::min(end, pending.size()));
            pending.erase(0, end == std::string::npos ? pending.size() : end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            pending.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitAny({{fd, POLLIN, 0}}, stopFd)) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
}

std::string VerbOf(const std::string& command) {
    std::string verb;
    for (char c : command) {
        if (c == ' ') break;
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return verb;
}

void ReplaceAll(std::string& text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

DialogueServer::DialogueServer(Dialogue dialogue) : dialogue_(std::move(dialogue)) {
    listenFd_ = Listen(port_);
    if (listenFd_ < 0) throw std::runtime_error("no port for the fuzz server");
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

DialogueServer::~DialogueServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    CloseFd(dataListenFd_);
    CloseFd(listenFd_);
    CloseFd(stopFd_);
}

void DialogueServer::Run() {
    while (WaitAny({{listenFd_, POLLIN, 0}}, stopFd_)) {
        int control = Accept(listenFd_);
        if (control < 0) continue;
        Serve(control);
        CloseFd(control);
        CloseFd(dataListenFd_);
    }
}

klvr::fuzz::Answer DialogueServer::Next(const std::string& verb) {
    auto it = dialogue_.answers.find(verb);
    std::size_t& used = used_[verb];
    if (it == dialogue_.answers.end() || used >= it->second.size()) return DefaultAnswer(verb);
    return it->second[used++];
}

std::string DialogueServer::Expand(const std::string& text) const {
    std::string out = text;
    const std::string port = std::to_string(dataPort_);
    ReplaceAll(out, "{port}", port);
    ReplaceAll(out, "{epsv}", "|||" + port + "|");
    ReplaceAll(out, "{pasv}",
               "127,0,0,1," + std::to_string(dataPort_ >> 8) + "," + std::to_string(dataPort_ & 0xff));
    return out;
}

void DialogueServer::Serve(int control) {
    std::string pending;
    if (!Answer(control, "GREETING", Next("GREETING"))) return;
    for (int commands = 0; commands < kMaxCommands; ++commands) {
        auto command = ReadCommand(control, pending, stopFd_);
        if (!command) return;
        const std::string verb = VerbOf(*command);
        if (!Answer(control, verb, Next(verb))) return;
    }
}

bool DialogueServer::Answer(int control, const std::string& verb, const klvr::fuzz::Answer& answer) {
    if (verb == "EPSV" || verb == "PASV") {
        // a fresh listener for every passive request, as real servers do: a connection the client
        // made for an earlier, failed command is never taken for this one
        CloseFd(dataListenFd_);
        dataListenFd_ = Listen(dataPort_);
    }
    const bool transfer = IsDataCommand(verb);
    // An answer of no bytes is the willing server's: silence costs the client's whole time-out, so it
    // comes only where the input asks for it (!hang).
    std::string reply = Expand(answer.reply.empty() ? DefaultAnswer(verb).reply : answer.reply);
    if (!SendAll(control, reply, stopFd_)) return false;

    if (transfer && reply.front() == '1') {
        const std::string final = Expand(answer.final.value_or("226 Transfer complete\r\n"));
        if (answer.early && !SendAll(control, final, stopFd_)) return false;
        if (!answer.noConnect && dataListenFd_ >= 0) {
            // the client may give up on the data connection and go on with the control connection
            auto ready = WaitAny({{dataListenFd_, POLLIN, 0}, {control, POLLIN, 0}}, stopFd_);
            if (ready == 0u) SendData(answer);
        }
        CloseFd(dataListenFd_);
        if (!answer.early && !SendAll(control, final, stopFd_)) return false;
    }

    if (answer.hang) {
        std::string ignored;
        while (ReadCommand(control, ignored, stopFd_)) {
        }
        return false;
    }
    return !answer.close;
}

void DialogueServer::SendData(const klvr::fuzz::Answer& answer) {
    int data = Accept(dataListenFd_);
    if (data < 0) return;
    std::string_view bytes = answer.data;
    if (answer.cut) bytes = bytes.substr(0, *answer.cut);
    // small pieces, but never so many that one input takes seconds
    const std::size_t chunk =
        answer.chunk == 0 ? kMaxDataBytes : std::max(answer.chunk, bytes.size() / kMaxDataWrites);
    while (!bytes.empty()) {
        if (!SendAll(data, bytes.substr(0, chunk), stopFd_)) break;
        bytes.remove_prefix(std::min(chunk, bytes.size()));
    }
    if (answer.reset) {
        const linger abortive{1, 0};
        ::setsockopt(data, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    CloseFd(data);
}

}  // namespace klvr::fuzz
