// The one place where exceptions stop: everything the library exports runs
// its body through Guarded, so whatever a slide object throws becomes the
// documented failure result instead of crossing into the caller. What was
// thrown is noted as the failure's reason.
#ifndef STRATA_INTERFACE_BOUNDARY_GUARD_H_
#define STRATA_INTERFACE_BOUNDARY_GUARD_H_

#include <exception>
#include <new>
#include <string>

#include "strata/model/failure_note.h"

namespace strata {

// Notes why a body threw; never throws itself (noting needs memory).
inline void NoteThrown(const char* what) noexcept {
  try {
    NoteFailure(Status::Damaged(std::string("unexpected error: ") + what));
  } catch (...) {
  }
}

template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    NoteThrown("out of memory");
  } catch (const std::exception& e) {
    NoteThrown(e.what());
  } catch (...) {
    NoteThrown("unknown exception");
  }
  return failure;
}

}  // namespace strata

#endif  // STRATA_INTERFACE_BOUNDARY_GUARD_H_
