#pragma once
// The four certificate stores in folders of the test's own, so that no test reads or writes the real
// ones: the machine stores under a temporary folder (the module state's MachineCertStoreRoot), the user
// stores under a temporary XDG_DATA_HOME. Everything is put back and removed when the object goes.
#include <filesystem>
#include <optional>
#include <string>

namespace klvr::test {

class TestCertStores {
  public:
    TestCertStores();
    ~TestCertStores();
    TestCertStores(const TestCertStores&) = delete;
    TestCertStores& operator=(const TestCertStores&) = delete;

    // The folder of store "MY" or "ROOT" at location 0 (machine) or 1 (user); not created.
    std::filesystem::path Folder(int location, const std::string& storeName) const;

    // Copies file into the store (creating its folder) under the name asName; returns the copy's path.
    std::filesystem::path Put(int location, const std::string& storeName, const std::filesystem::path& file,
                              const std::string& asName) const;

    std::filesystem::path machineRoot;  // what MachineCertStoreRoot points at
    std::filesystem::path dataHome;     // what XDG_DATA_HOME points at

  private:
    std::filesystem::path root_;
    std::string savedMachineRoot_;
    std::optional<std::string> savedDataHome_;
};

}  // namespace klvr::test
