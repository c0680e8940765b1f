#include "transfer/ftp/one_time_password.h"

#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <sstream>

#include "transfer/ftp/ftp_error.h"

namespace klvr {
namespace {

// A server may name any sequence number; a chain far longer than any real one would only burn time.
constexpr int kMaxSequence = 100000;
constexpr std::size_t kMaxSeedLength = 16;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsNumber(const std::string& text) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool IsSeed(const std::string& text) {
    if (text.empty() || text.size() > kMaxSeedLength) return false;
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

using Folded = std::array<unsigned char, 8>;

// One step of the chain: the digest folded to 64 bits, in the byte order the standard fixes for each hash.
Folded HashAndFold(const EVP_MD* md, const unsigned char* data, std::size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, md, nullptr) != 1)
        throw FtpError("The one-time password cannot be computed: the hash is not available");
    Folded out{};
    if (length == 16) {
        for (int i = 0; i < 8; ++i) out[i] = digest[i] ^ digest[i + 8];
        return out;
    }
    // SHA-1: five big-endian words folded to two, each written least significant byte first
    std::uint32_t words[5];
    for (int i = 0; i < 5; ++i) {
        words[i] = std::uint32_t(digest[4 * i]) << 24 | std::uint32_t(digest[4 * i + 1]) << 16 |
                   std::uint32_t(digest[4 * i + 2]) << 8 | std::uint32_t(digest[4 * i + 3]);
    }
    words[0] ^= words[2];
    words[1] ^= words[3];
    words[0] ^= words[4];
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(words[i / 4] >> (8 * (i % 4)));
    return out;
}

}  // namespace

std::optional<OtpChallenge> FindOtpChallenge(const std::string& replyText) {
    std::istringstream words(replyText);
    std::string word;
    while (words >> word) {
        std::string name = Lower(word);
        if (name != "otp-md5" && name != "otp-sha1") continue;
        std::string sequence;
        std::string seed;
        if (!(words >> sequence >> seed)) return std::nullopt;
        if (!IsNumber(sequence) || std::stoi(sequence) > kMaxSequence || !IsSeed(seed)) return std::nullopt;
        return OtpChallenge{name.substr(4), std::stoi(sequence), seed};
    }
    return std::nullopt;
}

std::string OtpResponse(const OtpChallenge& challenge, const std::string& passPhrase) {
    const EVP_MD* md = challenge.algorithm == "sha1" ? EVP_sha1() : EVP_md5();
    // the seed counts without regard to case
    std::string start = Lower(challenge.seed) + passPhrase;
    Folded value = HashAndFold(md, reinterpret_cast<const unsigned char*>(start.data()), start.size());
    for (int i = 0; i < challenge.sequence; ++i) value = HashAndFold(md, value.data(), value.size());
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : value) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

}  // namespace klvr
