// The command run end to end through the plug-in against real servers on 127.0.0.1. Each scenario
// checks the log, the local folder, what is left on the server and the output variables together.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/module_state.h"
#include "host/toolbox.h"
#include "support/ftp_servers.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "transfer/download_run.h"
#include "transfer_run_support.h"

namespace klvr {
namespace {

using Files = std::map<std::string, std::string>;

enum Servers { kPy = 1, kVs = 2, kBoth = 3 };

// The remote tree most scenarios start from.
// The remote tree every scenario starts from; each works in a folder of its own.
Files RemoteTree() {
    return {{"pub/a.csv", "alpha\n"},
            {"pub/b.csv", "bravo!\n"},
            {"pub/c.log", "charlie\n"},
            {"pub/sub/x.txt", "x-ray\n"},
            {"pub/sub/deep/y.txt", "yankee\n"},
            {"empty/", ""},
            {"links/real/inner.txt", "inner\n"},
            {"links/r.txt", "root-file\n"},
            {"links/ln-dir", "-> real"},
            {"links/ln-file", "-> r.txt"},
            {"spaced/my folder/z.txt", "zulu\n"},
            {"zip/bundle.ZIP", test::ZipBytes({{"inside.txt", "packed\n"}, {"deeper/more.txt", "more\n"}})},
            {"zip/notes.txt", "n\n"},
            {"zipdel/a.zip", test::ZipBytes({{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}})},
            {"zipdel/reserved.zip", test::ZipBytes({{"one.txt", "one\n"}, {".one.txt.klvr-part", "x"}})}};
}

struct RunCase {
    const char* name;
    int servers;
    Files local;                             // the local folder before the run
    std::map<std::string, std::string> set;  // settings that differ from a plain saved command
    std::vector<std::string> log;            // {out} is the local folder, {user} the logon name
    Files localAfter;                        // every file of the local folder afterwards
    std::vector<std::string> removed;        // remote files gone afterwards
    bool error = false;
    std::vector<std::string> outputs;  // "USER name=value", "GLOBAL n=value", "LOCAL n=value"
};

// Local files of a scenario, by its name, last written long before the remote tree.
const std::map<std::string, std::vector<std::string>> kAged = {
    {"folder mode: a shorter copy that does not begin the remote file stays, and the remote file too",
     {"c.log"}},
    {"folder mode: an older copy of the same length is not replaced, and its remote file not deleted",
     {"b.csv"}}};

// Python lines that change pyftpdlib's handler for a scenario, by its name.
const std::map<std::string, std::string> kPySetup = {{"folder mode: a refused delete is only a warning",
                                                      "def refuse(self, path, delete=handler.ftp_DELE):\n"
                                                      "    if path.endswith('/x.txt'):\n"
                                                      "        return self.respond('550 Not allowed here.')\n"
                                                      "    return delete(self, path)\n"
                                                      "handler.ftp_DELE = refuse\n"}};

const std::vector<std::string> kLogon = {"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1",
                                         "0 Connected, logged on as {user}", "0 Retrieving filelist ..."};
const std::vector<std::string> kLogoff = {"0 Disconnecting from [127.0.0.1] ...", "0 Connection Closed"};

std::vector<std::string> Log(std::vector<std::string> middle) {
    std::vector<std::string> all = kLogon;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), kLogoff.begin(), kLogoff.end());
    return all;
}

// ZIP mode with DeleteAfterDownload, the archive a.zip alone.
const std::map<std::string, std::string> kZipDelete = {{"RemoteDir", "/zipdel"},
                                                       {"TransferMode", "3"},
                                                       {"ProcessAll", "1"},
                                                       {"DeleteAfterDownload", "1"},
                                                       {"FileFilter", "^a\\.zip$"}};

// The log of fetching a.zip: what unpacking it said, then what became of the remote archive.
std::vector<std::string> ZipLog(const std::vector<std::string>& afterDownload,
                                const std::vector<std::string>& unpacking = {}) {
    std::vector<std::string> middle = {"0 Number of files & directories found: 1",
                                       "0 Downloading [a.zip] to [{out}/a.zip] (*"};
    middle.insert(middle.end(), unpacking.begin(), unpacking.end());
    middle.push_back("0 Downloaded [a.zip] <unknown> kBps");
    middle.insert(middle.end(), afterDownload.begin(), afterDownload.end());
    middle.push_back("0 Number of files downloaded : 1");
    return Log(middle);
}

