#pragma once

namespace klvr {

// The 250 ms pause between files of the process-all selection. The thread keeps dispatching meanwhile,
// so a host's stop request acts during it. Never fails.
void Pause();

}  // namespace klvr
