#include "tools/png_encoding.h"

#include <png.h>

#include <cstring>

namespace strata::tools {

bool EncodePngBytes(const unsigned char* rgb, int width, int height, std::string* out,
                    std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (png_image_write_get_memory_size(png, size, 0, rgb, 0, nullptr)) {
    out->assign(size, '\0');
    if (png_image_write_to_memory(&png, &(*out)[0], &size, 0, rgb, 0, nullptr)) {
      out->resize(size);
      return true;
    }
  }
  if (error != nullptr) *error = std::string("cannot encode PNG: ") + png.message;
  return false;
}

}  // namespace strata::tools
