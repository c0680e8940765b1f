#pragma once
// The TLS side of one logon: OpenSSL's context with the protocol floor, the session that data
// connections resume, the certificate the server accepted on the control connection, and the client
// certificate handed over when the server asks for one.
#include <openssl/ssl.h>

#include <optional>
#include <string>

#include "transfer/certificates/certificate.h"

namespace klvr {

class FtpClient;

class TlsContext {
  public:
    // serverName: the host as the user gave it (sent as SNI unless it is an address).
    TlsContext(FtpClient& client, std::string serverName);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A connection for the control channel; a request for a client certificate raises the client's
    // OnCertificateRequested.
    SSL* NewControlConnection();
    // A connection for a data channel, offering the newest session the server gave us, and presenting
    // the client certificate the control connection presented.
    SSL* NewDataConnection();

    // The control connection's server certificate, once accepted; data connections must show the same.
    void KeepServerCertificate(X509* leaf);
    // Raises SessionBroken when a data connection's server is not the one the control connection checked.
    void CheckDataServer(SSL* data) const;
    // The key-exchange group the control connection settled on, which data connections offer first.
    void KeepNegotiatedGroup(SSL* control);

    bool HasSession() const { return session_ != nullptr; }

    // True when the server of ssl's connection asked for a client certificate and was answered with
    // none: a handshake it then ends was ended for the want of one.
    static bool CertificateWithheld(const SSL* ssl);

  private:
    // What each connection's application data points at: the context, and which channel it serves.
    struct Role {
        TlsContext* context;
        bool control;
        bool withheld = false;  // of its newest connection (the connections of a channel never overlap)
    };

    static int OnNewSession(SSL* ssl, SSL_SESSION* session);
    static int OnCertificateRequest(SSL* ssl, X509** cert, EVP_PKEY** key);
    SSL* NewConnection(Role& role);
    // The certificate to present, or nothing; reports one that cannot be presented.
    std::optional<Certificate> Presentable(std::optional<Certificate> certificate);

    FtpClient& client_;
    std::string serverName_;
    Role controlRole_{this, true};
    Role dataRole_{this, false};
    SSL_CTX* ctx_ = nullptr;
    SSL_SESSION* session_ = nullptr;
    X509* serverCertificate_ = nullptr;
    int group_ = 0;                  // NID, 0 before the control connection's handshake
    bool certificateAsked_ = false;  // by the server of the control connection
    std::optional<Certificate> presented_;
};

}  // namespace klvr
