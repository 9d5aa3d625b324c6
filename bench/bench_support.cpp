#include "bench/bench_support.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "strata/platform/file_io.h"
#include "strata/platform/terminal.h"
#include "strata/ztx/ztx_writer.h"
#include "tools/synthetic_tissue.h"

namespace strata::bench {

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool EnsureBenchSlide(const std::string& path, int width, int height, int scanScale,
                      std::uint32_t seed) {
  if (platform::FileExists(path)) return true;
  ztx::ZtxWriterOptions options;
  options.version = 1.3f;
  options.scanScale = scanScale;
  const tools::SyntheticTissue tissue(width, height, seed);
  const bool terminal = platform::IsTerminal(stderr);
  std::fprintf(stderr, "writing %s (%d x %d) once; later runs reuse it\n", path.c_str(), width,
               height);
  const std::string temporary = path + ".partial";
  std::string error;
  const auto start = Clock::now();
  ztx::ZtxWriter writer(options);
  const bool written = writer.Write(
      temporary, width, height,
      [&tissue](int top, int rows, unsigned char* rgb) { return tissue.FillRows(top, rows, rgb); },
      &error, nullptr,
      [terminal, start](std::int64_t done, std::int64_t total) {
        if (!terminal || (done % 500 != 0 && done != total)) return;
        std::fprintf(stderr, "\r  %lld/%lld tiles, %.0f s", static_cast<long long>(done),
                     static_cast<long long>(total), SecondsSince(start));
      });
  if (terminal) std::fputc('\n', stderr);
  if (!written || !platform::RenameFile(temporary, path)) {
    std::fprintf(stderr, "cannot write the bench slide: %s\n", error.c_str());
    platform::RemoveFile(temporary);
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
              static_cast<double>(platform::FileSize(path)) / 1e9);
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
  const char* fromEnvironment = platform::EnvironmentValue("STRATA_BENCH_DIR");
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
