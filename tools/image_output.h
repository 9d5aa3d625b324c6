// Pictures written by the command line, in the encoding their file name's
// suffix asks for (.jpg/.jpeg, .png, .bmp); other names are refused before
// any work is done.
#ifndef STRATA_TOOLS_IMAGE_OUTPUT_H_
#define STRATA_TOOLS_IMAGE_OUTPUT_H_

#include <cstddef>
#include <string>

namespace strata::tools {

enum class PictureKind { kNone, kJpeg, kPng, kBmp };

// The encoding a file name asks for; kNone for any other suffix.
PictureKind PictureKindOf(const std::string& path);
const char* PictureKindName(PictureKind kind);
// The kind of an encoded stream by its first bytes (kNone: neither JPEG nor BMP).
PictureKind StreamKindOf(const unsigned char* bytes, std::size_t size);

// Writes an encoded picture (JPEG or BMP stream) to `path`: unchanged when
// the name asks for its encoding, else decoded and encoded as asked.
bool WriteEncodedPicture(const std::string& path, const unsigned char* bytes, std::size_t size,
                         std::string* error);
// Writes RGB pixels encoded as the name asks.
bool WritePixelPicture(const std::string& path, const unsigned char* rgb, int width, int height,
                       std::string* error);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_IMAGE_OUTPUT_H_
