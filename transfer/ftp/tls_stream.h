#pragma once
// TLS over any ByteStream (a TCP socket, or a tunnel through a proxy): OpenSSL reads and writes the
// layer beneath through a BIO of our own, so the stream stays non-blocking and every wait goes through
// the client's Waiter.
#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <functional>
#include <memory>
#include <string>

#include "transfer/ftp/byte_stream.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

class TlsStream : public ByteStream {
  public:
    // Takes ssl (a client connection not yet started) and the stream beneath it.
    TlsStream(SSL* ssl, std::unique_ptr<ByteStream> lower);
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Runs the handshake to its end, waiting through waiter; raises SessionBroken with the reason when
    // it fails (the peer closing, an alert, bytes that are not TLS).
    void Handshake(Waiter& waiter);
    // Sends the first flight of the handshake now and returns without waiting for the answer, which the
    // reads that follow take up.
    void Greet();
    // Without Handshake, the first Read starts the handshake and the reads that follow complete it.
    // Called once, when the handshake has completed, before any byte is handed out; may raise.
    void OnEstablished(std::function<void(SSL*)> check) { onEstablished_ = std::move(check); }
    // Tells whether the server asked for a client certificate and got none, so that a failure it then
    // causes is described as what it is.
    void CertificateWithheld(std::function<bool(const SSL*)> withheld) { withheld_ = std::move(withheld); }

    // Ends TLS with the close_notify exchange and hands back the clear stream beneath.
    std::unique_ptr<ByteStream> Unwrap(Waiter& waiter);

    SSL* Ssl() const { return ssl_; }

    std::optional<std::size_t> Read(char* buffer, std::size_t size) override;
    std::size_t Write(const char* data, std::size_t size) override;
    void ShutdownWrite() override;
    int Fd() const override { return lower_->Fd(); }
    short PollEvents(bool wantRead, bool wantWrite) const override;
    bool HasBufferedInput() const override;
    bool EndUnconfirmed() const override { return endedWithoutClose_; }

  private:
    friend struct TlsStreamBio;

    // Raises SessionBroken for a failed OpenSSL call whose SSL_get_error is error.
    [[noreturn]] void Fail(int error, const std::string& during);
    void Established();
    // Waits for what OpenSSL asked for after a call that returned error; false for other errors.
    bool WaitFor(int error, Waiter& waiter, const std::string& what);

    std::unique_ptr<ByteStream> lower_;
    BIO_METHOD* method_ = nullptr;
    SSL* ssl_ = nullptr;
    std::function<void(SSL*)> onEstablished_;
    std::function<bool(const SSL*)> withheld_;
    std::string lowerError_;  // what the stream beneath raised inside OpenSSL's call
    bool lowerEnded_ = false;
    bool established_ = false;
    bool received_ = false;  // application data from the server
    bool ended_ = false;
    bool endedWithoutClose_ = false;
    bool broken_ = false;
    bool readWantsWrite_ = false;
    bool writeWantsRead_ = false;
    bool starved_ = false;  // the last read needed more from the stream beneath than it had
};

}  // namespace klvr
