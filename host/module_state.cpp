#include "host/module_state.h"

#include "dialog/configuration_form.h"
#include "transfer/download_run.h"
#include "transfer/run_session.h"
#include "util/dispatcher.h"

namespace klvr {
namespace {

std::unique_ptr<ModuleState>& Instance() {
    static std::unique_ptr<ModuleState> state = std::make_unique<ModuleState>();
    return state;
}

}  // namespace

ModuleState::ModuleState() : downloadAttempt(&DownloadRun) {}
ModuleState::~ModuleState() = default;

ModuleState& moduleState() {
    return *Instance();
}

void ResetModuleState() {
    Instance() = std::make_unique<ModuleState>();
}

bool BusyOnAnotherThread() {
    const std::thread::id owner = moduleState().CallThread.load();
    return owner != std::thread::id{} && owner != std::this_thread::get_id();
}

void UnloadAllForms() {
    ModuleState& m = moduleState();
    m.runSession.reset();
    m.configurationForm.reset();
}

}  // namespace klvr
