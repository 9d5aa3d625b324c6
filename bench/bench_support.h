// What the benchmarks share: a clock and the synthetic slides they measure.
#ifndef STRATA_BENCH_BENCH_SUPPORT_H_
#define STRATA_BENCH_BENCH_SUPPORT_H_

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/arguments.h"

namespace strata::bench {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start);

// Makes sure `path` holds a version 1.3 synthetic-tissue slide of width x
// height at `scanScale`, with its base-level tile ranges beside it
// (TileRangesPath): an existing pair is reused, otherwise both are written
// (to temporary names, renamed when complete), with progress on a terminal.
// False, with a line on standard error, when they cannot be written.
bool EnsureBenchSlide(const std::string& path, int width, int height, int scanScale,
                      std::uint32_t seed);

// Where one stored base-level tile of a bench slide lies in its file, as the
// writer reported it: the reference that reading through the library is
// measured against, which the library itself does not hand out.
struct TileRange {
  int x = 0;  // level-0 pixels
  int y = 0;
  int length = 0;
  std::int64_t position = 0;  // from the start of the file
};

// PATH.tiles: one "x y length position" line per base-level tile.
std::string TileRangesPath(const std::string& slidePath);
// The ranges EnsureBenchSlide kept; empty when the file is missing or bad.
std::vector<TileRange> ReadTileRanges(const std::string& slidePath);

// The 40x slide that open_tiles_bench and reader_bench share:
// DIR/bench-WxH.ztx, written once. Prints its path and size; "" on failure.
std::string SharedBenchSlide(const std::string& dir, int width, int height);

// Parses a benchmark's "--name value" options with the command line's parser;
// false (with the usage line printed) for a positional word, an unknown
// option or a missing value.
bool ParseBenchArguments(int argc, char** argv, const std::set<std::string>& options,
                         const char* usage, tools::Arguments* arguments);

// The --dir option, else $STRATA_BENCH_DIR, else /tmp/strata-bench.
std::string BenchDir(const tools::Arguments& arguments);

// A whole-number option of at least 1; false (with the usage line printed)
// when it is not one.
bool PositiveOption(const tools::Arguments& arguments, const char* name, int fallback,
                    const char* usage, int* out);

// The options of the benches that measure the shared slide: --dir, --width,
// --height and one count option of their own.
struct SharedSlideSettings {
  std::string dir;
  int width = 100000;
  int height = 80000;
  int count = 1;
};
bool ParseSharedSlideSettings(int argc, char** argv, const char* countOption, const char* usage,
                              SharedSlideSettings* settings);

}  // namespace strata::bench

#endif  // STRATA_BENCH_BENCH_SUPPORT_H_
