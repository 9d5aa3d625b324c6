// The reasons behind the C exports' false and empty results, kept for
// GetLastErrorTextFunc: the last failure of each thread, and the last failure
// of each open slide on each thread. A slide's reasons go when it is closed.
//
// Only failures write here, so successful calls pay nothing; a later success
// does not clear a reason. Safe to use from any number of threads.
#ifndef STRATA_INTERFACE_FAILURE_LOG_H_
#define STRATA_INTERFACE_FAILURE_LOG_H_

#include <string>

#include "strata/status.h"

class CDataFile;

namespace strata::interface {

// Keeps `reason` as the calling thread's last failure and, for a slide, as
// that slide's last failure on the calling thread.
void RecordFailure(const CDataFile* slide, const Status& reason);
// The slide's last failure on the calling thread ("" when none); for a null
// slide, the calling thread's last failure.
std::string LastFailureText(const CDataFile* slide);
// Drops every thread's reasons for a slide that is being closed.
void ForgetSlide(const CDataFile* slide);

}  // namespace strata::interface

#endif  // STRATA_INTERFACE_FAILURE_LOG_H_
