#pragma once
// The list of remote file names that MGet leaves behind for the caller (for example, to delete them).
#include <cstdint>
#include <string>
#include <vector>

namespace klvr {

class FileList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    // Index from 1; throws FtpError outside 1..Count.
    const std::string& Item(int index) const;
    std::int64_t Number(int index) const;
    void Add(const std::string& text, std::int64_t number);

  private:
    struct Entry {
        std::string text;
        std::int64_t number = 0;
    };
    const Entry& At(int index) const;
    std::vector<Entry> items_;
};

}  // namespace klvr
