#pragma once
// Whether a server certificate names the host the user gave, as TLS clients decide it.
#include <string>

#include "transfer/certificates/certificate.h"

namespace klvr {

// True when the certificate's IssuedTo is host exactly, or when OpenSSL's RFC 6125 check accepts host:
// a name against the subjectAltName DNS entries (a wildcard standing for one whole left-most label,
// names compared without regard to case; the subject's common name only when there are no DNS
// entries), an IPv4 or IPv6 address against the IP entries.
bool CertificateNamesHost(const Certificate& certificate, const std::string& host);

}  // namespace klvr
