#include "strata/model/image_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <jpeglib.h>

#include "strata/model/image_buffer.h"

namespace {

using Buffer = strata::OwnedBuffer;

// Smooth colour picture whose rows and columns all differ, so that a row or
// channel put in the wrong place shows up as a large error.
std::vector<unsigned char> TestPicture(int width, int height, int components) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * components);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * components];
      p[0] = static_cast<unsigned char>(128 + 100 * std::sin(y / 13.0));
      if (components == 3) {
        p[1] = static_cast<unsigned char>(128 + 100 * std::cos(x / 17.0));
        p[2] = static_cast<unsigned char>(128 + 60 * std::sin((x + 2 * y) / 23.0));
      }
    }
  }
  return pixels;
}

double MeanAbsoluteDifference(const unsigned char* a, const unsigned char* b, std::size_t n) {
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += std::abs(static_cast<int>(a[i]) - b[i]);
  return sum / static_cast<double>(n);
}

std::vector<unsigned char> EncodeToVector(const std::vector<unsigned char>& pixels, int width,
                                          int height) {
  unsigned char* stream = nullptr;
  int length = 0;
  EXPECT_EQ(strata::EncodeJpeg(pixels.data(), static_cast<int>(pixels.size()), &stream, length,
                               width, height),
            0);
  if (stream == nullptr) return {};
  std::vector<unsigned char> bytes(stream, stream + length);
  strata::ReleaseBuffer(stream);
  return bytes;
}

struct PictureSize {
  int width;
  int height;
};

class JpegRoundTripTest : public ::testing::TestWithParam<PictureSize> {};

TEST_P(JpegRoundTripTest, DecodedPictureMatchesTheEncodedOne) {
  const int width = GetParam().width;
  const int height = GetParam().height;
  const std::vector<unsigned char> pixels = TestPicture(width, height, 3);
  const std::vector<unsigned char> stream = EncodeToVector(pixels, width, height);
  ASSERT_GT(stream.size(), 4u);
  EXPECT_EQ(stream[0], 0xFF);
  EXPECT_EQ(stream[1], 0xD8);
  int decodedWidth = 0;
  int decodedHeight = 0;
  int components = 0;
  Buffer decoded(strata::DecodeJpegComponents(stream.data(), static_cast<int>(stream.size()),
                                              decodedWidth, decodedHeight, components));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decodedWidth, width);
  EXPECT_EQ(decodedHeight, height);
  EXPECT_EQ(components, 3);
  EXPECT_LT(MeanAbsoluteDifference(decoded.get(), pixels.data(), pixels.size()), 4.0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegRoundTripTest,
                         ::testing::Values(PictureSize{256, 256}, PictureSize{67, 45},
                                           PictureSize{2, 300}, PictureSize{301, 3}));

