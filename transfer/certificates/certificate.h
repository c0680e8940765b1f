#pragma once
// A certificate object: what the stores list, what the server presents, what the client presents.
#include <chrono>
#include <memory>
#include <string>

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

namespace klvr {

struct Certificate {
    std::string IssuedTo;      // subject's common name, else the whole subject on one line
    std::string IssuedBy;      // the same for the issuer
    std::string KeyName;       // SHA-1 fingerprint, 40 upper-case hexadecimal digits
    std::string FriendlyName;  // PKCS#12 friendly name, else the file name without its extension
    std::chrono::system_clock::time_point ValidFrom;
    std::chrono::system_clock::time_point ValidTo;

    std::shared_ptr<X509> x509;            // the certificate itself
    std::shared_ptr<EVP_PKEY> privateKey;  // present for client certificates of the "MY" stores
};

}  // namespace klvr
