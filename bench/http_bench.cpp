// Reading a slide over HTTP next to reading it locally. A slide made with the
// writer is served by a private loopback nginx; the bench reports how many
// HTTP requests a full open and a block open cost (counted in nginx's access
// log) and how many tiles per second four threads fetch from one handle over
// HTTP and from the local file, in the same run.
//
//   http_bench [--width W] [--height H] [--rounds N] [--threads T]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/nginx_server.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_writer.h"

namespace {

using strata::loopback::NginxServer;
using strata::ztx::WrittenTile;

struct BenchOptions {
  int width = 8192;
  int height = 6144;
  int rounds = 2;
  int threads = 4;
};

constexpr const char* kUsage = "http_bench [--width W] [--height H] [--rounds N] [--threads T]";

bool ParseOptions(int argc, char** argv, BenchOptions& options) {
  strata::tools::Arguments arguments;
  return strata::bench::ParseBenchArguments(
             argc, argv, {"--width", "--height", "--rounds", "--threads"}, kUsage, &arguments) &&
         strata::bench::PositiveOption(arguments, "--width", options.width, kUsage,
                                       &options.width) &&
         strata::bench::PositiveOption(arguments, "--height", options.height, kUsage,
                                       &options.height) &&
         strata::bench::PositiveOption(arguments, "--rounds", options.rounds, kUsage,
                                       &options.rounds) &&
         strata::bench::PositiveOption(arguments, "--threads", options.threads, kUsage,
                                       &options.threads);
}

// Smooth colour ramps with some texture, so that tiles compress like tissue
// rather than like a flat colour.
void FillRows(int width, int top, int rows, unsigned char* rgb) {
  for (int y = 0; y < rows; ++y) {
    unsigned char* row = rgb + static_cast<std::size_t>(y) * width * 3;
    const int py = top + y;
    for (int x = 0; x < width; ++x) {
      const unsigned noise = (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(py) * 40503u) >> 27;
      row[x * 3 + 0] = static_cast<unsigned char>(180 + ((x / 7) % 60) + noise);
      row[x * 3 + 1] = static_cast<unsigned char>(90 + ((py / 5) % 120));
      row[x * 3 + 2] = static_cast<unsigned char>(150 + (((x + py) / 11) % 90));
    }
  }
}

strata::ztx::StoredImage JpegImage(int width, int height) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  FillRows(width, 0, height, pixels.data());
  strata::ztx::StoredImage image;
  unsigned char* stream = nullptr;
  int length = 0;
  strata::EncodeJpeg(pixels.data(), static_cast<int>(pixels.size()), &stream, length, width,
                     height);
  if (stream != nullptr) image.stream.assign(stream, stream + length);
  strata::ReleaseBuffer(stream);
  image.width = width;
  image.height = height;
  return image;
}

bool WriteSlide(const std::string& path, const BenchOptions& options,
                strata::ztx::ZtxLayout& layout) {
  strata::ztx::ZtxWriterOptions writerOptions;
  writerOptions.version = 1.3f;
  writerOptions.label = JpegImage(240, 120);
  writerOptions.preview = JpegImage(320, 160);
  writerOptions.thumbnail = JpegImage(256, 192);
  strata::ztx::ZtxWriter writer(writerOptions);
  std::string error;
  const int width = options.width;
  const bool ok = writer.Write(
      path, options.width, options.height,
      [width](int top, int rows, unsigned char* rgb) {
        FillRows(width, top, rows, rgb);
        return true;
      },
      &error, &layout);
  if (!ok) std::fprintf(stderr, "cannot write the slide: %s\n", error.c_str());
  return ok;
}

// Requests nginx logged while `action` ran.
int RequestsDuring(const NginxServer& server, const std::function<void()>& action) {
  const int before = server.AccessLogLines();
  action();
  // nginx logs a request just after answering it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return server.AccessLogLines() - before;
}

struct Rate {
  double tilesPerSecond = 0.0;
  long tiles = 0;
  long failures = 0;
};

// Every thread walks its share of all tiles, `rounds` times, on one handle.
Rate MeasureTiles(IMAGE_INFO_STRUCT& handle, const std::vector<WrittenTile>& tiles,
                  const BenchOptions& options) {
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < options.threads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<unsigned char> buffer;
      for (int round = 0; round < options.rounds; ++round) {
        for (std::size_t i = static_cast<std::size_t>(t); i < tiles.size();
             i += static_cast<std::size_t>(options.threads)) {
          const WrittenTile& tile = tiles[i];
          buffer.resize(static_cast<std::size_t>(tile.length) + 1);
          unsigned char* out = buffer.data();
          int length = 0;
          GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &out);
          if (length != tile.length) ++failed;
          ++done;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Rate rate;
  rate.tiles = done;
  rate.failures = failed;
  rate.tilesPerSecond = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  return rate;
}

void PrintRate(const char* what, const Rate& rate) {
  std::printf("%-24s %10.0f tiles/s  (%ld tiles, %ld failed)\n", what, rate.tilesPerSecond,
              rate.tiles, rate.failures);
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  if (!ParseOptions(argc, argv, options)) return 2;
  NginxServer server;
  if (!server.started()) {
    std::fprintf(stderr, "nginx did not start: %s\n", server.failure().c_str());
    return 1;
  }
  const std::string fileName = "bench slide.ztx";
  const std::string localPath = server.DocumentRoot() + "/" + fileName;
  const std::string url = server.Url(fileName);
  strata::ztx::ZtxLayout layout;
  if (!WriteSlide(localPath, options, layout)) return 1;
  std::printf("slide %d x %d, %zu tiles, %lld bytes, served at %s\n", options.width,
              options.height, layout.tiles.size(), static_cast<long long>(layout.fileSize),
              url.c_str());

  bool opened = false;
  const int fullOpen = RequestsDuring(server, [&] {
    IMAGE_INFO_STRUCT handle{};
    opened = InitImageFileFunc(&handle, url.c_str());
    if (opened) UnInitImageFileFunc(&handle);
  });
  if (!opened) {
    std::fprintf(stderr, "cannot open %s\n", url.c_str());
    return 1;
  }
  const int blockOpen = RequestsDuring(server, [&] {
    IMAGE_INFO_STRUCT handle{};
    if (InitImageFileFuncAsBlock(&handle, url.c_str(), 1024, 1024, 2048, 2048, 20.0f)) {
      UnInitImageFileFunc(&handle);
    }
  });
  std::printf("requests of a full open:  %d\n", fullOpen);
  std::printf("requests of a block open: %d\n", blockOpen);

  IMAGE_INFO_STRUCT local{};
  IMAGE_INFO_STRUCT remote{};
  if (!InitImageFileFunc(&local, localPath.c_str()) || !InitImageFileFunc(&remote, url.c_str())) {
    std::fprintf(stderr, "cannot open the slide for reading tiles\n");
    UnInitImageFileFunc(&local);
    UnInitImageFileFunc(&remote);
    return 1;
  }
  const Rate localRate = MeasureTiles(local, layout.tiles, options);
  const Rate remoteRate = MeasureTiles(remote, layout.tiles, options);
  UnInitImageFileFunc(&local);
  UnInitImageFileFunc(&remote);
  std::printf("%d threads, %d rounds over every tile:\n", options.threads, options.rounds);
  PrintRate("local file", localRate);
  PrintRate("HTTP (loopback nginx)", remoteRate);
  if (localRate.tilesPerSecond > 0) {
    std::printf("HTTP / local: %.3f\n", remoteRate.tilesPerSecond / localRate.tilesPerSecond);
  }
  return localRate.failures == 0 && remoteRate.failures == 0 ? 0 : 1;
}
