#include "transfer/ftp/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <climits>

#include "transfer/ftp/session_broken.h"

namespace klvr {

// The BIO beneath the SSL object: OpenSSL's reads and writes go to the stream beneath. Failures of that
// stream must not cross OpenSSL's C frames, so they are kept and raised again once OpenSSL returns.
struct TlsStreamBio {
    static TlsStream& Owner(BIO* bio) { return *static_cast<TlsStream*>(BIO_get_data(bio)); }

    static int Read(BIO* bio, char* buffer, int size) {
        BIO_clear_retry_flags(bio);
        TlsStream& self = Owner(bio);
        try {
            auto n = self.lower_->Read(buffer, static_cast<std::size_t>(size));
            if (!n) {
                BIO_set_retry_read(bio);
                return -1;
            }
            if (*n == 0) self.lowerEnded_ = true;
            return static_cast<int>(*n);
        } catch (const std::exception& e) {
            self.lowerError_ = e.what();
            return -1;
        }
    }

    static int Write(BIO* bio, const char* data, int size) {
        BIO_clear_retry_flags(bio);
        TlsStream& self = Owner(bio);
        try {
            std::size_t n = self.lower_->Write(data, static_cast<std::size_t>(size));
            if (n == 0) {
                BIO_set_retry_write(bio);
                return -1;
            }
            return static_cast<int>(n);
        } catch (const std::exception& e) {
            self.lowerError_ = e.what();
            return -1;
        }
    }

