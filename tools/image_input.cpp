#include "tools/image_input.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "strata/slide/image_codec.h"
#include "strata/slide/system.h"

namespace strata::tools {
namespace {

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error) {
  const std::int64_t size = system::FileSize(path);
  errno = 0;
  system::OwnedStream stream(system::OpenStream(path.c_str(), "rb"));
  if (stream == nullptr || size < 0) {
    *error = "cannot read " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    return false;
  }
  if (static_cast<std::uint64_t>(size) > kMaxBufferBytes) {
    *error = path + " is too large to convert";
    return false;
  }
  bytes->resize(static_cast<std::size_t>(size));
  if (size > 0 && std::fread(bytes->data(), 1, bytes->size(), stream.get()) != bytes->size()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

bool DecodePng(const std::vector<unsigned char>& bytes, const std::string& path, RgbImage* image,
               std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    *error = path + ": not a readable PNG (" + png.message + ")";
    return false;
  }
  png.format = PNG_FORMAT_RGB;
  std::size_t size = 0;
  if (!CheckedPixelBytes(png.width, png.height, 3, size)) {
    png_image_free(&png);
    *error = path + ": picture too large to convert";
    return false;
  }
  image->width = static_cast<int>(png.width);
  image->height = static_cast<int>(png.height);
  image->pixels.resize(size);
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&png, &white, image->pixels.data(), 0, nullptr)) {
    *error = path + ": damaged PNG (" + png.message + ")";
    png_image_free(&png);
    return false;
  }
  return true;
}

bool DecodeJpegFile(const std::vector<unsigned char>& bytes, const std::string& path,
                    RgbImage* image, std::string* error) {
  int width = 0, height = 0, components = 0;
  OwnedBuffer decoded(DecodeJpegComponents(bytes.data(), static_cast<int>(bytes.size()), width,
                                           height, components));
  if (decoded == nullptr || (components != 1 && components != 3)) {
    *error = path + ": not a readable JPEG";
    return false;
  }
  image->width = width;
  image->height = height;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  image->pixels.resize(pixels * 3);
  for (std::size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 3; ++c) {
      image->pixels[i * 3 + static_cast<std::size_t>(c)] =
          decoded.get()[components == 1 ? i : i * 3 + static_cast<std::size_t>(c)];
    }
  }
  return true;
}

}  // namespace

bool ReadPictureFile(const std::string& path, RgbImage* image, std::string* error) {
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0) {
    return DecodePng(bytes, path, image, error);
  }
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
    return DecodeJpegFile(bytes, path, image, error);
  }
  *error = path + " is neither a PNG nor a JPEG picture";
  return false;
}

}  // namespace strata::tools
