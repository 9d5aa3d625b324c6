// Crop, bilinear resize (exact rounding rule), plane interleaving and pasting.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/pixel_ops.h"

namespace strata {
namespace {

using Owned = strata::OwnedBuffer;

// Grey pixels (all three channels equal) from values.
std::vector<unsigned char> Grey(const std::vector<int>& values) {
  std::vector<unsigned char> rgb;
  for (int v : values) rgb.insert(rgb.end(), 3, static_cast<unsigned char>(v));
  return rgb;
}

std::vector<int> FirstChannel(const unsigned char* rgb, int count) {
  std::vector<int> values;
  for (int i = 0; i < count; ++i) values.push_back(rgb[i * 3]);
  return values;
}

struct ResizeCase {
  const char* name;
  std::vector<int> source;
  int sw, sh, dw, dh;
  std::vector<int> expected;
};

class ResizeTest : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(ResizeTest, FollowsTheSamplingRule) {
  const ResizeCase& c = GetParam();
  const std::vector<unsigned char> source = Grey(c.source);
  Owned out(ResizeBilinear(source.data(), c.sw, c.sh, c.dw, c.dh));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(FirstChannel(out.get(), c.dw * c.dh), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResizeTest,
    ::testing::Values(
        // x = 0.5 * j; past the last column the last one repeats.
        ResizeCase{"Enlarge", {0, 100}, 2, 1, 4, 1, {0, 50, 100, 100}},
        // x = 2/3: 66.67 truncates to 66 (rounding would give 67).
        ResizeCase{"Truncates", {0, 100}, 2, 1, 3, 1, {0, 66, 100}},
        // Halving samples even positions exactly (fraction 0).
        ResizeCase{"Halve", {10, 20, 30, 40, 50, 60, 70, 80}, 4, 2, 2, 1, {10, 30}},
        // Both fractions 0.5: (0 + 100 + 200 + 50) / 4 = 87.5 -> 87.
        ResizeCase{"TwoAxes",
                   {0, 100, 200, 50},
                   2,
                   2,
                   4,
                   4,
                   {0, 50, 100, 100, 100, 87, 75, 75, 200, 125, 50, 50, 200, 125, 50, 50}},
        ResizeCase{"SamePixels", {1, 2, 3, 4, 5, 6}, 3, 2, 3, 2, {1, 2, 3, 4, 5, 6}},
        ResizeCase{"OnePixel", {77}, 1, 1, 3, 2, {77, 77, 77, 77, 77, 77}}),
    [](const ::testing::TestParamInfo<ResizeCase>& info) { return std::string(info.param.name); });

TEST(ResizeTest, EqualSizeCopiesEveryByte) {
  std::vector<unsigned char> source(37 * 23 * 3);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31);
  Owned out(ResizeBilinear(source.data(), 37, 23, 37, 23));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(out.get(), out.get() + source.size()), source);
}

TEST(ResizeTest, ChannelsAreSampledSeparately) {
  const std::vector<unsigned char> source = {255, 0, 10, 0, 255, 20};
  Owned out(ResizeBilinear(source.data(), 2, 1, 4, 1));
  ASSERT_NE(out, nullptr);
  const std::vector<unsigned char> expected = {255, 0, 10, 127, 127, 15, 0, 255, 20, 0, 255, 20};
  EXPECT_EQ(std::vector<unsigned char>(out.get(), out.get() + 12), expected);
}

TEST(ResizeTest, ExtremeEnlargementStaysInsideTheSource) {
  const std::vector<unsigned char> source = Grey({9});
  Owned out(ResizeBilinear(source.data(), 1, 1, 20000, 1));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out.get()[3 * 19999], 9);
}

TEST(ResizeTest, InvalidSizesGiveNull) {
  const std::vector<unsigned char> source = Grey({1, 2, 3, 4});
  EXPECT_EQ(ResizeBilinear(source.data(), 2, 2, 0, 3), nullptr);
  EXPECT_EQ(ResizeBilinear(source.data(), 2, 2, 3, -1), nullptr);
  EXPECT_EQ(ResizeBilinear(source.data(), 0, 2, 3, 3), nullptr);
  EXPECT_EQ(ResizeBilinear(nullptr, 2, 2, 3, 3), nullptr);
  EXPECT_EQ(ResizeBilinear(source.data(), 2, 2, 0x7fffffff, 0x7fffffff), nullptr);
}

TEST(CropTest, CopiesTheWindowAndWhitensWhatLiesOutside) {
  // 3 x 2 canvas with values 1..6.
  const std::vector<unsigned char> canvas = Grey({1, 2, 3, 4, 5, 6});
  Owned inside(CropPixels(canvas.data(), 3, 2, 1, 0, 2, 2));
  ASSERT_NE(inside, nullptr);
  EXPECT_EQ(FirstChannel(inside.get(), 4), (std::vector<int>{2, 3, 5, 6}));
  Owned across(CropPixels(canvas.data(), 3, 2, -1, 1, 3, 2));
  ASSERT_NE(across, nullptr);
  EXPECT_EQ(FirstChannel(across.get(), 6), (std::vector<int>{255, 4, 5, 255, 255, 255}));
  EXPECT_EQ(CropPixels(canvas.data(), 3, 2, 0, 0, 0, 1), nullptr);
}

TEST(InterleaveTest, AbsentPlanesGiveZero) {
  const std::vector<unsigned char> red = {1, 2, 3, 4};
  const std::vector<unsigned char> blue = {9, 8, 7, 6};
  Owned out(InterleavePlanes(red.data(), nullptr, blue.data(), 2, 2));
  ASSERT_NE(out, nullptr);
  const std::vector<unsigned char> expected = {1, 0, 9, 2, 0, 8, 3, 0, 7, 4, 0, 6};
  EXPECT_EQ(std::vector<unsigned char>(out.get(), out.get() + 12), expected);
  EXPECT_EQ(InterleavePlanes(red.data(), nullptr, nullptr, 0, 2), nullptr);
}

TEST(PasteTest, ClipsToTheCanvas) {
  std::vector<unsigned char> canvas = Grey({0, 0, 0, 0, 0, 0, 0, 0, 0});  // 3 x 3
  const std::vector<unsigned char> block = Grey({1, 2, 3, 4});            // 2 x 2
  PastePixels(canvas.data(), 3, 3, block.data(), 2, 2, 2, -1);
  EXPECT_EQ(FirstChannel(canvas.data(), 9), (std::vector<int>{0, 0, 3, 0, 0, 0, 0, 0, 0}));
  PastePixels(canvas.data(), 3, 3, block.data(), 2, 2, -1, 2);
  EXPECT_EQ(FirstChannel(canvas.data(), 9), (std::vector<int>{0, 0, 3, 0, 0, 0, 2, 0, 0}));
  PastePixels(canvas.data(), 3, 3, block.data(), 2, 2, 0x7ffffff0, 0);  // far away: nothing
  PastePixels(canvas.data(), 3, 3, block.data(), 2, 2, -0x7ffffff0, 0);
  EXPECT_EQ(FirstChannel(canvas.data(), 9), (std::vector<int>{0, 0, 3, 0, 0, 0, 2, 0, 0}));
}

TEST(MemoryTest, AvailableMemoryIsReported) { EXPECT_GT(AvailableMemoryBytes(), 0u); }

}  // namespace
}  // namespace strata
