#pragma once
// The system's CA bundle file, read for what one chain can reach instead of whole: decoding its hundred
// and more certificates (their public keys above all) took most of the time a run needs to start.
#include <openssl/x509.h>

namespace klvr {

// Adds to store every certificate of the system's bundle (SSL_CERT_FILE, else OpenSSL's default file)
// that a chain from leaf, with the further certificates the server sent, could meet: those named as the
// subject or the issuer of a certificate of that chain, of one so added, or of one the store finds
// itself. What the bundle does not hold, or cannot be read, adds nothing.
void AddBundleCertificatesFor(X509_STORE* store, X509* leaf, STACK_OF(X509) * chain);

}  // namespace klvr
