#pragma once
// The local destination as open folders. Files and sub-folders are made relative to a folder handle and
// no symbolic link below the folder the user chose is ever followed, so neither a remote name nor a link
// planted in the destination can put bytes outside it. The folder tree, the flat run, Get, MGet and the
// ZIP unpacking all write through this one layer.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transfer/ftp/ftp_error.h"
#include "util/unique_fd.h"

namespace klvr {

// A symbolic link where a download would write or descend. It is reported and passed over, never followed.
class LocalLinkMet : public FtpError {
  public:
    explicit LocalLinkMet(const std::string& path)
        : FtpError("[" + path + "] is a symbolic link; it is not followed"), path_(path) {}
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// What stands under a name in a local folder, the link itself rather than what it points to.
struct LocalEntry {
    enum Kind { kNone, kFile, kFolder, kLink, kOther };
    Kind kind = kNone;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970-01-01 UTC
};

class LocalFolder {
  public:
    // The folder at path as given: the user chose it, so it may be reached through links.
    static LocalFolder Open(const std::string& path);
    // A folder that is not there: it holds nothing, and nothing can be made in it. A dry run looks into
    // it where the run would make the folder.
    static LocalFolder Missing(const std::string& path);

    // The folder name inside this one, created first when create is set and it is missing. Raises
    // LocalLinkMet when name is a symbolic link.
    LocalFolder Child(const std::string& name, bool create) const;
    // The folder name inside this one, Missing when it cannot be opened. Raises LocalLinkMet for a link.
    LocalFolder ChildIfThere(const std::string& name) const;
    LocalEntry Inspect(const std::string& name) const;
    // A file descriptor for name (O_NOFOLLOW and O_CLOEXEC added, mode 0666 when created), or -1 with
    // errno set.
    int OpenFile(const std::string& name, int flags) const;
    void Rename(const std::string& from, const std::string& to) const;
    // The same, unless something stands under `to` already: then false, and nothing moves.
    bool RenameNoReplace(const std::string& from, const std::string& to) const;
    // RenameNoReplace's way on file systems that lack a rename which refuses to replace: a second name
    // `to` for the file, then `from` removed. False when `to` is taken; a file system that makes no
    // hard links either is refused with FtpError, never replaced.
    bool LinkNoReplace(const std::string& from, const std::string& to) const;
    // Removes the file name; a missing one is no failure.
    void Remove(const std::string& name) const;
    // Bytes an unprivileged writer may still use on the folder's file system; nothing when unknown.
    std::optional<std::uint64_t> FreeBytes() const;

    int Fd() const { return fd_->get(); }
    // The path the folder was reached by, for messages.
    const std::string& Path() const { return path_; }
    std::string PathOf(const std::string& name) const;

  private:
    LocalFolder(std::shared_ptr<UniqueFd> fd, std::string path)
        : fd_(std::move(fd)), path_(std::move(path)) {}

    std::shared_ptr<UniqueFd> fd_;
    std::string path_;
};

// What stands at name in the folder at path, a link as a link; nothing when that folder cannot be
// opened (what writes there then reports it in its own words).
LocalEntry LocalEntryAt(const std::string& path, const std::string& name);

// The folder at path. The part of path that lies below root is entered one folder at a time without
// following a link (each created when missing if create is set); root itself, and a path that does not
// lie below root (or an empty root), are taken as given.
LocalFolder OpenLocalFolder(const std::string& root, const std::string& path, bool create);
// OpenLocalFolder without creating anything: a folder that cannot be opened is Missing.
LocalFolder OpenLocalFolderIfThere(const std::string& root, const std::string& path);

// The folder holding path's last component, opened as OpenLocalFolder does without creating anything,
// and that component.
struct LocalPlace {
    LocalFolder folder;
    std::string name;
};
LocalPlace LocalPlaceOf(const std::string& root, const std::string& path);

}  // namespace klvr
