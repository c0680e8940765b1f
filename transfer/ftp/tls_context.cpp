#include "transfer/ftp/tls_context.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <vector>

#include "transfer/ftp/client.h"
#include "transfer/ftp/key_exchange_groups.h"
#include "transfer/ftp/session_broken.h"

namespace klvr {
namespace {

bool IsAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

TlsContext::TlsContext(FtpClient& client, std::string serverName)
    : client_(client), serverName_(std::move(serverName)) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr) throw SessionBroken("Cannot set up TLS: out of memory");
    // SSL 3, TLS 1.0 and TLS 1.1 are broken or deprecated; Auto and TLS both mean 1.2 or newer.
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // The server's certificate is judged once the handshake is done and the Authenticate event has
    // decided; OpenSSL itself must not end the handshake over it.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    // Sessions are kept here, not in OpenSSL's cache: TLS 1.3 tickets arrive after the handshake, and
    // every data connection must offer the newest one.
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, &TlsContext::OnNewSession);
    SSL_CTX_set_client_cert_cb(ctx_, &TlsContext::OnCertificateRequest);
    // A build that lacks a group keeps OpenSSL's own list, at the cost of a retried handshake.
    const std::vector<int> groups = KeyExchangeGroups(0);
    if (SSL_CTX_set1_groups(ctx_, groups.data(), static_cast<int>(groups.size())) != 1) ERR_clear_error();
}

TlsContext::~TlsContext() {
    SSL_SESSION_free(session_);
    X509_free(serverCertificate_);
    SSL_CTX_free(ctx_);
}

SSL* TlsContext::NewConnection(Role& role) {
    SSL* ssl = SSL_new(ctx_);
    if (ssl == nullptr) throw SessionBroken("Cannot set up TLS: out of memory");
    SSL_set_app_data(ssl, &role);
    role.withheld = false;
    if (!serverName_.empty() && !IsAddress(serverName_)) SSL_set_tlsext_host_name(ssl, serverName_.c_str());
    return ssl;
}

SSL* TlsContext::NewControlConnection() {
    return NewConnection(controlRole_);
}

SSL* TlsContext::NewDataConnection() {
    SSL* ssl = NewConnection(dataRole_);
    // A data connection carries bulk records and never returns to clear text: OpenSSL may read ahead.
    SSL_set_read_ahead(ssl, 1);
    // OpenSSL's own read buffer, one record long, is kept: a buffer of many records saves system calls
    // but costs more CPU in the cache misses of decrypting and copying it (measured on 1 GiB).
    // Strict servers refuse a data connection that does not resume the control connection's session.
    if (session_ != nullptr) SSL_set_session(ssl, session_);
    // The control connection's group first: its key share is then the one the server takes.
    if (group_ != 0) {
        const std::vector<int> groups = KeyExchangeGroups(group_);
        if (SSL_set1_groups(ssl, groups.data(), static_cast<int>(groups.size())) != 1) ERR_clear_error();
    }
    return ssl;
}

void TlsContext::KeepNegotiatedGroup(SSL* control) {
    group_ = SSL_get_negotiated_group(control);
}

int TlsContext::OnNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* role = static_cast<Role*>(SSL_get_app_data(ssl));
    if (role == nullptr || !SSL_SESSION_is_resumable(session)) return 0;
    SSL_SESSION_free(role->context->session_);
    role->context->session_ = session;
    return 1;  // the reference is ours now
}

bool TlsContext::CertificateWithheld(const SSL* ssl) {
    const auto* role = static_cast<const Role*>(SSL_get_app_data(ssl));
    return role != nullptr && role->withheld;
}

void TlsContext::KeepServerCertificate(X509* leaf) {
    X509_free(serverCertificate_);
    serverCertificate_ = leaf;
    if (leaf != nullptr) X509_up_ref(leaf);
}

void TlsContext::CheckDataServer(SSL* data) const {
    if (serverCertificate_ == nullptr) return;
    X509* peer = SSL_get0_peer_certificate(data);
    if (peer == nullptr || X509_cmp(peer, serverCertificate_) != 0) {
        throw SessionBroken(
            "The data connection's server presented another certificate than the control connection's");
    }
}

std::optional<Certificate> TlsContext::Presentable(std::optional<Certificate> certificate) {
    if (!certificate || !certificate->x509) return std::nullopt;
    std::string problem;
    if (!certificate->privateKey) {
        problem = "it has no private key";
    } else if (X509_check_private_key(certificate->x509.get(), certificate->privateKey.get()) != 1) {
        problem = "its private key does not belong to it";
    }
    ERR_clear_error();
    if (problem.empty()) return certificate;
    if (client_.OnErrorReported) {
        try {
            client_.OnErrorReported(
                0, "The client certificate [" + certificate->IssuedTo + "] is not presented: " + problem);
        } catch (...) {
        }
    }
    return std::nullopt;
}

int TlsContext::OnCertificateRequest(SSL* ssl, X509** cert, EVP_PKEY** key) {
    auto* role = static_cast<Role*>(SSL_get_app_data(ssl));
    if (role == nullptr) return 0;
    TlsContext& self = *role->context;
    std::optional<Certificate> chosen;
    // Nothing may be thrown through OpenSSL's frames: a failing handler simply leaves Certificate as it is.
    try {
        if (role->control) {
            if (self.client_.OnCertificateRequested) {
                try {
                    self.client_.OnCertificateRequested();
                } catch (...) {
                }
            }
            self.certificateAsked_ = true;
            self.presented_ = self.Presentable(self.client_.Certificate);
            chosen = self.presented_;
        } else {
            chosen = self.certificateAsked_ ? self.presented_ : self.Presentable(self.client_.Certificate);
        }
    } catch (...) {
        role->withheld = true;
        return 0;
    }
    // Answered with no certificate: the server decides whether it goes on without one.
    role->withheld = !chosen;
    if (!chosen) return 0;
    X509_up_ref(chosen->x509.get());
    EVP_PKEY_up_ref(chosen->privateKey.get());
    *cert = chosen->x509.get();
    *key = chosen->privateKey.get();
    return 1;
}

}  // namespace klvr
