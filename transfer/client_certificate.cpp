#include "transfer/client_certificate.h"

#include "settings/numeric_text.h"
#include "transfer/certificates/certificate_error.h"
#include "util/printable_text.h"

namespace klvr {
namespace {

[[noreturn]] void Refuse(const std::vector<std::string>& parts, const std::string& fault) {
    std::string reference;
    for (std::size_t i = 0; i < parts.size(); ++i) reference += (i ? ":" : "") + parts[i];
    throw CertificateReferenceError("ClientCertificate [" + Printable(reference) + "] " + fault);
}

}  // namespace

std::optional<Certificate> FindReferencedCertificate(CertificateStore& store,
                                                     const std::vector<std::string>& parts) {
    if (parts.size() < 5) {
        Refuse(parts, "is not a certificate reference: it has " + std::to_string(parts.size()) +
                          " of the 5 parts STORE:IssuedBy:IssuedTo:LOCATION:KEYNAME");
    }
    try {
        store.StoreLocation = ToInt16(parts[3]);
    } catch (const ConversionError&) {
        Refuse(parts, "names the store location [" + Printable(parts[3]) +
                          "], which is not a number (0 local machine, 1 current user)");
    }
    store.StoreName = parts[0];
    try {
        store.Refresh();
    } catch (const CertificateError& e) {
        Refuse(parts, "names a store that cannot be opened: " + Printable(e.what()));
    }
    for (const Certificate& certificate : store.Certificates())
        if (certificate.KeyName == parts[4]) return certificate;
    return std::nullopt;
}

}  // namespace klvr
