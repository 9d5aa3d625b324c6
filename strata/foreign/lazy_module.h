// An outside library that an adapter loads on its format's first load and
// keeps for the rest of the process. A failed load is not remembered: the
// next load tries again.
#ifndef STRATA_FOREIGN_LAZY_MODULE_H_
#define STRATA_FOREIGN_LAZY_MODULE_H_

#include <atomic>
#include <mutex>

#include "strata/platform/dynamic_library.h"

namespace strata::foreign {

class LazyModule {
 public:
  // `logicalName` as "DmxBridge.dll"; `overrideVariable` names an environment
  // variable that, when set, gives the library's file instead.
  LazyModule(const char* logicalName, const char* overrideVariable)
      : logicalName_(logicalName), overrideVariable_(overrideVariable) {}
  LazyModule(const LazyModule&) = delete;
  LazyModule& operator=(const LazyModule&) = delete;

  // True when the library is (now) loaded.
  bool Load();
  bool IsLoaded() const { return module_.load() != nullptr; }
  // The exported function, or null when the library or the name is missing.
  void* Find(const char* function) const;

 private:
  const char* logicalName_;
  const char* overrideVariable_;
  std::atomic<platform::ModuleHandle> module_{nullptr};
  std::mutex loadLock_;
};

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_LAZY_MODULE_H_
