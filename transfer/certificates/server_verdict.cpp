#include "transfer/certificates/server_verdict.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <memory>

#include "transfer/certificates/certificate_error.h"
#include "transfer/certificates/certificate_store.h"
#include "transfer/certificates/system_bundle.h"

namespace klvr {
namespace {

// OpenSSL stops at the first error unless the callback says go on; going on lets one certificate be
// found both expired and untrusted.
int CollectAndContinue(int ok, X509_STORE_CTX* ctx) {
    if (ok == 0) {
        auto* errors = static_cast<std::vector<int>*>(X509_STORE_CTX_get_app_data(ctx));
        const int error = X509_STORE_CTX_get_error(ctx);
        if (std::find(errors->begin(), errors->end(), error) == errors->end()) errors->push_back(error);
    }
    return 1;
}

enum class Verdict { Date, Root, Signature };

Verdict VerdictOf(int error) {
    switch (error) {
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return Verdict::Date;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED:
            return Verdict::Root;
        default:
            return Verdict::Signature;
    }
}

void AddCertificates(X509_STORE* store, int location) {
    CertificateStore roots;
    roots.StoreLocation = location;
    roots.StoreName = "ROOT";
    try {
        roots.Refresh();  // unreadable files are passed over: they trust nothing
    } catch (const CertificateError&) {
        return;  // no home folder, so no current-user store to trust
    }
    for (const auto& c : roots.Certificates()) X509_STORE_add_cert(store, c.x509.get());
    // Adding a certificate the store already holds is not an error worth keeping.
    ERR_clear_error();
}

// With bundle false, the system's CAs come only from its hashed folder, where a chain's issuer is
// looked up by name when needed; with bundle true the bundle file is read whole besides.
std::shared_ptr<X509_STORE> TrustStore(bool bundle) {
    std::shared_ptr<X509_STORE> store(X509_STORE_new(), &X509_STORE_free);
    if (!store) throw CertificateError("out of memory");
    if (bundle) {
        X509_STORE_set_default_paths(store.get());
    } else if (X509_LOOKUP* folder = X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir())) {
        X509_LOOKUP_add_dir(folder, nullptr, X509_FILETYPE_DEFAULT);
    }
    ERR_clear_error();
    AddCertificates(store.get(), 0);
    AddCertificates(store.get(), 1);
    return store;
}

}  // namespace

std::shared_ptr<X509_STORE> ServerTrustStore() {
    return TrustStore(true);
}

ServerCertificateVerdict JudgeServerCertificate(X509* leaf, STACK_OF(X509) * chain, X509_STORE* trusted) {
    ServerCertificateVerdict v;
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                        &X509_STORE_CTX_free);
    if (leaf == nullptr || trusted == nullptr || !ctx ||
        X509_STORE_CTX_init(ctx.get(), trusted, leaf, chain) != 1) {
        v.errors.push_back(X509_V_ERR_UNSPECIFIED);
    } else {
        // The checks a TLS client makes of a server's chain, the host name aside.
        X509_STORE_CTX_set_default(ctx.get(), "ssl_server");
        X509_STORE_CTX_set_verify_cb(ctx.get(), &CollectAndContinue);
        X509_STORE_CTX_set_app_data(ctx.get(), &v.errors);
        if (X509_verify_cert(ctx.get()) != 1 && v.errors.empty())
            v.errors.push_back(X509_STORE_CTX_get_error(ctx.get()) != X509_V_OK
                                   ? X509_STORE_CTX_get_error(ctx.get())
                                   : X509_V_ERR_UNSPECIFIED);
    }
    ERR_clear_error();

    v.rootTrusted = v.dateValid = v.signatureValid = true;
    for (int error : v.errors) {
        switch (VerdictOf(error)) {
            case Verdict::Date:
                v.dateValid = false;
                break;
            case Verdict::Root:
                v.rootTrusted = false;
                break;
            case Verdict::Signature:
                v.signatureValid = false;
                break;
        }
        if (!v.description.empty()) v.description += "; ";
        v.description += X509_verify_cert_error_string(error);
    }
    return v;
}

ServerCertificateVerdict JudgeServerCertificate(X509* leaf, STACK_OF(X509) * chain) {
    // A chain the hashed folder settles is judged without the bundle; anything short of that is judged
    // again with every certificate of the bundle that the chain could meet, so the bundle decides
    // whatever the folder lacks.
    const auto store = TrustStore(false);
    ServerCertificateVerdict quick = JudgeServerCertificate(leaf, chain, store.get());
    if (quick.errors.empty()) return quick;
    AddBundleCertificatesFor(store.get(), leaf, chain);
    return JudgeServerCertificate(leaf, chain, store.get());
}

ServerCertificateVerdict JudgeServerCertificate(const Certificate& leaf,
                                                const std::vector<Certificate>& chain) {
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> stack(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    for (const auto& c : chain)
        if (c.x509) sk_X509_push(stack.get(), c.x509.get());
    return JudgeServerCertificate(leaf.x509.get(), stack.get());
}

}  // namespace klvr
