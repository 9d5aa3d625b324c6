// What the benchmarks share: a clock and the synthetic slides they measure.
#ifndef STRATA_BENCH_BENCH_SUPPORT_H_
#define STRATA_BENCH_BENCH_SUPPORT_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace strata::bench {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start);

// Makes sure `path` holds a version 1.3 synthetic-tissue slide of width x
// height at `scanScale`: an existing file is reused, otherwise it is written
// (to a temporary name, renamed when complete), with progress on a terminal.
// False, with a line on standard error, when it cannot be written.
bool EnsureBenchSlide(const std::string& path, int width, int height, int scanScale,
                      std::uint32_t seed);

// The 40x slide that open_tiles_bench and reader_bench share:
// DIR/bench-WxH.ztx, written once. Prints its path and size; "" on failure.
std::string SharedBenchSlide(const std::string& dir, int width, int height);

}  // namespace strata::bench

#endif  // STRATA_BENCH_BENCH_SUPPORT_H_