const RunCase kCases[] = {
    {"the first file, its name into a user variable",
     kBoth,
     {},
     {{"RemoteDir", "/pub"},
      {"SaveFileName", "1"},
      {"VariableScope", "USER"},
      {"VariableNumber", "lastFile"}},
     Log({"0 Number of files & directories found: 4", "0 Downloading [a.csv] to [{out}/a.csv] (6 Bytes) ...",
          "0 Downloaded [a.csv] <unknown> kBps", "0 Number of files downloaded : 1"}),
     {{"a.csv", "alpha\n"}},
     {},
     false,
     {"USER lastFile=a.csv"}},
    {"one named file replacing a stale copy, deleted after, its name into a global variable",
     kPy,
     {{"b.csv", "stale and longer than the new one"}},
     {{"RemoteDir", "/pub"},
      {"CopySpecific", "1"},
      {"SpecificFileName", "b.csv"},
      {"OverwriteExisting", "1"},
      {"DeleteAfterDownload", "1"},
      {"SaveFileName", "1"},
      {"VariableScope", "GLOBAL"},
      {"VariableNumber", "2"}},
     Log({"0 Number of files & directories found: 4", "0 Downloading [b.csv] to [{out}/b.csv] (7 Bytes) ...",
          "0 Downloaded [b.csv] <unknown> kBps", "0 Deleting remote-file [b.csv] ...",
          "0 Number of files downloaded : 1"}),
     {{"b.csv", "bravo!\n"}},
     {"pub/b.csv"},
     false,
     {"GLOBAL 2=b.csv"}},
    {"every matching file, a present one skipped",
     kBoth,
     {{"b.csv", "old"}},
     {{"RemoteDir", "/pub"}, {"ProcessAll", "1"}, {"FileFilter", "\\.csv$;\\.log$"}, {"SaveFileName", "1"}},
     Log({"0 Number of files & directories found: 3", "0 Downloading [a.csv] to [{out}/a.csv] (6 Bytes) ...",
          "0 Downloaded [a.csv] <unknown> kBps", "0 Skipped file [b.csv] - file exists and OVERWRITE=Off",
          "0 Downloading [c.log] to [{out}/c.log] (8 Bytes) ...", "0 Downloaded [c.log] <unknown> kBps",
          "0 Number of files downloaded : 2"}),
     {{"a.csv", "alpha\n"}, {"b.csv", "old"}, {"c.log", "charlie\n"}},
     {},
     false,
     {}},  // process-all stores no file name
    {"the first file already present: skipped, and no other taken",
     kPy,
     {{"a.csv", "mine"}},
     {{"RemoteDir", "/pub"}, {"SaveFileName", "1"}, {"VariableScope", "LOCAL"}, {"VariableNumber", "1"}},
     Log({"0 Number of files & directories found: 4",
          "0 Skipped file [a.csv] - file exists and OVERWRITE=Off", "0 Number of files downloaded : 0"}),
     {{"a.csv", "mine"}},
     {},
     false,
     {}},
    {"only folders listed: no count of downloads",
     kPy,
     {},
     {{"RemoteDir", "/pub"}, {"FileFilter", "^sub$"}},
     Log({"0 Number of files & directories found: 1"}),
     {},
     {},
     false,
     {}},
    {"an empty folder",
     kBoth,
     {},
     {{"RemoteDir", "/empty"}},
     Log({"0 No files found.", "0 Number of files downloaded : 0"}),
     {},
     {},
     false,
     {}},
    {"folder mode: a folder whole, a file resumed, both cleaned up on the server",
     kPy,
     {{"c.log", "char"}},
     {{"RemoteDir", "/pub"},
      {"IncludeSubdirs", "1"},
      {"FileFilter", "^(sub|c\\.log)$"},
      {"DeleteAfterDownload", "1"}},
     Log({"0 Downloading folder [/pub/sub] to [{out}/sub]...", "0 Deleting 2 on remote server.....",
          "0 Downloading file [/pub/c.log] to [{out}/c.log] (8 Bytes) ...",
          "0 Deleting 1 on remote server....."}),
     {{"c.log", "charlie\n"}, {"sub/x.txt", "x-ray\n"}, {"sub/deep/y.txt", "yankee\n"}},
     {"pub/c.log", "pub/sub/x.txt", "pub/sub/deep/y.txt"},
     false,
     {}},
    {"folder mode: every entry of the folder",
     kBoth,
     {},
     {{"RemoteDir", "/pub"}, {"IncludeSubdirs", "1"}},
     Log({"0 Downloading folder [/pub/sub] to [{out}/sub]...",
          "0 Downloading file [/pub/a.csv] to [{out}/a.csv] (6 Bytes) ...",
          "0 Downloading file [/pub/b.csv] to [{out}/b.csv] (7 Bytes) ...",
          "0 Downloading file [/pub/c.log] to [{out}/c.log] (8 Bytes) ..."}),
     {{"a.csv", "alpha\n"},
      {"b.csv", "bravo!\n"},
      {"c.log", "charlie\n"},
      {"sub/x.txt", "x-ray\n"},
      {"sub/deep/y.txt", "yankee\n"}},
     {},
     false,
     {}},
    // a file where the folder should go: that entry fails, the next one is still fetched, the run is not
    // retried and reports the error
    {"folder mode goes on after a failed entry",
     kPy,
     {{"sub", "a file in the way"}, {"b.csv/", ""}},
     {{"RemoteDir", "/pub"},
      {"IncludeSubdirs", "1"},
      {"FileFilter", "^(sub|[ab]\\.csv)$"},
      {"RetryCount", "3"}},
     Log({"2 ERROR_CreateLocalFolder: [*", "0 Downloading folder [/pub/sub] to [{out}/sub]...",
          "2 ERROR_GetFolder: *", "0 Downloading file [/pub/a.csv] to [{out}/a.csv] (6 Bytes) ...",
          // a folder where the file should go
          "2 ERROR_GetLocalFileSize: *", "0 Downloading file [/pub/b.csv] to [{out}/b.csv] (7 Bytes) ...",
          "2 ERROR_RetrieveItem: *"}),
     {{"sub", "a file in the way"}, {"a.csv", "alpha\n"}},
     {},
     true,
     {}},
    {"a filter pattern that does not compile",
     kPy,
     {},
     {{"RemoteDir", "/pub"}, {"FileFilter", "a;("}},
     {"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1", "0 Connected, logged on as {user}",
      "0 Retrieving filelist ...",
      "2 ERROR_FTP-DOWNLOAD: Error getting remote listing [Invalid filter pattern [(]: missing closing "
      "parenthesis at offset 1]",
      "2 ERROR_FTP-DOWNLOAD: ", "0 Connection Closed", "2 Retry-count exceeded, aborting....."},
     {},
     {},
     true,
     {}},
    // the last allowed attempt's line is the error, earlier ones are warnings
    {"a refused logon, tried twice",
     kPy,
     {},
     {{"Password", "wrong"}, {"RetryCount", "2"}},
     {"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1", "0 Connection Closed",
      "2 ERROR_FTP-DOWNLOAD: Could not login! [530 *", "1 WARNING: 530 *", "1 Retrying 2/2 .....",
      "0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1", "0 Connection Closed",
      "2 ERROR_FTP-DOWNLOAD: Could not login! [530 *", "2 ERROR_FTP-DOWNLOAD: 530 *",
      "2 Retry-count exceeded, aborting....."},
     {},
     {},
     true,
     {}},
    // the client's survived failures reach the log as errors without failing the run
    {"TLS when offered, from a server without it: reported, then plain",
     kPy,
     {},
     {{"RemoteDir", "/empty"}, {"SecurityMode", "4"}},
     {"0 Connecting with [127.0.0.1] ...", "0 Connected to: 127.0.0.1", "2 The server does not offer TLS (*",
      "0 Connected, logged on as {user}", "0 Retrieving filelist ...", "0 No files found.",
      "0 Number of files downloaded : 0", "0 Disconnecting from [127.0.0.1] ...", "0 Connection Closed"},
     {},
     {},
     false,
     {}},
    {"no local folder configured: nothing is fetched",
     kPy,
     {},
     {{"LocalDir", " "}},
     {"2 ERROR_FTP-DOWNLOAD: No local folder is configured to download into",
      "2 Retry-count exceeded, aborting....."},
     {},
     {},
     true,
     {}},
    // The listed folder is entered to probe each link; the named file is then fetched from the listed
    // folder, not from the folder a probe entered last.
    {"links probed, then the named file fetched from the listed folder",
     kBoth,
     {},
     {{"RemoteDir", "/links"}, {"CopySpecific", "1"}, {"SpecificFileName", "r.txt"}},
     Log({"0 Number of files & directories found: 4", "0 Downloading [r.txt] to [{out}/r.txt] (10 Bytes) ...",
          "0 Downloaded [r.txt] <unknown> kBps", "0 Number of files downloaded : 1"}),
     {{"r.txt", "root-file\n"}},
     {},
     false,
     {}},
    {"folder mode: a link to a folder fetched whole, a link to a file as a file",
     kBoth,
     {},
     {{"RemoteDir", "/links"}, {"IncludeSubdirs", "1"}, {"FileFilter", "^ln-"}},
     Log({"0 Downloading folder [/links/ln-dir] to [{out}/ln-dir]...",
          "0 Downloading file [/links/ln-file] to [{out}/ln-file] (*"}),
     {{"ln-dir/inner.txt", "inner\n"}, {"ln-file", "root-file\n"}},
     {},
     false,
     {}},
    {"folder mode: a folder name with a blank",
     kBoth,
     {},
     {{"RemoteDir", "/spaced"}, {"IncludeSubdirs", "1"}},
     Log({"0 Downloading folder [/spaced/my folder] to [{out}/my folder]..."}),
     {{"my folder/z.txt", "zulu\n"}},
     {},
     false,
     {}},
    {"ZIP mode: an archive unpacked into the folder, any other file stored as it is",
     kPy,
     {},
     {{"RemoteDir", "/zip"}, {"TransferMode", "3"}, {"ProcessAll", "1"}},
     Log({"0 Number of files & directories found: 2", "0 Downloading [bundle.ZIP] to [{out}/bundle.ZIP] (*",
          "0 Downloaded [bundle.ZIP] <unknown> kBps",
          "0 Downloading [notes.txt] to [{out}/notes.txt] (2 Bytes) ...",
          "0 Downloaded [notes.txt] <unknown> kBps", "0 Number of files downloaded : 2"}),
     {{"inside.txt", "packed\n"}, {"deeper/more.txt", "more\n"}, {"notes.txt", "n\n"}},
     {},
     false,
     {}},
    // an archive leaves the server only when every entry is in the folder, or already was byte for byte
    {"ZIP mode, delete after: every entry new, the archive deleted",
     kPy,
     {},
     kZipDelete,
     ZipLog({"0 Deleting remote-file [a.zip] ..."}),
     {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}},
     {"zipdel/a.zip"},
     false,
     {}},
    {"ZIP mode, delete after: a kept file with the entry's bytes, the archive deleted",
     kPy,
     {{"one.txt", "one\n"}},
     kZipDelete,
     ZipLog({"0 Deleting remote-file [a.zip] ..."}),
     {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}},
     {"zipdel/a.zip"},
     false,
     {}},
    {"ZIP mode, delete after: a kept file that differs, the archive kept",
     kPy,
     {{"one.txt", "ONE\n"}},
     kZipDelete,
     ZipLog({"1 WARNING: Remote file kept [a.zip]: 1 of its 2 entries was not unpacked"},
            {"1 WARNING: Local file kept [{out}/one.txt]: it differs from the archive's entry"}),
     {{"one.txt", "ONE\n"}, {"sub/two.txt", "two\n"}},
     {},
     false,
     {}},
    {"ZIP mode, delete after: a planted link passed over, the archive kept",
     kPy,
     {{"sub", "-> elsewhere"}},
     kZipDelete,
     ZipLog({"1 WARNING: Remote file kept [a.zip]: 1 of its 2 entries was not unpacked"},
            {"1 WARNING: Local link passed over [{out}/sub]"}),
     {{"one.txt", "one\n"}, {"sub", "-> elsewhere"}},
     {},
     false,
     {}},
    {"ZIP mode, delete after: an entry with a reserved name passed over, the archive kept",
     kPy,
     {},
     {{"RemoteDir", "/zipdel"},
      {"TransferMode", "3"},
      {"ProcessAll", "1"},
      {"DeleteAfterDownload", "1"},
      {"FileFilter", "^reserved\\.zip$"}},
     Log({"0 Number of files & directories found: 1",
          "0 Downloading [reserved.zip] to [{out}/reserved.zip] (*",
          "1 WARNING: Zip entry passed over [.one.txt.klvr-part]: its name is the form kept for unfinished "
          "downloads",
          "0 Downloaded [reserved.zip] <unknown> kBps",
          "1 WARNING: Remote file kept [reserved.zip]: 1 of its 2 entries was not unpacked",
          "0 Number of files downloaded : 1"}),
     {{"one.txt", "one\n"}},
     {},
     false,
     {}},
    {"ZIP mode, delete after, overwriting: a differing file replaced, the archive deleted",
     kPy,
     {{"one.txt", "ONE\n"}},
     {{"RemoteDir", "/zipdel"},
      {"TransferMode", "3"},
      {"ProcessAll", "1"},
      {"DeleteAfterDownload", "1"},
      {"OverwriteExisting", "1"},
      {"FileFilter", "^a\\.zip$"}},
     ZipLog({"0 Deleting remote-file [a.zip] ..."}),
     {{"one.txt", "one\n"}, {"sub/two.txt", "two\n"}},
     {"zipdel/a.zip"},
     false,
     {}},
    {"folder mode: a refused delete is only a warning",
     kPy,
     {},
     {{"RemoteDir", "/pub"}, {"IncludeSubdirs", "1"}, {"FileFilter", "^sub$"}, {"DeleteAfterDownload", "1"}},
     Log({"0 Downloading folder [/pub/sub] to [{out}/sub]...", "0 Deleting 2 on remote server.....",
          "1 Eror deleting [/pub/sub/x.txt] [550 Not allowed here.]"}),
     {{"sub/x.txt", "x-ray\n"}, {"sub/deep/y.txt", "yankee\n"}},
     {"pub/sub/deep/y.txt"},
     false,
     {}},
    // neither its time nor its length makes a copy an unfinished one of the remote file: its bytes do
    {"folder mode: a shorter copy that does not begin the remote file stays, and the remote file too",
     kBoth,
     {{"c.log", "chat"}},
     {{"RemoteDir", "/pub"},
      {"IncludeSubdirs", "1"},
      {"FileFilter", "^c\\.log$"},
      {"DeleteAfterDownload", "1"}},
     Log({"0 Downloading file [/pub/c.log] to [{out}/c.log] (8 Bytes) ...",
          "1 WARNING: Local file kept [{out}/c.log]: it is not the beginning of the remote file",
          "0 Deleting 0 on remote server....."}),
     {{"c.log", "chat"}},
     {},
     false,
     {}},
    // an equal length proves nothing, whatever the times say: the remote file stays
    {"folder mode: an older copy of the same length is not replaced, and its remote file not deleted",
     kBoth,
     {{"b.csv", "BRAVO!\n"}},
     {{"RemoteDir", "/pub"},
      {"IncludeSubdirs", "1"},
      {"FileFilter", "^b\\.csv$"},
      {"DeleteAfterDownload", "1"}},
     Log({"0 Downloading file [/pub/b.csv] to [{out}/b.csv] (7 Bytes) ...",
          "0 Deleting 1 on remote server.....",
          "1 WARNING: Remote file kept [/pub/b.csv]: nothing proves its content the same as the remote "
          "file's"}),
     {{"b.csv", "BRAVO!\n"}},
     {},
     false,
     {}},
    {"folder mode: a copy of the same length written after the remote file proves nothing either",
     kBoth,
     {{"b.csv", "bravo!\n"}},
     {{"RemoteDir", "/pub"},
      {"IncludeSubdirs", "1"},
      {"FileFilter", "^b\\.csv$"},
      {"DeleteAfterDownload", "1"}},
     Log({"0 Downloading file [/pub/b.csv] to [{out}/b.csv] (7 Bytes) ...",
          "0 Deleting 1 on remote server.....",
          "1 WARNING: Remote file kept [/pub/b.csv]: nothing proves its content the same as the remote "
          "file's"}),
     {{"b.csv", "bravo!\n"}},
     {},
     false,
     {}},
    {"folder mode: inside a folder fetched whole, a shorter copy is resumed and a larger one kept",
     kBoth,
     {{"sub/x.txt", "x-r"}, {"sub/deep/y.txt", "yankee, and then some\n"}},
     {{"RemoteDir", "/pub"}, {"IncludeSubdirs", "1"}, {"FileFilter", "^sub$"}},
     Log({"0 Downloading folder [/pub/sub] to [{out}/sub]...",
          "1 WARNING: Local file kept [{out}/sub/deep/y.txt]: it is larger than the remote file"}),
     {{"sub/x.txt", "x-ray\n"}, {"sub/deep/y.txt", "yankee, and then some\n"}},
     {},
     false,
     {}},
    // a link planted where a folder is to be made is never followed, at the top or further down
    {"folder mode: a link in place of a folder is passed over",
     kBoth,
     {{"sub", "-> elsewhere"}, {"elsewhere/", ""}},
     {{"RemoteDir", "/pub"}, {"IncludeSubdirs", "1"}, {"FileFilter", "^sub$"}},
     Log({"1 WARNING: Local link passed over [{out}/sub]"}),
     {{"sub", "-> elsewhere"}},
     {},
     false,
     {}},
    {"folder mode: a link in place of a folder inside a folder fetched whole is passed over",
     kBoth,
     {{"sub/deep", "-> ../elsewhere"}, {"elsewhere/", ""}},
     {{"RemoteDir", "/pub"}, {"IncludeSubdirs", "1"}, {"FileFilter", "^sub$"}},
     Log({"0 Downloading folder [/pub/sub] to [{out}/sub]...",
          "1 WARNING: Local link passed over [{out}/sub/deep]"}),
     {{"sub/x.txt", "x-ray\n"}, {"sub/deep", "-> ../elsewhere"}},
     {},
     false,
     {}},
    {"a link in place of a file is passed over, overwriting or not",
     kPy,
     {{"a.csv", "-> elsewhere.csv"}},
     {{"RemoteDir", "/pub"},
      {"CopySpecific", "1"},
      {"SpecificFileName", "a.csv"},
      {"OverwriteExisting", "1"}},
     Log({"0 Number of files & directories found: 4", "1 WARNING: Local link passed over [{out}/a.csv]",
          "0 Number of files downloaded : 0"}),
     {{"a.csv", "-> elsewhere.csv"}},
     {},
     false,
     {}},
};

