// The control session: connecting (directly, through a proxy tunnel or to an FTP gateway), TLS at the
// points the security mode asks for, the logon dialogue, and the single commands.
#include <cctype>

#include "transfer/ftp/client_impl.h"
#include "transfer/ftp/gateway_logon.h"
#include "transfer/ftp/one_time_password.h"
#include "transfer/ftp/proxy_handshake.h"
#include "transfer/ftp/reply_values.h"
#include "transfer/ftp/security_plan.h"
#include "transfer/ftp/tcp_stream.h"

namespace klvr {
namespace {

std::uint16_t DefaultProxyPort(int kind) {
    switch (kind) {
        case kProxySocks4:
        case kProxySocks5:
            return 1080;
        case kProxyPipe:
            return 8080;
        default:
            return 21;
    }
}

std::uint16_t CheckedPort(long port, std::uint16_t fallback, const char* what) {
    if (port == 0) return fallback;
    if (port < 0 || port > 65535)
        throw FtpError(std::string(what) + " " + std::to_string(port) + " is not a port number");
    return static_cast<std::uint16_t>(port);
}

std::string Verb(const std::string& command) {
    std::string verb;
    for (char c : command) {
        if (c == ' ') break;
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return verb;
}

}  // namespace

ControlChannel& FtpClient::Impl::Control() {
    if (!control) throw FtpError("Not connected");
    return *control;
}

Reply FtpClient::Impl::Command(const std::string& command, Waiter& waiter) {
    ControlChannel& channel = Control();
    channel.Send(command, waiter);
    return channel.Read(waiter, "the answer to " + Verb(command));
}

Reply FtpClient::Impl::Question(const std::string& command, Waiter& waiter) {
    const bool keepPort = nextPort && nextPort->commandsSent == Control().CommandsSent();
    Reply reply = Command(command, waiter);
    if (keepPort) nextPort->commandsSent = Control().CommandsSent();
    return reply;
}

void FtpClient::Impl::ExpectPositive(const Reply& reply) {
    if (reply.code < 200 || reply.code >= 300) throw FtpError(reply.Text());
}

void FtpClient::Impl::SetType(char type, Waiter& waiter) {
    if (currentType == type) return;
    ExpectPositive(Command(std::string("TYPE ") + type, waiter));
    currentType = type;
}

void FtpClient::Impl::LearnFeatures(Waiter& waiter) {
    features = ParseFeatReply(Command("FEAT", waiter));
    // Servers that name UTF8 may still wait for this before they send names as UTF-8; a refusal leaves
    // the names as the server keeps them, which is no reason to fail.
    if (features.Has("UTF8")) Command("OPTS UTF8 ON", waiter);
}

std::string FtpClient::Impl::WorkingFolder(Waiter& waiter) {
    Reply reply = Command("PWD", waiter);
    ExpectPositive(reply);
    auto folder = ParsePwdReply(reply.lines.empty() ? std::string() : reply.lines.front());
    if (!folder) throw FtpError("The server's answer to PWD names no folder: " + reply.Text());
    return *folder;
}

void FtpClient::Impl::ChangeFolder(const std::string& path, Waiter& waiter) {
    if (path.empty()) throw FtpError("No remote folder given");
    ExpectPositive(Command("CWD " + path, waiter));
    workingFolder = RemotePathOf(path);
}

std::string FtpClient::Impl::RemotePathOf(const std::string& name) const {
    if (workingFolder.empty() || (!name.empty() && name.front() == '/')) return name;
    if (workingFolder.back() == '/') return workingFolder + name;
    return workingFolder + "/" + name;
}

void FtpClient::Impl::Login(const std::string& host, const std::string& user, const std::string& password,
                            const std::string& account, long port, Waiter& waiter) {
    // The whole logon, from the connect on, ends within the time-out: a server or proxy that feeds it
    // a byte at a time cannot hold a run.
    const Waiter::Bound bound(waiter);
    Drop();
    epsvRefused = false;
    restUnusable = false;
    greetDataEarly = true;
    pipeliningRefused = false;
    nextPort.reset();
    sizeInRetrReply = false;
    if (host.empty()) throw FtpError("No host name given");
    targetHost = host;
    targetPort = CheckedPort(port, 21, "RemotePort");
    logonUser = user;
    workingFolder.clear();
    int kind = self.ProxyType;
    if (kind < kProxyNone || kind > kProxyPipe) throw FtpError("Unknown ProxyType " + std::to_string(kind));
    SecurityPlan plan = PlanSecurity(self.Security, self.SecurityProtocol);
    if (plan.UsesTls() && !secure) {
        throw FtpError("TLS is not available in this build; Security " + std::to_string(self.Security) +
                       " needs it");
    }

    // ---- the connection ----
    std::unique_ptr<ByteStream> stream;
    tunnelled = kind == kProxySocks4 || kind == kProxySocks5 || kind == kProxyPipe;
    WithCause(FailureCause::kConnect, [&] {
        if (kind == kProxyNone) {
            stream = TcpConnect(host, targetPort, PortRange{}, abort, waiter);
        } else {
            if (self.ProxyHost.empty())
                throw FtpError("ProxyType " + std::to_string(kind) + " needs a ProxyHost");
            std::uint16_t proxyPort = CheckedPort(self.ProxyPort, DefaultProxyPort(kind), "ProxyPort");
            stream = TcpConnect(self.ProxyHost, proxyPort, PortRange{}, abort, waiter);
            if (kind == kProxySocks4) Socks4Handshake(*stream, host, targetPort, self.ProxyUsername, waiter);
            if (kind == kProxySocks5) {
                Socks5Handshake(*stream, host, targetPort, self.ProxyUsername, self.ProxyPassword, waiter);
            }
            if (kind == kProxyPipe) {
                HttpConnectHandshake(*stream, host, targetPort, self.ProxyUsername, self.ProxyPassword,
                                     waiter);
            }
        }
    });
    controlPeer = SocketAddress::Peer(stream->Fd());
    endpoint = kind == kProxyNone ? controlPeer.Numeric() : host;
    if (plan.implicitTls) {
        stream = WithCause(FailureCause::kTls,
                           [&] { return secure->SecureControl(std::move(stream), host, self, waiter); });
    }
    control = std::make_unique<ControlChannel>(std::move(stream), trace);
    state.store(2);
    RaiseStateChanged();

    try {
        operation = kProgressLogon;
        Reply greeting = control->Read(waiter, "the server's greeting");
        while (greeting.code == 120) greeting = control->Read(waiter, "the server's greeting");
        ExpectPositive(greeting);

        bool secured = plan.implicitTls;
        if (plan.explicitTls) {
            Reply answer = Command("AUTH TLS", waiter);
            if (answer.code == 234) {
                WithCause(FailureCause::kTls, [&] {
                    control->PutStream(secure->SecureControl(control->TakeStream(), host, self, waiter));
                });
                secured = true;
            } else if (plan.tlsOptional) {
                ReportError("The server does not offer TLS (" + answer.Text() +
                            "); the session goes on unprotected");
            } else {
                throw FtpError(answer.Text(), FailureCause::kTls);
            }
        }

        // ---- the logon dialogue of the proxy kind ----
        LogonValues values{user, password, targetPort == 21 ? host : host + ":" + std::to_string(targetPort),
                           self.ProxyUsername, self.ProxyPassword};
        bool skipPassword = false;
        std::optional<std::string> oneTimePassword;
        for (const auto& step : LogonSteps(kind)) {
            if (step.proxyLogon && self.ProxyUsername.empty()) continue;
            std::string command = ExpandLogonStep(step.command, values);
            std::string verb = Verb(command);
            if (verb == "PASS" && skipPassword) {
                skipPassword = false;
                continue;
            }
            if (verb == "PASS" && oneTimePassword) {
                command = "PASS " + *oneTimePassword;
                oneTimePassword.reset();
            }
            Reply reply = Command(command, waiter);
            if (verb == "USER") {
                if (reply.code >= 400) throw FtpError(reply.Text(), FailureCause::kLogon);
                skipPassword = reply.code < 300;
                if (plan.oneTimePassword && !step.proxyLogon && !skipPassword) {
                    // The password is the pass-phrase of the one-time passwords: it never goes out as is.
                    auto challenge = FindOtpChallenge(reply.Text());
                    if (!challenge) {
                        throw FtpError(
                            "The server offers no one-time-password challenge (otp-md5 or otp-sha1) in its "
                            "answer to USER, so the password is not sent: " +
                            reply.Text());
                    }
                    oneTimePassword = OtpResponse(*challenge, password);
                }
            } else if (verb == "PASS") {
                if (reply.code == 332) {
                    if (account.empty()) throw FtpError(reply.Text(), FailureCause::kLogon);
                    reply = Command("ACCT " + account, waiter);
                }
                WithCause(FailureCause::kLogon, [&] { ExpectPositive(reply); });
            } else if (reply.code >= 400) {
                throw FtpError(reply.Text());
            }
        }

        if (secured) {
            ExpectPositive(Command("PBSZ 0", waiter));
            Reply prot = Command(plan.protectData ? "PROT P" : "PROT C", waiter);
            if (plan.protectData && (prot.code < 200 || prot.code >= 300)) {
                // never a silent fall back to clear data
                throw FtpError("The server refused protected data connections (PROT P): " + prot.Text(),
                               FailureCause::kTls);
            }
            ExpectPositive(prot);
            protectData = plan.protectData;
            if (plan.clearAfterLogon) {
                ExpectPositive(Command("CCC", waiter));
                control->PutStream(secure->ClearControl(control->TakeStream(), waiter));
            }
        }
        LearnFeatures(waiter);
    } catch (const FtpError&) {
        // a session that failed its logon is of no use; SessionBroken is dropped by Run itself
        Drop();
        throw;
    }
}

}  // namespace klvr
