#include "transfer/ftp/resolver.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "transfer/ftp/ftp_error.h"

namespace klvr {
namespace {

struct Lookup {
    std::mutex mutex;
    int wakeFd = -1;
    bool done = false;
    int status = 0;
    std::vector<SocketAddress> addresses;
    ~Lookup() {
        if (wakeFd >= 0) ::close(wakeFd);
    }
};

void RunLookup(const std::shared_ptr<Lookup>& lookup, const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* result = nullptr;
    std::string service = std::to_string(port);
    int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    std::vector<SocketAddress> addresses;
    for (addrinfo* ai = result; status == 0 && ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress address;
        std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
        address.length = ai->ai_addrlen;
        addresses.push_back(address);
    }
    if (result) ::freeaddrinfo(result);
    std::lock_guard lock(lookup->mutex);
    lookup->status = status;
    lookup->addresses = std::move(addresses);
    lookup->done = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(lookup->wakeFd, &one, sizeof one);
}

}  // namespace

std::vector<SocketAddress> Resolve(const std::string& host, std::uint16_t port, Waiter& waiter) {
    if (auto numeric = SocketAddress::FromNumeric(host, port)) return {*numeric};

    auto lookup = std::make_shared<Lookup>();
    lookup->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (lookup->wakeFd < 0)
        throw FtpError(std::string("Cannot resolve ") + host + ": " + std::strerror(errno));
    std::thread(RunLookup, lookup, host, port).detach();
    for (;;) {
        {
            std::lock_guard lock(lookup->mutex);
            if (lookup->done) break;
        }
        waiter.Wait(lookup->wakeFd, POLLIN, "the address of " + host);
    }
    if (lookup->status != 0 || lookup->addresses.empty()) {
        throw FtpError("Cannot resolve host name \"" + host +
                       "\": " + (lookup->status ? ::gai_strerror(lookup->status) : "no address"));
    }
    return lookup->addresses;
}

std::vector<SocketAddress> InterleaveFamilies(const std::vector<SocketAddress>& addresses) {
    if (addresses.empty()) return {};
    const int first = addresses.front().Family();
    std::vector<SocketAddress> preferred, other, ordered;
    for (const auto& a : addresses) (a.Family() == first ? preferred : other).push_back(a);
    for (std::size_t i = 0; i < preferred.size() || i < other.size(); ++i) {
        if (i < preferred.size()) ordered.push_back(preferred[i]);
        if (i < other.size()) ordered.push_back(other[i]);
    }
    return ordered;
}

}  // namespace klvr
