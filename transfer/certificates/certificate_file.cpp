#include "transfer/certificates/certificate_file.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include "transfer/certificates/certificate_error.h"
#include "transfer/certificates/certificate_fields.h"

namespace klvr {
namespace {

// A store file is a certificate or a small bundle; anything far larger is not one, and reading it whole
// would only cost memory.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

BioPtr MemoryBio(const std::string& data) {
    BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())), &BIO_free);
    if (!bio) throw CertificateError("out of memory");
    return bio;
}

// Keys with a password are not supported; without this OpenSSL would prompt on the terminal.
int NoPassword(char*, int, int, void*) {
    return -1;
}

// PEM readers end a file with "no start line"; every other error means a damaged block.
bool OnlyEndOfPem() {
    const unsigned long e = ERR_peek_last_error();
    return e == 0 || (ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == PEM_R_NO_START_LINE);
}

// OpenSSL's key decoders do not tell a file without a key from a key they cannot read, so look first.
bool HasKeyBlock(const std::string& data) {
    for (auto begin = data.find("-----BEGIN "); begin != std::string::npos;
         begin = data.find("-----BEGIN ", begin + 1)) {
        const auto lineEnd = data.find_first_of("\r\n", begin);
        const std::string line =
            data.substr(begin, lineEnd == std::string::npos ? std::string::npos : lineEnd - begin);
        if (line.size() >= 16 && line.compare(line.size() - 16, 16, "PRIVATE KEY-----") == 0) return true;
    }
    return false;
}

std::vector<Certificate> ReadPem(const std::string& data, const std::string& stem) {
    std::vector<X509Ptr> certs;
    {
        BioPtr bio = MemoryBio(data);
        while (X509* cert = PEM_read_bio_X509_AUX(bio.get(), nullptr, &NoPassword, nullptr))
            certs.emplace_back(cert, &X509_free);
        if (!OnlyEndOfPem()) throw CertificateError("it holds a damaged certificate");
        ERR_clear_error();
    }
    if (certs.empty()) throw CertificateError("it holds no certificate");

    KeyPtr key(nullptr, &EVP_PKEY_free);
    if (HasKeyBlock(data)) {
        BioPtr bio = MemoryBio(data);
        key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, &NoPassword, nullptr));
        if (!key)
            throw CertificateError("its private key cannot be read (keys with a password are not supported)");
        ERR_clear_error();
    }
    X509* owner = nullptr;
    if (key) {
        for (const auto& cert : certs)
            if (X509_check_private_key(cert.get(), key.get()) == 1) {
                owner = cert.get();
                break;
            }
        ERR_clear_error();
        if (owner == nullptr) throw CertificateError("its private key belongs to none of its certificates");
    }
    std::vector<Certificate> result;
    for (const auto& cert : certs)
        result.push_back(MakeCertificate(cert.get(), cert.get() == owner ? key.get() : nullptr, stem));
    return result;
}

std::vector<Certificate> ReadPkcs12(const std::string& data, const std::string& stem) {
    BioPtr bio = MemoryBio(data);
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12_bio(bio.get(), nullptr), &PKCS12_free);
    if (!p12) {
        ERR_clear_error();
        throw CertificateError("it is neither a PEM nor a PKCS#12 certificate file");
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    // A null password makes OpenSSL try both the absent and the empty password.
    const int parsed = PKCS12_parse(p12.get(), nullptr, &rawKey, &rawCert, &rawChain);
    ERR_clear_error();
    KeyPtr key(rawKey, &EVP_PKEY_free);
    X509Ptr cert(rawCert, &X509_free);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> chain(
        rawChain, [](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); });
    if (parsed != 1) throw CertificateError("the PKCS#12 file is damaged or needs a password");

    std::vector<Certificate> result;
    if (cert) result.push_back(MakeCertificate(cert.get(), key.get(), stem));
    for (int i = 0; chain && i < sk_X509_num(chain.get()); ++i)
        result.push_back(MakeCertificate(sk_X509_value(chain.get(), i), nullptr, stem));
    if (result.empty()) throw CertificateError("it holds no certificate");
    if (key && !cert) throw CertificateError("its private key belongs to none of its certificates");
    return result;
}

}  // namespace

std::string ReadCertificateFileBytes(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) throw CertificateError("it is not a regular file");
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) throw CertificateError("it cannot be read: " + ec.message());
    if (size > kMaxFileSize) throw CertificateError("it is too large to be a certificate file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw CertificateError("it cannot be opened");
    std::string data(static_cast<std::size_t>(size), '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    if (in.gcount() != static_cast<std::streamsize>(data.size())) throw CertificateError("it cannot be read");
    return data;
}

std::vector<Certificate> ReadCertificateData(const std::string& bytes,
                                             const std::string& fallbackFriendlyName) {
    ERR_clear_error();  // the end of a PEM file is told by the error it leaves
    if (bytes.find("-----BEGIN ") != std::string::npos) return ReadPem(bytes, fallbackFriendlyName);
    return ReadPkcs12(bytes, fallbackFriendlyName);
}

std::vector<Certificate> ReadCertificateFile(const std::filesystem::path& file) {
    return ReadCertificateData(ReadCertificateFileBytes(file), file.stem().string());
}

std::vector<std::filesystem::path> StoreFiles(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        if (ec)
            throw CertificateError("the store folder " + folder.string() +
                                   " cannot be read: " + ec.message());
        return {};
    }
    std::vector<fs::path> files;
    fs::directory_iterator it(folder, ec);
    if (ec)
        throw CertificateError("the store folder " + folder.string() + " cannot be read: " + ec.message());
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (it->is_regular_file(typeError)) files.push_back(it->path());
    }
    if (ec)
        throw CertificateError("the store folder " + folder.string() + " cannot be read: " + ec.message());
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().string() < b.filename().string();
    });
    return files;
}

}  // namespace klvr
