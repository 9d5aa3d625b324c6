#include "strata/platform/stop_signal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace strata::platform {
namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

void HoldStopSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int WaitForStopSignal() {
  const sigset_t signals = StopSignals();
  int received = 0;
  while (sigwait(&signals, &received) != 0) {
  }
  return received;
}

void RaiseStopSignal() { kill(getpid(), SIGTERM); }

}  // namespace strata::platform
