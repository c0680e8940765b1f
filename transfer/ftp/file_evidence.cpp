#include "transfer/ftp/file_evidence.h"

#include <openssl/evp.h>

#include <cstdio>

namespace klvr {

std::string ShortDigest(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char byte[3];
    for (unsigned int i = 0; i < 8 && i < length; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", digest[i]);
        hex += byte;
    }
    return hex;
}

std::string OriginDigest(const std::string& host, int port, const std::string& user,
                         const std::string& path) {
    std::string text = host;
    text.append(1, '\0')
        .append(std::to_string(port))
        .append(1, '\0')
        .append(user)
        .append(1, '\0')
        .append(path);
    return ShortDigest(text);
}

}  // namespace klvr
