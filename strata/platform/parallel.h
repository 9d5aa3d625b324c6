// Running independent pieces of work on several threads.
#ifndef STRATA_PLATFORM_PARALLEL_H_
#define STRATA_PLATFORM_PARALLEL_H_

#include <cstddef>
#include <functional>

namespace strata::platform {

// Number of processors this process may use; at least 1.
unsigned ProcessorCount();

// Calls body(i) for every i in [0, count) on up to `threads` threads (the
// calling thread included) and returns when all calls are done. The body must
// not throw; results that depend only on i stay the same whatever the thread
// count.
void ParallelFor(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& body);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_PARALLEL_H_
