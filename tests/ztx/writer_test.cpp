// The writer's output byte by byte: header of each version, property items,
// section records, tile index (plain and compressed), tile streams, pyramid
// levels, BMP and multi-channel tiles, and its refusals.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/ztx/ztx_pyramid_builder.h"
#include "strata/ztx/ztx_writer.h"
#include "support/slide_fixtures.h"

namespace strata::test {
namespace {

using Bytes = std::vector<unsigned char>;

using Pixels = strata::OwnedBuffer;

enum class Layout { k1000, k1100, k1200, k1300 };

Layout LayoutOf(float version) {
  if (version < 1.05f) return Layout::k1000;
  if (version < 1.15f) return Layout::k1100;
  if (version < 1.25f) return Layout::k1200;
  return Layout::k1300;
}

void ExpectZero(const Bytes& bytes, std::size_t from, std::size_t to, const char* what) {
  for (std::size_t i = from; i < to; ++i) {
    EXPECT_EQ(bytes[i], 0) << what << " byte " << i << " is not zero";
  }
}

Bytes Slice(const Bytes& bytes, std::int64_t at, std::int64_t length) {
  EXPECT_GE(at, 0);
  EXPECT_LE(at + length, static_cast<std::int64_t>(bytes.size()));
  if (at < 0 || at + length > static_cast<std::int64_t>(bytes.size())) return {};
  return Bytes(bytes.begin() + at, bytes.begin() + at + length);
}

// The index entry bytes a reader expects for one written tile, built here
// field by field from the format's tables.
Bytes ExpectedEntry(const ztx::WrittenTile& tile, Layout layout) {
  Bytes entry(layout == Layout::k1000 ? 68 : 64, 0);
  auto put32 = [&entry](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) entry[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  put32(4, static_cast<std::uint32_t>(tile.x));
  put32(8, static_cast<std::uint32_t>(tile.y));
  put32(12, static_cast<std::uint32_t>(tile.width));
  put32(16, static_cast<std::uint32_t>(tile.height));
  std::uint32_t scaleBits = 0;
  std::memcpy(&scaleBits, &tile.scale, 4);
  put32(20, scaleBits);
  put32(32, static_cast<std::uint32_t>(tile.length));
  if (layout == Layout::k1000) {
    put32(40, static_cast<std::uint32_t>(tile.offset));
  } else {
    put32(36, static_cast<std::uint32_t>(tile.offset));
    put32(40, static_cast<std::uint32_t>(static_cast<std::uint64_t>(tile.offset) >> 32));
  }
  return entry;
}

// ---------------------------------------------------------------------------
// Header, per version

struct VersionCase {
  float version;
  bool longMagic;
  bool compressIndex;
};

class WriterHeaderTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(WriterHeaderTest, FieldsStandAtTheirVersionsOffsets) {
  const VersionCase param = GetParam();
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = param.version;
  recipe.longMagic = param.longMagic;
  recipe.compressIndex = param.compressIndex;
  recipe.width = 700;
  recipe.height = 500;
  recipe.scanScale = 40;
  recipe.scanTime = 1700000123;
  recipe.spendTimeMs = 3723456;
  recipe.captureResolution = 0.25f;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, recipe, &layout);
  ASSERT_FALSE(path.empty());
  const Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), layout.fileSize);
  const Layout kind = LayoutOf(param.version);

  EXPECT_EQ(ReadU32(bytes, 0), param.compressIndex ? 0xEEEE05F1u : 0xEEEE01F1u);
  EXPECT_EQ(std::memcmp(&bytes[4], param.longMagic ? "ZTXL\0" : "ZTX\0", param.longMagic ? 5 : 4),
            0);
  ExpectZero(bytes, param.longMagic ? 9 : 8, 12, "magic tail");
  EXPECT_EQ(ReadF32(bytes, 12), param.version);
  EXPECT_EQ(ReadI32(bytes, 16), static_cast<std::int32_t>(layout.tiles.size()));
  EXPECT_EQ(ReadI32(bytes, 20), 500);
  EXPECT_EQ(ReadI32(bytes, 24), 700);
  EXPECT_EQ(ReadI32(bytes, 28), 40);
  EXPECT_NE(std::memcmp(&bytes[32], "BMP\0", 4), 0);
  ExpectZero(bytes, 36, 40, "image format tail");

