#pragma once
// TLS settings for the real test servers: explicit (AUTH TLS) or implicit TLS, a client certificate
// required or not, TLS 1.2 only, and for pyftpdlib a few server behaviours the tests need (CCC, a
// refused PROT P, data connections closed without close_notify). Everything else is the server's default.
#include <string>
#include <vector>

#include "support/ftp_servers.h"
#include "support/proftpd_server.h"
#include "support/pure_ftpd_server.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace klvr::test {

enum class TlsStart { Explicit, Implicit };

struct ServerTls {
    TlsStart start = TlsStart::Explicit;
    const TestCertificate* certificate = nullptr;  // the server's; default: the shared set's "localhost"
    bool requireClientCertificate = false;         // issued by the shared test CA
    bool tls12Only = false;
    // pyftpdlib only
    bool clearCommandChannel = true;      // answers CCC and goes back to clear text
    bool refuseProtectedData = false;     // answers PROT P with 534
    bool dataWithoutCloseNotify = false;  // closes TLS data connections by TCP alone
    long long claimedSizeExtra = 0;       // added to the size SIZE reports
};

// Makes pyftpdlib serve FTP over TLS (handler class and setup lines of options).
void UseTls(PyFtpdOptions& options, const ServerTls& tls);

// Makes vsftpd serve FTP over TLS for anonymous users, with its defaults of asking every client for a
// certificate and insisting that data connections resume the control connection's TLS session. work
// holds the OpenSSL settings file when one is needed.
void UseTls(VsftpdOptions& options, const ServerTls& tls, const TempDir& work);

// Makes ProFTPD serve FTP over TLS as Debian's tls.conf shows (TLSEngine, the certificate and its key);
// implicit TLS through TLSOptions UseImplicitSSL.
void UseTls(ProFtpdOptions& options, const ServerTls& tls);

// Makes Pure-FTPd accept TLS beside clear sessions (the package's TLS setting 1) with the test's
// certificate; a required client certificate puts "-C:" before the cipher list, as README.TLS shows.
// Pure-FTPd has no implicit TLS. work holds the certificate file when it must carry the CA.
void UseTls(PureFtpdOptions& options, const ServerTls& tls, const TempDir& work);

}  // namespace klvr::test
