// What the TLS layer tells the transfer loop about input it holds: over a real path records arrive cut
// in pieces, and the loop may skip poll() only when the layer can hand out bytes without the socket.
#include "transfer/ftp/tls_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/test_certificates.h"
#include "transfer/ftp/abort_signal.h"
#include "transfer/ftp/tcp_stream.h"
#include "transfer/ftp/waiter.h"

namespace klvr {
namespace {

struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// A client TlsStream (read-ahead on, as on a data connection) joined to a server whose records the test
// puts on the wire itself, in whatever pieces it likes.
class TlsPair {
  public:
    TlsPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
        serverFd_ = fds[1];
        ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);

        const auto& certificates = test::TestCertificates::Shared();
        serverCtx_.reset(SSL_CTX_new(TLS_server_method()));
        SSL_CTX_use_certificate_file(serverCtx_.get(), certificates.server.certPem.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(serverCtx_.get(), certificates.server.keyPem.c_str(), SSL_FILETYPE_PEM);
        server_.reset(SSL_new(serverCtx_.get()));
        SSL_set_fd(server_.get(), serverFd_);

        clientCtx_.reset(SSL_CTX_new(TLS_client_method()));
        SSL* client = SSL_new(clientCtx_.get());
        SSL_set_read_ahead(client, 1);
        client_ = std::make_unique<TlsStream>(client, std::make_unique<TcpStream>(fds[0], abort_));

        bool accepted = false;
        std::thread accept([&] { accepted = SSL_accept(server_.get()) == 1; });
        Waiter waiter(std::chrono::milliseconds(10000), abort_, nullptr);
        client_->Handshake(waiter);
        accept.join();
        if (!accepted) throw std::runtime_error("the test server's handshake failed");
        // From here on the server's records go to memory, and the test sends them
        SSL_set0_wbio(server_.get(), BIO_new(BIO_s_mem()));
    }
    ~TlsPair() {
        client_.reset();
        server_.reset();
        ::close(serverFd_);
    }

    std::string Record(const std::string& text) {
        SSL_write(server_.get(), text.data(), static_cast<int>(text.size()));
        BIO* out = SSL_get_wbio(server_.get());
        char* data = nullptr;
        long size = BIO_get_mem_data(out, &data);
        std::string bytes(data, static_cast<std::size_t>(size));
        (void)BIO_reset(out);
        return bytes;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::send(serverFd_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    }
    TlsStream& Client() { return *client_; }

  private:
    AbortSignal abort_;
    int serverFd_ = -1;
    std::unique_ptr<SSL_CTX, CtxFree> serverCtx_;
    std::unique_ptr<SSL_CTX, CtxFree> clientCtx_;
    std::unique_ptr<SSL, SslFree> server_;
    std::unique_ptr<TlsStream> client_;
};

std::string ReadOnce(TlsStream& stream, std::size_t size) {
    std::string buffer(size, '\0');
    auto n = stream.Read(buffer.data(), buffer.size());
    if (!n) return "(nothing)";
    buffer.resize(*n);
    return buffer;
}

// Half a record is nothing the caller can take: it must wait on the socket, not read again at once
// (which spun the transfer loop for as long as a record took to arrive).
TEST(TlsStreamInput, PartOfARecordSendsTheCallerToPoll) {
    TlsPair pair;
    const std::string record = pair.Record(std::string(3000, 'a'));
    pair.Send(record.substr(0, record.size() / 2));
    EXPECT_EQ(ReadOnce(pair.Client(), 65536), "(nothing)");
    EXPECT_FALSE(pair.Client().HasBufferedInput());
    // and still nothing after a second attempt with the rest not there yet
    EXPECT_EQ(ReadOnce(pair.Client(), 65536), "(nothing)");
    EXPECT_FALSE(pair.Client().HasBufferedInput());

    pair.Send(record.substr(record.size() / 2));
    EXPECT_EQ(ReadOnce(pair.Client(), 65536), std::string(3000, 'a'));
}

// Whole records that read-ahead took from the socket while the caller's buffer was full are input poll
// cannot see: the caller must read again without waiting, or the end of a file would wait for bytes
// that never come.
TEST(TlsStreamInput, WholeRecordsHeldBeyondAFullBufferAreReported) {
    TlsPair pair;
    const std::string first = pair.Record(std::string(1000, 'a'));
    pair.Send(first + pair.Record(std::string(1000, 'b')));
    EXPECT_EQ(ReadOnce(pair.Client(), 1000), std::string(1000, 'a'));
    EXPECT_TRUE(pair.Client().HasBufferedInput());
    EXPECT_EQ(ReadOnce(pair.Client(), 1000), std::string(1000, 'b'));
    EXPECT_EQ(ReadOnce(pair.Client(), 1000), "(nothing)");
    EXPECT_FALSE(pair.Client().HasBufferedInput());
}

}  // namespace
}  // namespace klvr
