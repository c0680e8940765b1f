#include "support/tls_servers.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace klvr::test {
namespace {

const TestCertificate& ServerCertificate(const ServerTls& tls) {
    return tls.certificate != nullptr ? *tls.certificate : TestCertificates::Shared().server;
}

bool HasEcKey(const TestCertificate& cert) {
    FILE* f = std::fopen(cert.certPem.c_str(), "r");
    if (f == nullptr) throw std::runtime_error("cannot read " + cert.certPem.string());
    X509* x509 = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    if (x509 == nullptr) throw std::runtime_error("no certificate in " + cert.certPem.string());
    bool ec = EVP_PKEY_get_base_id(X509_get0_pubkey(x509)) == EVP_PKEY_EC;
    X509_free(x509);
    return ec;
}

std::string OpenSslTls12Only(const TempDir& work) {
    return "OPENSSL_CONF=" + work.Write("openssl.cnf",
                                        "openssl_conf = conf\n[conf]\nssl_conf = ssl\n[ssl]\n"
                                        "system_default = tls\n[tls]\nMaxProtocol = TLSv1.2\n");
}

std::string Quoted(const std::string& text) {
    return nlohmann::json(text).dump();  // a JSON string is a Python string literal too
}

// Python run with `handler` bound to a TLS_FTPHandler subclass.
constexpr const char* kPyTlsSetup = R"PY(
from OpenSSL import SSL as _SSL
_ctx = _SSL.Context(_SSL.TLS_SERVER_METHOD)
_ctx.set_options(_SSL.OP_NO_SSLv2 | _SSL.OP_NO_SSLv3 | _SSL.OP_NO_COMPRESSION)
_ctx.use_certificate_chain_file(TLS["cert"])
_ctx.use_privatekey_file(TLS["key"])
_ctx.set_session_id(b"klvr-tests")
if TLS["tls12Only"]:
    _ctx.set_max_proto_version(_SSL.TLS1_2_VERSION)
if TLS["requireClientCertificate"]:
    _ctx.load_verify_locations(TLS["ca"])
    _ctx.set_verify(_SSL.VERIFY_PEER | _SSL.VERIFY_FAIL_IF_NO_PEER_CERT, lambda conn, cert, err, depth, ok: ok)
handler.ssl_context = _ctx
handler.proto_cmds = dict(handler.proto_cmds)

if TLS["implicit"]:
    _plain_handle = handler.handle
    def _implicit_handle(self):
        self.secure_connection(self.ssl_context)
        _plain_handle(self)
    handler.handle = _implicit_handle

if TLS["ccc"]:
    def _ftp_CCC(self, line):
        if not isinstance(self.socket, _SSL.Connection):
            self.respond("533 The control connection is not protected.")
            return
        self.respond("200 The control connection goes back to clear text.")
        conn = self.socket
        raw = conn._socket
        raw.setblocking(True)
        try:
            conn.shutdown()
            while True:
                conn.recv(4096)
        except _SSL.ZeroReturnError:
            pass
        raw.setblocking(False)
        self.socket = raw
        self._ssl_requested = self._ssl_established = False
        self._ssl_accepting = self._ssl_closing = False
    handler.ftp_CCC = _ftp_CCC
    handler.proto_cmds["CCC"] = dict(perm=None, auth=False, arg=False, help="Syntax: CCC")

if TLS["refuseProt"]:
    _ftp_PROT = handler.ftp_PROT
    def _refusing_PROT(self, line):
        if line.upper() == "P":
            self.respond("534 Protected data connections are refused by policy.")
        else:
            _ftp_PROT(self, line)
    handler.ftp_PROT = _refusing_PROT

if TLS["bareClose"]:
    class _BareCloseDTP(handler.dtp_handler):
        def close(self):
            # no close_notify: TCP alone ends the connection
            self._ssl_established = False
            super().close()
    handler.dtp_handler = _BareCloseDTP

if TLS["sizeExtra"]:
    _ftp_SIZE = handler.ftp_SIZE
    def _lying_SIZE(self, path):
        import os
        try:
            size = os.path.getsize(path) + TLS["sizeExtra"]
        except OSError:
            return _ftp_SIZE(self, path)
        self.respond("213 %d" % size)
    handler.ftp_SIZE = _lying_SIZE
)PY";

}  // namespace

