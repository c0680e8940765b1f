#include "transfer/certificates/system_bundle.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace klvr {
namespace {

using Name = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;

struct BundleEntry {
    std::string der;
    bool withTrust = false;  // "TRUSTED CERTIFICATE": OpenSSL's trust settings follow the certificate
    bool taken = false;
};

// The certificates of the bundle, still encoded. A bundle that breaks off midway gives none, as
// OpenSSL's own reading of it does.
std::vector<BundleEntry> ReadBundle() {
    const char* path = secure_getenv(X509_get_default_cert_file_env());
    if (path == nullptr) path = X509_get_default_cert_file();
    std::vector<BundleEntry> entries;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path, "r"), &BIO_free);
    if (!bio) {
        ERR_clear_error();
        return entries;
    }
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        if (PEM_read_bio(bio.get(), &name, &header, &data, &length) != 1) break;
        const std::string_view kind(name);
        if (kind == PEM_STRING_X509 || kind == PEM_STRING_X509_OLD || kind == PEM_STRING_X509_TRUSTED) {
            entries.push_back(
                {std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)),
                 kind == PEM_STRING_X509_TRUSTED});
        }
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
    const unsigned long last = ERR_peek_last_error();
    const bool ended = ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
    ERR_clear_error();
    if (!ended) entries.clear();
    return entries;
}

X509* Decode(const BundleEntry& entry) {
    const auto* p = reinterpret_cast<const unsigned char*>(entry.der.data());
    const long length = static_cast<long>(entry.der.size());
    return entry.withTrust ? d2i_X509_AUX(nullptr, &p, length) : d2i_X509(nullptr, &p, length);
}

// The subject alone, found by stepping over the fields before it: the whole certificate is decoded only
// for the few whose subject is wanted.
Name SubjectOf(const BundleEntry& entry) {
    const auto* p = reinterpret_cast<const unsigned char*>(entry.der.data());
    long remaining = static_cast<long>(entry.der.size());
    auto step = [&](bool into) {
        const unsigned char* start = p;
        long length = 0;
        int tag = 0;
        int kind = 0;
        const int r = ASN1_get_object(&p, &length, &tag, &kind, remaining);
        if ((r & 0x80) != 0 || r == 0x21) return false;  // broken, or of indefinite length, never DER
        remaining -= p - start;
        if (into) return true;
        if (length > remaining) return false;
        p += length;
        remaining -= length;
        return true;
    };
    // Certificate, tbsCertificate, the optional [0] version, serialNumber, signature, issuer, validity
    bool found = step(true) && step(true);
    if (found && remaining > 0 && *p == 0xA0) found = step(false);
    for (int field = 0; found && field < 4; ++field) found = step(false);
    if (found) {
        if (X509_NAME* subject = d2i_X509_NAME(nullptr, &p, remaining)) return Name(subject, &X509_NAME_free);
    }
    ERR_clear_error();
    std::unique_ptr<X509, decltype(&X509_free)> whole(Decode(entry), &X509_free);
    ERR_clear_error();
    return Name(whole ? X509_NAME_dup(X509_get_subject_name(whole.get())) : nullptr, &X509_NAME_free);
}

constexpr std::size_t kMaxNames = 64;  // a chain is never longer; a loop of names ends here

}  // namespace

void AddBundleCertificatesFor(X509_STORE* store, X509* leaf, STACK_OF(X509) * chain) {
    if (store == nullptr || leaf == nullptr) return;
    std::vector<BundleEntry> bundle = ReadBundle();
    if (bundle.empty()) return;
    std::vector<Name> subjects;
    subjects.reserve(bundle.size());
    for (const auto& entry : bundle) subjects.push_back(SubjectOf(entry));

    std::vector<Name> wanted;
    auto want = [&](const X509_NAME* name) {
        if (name == nullptr || wanted.size() >= kMaxNames) return;
        for (const auto& w : wanted)
            if (X509_NAME_cmp(w.get(), name) == 0) return;
        if (X509_NAME* copy = X509_NAME_dup(name)) wanted.emplace_back(copy, &X509_NAME_free);
    };
    auto wantBoth = [&](X509* x) {
        want(X509_get_subject_name(x));
        want(X509_get_issuer_name(x));
    };
    wantBoth(leaf);
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) wantBoth(sk_X509_value(chain, i));

    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                        &X509_STORE_CTX_free);
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store, nullptr, nullptr) != 1) {
        ERR_clear_error();
        return;
    }
    // wanted grows while it is walked: each certificate taken brings its issuer's name
    for (std::size_t n = 0; n < wanted.size(); ++n) {
        for (std::size_t i = 0; i < bundle.size(); ++i) {
            if (bundle[i].taken || !subjects[i] || X509_NAME_cmp(subjects[i].get(), wanted[n].get()) != 0)
                continue;
            bundle[i].taken = true;
            std::unique_ptr<X509, decltype(&X509_free)> x(Decode(bundle[i]), &X509_free);
            if (!x) continue;
            X509_STORE_add_cert(store, x.get());
            want(X509_get_issuer_name(x.get()));
        }
        // what the store finds by this name itself (its folder, the ROOT stores) may be issued by a
        // certificate that only the bundle holds
        if (STACK_OF(X509)* own = X509_STORE_CTX_get1_certs(ctx.get(), wanted[n].get())) {
            for (int i = 0; i < sk_X509_num(own); ++i) want(X509_get_issuer_name(sk_X509_value(own, i)));
            sk_X509_pop_free(own, X509_free);
        }
    }
    ERR_clear_error();  // a certificate the store already holds, a name nobody has
}

}  // namespace klvr
