#pragma once
// Builds a certificate object from OpenSSL's certificate, the way stores and the server's chain show it.
#include <openssl/types.h>

#include <string>

#include "transfer/certificates/certificate.h"

namespace klvr {

// Takes its own references to cert and key (key may be null). The friendly name is the certificate's
// PKCS#12 alias when it has one, else fallbackFriendlyName.
Certificate MakeCertificate(X509* cert, EVP_PKEY* key, const std::string& fallbackFriendlyName);

// The SHA-1 fingerprint as 40 upper-case hexadecimal digits.
std::string Fingerprint(X509* cert);

// A name's common name, else the whole name on one line.
std::string DisplayName(const X509_NAME* name);

}  // namespace klvr