void UseTls(PyFtpdOptions& options, const ServerTls& tls) {
    const TestCertificate& cert = ServerCertificate(tls);
    nlohmann::json settings = {{"cert", cert.certPem.string()},
                               {"key", cert.keyPem.string()},
                               {"ca", TestCertificates::Shared().ca.certPem.string()},
                               {"tls12Only", tls.tls12Only},
                               {"requireClientCertificate", tls.requireClientCertificate},
                               {"implicit", tls.start == TlsStart::Implicit},
                               {"ccc", tls.clearCommandChannel},
                               {"refuseProt", tls.refuseProtectedData},
                               {"bareClose", tls.dataWithoutCloseNotify},
                               {"sizeExtra", tls.claimedSizeExtra}};
    options.handlerClass = "TLS_FTPHandler";
    options.handlerSetup = "import json as _json\nTLS = _json.loads(" + Quoted(settings.dump()) + ")\n" +
                           kPyTlsSetup + options.handlerSetup;
}

void UseTls(VsftpdOptions& options, const ServerTls& tls, const TempDir& work) {
    const TestCertificate& cert = ServerCertificate(tls);
    std::vector<std::string> lines = {
        "ssl_enable=YES",
        "allow_anon_ssl=YES",
        // clear data (PROT C) and clear logons stay possible, so every security mode can be tried
        "force_anon_logins_ssl=NO",
        "force_anon_data_ssl=NO",
        "rsa_cert_file=" + cert.certPem.string(),
        "rsa_private_key_file=" + cert.keyPem.string(),
        "ssl_ciphers=HIGH",
        "require_ssl_reuse=YES",
        std::string("implicit_ssl=") + (tls.start == TlsStart::Implicit ? "YES" : "NO"),
    };
    // vsftpd asks every client for a certificate (ssl_request_cert=YES) unless told otherwise
    if (tls.requireClientCertificate) {
        lines.insert(lines.end(), {"require_cert=YES", "validate_cert=YES",
                                   "ca_certs_file=" + TestCertificates::Shared().ca.certPem.string()});
    }
    options.extraConfig.insert(options.extraConfig.end(), lines.begin(), lines.end());
    if (tls.tls12Only) options.environment.push_back(OpenSslTls12Only(work));
}

void UseTls(ProFtpdOptions& options, const ServerTls& tls) {
    const TestCertificate& cert = ServerCertificate(tls);
    const std::string kind = HasEcKey(cert) ? "EC" : "RSA";
    std::vector<std::string> lines = {
        "<IfModule mod_tls.c>",
        "TLSEngine on",
        "TLS" + kind + "CertificateFile " + cert.certPem.string(),
        "TLS" + kind + "CertificateKeyFile " + cert.keyPem.string(),
    };
    if (tls.start == TlsStart::Implicit) lines.push_back("TLSOptions UseImplicitSSL");
    if (tls.requireClientCertificate) {
        lines.push_back("TLSVerifyClient on");
        lines.push_back("TLSCACertificateFile " + TestCertificates::Shared().ca.certPem.string());
    }
    if (tls.tls12Only) lines.push_back("TLSProtocol TLSv1.2");
    lines.push_back("</IfModule>");
    options.extraConfig.insert(options.extraConfig.end(), lines.begin(), lines.end());
}

void UseTls(PureFtpdOptions& options, const ServerTls& tls, const TempDir& work) {
    if (tls.start == TlsStart::Implicit) throw std::invalid_argument("Pure-FTPd has no implicit TLS");
    const TestCertificate& cert = ServerCertificate(tls);
    std::string certFile = cert.certPem.string();
    std::string ciphers = "HIGH";
    if (tls.requireClientCertificate) {
        // the server verifies client certificates against the CAs of its own certificate file
        certFile =
            work.Write("pure-ftpd-cert.pem", ReadFile(cert.certPem.string()) +
                                                 ReadFile(TestCertificates::Shared().ca.certPem.string()));
        ciphers = "-C:" + ciphers;
    }
    options.extraArguments.insert(options.extraArguments.end(),
                                  {"-Y", "1", "-J", ciphers, "-2", certFile + "," + cert.keyPem.string()});
    if (tls.tls12Only) options.environment.push_back(OpenSslTls12Only(work));
}

}  // namespace klvr::test
