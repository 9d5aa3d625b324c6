// The one place where exceptions stop: everything the library exports runs
// its body through Guarded, so whatever a slide object throws becomes the
// documented failure result instead of crossing into the caller.
#ifndef STRATA_INTERFACE_BOUNDARY_GUARD_H_
#define STRATA_INTERFACE_BOUNDARY_GUARD_H_

namespace strata {

template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace strata

#endif  // STRATA_INTERFACE_BOUNDARY_GUARD_H_
