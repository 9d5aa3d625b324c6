// The tile index: entry layouts of the two block classes, keys, plain and
// compressed indexes, duplicate keys, lookups, source-scale selection and
// block loads.
#include "strata/ztx/ztx_tile_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

Bytes Deflate(const Bytes& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes packed(size);
  EXPECT_EQ(compress(packed.data(), &size, plain.data(), static_cast<uLong>(plain.size())), Z_OK);
  packed.resize(size);
  return packed;
}

Bytes Stream(std::size_t size, unsigned char seed) {
  Bytes stream(size);
  for (std::size_t i = 0; i < size; ++i) stream[i] = static_cast<unsigned char>(seed + i * 7);
  return stream;
}

void Attach(ByteBuffer& buffer, const Bytes& bytes) {
  auto* storage = new unsigned char[bytes.size()];
  std::memcpy(storage, bytes.data(), bytes.size());
  buffer.Attach(storage, bytes.size());
}

Bytes TileBytes(CZTXDataFile& slide, float scale, int x, int y, int* length) {
  *length = -5;
  slide.ReadTileStream(scale, x, y, *length, nullptr);
  if (*length <= 0) return {};
  Bytes bytes(static_cast<std::size_t>(*length), 0xAB);
  unsigned char* out = bytes.data();
  slide.ReadTileStream(scale, x, y, *length, &out);
  bytes.resize(static_cast<std::size_t>(*length > 0 ? *length : 0));
  return bytes;
}

// --- block classes ---

TEST(TileBlockTest, Version10EntriesAre68BytesWithSignExtendedPosition) {
  HandSlide slide;
  slide.version = 1.0f;
  slide.tiles = {{20.0f, 256, 512, 256, 200, Bytes(5)}, {10.0f, 0, 256, 128, 256, Bytes(9)}};
  slide.tileOffsets = {-16, 0x7FFFFFF0};
  ByteBuffer buffer;
  Attach(buffer, slide.Entries());
  ASSERT_EQ(buffer.Filled(), 136u);
  CZTXDataBlock block;
  ASSERT_EQ(block.ReadEntry(&buffer), 0);
  EXPECT_EQ(block.GetTileScale(), 20.0f);
  EXPECT_EQ(block.GetTileX(), 256);
  EXPECT_EQ(block.GetTileY(), 512);
  EXPECT_EQ(block.GetTileWidth(), 256);
  EXPECT_EQ(block.GetTileHeight(), 200);
  std::string key;
  std::unique_ptr<TileInfo> tile(block.MakeTileInfo(key, 0));
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(key, "20.000000000_256_512");
  EXPECT_EQ(tile->length, 5);
  EXPECT_EQ(tile->offset, -16);
  for (int channel : tile->channelLengths) EXPECT_EQ(channel, 0);
  ASSERT_EQ(block.ReadEntry(&buffer), 0);
  EXPECT_EQ(buffer.Remaining(), 0u);
  tile.reset(block.MakeTileInfo(key, 0));
  EXPECT_EQ(key, "10.000000000_0_256");
  EXPECT_EQ(tile->width, 128);
  EXPECT_EQ(tile->length, 9);
  EXPECT_EQ(tile->offset, 0x7FFFFFF0);
  EXPECT_EQ(block.ReadEntry(&buffer), -1);
}

TEST(TileBlockTest, Version11EntriesAre64BytesWith64BitPosition) {
  HandSlide slide;
  slide.version = 1.3f;
  slide.tiles = {{2.5f, 0, 256, 256, 256, Bytes(77)}, {40.0f, 1024, 0, 256, 256, Bytes(3)}};
  slide.tileOffsets = {(5LL << 30) + 3, -100};
  ByteBuffer buffer;
  Attach(buffer, slide.Entries());
  ASSERT_EQ(buffer.Filled(), 128u);
  CZTXDataBlock1100 block;
  std::string key;
  ASSERT_EQ(block.ReadEntry(&buffer), 0);
  std::unique_ptr<TileInfo> tile(block.MakeTileInfo(key, 0));
  EXPECT_EQ(key, "2.500000000_0_256");
  EXPECT_EQ(tile->offset, (5LL << 30) + 3);
  EXPECT_EQ(tile->length, 77);
  ASSERT_EQ(block.ReadEntry(&buffer), 0);
  tile.reset(block.MakeTileInfo(key, 0));
  EXPECT_EQ(key, "40.000000000_1024_0");
  EXPECT_EQ(tile->offset, -100);
  EXPECT_EQ(buffer.Remaining(), 0u);
}

