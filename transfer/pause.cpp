#include "transfer/pause.h"

#include "host/module_state.h"
#include "util/wait_n_dispatch.h"

namespace klvr {

bool Pause() {
    ModuleState& m = moduleState();
    try {
        CWaitNDispatch wait;
        // registered before the flag is read: a stop posted after the check finds the wait to end
        m.CurrentPause = &wait;
        struct Forget {
            ModuleState& m;
            ~Forget() { m.CurrentPause = nullptr; }
        } forget{m};
        if (!m.AbortRequested) wait.Wait(250);
    } catch (...) {
    }
    return !m.AbortRequested;
}

}  // namespace klvr
