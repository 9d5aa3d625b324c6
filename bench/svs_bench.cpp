// SVS read natively, next to the same calls through OpenSlide
// (STRATA_NATIVE_TIFF=0) in the same run, on one SVS of synthetic tissue:
// - GetImageStreamFunc at a level's own scale: stored tiles passed through
//   (target >= 50,000 tiles/s) against the tiles OpenSlide's route encodes;
// - GetImageDataRoiFunc, 2048 x 2048 at level 0 and level 2 scales;
// - the façade's 2048 x 2048 region over HTTP through a 20 ms latency proxy
//   (nginx behind it) against the same read of the local file (target:
//   within 3 times).
// The SVS (YCbCr JPEG tiles of 256, levels 4 times smaller) is written once
// into DIR and reused; bench/svs_bench runs this and the Python comparison
// on it.
//
// usage: svs_bench [--dir DIR] [--tiles N] [--delay MS] [--write-only yes]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "strata/slide.h"
#include "strata/slide/system.h"
#include "strata/strata.h"
#include "tools/loopback/latency_proxy.h"
#include "tools/loopback/nginx_server.h"
#include "tools/svs_writer.h"
#include "tools/synthetic_tissue.h"

namespace {

using strata::bench::Clock;
using strata::bench::SecondsSince;

constexpr int kWidth = 40960;
constexpr int kHeight = 32768;
constexpr int kRegion = 2048;
constexpr float kScan = 20.0f;
constexpr const char* kUsage = "usage: svs_bench [--dir DIR] [--tiles N] [--delay MS] [--write-only yes]";

// Tissue rows for the SVS writer: a level's row is level-0 row
// floor(row * downsample), sampled every `downsample` pixels; rows are
// made once per band of tiles.
class TissueRows {
 public:
  TissueRows() : tissue_(kWidth, kHeight, 11) {}

  void Fill(int x, int y, int w, int h, double downsample, unsigned char* rgb) {
    if (downsample != bandDownsample_ || y != bandTop_ || h > bandRows_) MakeBand(y, h, downsample);
    for (int row = 0; row < h; ++row) {
      const unsigned char* from = band_.data() + static_cast<std::size_t>(row) * bandWidth_ * 3;
      for (int column = 0; column < w; ++column) {
        const auto source = static_cast<std::size_t>(std::min<double>((x + column) * downsample, kWidth - 1));
        std::copy_n(from + source * 3, 3, rgb + (static_cast<std::size_t>(row) * w + column) * 3);
      }
    }
  }

 private:
  void MakeBand(int y, int h, double downsample) {
    bandDownsample_ = downsample;
    bandTop_ = y;
    bandRows_ = h;
    bandWidth_ = kWidth;
    band_.resize(static_cast<std::size_t>(kWidth) * 3 * h);
    if (downsample == 1.0) {
      tissue_.FillRows(y, std::min(h, kHeight - y), band_.data());
      return;
    }
    for (int row = 0; row < h; ++row) {
      const int source = std::min(static_cast<int>((y + row) * downsample), kHeight - 1);
      tissue_.FillRows(source, 1, band_.data() + static_cast<std::size_t>(row) * kWidth * 3);
    }
  }

