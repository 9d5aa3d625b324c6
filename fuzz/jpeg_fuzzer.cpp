// The JPEG decoders as the library wraps them: bounded, unbounded, into a
// caller's rows, and as a tile stream.
#include <cstdint>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/ztx/ztx_tile_pixels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const int length = static_cast<int>(size);
  int width = 0, height = 0, components = 0;
  strata::ReleaseBuffer(
      strata::DecodeJpegComponentsWithin(data, length, 1024, 1024, width, height, components));
  strata::ReleaseBuffer(strata::DecodeJpegComponents(data, length, width, height, components));
  std::vector<unsigned char> rows(64 * 64 * 3 + 64 * 3);
  strata::DecodeJpegInto(data, length, 64, 64, rows.data(), 64 * 3 + 3);
  strata::ztx::DecodeTileStream(data, size, false, strata::ztx::TileLimits{256, 256}, width,
                                height);
  return 0;
}