// (scenario, server, sessions) for every server a scenario runs against, on one session and on four:
// with four the log, the files and the outputs must be the same.
std::vector<std::tuple<int, int, int>> ScenarioServers() {
    std::vector<std::tuple<int, int, int>> cases;
    for (int i = 0; i < static_cast<int>(std::size(kCases)); ++i)
        for (int server : {kPy, kVs})
            for (int sessions : {1, 4})
                if (kCases[i].servers & server) cases.emplace_back(i, server, sessions);
    return cases;
}

class RunScenario : public ::testing::TestWithParam<std::tuple<int, int, int>> {
  protected:
    void SetUp() override {
        ResetModuleState();
        moduleState().RetryPauseUnit = std::chrono::milliseconds(1);  // retries without their pauses
        capture = std::make_unique<test::LogCapture>();
    }
    void TearDown() override {
        capture.reset();
        ResetModuleState();
    }
    std::unique_ptr<test::LogCapture> capture;
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

TEST_P(RunScenario, LogFilesAndOutputs) {
    const RunCase& c = kCases[std::get<0>(GetParam())];
    const int server = std::get<1>(GetParam());
    SCOPED_TRACE(c.name);

    test::TempDir remote, local;
    test::Populate(remote.Path(), RemoteTree());
    test::Populate(local.Path(), c.local);
    for (const auto& name : kAged.count(c.name) ? kAged.at(c.name) : std::vector<std::string>{}) {
        const timespec longAgo[2] = {{946684800, 0}, {946684800, 0}};  // 2000-01-01
        ASSERT_EQ(::utimensat(AT_FDCWD, (local / name).c_str(), longAgo, 0), 0) << name;
    }
    const Files remoteBefore = test::Snapshot(remote.Path());

    std::unique_ptr<test::PyFtpdServer> py;
    std::unique_ptr<test::VsftpdServer> vs;
    std::uint16_t port = 0;
    std::string user, password;
    if (server == kPy) {
        test::PyFtpdOptions options;
        options.root = remote.Path();
        options.handlerSetup =
            "handler.auth_failed_timeout = 0\n" +
            (kPySetup.count(c.name) ? kPySetup.at(c.name) : "");  // no pause after a refused logon
        py = std::make_unique<test::PyFtpdServer>(options);
        port = py->Port();
        user = "user";
        password = "secret";
    } else {
        test::VsftpdOptions options;
        options.root = remote.Path();
        vs = std::make_unique<test::VsftpdServer>(options);
        port = vs->Port();
        user = "anonymous";
        password = "guest@";
    }
    const SettingsArray data = test::RunCommand(port, user, password, local.Path(), c.set);

    Toolbox t;
    t.AutoLog(true);
    moduleState().ParallelSessions = std::get<2>(GetParam());
    t.RunP("VAULTFETCH", data, data);

    std::vector<std::string> expectedLog;
    for (const auto& line : c.log)
        expectedLog.push_back(Replace(Replace(line, "{out}", local.Path()), "{user}", user));
    EXPECT_EQ(test::CompareLog(capture->LevelsAndMessages(), expectedLog), "");
    EXPECT_EQ(test::Snapshot(local.Path()), c.localAfter);
    Files remoteAfter = remoteBefore;
    for (const auto& gone : c.removed) remoteAfter.erase(gone);
    EXPECT_EQ(test::Snapshot(remote.Path()), remoteAfter);
    EXPECT_EQ(t.Error(), c.error);

    std::vector<std::string> outputs;
    const auto names = t.UserVariableName();
    const auto values = t.UserVariableData();
    for (std::size_t i = 1; i < names.size(); ++i) outputs.push_back("USER " + names[i] + "=" + values[i]);
    for (std::int16_t i = 0; i < 16; ++i) {
        if (t.GlobalVar(i).Use)
            outputs.push_back("GLOBAL " + std::to_string(i + 1) + "=" + t.GlobalVar(i).Value);
        if (t.LocalVar(i).Use)
            outputs.push_back("LOCAL " + std::to_string(i + 1) + "=" + t.LocalVar(i).Value);
    }
    EXPECT_EQ(outputs, c.outputs);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RunScenario, ::testing::ValuesIn(ScenarioServers()),
                         [](const auto& info) {
                             std::string name = kCases[std::get<0>(info.param)].name;
                             std::string id;
                             bool upper = true;
                             for (char ch : name) {
                                 if (std::isalnum(static_cast<unsigned char>(ch))) {
                                     id +=
                                         upper
                                             ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch)))
                                             : ch;
                                     upper = false;
                                 } else {
                                     upper = true;
                                 }
                             }
                             return id + (std::get<1>(info.param) == kPy ? "_pyftpdlib" : "_vsftpd") +
                                    (std::get<2>(info.param) > 1 ? "_4sessions" : "");
                         });

