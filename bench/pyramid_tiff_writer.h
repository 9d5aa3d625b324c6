// Writes the pyramid of a ZTX slide as a tiled JPEG BigTIFF, the layout the
// field's readers expect: one directory per stored level (the base level
// first, reduced images after it), 256-pixel tiles. The slide's own JPEG
// streams are copied unchanged, so both files hold the same pixels in the same
// bytes; only edge tiles narrower or shorter than a whole tile are decoded,
// padded with white and encoded again (TIFF tiles are whole). The writer keeps
// one tile in memory at a time, so slides of any size can be written. For
// benchmarks that read the same pixels through other software.
#ifndef STRATA_BENCH_PYRAMID_TIFF_WRITER_H_
#define STRATA_BENCH_PYRAMID_TIFF_WRITER_H_

#include <string>

namespace strata::bench {

// Writes `tiffPath` from the slide at `slidePath`. False, with the reason in
// `error`, when the slide cannot be read or the TIFF cannot be written (a
// partly written file is then removed).
bool WritePyramidTiff(const std::string& slidePath, const std::string& tiffPath,
                      std::string* error);

// As WritePyramidTiff, but an existing `tiffPath` is reused, and a new one is
// written under a temporary name and renamed when complete.
bool EnsurePyramidTiff(const std::string& slidePath, const std::string& tiffPath,
                       std::string* error);

}  // namespace strata::bench

#endif  // STRATA_BENCH_PYRAMID_TIFF_WRITER_H_
