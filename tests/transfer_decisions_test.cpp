// The decisions that protect data, each a pure function fed facts: what to do with a file about to be
// fetched, whether a finished transfer left the whole file, whether a remote file may be deleted, whether
// an archive may be unpacked, and what an unfinished download records about itself.
#include <gtest/gtest.h>

#include "settings/numeric_text.h"
#include "transfer/delete_decision.h"
#include "transfer/ftp/completion.h"
#include "transfer/ftp/fetch_plan.h"
#include "transfer/ftp/partial_file.h"
#include "transfer/ftp/zip_unpack.h"

namespace klvr {
namespace {

constexpr std::int64_t kThen = 1700000000;  // the local copy's time
const RemoteTime kAsk{};
const RemoteTime kNoTime = RemoteTime::Unavailable();
const RemoteTime kOlder = RemoteTime::Known(kThen - 60);
const RemoteTime kNewer = RemoteTime::Known(kThen + 60);

const char* Name(FetchAction a) {
    switch (a) {
        case FetchAction::kFresh:
            return "fresh";
        case FetchAction::kResumePartial:
            return "resume partial";
        case FetchAction::kResumeCopy:
            return "resume copy";
        case FetchAction::kLeaveAlone:
            return "leave alone";
        case FetchAction::kKeep:
            return "keep";
        case FetchAction::kAskTime:
            return "ask time";
    }
    return "?";
}

TEST(FetchPlan, DecidesFromTheCopyThePartialAndTheRemoteFile) {
    const LocalCopyFacts shorter{400, kThen}, same{1000, kThen}, longer{1500, kThen};
    // a partial download of the 1000-byte version begun at kThen, once without and once with its time
    const PartialState partial{300, {1000, std::nullopt, kThen}};
    const PartialState timedPartial{300, {1000, kThen - 60, kThen}};
    const PartialState otherVersion{300, {900, std::nullopt, kThen}};
    struct Case {
        const char* name;
        bool binary, keep;
        std::optional<std::int64_t> remoteSize;
        RemoteTime time;
        std::optional<LocalCopyFacts> copy;
        std::optional<PartialState> partial;
        FetchAction action;
        std::int64_t from;
        const char* reason;
    };
    const Case cases[] = {
        {"nothing there", true, true, 1000, kAsk, {}, {}, FetchAction::kFresh, 0, ""},
        {"overwrite replaces a copy", true, false, 1000, kAsk, longer, {}, FetchAction::kFresh, 0, ""},
        {"copy complete", true, true, 1000, kAsk, same, {}, FetchAction::kLeaveAlone, 0, ""},
        {"copy complete, remote changed since",
         true,
         true,
         1000,
         kNewer,
         same,
         {},
         FetchAction::kKeep,
         0,
         "the remote file is newer"},
        {"copy larger",
         true,
         true,
         1000,
         kAsk,
         longer,
         {},
         FetchAction::kKeep,
         0,
         "it is larger than the remote file"},
        {"copy shorter: the time decides", true, true, 1000, kAsk, shorter, {}, FetchAction::kAskTime, 0, ""},
        {"copy shorter, remote not newer",
         true,
         true,
         1000,
         kOlder,
         shorter,
         {},
         FetchAction::kResumeCopy,
         400,
         ""},
        {"copy shorter, remote regenerated",
         true,
         true,
         1000,
         kNewer,
         shorter,
         {},
         FetchAction::kKeep,
         0,
         "the remote file is newer"},
        {"copy shorter, no time to tell",
         true,
         true,
         1000,
         kNoTime,
         shorter,
         {},
         FetchAction::kKeep,
         0,
         "the server gives no time to tell whether it is the same version"},
        {"copy, no remote size",
         true,
         true,
         std::nullopt,
         kAsk,
         same,
         {},
         FetchAction::kKeep,
         0,
         "the server gives no size to compare it with"},
        {"text copy", false, true, std::nullopt, kAsk, shorter, {}, FetchAction::kLeaveAlone, 0, ""},
        {"text copy, remote newer",
         false,
         true,
         std::nullopt,
         kNewer,
         shorter,
         {},
         FetchAction::kKeep,
         0,
         "the remote file is newer"},
        {"partial: the time decides", true, true, 1000, kAsk, {}, partial, FetchAction::kAskTime, 0, ""},
        {"partial, remote unchanged since it began",
         true,
         true,
         1000,
         kOlder,
         {},
         partial,
         FetchAction::kResumePartial,
         300,
         ""},
        {"partial, remote changed after it began",
         true,
         true,
         1000,
         kNewer,
         {},
         partial,
         FetchAction::kFresh,
         0,
         ""},
        {"partial, server gives no time: the size decides",
         true,
         true,
         1000,
         kNoTime,
         {},
         partial,
         FetchAction::kResumePartial,
         300,
         ""},
        {"partial with the remote time, same time",
         true,
         true,
         1000,
         kOlder,
         {},
         timedPartial,
         FetchAction::kResumePartial,
         300,
         ""},
        {"partial with the remote time, another time",
         true,
         true,
         1000,
         RemoteTime::Known(kThen - 61),
         {},
         timedPartial,
         FetchAction::kFresh,
         0,
         ""},
        {"partial of another size", true, true, 1000, kOlder, {}, otherVersion, FetchAction::kFresh, 0, ""},
        // all bytes there and still no success: the server called that transfer failed
        {"partial holding every byte",
         true,
         true,
         300,
         kOlder,
         {},
         PartialState{300, {300, std::nullopt, kThen}},
         FetchAction::kFresh,
         0,
         ""},
        {"partial beside a copy that is overwritten", true, false, 1000, kOlder, same, partial,
         FetchAction::kResumePartial, 300, ""},
        {"partial in a text transfer", false, false, 1000, kOlder, {}, partial, FetchAction::kFresh, 0, ""},
        {"partial, no remote size",
         true,
         true,
         std::nullopt,
         kOlder,
         {},
         partial,
         FetchAction::kFresh,
         0,
         ""},
    };
    for (const Case& c : cases) {
        FetchFacts facts;
        facts.binary = c.binary;
        facts.keepExisting = c.keep;
        facts.remoteSize = c.remoteSize;
        facts.remoteTime = c.time;
        facts.copy = c.copy;
        facts.partial = c.partial;
        const FetchPlan plan = PlanFetch(facts);
        EXPECT_STREQ(Name(plan.action), Name(c.action)) << c.name;
        EXPECT_EQ(plan.from, c.from) << c.name;
        EXPECT_EQ(plan.reason, c.reason) << c.name;
    }
}

TEST(Completion, BinaryNeedsTheAnnouncedSizeTextTrustsTheReply) {
    struct Case {
        bool binary;
        std::optional<std::int64_t> announced;
        std::int64_t onDisk;
        bool confirmed;
        std::optional<std::string> problem;
    };
    const Case cases[] = {
        {true, 1000, 1000, true, std::nullopt},
        {true, 1000, 300, true, "only 300 of the 1000 bytes the server announced arrived"},
        {true, 1000, 1500, true, "1500 bytes arrived where the server announced 1000"},
        {true, std::nullopt, 300, true, std::nullopt},  // no size announced: the reply decides
        {false, 1000, 1040, true, std::nullopt},        // line ends converted
        {true, 1000, 1000, false, "the server did not confirm the transfer"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IncompleteTransfer({c.binary, c.announced, c.onDisk, c.confirmed}), c.problem) << c.onDisk;
}

TEST(DeleteDecision, OnlyWhatIsProven) {
    CopyProof fetched;
    CopyProof sameSize{false, true, kThen, std::nullopt};
    CopyProof sameSizeTimed{false, true, kThen, kThen};
    CopyProof unmeasured{false, false, kThen, std::nullopt};  // a text copy left alone
    struct Case {
        const char* name;
        CopyProof proof;
        RemoteTime time;
        DeleteVerdict::Action action;
        const char* reason;
    };
    const Case cases[] = {
        {"fetched by this attempt", fetched, kAsk, DeleteVerdict::kDelete, ""},
        {"same size: the time decides", sameSize, kAsk, DeleteVerdict::kAskTime, ""},
        {"same size, remote not newer", sameSize, kOlder, DeleteVerdict::kDelete, ""},
        {"same size, remote stamped on the copy", sameSizeTimed, kAsk, DeleteVerdict::kDelete, ""},
        {"same size, remote changed", sameSize, kNewer, DeleteVerdict::kKeep,
         "it is newer than the local copy of the same size"},
        {"same size, no time", sameSize, kNoTime, DeleteVerdict::kKeep,
         "the server gives no time to prove the local copy the same"},
        {"not comparable", unmeasured, kOlder, DeleteVerdict::kKeep,
         "the local copy could not be proven the same"},
    };
    for (const Case& c : cases) {
        const DeleteVerdict verdict = DecideDelete(c.proof, c.time);
        EXPECT_EQ(verdict.action, c.action) << c.name;
        EXPECT_EQ(verdict.reason, c.reason) << c.name;
    }
}

TEST(UnpackRoom, FreeSpaceAndRatioAboveOneGibibyte) {
    constexpr std::uint64_t GiB = 1ULL << 30;
    EXPECT_EQ(UnpackRoomProblem(GiB, 1000, std::nullopt), std::nullopt);  // any ratio up to 1 GiB
    EXPECT_EQ(UnpackRoomProblem(2 * GiB, 4 * 1024 * 1024, 8 * GiB), std::nullopt);
    EXPECT_EQ(UnpackRoomProblem(2 * GiB, 2 * 1024 * 1024, 8 * GiB),
              "it unpacks to 2147483648 bytes, 1024 times its own size");
    EXPECT_EQ(UnpackRoomProblem(500, 100, 499),
              "it unpacks to 500 bytes, but only 499 bytes are free in the folder");
    EXPECT_EQ(UnpackRoomProblem(UINT64_MAX, UINT64_MAX / 2, std::nullopt), std::nullopt);
}

TEST(PartialFile, TrailerNamesTheVersionAndProvesTheLength) {
    const PartialVersion v{1000, 1699999940, kThen};
    const std::string trailer = PartialTrailer(v, 300);
    ASSERT_EQ(trailer.size(), kPartialTrailerSize);
    const auto state = ReadPartialTrailer(trailer, 300 + kPartialTrailerSize);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->length, 300);
    EXPECT_EQ(state->version, v);
    EXPECT_EQ(
        ReadPartialTrailer(PartialTrailer({1000, std::nullopt, kThen}, 0), kPartialTrailerSize)->version,
        (PartialVersion{1000, std::nullopt, kThen}));
    // bytes that are not a trailer, a trailer that does not fit the file, more held than the version has
    EXPECT_FALSE(ReadPartialTrailer(std::string(kPartialTrailerSize, 'x'), 500));
    EXPECT_FALSE(ReadPartialTrailer(trailer, 301 + kPartialTrailerSize));
    EXPECT_FALSE(
        ReadPartialTrailer(PartialTrailer({100, std::nullopt, kThen}, 300), 300 + kPartialTrailerSize));

    EXPECT_EQ(PartialFileName("report.bin"), ".report.bin.klvr-part");
    const std::string longName(250, 'n');
    EXPECT_LE(PartialFileName(longName).size(), 255u);
    EXPECT_NE(PartialFileName(longName), PartialFileName(longName.substr(1) + "m"));
}

TEST(ToInt64, WholeNumbersExactlyAndNothingBeyondTheRange) {
    EXPECT_EQ(ToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ToInt64(" 5368709120 "), 5368709120LL);
    EXPECT_EQ(ToInt64("1e3"), 1000);
    EXPECT_THROW(ToInt64("9223372036854775808"), ConversionError);  // 2^63 as text and as a double
    EXPECT_THROW(ToInt64("1e19"), ConversionError);
    EXPECT_THROW(ToInt64("-1e30"), ConversionError);
    EXPECT_THROW(ToInt64("many"), ConversionError);
}

}  // namespace
}  // namespace klvr
