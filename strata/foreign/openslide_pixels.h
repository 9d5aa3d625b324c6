// OpenSlide's pixels (premultiplied ARGB, one 32-bit word per pixel) turned
// into Strata's 3-byte RGB.
#ifndef STRATA_FOREIGN_OPENSLIDE_PIXELS_H_
#define STRATA_FOREIGN_OPENSLIDE_PIXELS_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "strata/model/image_buffer.h"

namespace strata::foreign {

// The slide's "openslide.background-color" (0xRRGGBB), when it has one.
struct BackgroundColour {
  bool present = false;
  unsigned char red = 255;
  unsigned char green = 255;
  unsigned char blue = 255;
};

// The ARGB words OpenSlide fills for width x height pixels and the RGB buffer
// they become.
struct ArgbReadBuffers {
  // False when either buffer is beyond the region memory budget, a side is
  // not positive, or memory is short.
  bool Allocate(std::int64_t width, std::int64_t height);

  std::size_t count = 0;
  std::unique_ptr<std::uint32_t[]> argb;
  PixelBuffer rgb;
};

// With a background every channel is composited over it:
//   out = trunc((background / 255 * (1 - alpha / 255) + channel / 255) * 255 + 0.5)
// (double precision, at most 255). Without one red, green and blue are copied
// and a pixel whose alpha is below 250 becomes white.
void ConvertArgbToRgb(const std::uint32_t* argb, std::size_t count,
                      const BackgroundColour& background, unsigned char* rgb);

// Premultiplied ARGB words as straight RGBA bytes, the way the field's
// Python binding hands them out: opaque and fully transparent pixels as they
// are, others divided by their alpha (255 * c / a, truncated).
void ConvertArgbToRgba(const std::uint32_t* argb, std::size_t count, unsigned char* rgba);

// Red, green and blue copied whatever the alpha (associated images).
void CopyArgbColours(const std::uint32_t* argb, std::size_t count, unsigned char* rgb);

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_OPENSLIDE_PIXELS_H_
