// Data connections (passive and active) and the transfer loop that waits on the control and the data
// connection at once, so that a small file costs its round-trips and no timer.
#include <netinet/in.h>

#include <algorithm>

#include "transfer/ftp/client_impl.h"
#include "transfer/ftp/early_passive.h"
#include "transfer/ftp/listing_parser.h"
#include "transfer/ftp/mlsd_parser.h"
#include "transfer/ftp/proxy_handshake.h"
#include "transfer/ftp/reply_values.h"
#include "transfer/ftp/tcp_stream.h"

namespace klvr {
namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr std::size_t kMaxListingEntries = 1000000;

template <class Parser>
class ListingSink : public DataSink {
  public:
    void Write(std::string_view bytes) override {
        parser.Feed(bytes);
        if (parser.EntryCount() > kMaxListingEntries) throw FtpError("The listing is too long to be read");
    }
    Parser parser;
};

// The server's reply says it does not know the command at all.
bool NotUnderstood(const FtpError& error) {
    const std::string_view text = error.what();
    return text.rfind("500 ", 0) == 0 || text.rfind("502 ", 0) == 0;
}

// The server no longer listens on the port it named while the last transfer ended, and no byte came:
// the transfer is asked for again in the plain order.
class NamedPortLost : public FtpError {
  public:
    using FtpError::FtpError;
};

}  // namespace

struct FtpClient::Impl::DataLink {
    std::unique_ptr<ByteStream> stream;
    std::optional<PendingConnection> pending;  // a passive connection still being made
    std::unique_ptr<TcpListener> listener;
};

namespace {

// A tunnel through the session's SOCKS or HTTP proxy to host:port.
std::unique_ptr<ByteStream> OpenTunnel(FtpClient& self, const std::string& host, std::uint16_t port,
                                       const PortRange& range, AbortSignal& abort, Waiter& waiter) {
    std::uint16_t proxyPort = self.ProxyPort > 0 && self.ProxyPort <= 65535
                                  ? static_cast<std::uint16_t>(self.ProxyPort)
                              : self.ProxyType == kProxyPipe ? 8080
                                                             : 1080;
    auto stream = TcpConnect(self.ProxyHost, proxyPort, range, abort, waiter);
    if (self.ProxyType == kProxySocks4) Socks4Handshake(*stream, host, port, self.ProxyUsername, waiter);
    if (self.ProxyType == kProxySocks5) {
        Socks5Handshake(*stream, host, port, self.ProxyUsername, self.ProxyPassword, waiter);
    }
    if (self.ProxyType == kProxyPipe)
        HttpConnectHandshake(*stream, host, port, self.ProxyUsername, self.ProxyPassword, waiter);
    return stream;
}

}  // namespace

Reply FtpClient::Impl::Transfer(const std::string& command, DataSink& sink,
                                std::optional<std::int64_t> expectedBytes, Waiter& waiter,
                                std::int64_t restartAt, bool anotherFollows) {
    try {
        return TransferOnce(command, sink, expectedBytes, waiter, restartAt, anotherFollows);
    } catch (const NamedPortLost&) {
        return TransferOnce(command, sink, expectedBytes, waiter, restartAt, anotherFollows);
    }
}

