// Multi-channel slides: the six-flag channel choice, stream boundaries found
// from the JPEG structure, tiles and regions built from channel planes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "strata/model/image_codec.h"
#include "strata/ztx/ztx_channel_streams.h"
#include "support/slide_fixtures.h"
#include "ztx/reader_test_util.h"

namespace strata::test {
namespace {

// ---- the channel choice ----

struct Choice {
  std::array<bool, 6> flags;
  std::array<int, 3> places;
};

class ChannelChoiceTest : public ::testing::TestWithParam<Choice> {};

TEST_P(ChannelChoiceTest, FillsPlacesInFlagOrder) {
  const Choice c = GetParam();
  EXPECT_EQ(ztx::SelectChannelPlaces(c.flags.data()), c.places);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ChannelChoiceTest,
    ::testing::Values(Choice{{true, true, true, false, false, false}, {1, 2, 3}},
                      Choice{{false, false, false, false, false, false}, {0, 0, 0}},
                      Choice{{true, false, false, true, true, true}, {1, 4, 5}},
                      Choice{{false, false, false, true, true, true}, {4, 5, 6}},
                      Choice{{true, true, true, true, true, true}, {1, 2, 3}},
                      Choice{{false, true, false, false, false, true}, {2, 6, 0}},
                      Choice{{true, true, false, false, true, true}, {1, 2, 5}},
                      Choice{{false, false, true, false, false, false}, {3, 0, 0}}));

// ---- stream boundaries ----

std::vector<unsigned char> GreyJpeg(int width, int height, unsigned char base) {
  std::vector<unsigned char> plane(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < plane.size(); ++i)
    plane[i] = static_cast<unsigned char>(base + i % 7);
  unsigned char* raw = nullptr;
  int length = 0;
  EXPECT_TRUE(EncodeJpegWithQuality(plane.data(), width, height, 1, 90, &raw, length));
  LibraryBytes owned(raw);
  return std::vector<unsigned char>(raw, raw + length);
}

TEST(JpegStreamTest, EndsAtTheEndOfImageMarker) {
  std::vector<unsigned char> stream = GreyJpeg(40, 30, 10);
  const std::size_t length = stream.size();
  stream.insert(stream.end(), {0x12, 0x34, 0xFF, 0xD9});
  EXPECT_EQ(ztx::JpegStreamLength(stream.data(), stream.size()), length);
}

TEST(JpegStreamTest, EndMarkerInsideASegmentPayloadDoesNotEndTheStream) {
  std::vector<unsigned char> stream = GreyJpeg(40, 30, 10);
  // An application segment right after SOI whose payload holds FF D9.
  const std::vector<unsigned char> app = {0xFF, 0xE5, 0x00, 0x08, 'x', 0xFF, 0xD9, 0xFF, 0xD9, 0};
  stream.insert(stream.begin() + 2, app.begin(), app.end());
  EXPECT_EQ(ztx::JpegStreamLength(stream.data(), stream.size()), stream.size());
}

TEST(JpegStreamTest, StuffedBytesAndRestartMarkersStayInTheScan) {
  const std::vector<unsigned char> stream = {
      0xFF, 0xD8,                          // SOI
      0xFF, 0xDA, 0x00, 0x03, 0x01,        // SOS with a one-byte header
      0x11, 0xFF, 0x00, 0x22, 0xFF, 0xD0,  // scan data, stuffed FF, RST0
      0x33, 0xFF, 0xFF, 0xD9,              // fill byte, then EOI
      0xAA};
  EXPECT_EQ(ztx::JpegStreamLength(stream.data(), stream.size()), stream.size() - 1);
}

struct BrokenStream {
  std::vector<unsigned char> bytes;
};

class BrokenStreamTest : public ::testing::TestWithParam<BrokenStream> {};

TEST_P(BrokenStreamTest, HasNoLength) {
  const std::vector<unsigned char>& bytes = GetParam().bytes;
  EXPECT_EQ(ztx::JpegStreamLength(bytes.data(), bytes.size()), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, BrokenStreamTest,
    ::testing::Values(BrokenStream{{}}, BrokenStream{{0xFF, 0xD8}},
                      BrokenStream{{0x00, 0xD8, 0xFF, 0xD9}},
                      BrokenStream{{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x40, 0x01}},  // segment past end
                      BrokenStream{{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9}},  // length 1
                      BrokenStream{{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x11, 0xFF}},  // no EOI
                      BrokenStream{{0xFF, 0xD8, 0x12, 0xFF, 0xD9}}));  // junk between segments

TEST(JpegStreamTest, SplitsConcatenatedChannelStreams) {
  const std::vector<unsigned char> a = GreyJpeg(16, 16, 1);
  const std::vector<unsigned char> b = GreyJpeg(16, 16, 100);
  const std::vector<unsigned char> c = GreyJpeg(20, 8, 200);
  std::vector<unsigned char> all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.end());
  std::int32_t lengths[ztx::kChannelStreamCount];
  ASSERT_EQ(ztx::SplitChannelStreams(all.data(), all.size(), lengths), 3);
  EXPECT_EQ(lengths[0], static_cast<std::int32_t>(a.size()));
  EXPECT_EQ(lengths[1], static_cast<std::int32_t>(b.size()));
  EXPECT_EQ(lengths[2], static_cast<std::int32_t>(c.size()));
  EXPECT_EQ(lengths[3], 0);
  // A damaged third stream leaves the first two.
  all.resize(a.size() + b.size() + c.size() / 2);
  EXPECT_EQ(ztx::SplitChannelStreams(all.data(), all.size(), lengths), 2);
  EXPECT_EQ(lengths[2], 0);
}

// ---- tiles and regions of a multi-channel slide ----

// Channel c of a pixel as the writer derives it: R, G, B, (R+G)/2, (G+B)/2, (R+B)/2.
int ChannelValue(const Rgb& p, int channel) {
  switch (channel) {
    case 1: return p[0];
    case 2: return p[1];
    case 3: return p[2];
    case 4: return (p[0] + p[1]) / 2;
    case 5: return (p[1] + p[2]) / 2;
    case 6: return (p[0] + p[2]) / 2;
    default: return 0;
  }
}

class ChannelSlideTest : public ::testing::Test {
 protected:
  void Open(int channelCount) {
    SlideRecipe recipe;
    recipe.channelCount = channelCount;
    recipe.width = 600;
    recipe.height = 400;
    path_ = MakeSlide(dir_, recipe);
    int result = -1;
    slide_ = reader::OpenLoaded(path_, &result);
    ASSERT_EQ(result, 0);
  }

