#include "transfer/ftp/stream_io.h"

#include "transfer/ftp/session_broken.h"

namespace klvr {

void WriteAll(ByteStream& stream, std::string_view data, Waiter& waiter, const std::string& what) {
    while (!data.empty()) {
        std::size_t n = stream.Write(data.data(), data.size());
        if (n == 0) {
            waiter.Wait(stream.Fd(), stream.PollEvents(false, true), "the peer to take " + what);
            continue;
        }
        waiter.Activity();
        data.remove_prefix(n);
    }
}

void WaitReadable(ByteStream& stream, Waiter& waiter, const std::string& what) {
    if (stream.HasBufferedInput()) return;
    waiter.Wait(stream.Fd(), stream.PollEvents(true, false), what);
}

std::string ReadExactly(ByteStream& stream, std::size_t size, Waiter& waiter, const std::string& what) {
    std::string data(size, '\0');
    std::size_t have = 0;
    while (have < size) {
        auto n = stream.Read(data.data() + have, size - have);
        if (!n) {
            WaitReadable(stream, waiter, what);
            continue;
        }
        if (*n == 0) throw SessionBroken("The connection closed while waiting for " + what);
        waiter.Activity();
        have += *n;
    }
    return data;
}

}  // namespace klvr