  switch (kind) {
    case Layout::k1000:
      ExpectZero(bytes, 40, 48, "1.0 reserved");
      EXPECT_EQ(ReadI32(bytes, 48), 1700000123);
      ExpectZero(bytes, 52, 60, "1.0 reserved");
      EXPECT_EQ(ReadI32(bytes, 60), layout.previewOffset);
      EXPECT_EQ(ReadI32(bytes, 64), layout.labelOffset);
      EXPECT_EQ(ReadI32(bytes, 68), layout.indexOffset);
      EXPECT_EQ(ReadF32(bytes, 72), 0.25f);
      ExpectZero(bytes, 76, 96, "1.0 reserved");
      EXPECT_EQ(layout.thumbnailOffset, 0);
      break;
    case Layout::k1100:
    case Layout::k1200:
      if (kind == Layout::k1100) {
        EXPECT_EQ(ReadF32(bytes, 40), 3723456.0f);
        double scanTime = 0;
        std::memcpy(&scanTime, &bytes[44], 8);
        EXPECT_EQ(scanTime, 1700000123.0);
      } else {
        EXPECT_EQ(ReadU32(bytes, 40), 3723456u);
        EXPECT_EQ(ReadI64(bytes, 44), 1700000123);
      }
      ExpectZero(bytes, 52, 60, "1.1 reserved");
      EXPECT_EQ(ReadI32(bytes, 60), layout.previewOffset);
      EXPECT_EQ(ReadI32(bytes, 64), layout.labelOffset);
      EXPECT_EQ(ReadI32(bytes, 68), layout.thumbnailOffset);
      EXPECT_EQ(ReadI32(bytes, 72), layout.indexOffset);
      EXPECT_EQ(ReadF32(bytes, 76), 0.25f);
      ExpectZero(bytes, 80, 88, "1.1 reserved");
      EXPECT_EQ(ReadI32(bytes, 88), 256);
      ExpectZero(bytes, 92, 96, "1.1 reserved");
      break;
    case Layout::k1300:
      EXPECT_EQ(ReadU32(bytes, 40), 3723456u);
      EXPECT_EQ(ReadI64(bytes, 44), 1700000123);
      EXPECT_EQ(ReadI32(bytes, 52), layout.previewOffset);
      EXPECT_EQ(ReadI32(bytes, 56), layout.labelOffset);
      EXPECT_EQ(ReadI64(bytes, 60), layout.thumbnailOffset);
      EXPECT_EQ(ReadI64(bytes, 68), layout.indexOffset);
      EXPECT_EQ(ReadF32(bytes, 76), 0.25f);
      ExpectZero(bytes, 80, 88, "1.3 reserved");
      EXPECT_EQ(ReadI32(bytes, 88), 256);
      ExpectZero(bytes, 92, 96, "1.3 reserved");
      break;
  }
  if (kind != Layout::k1000) {
    EXPECT_GT(layout.thumbnailOffset, 0);
  }
  EXPECT_GT(layout.labelOffset, 0);
  // Sections come first, then the index.
  EXPECT_GE(layout.previewOffset, 96);
  EXPECT_GT(layout.indexOffset,
            std::max({layout.previewOffset, layout.labelOffset, layout.thumbnailOffset}));
}

INSTANTIATE_TEST_SUITE_P(
    EveryVersion, WriterHeaderTest,
    ::testing::Values(VersionCase{1.0f, false, false}, VersionCase{1.1f, false, false},
                      VersionCase{1.1f, false, true}, VersionCase{1.2f, false, false},
                      VersionCase{1.2f, false, true}, VersionCase{1.3f, false, false},
                      VersionCase{1.3f, true, true}, VersionCase{1.4f, false, false},
                      VersionCase{1.5f, true, false}, VersionCase{1.6f, false, true},
                      VersionCase{1.7f, false, false}, VersionCase{2.0f, true, false}));

TEST(ZtxWriterHeader, BmpSlidesCarryTheBmpTag) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.encoding = ztx::TileEncoding::kBmp;
  recipe.width = 300;
  recipe.height = 200;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe));
  ASSERT_GE(bytes.size(), 96u);
  EXPECT_EQ(std::memcmp(&bytes[32], "BMP\0\0\0\0\0", 8), 0);
}

// ---------------------------------------------------------------------------
// Property area

TEST(ZtxWriterItems, ItemsFollowTheCountInTheGivenOrderAndEndAtThePreview) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = 1.2f;
  recipe.items = {ztx::PropertyItem::Text(29, "SN-0042"), ztx::PropertyItem::Int(32, 7),
                  ztx::PropertyItem::Int(31, -3), ztx::PropertyItem::Text(77, "")};
  recipe.levelMode = 1;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_GT(bytes.size(), 200u);

  EXPECT_EQ(ReadI32(bytes, 96), 5);  // four given, then item 33 for the level mode
  std::size_t at = 100;
  auto expectItem = [&](int identifier, const Bytes& value) {
    EXPECT_EQ(ReadI32(bytes, at), identifier);
    EXPECT_EQ(ReadI32(bytes, at + 4), static_cast<std::int32_t>(value.size()));
    EXPECT_EQ(
        Slice(bytes, static_cast<std::int64_t>(at + 8), static_cast<std::int64_t>(value.size())),
        value);
    at += 8 + value.size();
  };
  expectItem(29, Bytes{'S', 'N', '-', '0', '0', '4', '2'});
  expectItem(32, Bytes{7, 0, 0, 0});
  expectItem(31, Bytes{0xFD, 0xFF, 0xFF, 0xFF});
  expectItem(77, Bytes{});
  expectItem(33, Bytes{1, 0, 0, 0});
  EXPECT_EQ(static_cast<std::int64_t>(at), layout.previewOffset);
  EXPECT_EQ(ReadI32(bytes, 60), static_cast<std::int32_t>(at));
}

TEST(ZtxWriterItems, AGivenLevelModeItemIsNotDuplicated) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.items = {ztx::PropertyItem::Int(33, 2)};
  recipe.levelMode = 2;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe));
  ASSERT_GT(bytes.size(), 112u);
  EXPECT_EQ(ReadI32(bytes, 96), 1);
  EXPECT_EQ(ReadI32(bytes, 100), 33);
  EXPECT_EQ(ReadI32(bytes, 108), 2);
}

