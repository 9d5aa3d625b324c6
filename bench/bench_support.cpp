#include "bench/bench_support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "strata/slide/slide_writer.h"
#include "strata/slide/system.h"
#include "tools/synthetic_tissue.h"

namespace strata::bench {

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string TileRangesPath(const std::string& slidePath) { return slidePath + ".tiles"; }

std::vector<TileRange> ReadTileRanges(const std::string& slidePath) {
  std::vector<TileRange> ranges;
  std::ifstream in(TileRangesPath(slidePath));
  TileRange range;
  while (in >> range.x >> range.y >> range.length >> range.position) ranges.push_back(range);
  if (!in.eof()) ranges.clear();
  return ranges;
}

namespace {

bool WriteTileRanges(const std::string& path, const writer::ZtxLayout& layout, int scanScale) {
  std::ofstream out(path);
  for (const writer::WrittenTile& tile : layout.tiles) {
    if (tile.scale != static_cast<float>(scanScale)) continue;
    out << tile.x << ' ' << tile.y << ' ' << tile.length << ' ' << layout.indexOffset + tile.offset
        << '\n';
  }
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

bool EnsureBenchSlide(const std::string& path, int width, int height, int scanScale,
                      std::uint32_t seed) {
  const std::string rangesPath = TileRangesPath(path);
  if (system::FileExists(path) && system::FileExists(rangesPath)) return true;
  writer::ZtxWriterOptions options;
  options.version = 1.3f;
  options.scanScale = scanScale;
  const tools::SyntheticTissue tissue(width, height, seed);
  const bool terminal = system::IsTerminal(stderr);
  std::fprintf(stderr, "writing %s (%d x %d) and its tile ranges once; later runs reuse them\n",
               path.c_str(), width, height);
  const std::string temporary = path + ".partial";
  std::string error;
  const auto start = Clock::now();
  writer::ZtxWriter writer(options);
  writer::ZtxLayout layout;
  const bool written = writer.Write(
      temporary, width, height,
      [&tissue](int top, int rows, unsigned char* rgb) { return tissue.FillRows(top, rows, rgb); },
      &error, &layout,
      [terminal, start](std::int64_t done, std::int64_t total) {
        if (!terminal || (done % 500 != 0 && done != total)) return;
        std::fprintf(stderr, "\r  %lld/%lld tiles, %.0f s", static_cast<long long>(done),
                     static_cast<long long>(total), SecondsSince(start));
      });
  if (terminal) std::fputc('\n', stderr);
  const std::string rangesTemporary = rangesPath + ".partial";
  const bool rangesWritten = written && WriteTileRanges(rangesTemporary, layout, scanScale);
  if (written && !rangesWritten) error = "cannot write " + rangesTemporary;
  if (!rangesWritten || !system::RenameFile(temporary, path) ||
      !system::RenameFile(rangesTemporary, rangesPath)) {
    std::fprintf(stderr, "cannot write the bench slide: %s\n", error.c_str());
    system::RemoveFile(temporary);
    system::RemoveFile(rangesTemporary);
    return false;
  }
  std::fprintf(stderr, "written in %.0f s\n", SecondsSince(start));
  return true;
}

std::string SharedBenchSlide(const std::string& dir, int width, int height) {
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  const std::string path =
      dir + "/bench-" + std::to_string(width) + "x" + std::to_string(height) + ".ztx";
  if (!EnsureBenchSlide(path, width, height, 40, 2024)) return std::string();
  std::printf("slide: %s (%.2f GB)\n", path.c_str(),
              static_cast<double>(system::FileSize(path)) / 1e9);
  return path;
}

}  // namespace strata::bench

namespace strata::bench {

namespace {

bool Usage(const char* usage, const std::string& error) {
  std::fprintf(stderr, "%s\nusage: %s\n", error.c_str(), usage);
  return false;
}

}  // namespace

bool ParseBenchArguments(int argc, char** argv, const std::set<std::string>& options,
                         const char* usage, tools::Arguments* arguments) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  std::string error;
  if (!arguments->Parse(words, options, {}, &error)) return Usage(usage, error);
  if (!arguments->positional().empty()) {
    return Usage(usage, "unexpected " + arguments->positional().front());
  }
  return true;
}

std::string BenchDir(const tools::Arguments& arguments) {
  const char* fromEnvironment = system::EnvironmentValue("STRATA_BENCH_DIR");
  return arguments.Text("--dir",
                        fromEnvironment != nullptr ? fromEnvironment : "/tmp/strata-bench");
}

bool PositiveOption(const tools::Arguments& arguments, const char* name, int fallback,
                    const char* usage, int* out) {
  std::string error;
  if (arguments.Int(name, fallback, 1, 1 << 30, out, &error)) return true;
  return Usage(usage, error);
}

bool ParseSharedSlideSettings(int argc, char** argv, const char* countOption, const char* usage,
                              SharedSlideSettings* settings) {
  tools::Arguments arguments;
  if (!ParseBenchArguments(argc, argv, {"--dir", "--width", "--height", countOption}, usage,
                           &arguments)) {
    return false;
  }
  settings->dir = BenchDir(arguments);
  return PositiveOption(arguments, "--width", settings->width, usage, &settings->width) &&
         PositiveOption(arguments, "--height", settings->height, usage, &settings->height) &&
         PositiveOption(arguments, countOption, settings->count, usage, &settings->count);
}

}  // namespace strata::bench
