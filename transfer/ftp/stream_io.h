#pragma once
// Blocking helpers over a non-blocking stream, waiting through the Waiter.
#include <cstddef>
#include <string>
#include <string_view>

#include "transfer/ftp/byte_stream.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

void WriteAll(ByteStream& stream, std::string_view data, Waiter& waiter, const std::string& what);
// Exactly size bytes; the peer closing first raises SessionBroken naming what.
std::string ReadExactly(ByteStream& stream, std::size_t size, Waiter& waiter, const std::string& what);
// Waits until the stream has something to read (or its end).
void WaitReadable(ByteStream& stream, Waiter& waiter, const std::string& what);

}  // namespace klvr
