#include "support/standin_libraries.h"

#include <cstdlib>

#include "strata/platform/dynamic_library.h"

namespace strata::test {

std::string StandinLibrary(const std::string& fileName) {
  return std::string(STRATA_STANDIN_DIR) + "/" + fileName;
}

void UseStandinLibraries() {
  setenv("STRATA_DMX_BRIDGE", StandinLibrary("libDmxBridge.so").c_str(), 0);
  setenv("STRATA_MOX_BRIDGE", StandinLibrary("libMoxBridge.so").c_str(), 0);
  setenv("STRATA_IVIEWER_SDK", StandinLibrary("libiViewerSDK.so").c_str(), 0);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
  const char* old = std::getenv(name);
  hadValue_ = old != nullptr;
  if (hadValue_) oldValue_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
  if (hadValue_) {
    setenv(name_.c_str(), oldValue_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

StandinProbe::StandinProbe(const std::string& fileName)
    : module_(platform::LoadModule(StandinLibrary(fileName))) {}

void* StandinProbe::Symbol(const char* name) const { return platform::FindSymbol(module_, name); }

int StandinProbe::Calls(const char* function) const {
  const auto count = reinterpret_cast<int (*)(const char*)>(Symbol("StandinCallCount"));
  return count != nullptr ? count(function) : -1;
}

BufferLedger StandinProbe::Ledger() const {
  BufferLedger ledger;
  const auto read =
      reinterpret_cast<void (*)(int*, int*, int*, int*)>(Symbol("StandinBufferLedger"));
  if (read != nullptr) {
    read(&ledger.handedOut, &ledger.returned, &ledger.outstanding, &ledger.strayReturns);
  }
  return ledger;
}

}  // namespace strata::test
