// Writes the pyramid of a ZTX slide as a tiled JPEG TIFF holding the slide's
// own tiles, the layout the usual Deep Zoom servers read.
//
//   serve_bench_tiff SLIDE OUT.tif
#include <cstdio>
#include <string>

#include "bench/pyramid_tiff_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: serve_bench_tiff SLIDE OUT.tif\n");
    return 2;
  }
  std::string error;
  if (!strata::bench::WritePyramidTiff(argv[1], argv[2], &error)) {
    std::fprintf(stderr, "serve_bench_tiff: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
