// Decoding a JPEG straight into a window of a larger image.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"

namespace strata {
namespace {

using Owned = strata::OwnedBuffer;

std::vector<unsigned char> Encoded(int width, int height, int components) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * components);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<unsigned char>(i * 13 % 251);
  unsigned char* raw = nullptr;
  int length = 0;
  EXPECT_TRUE(EncodeJpegWithQuality(pixels.data(), width, height, components, 85, &raw, length));
  Owned owned(raw);
  return std::vector<unsigned char>(raw, raw + length);
}

TEST(DecodeJpegIntoTest, WritesTheDecodedRowsIntoTheWindowOnly) {
  const std::vector<unsigned char> stream = Encoded(40, 24, 3);
  int width = 0;
  int height = 0;
  Owned plain(DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height));
  ASSERT_NE(plain, nullptr);
  const int canvasWidth = 50;
  std::vector<unsigned char> canvas(static_cast<std::size_t>(canvasWidth) * 30 * 3, 7);
  unsigned char* window = canvas.data() + (3 * canvasWidth + 5) * 3;
  ASSERT_TRUE(DecodeJpegInto(stream.data(), static_cast<int>(stream.size()), 40, 24, window,
                             canvasWidth * 3));
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < canvasWidth; ++x) {
      const bool inside = x >= 5 && x < 45 && y >= 3 && y < 27;
      for (int k = 0; k < 3; ++k) {
        const unsigned char got = canvas[(static_cast<std::size_t>(y) * canvasWidth + x) * 3 + k];
        const unsigned char expected = inside ? plain.get()[((y - 3) * 40 + (x - 5)) * 3 + k] : 7;
        ASSERT_EQ(got, expected) << x << "," << y;
      }
    }
  }
}

TEST(DecodeJpegIntoTest, RefusesStreamsThatDoNotFitTheWindow) {
  const std::vector<unsigned char> colour = Encoded(16, 16, 3);
  const std::vector<unsigned char> grey = Encoded(16, 16, 1);
  std::vector<unsigned char> canvas(64 * 64 * 3, 0);
  const int size = static_cast<int>(colour.size());
  EXPECT_FALSE(DecodeJpegInto(colour.data(), size, 16, 8, canvas.data(), 64 * 3));  // other size
  EXPECT_FALSE(DecodeJpegInto(colour.data(), size, 17, 16, canvas.data(), 64 * 3));
  EXPECT_FALSE(DecodeJpegInto(grey.data(), static_cast<int>(grey.size()), 16, 16, canvas.data(),
                              64 * 3));  // not colour
  EXPECT_FALSE(DecodeJpegInto(colour.data(), size, 16, 16, canvas.data(), 16 * 3 - 1));  // stride
  EXPECT_FALSE(DecodeJpegInto(colour.data(), size / 2, 16, 16, canvas.data(), 64 * 3));  // cut
  EXPECT_FALSE(DecodeJpegInto(nullptr, size, 16, 16, canvas.data(), 64 * 3));
  EXPECT_FALSE(DecodeJpegInto(colour.data(), size, 16, 16, nullptr, 64 * 3));
  EXPECT_TRUE(DecodeJpegInto(colour.data(), size, 16, 16, canvas.data(), 64 * 3));
}

}  // namespace
}  // namespace strata
