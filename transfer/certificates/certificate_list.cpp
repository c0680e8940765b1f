#include <openssl/x509v3.h>

#include "settings/settings_array.h"
#include "transfer/certificates/certificate_store.h"

namespace klvr {

void CertificateList::Refresh() {
    // The entries the selection pointed at are gone with the reload.
    Select(0);
    CertificateStore::Refresh();
}

void CertificateList::Select(int index) {
    if (index > Count()) throw SubscriptError();
    const int selected = index < 1 ? 0 : index;
    if (selected == selectedIndex_) return;
    selectedIndex_ = selected;
    if (OnSelectionChanged) OnSelectionChanged();
}

void CertificateList::Accept() {
    if (selectedIndex_ >= 1 && OnAccept) OnAccept();
}

bool CertificateList::Lists(const Certificate& certificate) const {
    if (CertificateUsage == 0 || !certificate.x509) return true;
    const auto wanted = static_cast<std::uint32_t>(CertificateUsage);
    // Without the extension OpenSSL reports every bit set, which is what such a certificate allows.
    return (X509_get_key_usage(certificate.x509.get()) & wanted) == wanted;
}

}  // namespace klvr
