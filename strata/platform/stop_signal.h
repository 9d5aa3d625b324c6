// Waiting for the interrupt or termination signal that ends a long-running
// command (a server), instead of letting the signal kill the process.
#ifndef STRATA_PLATFORM_STOP_SIGNAL_H_
#define STRATA_PLATFORM_STOP_SIGNAL_H_

namespace strata::platform {

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it
// starts afterwards, so that they wait for WaitForStopSignal. Call it before
// starting any thread.
void HoldStopSignals();

// Waits until SIGINT or SIGTERM arrives (held with HoldStopSignals) and
// returns its number.
int WaitForStopSignal();

// Sends SIGTERM to this process, waking WaitForStopSignal, e.g. when the
// work it waits for ends by itself.
void RaiseStopSignal();

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_STOP_SIGNAL_H_
