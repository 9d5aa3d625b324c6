// Inspection for the tests, exported by every stand-in library.
#include "standin_control.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

STANDIN_EXPORT int StandinCallCount(const char* function) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  const auto found = standin::Calls().find(function);
  return found == standin::Calls().end() ? 0 : found->second;
}

STANDIN_EXPORT void StandinBufferLedger(int* handedOut, int* returned, int* outstanding,
                                        int* strayReturns) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  *handedOut = standin::Buffers().handedOut;
  *returned = standin::Buffers().returned;
  *outstanding = static_cast<int>(standin::Buffers().live.size());
  *strayReturns = standin::Buffers().strayReturns;
}
