#include "transfer/certificates/certificate_fields.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>

#include "transfer/certificates/certificate_error.h"

namespace klvr {
namespace {

std::string CommonName(const X509_NAME* name) {
    // The last common name is the most specific one when a name carries several.
    int index = -1;
    for (int i = X509_NAME_get_index_by_NID(name, NID_commonName, -1); i >= 0;
         i = X509_NAME_get_index_by_NID(name, NID_commonName, i))
        index = i;
    if (index < 0) return {};
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) return {};
    std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

std::string OneLine(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio) return {};
    // Readable UTF-8 rather than escaped bytes; control characters stay escaped so the text is one line.
    const unsigned long flags = XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB;
    if (X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) return {};
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::chrono::system_clock::time_point TimePoint(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return {};
    return std::chrono::system_clock::from_time_t(timegm(&tm));
}

}  // namespace

std::string DisplayName(const X509_NAME* name) {
    if (name == nullptr) return {};
    std::string cn = CommonName(name);
    return cn.empty() ? OneLine(name) : cn;
}

std::string Fingerprint(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha1(), digest, &length) != 1)
        throw CertificateError("the certificate's fingerprint cannot be computed");
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    return text;
}

Certificate MakeCertificate(X509* cert, EVP_PKEY* key, const std::string& fallbackFriendlyName) {
    if (cert == nullptr) throw CertificateError("no certificate");
    Certificate c;
    c.IssuedTo = DisplayName(X509_get_subject_name(cert));
    c.IssuedBy = DisplayName(X509_get_issuer_name(cert));
    c.KeyName = Fingerprint(cert);
    int aliasLength = 0;
    const unsigned char* alias = X509_alias_get0(cert, &aliasLength);
    c.FriendlyName = alias != nullptr && aliasLength > 0 ? std::string(reinterpret_cast<const char*>(alias),
                                                                       static_cast<std::size_t>(aliasLength))
                                                         : fallbackFriendlyName;
    c.ValidFrom = TimePoint(X509_get0_notBefore(cert));
    c.ValidTo = TimePoint(X509_get0_notAfter(cert));
    X509_up_ref(cert);
    c.x509 = std::shared_ptr<X509>(cert, &X509_free);
    if (key != nullptr) {
        EVP_PKEY_up_ref(key);
        c.privateKey = std::shared_ptr<EVP_PKEY>(key, &EVP_PKEY_free);
    }
    return c;
}

}  // namespace klvr
