// The stand-in bridge and SDK libraries built with the tests
// (tests/standins): where they are, how to point the adapters at them, and
// their inspection exports.
#ifndef STRATA_TESTS_SUPPORT_STANDIN_LIBRARIES_H_
#define STRATA_TESTS_SUPPORT_STANDIN_LIBRARIES_H_

#include <string>

namespace strata::test {

// Full path of a stand-in library file, e.g. "libDmxBridge.so".
std::string StandinLibrary(const std::string& fileName);

// Points STRATA_DMX_BRIDGE, STRATA_MOX_BRIDGE and STRATA_IVIEWER_SDK at the
// full stand-ins, leaving variables that are set already.
void UseStandinLibraries();

// Sets an environment variable for the object's lifetime.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  bool hadValue_;
  std::string oldValue_;
};

// Makes the stand-ins misbehave: "<function>:<mode>" (standin_control.h).
class ScopedFault : public ScopedEnvironment {
 public:
  explicit ScopedFault(const std::string& fault)
      : ScopedEnvironment("STRATA_STANDIN_FAULT", fault) {}
};

struct BufferLedger {
  int handedOut = 0;
  int returned = 0;
  int outstanding = 0;
  int strayReturns = 0;
};

// One stand-in library as loaded in this process (the same module the
// adapters use when their variable names the same file).
class StandinProbe {
 public:
  explicit StandinProbe(const std::string& fileName);

  bool Loaded() const { return module_ != nullptr; }
  int Calls(const char* function) const;
  BufferLedger Ledger() const;
  // An export of the stand-in, null when missing.
  void* Symbol(const char* name) const;

 private:
  void* module_;
};

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_STANDIN_LIBRARIES_H_