TEST(ZtxWriterItems, VersionsBefore12HaveNoPropertyArea) {
  for (float version : {1.0f, 1.1f}) {
    TempDir dir;
    SlideRecipe recipe;
    recipe.version = version;
    ztx::ZtxLayout layout;
    MakeSlide(dir, recipe, &layout);
    EXPECT_EQ(layout.previewOffset, 96) << version;
  }
}

TEST(ZtxWriterItems, AnEmptyItemListStillWritesTheCount) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = 1.7f;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_GT(bytes.size(), 100u);
  EXPECT_EQ(ReadI32(bytes, 96), 0);
  EXPECT_EQ(layout.previewOffset, 100);
}

// ---------------------------------------------------------------------------
// Associated-image sections

struct SectionCase {
  float version;
  bool withLabel;
  bool withPreview;
  bool withThumbnail;
};

class WriterSectionTest : public ::testing::TestWithParam<SectionCase> {};

void ExpectSection(const Bytes& bytes, std::int64_t position, const ztx::StoredImage& image,
                   Layout layout, bool presenceExpected, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_GT(position, 0);
  const std::size_t at = static_cast<std::size_t>(position);
  ExpectZero(bytes, at, at + 4, "record start");
  EXPECT_EQ(ReadI32(bytes, at + 4), presenceExpected ? 1 : 0);
  EXPECT_EQ(ReadI32(bytes, at + 8), image.height);
  EXPECT_EQ(ReadI32(bytes, at + 12), image.width);
  ExpectZero(bytes, at + 16, at + 20, "record reserved");
  EXPECT_EQ(ReadI32(bytes, at + 20), static_cast<std::int32_t>(image.stream.size()));
  std::int64_t streamPosition = 0;
  if (layout == Layout::k1000) {
    streamPosition = ReadI32(bytes, at + 24);
    ExpectZero(bytes, at + 28, at + 52, "1.0 record tail");
  } else {
    streamPosition = ReadI64(bytes, at + 24);
    ExpectZero(bytes, at + 32, at + 52, "record tail");
  }
  if (image.stream.empty()) return;
  EXPECT_EQ(Slice(bytes, position + streamPosition, static_cast<std::int64_t>(image.stream.size())),
            image.stream);
}

