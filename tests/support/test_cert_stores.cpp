#include "support/test_cert_stores.h"

#include <cstdlib>
#include <stdexcept>

#include "host/module_state.h"
#include "transfer/certificates/store_folders.h"

namespace klvr::test {

namespace fs = std::filesystem;

TestCertStores::TestCertStores() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/klvr-stores-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("test stores: mkdtemp failed");
    root_ = pattern;
    machineRoot = root_ / "machine";
    dataHome = root_ / "data";
    savedMachineRoot_ = moduleState().MachineCertStoreRoot;
    if (const char* old = std::getenv("XDG_DATA_HOME")) savedDataHome_ = old;
    moduleState().MachineCertStoreRoot = machineRoot.string();
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
}

TestCertStores::~TestCertStores() {
    moduleState().MachineCertStoreRoot = savedMachineRoot_;
    if (savedDataHome_)
        ::setenv("XDG_DATA_HOME", savedDataHome_->c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path TestCertStores::Folder(int location, const std::string& storeName) const {
    return StoreFolder(location, storeName);
}

fs::path TestCertStores::Put(int location, const std::string& storeName, const fs::path& file,
                             const std::string& asName) const {
    const fs::path folder = Folder(location, storeName);
    fs::create_directories(folder);
    const fs::path target = folder / asName;
    fs::copy_file(file, target, fs::copy_options::overwrite_existing);
    return target;
}

}  // namespace klvr::test
