// The lock a byte-range reader holds around one positioned read.
#ifndef STRATA_PLATFORM_LOCK_H_
#define STRATA_PLATFORM_LOCK_H_

#include <mutex>

namespace strata::platform {

class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class ScopedLock {
 public:
  explicit ScopedLock(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~ScopedLock() { lock_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Lock& lock_;
};

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_LOCK_H_