TEST_P(WriterSectionTest, RecordsDescribeTheirStreams) {
  const SectionCase param = GetParam();
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = param.version;
  recipe.withLabel = param.withLabel;
  recipe.withPreview = param.withPreview;
  recipe.withThumbnail = param.withThumbnail;
  const ztx::ZtxWriterOptions options = OptionsFor(recipe);
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_GT(bytes.size(), 96u);
  const Layout kind = LayoutOf(param.version);

  // The preview position also ends the property area, so it always holds a
  // record; an absent preview has presence 0.
  ExpectSection(bytes, layout.previewOffset, options.preview, kind, param.withPreview, "preview");
  if (param.withLabel) {
    ExpectSection(bytes, layout.labelOffset, options.label, kind, true, "label");
  } else {
    EXPECT_EQ(layout.labelOffset, 0);
  }
  if (param.withThumbnail && kind != Layout::k1000) {
    ExpectSection(bytes, layout.thumbnailOffset, options.thumbnail, kind, true, "thumbnail");
  } else {
    EXPECT_EQ(layout.thumbnailOffset, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, WriterSectionTest,
    ::testing::Values(SectionCase{1.0f, true, true, true}, SectionCase{1.0f, false, true, false},
                      SectionCase{1.1f, true, true, true}, SectionCase{1.2f, true, false, true},
                      SectionCase{1.3f, false, false, false}, SectionCase{2.0f, true, true, true},
                      SectionCase{1.5f, true, true, false}));

TEST(ZtxWriterSections, APresenceFlagOfZeroKeepsTheStream) {
  TempDir dir;
  SlideRecipe recipe;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.label.present = false;
  ztx::ZtxLayout layout;
  const Bytes bytes =
      ReadFileBytes(MakeSlideWithOptions(dir, "hidden.ztx", 300, 300, options, &layout));
  ExpectSection(bytes, layout.labelOffset, options.label, Layout::k1300, false, "label");
}

// ---------------------------------------------------------------------------
// Tile index and tile streams

struct IndexCase {
  float version;
  bool compressIndex;
  ztx::TileEncoding encoding;
};

class WriterIndexTest : public ::testing::TestWithParam<IndexCase> {};

Bytes ExpandIndex(const Bytes& bytes, const ztx::ZtxLayout& layout, std::size_t plainBytes) {
  const std::uint32_t compressedLength =
      ReadU32(bytes, static_cast<std::size_t>(layout.indexOffset));
  EXPECT_EQ(layout.indexBytes, 4 + static_cast<std::int64_t>(compressedLength));
  const Bytes compressed = Slice(bytes, layout.indexOffset + 4, compressedLength);
  Bytes plain(plainBytes + 16);
  uLongf plainLength = static_cast<uLongf>(plain.size());
  EXPECT_EQ(uncompress(plain.data(), &plainLength, compressed.data(), compressedLength), Z_OK);
  EXPECT_EQ(plainLength, plainBytes);
  plain.resize(plainLength);
  return plain;
}

TEST_P(WriterIndexTest, EntriesPointAtTheTileStreams) {
  const IndexCase param = GetParam();
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = param.version;
  recipe.compressIndex = param.compressIndex;
  recipe.encoding = param.encoding;
  recipe.width = 900;
  recipe.height = 600;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), layout.fileSize);
  const Layout kind = LayoutOf(param.version);
  const std::size_t entrySize = kind == Layout::k1000 ? 68 : 64;

  // 900 x 600 at 20x: 4 x 3 tiles, 450 x 300 at 10x: 2 x 2, 225 x 150 at 5x: 1.
  ASSERT_EQ(layout.tiles.size(), 17u);
  EXPECT_EQ(ReadI32(bytes, 16), 17);

  Bytes index;
  if (param.compressIndex) {
    index = ExpandIndex(bytes, layout, entrySize * layout.tiles.size());
  } else {
    EXPECT_EQ(layout.indexBytes, static_cast<std::int64_t>(entrySize * layout.tiles.size()));
    index = Slice(bytes, layout.indexOffset, layout.indexBytes);
  }
  ASSERT_EQ(index.size(), entrySize * layout.tiles.size());

  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
  for (std::size_t i = 0; i < layout.tiles.size(); ++i) {
    SCOPED_TRACE(i);
    const ztx::WrittenTile& tile = layout.tiles[i];
    EXPECT_EQ(Bytes(index.begin() + i * entrySize, index.begin() + (i + 1) * entrySize),
              ExpectedEntry(tile, kind));
    EXPECT_EQ(tile.width, 256);
    EXPECT_EQ(tile.height, 256);
    EXPECT_GT(tile.offset, 0);  // tiles follow the index
    const Bytes stream = Slice(bytes, layout.indexOffset + tile.offset, tile.length);
    ASSERT_EQ(static_cast<int>(stream.size()), tile.length);
    int width = 0;
    int height = 0;
    Pixels pixels(param.encoding == ztx::TileEncoding::kBmp
                      ? DecodeBmp24(stream.data(), tile.length, width, height)
                      : DecodeJpeg(stream.data(), tile.length, width, height));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
    ranges.emplace_back(layout.indexOffset + tile.offset, tile.length);
  }
  // Streams do not overlap and the last one ends the file.
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    EXPECT_EQ(ranges[i - 1].first + ranges[i - 1].second, ranges[i].first);
  }
  EXPECT_EQ(ranges.back().first + ranges.back().second, layout.fileSize);
  EXPECT_GE(ranges.front().first, layout.indexOffset + layout.indexBytes);
}

INSTANTIATE_TEST_SUITE_P(Versions, WriterIndexTest,
                         ::testing::Values(IndexCase{1.0f, false, ztx::TileEncoding::kJpeg},
                                           IndexCase{1.0f, false, ztx::TileEncoding::kBmp},
                                           IndexCase{1.1f, false, ztx::TileEncoding::kJpeg},
                                           IndexCase{1.1f, true, ztx::TileEncoding::kJpeg},
                                           IndexCase{1.2f, true, ztx::TileEncoding::kBmp},
                                           IndexCase{1.3f, false, ztx::TileEncoding::kJpeg},
                                           IndexCase{1.6f, true, ztx::TileEncoding::kJpeg},
                                           IndexCase{2.0f, false, ztx::TileEncoding::kBmp}));

TEST(ZtxWriterIndex, TilesAreListedLevelByLevelRowByRow) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = 600;
  recipe.height = 520;
  ztx::ZtxLayout layout;
  MakeSlide(dir, recipe, &layout);
  std::vector<std::tuple<float, int, int>> expected;
  const std::vector<std::pair<float, std::pair<int, int>>> grids = {
      {20.0f, {3, 3}}, {10.0f, {2, 2}}, {5.0f, {1, 1}}};
  for (const auto& [scale, grid] : grids) {
    for (int row = 0; row < grid.second; ++row) {
      for (int column = 0; column < grid.first; ++column) {
        expected.emplace_back(scale, column * 256, row * 256);
      }
    }
  }
  ASSERT_EQ(layout.tiles.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(layout.tiles[i].scale, std::get<0>(expected[i])) << i;
    EXPECT_EQ(layout.tiles[i].x, std::get<1>(expected[i])) << i;
    EXPECT_EQ(layout.tiles[i].y, std::get<2>(expected[i])) << i;
  }
}

TEST(ZtxWriterIndex, CompressedIndexLeavesRoomToExpandInPlace) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.compressIndex = true;
  ztx::ZtxLayout layout;
  MakeSlide(dir, recipe, &layout);
  ASSERT_FALSE(layout.tiles.empty());
  std::int64_t firstTile = layout.fileSize;
  for (const ztx::WrittenTile& tile : layout.tiles) firstTile = std::min(firstTile, tile.offset);
  EXPECT_GE(firstTile, static_cast<std::int64_t>(64 * layout.tiles.size()));
  EXPECT_LT(layout.indexBytes, static_cast<std::int64_t>(64 * layout.tiles.size()));
}