Reply FtpClient::Impl::TransferOnce(const std::string& command, DataSink& sink,
                                    std::optional<std::int64_t> expectedBytes, Waiter& waiter,
                                    std::int64_t restartAt, bool anotherFollows) {
    ControlChannel& channel = Control();
    retrReplySize.reset();
    PortRange range = ParsePortRange(self.DataPortRange);
    DataLink link;

    // ---- the data connection ----
    bool passive = self.Passive || tunnelled;
    bool ipv6 = controlPeer.Family() == AF_INET6;
    // A port named for this transfer while the last one ended serves only if nothing went in between:
    // another command may have been the transfer it was for, or made the server drop it.
    std::optional<std::uint16_t> namedEarly;
    if (nextPort && passive && nextPort->commandsSent == channel.CommandsSent()) namedEarly = nextPort->port;
    nextPort.reset();
    EarlyPassive early;
    // Through a proxy the connection is made before the command goes out, and a port the server no
    // longer listens on could not be told from a proxy's failure.
    const bool askEarly =
        anotherFollows && passive && !tunnelled && !pipeliningRefused && !(ipv6 && epsvRefused);
    if (passive) {
        // Asking for the port, and connecting through a proxy and securing that, end within the
        // time-out however slowly the proxy or the server answers.
        const Waiter::Bound setUp(waiter);
        std::optional<std::uint16_t> port = namedEarly;
        if (!port && !epsvRefused) {
            Reply reply = Command("EPSV", waiter);
            if (reply.code == 229) port = ParseEpsvReply(reply.Text());
            if (!port && reply.code >= 400 && reply.code < 500) throw FtpError(reply.Text());
            if (!port) epsvRefused = true;
        }
        if (!port) {
            if (ipv6 && !tunnelled)
                throw FtpError("The server refused EPSV, and PASV cannot reach an IPv6 address");
            Reply reply = Command("PASV", waiter);
            if (reply.code != 227) throw FtpError(reply.Text());
            auto answer = ParsePasvReply(reply.Text());
            if (!answer) throw FtpError("The server's PASV answer names no address: " + reply.Text());
            // Only the port of the answer is used, as with EPSV: its address would let a hostile server
            // aim our connection at any host (FTP bounce), and servers behind NAT name one we cannot
            // reach anyway. The data goes where the commands go.
            port = answer->port;
        }
        if (tunnelled) {
            link.stream = OpenTunnel(self, targetHost, *port, range, abort, waiter);
            if (protectData) link.stream = secure->SecureData(std::move(link.stream), self, waiter);
        } else {
            // The connection is made while the command goes out and the server takes it, so neither
            // waits for the other.
            SocketAddress address = controlPeer;
            address.SetPort(*port);
            link.pending = TcpConnectBegin(address, range, abort);
        }
    } else {
        link.listener =
            std::make_unique<TcpListener>(SocketAddress::Local(channel.Stream().Fd()), range, abort);
        const SocketAddress& local = link.listener->Address();
        std::string portCommand;
        if (local.Family() == AF_INET6) {
            portCommand = "EPRT |2|" + local.Numeric() + "|" + std::to_string(local.Port()) + "|";
        } else {
            std::string dotted = local.Numeric();
            for (char& c : dotted)
                if (c == '.') c = ',';
            portCommand = "PORT " + dotted + "," + std::to_string(local.Port() >> 8) + "," +
                          std::to_string(local.Port() & 0xff);
        }
        ExpectPositive(Command(portCommand, waiter));
    }

    // ---- the transfer ----
    // REST goes right before the command it is for: some servers forget it at a PASV.
    if (restartAt > 0) {
        Reply reply = Command("REST " + std::to_string(restartAt), waiter);
        if (reply.code != 350) throw RestRefused(reply.Text());
    }
    channel.Send(command, waiter);
    // Only while data flows does the time-out measure silence alone: the way to the first byte, and the
    // final reply after the last, end within the time-out even when the server trickles replies.
    std::optional<Waiter::Bound> bounded;
    bounded.emplace(waiter);
    if (buffer.size() < kBufferSize) buffer.resize(kBufferSize);
    std::optional<Reply> final;
    bool dataEnded = false;
    bool endUnconfirmed = false;
    // TLS on a data connection begins once the server has taken the command (its 1xx reply): some
    // servers drop a data connection that speaks before they expect a transfer on it.
    bool dataMayFlow = !protectData;
    std::string dataFailure;
    std::int64_t received = 0;
    bool greeted = false;  // the data connection's TLS handshake began before the server's answer
    const std::string what = "the data of " + command.substr(0, command.find(' '));

    // The control connection died quietly (a NAT or the server's idle time-out) during a long
    // transfer: the file still counts when every byte of it arrived.
    std::string controlLost;
    auto completeWithoutReply = [&] {
        return dataEnded && dataFailure.empty() && expectedBytes && received == *expectedBytes;
    };
    auto acceptUnconfirmed = [&](const std::string& why) {
        ReportError("The server did not confirm the transfer (" + why + "), but all " +
                    std::to_string(received) + " bytes arrived; the connection is closed");
        dropAfterCall = true;
        return Reply{226, {"226 Transfer complete (unconfirmed)"}};
    };

    for (;;) {
        if (controlLost.empty()) {
            try {
                while (!final) {
                    auto reply = channel.Poll(waiter);
                    if (!reply) break;
                    if (reply->Preliminary()) {
                        dataMayFlow = true;
                        if (auto size = ParseTransferSize(reply->Text())) {
                            retrReplySize = size;
                            if (!expectedBytes && restartAt == 0 && sink.Announced(*size)) {
                                expectedBytes = size;
                                total = *size;
                            }
                            if (total == 0) total = *size;
                        }
                        continue;
                    }
                    final = early.Take(std::move(*reply));
                }
            } catch (const SessionBroken& e) {
                waiter.ThrowIfAborted();
                bool serviceClosing = std::string(e.what()).rfind("421", 0) == 0;
                if (serviceClosing || !expectedBytes) throw;
                controlLost = e.what();  // the rest of the data may still be on its way
            }
        }
        if (final && !final->Positive()) {
            link = DataLink{};  // the server gave up on the transfer; so do we
            if (early.WasSent()) {
                // the data was all in when the port was asked for: the request may be what ended it
                pipeliningRefused = true;
                if (early.AnswerDue()) channel.Read(waiter, "the answer to the early port request");
                throw PipeliningRefused(final->Text());
            }
            if (namedEarly && final->code == 425 && received == 0) {
                // no data connection on the port named while the last transfer ended
                pipeliningRefused = true;
                throw NamedPortLost(final->Text());
            }
            throw FtpError(final->Text());
        }
        if (link.pending && TcpConnectSettled(*link.pending)) {
            try {
                link.stream = TcpConnectEnd(std::move(*link.pending), waiter);
            } catch (const SessionBroken&) {
                throw;
            } catch (const FtpError& e) {
                link = DataLink{};
                if (namedEarly) {
                    // the server stopped listening on the port it named while the last transfer ended
                    pipeliningRefused = true;
                    while (!final) {
                        Reply reply = channel.Read(waiter, "the server's answer after the failed connection");
                        if (!reply.Preliminary()) final = std::move(reply);
                    }
                    if (!final->Positive()) throw NamedPortLost(final->Text());
                    throw SessionBroken(e.what());
                }
                // A server that refused the command says so; one that took it waits for this connection
                // and answers only when it gives up, so the session cannot go on.
                if (!final && controlLost.empty()) final = channel.Poll(waiter);
                if (final && !final->Positive()) throw FtpError(final->Text());
                if (final) throw;
                throw SessionBroken(e.what());
            }
            link.pending.reset();
            // The ClientHello goes out with the connection, so the handshake does not wait for the
            // server's answer to the command: one round trip less per file.
            greeted = protectData && greetDataEarly;
            if (protectData) link.stream = secure->SecureData(std::move(link.stream), self, waiter, greeted);
        }
        if (final && !link.stream && link.listener) {
            // the server connects before it sends its final reply, so a connection is queued by now
            // unless it sent no data at all
            link.stream = link.listener->Accept(controlPeer);
            link.listener.reset();
            if (link.stream && protectData)
                link.stream = secure->SecureData(std::move(link.stream), self, waiter);
            if (!link.stream) break;
        }
        if (final && dataEnded) break;
        if (!controlLost.empty() && (dataEnded || (!link.stream && !link.pending))) {
            if (completeWithoutReply()) return acceptUnconfirmed(controlLost);
            throw SessionBroken(controlLost);
        }

        if (!link.stream && link.listener) {
            link.stream = link.listener->Accept(controlPeer);
            if (link.stream) {
                link.listener.reset();
                waiter.Activity();
                if (protectData) link.stream = secure->SecureData(std::move(link.stream), self, waiter);
            }
        }

        bool dataPending = false;
        if (final || !controlLost.empty()) dataMayFlow = true;
        if (link.stream && !dataEnded && dataMayFlow) {
            std::optional<std::size_t> n;
            bool piped = false;
            try {
                // Bytes the sink takes unchanged go from the socket to it inside the kernel.
                const int socket = link.stream->SpliceFd();
                const std::size_t room = socket >= 0 ? sink.PipeRoom() : 0;
                if (room > 0 && splice.Usable()) {
                    n = splice.FromSocket(socket, room);
                    piped = n && *n > 0;
                } else {
                    n = link.stream->Read(buffer.data(), buffer.size());
                }
            } catch (const SessionBroken& e) {
                waiter.ThrowIfAborted();
                dataFailure = e.what();
                n = 0;
            }
            if (n && *n > 0) {
                try {
                    if (piped) {
                        try {
                            sink.WriteFromPipe(splice.Output(), *n);
                        } catch (...) {
                            splice.Discard();  // with what the sink left in it
                            throw;
                        }
                    } else {
                        sink.Write(std::string_view(buffer.data(), *n));
                    }
                } catch (const SessionBroken&) {
                    throw;
                } catch (const FtpError&) {
                    // The sink refused the data (a full disk, more than the server announced): the
                    // transfer is given up, and the server's answer to that is read, so that the next
                    // command gets its own answer.
                    link = DataLink{};
                    while (!final && controlLost.empty()) {
                        Reply reply = channel.Read(waiter, "the server's answer after the transfer");
                        if (!reply.Preliminary()) final = std::move(reply);
                    }
                    throw;
                }
                received += static_cast<std::int64_t>(*n);
                done += static_cast<std::int64_t>(*n);
                status = kProgressDataFlowing;
                bounded.reset();
                waiter.Activity();
                waiter.Pace();
                continue;
            }
            if (n) {
                bounded.emplace(waiter);
                dataEnded = true;
                endUnconfirmed = link.stream->EndUnconfirmed();
                link.stream.reset();
                // The next port is asked for now, so that its answer comes with the final reply, which
                // many servers send only once our end of the data connection is closed.
                if (askEarly && !final && controlLost.empty() && dataFailure.empty() &&
                    (!expectedBytes || received == *expectedBytes)) {
                    channel.SendNext(epsvRefused ? "PASV" : "EPSV", waiter);
                    early.Sent();
                }
                continue;
            }
            dataPending = link.stream->HasBufferedInput();
        }
        if (dataPending || (controlLost.empty() && channel.HasPendingInput())) continue;

        pollfd fds[3];
        std::size_t count = 0;
        if (controlLost.empty())
            fds[count++] = {channel.Stream().Fd(), channel.Stream().PollEvents(true, false), 0};
        if (link.stream && !dataEnded && dataMayFlow)
            fds[count++] = {link.stream->Fd(), link.stream->PollEvents(true, false), 0};
        if (link.pending) fds[count++] = {link.pending->stream->Fd(), POLLOUT, 0};
        if (!link.stream && link.listener) fds[count++] = {link.listener->Fd(), POLLIN, 0};
        try {
            waiter.Wait(std::span<pollfd>(fds, count),
                        dataEnded ? "the server's answer after the transfer" : what);
        } catch (const SessionBroken& e) {
            waiter.ThrowIfAborted();
            if (completeWithoutReply()) return acceptUnconfirmed(e.what());
            throw;
        }
    }
    if (early.AnswerDue()) early.TakeAnswer(channel.Read(waiter, "the answer to the early port request"));
    if (early.WasSent()) {
        // A server that answered out of turn or refused the request is asked in the plain order from now
        // on; its replies were all read, so the next command gets its own.
        if (auto port = early.Port())
            nextPort = NextPort{*port, channel.CommandsSent()};
        else
            pipeliningRefused = true;
    }
    if (!dataFailure.empty()) {
        // a server that drops a data connection that spoke first gets it silent for the rest of the session
        if (greeted && received == 0) greetDataEarly = false;
        throw FtpError("The data connection was lost: " + dataFailure);
    }
    // Servers often close a TLS data connection without close_notify; with a known size the file must
    // still be whole, otherwise the server's positive final reply is the word that it is.
    if (endUnconfirmed && expectedBytes && received != *expectedBytes) {
        throw FtpError("The protected data connection ended without closing TLS after " +
                       std::to_string(received) + " of " + std::to_string(*expectedBytes) + " bytes");
    }
    return *final;
}

Listing FtpClient::Impl::ListCurrentFolder(Waiter& waiter) {
    Control();
    if (features.Mlsd() && !mlsdRefused) {
        ListingSink<MlsdParser> sink;
        try {
            Transfer("MLSD", sink, std::nullopt, waiter);
            Listing listing = sink.parser.Finish();
            // MLSD comes in the order of the server's folder, LIST as servers send it in name order,
            // which the runs that take only the first file rely on
            std::stable_sort(listing.Entries.begin(), listing.Entries.end(),
                             [](const ListEntry& a, const ListEntry& b) { return a.Name < b.Name; });
            return listing;
        } catch (const SessionBroken&) {
            throw;
        } catch (const FtpError& e) {
            if (!NotUnderstood(e)) throw;
            mlsdRefused = true;
        }
    }
    ListingSink<ListingParser> sink;
    Transfer("LIST", sink, std::nullopt, waiter);
    return sink.parser.Finish();
}

}  // namespace klvr