TEST(TileBlockTest, ReadEntryRefusesNullAndShortBuffers) {
  CZTXDataBlock v10;
  CZTXDataBlock1100 v11;
  EXPECT_EQ(v10.ReadEntry(nullptr), -1);
  EXPECT_EQ(v11.ReadEntry(nullptr), -1);
  ByteBuffer shortFor10;
  Attach(shortFor10, Bytes(67));
  EXPECT_EQ(v10.ReadEntry(&shortFor10), -1);
  ByteBuffer shortFor11;
  Attach(shortFor11, Bytes(63));
  EXPECT_EQ(v11.ReadEntry(&shortFor11), -1);
  ByteBuffer exact;
  Attach(exact, Bytes(64));
  EXPECT_EQ(v11.ReadEntry(&exact), 0);
}

struct KeyCase {
  float scale;
  int x;
  int y;
  const char* key;
};

class TileKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(TileKeyTest, KeyPrintsScaleWithNineDecimals) {
  CZTXDataBlock1100 block;
  std::string key = "stale";
  EXPECT_EQ(block.MakeKey(key, GetParam().scale, GetParam().x, GetParam().y), GetParam().key);
  EXPECT_EQ(key, GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(Keys, TileKeyTest,
                         ::testing::Values(KeyCase{20.0f, 256, 512, "20.000000000_256_512"},
                                           KeyCase{2.5f, 0, 256, "2.500000000_0_256"},
                                           KeyCase{0.1f, 0, 0, "0.100000001_0_0"},
                                           KeyCase{19.9999f, 0, 0, "19.999900818_0_0"},
                                           KeyCase{40.0f, -256, 7, "40.000000000_-256_7"},
                                           KeyCase{1.25f, 2147483647, -2147483647 - 1,
                                                   "1.250000000_2147483647_-2147483648"}));

TEST(TileKeyTest, HugeScalesStillFit) {
  CZTXDataBlock block;
  std::string key;
  block.MakeKey(key, std::numeric_limits<float>::max(), 0, 0);
  EXPECT_EQ(key.substr(key.size() - 4), "_0_0");
  EXPECT_EQ(key.substr(0, 5), "34028");
}

// --- index loading on hand-made files ---

class HandIndexTest : public ::testing::TestWithParam<float> {};

// The index is the last thing in the file: reading more than count x entry
// size would run off the end and fail the load.
TEST_P(HandIndexTest, ThreeTilesReadWithTheVersionsEntrySize) {
  HandSlide hand;
  hand.version = GetParam();
  hand.tiles = {{20.0f, 0, 0, 256, 256, Stream(40, 1)},
                {20.0f, 256, 0, 256, 256, Stream(33, 2)},
                {10.0f, 0, 0, 256, 256, Stream(50, 3)}};
  TempDir dir;
  const std::string path = dir.File("hand.ztx");
  const Bytes bytes = hand.Build();
  EXPECT_EQ(bytes.size() - static_cast<std::size_t>(hand.indexOffset),
            static_cast<std::size_t>(3 * hand.EntrySize()));
  WriteFileBytes(path, bytes);
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->TileCount(), 3u);
  for (const HandTile& tile : hand.tiles) {
    int length = 0;
    EXPECT_EQ(TileBytes(*slide, tile.scale, tile.x, tile.y, &length), tile.stream);
    EXPECT_EQ(length, static_cast<int>(tile.stream.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, HandIndexTest, ::testing::Values(1.0f, 1.1f, 1.2f, 1.3f, 2.0f));

class FarTileTest : public ::testing::TestWithParam<float> {};

// Entries of 1.1 and later carry 64-bit positions: a tile 5 GiB behind the
// index (a sparse file) is found and read.
TEST_P(FarTileTest, TileBeyond4GiBIsReachable) {
  HandSlide hand;
  hand.version = GetParam();
  hand.tiles = {{20.0f, 0, 0, 256, 256, Stream(100, 9)}};
  Bytes bytes = hand.Build();
  const std::int64_t far = (5LL << 30) + 17;
  PutI64(bytes, static_cast<std::size_t>(hand.indexOffset) + 36, far);
  TempDir dir;
  const std::string path = dir.File("far.ztx");
  WriteFileBytes(path, bytes);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(hand.indexOffset + far);
    file.write(reinterpret_cast<const char*>(hand.tiles[0].stream.data()),
               static_cast<std::streamsize>(hand.tiles[0].stream.size()));
    if (!file) GTEST_SKIP() << "no sparse file of 5 GiB here";
  }
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  const TileInfo* tile = slide->FindTile(20.0f, 0, 0);
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(tile->offset, far);
  int length = 0;
  EXPECT_EQ(TileBytes(*slide, 20.0f, 0, 0, &length), hand.tiles[0].stream);
}

INSTANTIATE_TEST_SUITE_P(Versions, FarTileTest, ::testing::Values(1.1f, 2.0f));

TEST(HandIndexTest, DuplicateKeysKeepTheFirstEntry) {
  HandSlide hand;
  hand.version = 1.2f;
  hand.tiles = {{20.0f, 0, 0, 256, 256, Stream(10, 1)},
                {20.0f, 0, 0, 256, 256, Stream(20, 2)},
                {20.0f, 256, 0, 256, 256, Stream(30, 3)},
                {20.0f, 0, 0, 256, 256, Stream(40, 4)}};
  TempDir dir;
  const std::string path = dir.File("dup.ztx");
  WriteFileBytes(path, hand.Build());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->TileCount(), 2u);
  const TileInfo* found = slide->FindTile(20.0f, 0, 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->length, 10);
  int length = 0;
  EXPECT_EQ(TileBytes(*slide, 20.0f, 0, 0, &length), hand.tiles[0].stream);
}

TEST(HandIndexTest, LookupNeedsTheExactPrintedScaleAndPosition) {
  HandSlide hand;
  hand.tiles = {{20.0f, 256, 512, 256, 256, Stream(10, 1)}};
  TempDir dir;
  const std::string path = dir.File("exact.ztx");
  WriteFileBytes(path, hand.Build());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  EXPECT_NE(slide->FindTile(20.0f, 256, 512), nullptr);
  // One step of float above 20 already prints differently.
  EXPECT_EQ(slide->FindTile(std::nextafter(20.0f, 21.0f), 256, 512), nullptr);
  EXPECT_EQ(slide->FindTile(19.9999f, 256, 512), nullptr);
  EXPECT_EQ(slide->FindTile(20.0f, 257, 512), nullptr);
  EXPECT_EQ(slide->FindTile(20.0f, 512, 256), nullptr);
  int length = 99;
  unsigned char buffer[16];
  unsigned char* out = buffer;
  slide->ReadTileStream(19.9999f, 256, 512, length, &out);
  EXPECT_EQ(length, 0);
}

TEST(HandIndexTest, CompressedIndexExpandsToTheEntries) {
  HandSlide hand;
  hand.version = 1.3f;
  hand.compressed = true;
  hand.tiles = {{20.0f, 0, 0, 256, 256, Stream(21, 1)}, {10.0f, 0, 0, 256, 256, Stream(22, 2)}};
  TempDir dir;
  const std::string path = dir.File("packed.ztx");
  WriteFileBytes(path, hand.Build(Deflate));
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  int length = 0;
  EXPECT_EQ(TileBytes(*slide, 10.0f, 0, 0, &length), hand.tiles[1].stream);
  EXPECT_EQ(slide->GetZtxHeader()->GetVersion(), 1.3f);
}

// Damaged compressed indexes fail the load instead of yielding garbage.
struct DamageCase {
  const char* name;
  int tileCountDelta;  // added to the header's tile count
  int lengthDelta;     // added to the stored compressed length
  int flipByte;        // zlib byte to corrupt (clamped to the last), -1 none
  float version;
};

class CompressedIndexDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(CompressedIndexDamageTest, LoadFails) {
  const DamageCase& c = GetParam();
  HandSlide hand;
  hand.version = c.version;
  hand.compressed = true;
  hand.tiles = {{20.0f, 0, 0, 256, 256, Stream(21, 1)},
                {20.0f, 256, 0, 256, 256, Stream(22, 2)},
                {10.0f, 0, 0, 256, 256, Stream(23, 3)}};
  Bytes bytes = hand.Build(Deflate);
  const std::size_t index = static_cast<std::size_t>(hand.indexOffset);
  if (c.tileCountDelta != 0) PutI32(bytes, 16, static_cast<std::int32_t>(3 + c.tileCountDelta));
  if (c.lengthDelta != 0) {
    PutU32(bytes, index, static_cast<std::uint32_t>(ReadI32(bytes, index) + c.lengthDelta));
  }
  if (c.flipByte >= 0) {
    const std::size_t at = index + 4 + static_cast<std::size_t>(c.flipByte);
    bytes[at < bytes.size() ? at : bytes.size() - 1] ^= 0x5A;
  }
  TempDir dir;
  const std::string path = dir.File("damaged.ztx");
  WriteFileBytes(path, bytes);
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  EXPECT_EQ(result, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, CompressedIndexDamageTest,
    ::testing::Values(DamageCase{"FlippedData", 0, 0, 6, 1.3f},
                      DamageCase{"FlippedChecksum", 0, 0, 100000, 1.3f},
                      DamageCase{"MoreTilesThanExpanded", 1, 0, -1, 1.3f},
                      DamageCase{"FewerTilesThanExpanded", -1, 0, -1, 1.3f},
                      DamageCase{"LengthPastFile", 0, 1, -1, 1.2f},
                      DamageCase{"LengthCutShort", 0, -5, -1, 1.2f},
                      DamageCase{"HugeCountFromFewBytes", 30000000, 0, -1, 1.3f},
                      DamageCase{"Version10CannotBeCompressed", 0, 0, -1, 1.0f}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

// --- writer-made slides ---

struct RoundTripCase {
  float version;
  bool compressed;
  bool longMagic;
  ztx::TileEncoding encoding;
};

class WrittenIndexTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(WrittenIndexTest, EveryWrittenTileIsFiledUnderItsKey) {
  const RoundTripCase& c = GetParam();
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = c.version;
  recipe.compressIndex = c.compressed;
  recipe.longMagic = c.longMagic;
  recipe.encoding = c.encoding;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, recipe, &layout);
  ASSERT_FALSE(path.empty());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->TileCount(), layout.tiles.size());
  EXPECT_EQ(slide->GetZtxHeader()->GetTileCount(), static_cast<int>(layout.tiles.size()));
  EXPECT_EQ(slide->GetZtxHeader()->GetIndexOffset(), layout.indexOffset);
  for (const ztx::WrittenTile& written : layout.tiles) {
    const TileInfo* tile = slide->FindTile(written.scale, written.x, written.y);
    ASSERT_NE(tile, nullptr) << written.scale << " " << written.x << " " << written.y;
    EXPECT_EQ(tile->length, written.length);
    EXPECT_EQ(tile->offset, written.offset);
    EXPECT_EQ(tile->width, written.width);
    EXPECT_EQ(tile->height, written.height);
    EXPECT_EQ(tile->scale, written.scale);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, WrittenIndexTest,
    ::testing::Values(RoundTripCase{1.0f, false, false, ztx::TileEncoding::kJpeg},
                      RoundTripCase{1.1f, false, false, ztx::TileEncoding::kJpeg},
                      RoundTripCase{1.1f, true, false, ztx::TileEncoding::kJpeg},
                      RoundTripCase{1.2f, true, false, ztx::TileEncoding::kBmp},
                      RoundTripCase{1.3f, false, true, ztx::TileEncoding::kJpeg},
                      RoundTripCase{1.7f, true, false, ztx::TileEncoding::kJpeg},
                      RoundTripCase{2.0f, false, true, ztx::TileEncoding::kBmp}));

// --- source scale ---

struct SourceScaleCase {
  int scanScale;
  int mode;
  float requested;
  float expected;
};

class SelectSourceScaleTest : public ::testing::TestWithParam<SourceScaleCase> {};

TEST_P(SelectSourceScaleTest, PicksTheStoredLevelToComposeFrom) {
  const SourceScaleCase& c = GetParam();
  HeaderFields fields;
  fields.version = 1.3f;
  fields.scanScale = c.scanScale;
  Bytes bytes = fields.Build();
  const std::int32_t end = AppendPropertyArea(bytes, {{33, Int32Value(c.mode)}}, 1);
  PutI32(bytes, 52, end);
  TempDir dir;
  const std::string path = dir.File("scale.ztx");
  WriteFileBytes(path, bytes);
  int result = 0;
  auto slide = OpenHeaderOnly(path, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->SelectSourceScale(c.requested), c.expected) << c.requested;
}

INSTANTIATE_TEST_SUITE_P(
    Scales, SelectSourceScaleTest,
    ::testing::Values(SourceScaleCase{40, 0, 35.0f, 40.0f}, SourceScaleCase{40, 0, 30.0f, 20.0f},
                      SourceScaleCase{40, 0, 25.0f, 20.0f}, SourceScaleCase{40, 0, 10.0f, 10.0f},
                      SourceScaleCase{40, 0, 50.0f, 40.0f}, SourceScaleCase{40, 0, 40.0f, 40.0f},
                      SourceScaleCase{40, 0, 20.0f, 20.0f}, SourceScaleCase{40, 0, 7.5f, 5.0f},
                      SourceScaleCase{40, 0, 7.6f, 10.0f},
                      SourceScaleCase{40, 0, 0.001f, 40.0f / 32768.0f},
                      SourceScaleCase{40, 1, 30.0f, 40.0f}, SourceScaleCase{40, 1, 12.0f, 10.0f},
                      SourceScaleCase{40, 1, 16.0f, 40.0f}, SourceScaleCase{40, 2, 5.0f, 40.0f},
                      SourceScaleCase{40, 2, 3.0f, 2.5f}, SourceScaleCase{40, 2, 2.0f, 2.5f},
                      SourceScaleCase{40, 0, 0.0f, 0.0f}, SourceScaleCase{40, 0, -10.0f, 0.0f},
                      SourceScaleCase{40, 0, std::numeric_limits<float>::quiet_NaN(), 0.0f},
                      SourceScaleCase{40, 0, -std::numeric_limits<float>::infinity(), 0.0f},
                      SourceScaleCase{40, 0, std::numeric_limits<float>::infinity(), 0.0f}));

TEST(SelectSourceScaleTest, TinyScalesEndAtAStoredLevel) {
  HeaderFields fields;
  fields.scanScale = 40;
  Bytes bytes = fields.Build();
  AppendPropertyArea(bytes, {}, 0);
  TempDir dir;
  const std::string path = dir.File("tiny.ztx");
  WriteFileBytes(path, bytes);
  int result = 0;
  auto slide = OpenHeaderOnly(path, &result);
  ASSERT_EQ(result, 0);
  const float tiny = std::numeric_limits<float>::denorm_min();
  const float chosen = slide->SelectSourceScale(tiny);
  EXPECT_GE(chosen, tiny);
  EXPECT_LE(chosen, 4.0f * tiny);
}

TEST(SelectSourceScaleTest, NoHeaderGivesZero) {
  CZTXDataFile slide;
  EXPECT_EQ(slide.SelectSourceScale(20.0f), 0.0f);
}

// --- block loads ---

class BlockLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.blockSize = 128;
    recipe.width = 700;
    recipe.height = 500;
    path_ = MakeSlide(dir_, recipe, &layout_);
    ASSERT_FALSE(path_.empty());
  }

  std::set<std::string> Loaded(int left, int top, int right, int bottom, float scale) {
    CZTXDataFile slide;
    EXPECT_TRUE(slide.OpenFile(path_.c_str()));
    EXPECT_EQ(slide.LoadFileBlock(left, top, right, bottom, scale), 0);
    std::set<std::string> keys;
    for (const TileInfo& tile : slide.Tiles()) {
      std::string key;
      keys.insert(CZTXDataBlock().MakeKey(key, tile.scale, tile.x, tile.y));
    }
    slide.CloseFile();
    return keys;
  }

  TempDir dir_;
  std::string path_;
  ztx::ZtxLayout layout_;
};

TEST_F(BlockLoadTest, AllEdgesZeroLoadsTheHeaderOnly) {
  CZTXDataFile slide;
  ASSERT_TRUE(slide.OpenFile(path_.c_str()));
  ASSERT_EQ(slide.LoadFileBlock(0, 0, 0, 0, 20.0f), 0);
  EXPECT_EQ(slide.TileCount(), 0u);
  EXPECT_EQ(slide.GetHeader()->GetWidth(), 700);
  int length = 77;
  slide.ReadTileStream(20.0f, 0, 0, length, nullptr);
  EXPECT_EQ(length, 0);
}

TEST_F(BlockLoadTest, ExpectedCountOfZeroKeepsEveryTileInside) {
  // columns: 300 / 128 - (129 + 127) / 128 = 0, so nothing stops the walk.
  const std::set<std::string> keys = Loaded(129, 0, 300, 256, 20.0f);
  EXPECT_TRUE(keys.empty());
  const std::set<std::string> expected = {"20.000000000_128_0", "20.000000000_128_128"};
  EXPECT_EQ(Loaded(128, 0, 300, 256, 20.0f), expected);
}

// A block load keeps every whole tile of the slide's own size inside the
// rectangle: counting 256-pixel cells would stop it early on smaller tiles.
class BlockLoadTileSizeTest : public ::testing::TestWithParam<int> {};

TEST_P(BlockLoadTileSizeTest, KeepsEveryWholeTileInside) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.blockSize = GetParam();
  recipe.width = 1300;
  recipe.height = 900;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, recipe, &layout);
  ASSERT_FALSE(path.empty());
  const int left = 0, top = 0, right = 1100, bottom = 768;
  std::set<std::pair<int, int>> expected;
  for (const ztx::WrittenTile& tile : layout.tiles) {
    if (tile.scale == 20.0f && tile.x >= left && tile.y >= top && tile.x + tile.width <= right &&
        tile.y + tile.height <= bottom) {
      expected.insert({tile.x, tile.y});
    }
  }
  ASSERT_FALSE(expected.empty());
  CZTXDataFile slide;
  ASSERT_TRUE(slide.OpenFile(path.c_str()));
  ASSERT_EQ(slide.LoadFileBlock(left, top, right, bottom, 20.0f), 0);
  std::set<std::pair<int, int>> loaded;
  for (const TileInfo& tile : slide.Tiles()) loaded.insert({tile.x, tile.y});
  EXPECT_EQ(loaded, expected);
  slide.CloseFile();
}