  std::vector<unsigned char> Tile(int x, int y, const std::array<bool, 6>& f, int* width,
                                  int* height) {
    unsigned char* raw = AllocateBuffer(256 * 256 * 3);
    int length = 0;
    slide_->ReadTileChannels(20.0f, x, y, length, &raw, f[0], f[1], f[2], f[3], f[4], f[5]);
    LibraryBytes stream(raw);
    EXPECT_NE(raw, nullptr);
    if (raw == nullptr) return {};
    std::vector<unsigned char> pixels = DecodeToPixels(raw, length, width, height);
    EXPECT_FALSE(pixels.empty());
    return pixels;
  }

  // Mean absolute difference of each output colour from the expected channel.
  static std::array<double, 3> MeanError(const std::vector<unsigned char>& pixels, int width,
                                         int height, int left, int top,
                                         const std::array<int, 3>& places) {
    std::array<double, 3> error = {0, 0, 0};
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const Rgb base = ExpectedBasePixel(left + x, top + y);
        for (int k = 0; k < 3; ++k) {
          const int expected = places[k] == 0 ? 0 : ChannelValue(base, places[k]);
          error[k] +=
              std::abs(pixels[(static_cast<std::size_t>(y) * width + x) * 3 + k] - expected);
        }
      }
    }
    for (double& e : error) e /= static_cast<double>(width) * height;
    return error;
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<CZTXDataFile> slide_;
};

struct TileChoice {
  std::array<bool, 6> flags;
  std::array<int, 3> places;
};

class ChannelTileTest : public ChannelSlideTest,
                        public ::testing::WithParamInterface<TileChoice> {};

TEST_P(ChannelTileTest, ColoursComeFromTheChosenChannels) {
  Open(6);
  const TileChoice c = GetParam();
  int width = 0;
  int height = 0;
  const std::vector<unsigned char> pixels = Tile(256, 0, c.flags, &width, &height);
  ASSERT_EQ(width, 256);
  ASSERT_EQ(height, 256);
  const std::array<double, 3> error = MeanError(pixels, width, height, 256, 0, c.places);
  for (int k = 0; k < 3; ++k) EXPECT_LT(error[k], 4.0) << "colour " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ChannelTileTest,
    ::testing::Values(TileChoice{{true, true, true, false, false, false}, {1, 2, 3}},
                      TileChoice{{true, false, false, false, false, true}, {1, 6, 0}},
                      TileChoice{{false, false, false, true, true, true}, {4, 5, 6}},
                      TileChoice{{false, true, false, true, false, false}, {2, 4, 0}}));

TEST_F(ChannelSlideTest, FlagsBeyondThreeChosenAreIgnored) {
  Open(6);
  int w = 0;
  int h = 0;
  const std::vector<unsigned char> three =
      Tile(0, 0, {true, true, true, false, false, false}, &w, &h);
  const std::vector<unsigned char> all = Tile(0, 0, {true, true, true, true, true, true}, &w, &h);
  EXPECT_EQ(three, all);
}

TEST_F(ChannelSlideTest, AbsentChannelGivesZero) {
  Open(3);  // channels 4-6 are not stored
  int width = 0;
  int height = 0;
  const std::vector<unsigned char> pixels =
      Tile(0, 256, {true, false, false, false, true, false}, &width, &height);
  ASSERT_EQ(width, 256);
  const std::array<double, 3> error = MeanError(pixels, width, 144, 0, 256, {1, 0, 0});
  EXPECT_LT(error[0], 4.0);
  EXPECT_LT(error[1], 2.0);
  EXPECT_LT(error[2], 2.0);
}

TEST_F(ChannelSlideTest, MissingTileConsumesTheBuffer) {
  Open(3);
  unsigned char* raw = AllocateBuffer(100);
  int length = 9;
  slide_->ReadTileChannels(20.0f, 100, 0, length, &raw, true, true, true, false, false, false);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(length, 0);
}

TEST_F(ChannelSlideTest, RegionIsComposedFromChannelPlanes) {
  Open(6);
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_EQ(slide_->ReadRegionChannels(20.0f, 200, 100, 300, 250, &raw, length, false, false, false,
                                       true, true, false, false),
            1);
  LibraryBytes owned(raw);
  ASSERT_EQ(length, 300 * 250 * 3);
  const std::vector<unsigned char> pixels(raw, raw + length);
  const std::array<double, 3> error = MeanError(pixels, 300, 250, 200, 100, {3, 4, 0});
  for (int k = 0; k < 3; ++k) EXPECT_LT(error[k], 4.0) << "colour " << k;
}

TEST_F(ChannelSlideTest, EncodedChannelRegionIsAJpeg) {
  Open(6);
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_EQ(slide_->ReadRegionChannels(10.0f, -20, 0, 200, 150, &raw, length, true, true, true,
                                       true, false, false, false),
            1);
  LibraryBytes owned(raw);
  int width = 0;
  int height = 0;
  LibraryBytes pixels(DecodeJpeg(raw, length, width, height));
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, 200);
  EXPECT_EQ(height, 150);
  // Left of the slide stays white.
  EXPECT_GT(pixels.get()[0], 240);
}

TEST_F(ChannelSlideTest, AdjustedChannelTileKeepsOnlyTheFirstThreeFlags) {
  Open(3);
  unsigned char* raw = nullptr;
  int length = 0;
  // Contrast 0: every kept colour becomes (int)(0.6 * 255) = 153.
  slide_->ReadTileAdjustedChannels(20.0f, 0, 0, length, &raw, 1.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f,
                                   false, true, false, true, true, true);
  LibraryBytes owned(raw);
  ASSERT_NE(raw, nullptr);
  int width = 0;
  int height = 0;
  LibraryBytes pixels(DecodeJpeg(raw, length, width, height));
  ASSERT_NE(pixels, nullptr);
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
    ASSERT_LE(pixels.get()[i * 3], 2);
    ASSERT_LE(std::abs(pixels.get()[i * 3 + 1] - 153), 2);
    ASSERT_LE(pixels.get()[i * 3 + 2], 2);
  }
}

}  // namespace
}  // namespace strata::test