TEST(ZtxWriterIndex, OtherBlockSizesGiveTilesOfThatSize) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = 1.1f;
  recipe.blockSize = 128;
  recipe.width = 300;
  recipe.height = 130;
  recipe.smallestLevel = 128;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_GT(bytes.size(), 96u);
  EXPECT_EQ(ReadI32(bytes, 88), 128);
  // 300 x 130: 3 x 2 tiles; 150 x 65: 2 x 1; 75 x 33: 1.
  ASSERT_EQ(layout.tiles.size(), 9u);
  EXPECT_EQ(layout.tiles[2].x, 256);
  EXPECT_EQ(layout.tiles[3].y, 128);
  for (const ztx::WrittenTile& tile : layout.tiles) {
    EXPECT_EQ(tile.width, 128);
    int width = 0;
    int height = 0;
    const Bytes stream = Slice(bytes, layout.indexOffset + tile.offset, tile.length);
    Pixels pixels(DecodeJpeg(stream.data(), tile.length, width, height));
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 128);
  }
}

// ---------------------------------------------------------------------------
// Pyramid

struct PyramidCase {
  int width;
  int height;
  int levelMode;
  std::vector<float> scales;
};

class WriterPyramidTest : public ::testing::TestWithParam<PyramidCase> {};

TEST_P(WriterPyramidTest, StoresTheLevelsTheReaderExpects) {
  const PyramidCase param = GetParam();
  const std::vector<ztx::PyramidLevel> levels =
      ztx::PlanPyramid(param.width, param.height, 40, 256, param.levelMode, 256);
  std::vector<float> stored;
  for (const ztx::PyramidLevel& level : levels) {
    if (level.stored) stored.push_back(level.scale);
  }
  EXPECT_EQ(stored, param.scales);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WriterPyramidTest,
    ::testing::Values(
        PyramidCase{256, 256, 0, {40.0f}}, PyramidCase{257, 100, 0, {40.0f, 20.0f}},
        PyramidCase{2000, 1200, 0, {40.0f, 20.0f, 10.0f, 5.0f}},
        // Mode 1 leaves out ratios 1/2 and 1/8, mode 2 1/2, 1/4 and 1/8.
        PyramidCase{2000, 1200, 1, {40.0f, 10.0f, 2.5f}}, PyramidCase{2000, 1200, 2, {40.0f, 2.5f}},
        PyramidCase{100000,
                    80000,
                    0,
                    {40.0f, 20.0f, 10.0f, 5.0f, 2.5f, 1.25f, 0.625f, 0.3125f, 0.15625f, 0.078125f}},
        PyramidCase{
            100000, 80000, 1, {40.0f, 10.0f, 2.5f, 1.25f, 0.625f, 0.3125f, 0.15625f, 0.078125f}},
        PyramidCase{100000, 80000, 2, {40.0f, 2.5f, 1.25f, 0.625f, 0.3125f, 0.15625f, 0.078125f}},
        PyramidCase{300, 200, 2, {40.0f, 2.5f}}));

TEST(ZtxWriterPyramid, LevelSizesRoundUpAndTileCountsCoverThem) {
  const std::vector<ztx::PyramidLevel> levels = ztx::PlanPyramid(1001, 513, 20, 256, 0, 256);
  ASSERT_EQ(levels.size(), 3u);
  EXPECT_EQ(levels[1].width, 501);
  EXPECT_EQ(levels[1].height, 257);
  EXPECT_EQ(levels[2].width, 251);
  EXPECT_EQ(levels[2].height, 129);
  EXPECT_EQ(levels[0].columns * levels[0].rows, 4 * 3);
  EXPECT_EQ(levels[1].columns * levels[1].rows, 2 * 2);
  EXPECT_EQ(levels[2].firstEntry, 16);
  EXPECT_EQ(ztx::StoredTileCount(levels), 17);
}

TEST(ZtxWriterPyramid, WrittenLevelModeSlideListsItsStoredScales) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = 1100;
  recipe.height = 600;
  recipe.levelMode = 1;
  ztx::ZtxLayout layout;
  MakeSlide(dir, recipe, &layout);
  // 1100 x 600 (20x), 550 x 300 (10x, left out), 275 x 150 (5x), 138 x 75
  // (2.5x, left out), 69 x 38 (1.25x).
  EXPECT_EQ(layout.levelScales, (std::vector<float>{20.0f, 5.0f, 1.25f}));
  std::set<float> scales;
  for (const ztx::WrittenTile& tile : layout.tiles) scales.insert(tile.scale);
  EXPECT_EQ(scales, (std::set<float>{20.0f, 5.0f, 1.25f}));
  EXPECT_EQ(layout.tiles.size(), 5u * 3u + 2u * 1u + 1u);
}

// ---------------------------------------------------------------------------
// Pixels

// The tile at (x, y) of a level image, white outside it.
Bytes ExpectedTile(const Bytes& level, int levelWidth, int levelHeight, int x, int y, int size) {
  Bytes tile(static_cast<std::size_t>(size) * size * 3, 255);
  for (int row = 0; row < size && y + row < levelHeight; ++row) {
    for (int column = 0; column < size && x + column < levelWidth; ++column) {
      std::memcpy(&tile[(static_cast<std::size_t>(row) * size + column) * 3],
                  &level[(static_cast<std::size_t>(y + row) * levelWidth + x + column) * 3], 3);
    }
  }
  return tile;
}

