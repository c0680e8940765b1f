#include "transfer/certificates/certificate_host.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

namespace klvr {
namespace {

bool IsAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

bool CertificateNamesHost(const Certificate& certificate, const std::string& host) {
    if (certificate.IssuedTo == host) return true;
    if (!certificate.x509 || host.empty()) return false;
    // "f*o.example.com" is a pattern browsers and RFC 6125 clients no longer honour
    const int matched = IsAddress(host) ? X509_check_ip_asc(certificate.x509.get(), host.c_str(), 0)
                                        : X509_check_host(certificate.x509.get(), host.data(), host.size(),
                                                          X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr);
    ERR_clear_error();
    return matched == 1;
}

}  // namespace klvr
