#include "transfer/pause.h"

#include "util/wait_n_dispatch.h"

namespace klvr {

void Pause() {
    try {
        CWaitNDispatch wait;
        wait.Wait(250);
    } catch (...) {
    }
}

}  // namespace klvr
