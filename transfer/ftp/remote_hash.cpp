#include "transfer/ftp/remote_hash.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <vector>

namespace klvr {
namespace {

const EVP_MD* Algorithm(const std::string& name) {
    if (name == "SHA-256") return EVP_sha256();
    if (name == "SHA-512") return EVP_sha512();
    if (name == "SHA-1") return EVP_sha1();
    if (name == "MD5") return EVP_md5();
    return nullptr;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool IsHex(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// Words separated by spaces.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const auto start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        text.remove_prefix(start);
        const auto end = std::min(text.find(' '), text.size());
        words.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return words;
}

std::optional<RemoteHash> Checked(std::string algorithm, std::string_view hex) {
    const EVP_MD* md = Algorithm(algorithm);
    if (!md || !IsHex(hex) || hex.size() != 2 * static_cast<std::size_t>(EVP_MD_get_size(md)))
        return std::nullopt;
    return RemoteHash{std::move(algorithm), Lower(hex)};
}

}  // namespace

HashCommand ChooseHashCommand(const ServerFeatures& features) {
    if (features.Has("HASH")) return {"HASH", {}};
    if (features.Has("XSHA256")) return {"XSHA256", "SHA-256"};
    if (features.Has("XSHA512")) return {"XSHA512", "SHA-512"};
    if (features.Has("XSHA1")) return {"XSHA1", "SHA-1"};
    if (features.Has("XMD5")) return {"XMD5", "MD5"};
    return {};
}

std::optional<RemoteHash> ParseHashReply(const HashCommand& command, std::string_view text) {
    const auto words = Words(text);
    if (command.verb == "HASH") {
        // "SHA-256 0-49 169cd2... name": the algorithm, the byte range, the hash, the name
        if (words.size() < 3) return std::nullopt;
        std::string algorithm(words[0]);
        for (char& c : algorithm) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return Checked(algorithm, words[2]);
    }
    // the X commands answer with the hash alone, some with the name before or after it
    for (const auto word : words) {
        if (auto hash = Checked(command.algorithm, word)) return hash;
    }
    return std::nullopt;
}

std::optional<std::string> LocalHash(int fd, std::int64_t length, const std::string& algorithm) {
    const EVP_MD* md = Algorithm(algorithm);
    if (!md || length < 0) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) return std::nullopt;
    std::vector<char> buffer(256 * 1024);
    std::int64_t at = 0;
    while (at < length) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - at, buffer.size()));
        const ssize_t n = ::pread(fd, buffer.data(), want, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n));
        at += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

}  // namespace klvr
