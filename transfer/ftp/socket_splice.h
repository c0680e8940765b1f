#pragma once
// Moves the bytes of a socket into a pipe inside the kernel (splice), from where the file that takes
// them pulls them in, so that plain data never passes through user space. One pipe serves every
// transfer of a session; it is empty between two moves.
#include <cstddef>
#include <optional>

namespace klvr {

class SocketSplice {
  public:
    SocketSplice() = default;
    ~SocketSplice();
    SocketSplice(const SocketSplice&) = delete;
    SocketSplice& operator=(const SocketSplice&) = delete;

    // False when the kernel offers no pipe or cannot splice from this kind of socket: the bytes then
    // come through a buffer.
    bool Usable();
    // Moves what the socket has at hand, at most max bytes, into the pipe: how many (> 0), 0 at the end
    // of the stream, nullopt when nothing is at hand yet. A broken connection raises SessionBroken; a
    // socket that cannot be spliced makes Usable() false and returns nullopt.
    std::optional<std::size_t> FromSocket(int socket, std::size_t max);
    // The pipe's end that holds the bytes of the last FromSocket; its taker must empty it.
    int Output() const { return read_; }
    // The taker failed to empty the pipe: what is left in it is dropped with it.
    void Discard();

  private:
    bool Open();
    void Close();

    int read_ = -1;
    int write_ = -1;
    bool failed_ = false;
    std::size_t capacity_ = 0;
};

}  // namespace klvr
