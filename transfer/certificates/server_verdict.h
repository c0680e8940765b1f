#pragma once
// How a server's certificate is judged: OpenSSL's verification of the presented chain, reduced to the
// three verdicts that the Authenticate event carries.
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "transfer/certificates/certificate.h"

namespace klvr {

struct ServerCertificateVerdict {
    bool rootTrusted = false;     // the chain ends in a trusted root
    bool dateValid = false;       // no certificate of the chain is expired or not yet valid
    bool signatureValid = false;  // no bad signature and no other verification error
    std::vector<int> errors;      // each X509_V_ERR_* met, once, in the order OpenSSL met them
    std::string description;      // OpenSSL's texts of those errors, "; "-separated; empty when none

    bool Accepted() const { return rootTrusted && dateValid && signatureValid; }
};

// Verifies leaf, with the further certificates the server sent (may be null), against the system's
// trusted CAs and both "ROOT" stores, and maps every error met to the verdicts. The host name is not
// checked: the Authenticate handler compares IssuedTo with the host itself. Never throws for a bad
// certificate; a ROOT store file that cannot be read is passed over.
ServerCertificateVerdict JudgeServerCertificate(X509* leaf, STACK_OF(X509) * chain);
ServerCertificateVerdict JudgeServerCertificate(const Certificate& leaf,
                                                const std::vector<Certificate>& chain);

// The same against the given trusted roots only (tests, and callers that hold their own store).
ServerCertificateVerdict JudgeServerCertificate(X509* leaf, STACK_OF(X509) * chain, X509_STORE* trusted);

// A store of the system's trusted CAs and the certificates of both "ROOT" stores.
std::shared_ptr<X509_STORE> ServerTrustStore();

}  // namespace klvr
