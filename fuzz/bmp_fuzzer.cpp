// The BMP decoder as the library wraps it, directly and as a tile stream.
#include <cstdint>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/ztx/ztx_tile_pixels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  int width = 0, height = 0;
  strata::ReleaseBuffer(strata::DecodeBmp24(data, static_cast<int>(size), width, height));
  strata::ztx::DecodeTileStream(data, size, true, strata::ztx::TileLimits{256, 256}, width, height);
  return 0;
}