TEST(JpegTest, DecodeJpegReportsSizeAndRgbPixels) {
  const std::vector<unsigned char> pixels = TestPicture(40, 24, 3);
  const std::vector<unsigned char> stream = EncodeToVector(pixels, 40, 24);
  int width = 0;
  int height = 0;
  Buffer decoded(strata::DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(width, 40);
  EXPECT_EQ(height, 24);
  EXPECT_LT(MeanAbsoluteDifference(decoded.get(), pixels.data(), pixels.size()), 4.0);
}

TEST(JpegTest, GreyPicturesEncodeAndDecodeWithOneComponent) {
  const std::vector<unsigned char> pixels = TestPicture(50, 33, 1);
  unsigned char* stream = nullptr;
  int length = 0;
  ASSERT_TRUE(strata::EncodeJpegWithQuality(pixels.data(), 50, 33, 1, 95, &stream, length));
  Buffer owned(stream);
  int width = 0, height = 0, components = 0;
  Buffer decoded(strata::DecodeJpegComponents(stream, length, width, height, components));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(components, 1);
  EXPECT_EQ(width, 50);
  EXPECT_EQ(height, 33);
  EXPECT_LT(MeanAbsoluteDifference(decoded.get(), pixels.data(), pixels.size()), 2.0);
}

TEST(JpegTest, HigherQualityGivesCloserPixels) {
  const std::vector<unsigned char> pixels = TestPicture(64, 64, 3);
  double previous = 1e9;
  for (int quality : {20, 75, 100}) {
    unsigned char* stream = nullptr;
    int length = 0;
    ASSERT_TRUE(strata::EncodeJpegWithQuality(pixels.data(), 64, 64, 3, quality, &stream, length));
    Buffer owned(stream);
    int width = 0, height = 0;
    Buffer decoded(strata::DecodeJpeg(stream, length, width, height));
    ASSERT_NE(decoded, nullptr);
    const double error = MeanAbsoluteDifference(decoded.get(), pixels.data(), pixels.size());
    EXPECT_LT(error, previous) << quality;
    previous = error;
  }
}

TEST(JpegTest, EncodeRefusesBadInputAndLeavesOutputsUntouched) {
  const std::vector<unsigned char> pixels = TestPicture(8, 8, 3);
  unsigned char sentinel = 0;
  unsigned char* stream = &sentinel;
  int length = -5;
  const int bytes = static_cast<int>(pixels.size());
  EXPECT_EQ(strata::EncodeJpeg(nullptr, bytes, &stream, length, 8, 8), 0);
  EXPECT_EQ(strata::EncodeJpeg(pixels.data(), bytes, &stream, length, 0, 8), 0);
  EXPECT_EQ(strata::EncodeJpeg(pixels.data(), bytes, &stream, length, 8, -1), 0);
  EXPECT_EQ(strata::EncodeJpeg(pixels.data(), bytes - 1, &stream, length, 8, 8), 0);
  EXPECT_EQ(strata::EncodeJpeg(pixels.data(), bytes, nullptr, length, 8, 8), 0);
  // Wider than a JPEG frame can be: the encoder's own error path.
  std::vector<unsigned char> wide(70000 * 3, 100);
  EXPECT_EQ(
      strata::EncodeJpeg(wide.data(), static_cast<int>(wide.size()), &stream, length, 70000, 1), 0);
  EXPECT_EQ(stream, &sentinel);
  EXPECT_EQ(length, -5);
  EXPECT_FALSE(strata::EncodeJpegWithQuality(pixels.data(), 8, 8, 2, 75, &stream, length));
  EXPECT_FALSE(strata::EncodeJpegWithQuality(pixels.data(), 8, 8, 3, 0, &stream, length));
  EXPECT_FALSE(strata::EncodeJpegWithQuality(pixels.data(), 8, 8, 3, 101, &stream, length));
  EXPECT_FALSE(strata::EncodeJpegWithQuality(wide.data(), 70000, 1, 3, 75, &stream, length));
  EXPECT_EQ(stream, &sentinel);
  EXPECT_EQ(length, -5);
}

TEST(JpegTest, DecodeRefusesNullAndEmptyStreams) {
  const std::vector<unsigned char> stream = EncodeToVector(TestPicture(16, 16, 3), 16, 16);
  int width = -1, height = -1;
  EXPECT_EQ(strata::DecodeJpeg(nullptr, 100, width, height), nullptr);
  EXPECT_EQ(strata::DecodeJpeg(stream.data(), 0, width, height), nullptr);
  EXPECT_EQ(strata::DecodeJpeg(stream.data(), -4, width, height), nullptr);
  EXPECT_EQ(width, -1);
  EXPECT_EQ(height, -1);
}

class TruncatedJpegTest : public ::testing::TestWithParam<double> {};

TEST_P(TruncatedJpegTest, TruncatedStreamGivesNull) {
  const std::vector<unsigned char> stream = EncodeToVector(TestPicture(96, 80, 3), 96, 80);
  const int kept = static_cast<int>(static_cast<double>(stream.size()) * GetParam());
  ASSERT_LT(kept, static_cast<int>(stream.size()));
  int width = 0, height = 0;
  EXPECT_EQ(strata::DecodeJpeg(stream.data(), kept, width, height), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Fractions, TruncatedJpegTest,
                         ::testing::Values(0.01, 0.1, 0.3, 0.5, 0.9, 0.99));

TEST(JpegTest, RandomBytesGiveNull) {
  std::mt19937 generator(1234);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 50; ++round) {
    std::vector<unsigned char> noise(64 + round * 37);
    for (unsigned char& b : noise) b = static_cast<unsigned char>(byte(generator));
    if (round % 2 == 0) {  // half of them start like a JPEG stream
      noise[0] = 0xFF;
      noise[1] = 0xD8;
    }
    int width = 0, height = 0;
    unsigned char* decoded =
        strata::DecodeJpeg(noise.data(), static_cast<int>(noise.size()), width, height);
    EXPECT_EQ(decoded, nullptr) << round;
    strata::ReleaseBuffer(decoded);
  }
}

TEST(JpegTest, CorruptedStreamsNeverCrash) {
  const std::vector<unsigned char> original = EncodeToVector(TestPicture(64, 48, 3), 64, 48);
  std::mt19937 generator(99);
  for (int round = 0; round < 60; ++round) {
    std::vector<unsigned char> stream = original;
    for (int flips = 0; flips < 8; ++flips) {
      stream[generator() % stream.size()] = static_cast<unsigned char>(generator());
    }
    int width = 0, height = 0;
    unsigned char* decoded =
        strata::DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height);
    if (decoded != nullptr) {
      // Whatever decodes must be a whole picture of the reported size.
      EXPECT_GT(width, 0);
      EXPECT_GT(height, 0);
      strata::ReleaseBuffer(decoded);
    }
  }
}

