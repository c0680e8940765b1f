#include "host/run_driver.h"

#include <algorithm>
#include <limits>

#include "host/log_sink.h"
#include "host/module_state.h"
#include "host/toolbox.h"
#include "settings/numeric_text.h"
#include "transfer/download_run.h"
#include "util/dispatcher.h"
#include "util/printable_text.h"
#include "util/wait_n_dispatch.h"

namespace klvr {
namespace {

// Each step of the driver and of the clean-up runs on its own: a step that fails is skipped.
template <typename Step>
void Step_(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

void Attempt(const SettingsArray& data, const SettingsArray& orgData) {
    ModuleState& m = moduleState();
    if (m.downloadAttempt) m.downloadAttempt(data, orgData);
}

// Waits before the next attempt, so that a failing server is not hammered (nor an account locked by a
// storm of failed logons), while the thread keeps dispatching. False when the host asked to stop: no
// further attempt starts then.
bool PauseBeforeRetry(int next) {
    ModuleState& m = moduleState();
    try {
        CWaitNDispatch pause;
        m.CurrentPause = &pause;
        struct Forget {
            ~Forget() { moduleState().CurrentPause = nullptr; }
        } forget;
        // The host's Abort posts to this queue; the wait runs it, and it ends the wait.
        m.RunDispatcher.store(Dispatcher::ForThisThread());
        if (!m.AbortRequested)
            pause.Wait(static_cast<std::int32_t>(RetryPauseBefore(next, m.RetryPauseUnit).count()));
    } catch (...) {
    }
    return !m.AbortRequested;
}

}  // namespace

void RunP(const std::string& module, const SettingsArray& data, const SettingsArray& orgData) {
    ModuleState& m = moduleState();
    Step_([&] {
        m.UserVariableNames = std::vector<std::string>{""};
        m.UserVariableValues = std::vector<std::string>{""};
        m.LocalVarTable.fill(VarType{});
        m.GlobalVarTable.fill(VarType{});
    });
    m.ErrorFlag = false;
    m.Report.Clear();
    const std::string upper = UpperCase(module);
    if (upper != kModuleName) {
        WriteLog("WARNING: Module [" + Printable(upper) + "] is unknown!", LogLevel::Warning);
    } else {
        Step_([] { LoadRunSession(); });
        m.AttemptCounter = 1;
        Step_([&] {
            const std::string& element = data.At(25);
            m.RetryCount = IsNumericText(element) ? ToInt32(element) : 10;
        });
        Step_([&] { Attempt(data, orgData); });
        // While an attempt runs the counter holds its number, so the attempt's own failure line can tell
        // the last allowed attempt from earlier ones.
        while (m.AttemptCounter != -1 && m.AttemptCounter < m.RetryCount &&
               m.AttemptCounter < std::numeric_limits<std::int16_t>::max()) {
            Step_([] { LogoutRunSession(); });
            if (!PauseBeforeRetry(m.AttemptCounter + 1)) break;
            WriteLog("Retrying " + std::to_string(m.AttemptCounter + 1) + "/" + std::to_string(m.RetryCount) +
                         " .....",
                     LogLevel::Warning);
            ++m.AttemptCounter;
            Step_([&] { Attempt(data, orgData); });
        }
        // A run whose attempts all failed reads as a failure, also with a retry count of 0 or below, and
        // so does one the host stopped before its attempts were used up.
        if (m.AttemptCounter != -1) {
            WriteLog("Retry-count exceeded, aborting.....", LogLevel::Error);
            m.ErrorFlag = true;
            // stopped in the pause before a retry: the attempt before it failed for another cause
            if (m.AbortRequested) m.Report.NoteFailure(FailureCause::kAborted);
        }
    }
    ReleaseAll(true);
}

std::chrono::milliseconds RetryPauseBefore(int next, std::chrono::milliseconds unit) {
    const int doublings = std::clamp(next - 2, 0, 6);
    return std::min(unit * (1 << doublings), unit * 60);
}

void EndPause() {
    if (CWaitNDispatch* pause = moduleState().CurrentPause) pause->Cancel();
}

void ReleaseAll(bool keepResults) {
    ModuleState& m = moduleState();
    Step_([&] {
        m.UserVariableList.Clear();
        m.SharedVariableList.Clear();
        m.PresetList.clear();
        m.DbPresetList.clear();
        m.LocalConstantList.clear();
        m.GlobalConstantList.clear();
    });
    m.ModuleInfoTable.reset();
    m.SavedData.reset();
    Step_([] { UnloadAllForms(); });
    if (!keepResults) {
        m.UserVariableNames.reset();
        m.UserVariableValues.reset();
        m.LocalVarTable.fill(VarType{});
        m.GlobalVarTable.fill(VarType{});
    }
}

}  // namespace klvr
