#pragma once
// A fresh temporary folder for one fuzz run, laid out so that a write that leaves the destination shows:
//   <root>/up/inside/       the destination (the client's LocalRoot)
//   <root>/up/outside/      a file and an empty folder that must stay as they are
// Links planted inside point into outside; the client must never write through them. The whole tree is
// removed when the object goes.
#include <string>

namespace klvr::fuzz {

class SandboxFolder {
  public:
    SandboxFolder();
    ~SandboxFolder();
    SandboxFolder(const SandboxFolder&) = delete;
    SandboxFolder& operator=(const SandboxFolder&) = delete;

    const std::string& Inside() const { return inside_; }
    // inside/link.bin -> outside/victim, inside/tree/sub -> outside/folder
    void PlantLinks();
    // The first thing found changed outside the destination, or a link the client made or bent inside
    // it; "" when all is as it should be.
    std::string Trespass() const;

  private:
    std::string root_;
    std::string up_;
    std::string inside_;
    std::string outside_;
    bool planted_ = false;
};

}  // namespace klvr::fuzz
