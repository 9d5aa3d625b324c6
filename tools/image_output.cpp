#include "tools/image_output.h"

#include <cctype>

#include "strata/slide/image_codec.h"
#include "tools/pending_output.h"
#include "tools/png_encoding.h"

namespace strata::tools {
namespace {

constexpr int kJpegQuality = 90;

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = text[text.size() - suffix.size() + i];
    if (std::tolower(static_cast<unsigned char>(c)) != suffix[i]) return false;
  }
  return true;
}

bool WriteOwned(const std::string& path, unsigned char* raw, int length, bool encoded,
                std::string* error) {
  OwnedBuffer owned(raw);
  if (!encoded || owned == nullptr || length <= 0) {
    *error = "cannot encode the picture for " + path;
    return false;
  }
  return WriteOutputFile(path, owned.get(), static_cast<std::size_t>(length), error);
}

}  // namespace

PictureKind PictureKindOf(const std::string& path) {
  if (EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg")) return PictureKind::kJpeg;
  if (EndsWithNoCase(path, ".png")) return PictureKind::kPng;
  if (EndsWithNoCase(path, ".bmp")) return PictureKind::kBmp;
  return PictureKind::kNone;
}

const char* PictureKindName(PictureKind kind) {
  switch (kind) {
    case PictureKind::kJpeg: return "JPEG";
    case PictureKind::kPng: return "PNG";
    case PictureKind::kBmp: return "BMP";
    case PictureKind::kNone: break;
  }
  return "data";
}

PictureKind StreamKindOf(const unsigned char* bytes, std::size_t size) {
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return PictureKind::kJpeg;
  if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return PictureKind::kBmp;
  return PictureKind::kNone;
}

bool WriteEncodedPicture(const std::string& path, const unsigned char* bytes, std::size_t size,
                         std::string* error) {
  const PictureKind stored = StreamKindOf(bytes, size);
  if (stored == PictureKindOf(path)) return WriteOutputFile(path, bytes, size, error);
  int width = 0, height = 0;
  const int length = static_cast<int>(size);
  OwnedBuffer rgb(stored == PictureKind::kJpeg ? DecodeJpeg(bytes, length, width, height)
                                               : DecodeBmp24(bytes, length, width, height));
  if (rgb == nullptr) {
    *error = "the stored picture cannot be decoded to write " + path;
    return false;
  }
  return WritePixelPicture(path, rgb.get(), width, height, error);
}

bool WritePixelPicture(const std::string& path, const unsigned char* rgb, int width, int height,
                       std::string* error) {
  unsigned char* raw = nullptr;
  int length = 0;
  switch (PictureKindOf(path)) {
    case PictureKind::kJpeg: {
      const bool encoded = EncodeJpegWithQuality(rgb, width, height, 3, kJpegQuality, &raw, length);
      return WriteOwned(path, raw, length, encoded, error);
    }
    case PictureKind::kBmp: {
      const bool encoded = EncodeBmp24(rgb, width, height, &raw, length);
      return WriteOwned(path, raw, length, encoded, error);
    }
    case PictureKind::kPng: {
      std::string png;
      return EncodePngBytes(rgb, width, height, &png, error) &&
             WriteOutputFile(path, reinterpret_cast<const unsigned char*>(png.data()), png.size(),
                             error);
    }
    case PictureKind::kNone: break;
  }
  *error = path + ": the name must end in .jpg, .jpeg, .png or .bmp";
  return false;
}

}  // namespace strata::tools
