// What tests hold while they drive the library: a slide handle closed on
// every way out, library buffers released by type, and stream decoding to
// pixels.
#ifndef STRATA_TESTS_SUPPORT_SLIDE_OWNERS_H_
#define STRATA_TESTS_SUPPORT_SLIDE_OWNERS_H_

#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/strata.h"

namespace strata::test {

// A buffer the library handed out.
using LibraryBytes = OwnedBuffer;

// A handle opened through the exports (or filled by the test) and closed with
// UnInitImageFileFunc when the owner goes.
struct OpenHandle {
  OpenHandle() = default;
  explicit OpenHandle(const std::string& path) {
    opened = InitImageFileFunc(&handle, path.c_str());
  }
  ~OpenHandle() {
    if (handle.slide != nullptr) UnInitImageFileFunc(&handle);
  }
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;

  IMAGE_INFO_STRUCT handle{};
  bool opened = false;
};

// RGB pixels of a JPEG stream (width * height * 3 bytes, sizes through the
// pointers); empty when it does not decode.
std::vector<unsigned char> DecodeToPixels(const unsigned char* stream, int length, int* width,
                                          int* height);

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_SLIDE_OWNERS_H_
