// Hostile ZTX files: truncations at every section boundary, absurd counts,
// positions and lengths, overlapping sections, readers that cannot tell the
// file size, and random damage. Nothing may crash, allocate without bound,
// or hand out bytes that are not the file's.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/local_file_operation_tool.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

constexpr unsigned char kSentinel = 0xEE;

// A local reader that, like the HTTP one, cannot tell the file size: only
// the delivered byte counts protect the parsers.
class SizelessReader : public CLocalFileOperationTool {
 public:
  std::int64_t Size() override { return -1; }
};

std::unique_ptr<CZTXDataFile> OpenWithSizelessReader(const std::string& path, int* result) {
  auto slide = std::make_unique<CZTXDataFile>();
  slide->SetFileOperationTool(new SizelessReader());  // the slide owns its reader
  *result = slide->OpenFile(path.c_str()) ? slide->LoadFile() : -2;
  return slide;
}

// Reads every written tile; each must be either absent (length 0, buffer
// untouched) or exactly the file's bytes. Returns how many were delivered.
int CheckEveryTile(CZTXDataFile& slide, const ztx::ZtxLayout& layout, const Bytes& file) {
  int delivered = 0;
  std::vector<unsigned char> buffer(300000);
  for (const ztx::WrittenTile& tile : layout.tiles) {
    std::fill(buffer.begin(), buffer.end(), kSentinel);
    unsigned char* out = buffer.data();
    int length = -1;
    slide.ReadTileStream(tile.scale, tile.x, tile.y, length, &out);
    EXPECT_EQ(out, buffer.data());
    if (length == 0) {
      EXPECT_EQ(buffer[0], kSentinel);
      continue;
    }
    EXPECT_EQ(length, tile.length);
    const std::size_t start = static_cast<std::size_t>(layout.indexOffset + tile.offset);
    EXPECT_LE(start + static_cast<std::size_t>(tile.length), file.size());
    if (start + static_cast<std::size_t>(tile.length) > file.size()) continue;
    EXPECT_TRUE(
        std::equal(file.begin() + start, file.begin() + start + tile.length, buffer.begin()));
    ++delivered;
  }
  return delivered;
}

class HostileFileTest : public ::testing::Test {
 protected:
  void Write(bool compressed) {
    SlideRecipe recipe;
    recipe.compressIndex = compressed;
    path_ = MakeSlide(dir_, recipe, &layout_);
    ASSERT_FALSE(path_.empty());
    file_ = ReadFileBytes(path_);
  }

  std::string Variant(const Bytes& bytes) {
    const std::string path = dir_.File("variant.ztx");
    WriteFileBytes(path, bytes);
    return path;
  }

  TempDir dir_;
  ztx::ZtxLayout layout_;
  std::string path_;
  Bytes file_;
};

// --- truncation ---

