// The six-number tile adjustment: neutral parameters, the table's values,
// its cache, masking of colour channels and hostile parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "strata/model/image_codec.h"
#include "strata/model/lookup_table.h"
#include "support/slide_fixtures.h"
#include "ztx/reader_test_util.h"

namespace strata::test {
namespace {

struct Params {
  float p[6];
};

// The table written out from its definition, independently of the library.
std::vector<std::array<int, 3>> ExpectedTable(const Params& params) {
  std::vector<std::array<int, 3>> table(256);
  const float contrast = params.p[1] > 0.0f ? params.p[1] : 0.0f;
  for (int i = 0; i < 256; ++i) {
    for (int k = 0; k < 3; ++k) {
      float v =
          (static_cast<float>(i) / 255.0f - 0.5f) * contrast + 0.5f + params.p[2] + params.p[3 + k];
      if (v < 0.0f) v = 0.0f;
      if (v > 1.0f) v = 1.0f;
      const double powered =
          std::pow(std::fabs(static_cast<double>(v)), 1.0 / static_cast<double>(params.p[0]));
      const int entry = static_cast<int>(powered * 255.0);
      table[i][k] = std::min(255, std::max(0, entry));
    }
  }
  return table;
}

class LutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.encoding = ztx::TileEncoding::kBmp;
    path_ = MakeSlide(dir_, recipe, &layout_);
    int result = -1;
    slide_ = reader::OpenLoaded(path_, &result);
    ASSERT_EQ(result, 0);
  }

  std::vector<unsigned char> StoredTile(float scale, int x, int y) const {
    const std::vector<unsigned char> file = ReadFileBytes(path_);
    for (const ztx::WrittenTile& t : layout_.tiles) {
      if (t.scale == scale && t.x == x && t.y == y) {
        const std::size_t at = static_cast<std::size_t>(layout_.indexOffset + t.offset);
        return std::vector<unsigned char>(file.begin() + at, file.begin() + at + t.length);
      }
    }
    ADD_FAILURE() << "no stored tile";
    return {};
  }

  // The adjusted tile decoded to pixels.
  std::vector<unsigned char> Adjusted(const Params& params, int* width, int* height,
                                      const bool* keep = nullptr) {
    unsigned char* raw = nullptr;
    int length = 0;
    const float* p = params.p;
    if (keep == nullptr) {
      slide_->ReadTileAdjusted(20.0f, 256, 0, length, &raw, p[0], p[1], p[2], p[3], p[4], p[5]);
    } else {
      slide_->ReadTileAdjustedChannels(20.0f, 256, 0, length, &raw, p[0], p[1], p[2], p[3], p[4],
                                       p[5], keep[0], keep[1], keep[2], true, true, true);
    }
    LibraryBytes stream(raw);
    EXPECT_NE(raw, nullptr);
    if (raw == nullptr) return {};
    std::vector<unsigned char> pixels = DecodeToPixels(raw, length, width, height);
    EXPECT_FALSE(pixels.empty());
    return pixels;
  }

  TempDir dir_;
  std::string path_;
  ztx::ZtxLayout layout_;
  std::unique_ptr<CZTXDataFile> slide_;
};

TEST_F(LutTest, NeutralParametersReturnTheStoredStreamIntoTheCallersBuffer) {
  const std::vector<unsigned char> stored = StoredTile(20.0f, 256, 0);
  unsigned char* buffer = AllocateBuffer(256 * 256 * 3 + 54);
  unsigned char* raw = buffer;
  int length = 0;
  slide_->ReadTileAdjusted(20.0f, 256, 0, length, &raw, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f);
  LibraryBytes owned(raw);
  EXPECT_EQ(raw, buffer);
  ASSERT_EQ(length, static_cast<int>(stored.size()));
  EXPECT_EQ(std::memcmp(raw, stored.data(), stored.size()), 0);
}

TEST_F(LutTest, NeutralParametersWithoutABufferAllocateOne) {
  const std::vector<unsigned char> stored = StoredTile(20.0f, 0, 256);
  unsigned char* raw = nullptr;
  int length = 0;
  // Within 1e-5 of 1.0 counts as neutral.
  slide_->ReadTileAdjusted(20.0f, 0, 256, length, &raw, 1.000001f, 0.999999f, 1.0f, 1.0f, 1.0f,
                           1.0f);
  LibraryBytes owned(raw);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(raw, raw + length), stored);
}

TEST_F(LutTest, AdjustedPixelsFollowTheTable) {
  const std::vector<unsigned char> stored = StoredTile(20.0f, 256, 0);
  int sw = 0;
  int sh = 0;
  LibraryBytes original(DecodeBmp24(stored.data(), static_cast<int>(stored.size()), sw, sh));
  ASSERT_NE(original, nullptr);
  const Params params = {{0.8f, 1.3f, 0.05f, 0.0f, -0.1f, 0.1f}};
  const auto table = ExpectedTable(params);
  int width = 0;
  int height = 0;
  const std::vector<unsigned char> adjusted = Adjusted(params, &width, &height);
  ASSERT_EQ(width, sw);
  ASSERT_EQ(height, sh);
  double error = 0.0;
  for (std::size_t i = 0; i < adjusted.size(); ++i) {
    error += std::abs(adjusted[i] - table[original.get()[i]][i % 3]);
  }
  // Only the JPEG encoding of the result separates it from the table.
  EXPECT_LT(error / adjusted.size(), 3.0);
}

