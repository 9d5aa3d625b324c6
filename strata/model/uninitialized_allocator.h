// An allocator that leaves new elements uninitialised, for byte buffers that
// are sized first and then written in full (decoded regions, fetched ranges):
// clearing them first would double the memory traffic.
#ifndef STRATA_MODEL_UNINITIALIZED_ALLOCATOR_H_
#define STRATA_MODEL_UNINITIALIZED_ALLOCATOR_H_

#include <memory>
#include <utility>
#include <vector>

namespace strata {

template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};

using UninitializedBytes = std::vector<unsigned char, UninitializedAllocator<unsigned char>>;

}  // namespace strata

#endif  // STRATA_MODEL_UNINITIALIZED_ALLOCATOR_H_
