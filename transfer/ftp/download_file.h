#pragma once
// The local side of one download. A file comes into a hidden partial file beside its destination and
// takes the final name only once it is complete, so a failed transfer never truncates, replaces or leaves
// half of a file under its final name. A binary download that stops early keeps its bytes there, with a
// trailer naming the remote version, for a later attempt to go on with. Only an unfinished copy that the
// caller found to be the beginning of the remote file is gone on with, in a partial file of its own.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/ftp/file_evidence.h"
#include "transfer/ftp/local_folder.h"
#include "transfer/ftp/partial_file.h"

namespace klvr {

class DownloadFile {
  public:
    // The partial file of name left by an earlier download, when its trailer is intact.
    static std::optional<PartialState> FindPartial(const LocalFolder& folder, const std::string& name);

    // A new partial file for name (an earlier one is replaced). With a version, the bytes stay there
    // when the download stops early.
    static DownloadFile Fresh(const LocalFolder& folder, const std::string& name,
                              std::optional<PartialVersion> resumable);
    // The partial file of name, written on after its state.length bytes.
    static DownloadFile ContinuePartial(const LocalFolder& folder, const std::string& name,
                                        const PartialState& state);
    // A new partial file for name holding the first length bytes of the file name itself, written on
    // after them: the file under the final name stays as it is until the download is complete.
    static DownloadFile FromCopy(const LocalFolder& folder, const std::string& name, std::int64_t length,
                                 std::optional<PartialVersion> resumable);

    DownloadFile(DownloadFile&& other) noexcept;
    DownloadFile& operator=(DownloadFile&&) = delete;
    // Neither committed nor discarded: a resumable partial file short of its version's size keeps its
    // proven bytes and gets its trailer, any other partial file is removed.
    ~DownloadFile();

    void Write(std::string_view bytes);
    // Moves count bytes waiting in pipe into the file inside the kernel; where the file system cannot
    // take them that way, they come through memory, and TakesPipe() turns false.
    void WriteFromPipe(int pipe, std::size_t count);
    bool TakesPipe() const { return takesPipe_; }
    // The remote version became known once the download had begun: stopping early keeps the bytes.
    void SetResumable(PartialVersion version) { version_ = std::move(version); }
    // Bytes beyond end are not proven to continue the same content (a resumed transfer whose first
    // bytes are still to be compared): a stop keeps only the first end bytes. Nothing: all are proven.
    void KeepOnlyUpTo(std::optional<std::int64_t> end) { provenEnd_ = end; }
    std::int64_t BytesOnDisk() const;
    int Fd() const { return fd_; }
    // Stamps the file with modified (when given), records where it came from (when given), closes it and
    // gives it the final name. With replace false a file that appeared under that name
    // meanwhile stays: the result is then false and the download is dropped.
    bool Commit(std::optional<std::int64_t> modified, bool replace = true,
                const std::optional<StoredOrigin>& origin = std::nullopt);
    // Drops what this download wrote: the partial file is removed.
    void Discard();

  private:
    DownloadFile(LocalFolder folder, std::string name, std::string partial, int fd,
                 std::optional<PartialVersion> version)
        : folder_(std::move(folder)),
          name_(std::move(name)),
          partial_(std::move(partial)),
          fd_(fd),
          version_(std::move(version)) {}
    void Close();

    LocalFolder folder_;
    std::string name_;
    std::string partial_;  // empty once committed or moved from
    int fd_ = -1;
    std::optional<PartialVersion> version_;
    std::optional<std::int64_t> provenEnd_;
    bool takesPipe_ = true;
};

}  // namespace klvr
