#pragma once
// Reading one file of a certificate store, and the order in which a store's files are read.
#include <filesystem>
#include <string>
#include <vector>

#include "transfer/certificates/certificate.h"

namespace klvr {

// The certificates of a PEM file (with the private key that belongs to one of them, when the file holds
// one) or of a PKCS#12 file without a password, in the file's order. Throws CertificateError with the
// reason when the file cannot be read, is neither, holds no certificate or a key it cannot use.
std::vector<Certificate> ReadCertificateFile(const std::filesystem::path& file);

// The same in two steps, for a caller that keeps the bytes it checked: the whole file (throws
// CertificateError when it cannot be read or is far too large for a certificate file), and the
// certificates in those bytes, named fallbackFriendlyName when they carry no friendly name of their own.
std::string ReadCertificateFileBytes(const std::filesystem::path& file);
std::vector<Certificate> ReadCertificateData(const std::string& bytes,
                                             const std::string& fallbackFriendlyName);

// The files of a store folder in file-name order: regular files (or links to them) whose names do not
// begin with "." (half-written imports carry such names). A missing folder has no files; a folder that
// cannot be read throws CertificateError.
std::vector<std::filesystem::path> StoreFiles(const std::filesystem::path& folder);

}  // namespace klvr
