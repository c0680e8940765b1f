#pragma once
// A temporary folder removed with everything in it when the test ends.
#include <string>

namespace klvr::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // path relative to the folder; parent folders are created
    std::string Write(const std::string& relative, const std::string& content) const;
    std::string MakeFolder(const std::string& relative) const;
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Opens a tree to everyone (servers that drop their privileges must read it).
void OpenToAll(const std::string& path);

}  // namespace klvr::test
