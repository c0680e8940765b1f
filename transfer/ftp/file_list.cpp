#include "transfer/ftp/file_list.h"

#include "transfer/ftp/ftp_error.h"

namespace klvr {

const FileList::Entry& FileList::At(int index) const {
    if (index < 1 || index > Count())
        throw FtpError("File list index " + std::to_string(index) + " out of range");
    return items_[static_cast<std::size_t>(index - 1)];
}

const std::string& FileList::Item(int index) const {
    return At(index).text;
}

std::int64_t FileList::Number(int index) const {
    return At(index).number;
}

const CopyProof& FileList::Proof(int index) const {
    return At(index).proof;
}

void FileList::Add(const std::string& text, std::int64_t number, const CopyProof& proof) {
    items_.push_back({text, number, proof});
}

}  // namespace klvr
