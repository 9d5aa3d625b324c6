// What the TIFF writers share: libtiff handles owned by type, and the pixel
// layout of an 8-bit, three-sample, interleaved directory.
#ifndef STRATA_TOOLS_TIFF_FILE_H_
#define STRATA_TOOLS_TIFF_FILE_H_

#include <tiffio.h>

#include <cstdint>
#include <memory>

namespace strata::tools {

struct TiffClose {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, TiffClose>;

// Size and sample layout of the directory being written.
inline void SetRgbLayout(TIFF* tiff, int width, int height, int photometric) {
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
}

}  // namespace strata::tools

#endif  // STRATA_TOOLS_TIFF_FILE_H_
