#pragma once
// Certificates made at test time for the TLS servers and the certificate stores of the tests: a CA, server
// certificates that pass or break exactly one check, and a client certificate with its key.
#include <filesystem>
#include <string>

namespace klvr::test {

enum class TestKeyType { Ec, Rsa };  // EC P-256 (fast) or RSA 2048

struct TestCertificate {
    std::filesystem::path certPem;        // "<name>-cert.pem": the certificate alone
    std::filesystem::path keyPem;         // "<name>-key.pem": its unencrypted private key alone (mode 0600)
    std::filesystem::path certAndKeyPem;  // "<name>.pem": certificate then key, as a "MY" store holds it
    std::string keyName;                  // SHA-1 fingerprint, 40 upper-case hexadecimal digits
    std::string commonName;
};

class TestCertificates {
  public:
    // Generates the whole set into folder (created when missing).
    explicit TestCertificates(const std::filesystem::path& folder, TestKeyType keyType = TestKeyType::Ec);

    // One EC set per test program, in a temporary folder that is removed when the program ends.
    static const TestCertificates& Shared();

    std::filesystem::path folder;

    TestCertificate ca;            // "klvr Test CA", self-signed, 10 years
    TestCertificate server;        // "localhost", SAN DNS:localhost, IP:127.0.0.1, IP:::1; issued by ca
    TestCertificate wrongHost;     // "wrong-host.invalid" (also its SAN); issued by ca
    TestCertificate sanOnly;       // "klvr Test Server", names only in its SAN: localhost, 127.0.0.1, ::1
    TestCertificate wildcard;      // "klvr Test Wildcard", SAN DNS:*.klvr.test only; issued by ca
    TestCertificate expired;       // "localhost"; issued by ca; ended a day ago
    TestCertificate notYetValid;   // "localhost"; issued by ca; valid from tomorrow
    TestCertificate selfSigned;    // "localhost"; its own issuer, in date
    TestCertificate badSignature;  // "localhost"; issued by ca, then its signature damaged
    TestCertificate client;        // "klvr Test Client", clientAuth; issued by ca

    std::filesystem::path clientP12;  // "client.p12": client certificate and key, PKCS#12, empty password
    std::string clientFriendlyName;   // the friendly name inside clientP12: "klvr test client"

    std::filesystem::path corrupt;  // "corrupt.pem": a PEM certificate block that holds no certificate
};

}  // namespace klvr::test
