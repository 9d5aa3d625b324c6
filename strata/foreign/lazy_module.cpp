#include "strata/foreign/lazy_module.h"

namespace strata::foreign {

bool LazyModule::Load() {
  if (IsLoaded()) return true;
  std::lock_guard<std::mutex> guard(loadLock_);
  if (!IsLoaded()) {
    module_.store(platform::LoadModuleOverridable(logicalName_, overrideVariable_));
  }
  return IsLoaded();
}

void* LazyModule::Find(const char* function) const {
  return platform::FindSymbol(module_.load(), function);
}

}  // namespace strata::foreign
