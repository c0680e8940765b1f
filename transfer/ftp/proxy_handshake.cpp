#include "transfer/ftp/proxy_handshake.h"

#include <arpa/inet.h>
#include <openssl/evp.h>

#include "transfer/ftp/ftp_error.h"
#include "transfer/ftp/session_broken.h"
#include "transfer/ftp/stream_io.h"

namespace klvr {
namespace {

std::string PortBytes(std::uint16_t port) {
    return {static_cast<char>(port >> 8), static_cast<char>(port & 0xff)};
}

std::string Base64(const std::string& in) {
    // EVP_EncodeBlock writes four characters for every three bytes begun, then a NUL
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void RefuseNul(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos)
        throw FtpError(std::string("The proxy ") + what + " holds a NUL character");
}

std::string Socks5Reason(unsigned char code) {
    switch (code) {
        case 1:
            return "general failure";
        case 2:
            return "connection not allowed by ruleset";
        case 3:
            return "network unreachable";
        case 4:
            return "host unreachable";
        case 5:
            return "connection refused";
        case 6:
            return "TTL expired";
        case 7:
            return "command not supported";
        case 8:
            return "address type not supported";
        default:
            return "error " + std::to_string(code);
    }
}

}  // namespace

void Socks4Handshake(ByteStream& stream, const std::string& host, std::uint16_t port,
                     const std::string& userId, Waiter& waiter) {
    RefuseNul(userId, "user name");
    RefuseNul(host, "target host");
    in_addr v4{};
    bool numeric = ::inet_pton(AF_INET, host.c_str(), &v4) == 1;
    std::string request = {4, 1};
    request += PortBytes(port);
    if (numeric) {
        request.append(reinterpret_cast<const char*>(&v4), 4);
    } else {
        request += std::string("\0\0\0\1", 4);  // SOCKS4a: the proxy resolves the name that follows
    }
    request += userId;
    request += '\0';
    if (!numeric) {
        request += host;
        request += '\0';
    }
    WriteAll(stream, request, waiter, "the SOCKS4 request");
    std::string answer = ReadExactly(stream, 8, waiter, "the SOCKS4 proxy's answer");
    if (answer[0] != 0) throw FtpError("The SOCKS4 proxy sent an unreadable answer");
    auto status = static_cast<unsigned char>(answer[1]);
    if (status != 90) {
        throw FtpError("The SOCKS4 proxy refused the connection to " + host + ":" + std::to_string(port) +
                       " (status " + std::to_string(status) + ")");
    }
}

void Socks5Handshake(ByteStream& stream, const std::string& host, std::uint16_t port, const std::string& user,
                     const std::string& password, Waiter& waiter) {
    if (host.size() > 255) throw FtpError("The host name is too long for a SOCKS5 proxy");
    if (user.size() > 255 || password.size() > 255)
        throw FtpError("The SOCKS5 user name or password is too long");
    bool withPassword = !user.empty();
    std::string greeting = withPassword ? std::string("\5\2\0\2", 4) : std::string("\5\1\0", 3);
    WriteAll(stream, greeting, waiter, "the SOCKS5 greeting");
    std::string choice = ReadExactly(stream, 2, waiter, "the SOCKS5 proxy's method choice");
    if (choice[0] != 5) throw FtpError("The SOCKS5 proxy sent an unreadable answer");
    auto method = static_cast<unsigned char>(choice[1]);
    if (method == 2 && withPassword) {
        std::string login = {1, static_cast<char>(user.size())};
        login += user;
        login += static_cast<char>(password.size());
        login += password;
        WriteAll(stream, login, waiter, "the SOCKS5 logon");
        std::string verdict = ReadExactly(stream, 2, waiter, "the SOCKS5 proxy's logon answer");
        if (verdict[1] != 0) throw FtpError("The SOCKS5 proxy refused the user name or password");
    } else if (method != 0) {
        throw FtpError(withPassword ? "The SOCKS5 proxy accepts none of the offered authentication methods"
                                    : "The SOCKS5 proxy accepts none of the offered authentication methods "
                                      "(it may want a user name and password)");
    }

    std::string request = {5, 1, 0};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        request += '\1';
        request.append(reinterpret_cast<const char*>(&v4), 4);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        request += '\4';
        request.append(reinterpret_cast<const char*>(&v6), 16);
    } else {
        request += '\3';
        request += static_cast<char>(host.size());
        request += host;
    }
    request += PortBytes(port);
    WriteAll(stream, request, waiter, "the SOCKS5 request");
    std::string head = ReadExactly(stream, 4, waiter, "the SOCKS5 proxy's answer");
    if (head[0] != 5) throw FtpError("The SOCKS5 proxy sent an unreadable answer");
    if (head[1] != 0) {
        throw FtpError("The SOCKS5 proxy refused the connection to " + host + ":" + std::to_string(port) +
                       ": " + Socks5Reason(static_cast<unsigned char>(head[1])));
    }
    // the bound address that follows is of no use to us, but must be read
    std::size_t rest = 0;
    switch (head[3]) {
        case 1:
            rest = 4;
            break;
        case 4:
            rest = 16;
            break;
        case 3:
            rest = static_cast<unsigned char>(ReadExactly(stream, 1, waiter, "the SOCKS5 answer")[0]);
            break;
        default:
            throw FtpError("The SOCKS5 proxy sent an unreadable answer");
    }
    ReadExactly(stream, rest + 2, waiter, "the SOCKS5 answer");
}

void HttpConnectHandshake(ByteStream& stream, const std::string& host, std::uint16_t port,
                          const std::string& user, const std::string& password, Waiter& waiter) {
    for (char c : host + user + password)
        if (c == '\r' || c == '\n' || c == '\0') throw FtpError("The proxy settings hold a line break");
    // an IPv6 address is bracketed, so that its colons are not taken for the port's
    const bool bracketed = host.find(':') != std::string::npos;
    std::string authority;
    if (bracketed) authority += '[';
    authority += host;
    if (bracketed) authority += ']';
    authority += ':';
    authority += std::to_string(port);
    std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (!user.empty()) request += "Proxy-Authorization: Basic " + Base64(user + ":" + password) + "\r\n";
    request += "\r\n";
    WriteAll(stream, request, waiter, "the HTTP CONNECT request");

    // The answer is read a byte at a time so that nothing of the tunnelled connection is taken with it.
    static constexpr std::size_t kMaxHead = 16384;
    std::string head;
    while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
        if (head.size() >= kMaxHead) throw FtpError("The HTTP proxy's answer is too long");
        char c;
        auto n = stream.Read(&c, 1);
        if (!n) {
            WaitReadable(stream, waiter, "the HTTP proxy's answer");
            continue;
        }
        if (*n == 0) throw SessionBroken("The HTTP proxy closed the connection");
        waiter.Activity();
        head += c;
    }
    std::string status = head.substr(0, head.find("\r\n"));
    // "HTTP/1.x 200 ..."
    auto space = status.find(' ');
    if (status.rfind("HTTP/", 0) != 0 || space == std::string::npos ||
        status.compare(space + 1, 1, "2") != 0) {
        throw FtpError("The HTTP proxy refused the tunnel to " + authority + ": " + status);
    }
}

}  // namespace klvr
