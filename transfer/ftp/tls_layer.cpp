// The TLS layer of the client over OpenSSL: the control connection's handshake and the judgement of the
// server's certificate, data connections that resume its session, and the return to clear text.
#include <openssl/ssl.h>

#include "transfer/certificates/certificate_fields.h"
#include "transfer/certificates/server_verdict.h"
#include "transfer/ftp/client.h"
#include "transfer/ftp/secure_layer.h"
#include "transfer/ftp/tls_context.h"
#include "transfer/ftp/tls_stream.h"

namespace klvr {
namespace {

// Raises OnAuthenticate with OpenSSL's verdicts on the chain; a refusal raises FtpError.
void Authenticate(SSL* ssl, FtpClient& client) {
    X509* leaf = SSL_get0_peer_certificate(ssl);
    if (leaf == nullptr) throw FtpError("Server certificate refused: the server presented none");
    ServerCertificateVerdict verdict = JudgeServerCertificate(leaf, SSL_get_peer_cert_chain(ssl));
    Certificate certificate = MakeCertificate(leaf, nullptr, std::string());
    bool accept = verdict.Accepted();
    std::string refusal = verdict.description;
    std::string handlerFailure;
    if (client.OnAuthenticate) {
        try {
            client.OnAuthenticate(certificate, verdict.rootTrusted, verdict.dateValid, verdict.signatureValid,
                                  accept, refusal);
        } catch (const std::exception& e) {
            // a handler that failed has decided nothing: the certificate is not let through
            accept = false;
            handlerFailure = e.what();
        } catch (...) {
            accept = false;
            handlerFailure = "the Authenticate handler failed";
        }
    }
    if (accept) return;
    std::string text = "Server certificate refused [" + certificate.IssuedTo + "]";
    if (!handlerFailure.empty()) {
        text += ": " + handlerFailure;
    } else if (!refusal.empty()) {
        text += ": " + refusal;
    }
    throw FtpError(text);
}

class OpenSslLayer : public SecureLayer {
  public:
    std::unique_ptr<ByteStream> SecureControl(std::unique_ptr<ByteStream> plain,
                                              const std::string& serverName, FtpClient& client,
                                              Waiter& waiter) override {
        context_.reset();  // a new logon: nothing of an earlier server is resumed or trusted
        auto context = std::make_unique<TlsContext>(client, serverName);
        auto stream = std::make_unique<TlsStream>(context->NewControlConnection(), std::move(plain));
        stream->CertificateWithheld(&TlsContext::CertificateWithheld);
        stream->Handshake(waiter);
        Authenticate(stream->Ssl(), client);
        context->KeepServerCertificate(SSL_get0_peer_certificate(stream->Ssl()));
        context->KeepNegotiatedGroup(stream->Ssl());
        context_ = std::move(context);
        return stream;
    }

    std::unique_ptr<ByteStream> SecureData(std::unique_ptr<ByteStream> plain, FtpClient&, Waiter&,
                                           bool greet) override {
        if (!context_)
            throw FtpError("A protected data connection needs TLS on the control connection first");
        TlsContext* context = context_.get();
        auto stream = std::make_unique<TlsStream>(context->NewDataConnection(), std::move(plain));
        stream->CertificateWithheld(&TlsContext::CertificateWithheld);
        stream->OnEstablished([context](SSL* ssl) { context->CheckDataServer(ssl); });
        // The ClientHello waits in the server's socket until the server takes up TLS on the connection;
        // the reads that complete the handshake come once it has answered the transfer command.
        if (greet) stream->Greet();
        return stream;
    }

    std::unique_ptr<ByteStream> ClearControl(std::unique_ptr<ByteStream> secured, Waiter& waiter) override {
        auto* tls = dynamic_cast<TlsStream*>(secured.get());
        if (tls == nullptr) return secured;
        return tls->Unwrap(waiter);
    }

  private:
    std::unique_ptr<TlsContext> context_;
};

}  // namespace

std::unique_ptr<SecureLayer> MakeSecureLayer() {
    return std::make_unique<OpenSslLayer>();
}

}  // namespace klvr
