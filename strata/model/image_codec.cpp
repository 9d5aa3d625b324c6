// Placeholder: JPEG and BMP routines land here.
#include "strata/model/image_codec.h"

#include <cstring>

namespace strata {

int EncodeJpeg(const unsigned char*, int, unsigned char**, int&, int, int) { return 0; }
bool EncodeJpegWithQuality(const unsigned char*, int, int, int, int, unsigned char**, int&) {
  return false;
}
unsigned char* DecodeJpeg(const unsigned char*, int, int&, int&) { return nullptr; }
unsigned char* DecodeJpegComponents(const unsigned char*, int, int&, int&, int&) {
  return nullptr;
}
unsigned char* DecodeBmp24(const unsigned char*, int, int&, int&) { return nullptr; }
bool EncodeBmp24(const unsigned char*, int, int, unsigned char**, int&) { return false; }
bool IsBmpFormatTag(const char* tag) { return tag != nullptr && std::memcmp(tag, "BMP\0", 4) == 0; }

}  // namespace strata