// Frame size bytes of the first baseline frame header (SOF0).
std::size_t FrameHeaderOffset(const std::vector<unsigned char>& stream) {
  for (std::size_t i = 2; i + 9 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == 0xC0) return i;
  }
  return 0;
}

TEST(JpegTest, HugeClaimedFrameGivesNull) {
  std::vector<unsigned char> stream = EncodeToVector(TestPicture(16, 16, 3), 16, 16);
  const std::size_t frame = FrameHeaderOffset(stream);
  ASSERT_NE(frame, 0u);
  for (std::size_t at : {frame + 5, frame + 7}) {  // height, width: 65000
    stream[at] = 0xFD;
    stream[at + 1] = 0xE8;
  }
  int width = 0, height = 0;
  EXPECT_EQ(strata::DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height),
            nullptr);
}

TEST(JpegTest, ZeroSizedFrameGivesNull) {
  std::vector<unsigned char> stream = EncodeToVector(TestPicture(16, 16, 3), 16, 16);
  const std::size_t frame = FrameHeaderOffset(stream);
  ASSERT_NE(frame, 0u);
  stream[frame + 7] = 0;
  stream[frame + 8] = 0;
  int width = 0, height = 0;
  EXPECT_EQ(strata::DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height),
            nullptr);
}

// A four-component (CMYK) stream made with the library directly.
std::vector<unsigned char> CmykStream() {
  jpeg_compress_struct coder{};
  jpeg_error_mgr errors{};
  coder.err = jpeg_std_error(&errors);
  jpeg_create_compress(&coder);
  unsigned char* out = nullptr;
  unsigned long outLength = 0;
  jpeg_mem_dest(&coder, &out, &outLength);
  coder.image_width = 16;
  coder.image_height = 16;
  coder.input_components = 4;
  coder.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&coder);
  jpeg_start_compress(&coder, TRUE);
  std::vector<unsigned char> row(16 * 4, 90);
  while (coder.next_scanline < coder.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&coder, rows, 1);
  }
  jpeg_finish_compress(&coder);
  jpeg_destroy_compress(&coder);
  std::vector<unsigned char> bytes(out, out + outLength);
  std::free(out);
  return bytes;
}

