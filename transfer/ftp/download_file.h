#pragma once
// The local side of a download. A fresh download goes into a temporary file next to the target that
// replaces the target only once the transfer completed, so a failed transfer never truncates or loses
// an existing file. A resumed download appends to the file itself.
#include <cstdint>
#include <string>
#include <string_view>

namespace klvr {

class DownloadFile {
  public:
    // A temporary file in the target's folder (target itself untouched until Commit).
    static DownloadFile Fresh(const std::string& target);
    // The existing file, cut to offset bytes, written from there on.
    static DownloadFile Resume(const std::string& target, std::int64_t offset);

    DownloadFile(DownloadFile&& other) noexcept;
    DownloadFile& operator=(DownloadFile&&) = delete;
    ~DownloadFile();  // without Commit: the temporary file is removed

    void Write(std::string_view bytes);
    // Closes the file and, for a fresh download, renames it over the target.
    void Commit();
    const std::string& WrittenPath() const { return tempPath_.empty() ? target_ : tempPath_; }

  private:
    DownloadFile(std::string target, std::string tempPath, int fd)
        : target_(std::move(target)), tempPath_(std::move(tempPath)), fd_(fd) {}

    std::string target_;
    std::string tempPath_;  // empty when writing to the target itself
    int fd_ = -1;
};

}  // namespace klvr
