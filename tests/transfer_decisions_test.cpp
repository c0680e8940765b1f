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

constexpr std::int64_t kThen = 1700000000;  // a time the server gave
const RemoteTime kAsk{};
const RemoteTime kNoTime = RemoteTime::Unavailable();
const RemoteTime kSame = RemoteTime::Known(kThen);
const RemoteTime kOther = RemoteTime::Known(kThen + 60);
const std::string kHere = "origin-here";
const std::string kElsewhere = "origin-elsewhere";

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
        case FetchAction::kAskHash:
            return "ask hash";
    }
    return "?";
}

TEST(FetchPlan, DecidesFromEvidenceNeverFromLengthOrTheLocalClockAlone) {
    const LocalCopyFacts shorter{400, {}}, same{1000, {}}, longer{1500, {}}, empty{0, {}};
    // copies we stored ourselves, with the version they were fetched from
    const LocalCopyFacts storedTimed{1000, StoredOrigin{kHere, {1000, kThen}}};
    const LocalCopyFacts storedUntimed{1000, StoredOrigin{kHere, {1000, std::nullopt}}};
    const LocalCopyFacts storedElsewhere{1000, StoredOrigin{kElsewhere, {1000, kThen}}};
    const LocalCopyFacts storedOtherSize{1000, StoredOrigin{kHere, {900, kThen}}};
    // partial downloads of the 1000-byte version: without a time, with one, of another version, from
    // another server or path
    const PartialState partial{300, {kHere, 1000, std::nullopt, kThen}};
    const PartialState timedPartial{300, {kHere, 1000, kThen, kThen}};
    const PartialState otherVersion{300, {kHere, 900, std::nullopt, kThen}};
    const PartialState foreign{300, {kElsewhere, 1000, kThen, kThen}};
    const PartialState whole{1000, {kHere, 1000, std::nullopt, kThen}};
    using H = HashVerdict;
    struct Case {
        const char* name;
        bool binary, keep;
        std::optional<std::int64_t> remoteSize;
        RemoteTime time;
        bool hashOffered;
        HashVerdict hash;
        std::optional<LocalCopyFacts> copy;
        std::optional<PartialState> partial;
        FetchAction action;
        std::int64_t from;
        bool proven;
        const char* reason;
    };
    const char* unproven = "nothing proves its content the same as the remote file's";
    const char* changed = "the remote file changed since it was fetched";
    const Case cases[] = {
        {"nothing there",
         true,
         true,
         1000,
         kAsk,
         false,
         H::kNotAsked,
         {},
         {},
         FetchAction::kFresh,
         0,
         false,
         ""},
        {"overwrite replaces a copy",
         true,
         false,
         1000,
         kAsk,
         false,
         H::kNotAsked,
         longer,
         {},
         FetchAction::kFresh,
         0,
         false,
         ""},
        // a copy of the same length proves nothing by its length; a server hash does
        {"same size, no hash",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         same,
         {},
         FetchAction::kLeaveAlone,
         0,
         false,
         unproven},
        {"same size, hash offered",
         true,
         true,
         1000,
         kAsk,
         true,
         H::kNotAsked,
         same,
         {},
         FetchAction::kAskHash,
         0,
         false,
         ""},
        {"same size, hash equal",
         true,
         true,
         1000,
         kAsk,
         true,
         H::kEqual,
         same,
         {},
         FetchAction::kLeaveAlone,
         0,
         true,
         ""},
        {"same size, hash differs",
         true,
         true,
         1000,
         kAsk,
         true,
         H::kDiffers,
         same,
         {},
         FetchAction::kKeep,
         0,
         false,
         "its content differs from the remote file"},
        {"same size, hash refused",
         true,
         true,
         1000,
         kAsk,
         true,
         H::kUnavailable,
         same,
         {},
         FetchAction::kLeaveAlone,
         0,
         false,
         unproven},
        // our own record of the copy proves it while the server names the same version
        {"stored, time unknown yet",
         true,
         true,
         1000,
         kAsk,
         false,
         H::kNotAsked,
         storedTimed,
         {},
         FetchAction::kAskTime,
         0,
         false,
         ""},
        {"stored, same version",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         storedTimed,
         {},
         FetchAction::kLeaveAlone,
         0,
         true,
         ""},
        {"stored, remote time changed",
         true,
         true,
         1000,
         kOther,
         false,
         H::kNotAsked,
         storedTimed,
         {},
         FetchAction::kKeep,
         0,
         false,
         changed},
        {"stored, remote size changed",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         storedOtherSize,
         {},
         FetchAction::kKeep,
         0,
         false,
         changed},
        {"stored without a time: the length alone proves nothing",
         true,
         true,
         1000,
         kNoTime,
         false,
         H::kNotAsked,
         storedUntimed,
         {},
         FetchAction::kLeaveAlone,
         0,
         false,
         unproven},
        {"stored from another server or path",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         storedElsewhere,
         {},
         FetchAction::kLeaveAlone,
         0,
         false,
         unproven},
        {"stored, time refused now",
         true,
         true,
         1000,
         kNoTime,
         false,
         H::kNotAsked,
         storedTimed,
         {},
         FetchAction::kLeaveAlone,
         0,
         false,
         unproven},
        {"copy larger",
         true,
         true,
         1000,
         kAsk,
         false,
         H::kNotAsked,
         longer,
         {},
         FetchAction::kKeep,
         0,
         false,
         "it is larger than the remote file"},
        {"no remote size",
         true,
         true,
         std::nullopt,
         kAsk,
         false,
         H::kNotAsked,
         shorter,
         {},
         FetchAction::kKeep,
         0,
         false,
         "the server gives no size to compare it with"},
        // a shorter copy may be the beginning of the remote file: its bytes decide, not a time
        {"copy shorter, no time",
         true,
         true,
         1000,
         kNoTime,
         false,
         H::kNotAsked,
         shorter,
         {},
         FetchAction::kResumeCopy,
         400,
         false,
         ""},
        {"copy shorter, any time",
         true,
         true,
         1000,
         kOther,
         false,
         H::kNotAsked,
         shorter,
         {},
         FetchAction::kResumeCopy,
         400,
         false,
         ""},
        {"copy empty",
         true,
         true,
         1000,
         kAsk,
         false,
         H::kNotAsked,
         empty,
         {},
         FetchAction::kKeep,
         0,
         false,
         "it is empty, and nothing proves it an unfinished copy"},
        {"text copy",
         false,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         shorter,
         {},
         FetchAction::kLeaveAlone,
         0,
         false,
         "a text copy cannot be compared with the remote file"},
        {"text copy we stored",
         false,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         storedTimed,
         {},
         FetchAction::kLeaveAlone,
         0,
         true,
         ""},
        {"copy beside a partial wins", true, true, 1000, kAsk, false, H::kNotAsked, shorter, partial,
         FetchAction::kResumeCopy, 400, false, ""},
        // partial downloads
        {"partial without a time: its bytes decide",
         true,
         true,
         1000,
         kNoTime,
         false,
         H::kNotAsked,
         {},
         partial,
         FetchAction::kResumePartial,
         300,
         false,
         ""},
        {"partial, server time never compared with the local clock",
         true,
         true,
         1000,
         kOther,
         false,
         H::kNotAsked,
         {},
         partial,
         FetchAction::kResumePartial,
         300,
         false,
         ""},
        {"timed partial: the time decides",
         true,
         true,
         1000,
         kAsk,
         false,
         H::kNotAsked,
         {},
         timedPartial,
         FetchAction::kAskTime,
         0,
         false,
         ""},
        {"timed partial, same time",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         {},
         timedPartial,
         FetchAction::kResumePartial,
         300,
         false,
         ""},
        {"timed partial, other time",
         true,
         true,
         1000,
         kOther,
         false,
         H::kNotAsked,
         {},
         timedPartial,
         FetchAction::kFresh,
         0,
         false,
         ""},
        {"timed partial, time refused now",
         true,
         true,
         1000,
         kNoTime,
         false,
         H::kNotAsked,
         {},
         timedPartial,
         FetchAction::kResumePartial,
         300,
         false,
         ""},
        {"partial of another size",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         {},
         otherVersion,
         FetchAction::kFresh,
         0,
         false,
         ""},
        {"partial from another server or path",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         {},
         foreign,
         FetchAction::kFresh,
         0,
         false,
         ""},
        {"partial holding everything",
         true,
         true,
         1000,
         kSame,
         false,
         H::kNotAsked,
         {},
         whole,
         FetchAction::kFresh,
         0,
         false,
         ""},
        {"partial beside a copy that is overwritten", true, false, 1000, kSame, false, H::kNotAsked, same,
         timedPartial, FetchAction::kResumePartial, 300, false, ""},
        {"partial in a text transfer",
         false,
         false,
         1000,
         kSame,
         false,
         H::kNotAsked,
         {},
         partial,
         FetchAction::kFresh,
         0,
         false,
         ""},
        {"partial, no remote size",
         true,
         true,
         std::nullopt,
         kSame,
         false,
         H::kNotAsked,
         {},
         partial,
         FetchAction::kFresh,
         0,
         false,
         ""},
    };
    for (const Case& c : cases) {
        FetchFacts facts;
        facts.binary = c.binary;
        facts.keepExisting = c.keep;
        facts.origin = kHere;
        facts.remoteSize = c.remoteSize;
        facts.remoteTime = c.time;
        facts.hashOffered = c.hashOffered;
        facts.copyHash = c.hash;
        facts.copy = c.copy;
        facts.partial = c.partial;
        const FetchPlan plan = PlanFetch(facts);
        EXPECT_STREQ(Name(plan.action), Name(c.action)) << c.name;
        EXPECT_EQ(plan.from, c.from) << c.name;
        EXPECT_EQ(plan.proven, c.proven) << c.name;
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

TEST(DeleteDecision, OnlyWhatIsProvenAndStillTheSameVersion) {
    const CopyProof fetched{true, {}, {1000, kThen}};
    const CopyProof fetchedUntimed{true, {}, {1000, std::nullopt}};
    const CopyProof unproven{
        false, "nothing proves its content the same as the remote file's", {1000, kThen}};
    const CopyProof unprovenSilent{false, {}, {}};
    struct Case {
        const char* name;
        CopyProof proof;
        RemoteVersion now;
        DeleteVerdict::Action action;
        const char* reason;
    };
    const Case cases[] = {
        {"fetched, the server names the same version", fetched, {1000, kThen}, DeleteVerdict::kDelete, ""},
        {"fetched, replaced by a newer version of the same size",
         fetched,
         {1000, kThen + 1},
         DeleteVerdict::kKeep,
         "it changed on the server since it was fetched (its time differs)"},
        {"fetched, replaced by another size",
         fetched,
         {1001, kThen},
         DeleteVerdict::kKeep,
         "it changed on the server since it was fetched (its size differs)"},
        {"fetched, the server gives nothing more now", fetched, {}, DeleteVerdict::kDelete, ""},
        {"fetched without a time: the size is compared",
         fetchedUntimed,
         {1000, kThen},
         DeleteVerdict::kDelete,
         ""},
        {"unproven copy",
         unproven,
         {1000, kThen},
         DeleteVerdict::kKeep,
         "nothing proves its content the same as the remote file's"},
        {"unproven without a reason",
         unprovenSilent,
         {},
         DeleteVerdict::kKeep,
         "the local copy could not be proven the same"},
    };
    for (const Case& c : cases) {
        const DeleteVerdict verdict = DecideDelete(c.proof, c.now);
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
    const PartialVersion v{OriginDigest("ftp.example.com", 21, "alice", "/out/f.bin"), 1000, 1699999940,
                           kThen};
    const std::string trailer = PartialTrailer(v, 300);
    ASSERT_EQ(trailer.size(), kPartialTrailerSize);
    const auto state = ReadPartialTrailer(trailer, 300 + kPartialTrailerSize);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->length, 300);
    EXPECT_EQ(state->version, v);
    EXPECT_EQ(ReadPartialTrailer(PartialTrailer({kHere, 1000, std::nullopt, kThen}, 0), kPartialTrailerSize)
                  ->version,
              (PartialVersion{kHere, 1000, std::nullopt, kThen}));
    // the same path of another account, port or server is another origin
    EXPECT_NE(v.origin, OriginDigest("ftp.example.com", 21, "bob", "/out/f.bin"));
    EXPECT_NE(v.origin, OriginDigest("ftp.example.com", 2121, "alice", "/out/f.bin"));
    EXPECT_NE(v.origin, OriginDigest("ftp.example.com", 21, "alice", "/out/g.bin"));
    // bytes that are not a trailer, a trailer that does not fit the file, more held than the version has
    EXPECT_FALSE(ReadPartialTrailer(std::string(kPartialTrailerSize, 'x'), 500));
    EXPECT_FALSE(ReadPartialTrailer(trailer, 301 + kPartialTrailerSize));
    EXPECT_FALSE(ReadPartialTrailer(PartialTrailer({kHere, 100, std::nullopt, kThen}, 300),
                                    300 + kPartialTrailerSize));
    // a trailer that names no origin proves nothing
    EXPECT_FALSE(
        ReadPartialTrailer(PartialTrailer({"", 1000, std::nullopt, kThen}, 300), 300 + kPartialTrailerSize));

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