class TruncationTest : public HostileFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TruncationTest, EveryCutEitherFailsTheLoadOrHidesTheMissingTiles) {
  Write(GetParam());
  const std::int64_t indexEnd = layout_.indexOffset + layout_.indexBytes;
  const ztx::WrittenTile& last = layout_.tiles.back();
  const std::int64_t lastTile = layout_.indexOffset + last.offset;
  const std::vector<std::int64_t> cuts = {0,
                                          4,
                                          12,
                                          16,
                                          95,
                                          96,
                                          99,
                                          layout_.previewOffset - 1,
                                          layout_.previewOffset,
                                          layout_.previewOffset + 30,
                                          layout_.labelOffset,
                                          layout_.labelOffset + 60,
                                          layout_.thumbnailOffset,
                                          layout_.thumbnailOffset + 51,
                                          layout_.indexOffset,
                                          layout_.indexOffset + 3,
                                          layout_.indexOffset + layout_.indexBytes / 2,
                                          indexEnd - 1,
                                          indexEnd,
                                          lastTile,
                                          lastTile + last.length / 2,
                                          layout_.fileSize - 1};
  for (const std::int64_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ASSERT_GE(cut, 0);
    ASSERT_LE(cut, layout_.fileSize);
    const Bytes truncated(file_.begin(), file_.begin() + cut);
    const std::string path = Variant(truncated);
    for (bool sizeless : {false, true}) {
      int result = 0;
      auto slide = sizeless ? OpenWithSizelessReader(path, &result) : OpenLoaded(path, &result);
      const bool complete = cut >= indexEnd;
      EXPECT_EQ(result, complete ? 0 : -1) << (sizeless ? "sizeless" : "sized");
      if (result != 0) continue;
      const int delivered = CheckEveryTile(*slide, layout_, truncated);
      EXPECT_LT(delivered, static_cast<int>(layout_.tiles.size()));
      unsigned char* data = nullptr;
      int length = 0, width = 0, height = 0;
      if (slide->GetLabel(&data, length, width, height)) ReleaseBuffer(data);
    }
    // Section-only paths never read the index.
    CZTXDataFile byPath;
    unsigned char* data = nullptr;
    int length = 0, width = 0, height = 0;
    const bool label = byPath.GetLabelFromPath(path.c_str(), &data, length, width, height);
    LibraryBytes owned(data);
    const std::int64_t labelEnd = layout_.labelOffset + 52 + length;
    if (label) {
      EXPECT_LE(labelEnd, cut);
    } else {
      EXPECT_EQ(data, nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Index, TruncationTest, ::testing::Values(false, true));

// --- absurd header values ---

struct HeaderPatch {
  const char* name;
  std::size_t at;
  std::int64_t value;
  int size;  // 4 or 8
};

class AbsurdHeaderTest : public HostileFileTest,
                         public ::testing::WithParamInterface<HeaderPatch> {};

TEST_P(AbsurdHeaderTest, LoadFailsWithoutHugeAllocations) {
  for (bool compressed : {false, true}) {
    Write(compressed);
    Bytes bytes = file_;
    if (GetParam().size == 8) {
      PutI64(bytes, GetParam().at, GetParam().value);
    } else {
      PutI32(bytes, GetParam().at, static_cast<std::int32_t>(GetParam().value));
    }
    const std::string path = Variant(bytes);
    int result = 0;
    auto slide = OpenLoaded(path, &result);
    EXPECT_EQ(result, -1) << (compressed ? "compressed" : "plain");
    auto sizeless = OpenWithSizelessReader(path, &result);
    EXPECT_EQ(result, -1) << (compressed ? "compressed, sizeless" : "plain, sizeless");
  }
}

// Offsets of the 1.3 layout: tile count at 16, index position at 68.
INSTANTIATE_TEST_SUITE_P(
    Fields, AbsurdHeaderTest,
    ::testing::Values(HeaderPatch{"TileCountMax", 16, std::numeric_limits<std::int32_t>::max(), 4},
                      HeaderPatch{"TileCountHundredMillion", 16, 100000000, 4},
                      HeaderPatch{"TileCountNegative", 16, -1, 4},
                      HeaderPatch{"TileCountMin", 16, std::numeric_limits<std::int32_t>::min(), 4},
                      HeaderPatch{"IndexPastFile", 68, 1LL << 40, 8},
                      HeaderPatch{"IndexNegative", 68, -64, 8},
                      HeaderPatch{"IndexMax", 68, std::numeric_limits<std::int64_t>::max(), 8}),
    [](const ::testing::TestParamInfo<HeaderPatch>& info) { return info.param.name; });

// --- absurd tile entries ---

struct EntryPatch {
  const char* name;
  std::size_t field;  // inside the 64-byte entry
  std::int64_t value;
  int size;
};

class AbsurdEntryTest : public HostileFileTest, public ::testing::WithParamInterface<EntryPatch> {};

TEST_P(AbsurdEntryTest, TileIsMissingAndTheBufferUntouched) {
  Write(false);
  Bytes bytes = file_;
  const std::size_t entry = static_cast<std::size_t>(layout_.indexOffset) + 64;  // second tile
  if (GetParam().size == 8) {
    PutI64(bytes, entry + GetParam().field, GetParam().value);
  } else {
    PutI32(bytes, entry + GetParam().field, static_cast<std::int32_t>(GetParam().value));
  }
  const std::string path = Variant(bytes);
  const ztx::WrittenTile& target = layout_.tiles[1];
  for (bool sizeless : {false, true}) {
    int result = 0;
    auto slide = sizeless ? OpenWithSizelessReader(path, &result) : OpenLoaded(path, &result);
    ASSERT_EQ(result, 0);
    std::vector<unsigned char> buffer(1024, kSentinel);
    unsigned char* out = buffer.data();
    int length = -1;
    slide->ReadTileStream(target.scale, target.x, target.y, length, &out);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(out, buffer.data());
    for (unsigned char byte : buffer) ASSERT_EQ(byte, kSentinel);
    length = -1;
    slide->ReadTileStream(target.scale, target.x, target.y, length, nullptr);
    // Without the file size a size query can only repeat the record.
    if (!sizeless) {
      EXPECT_EQ(length, 0) << "size query";
    }
    unsigned char* pixels = AllocateBuffer(16);
    int width = -1, height = -1;
    slide->ReadTilePixels(target.scale, target.x, target.y, length, width, height, &pixels);
    EXPECT_EQ(pixels, nullptr);
    EXPECT_EQ(length, 0);
    // The other tiles are unaffected.
    EXPECT_EQ(CheckEveryTile(*slide, layout_, bytes), static_cast<int>(layout_.tiles.size()) - 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AbsurdEntryTest,
    ::testing::Values(EntryPatch{"LengthMax", 32, std::numeric_limits<std::int32_t>::max(), 4},
                      EntryPatch{"LengthNegative", 32, -5, 4}, EntryPatch{"LengthZero", 32, 0, 4},
                      EntryPatch{"LengthPastFile", 32, 1 << 24, 4},
                      EntryPatch{"OffsetPastFile", 36, 1LL << 36, 8},
                      EntryPatch{"OffsetBeforeFile", 36, -(1LL << 20), 8},
                      EntryPatch{"OffsetOverflows", 36, std::numeric_limits<std::int64_t>::max(),
                                 8}),
    [](const ::testing::TestParamInfo<EntryPatch>& info) { return info.param.name; });

// --- overlapping sections ---

TEST_F(HostileFileTest, SectionsPointingIntoEachOtherDoNotCrash) {
  Write(false);
  struct Overlap {
    std::size_t field;
    std::int64_t value;
    int size;
  };
  const std::vector<Overlap> overlaps = {
      {56, 96, 4},                     // label record inside the property area
      {56, layout_.indexOffset, 4},    // label record on the tile index
      {52, layout_.fileSize, 4},       // preview (and area end) at the end of the file
      {60, layout_.labelOffset, 8},    // thumbnail record on the label record
      {60, 1, 8},                      // thumbnail record inside the header
      {68, layout_.previewOffset, 8},  // tile index on the preview section
      {68, 8, 8},                      // tile index inside the header
  };
  for (const Overlap& overlap : overlaps) {
    SCOPED_TRACE(std::to_string(overlap.field) + " -> " + std::to_string(overlap.value));
    Bytes bytes = file_;
    if (overlap.size == 8) {
      PutI64(bytes, overlap.field, overlap.value);
    } else {
      PutI32(bytes, overlap.field, static_cast<std::int32_t>(overlap.value));
    }
    const std::string path = Variant(bytes);
    int result = 0;
    auto slide = OpenLoaded(path, &result);
    if (result == 0) {
      for (const TileInfo& tile : slide->Tiles()) {
        // Any length the reader accepts lies inside the file.
        std::vector<unsigned char> buffer(bytes.size(), kSentinel);
        unsigned char* out = buffer.data();
        int length = -1;
        slide->ReadTileStream(tile.scale, tile.x, tile.y, length, &out);
        ASSERT_GE(length, 0);
        ASSERT_LE(static_cast<std::size_t>(length), bytes.size());
      }
      for (int which = 0; which < 3; ++which) {
        unsigned char* data = nullptr;
        int length = 0, width = 0, height = 0;
        bool ok = false;
        if (which == 0) ok = slide->GetLabel(&data, length, width, height);
        if (which == 1) ok = slide->GetPreview(&data, length, width, height);
        if (which == 2) ok = slide->GetThumbnail(&data, length, width, height) != 0;
        LibraryBytes owned(data);
        if (ok) {
          EXPECT_NE(data, nullptr);
          EXPECT_LE(static_cast<std::size_t>(length), bytes.size() * 4 + 1000000);
        }
      }
    }
  }
}

// Without a file size, absurd area and image lengths are refused before any
// read is attempted (a 2 GiB fetch would pass the delivered-count checks only
// after allocating it).
TEST_F(HostileFileTest, SizelessReaderRefusesAbsurdAreaAndImageLengths) {
  Write(false);
  Bytes hugeArea = file_;
  PutI32(hugeArea, 52, std::numeric_limits<std::int32_t>::max());
  int result = 0;
  auto slide = OpenWithSizelessReader(Variant(hugeArea), &result);
  EXPECT_EQ(result, -1);

  Bytes hugeLabel = file_;
  PutI32(hugeLabel, static_cast<std::size_t>(layout_.labelOffset) + 20,
         std::numeric_limits<std::int32_t>::max());
  slide = OpenWithSizelessReader(Variant(hugeLabel), &result);
  ASSERT_EQ(result, 0);
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  EXPECT_FALSE(slide->GetLabel(&data, length, width, height));
  EXPECT_EQ(data, nullptr);
}

// --- random damage ---

TEST_F(HostileFileTest, RandomDamageNeverCrashes) {
  for (bool compressed : {false, true}) {
    Write(compressed);
    std::mt19937 random(compressed ? 7u : 11u);
    const std::size_t damageZone =
        static_cast<std::size_t>(layout_.indexOffset + layout_.indexBytes);
    std::uniform_int_distribution<std::size_t> position(0, damageZone - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 60; ++round) {
      Bytes bytes = file_;
      for (int flips = 0; flips < 1 + round % 8; ++flips) {
        bytes[position(random)] = static_cast<unsigned char>(byte(random));
      }
      const std::string path = Variant(bytes);
      int result = 0;
      auto slide = OpenLoaded(path, &result);
      if (result != 0) continue;
      int read = 0;
      for (const TileInfo& tile : slide->Tiles()) {
        if (++read > 8) break;
        unsigned char* out = nullptr;
        int length = 0, width = 0, height = 0;
        slide->ReadTilePixels(tile.scale, tile.x, tile.y, length, width, height, &out);
        ReleaseBuffer(out);
      }
      unsigned char* data = nullptr;
      int length = 0, width = 0, height = 0;
      if (slide->GetThumbnail(&data, length, width, height) != 0) ReleaseBuffer(data);
    }
  }
}

}  // namespace
}  // namespace strata::test::reader