// With tracing on, the client's dialogue and the progress percentages share the private trace file.
TEST(TraceFile, HoldsTheDialogueWithoutThePasswordAndEachNewPercentageOnce) {
    ResetModuleState();
    test::TempDir remote, local, state;
    remote.Write("slow.bin", std::string(40 * 1024, 's'));
    test::PyFtpdOptions options;
    options.root = remote.Path();
    // slow enough for several progress events during the transfer
    options.handlerSetup =
        "class Slow(handlers.ThrottledDTPHandler):\n"
        "    write_limit = 16384\n"
        "handler.dtp_handler = Slow\n";
    test::PyFtpdServer server(options);
    ::setenv("XDG_STATE_HOME", state.Path().c_str(), 1);
    auto capture = std::make_unique<test::LogCapture>();
    Toolbox t;
    t.AutoLog(false);
    const SettingsArray data =
        test::RunCommand(server.Port(), "user", "secret", local.Path(),
                         {{"TraceLog", "1"}, {"CopySpecific", "1"}, {"SpecificFileName", "slow.bin"}});
    t.RunP("VAULTFETCH", data, data);
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_FALSE(t.Error());
    // without AutoLog only the connection lines remain
    EXPECT_EQ(capture->LevelsAndMessages(),
              (std::vector<std::string>{"0 Connected to: 127.0.0.1", "0 Connection Closed"}));

    const std::string trace = test::ReadFile(state / "klvrVaultfetch.log");
    EXPECT_NE(trace.find("---> USER user\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("---> PASS ********\r\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("secret"), std::string::npos) << trace;
    EXPECT_NE(trace.find("<--- 226"), std::string::npos) << trace;
    std::vector<int> percentages;
    for (std::size_t at = trace.find("<--- [Progress] "); at != std::string::npos;
         at = trace.find("<--- [Progress] ", at + 1))
        percentages.push_back(std::stoi(trace.substr(at + 16)));
    ASSERT_FALSE(percentages.empty()) << trace;
    for (std::size_t i = 1; i < percentages.size(); ++i)
        EXPECT_LT(percentages[i - 1], percentages[i]) << trace;
    EXPECT_LE(percentages.back(), 100);
    ResetModuleState();
}

}  // namespace
}  // namespace klvr
