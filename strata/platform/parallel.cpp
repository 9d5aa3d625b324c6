#include "strata/platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace strata::platform {

unsigned ProcessorCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

void ParallelFor(std::size_t count, unsigned threads,
                 const std::function<void(std::size_t)>& body) {
  if (count == 0) return;
  const std::size_t workers = std::min<std::size_t>(std::max(threads, 1u), count);
  std::atomic<std::size_t> next{0};
  auto drain = [&]() {
    for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) body(i);
  };
  std::vector<std::thread> helpers;
  helpers.reserve(workers - 1);
  for (std::size_t t = 1; t < workers; ++t) {
    try {
      helpers.emplace_back(drain);
    } catch (const std::system_error&) {
      break;  // fewer threads; the calling thread still drains everything
    }
  }
  drain();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace strata::platform