TEST_F(LutTest, FlatTableGivesFlatColour) {
  // Contrast 0 maps every input to one value per channel.
  const Params params = {{1.0f, 0.0f, 0.0f, 0.2f, -0.3f, 0.5f}};
  const auto table = ExpectedTable(params);
  ASSERT_EQ(table[0][0], 178);  // (int)(0.7 * 255)
  int width = 0;
  int height = 0;
  const std::vector<unsigned char> adjusted = Adjusted(params, &width, &height);
  ASSERT_FALSE(adjusted.empty());
  for (std::size_t i = 0; i < adjusted.size(); ++i) {
    ASSERT_LE(std::abs(adjusted[i] - table[0][i % 3]), 1) << i;
  }
}

TEST_F(LutTest, TableIsRebuiltWhenTheParametersChange) {
  const Params a = {{0.5f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f}};
  const Params b = {{2.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f}};
  int w = 0;
  int h = 0;
  const std::vector<unsigned char> first = Adjusted(a, &w, &h);
  const std::vector<unsigned char> second = Adjusted(b, &w, &h);
  const std::vector<unsigned char> third = Adjusted(a, &w, &h);
  EXPECT_NE(first, second);
  EXPECT_EQ(first, third);
  // Gamma 0.5 squares values, gamma 2 takes roots: the first is darker.
  double sumFirst = 0.0;
  double sumSecond = 0.0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    sumFirst += first[i];
    sumSecond += second[i];
  }
  EXPECT_LT(sumFirst, sumSecond);
}

TEST_F(LutTest, ChannelFlagsBlankTheColoursThatAreOff) {
  const Params params = {{1.0f, 0.0f, 0.0f, 0.2f, 0.2f, 0.2f}};
  const bool keep[3] = {true, false, true};
  int width = 0;
  int height = 0;
  const std::vector<unsigned char> adjusted = Adjusted(params, &width, &height, keep);
  ASSERT_FALSE(adjusted.empty());
  const int expected = ExpectedTable(params)[0][0];
  for (std::size_t i = 0; i < adjusted.size(); i += 3) {
    ASSERT_LE(std::abs(adjusted[i] - expected), 2);
    ASSERT_LE(adjusted[i + 1], 2);
    ASSERT_LE(std::abs(adjusted[i + 2] - expected), 2);
  }
}

TEST_F(LutTest, MissingTileConsumesTheBufferAndReportsNothing) {
  unsigned char* raw = AllocateBuffer(64);
  int length = 5;
  slide_->ReadTileAdjusted(20.0f, 128, 0, length, &raw, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(length, 0);
  raw = AllocateBuffer(64);
  slide_->ReadTileAdjusted(20.0f, 128, 0, length, &raw, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(length, 0);
}

class HostileParamsTest : public LutTest, public ::testing::WithParamInterface<Params> {};

TEST_P(HostileParamsTest, GiveAWellDefinedTile) {
  int width = 0;
  int height = 0;
  const std::vector<unsigned char> adjusted = Adjusted(GetParam(), &width, &height);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);
  int table[256][3];
  const Params params = GetParam();
  BuildLookupTable(params.p, table);
  for (int i = 0; i < 256; ++i) {
    for (int k = 0; k < 3; ++k) {
      ASSERT_GE(table[i][k], 0);
      ASSERT_LE(table[i][k], 255);
    }
  }
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(Params, HostileParamsTest,
                         ::testing::Values(Params{{0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f}},
                                           Params{{-1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f}},
                                           Params{{kNaN, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f}},
                                           Params{{1.0f, kNaN, kNaN, 0.0f, 0.0f, 0.0f}},
                                           Params{{1.0f, kInf, -kInf, kInf, 0.0f, 0.0f}},
                                           Params{{1e-30f, -5.0f, 0.0f, 0.0f, 0.0f, 0.0f}}));

TEST(LookupTableTest, NeutralTestUsesTheTolerance) {
  const float neutral[6] = {1.0f, 1.0f, 1.000009f, 1.0f, 0.999995f, 1.0f};
  const float changed[6] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0001f};
  EXPECT_TRUE(IsNeutralAdjustment(neutral));
  EXPECT_FALSE(IsNeutralAdjustment(changed));
}

TEST(LookupTableTest, MatchesTheDefinitionEntryByEntry) {
  const Params params = {{1.7f, 0.6f, -0.1f, 0.05f, 0.0f, -0.2f}};
  int table[256][3];
  BuildLookupTable(params.p, table);
  const auto expected = ExpectedTable(params);
  for (int i = 0; i < 256; ++i) {
    for (int k = 0; k < 3; ++k) ASSERT_EQ(table[i][k], expected[i][k]) << i << "," << k;
  }
}

}  // namespace
}  // namespace strata::test