struct BmpCase {
  int width;
  int height;
  int blockSize;
  std::size_t levels;
};

class WriterBmpPixelsTest : public ::testing::TestWithParam<BmpCase> {};

TEST_P(WriterBmpPixelsTest, TilesOfEveryLevelHoldTheSourcePixelsExactly) {
  const BmpCase param = GetParam();
  TempDir dir;
  SlideRecipe recipe;
  recipe.encoding = ztx::TileEncoding::kBmp;
  recipe.width = param.width;
  recipe.height = param.height;
  recipe.blockSize = param.blockSize;
  recipe.smallestLevel = param.blockSize;
  recipe.version = 1.2f;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_FALSE(layout.tiles.empty());
  EXPECT_EQ(layout.levelScales.size(), param.levels);
  const int size = param.blockSize;
  std::size_t checked = 0;
  for (std::size_t levelIndex = 0; levelIndex < layout.levelScales.size(); ++levelIndex) {
    int levelWidth = 0;
    int levelHeight = 0;
    const Bytes level = ExpectedLevelImage(recipe.width, recipe.height,
                                           static_cast<int>(levelIndex), &levelWidth, &levelHeight);
    for (const ztx::WrittenTile& tile : layout.tiles) {
      if (tile.scale != layout.levelScales[levelIndex]) continue;
      SCOPED_TRACE(testing::Message()
                   << "scale " << tile.scale << " x " << tile.x << " y " << tile.y);
      const Bytes stream = Slice(bytes, layout.indexOffset + tile.offset, tile.length);
      int width = 0;
      int height = 0;
      Pixels pixels(DecodeBmp24(stream.data(), tile.length, width, height));
      ASSERT_NE(pixels, nullptr);
      ASSERT_EQ(width, size);
      ASSERT_EQ(height, size);
      const Bytes decoded(pixels.get(), pixels.get() + static_cast<std::size_t>(size) * size * 3);
      EXPECT_TRUE(decoded == ExpectedTile(level, levelWidth, levelHeight, tile.x, tile.y, size));
      ++checked;
    }
  }
  EXPECT_EQ(checked, layout.tiles.size());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WriterBmpPixelsTest,
    ::testing::Values(BmpCase{601, 299, 256, 3},  // 601 x 299, 301 x 150, 151 x 75
                      BmpCase{512, 512, 256, 2},  // exact multiples
                      BmpCase{255, 257, 256, 2},  // one pixel short and over
                      BmpCase{333, 201, 100, 3},  // bands that do not divide the levels
                      BmpCase{97, 250, 17, 5}));  // odd block size: 250, 125, 63, 32, 16

TEST(ZtxWriterPixels, JpegTilesAreCloseToTheSource) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = 500;
  recipe.height = 300;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  const Bytes base = ExpectedBaseImage(recipe.width, recipe.height);
  ASSERT_FALSE(layout.tiles.empty());
  const ztx::WrittenTile& tile = layout.tiles[1];  // x 256, y 0: right edge padded
  ASSERT_EQ(tile.x, 256);
  const Bytes stream = Slice(bytes, layout.indexOffset + tile.offset, tile.length);
  int width = 0;
  int height = 0;
  Pixels pixels(DecodeJpeg(stream.data(), tile.length, width, height));
  ASSERT_NE(pixels, nullptr);
  const Bytes expected = ExpectedTile(base, recipe.width, recipe.height, 256, 0, 256);
  double error = 0;
  for (std::size_t i = 0; i < expected.size(); ++i)
    error += std::abs(pixels.get()[i] - expected[i]);
  EXPECT_LT(error / static_cast<double>(expected.size()), 4.0);
}

// A JPEG stream ends at its EOI marker; entropy-coded data never holds FF D9.
std::vector<Bytes> SplitJpegStreams(const Bytes& bytes) {
  std::vector<Bytes> streams;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) {
      streams.emplace_back(bytes.begin() + start, bytes.begin() + i + 2);
      start = i + 2;
      ++i;
    }
  }
  if (start != bytes.size()) streams.emplace_back(bytes.begin() + start, bytes.end());
  return streams;
}

class WriterChannelTest : public ::testing::TestWithParam<int> {};

