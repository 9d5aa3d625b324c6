#include "support/slide_owners.h"

#include "strata/model/image_codec.h"

namespace strata::test {

std::vector<unsigned char> DecodeToPixels(const unsigned char* stream, int length, int* width,
                                          int* height) {
  if (stream == nullptr || length <= 0) return {};
  LibraryBytes pixels(DecodeJpeg(stream, length, *width, *height));
  if (pixels == nullptr) return {};
  return std::vector<unsigned char>(pixels.get(),
                                    pixels.get() + static_cast<std::size_t>(*width) * *height * 3);
}

}  // namespace strata::test
