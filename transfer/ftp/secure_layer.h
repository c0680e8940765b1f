#pragma once
// The slot for TLS. The protocol code decides when TLS starts and ends (implicit or AUTH TLS, PROT,
// CCC); a SecureLayer only wraps and unwraps streams, so TLS sits over the control and data
// connections, direct or tunnelled through a proxy, without the protocol code knowing it.
#include <memory>
#include <string>

#include "transfer/ftp/byte_stream.h"
#include "transfer/ftp/waiter.h"

namespace klvr {

class FtpClient;

class SecureLayer {
  public:
    virtual ~SecureLayer() = default;

    // TLS over the control connection. Verifies the server's certificate and raises the client's
    // OnAuthenticate (and OnCertificateRequested when the server asks for a certificate); a refusal
    // raises FtpError. serverName is the host as the user gave it.
    virtual std::unique_ptr<ByteStream> SecureControl(std::unique_ptr<ByteStream> plain,
                                                      const std::string& serverName, FtpClient& client,
                                                      Waiter& waiter) = 0;
    // TLS over a data connection, resuming the control connection's session (strict servers refuse a
    // data connection that does not). With greet set the handshake's first flight goes out at once;
    // otherwise the first read starts the handshake.
    virtual std::unique_ptr<ByteStream> SecureData(std::unique_ptr<ByteStream> plain, FtpClient& client,
                                                   Waiter& waiter, bool greet = false) = 0;
    // Ends TLS on the control connection after CCC and hands back the clear stream beneath it.
    virtual std::unique_ptr<ByteStream> ClearControl(std::unique_ptr<ByteStream> secured, Waiter& waiter) = 0;
};

// The TLS layer of this build, or nullptr when TLS is not available.
std::unique_ptr<SecureLayer> MakeSecureLayer();

}  // namespace klvr
