#include "transfer/certificates/certificate_store.h"

#include "settings/settings_array.h"
#include "transfer/certificates/certificate_error.h"
#include "transfer/certificates/certificate_file.h"
#include "transfer/certificates/store_folders.h"

namespace klvr {

void CertificateStore::Refresh() {
    certificates_.clear();
    const auto report = [this](const std::string& text) {
        if (OnError) OnError(text);
    };
    // An unknown store name or location throws; a folder that cannot be read is an empty store.
    const std::filesystem::path folder = StoreFolder(StoreLocation, StoreName);
    std::vector<std::filesystem::path> files;
    try {
        files = StoreFiles(folder);
    } catch (const CertificateError& e) {
        report(e.what());
    }
    for (const auto& file : files) {
        try {
            for (auto& certificate : ReadCertificateFile(file))
                if (Lists(certificate)) certificates_.push_back(std::move(certificate));
        } catch (const std::exception& e) {
            report("Certificate file " + file.string() + " passed over: " + e.what());
        }
    }
}

const Certificate& CertificateStore::Item(int index) const {
    if (index < 1 || index > Count()) throw SubscriptError();
    return certificates_[static_cast<std::size_t>(index - 1)];
}

}  // namespace klvr