INSTANTIATE_TEST_SUITE_P(TileSizes, BlockLoadTileSizeTest, ::testing::Values(128, 192, 256, 512));

TEST_F(BlockLoadTest, OtherScalesAndPartialTilesStayOut) {
  const std::set<std::string> keys = Loaded(0, 0, 1000, 1000, 10.0f);
  std::set<std::string> expected;
  for (const ztx::WrittenTile& tile : layout_.tiles) {
    if (tile.scale == 10.0f && tile.x + tile.width <= 1000 && tile.y + tile.height <= 1000) {
      std::string key;
      expected.insert(CZTXDataBlock().MakeKey(key, tile.scale, tile.x, tile.y));
    }
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(keys, expected);
  EXPECT_TRUE(Loaded(1, 0, 1000, 1000, 10.0f).size() < expected.size());
}

TEST_F(BlockLoadTest, HugeRectangleDoesNotOverflow) {
  const int max = std::numeric_limits<int>::max();
  const int min = std::numeric_limits<int>::min();
  std::set<std::string> keys = Loaded(min, min, max, max, 20.0f);
  std::size_t atScan = 0;
  for (const ztx::WrittenTile& tile : layout_.tiles) atScan += tile.scale == 20.0f ? 1 : 0;
  EXPECT_EQ(keys.size(), atScan);
}

}  // namespace
}  // namespace strata::test::reader
