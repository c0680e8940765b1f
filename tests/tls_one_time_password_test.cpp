// The one-time-password answer and the challenge it answers.
#include <gtest/gtest.h>

#include "transfer/ftp/one_time_password.h"

namespace klvr {
namespace {

struct Vector {
    const char* algorithm;
    const char* passPhrase;
    const char* seed;
    int sequence;
    const char* hex;
};

// The standard's own examples; the seed counts without regard to case.
TEST(OneTimePassword, StandardExamples) {
    const Vector vectors[] = {
        {"md5", "This is a test.", "TeSt", 0, "9E876134D90499DD"},
        {"md5", "This is a test.", "TeSt", 1, "7965E05436F5029F"},
        {"md5", "This is a test.", "TeSt", 99, "50FE1962C4965880"},
        {"md5", "AbCdEfGhIjK", "alpha1", 99, "5AA37A81F212146C"},
        {"md5", "OTP's are good", "correct", 1, "DDCDAC956F234937"},
        {"sha1", "This is a test.", "TeSt", 0, "BB9E6AE1979D8FF4"},
        {"sha1", "This is a test.", "TeSt", 99, "87FEC7768B73CCF9"},
        {"sha1", "AbCdEfGhIjK", "alpha1", 1, "D07CE229B5CF119B"},
        {"sha1", "OTP's are good", "correct", 99, "4F296A74FE1567EC"},
    };
    for (const auto& v : vectors) {
        OtpChallenge challenge{v.algorithm, v.sequence, v.seed};
        EXPECT_EQ(OtpResponse(challenge, v.passPhrase), v.hex)
            << v.algorithm << " " << v.seed << " " << v.sequence;
    }
}

TEST(OneTimePassword, ChallengeInTheAnswerToUser) {
    auto md5 = FindOtpChallenge("331 Response to otp-md5 499 ke1234 required.");
    ASSERT_TRUE(md5);
    EXPECT_EQ(md5->algorithm, "md5");
    EXPECT_EQ(md5->sequence, 499);
    EXPECT_EQ(md5->seed, "ke1234");
    auto sha1 = FindOtpChallenge("331 OTP-SHA1 7 Alpha1 ext");
    ASSERT_TRUE(sha1);
    EXPECT_EQ(sha1->algorithm, "sha1");
    EXPECT_EQ(sha1->seed, "Alpha1");

    for (const char* text : {
             "331 Password required for user.",
             "331 s/key 99 ke1234",                    // MD4, which this client does not answer
             "331 otp-md5 99",                         // no seed
             "331 otp-md5 many ke1234",                // no sequence number
             "331 otp-md5 99 seed-with-dash",          // a seed is letters and digits
             "331 otp-md5 99 seedlongerthansixteen1",  // and at most 16 of them
             "331 otp-md5 99999999 ke1234",            // a chain too long to be real
         }) {
        EXPECT_FALSE(FindOtpChallenge(text)) << text;
    }
}

}  // namespace
}  // namespace klvr
