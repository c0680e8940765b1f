#pragma once

namespace klvr {

// The 250 ms pause between files of the process-all selection. The thread keeps dispatching meanwhile,
// so a host's stop request acts during it and ends it at once. False when the host asked to stop, before
// or during the pause: no further file may start then. Never fails.
bool Pause();

}  // namespace klvr
