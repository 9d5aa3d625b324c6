// Why the last operation on this thread failed, noted where the fault is
// found (an HTTP status, a short file) so that the code that turns failures
// into results several calls up can still say why, without every read in
// between passing a Status along.
//
// A note belongs to the calling thread: concurrent reads on one slide never
// see each other's notes. The last note wins; the boundary clears the note
// before an operation and takes it once the operation reported failure.
#ifndef STRATA_MODEL_FAILURE_NOTE_H_
#define STRATA_MODEL_FAILURE_NOTE_H_

#include <cstddef>
#include <string>

#include "strata/status.h"

namespace strata {

void NoteFailure(Status reason);
void ClearNotedFailure();
// The noted reason, or `fallback` when nothing was noted since the last
// clear; the note is cleared either way.
Status TakeNotedFailure(Status fallback);

// Up to eight leading bytes as a reason shows them: hex, then the same bytes
// as text with anything unprintable as '.' ("starts with 7b 0a 22 61 '{."a'").
// "is empty" for no bytes.
std::string LeadingBytesText(const unsigned char* bytes, std::size_t count);

}  // namespace strata

#endif  // STRATA_MODEL_FAILURE_NOTE_H_