    static long Control(BIO* bio, int command, long, void*) {
        switch (command) {
            case BIO_CTRL_FLUSH:
                return 1;  // nothing is held back here
            case BIO_CTRL_EOF:
                // lets OpenSSL tell a peer that only closed TCP from one that sent close_notify
                return Owner(bio).lowerEnded_ ? 1 : 0;
            default:
                return 0;
        }
    }
};

namespace {

constexpr const char* kCertificateRequired = "the server requires a client certificate; none is configured";

// Alerts by which a server ends a session that lacks the client certificate it requires: TLS 1.3 has one
// of its own, earlier versions end the handshake with a general one.
bool RefusesMissingCertificate(unsigned long error) {
    if (ERR_GET_LIB(error) != ERR_LIB_SSL) return false;
    switch (ERR_GET_REASON(error)) {
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
        case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
            return true;
        default:
            return false;
    }
}

std::string OpenSslReason() {
    unsigned long code = ERR_peek_last_error();
    if (code == 0) return std::string();
    const char* reason = ERR_reason_error_string(code);
    if (reason != nullptr) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

TlsStream::TlsStream(SSL* ssl, std::unique_ptr<ByteStream> lower) : lower_(std::move(lower)), ssl_(ssl) {
    // A method per stream keeps the layer free of shared state; its type number is never looked up.
    method_ = BIO_meth_new(BIO_TYPE_SOURCE_SINK, "klvr stream");
    BIO* bio = method_ != nullptr ? BIO_new(method_) : nullptr;
    if (bio == nullptr || BIO_meth_set_read(method_, &TlsStreamBio::Read) != 1 ||
        BIO_meth_set_write(method_, &TlsStreamBio::Write) != 1 ||
        BIO_meth_set_ctrl(method_, &TlsStreamBio::Control) != 1) {
        BIO_free(bio);
        SSL_free(ssl_);
        BIO_meth_free(method_);
        throw SessionBroken("Cannot set up TLS: out of memory");
    }
    // BIO_new ran before the create hook was set, so the BIO is marked ready here
    BIO_set_init(bio, 1);
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_connect_state(ssl_);
    // The control channel hands the same bytes again after a write that took nothing.
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TlsStream::~TlsStream() {
    if (ssl_ != nullptr) {
        // A polite close_notify where the connection still works; a failure here changes nothing.
        if (established_ && !broken_ && !(SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN)) SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ERR_clear_error();
    }
    BIO_meth_free(method_);
}

void TlsStream::Fail(int error, const std::string& during) {
    broken_ = true;
    const unsigned long code = ERR_peek_last_error();
    std::string reason = OpenSslReason();
    ERR_clear_error();
    // Servers that ask every client for a certificate but require none exist (vsftpd by default), so
    // only a failure before the server's first byte of data is laid to the missing certificate; in TLS
    // 1.3 the refusal arrives just after our side of the handshake.
    const bool withheld = !received_ && withheld_ && withheld_(ssl_);
    if (withheld && RefusesMissingCertificate(code))
        throw SessionBroken(during + ": " + kCertificateRequired, FailureCause::kTls);
    // A server that only closes gives no reason; that it had asked for a certificate may be the one.
    const std::string asked =
        withheld ? "; it had asked for a client certificate, and none is configured" : std::string();
    if (!established_ && (lowerEnded_ || !lowerError_.empty())) {
        // writing our part of the handshake into a closed connection fails too: the peer closed first
        throw SessionBroken("The server closed the connection during the TLS handshake" +
                                (lowerError_.empty() ? std::string() : " (" + lowerError_ + ")") + asked,
                            FailureCause::kTls);
    }
    // a reset can overtake the server's alert, when it closes with our next command still unread
    if (!lowerError_.empty()) throw SessionBroken(lowerError_ + asked);
    if (lowerEnded_ || (error == SSL_ERROR_SYSCALL && reason.empty()))
        throw SessionBroken("The server closed the connection without ending TLS" + asked);
    if (reason.empty()) reason = "error " + std::to_string(error);
    throw SessionBroken(during + ": " + reason, FailureCause::kTls);
}

void TlsStream::Established() {
    if (established_ || !SSL_is_init_finished(ssl_)) return;
    established_ = true;
    if (onEstablished_) {
        try {
            onEstablished_(ssl_);
        } catch (...) {
            broken_ = true;
            throw;
        }
    }
}

bool TlsStream::WaitFor(int error, Waiter& waiter, const std::string& what) {
    if (error == SSL_ERROR_WANT_READ) {
        waiter.Wait(Fd(), POLLIN, what);
    } else if (error == SSL_ERROR_WANT_WRITE) {
        waiter.Wait(Fd(), POLLOUT, what);
    } else {
        return false;
    }
    waiter.Activity();
    return true;
}

void TlsStream::Handshake(Waiter& waiter) {
    for (;;) {
        ERR_clear_error();
        int rc = SSL_do_handshake(ssl_);
        if (rc == 1) break;
        int error = SSL_get_error(ssl_, rc);
        if (!WaitFor(error, waiter, "the server's side of the TLS handshake"))
            Fail(error, "The TLS handshake failed");
    }
    starved_ = false;
    Established();
}

void TlsStream::Greet() {
    if (established_) return;
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    if (rc == 1) return;  // the reads hand out nothing before the check of an established connection
    const int error = SSL_get_error(ssl_, rc);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        Fail(error, "The TLS handshake failed");
    readWantsWrite_ = error == SSL_ERROR_WANT_WRITE;
}

std::optional<std::size_t> TlsStream::Read(char* buffer, std::size_t size) {
    if (ended_) return 0;
    ERR_clear_error();
    if (!established_) {
        // The handshake on its own first, so that its check runs before any byte or end is taken.
        int rc = SSL_do_handshake(ssl_);
        if (rc != 1) {
            int error = SSL_get_error(ssl_, rc);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
                Fail(error, "The TLS handshake failed");
            readWantsWrite_ = error == SSL_ERROR_WANT_WRITE;
            starved_ = true;
            return std::nullopt;
        }
        Established();
    }
    // As many records as are at hand: one write to the file per buffer, not per 16 KiB record.
    std::size_t total = 0;
    starved_ = false;
    for (;;) {
        std::size_t got = 0;
        int rc = SSL_read_ex(ssl_, buffer + total, size - total, &got);
        if (rc == 1) {
            readWantsWrite_ = false;
            received_ = true;
            total += got;
            if (total == size) return total;
            continue;
        }
        int error = SSL_get_error(ssl_, rc);
        switch (error) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                readWantsWrite_ = error == SSL_ERROR_WANT_WRITE;
                starved_ = true;
                if (total > 0) return total;
                return std::nullopt;
            case SSL_ERROR_ZERO_RETURN:
                ended_ = true;
                return total;
            default:
                // Many servers end a data connection by closing TCP without close_notify; whether every
                // byte arrived is for the transfer to judge, which knows the size or the final reply.
                if (lowerEnded_ && lowerError_.empty()) {
                    ERR_clear_error();
                    ended_ = endedWithoutClose_ = true;
                    return total;
                }
                Fail(error, "TLS failed");
        }
    }
}

std::size_t TlsStream::Write(const char* data, std::size_t size) {
    ERR_clear_error();
    std::size_t written = 0;
    int rc = SSL_write_ex(ssl_, data, size, &written);
    if (rc == 1) {
        writeWantsRead_ = false;
        return written;
    }
    int error = SSL_get_error(ssl_, rc);
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
        writeWantsRead_ = error == SSL_ERROR_WANT_READ;
        return 0;
    }
    Fail(error, "TLS failed");
}

void TlsStream::ShutdownWrite() {
    if (established_ && !broken_) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
    }
    lower_->ShutdownWrite();
}

short TlsStream::PollEvents(bool wantRead, bool wantWrite) const {
    short events = 0;
    if (wantRead) events |= readWantsWrite_ ? POLLOUT : POLLIN;
    if (wantWrite) events |= writeWantsRead_ ? POLLIN : POLLOUT;
    return events;
}

bool TlsStream::HasBufferedInput() const {
    // SSL_has_pending also counts the start of a record whose rest is still on its way. After a read
    // that OpenSSL ended for want of the socket, those bytes give nothing until the socket does, so the
    // caller must poll: reading again at once spun the transfer loop for as long as a record trickled
    // in (six times the CPU of a loopback download at 60 ms round trips).
    return !ended_ && !starved_ && SSL_has_pending(ssl_) == 1;
}

std::unique_ptr<ByteStream> TlsStream::Unwrap(Waiter& waiter) {
    // Our close_notify first, then the server's; nothing it sends after that belongs to TLS.
    for (;;) {
        ERR_clear_error();
        int rc = SSL_shutdown(ssl_);
        if (rc == 1) break;
        if (rc == 0) continue;  // ours is sent; the next call waits for the server's
        int error = SSL_get_error(ssl_, rc);
        if (!WaitFor(error, waiter, "the server to end TLS on the control connection"))
            Fail(error, "Ending TLS on the control connection failed");
    }
    ERR_clear_error();
    SSL_free(ssl_);
    ssl_ = nullptr;
    return std::move(lower_);
}

}  // namespace klvr
