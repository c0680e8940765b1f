#pragma once
// All state of the plug-in, shared by every Toolbox object of the process and living as long as the
// library is loaded. Reached through moduleState() only; tests reset it with ResetModuleState().
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/host_lists.h"
#include "host/log_sink.h"
#include "settings/command_settings.h"
#include "settings/settings_array.h"
#include "transfer/remote_entry.h"
#include "transfer/run_report.h"

namespace klvr {

class RunSession;         // the hidden home of the FTP client during a run
class Dispatcher;         // a thread's task queue (util/dispatcher.h)
class ConfigurationForm;  // the configuration dialog while Props shows it
class UiHost;             // message boxes, modal forms and choosers of the user interface
class CWaitNDispatch;     // a dispatching pause (util/wait_n_dispatch.h)

using DownloadAttempt = std::function<void(const SettingsArray& data, const SettingsArray& orgData)>;

struct ModuleState {
    ModuleState();
    ~ModuleState();
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    // identity
    std::string InfoText;
    std::string AuthorText;
    std::optional<std::array<ModType, 2>> ModuleInfoTable;
    std::int16_t ModuleCount = 0;

    // The thread inside RunP or Props while one runs. There is one module state per process, so a call
    // from another thread meanwhile is refused rather than let loose on the state the run works on.
    std::atomic<std::thread::id> CallThread{};

    // host switches
    bool AutoLogEnabled = false;
    std::string DaemonInstance;
    std::atomic<bool> LogSinkStalled{false};  // the daemon let the last line time out
    // Set while several sessions fetch at once: takes the lines that must wait for those before them
    // (true), and leaves the others to go out at once. Set and cleared by the run's thread only while
    // no other thread of the run writes.
    std::function<bool(const std::string& message, LogLevel level, const std::string& timestamp)> LogHold;
    std::atomic<bool> ErrorFlag{false};
    // Set by the host's Abort, possibly from another thread while a run blocks the calling one.
    std::atomic<bool> AbortRequested{false};

    // names handed over by the host for the insertion menus
    VariableCollection UserVariableList;
    VariableCollection SharedVariableList;
    std::vector<clsConstants> PresetList;
    std::vector<clsConstants> DbPresetList;
    std::vector<clsConstants> LocalConstantList;
    std::vector<clsConstants> GlobalConstantList;

    // output tables read by the host after a run; the name arrays do not exist before the first run
    std::optional<std::vector<std::string>> UserVariableNames;
    std::optional<std::vector<std::string>> UserVariableValues;
    std::array<VarType, 16> LocalVarTable{};
    std::array<VarType, 16> GlobalVarTable{};

    // run driver
    std::int16_t AttemptCounter = 0;
    std::int32_t RetryCount = 0;
    // Sessions that fetch a folder tree's files at once; the host's own choice, 1 unless it sets more.
    int ParallelSessions = 1;
    // The pause before the first retry; each further one doubles, up to 60 times this. Only tests
    // shorten it, so that their retries do not take seconds.
    std::chrono::milliseconds RetryPauseUnit{1000};
    // The pause between two attempts or two files while it lasts, for the host's Abort to end it at once.
    CWaitNDispatch* CurrentPause = nullptr;

    // settings
    CommandSettings Settings;
    std::optional<std::vector<std::string>> SavedData;
    std::int16_t SavedDataCount = 0;

    // transfer engine
    RemoteEntryTable RemoteEntries;
    std::string TraceFile;
    std::string LocalTarget;
    bool HostCheckActive = false;
    // Folder of the local machine's certificate stores; tests point it at a folder of their own.
    std::string MachineCertStoreRoot = "/etc/klvrVaultfetch/certstores";
    std::unique_ptr<RunSession> runSession;
    // The queue of the thread running the attempt: the host's Abort, on a thread of its own, posts there.
    std::atomic<std::shared_ptr<Dispatcher>> RunDispatcher;
    // The host's view of each file's transfer during RunP (name, bytes done, bytes announced), when the
    // host asked for one.
    std::function<void(const std::string& name, std::int64_t done, std::int64_t total)> TransferProgress;
    // What the last run did with each file and why it failed, for the host to read after RunP.
    RunReport Report;
    // The host asked for a run that decides and records, and changes nothing.
    bool DryRun = false;

    // dialogs
    std::unique_ptr<ConfigurationForm> configurationForm;
    // Makes the user interface for Props; none, or one that returns null (no display), leaves Props
    // without a dialog.
    std::function<std::shared_ptr<UiHost>()> uiHostFactory;

    // One download attempt; the transfer engine's DownloadRun unless a test puts a scripted one here.
    DownloadAttempt downloadAttempt;
};

ModuleState& moduleState();
void ResetModuleState();

// True while RunP or Props runs on a thread other than the caller's.
bool BusyOnAnotherThread();

// Unloads every form of the plug-in: the run session with its FTP client, and the configuration dialog.
void UnloadAllForms();

}  // namespace klvr
