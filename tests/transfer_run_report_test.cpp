// The run's record of each file, as a retried or parallel run fills it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "transfer/run_report.h"

namespace klvr {
namespace {

FileRecord Record(const std::string& path, FileRecord::Action action, std::int64_t order = 0) {
    FileRecord r;
    r.remotePath = path;
    r.action = action;
    r.order = order;
    return r;
}

// A retry meets the files the failed attempt stored already there: they stay downloaded in the report,
// while a file that failed before and comes now takes its new record; each keeps its first place.
TEST(RunReport, ARetryKeepsWhatTheFailedAttemptStored) {
    RunReport report;
    report.Put(Record("/a", FileRecord::kDownloaded));
    report.Put(Record("/b", FileRecord::kFailed));
    report.NoteDeletion("/a", "deleted", "");
    report.NoteFailure(FailureCause::kConnect);

    report.BeginAttempt();
    EXPECT_EQ(report.Cause(), FailureCause::kNone);
    report.Put(Record("/a", FileRecord::kSkipped));
    report.Put(Record("/b", FileRecord::kResumed));
    const auto records = report.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].remotePath, "/a");
    EXPECT_EQ(records[0].action, FileRecord::kDownloaded);
    EXPECT_EQ(records[0].deletion, "deleted");
    EXPECT_EQ(records[1].action, FileRecord::kResumed);

    report.Clear();
    EXPECT_TRUE(report.Records().empty());
}

// Files fetched on several threads at once come out in listing order.
TEST(RunReport, RecordsFromSeveralThreadsComeOutInListingOrder) {
    RunReport report;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&report, t] {
            for (int i = t; i < 400; i += 4)
                report.Put(Record("/f" + std::to_string(i), FileRecord::kDownloaded, 400 - i));
        });
    }
    for (auto& t : threads) t.join();
    const auto records = report.Records();
    ASSERT_EQ(records.size(), 400u);
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].remotePath, "/f" + std::to_string(399 - i)) << i;
    const auto json = nlohmann::json::parse(report.Json());
    EXPECT_EQ(json["files"][0]["remotePath"], "/f399");
    EXPECT_EQ(json["failureCause"], "none");
}

}  // namespace
}  // namespace klvr
