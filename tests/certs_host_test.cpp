// Whether a server certificate names the host: the common name exactly, or the subjectAltName entries
// as TLS clients match them.
#include <gtest/gtest.h>

#include <string>

#include "support/test_certificates.h"
#include "transfer/certificates/certificate_file.h"
#include "transfer/certificates/certificate_host.h"

namespace klvr {
namespace {

using test::TestCertificate;
using test::TestCertificates;

TEST(CertificateNamesHost, CommonNameExactlyOrTheAlternativeNames) {
    const struct {
        const TestCertificate TestCertificates::*certificate;
        std::string host;
        bool names;
    } cases[] = {
        // names only in subjectAltName
        {&TestCertificates::sanOnly, "localhost", true},
        {&TestCertificates::sanOnly, "LocalHost", true},
        {&TestCertificates::sanOnly, "127.0.0.1", true},
        {&TestCertificates::sanOnly, "::1", true},
        {&TestCertificates::sanOnly, "0:0::1", true},
        {&TestCertificates::sanOnly, "127.0.0.2", false},
        {&TestCertificates::sanOnly, "localhost.example", false},
        {&TestCertificates::sanOnly, "klvr Test Server", true},  // the common name, as the dialog shows it
        {&TestCertificates::sanOnly, "klvr test server", false},
        {&TestCertificates::sanOnly, "", false},
        // a wildcard stands for one whole left-most label
        {&TestCertificates::wildcard, "ftp.klvr.test", true},
        {&TestCertificates::wildcard, "FTP.Klvr.Test", true},
        {&TestCertificates::wildcard, "klvr.test", false},
        {&TestCertificates::wildcard, "a.ftp.klvr.test", false},
        {&TestCertificates::wildcard, "ftp.klvr.test.evil", false},
        {&TestCertificates::wildcard, std::string("ftp.klvr.test\0.evil", 19), false},
        {&TestCertificates::wrongHost, "localhost", false},
        {&TestCertificates::wrongHost, "wrong-host.invalid", true},
    };
    const TestCertificates& certs = TestCertificates::Shared();
    for (const auto& c : cases) {
        SCOPED_TRACE((certs.*c.certificate).commonName + " / " + c.host);
        const Certificate certificate = ReadCertificateFile((certs.*c.certificate).certPem).at(0);
        EXPECT_EQ(CertificateNamesHost(certificate, c.host), c.names);
    }
}

}  // namespace
}  // namespace klvr
