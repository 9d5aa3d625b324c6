// Writes Hamamatsu NDPI slides for the tests: a classic TIFF whose
// directories each hold one level (or the macro image) as a single JPEG
// strip, marked by the NDPI tags (format flag 65420, source lens 65421 with
// -1 for the macro, offsets from the slide centre 65422 / 65423, focal plane
// 65424).
#ifndef STRATA_TOOLS_NDPI_WRITER_H_
#define STRATA_TOOLS_NDPI_WRITER_H_

#include <string>

#include "tools/svs_writer.h"

namespace strata::tools {

struct NdpiOptions {
  int width = 0;
  int height = 0;
  float lens = 20.0f;   // objective power of level 0
  int levelFactor = 4;  // the second stored level is this many times smaller
  int offsetX = 0;      // nanometres from the slide centre
  int offsetY = 0;
  RgbPicture macro;
};

bool WriteNdpi(const std::string& path, const NdpiOptions& options, const SvsPixelSource& source,
               std::string* error);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_NDPI_WRITER_H_