TEST(JpegTest, StreamsWithOtherThanOneOrThreeComponentsGiveNull) {
  const std::vector<unsigned char> stream = CmykStream();
  ASSERT_FALSE(stream.empty());
  int width = 0, height = 0, components = 0;
  EXPECT_EQ(strata::DecodeJpegComponents(stream.data(), static_cast<int>(stream.size()), width,
                                         height, components),
            nullptr);
}

// --- BMP ---

void PutLittleEndian32(std::vector<unsigned char>& bytes, std::size_t at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// 3 x 2 picture: the bottom row is stored first, every pixel blue-green-red.
std::vector<unsigned char> HandBuiltBmp() {
  std::vector<unsigned char> bmp(54, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutLittleEndian32(bmp, 2, 54 + 18);
  PutLittleEndian32(bmp, 10, 54);
  PutLittleEndian32(bmp, 14, 40);
  PutLittleEndian32(bmp, 18, 3);
  PutLittleEndian32(bmp, 22, 2);
  bmp[26] = 1;
  bmp[28] = 24;
  const unsigned char bottomRow[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const unsigned char topRow[9] = {10, 11, 12, 13, 14, 15, 16, 17, 18};
  bmp.insert(bmp.end(), bottomRow, bottomRow + 9);
  bmp.insert(bmp.end(), topRow, topRow + 9);
  return bmp;
}

const std::vector<unsigned char> kHandBuiltRgbTopDown = {12, 11, 10, 15, 14, 13, 18, 17, 16,
                                                         3,  2,  1,  6,  5,  4,  9,  8,  7};

TEST(BmpTest, DecodeTurnsRowsTopDownAndSwapsBlueAndRed) {
  const std::vector<unsigned char> bmp = HandBuiltBmp();
  int width = 0, height = 0;
  Buffer pixels(strata::DecodeBmp24(bmp.data(), static_cast<int>(bmp.size()), width, height));
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, 3);
  EXPECT_EQ(height, 2);
  EXPECT_EQ(std::vector<unsigned char>(pixels.get(), pixels.get() + 18), kHandBuiltRgbTopDown);
}

TEST(BmpTest, EncodeWritesTheLayoutDecodeReads) {
  unsigned char* stream = nullptr;
  int length = 0;
  ASSERT_TRUE(strata::EncodeBmp24(kHandBuiltRgbTopDown.data(), 3, 2, &stream, length));
  Buffer owned(stream);
  const std::vector<unsigned char> expected = HandBuiltBmp();
  ASSERT_EQ(length, static_cast<int>(expected.size()));
  // Signature, sizes and the pixel rows agree byte for byte.
  for (std::size_t at : {0, 1, 2, 3, 10, 18, 19, 22, 26, 28}) {
    EXPECT_EQ(stream[at], expected[at]) << at;
  }
  EXPECT_EQ(std::vector<unsigned char>(stream + 54, stream + length),
            std::vector<unsigned char>(expected.begin() + 54, expected.end()));
}

TEST(BmpTest, EncodeThenDecodeIsExact) {
  const std::vector<unsigned char> pixels = TestPicture(37, 11, 3);
  unsigned char* stream = nullptr;
  int length = 0;
  ASSERT_TRUE(strata::EncodeBmp24(pixels.data(), 37, 11, &stream, length));
  Buffer owned(stream);
  EXPECT_EQ(length, 54 + 37 * 11 * 3);
  int width = 0, height = 0;
  Buffer decoded(strata::DecodeBmp24(stream, length, width, height));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(decoded.get(), decoded.get() + pixels.size()), pixels);
}

TEST(BmpTest, EncodeRefusesBadInput) {
  const std::vector<unsigned char> pixels = TestPicture(4, 4, 3);
  unsigned char* stream = nullptr;
  int length = 0;
  EXPECT_FALSE(strata::EncodeBmp24(nullptr, 4, 4, &stream, length));
  EXPECT_FALSE(strata::EncodeBmp24(pixels.data(), 0, 4, &stream, length));
  EXPECT_FALSE(strata::EncodeBmp24(pixels.data(), 4, -4, &stream, length));
  EXPECT_FALSE(strata::EncodeBmp24(pixels.data(), 4, 4, nullptr, length));
  EXPECT_EQ(stream, nullptr);
}

struct HostileBmp {
  const char* name;
  std::int32_t width;
  std::int32_t height;
  int lengthChange;  // bytes added to (or removed from) the matching length
};

class HostileBmpTest : public ::testing::TestWithParam<HostileBmp> {};

TEST_P(HostileBmpTest, GivesNull) {
  std::vector<unsigned char> bmp = HandBuiltBmp();
  PutLittleEndian32(bmp, 18, GetParam().width);
  PutLittleEndian32(bmp, 22, GetParam().height);
  if (GetParam().lengthChange > 0) bmp.resize(bmp.size() + GetParam().lengthChange, 0);
  if (GetParam().lengthChange < 0) bmp.resize(bmp.size() + GetParam().lengthChange);
  int width = -1, height = -1;
  EXPECT_EQ(strata::DecodeBmp24(bmp.data(), static_cast<int>(bmp.size()), width, height), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileBmpTest,
    ::testing::Values(HostileBmp{"HugeWidth", 0x7fffffff, 2, 0},
                      HostileBmp{"NegativeHeight", 3, -2, 0}, HostileBmp{"NegativeWidth", -3, 2, 0},
                      HostileBmp{"BothNegative", -3, -2, 0},
                      // 65536 * 65536 * 3 wraps to 0 in 32 bits; the stream is 72 bytes.
                      HostileBmp{"ProductWrapsIn32Bits", 65536, 65536, 0},
                      HostileBmp{"ProductWrapsToTheStreamSize", 0x40000000, 0x40000000, 0},
                      HostileBmp{"OneByteTooMany", 3, 2, 1}, HostileBmp{"OneByteTooFew", 3, 2, -1},
                      HostileBmp{"RowPadding", 3, 2, 2}, HostileBmp{"ZeroWidth", 0, 2, 0},
                      HostileBmp{"ZeroHeight", 3, 0, 0}),
    [](const ::testing::TestParamInfo<HostileBmp>& info) { return info.param.name; });

TEST(BmpTest, ShortOrNullStreamsGiveNull) {
  const std::vector<unsigned char> bmp = HandBuiltBmp();
  int width = 0, height = 0;
  EXPECT_EQ(strata::DecodeBmp24(nullptr, 72, width, height), nullptr);
  EXPECT_EQ(strata::DecodeBmp24(bmp.data(), 0, width, height), nullptr);
  EXPECT_EQ(strata::DecodeBmp24(bmp.data(), -72, width, height), nullptr);
  for (int length : {1, 20, 25, 53}) {
    EXPECT_EQ(strata::DecodeBmp24(bmp.data(), length, width, height), nullptr) << length;
  }
}

TEST(BmpTest, HeaderOnlyStreamWithZeroPixelsGivesNull) {
  std::vector<unsigned char> bmp = HandBuiltBmp();
  bmp.resize(54);
  PutLittleEndian32(bmp, 18, 0);
  PutLittleEndian32(bmp, 22, 0);
  int width = 0, height = 0;
  EXPECT_EQ(strata::DecodeBmp24(bmp.data(), 54, width, height), nullptr);
}

TEST(FormatTagTest, OnlyBmpFollowedByZeroNamesBmp) {
  EXPECT_TRUE(strata::IsBmpFormatTag("BMP\0\0\0\0\0"));
  EXPECT_TRUE(strata::IsBmpFormatTag("BMP\0JUNK"));
  EXPECT_FALSE(strata::IsBmpFormatTag("BMPX\0\0\0\0"));
  EXPECT_FALSE(strata::IsBmpFormatTag("JPEG\0\0\0\0"));
  EXPECT_FALSE(strata::IsBmpFormatTag("bmp\0\0\0\0\0"));
  EXPECT_FALSE(strata::IsBmpFormatTag(nullptr));
}

}  // namespace
