// Writes the pixels of a row source as a pyramidal, tiled JPEG TIFF (the
// layout the field's readers expect): the base level and halved levels down
// to about 512 pixels, 256-pixel tiles, quality 75. For benchmarks that read
// the same pixels through other software.
#ifndef STRATA_BENCH_PYRAMID_TIFF_WRITER_H_
#define STRATA_BENCH_PYRAMID_TIFF_WRITER_H_

#include <functional>
#include <string>

namespace strata::bench {

// Fills `rows` rows of RGB pixels starting at row `top` (width * 3 bytes each).
using PixelRows = std::function<void(int top, int rows, unsigned char* rgb)>;

bool WritePyramidTiff(const std::string& path, int width, int height, const PixelRows& source);

}  // namespace strata::bench

#endif  // STRATA_BENCH_PYRAMID_TIFF_WRITER_H_
