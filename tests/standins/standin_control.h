// What every stand-in library shares: faults chosen through the environment,
// call counts, and a ledger of the buffers it hands out.
//
// STRATA_STANDIN_FAULT="<function>:<mode>" makes the named function misbehave:
//   fail      report failure (false, or a null result)
//   empty     hand out a buffer but report a length of 0
//   null      open without giving a handle
//   negative  report a negative width
//   long      report a length longer than the buffer handed out
//   oversize  report a width and height larger than the buffer holds
#ifndef STRATA_TESTS_STANDINS_STANDIN_CONTROL_H_
#define STRATA_TESTS_STANDINS_STANDIN_CONTROL_H_

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace standin {

inline std::mutex& Mutex() {
  static std::mutex mutex;
  return mutex;
}

inline std::map<std::string, int>& Calls() {
  static std::map<std::string, int> calls;
  return calls;
}

// Counts a call to `function`.
inline void Count(const char* function) {
  std::lock_guard<std::mutex> guard(Mutex());
  ++Calls()[function];
}

// True when the environment asks `function` to misbehave in `mode`.
inline bool Fault(const char* function, const char* mode) {
  const char* fault = std::getenv("STRATA_STANDIN_FAULT");
  if (fault == nullptr) return false;
  return std::string(fault) == std::string(function) + ":" + mode;
}

struct Ledger {
  std::set<void*> live;
  int handedOut = 0;
  int returned = 0;
  int strayReturns = 0;  // unknown or already returned
};

inline Ledger& Buffers() {
  static Ledger ledger;
  return ledger;
}

inline unsigned char* HandOut(std::size_t size) {
  unsigned char* buffer = new unsigned char[size == 0 ? 1 : size];
  std::lock_guard<std::mutex> guard(Mutex());
  Buffers().live.insert(buffer);
  ++Buffers().handedOut;
  return buffer;
}

inline bool TakeBack(void* buffer) {
  std::lock_guard<std::mutex> guard(Mutex());
  if (buffer == nullptr || Buffers().live.erase(buffer) == 0) {
    ++Buffers().strayReturns;
    return false;
  }
  ++Buffers().returned;
  delete[] static_cast<unsigned char*>(buffer);
  return true;
}

}  // namespace standin

#endif  // STRATA_TESTS_STANDINS_STANDIN_CONTROL_H_
