#pragma once
// The list of remote file names that MGet leaves behind for the caller (for example, to delete them),
// each with what its download proved about the local copy.
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/ftp/copy_proof.h"

namespace klvr {

class FileList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    // Index from 1; throws FtpError outside 1..Count.
    const std::string& Item(int index) const;
    std::int64_t Number(int index) const;
    const CopyProof& Proof(int index) const;
    void Add(const std::string& text, std::int64_t number, const CopyProof& proof = {});

  private:
    struct Entry {
        std::string text;
        std::int64_t number = 0;
        CopyProof proof;
    };
    const Entry& At(int index) const;
    std::vector<Entry> items_;
};

}  // namespace klvr
