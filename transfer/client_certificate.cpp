#include "transfer/client_certificate.h"

#include "settings/numeric_text.h"
#include "settings/settings_array.h"

namespace klvr {

std::optional<Certificate> FindReferencedCertificate(CertificateStore& store,
                                                     const std::vector<std::string>& parts) {
    if (parts.size() < 5) throw SubscriptError();
    store.StoreLocation = ToInt16(parts[3]);
    store.StoreName = parts[0];
    store.Refresh();
    for (const Certificate& certificate : store.Certificates())
        if (certificate.KeyName == parts[4]) return certificate;
    return std::nullopt;
}

}  // namespace klvr
