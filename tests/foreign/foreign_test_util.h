// Shared by the foreign adapter tests: a slide opened through the exports,
// buffers taken from the library, and the stand-ins' bookkeeping.
#ifndef STRATA_TESTS_FOREIGN_FOREIGN_TEST_UTIL_H_
#define STRATA_TESTS_FOREIGN_FOREIGN_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/image_codec.h"
#include "strata/strata.h"
#include "support/standin_libraries.h"

namespace strata::test {

// A buffer the library handed out, released with DeleteImageDataFunc.
struct ExportBufferRelease {
  void operator()(unsigned char* buffer) const { DeleteImageDataFunc(buffer); }
};
using ExportBuffer = std::unique_ptr<unsigned char, ExportBufferRelease>;

inline std::vector<unsigned char> Bytes(const unsigned char* data, int length) {
  return data == nullptr || length <= 0 ? std::vector<unsigned char>()
                                        : std::vector<unsigned char>(data, data + length);
}

// The JPEG stream the library makes of `bytes` bytes of width x height RGB
// pixels; empty when encoding fails.
inline std::vector<unsigned char> EncodeLikeLibrary(const unsigned char* rgb, std::size_t bytes,
                                                    int width, int height) {
  unsigned char* stream = nullptr;
  int length = 0;
  EncodeJpeg(rgb, static_cast<int>(bytes), &stream, length, width, height);
  ExportBuffer owned(stream);
  return Bytes(stream, length);
}

inline std::vector<unsigned char> EncodeLikeLibrary(const std::vector<unsigned char>& rgb,
                                                    int width, int height) {
  return EncodeLikeLibrary(rgb.data(), rgb.size(), width, height);
}

// A tile stream through the exports (which return null in every case); empty
// when there is no tile.
inline std::vector<unsigned char> TileStream(IMAGE_INFO_STRUCT& handle, float scale, int x, int y) {
  unsigned char* buffer = nullptr;
  int length = 0;
  EXPECT_EQ(GetImageStreamFunc(&handle, scale, x, y, &length, &buffer), nullptr);
  ExportBuffer owned(buffer);
  return Bytes(buffer, length);
}

// A slide handle closed when the object goes away.
class OpenSlide {
 public:
  explicit OpenSlide(const std::string& path) {
    opened_ = InitImageFileFunc(&handle_, path.c_str());
  }
  ~OpenSlide() { UnInitImageFileFunc(&handle_); }
  OpenSlide(const OpenSlide&) = delete;
  OpenSlide& operator=(const OpenSlide&) = delete;

  bool opened() const { return opened_; }
  IMAGE_INFO_STRUCT& handle() { return handle_; }

 private:
  IMAGE_INFO_STRUCT handle_{};
  bool opened_ = false;
};

// Every buffer the stand-in handed out went back to it exactly once.
inline void ExpectLedgerBalanced(const StandinProbe& probe) {
  const BufferLedger ledger = probe.Ledger();
  EXPECT_EQ(ledger.outstanding, 0);
  EXPECT_EQ(ledger.returned, ledger.handedOut);
  EXPECT_EQ(ledger.strayReturns, 0);
}

}  // namespace strata::test

#endif  // STRATA_TESTS_FOREIGN_FOREIGN_TEST_UTIL_H_