TEST_P(WriterChannelTest, TilesAreOneGreyJpegPerChannel) {
  const int channels = GetParam();
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = 300;
  recipe.height = 260;
  recipe.channelCount = channels;
  recipe.version = 1.4f;
  ztx::ZtxLayout layout;
  const Bytes bytes = ReadFileBytes(MakeSlide(dir, recipe, &layout));
  ASSERT_GT(layout.previewOffset, 100);

  // Items: 40 = channel count, then one name per channel from 49 on.
  EXPECT_EQ(ReadI32(bytes, 96), 1 + channels);
  EXPECT_EQ(ReadI32(bytes, 100), 40);
  EXPECT_EQ(ReadI32(bytes, 108), channels);
  std::size_t at = 112;
  for (int c = 0; c < channels; ++c) {
    EXPECT_EQ(ReadI32(bytes, at), 49 + c);
    const int length = ReadI32(bytes, at + 4);
    EXPECT_GT(length, 0);
    at += 8 + static_cast<std::size_t>(length);
  }
  EXPECT_EQ(static_cast<std::int64_t>(at), layout.previewOffset);

  const Bytes base = ExpectedBaseImage(recipe.width, recipe.height);
  const ztx::WrittenTile& tile = layout.tiles[0];
  const std::vector<Bytes> streams =
      SplitJpegStreams(Slice(bytes, layout.indexOffset + tile.offset, tile.length));
  ASSERT_EQ(static_cast<int>(streams.size()), channels);
  for (int c = 0; c < channels; ++c) {
    SCOPED_TRACE(c + 1);
    int width = 0;
    int height = 0;
    int components = 0;
    Pixels plane(DecodeJpegComponents(streams[static_cast<std::size_t>(c)].data(),
                                      static_cast<int>(streams[static_cast<std::size_t>(c)].size()),
                                      width, height, components));
    ASSERT_NE(plane, nullptr);
    EXPECT_EQ(components, 1);
    ASSERT_EQ(width, 256);
    ASSERT_EQ(height, 256);
    double error = 0;
    for (int y = 0; y < 256; ++y) {
      for (int x = 0; x < 256; ++x) {
        const unsigned char* p = &base[(static_cast<std::size_t>(y) * recipe.width + x) * 3];
        const int r = p[0], g = p[1], b = p[2];
        const int expected[6] = {r, g, b, (r + g) / 2, (g + b) / 2, (r + b) / 2};
        error += std::abs(plane.get()[y * 256 + x] - expected[c]);
      }
    }
    EXPECT_LT(error / (256.0 * 256.0), 4.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, WriterChannelTest, ::testing::Values(1, 3, 6));

TEST(ZtxWriterPixels, ChannelNamesAreWrittenAsGiven) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.channelCount = 2;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.channelNames = {"DAPI", "FITC"};
  const Bytes bytes = ReadFileBytes(MakeSlideWithOptions(dir, "named.ztx", 260, 260, options));
  ASSERT_GT(bytes.size(), 140u);
  EXPECT_EQ(ReadI32(bytes, 112), 49);
  EXPECT_EQ(ReadI32(bytes, 116), 4);
  EXPECT_EQ(std::memcmp(&bytes[120], "DAPI", 4), 0);
  EXPECT_EQ(ReadI32(bytes, 124), 50);
  EXPECT_EQ(std::memcmp(&bytes[132], "FITC", 4), 0);
}

// ---------------------------------------------------------------------------
// Streaming, threads, progress

TEST(ZtxWriterStreaming, PullsTheBaseLevelBandByBand) {
  TempDir dir;
  std::vector<std::pair<int, int>> requests;
  const ztx::RowSource pattern = PatternRowSource(400);
  const ztx::RowSource recording = [&](int top, int rows, unsigned char* rgb) {
    requests.emplace_back(top, rows);
    return pattern(top, rows, rgb);
  };
  ztx::ZtxWriter writer(OptionsFor(SlideRecipe{}));
  std::string error;
  ASSERT_TRUE(writer.Write(dir.File("bands.ztx"), 400, 600, recording, &error)) << error;
  EXPECT_EQ(requests, (std::vector<std::pair<int, int>>{{0, 256}, {256, 256}, {512, 88}}));
}

TEST(ZtxWriterStreaming, OutputIsTheSameWhateverTheThreadCount) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = 1300;
  recipe.height = 700;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.threads = 1;
  const std::string one =
      MakeSlideWithOptions(dir, "one.ztx", recipe.width, recipe.height, options);
  options.threads = 3;
  const std::string three =
      MakeSlideWithOptions(dir, "three.ztx", recipe.width, recipe.height, options);
  EXPECT_EQ(ReadFileBytes(one), ReadFileBytes(three));
}

TEST(ZtxWriterStreaming, ReportsProgressUpToTheTileCount) {
  TempDir dir;
  std::vector<std::int64_t> done;
  std::int64_t total = 0;
  ztx::ZtxWriter writer(OptionsFor(SlideRecipe{}));
  ztx::ZtxLayout layout;
  ASSERT_TRUE(writer.Write(dir.File("p.ztx"), 800, 800, PatternRowSource(800), nullptr, &layout,
                           [&](std::int64_t d, std::int64_t t) {
                             done.push_back(d);
                             total = t;
                           }));
  ASSERT_FALSE(done.empty());
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
  EXPECT_EQ(done.back(), total);
  EXPECT_EQ(total, static_cast<std::int64_t>(layout.tiles.size()));
}

TEST(ZtxWriterStreaming, WritePixelsMatchesARowSource) {
  TempDir dir;
  const Bytes image = ExpectedBaseImage(333, 222);
  ztx::ZtxWriter writer(OptionsFor(SlideRecipe{}));
  ASSERT_TRUE(writer.WritePixels(dir.File("a.ztx"), 333, 222, image.data()));
  ASSERT_TRUE(writer.Write(dir.File("b.ztx"), 333, 222, PatternRowSource(333)));
  EXPECT_EQ(ReadFileBytes(dir.File("a.ztx")), ReadFileBytes(dir.File("b.ztx")));
}