  strata::tools::SyntheticTissue tissue_;
  std::vector<unsigned char> band_;
  double bandDownsample_ = 0;
  int bandTop_ = -1;
  int bandRows_ = 0;
  int bandWidth_ = 0;
};

std::string EnsureSvs(const std::string& dir) {
  const std::string path = dir + "/svs-bench-" + std::to_string(kWidth) + "x" +
                           std::to_string(kHeight) + ".svs";
  if (std::filesystem::exists(path)) return path;
  std::filesystem::create_directories(dir);
  strata::tools::SvsOptions options;
  options.width = kWidth;
  options.height = kHeight;
  options.coding = strata::tools::SvsTileCoding::kJpegYcbcr;
  options.quality = 80;
  options.label = strata::tools::FramedPicture(400, 200, 230, 220, 150);
  options.macro = strata::tools::FramedPicture(600, 200, 150, 110, 170);
  std::printf("writing %s (once) ...\n", path.c_str());
  std::fflush(stdout);
  auto rows = std::make_shared<TissueRows>();
  const std::string partial = path + ".partial";
  std::string error;
  if (!strata::tools::WriteSvs(
          partial, options,
          [rows](int x, int y, int w, int h, double downsample, unsigned char* rgb) {
            rows->Fill(x, y, w, h, downsample, rgb);
          },
          &error)) {
    std::fprintf(stderr, "svs_bench: %s\n", error.c_str());
    return "";
  }
  std::filesystem::rename(partial, path);
  return path;
}

// A handle through the exports, natively or through OpenSlide.
struct ExportHandle {
  ExportHandle(const std::string& location, bool native) {
    strata::system::SetEnvironmentValue("STRATA_NATIVE_TIFF", native ? "1" : "0");
    opened = InitImageFileFunc(&handle, location.c_str());
    strata::system::SetEnvironmentValue("STRATA_NATIVE_TIFF", "1");
  }
  ~ExportHandle() { UnInitImageFileFunc(&handle); }
  IMAGE_INFO_STRUCT handle{};
  bool opened = false;
};

// Whole tiles of a level, row after row (from the top again at the end).
double TilesPerSecond(const std::string& path, bool native, float scale, int count) {
  ExportHandle slide(path, native);
  if (!slide.opened) return 0;
  const int levelWidth = static_cast<int>(kWidth * scale / kScan);
  const int levelHeight = static_cast<int>(kHeight * scale / kScan);
  int tiles = 0;
  const Clock::time_point start = Clock::now();
  for (int y = 0; tiles < count; y = y + 512 < levelHeight ? y + 256 : 0) {
    for (int x = 0; x + 256 <= levelWidth && tiles < count; x += 256, ++tiles) {
      unsigned char* out = nullptr;
      int length = 0;
      GetImageStreamFunc(&slide.handle, scale, x, y, &length, &out);
      if (out == nullptr) std::fprintf(stderr, "svs_bench: no tile at %d,%d\n", x, y);
      DeleteImageDataFunc(out);
    }
  }
  return tiles / SecondsSince(start);
}

double RegionMegapixels(const std::string& path, bool native, float scale, int rounds) {
  ExportHandle slide(path, native);
  if (!slide.opened) return 0;
  const int levelWidth = static_cast<int>(kWidth * scale / kScan);
  const Clock::time_point start = Clock::now();
  for (int round = 0; round < rounds; ++round) {
    unsigned char* out = nullptr;
    int length = 0;
    const int x = (round * 2 * kRegion) % std::max(1, levelWidth - kRegion);
    if (!GetImageDataRoiFunc(slide.handle, scale, x, 0, kRegion, kRegion, &out, &length, false)) {
      std::fprintf(stderr, "svs_bench: region failed\n");
    }
    DeleteImageDataFunc(out);
  }
  return static_cast<double>(kRegion) * kRegion * rounds / 1e6 / SecondsSince(start);
}

// 2048 x 2048 regions of level 0 through the façade, on a freshly opened
// slide whose tiles there were never read: seconds per region for the reads
// alone (after a first read elsewhere, which brings the process's memory to
// its size).
double FacadeRegionSeconds(const std::string& location) {
  std::unique_ptr<strata::Slide> slide;
  const strata::Status opened = strata::Slide::Open(location, &slide);
  if (!opened.ok()) {
    std::fprintf(stderr, "svs_bench: %s\n", opened.message().c_str());
    return 0;
  }
  strata::Image rgba;
  if (!slide->ReadRegion(0, 0, 0, kRegion, kRegion, &rgba).ok()) return 0;
  constexpr int kRegions = 4;
  const Clock::time_point start = Clock::now();
  for (int n = 1; n <= kRegions; ++n) {
    if (!slide->ReadRegion(0, kWidth * n / 5, kHeight * n / 5, kRegion, kRegion, &rgba).ok()) {
      return 0;
    }
  }
  return SecondsSince(start) / kRegions;
}

void Row(const char* name, double ours, double theirs, const char* unit) {
  std::printf("%-44s %10.1f %10.1f %8.1fx  %s\n", name, ours, theirs, ours / theirs, unit);
}

}  // namespace

int main(int argc, char** argv) {
  strata::tools::Arguments arguments;
  if (!strata::bench::ParseBenchArguments(argc, argv, {"--dir", "--tiles", "--delay", "--write-only"},
                                          kUsage, &arguments)) {
    return 2;
  }
  int tiles = 0, delay = 0;
  if (!strata::bench::PositiveOption(arguments, "--tiles", 20000, kUsage, &tiles) ||
      !strata::bench::PositiveOption(arguments, "--delay", 20, kUsage, &delay)) {
    return 2;
  }
  const std::string dir = strata::bench::BenchDir(arguments);
  const std::string path = EnsureSvs(dir);
  if (path.empty()) return 1;
  if (arguments.Has("--write-only")) return 0;
  std::printf("%s: %d x %d, YCbCr JPEG tiles of 256\n", path.c_str(), kWidth, kHeight);
  std::printf("%-44s %10s %10s %9s\n", "case", "native", "OpenSlide", "ratio");
  const int slow = std::max(1, tiles / 40);
  Row("GetImageStreamFunc level 0 (tiles/s)", TilesPerSecond(path, true, kScan, tiles),
      TilesPerSecond(path, false, kScan, slow), "(target native >= 50,000)");
  Row("GetImageStreamFunc level 1 (tiles/s)", TilesPerSecond(path, true, kScan / 4, tiles),
      TilesPerSecond(path, false, kScan / 4, slow), "");
  Row("GetImageDataRoiFunc 2048^2 level 0 (MP/s)", RegionMegapixels(path, true, kScan, 8),
      RegionMegapixels(path, false, kScan, 8), "");
  Row("GetImageDataRoiFunc 2048^2 level 2 (MP/s)", RegionMegapixels(path, true, kScan / 16, 8),
      RegionMegapixels(path, false, kScan / 16, 8), "");

  strata::loopback::NginxServer server(dir, 60, 1000000);
  if (!server.started()) {
    std::fprintf(stderr, "svs_bench: nginx did not start: %s\n", server.failure().c_str());
    return 1;
  }
  strata::loopback::LatencyProxy proxy(server.port(), std::chrono::milliseconds(delay));
  const std::string name = path.substr(path.rfind('/') + 1);
  const double local = FacadeRegionSeconds(path);
  const double remote = FacadeRegionSeconds(proxy.Url("/" + name));
  std::printf("%-44s %10.3f %10.3f %8.2fx  (target <= 3)\n",
              ("2048^2 region, HTTP " + std::to_string(delay) + " ms / local (s)").c_str(),
              remote, local, remote / local);
  return 0;
}
