#pragma once
// The one-time-password logon (RFC 2289): the server's answer to USER names a hash, a sequence number
// and a seed; the client answers with the hash chain of seed and pass-phrase, so the pass-phrase itself
// never crosses the network.
#include <optional>
#include <string>

namespace klvr {

struct OtpChallenge {
    std::string algorithm;  // "md5" or "sha1"
    int sequence = 0;
    std::string seed;  // as the server sent it
};

// The challenge in a reply's text ("331 Response to otp-md5 499 ke1234 required."); nothing when the
// text holds none this client can answer.
std::optional<OtpChallenge> FindOtpChallenge(const std::string& replyText);

// The response in the hexadecimal form (16 upper-case digits), which every conforming server accepts.
std::string OtpResponse(const OtpChallenge& challenge, const std::string& passPhrase);

}  // namespace klvr