// ---------------------------------------------------------------------------
// Refusals

struct RefusalCase {
  const char* name;
  void (*adjust)(ztx::ZtxWriterOptions&);
  const char* expectedText;
};

class WriterRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(WriterRefusalTest, FailsWithOneLine) {
  const RefusalCase param = GetParam();
  TempDir dir;
  ztx::ZtxWriterOptions options = OptionsFor(SlideRecipe{});
  param.adjust(options);
  ztx::ZtxWriter writer(options);
  std::string error;
  EXPECT_FALSE(writer.Write(dir.File("x.ztx"), 300, 300, PatternRowSource(300), &error));
  EXPECT_NE(error.find(param.expectedText), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.ztx")))
      << "nothing is created for refused options";
}

INSTANTIATE_TEST_SUITE_P(
    Options, WriterRefusalTest,
    ::testing::Values(
        RefusalCase{"CompressedIndexIn10",
                    [](ztx::ZtxWriterOptions& o) {
                      o.version = 1.0f;
                      o.compressIndex = true;
                    },
                    "compressed tile index needs version 1.1"},
        RefusalCase{"UnknownVersion", [](ztx::ZtxWriterOptions& o) { o.version = 1.25f; },
                    "unsupported version"},
        RefusalCase{"Version18", [](ztx::ZtxWriterOptions& o) { o.version = 1.8f; },
                    "unsupported version"},
        RefusalCase{"LongMagicIn12",
                    [](ztx::ZtxWriterOptions& o) {
                      o.version = 1.2f;
                      o.longMagic = true;
                    },
                    "ZTXL"},
        RefusalCase{"ItemsIn11",
                    [](ztx::ZtxWriterOptions& o) {
                      o.version = 1.1f;
                      o.items = {ztx::PropertyItem::Int(32, 1)};
                    },
                    "property items need version 1.2"},
        RefusalCase{"LevelModeIn11",
                    [](ztx::ZtxWriterOptions& o) {
                      o.version = 1.1f;
                      o.levelMode = 1;
                    },
                    "level mode needs version 1.2"},
        RefusalCase{"LevelMode3", [](ztx::ZtxWriterOptions& o) { o.levelMode = 3; },
                    "level mode must be"},
        RefusalCase{"BlockSizeIn10",
                    [](ztx::ZtxWriterOptions& o) {
                      o.version = 1.0f;
                      o.blockSize = 512;
                    },
                    "version 1.0 tiles are 256 pixels"},
        RefusalCase{"TinyBlockSize", [](ztx::ZtxWriterOptions& o) { o.blockSize = 8; },
                    "block size must be"},
        RefusalCase{"SevenChannels", [](ztx::ZtxWriterOptions& o) { o.channelCount = 7; },
                    "channel count"},
        RefusalCase{"BmpChannels",
                    [](ztx::ZtxWriterOptions& o) {
                      o.channelCount = 2;
                      o.encoding = ztx::TileEncoding::kBmp;
                    },
                    "multi-channel tiles are JPEG"},
        RefusalCase{"ChannelsIn11",
                    [](ztx::ZtxWriterOptions& o) {
                      o.channelCount = 2;
                      o.version = 1.1f;
                    },
                    "multi-channel slides need version 1.2"},
        RefusalCase{"QualityZero", [](ztx::ZtxWriterOptions& o) { o.jpegQuality = 0; },
                    "JPEG quality"},
        RefusalCase{"ScanScaleZero", [](ztx::ZtxWriterOptions& o) { o.scanScale = 0; },
                    "scan scale"},
        RefusalCase{"ScanTimeTooLargeFor10",
                    [](ztx::ZtxWriterOptions& o) {
                      o.version = 1.0f;
                      o.scanTime = 5000000000LL;
                    },
                    "scan time"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(ZtxWriterRefusals, UnwritablePathFails) {
  TempDir dir;
  ztx::ZtxWriter writer(OptionsFor(SlideRecipe{}));
  std::string error;
  const std::string path = dir.File("missing-folder/slide.ztx");
  EXPECT_FALSE(writer.Write(path, 300, 300, PatternRowSource(300), &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST(ZtxWriterRefusals, FailingSourceStopsTheWrite) {
  TempDir dir;
  ztx::ZtxWriter writer(OptionsFor(SlideRecipe{}));
  std::string error;
  const ztx::RowSource failing = [](int top, int, unsigned char*) { return top < 256; };
  EXPECT_FALSE(writer.Write(dir.File("f.ztx"), 300, 600, failing, &error));
  EXPECT_NE(error.find("row 256"), std::string::npos) << error;
}

TEST(ZtxWriterRefusals, EmptySlideIsRefused) {
  TempDir dir;
  ztx::ZtxWriter writer(OptionsFor(SlideRecipe{}));
  std::string error;
  EXPECT_FALSE(writer.Write(dir.File("e.ztx"), 0, 100, PatternRowSource(0), &error));
  EXPECT_NE(error.find("size"), std::string::npos) << error;
}

}  // namespace
}  // namespace strata::test
