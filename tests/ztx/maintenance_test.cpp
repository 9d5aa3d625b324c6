// In-place rewrites: label replacement and index compression, including every
// refused case leaving the file byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "strata/interface/image_operation_manager.h"
#include "support/slide_fixtures.h"
#include "ztx/reader_test_util.h"

namespace strata::test {
namespace {

constexpr std::uint32_t kPlainMarker = 0xEEEE01F1u;
constexpr std::uint32_t kCompressedMarker = 0xEEEE05F1u;

class MaintenanceTest : public ::testing::Test {
 protected:
  std::string Make(const SlideRecipe& recipe) {
    path_ = MakeSlide(dir_, recipe, &layout_);
    return path_;
  }

  // Every stored tile's bytes, read through a freshly loaded slide.
  std::vector<std::vector<unsigned char>> AllTiles() const {
    int result = -1;
    auto slide = reader::OpenLoaded(path_, &result);
    EXPECT_EQ(result, 0);
    std::vector<std::vector<unsigned char>> tiles;
    if (result != 0) return tiles;
    for (const ztx::WrittenTile& t : layout_.tiles) {
      const TileInfo* tile = slide->FindTile(t.scale, t.x, t.y);
      std::vector<unsigned char> bytes;
      EXPECT_NE(tile, nullptr);
      if (tile != nullptr) {
        EXPECT_TRUE(slide->ReadStoredTile(*tile, bytes));
      }
      tiles.push_back(bytes);
    }
    return tiles;
  }

  std::vector<unsigned char> Label() const {
    int result = -1;
    auto slide = reader::OpenLoaded(path_, &result);
    EXPECT_EQ(result, 0);
    unsigned char* raw = nullptr;
    int length = 0;
    int width = 0;
    int height = 0;
    EXPECT_TRUE(slide->GetLabel(&raw, length, width, height));
    LibraryBytes owned(raw);
    if (raw == nullptr) return {};
    return std::vector<unsigned char>(raw, raw + length);
  }

  TempDir dir_;
  std::string path_;
  ztx::ZtxLayout layout_;
};

TEST_F(MaintenanceTest, CompressThenExpandRestoresTheFileExactly) {
  Make(SlideRecipe{});
  const std::vector<unsigned char> original = ReadFileBytes(path_);
  const auto tiles = AllTiles();

  ASSERT_TRUE(CImageOperationManager::CompressBlockDataInfo(path_.c_str()));
  const std::vector<unsigned char> compressed = ReadFileBytes(path_);
  EXPECT_EQ(compressed.size(), original.size());
  EXPECT_EQ(ReadU32(compressed, 0), kCompressedMarker);
  const std::uint32_t packed = ReadU32(compressed, static_cast<std::size_t>(layout_.indexOffset));
  EXPECT_GT(packed, 0u);
  EXPECT_LT(packed + 4, layout_.tiles.size() * 64);
  // Past the compressed data the plain index bytes remain.
  const std::size_t tail = static_cast<std::size_t>(layout_.indexOffset) + 4 + packed;
  EXPECT_TRUE(std::equal(compressed.begin() + tail, compressed.end(), original.begin() + tail));
  EXPECT_EQ(AllTiles(), tiles);

  ASSERT_TRUE(CImageOperationManager::UnCompressBlockDataInfo(path_.c_str()));
  const std::vector<unsigned char> restored = ReadFileBytes(path_);
  EXPECT_EQ(ReadU32(restored, 0), kPlainMarker);
  EXPECT_EQ(restored, original);
  EXPECT_EQ(AllTiles(), tiles);
}

TEST_F(MaintenanceTest, RepeatedOperationsChangeNothing) {
  Make(SlideRecipe{});
  const std::uint64_t plain = FileChecksum(path_);
  EXPECT_TRUE(CImageOperationManager::UnCompressBlockDataInfo(path_.c_str()));
  EXPECT_EQ(FileChecksum(path_), plain);
  ASSERT_TRUE(CImageOperationManager::CompressBlockDataInfo(path_.c_str()));
  const std::uint64_t compressed = FileChecksum(path_);
  EXPECT_NE(compressed, plain);
  EXPECT_TRUE(CImageOperationManager::CompressBlockDataInfo(path_.c_str()));
  EXPECT_EQ(FileChecksum(path_), compressed);
}

TEST_F(MaintenanceTest, WriterCompressedSlideExpandsToAPlainOne) {
  SlideRecipe recipe;
  recipe.compressIndex = true;
  Make(recipe);
  const auto tiles = AllTiles();
  ASSERT_TRUE(CImageOperationManager::UnCompressBlockDataInfo(path_.c_str()));
  EXPECT_EQ(ReadU32(ReadFileBytes(path_), 0), kPlainMarker);
  EXPECT_EQ(AllTiles(), tiles);
}

// ---- refused index operations leave the file unchanged ----

struct RefusedCase {
  const char* name;
  float version;
  bool compressFirst;
  bool compressRefused;  // else it reports "already compressed" or is not tried
  bool expandRefused;
  // Damages the file bytes (given the index offset) before the call.
  std::function<void(std::vector<unsigned char>&, std::int64_t)> damage;
};

class RefusedIndexTest : public MaintenanceTest,
                         public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedIndexTest, BothOperationsFailAndWriteNothing) {
  const RefusedCase& c = GetParam();
  SlideRecipe recipe;
  recipe.version = c.version;
  recipe.compressIndex = c.compressFirst;
  Make(recipe);
  if (c.damage) {
    std::vector<unsigned char> bytes = ReadFileBytes(path_);
    c.damage(bytes, layout_.indexOffset);
    WriteFileBytes(path_, bytes);
  }
  const std::uint64_t before = FileChecksum(path_);
  if (c.compressRefused) {
    EXPECT_FALSE(CImageOperationManager::CompressBlockDataInfo(path_.c_str()));
  } else if (c.compressFirst) {
    EXPECT_TRUE(CImageOperationManager::CompressBlockDataInfo(path_.c_str()));
  }
  EXPECT_EQ(FileChecksum(path_), before);
  if (c.expandRefused) {
    EXPECT_FALSE(CImageOperationManager::UnCompressBlockDataInfo(path_.c_str()));
  }
  EXPECT_EQ(FileChecksum(path_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedIndexTest,
    ::testing::Values(RefusedCase{"Version10", 1.0f, false, true, true, nullptr},
                      RefusedCase{"BadMagic", 1.3f, false, true, true,
                                  [](std::vector<unsigned char>& b, std::int64_t) { b[5] = 'Q'; }},
                      RefusedCase{"UnknownVersion", 1.3f, false, true, true,
                                  [](std::vector<unsigned char>& b, std::int64_t) {
                                    reader::PutF32(b, 12, 1.8f);
                                  }},
                      RefusedCase{"IndexPastTheEnd", 1.3f, false, true, false,
                                  [](std::vector<unsigned char>& b, std::int64_t) {
                                    reader::PutI64(b, 68, static_cast<std::int64_t>(b.size()) - 10);
                                  }},
                      RefusedCase{"CompressedLengthTooLarge", 1.3f, true, false, true,
                                  [](std::vector<unsigned char>& b, std::int64_t index) {
                                    reader::PutU32(b, static_cast<std::size_t>(index), 0x7FFFFFF0u);
                                  }},
                      RefusedCase{"CompressedLengthZero", 1.3f, true, false, true,
                                  [](std::vector<unsigned char>& b, std::int64_t index) {
                                    reader::PutU32(b, static_cast<std::size_t>(index), 0);
                                  }},
                      RefusedCase{"DamagedZlibData", 1.3f, true, false, true,
                                  [](std::vector<unsigned char>& b, std::int64_t index) {
                                    for (int i = 6; i < 20; ++i)
                                      b[static_cast<std::size_t>(index) + i] ^= 0x5A;
                                  }}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST_F(MaintenanceTest, CompressedLengthBeyondThePlainIndexIsRefused) {
  SlideRecipe recipe;
  recipe.compressIndex = true;
  Make(recipe);
  std::vector<unsigned char> bytes = ReadFileBytes(path_);
  const std::size_t at = static_cast<std::size_t>(layout_.indexOffset);
  // One byte more than tileCount x 64, still inside the file.
  reader::PutU32(bytes, at, static_cast<std::uint32_t>(layout_.tiles.size() * 64 + 1));
  WriteFileBytes(path_, bytes);
  const std::uint64_t before = FileChecksum(path_);
  EXPECT_FALSE(CImageOperationManager::UnCompressBlockDataInfo(path_.c_str()));
  EXPECT_EQ(FileChecksum(path_), before);
}

TEST_F(MaintenanceTest, PathsThatAreNotLocalZtxFilesAreRefused) {
  Make(SlideRecipe{});
  const std::string copy = dir_.File("slide.bin");
  WriteFileBytes(copy, ReadFileBytes(path_));
  const std::uint64_t before = FileChecksum(copy);
  EXPECT_FALSE(CImageOperationManager::CompressBlockDataInfo(copy.c_str()));
  EXPECT_FALSE(CImageOperationManager::UnCompressBlockDataInfo(copy.c_str()));
  EXPECT_EQ(FileChecksum(copy), before);
  EXPECT_FALSE(CImageOperationManager::CompressBlockDataInfo("http://127.0.0.1:1/a.ztx"));
  EXPECT_FALSE(CImageOperationManager::UnCompressBlockDataInfo("http://127.0.0.1:1/a.ztx"));
  EXPECT_FALSE(CImageOperationManager::ChangeLabelInfo("http://127.0.0.1:1/a.ztx", path_.c_str()));
  EXPECT_FALSE(CImageOperationManager::CompressBlockDataInfo(nullptr));
  EXPECT_FALSE(CImageOperationManager::UnCompressBlockDataInfo(nullptr));
  EXPECT_FALSE(CImageOperationManager::CompressBlockDataInfo(dir_.File("none.ztx").c_str()));
}

// ---- label replacement ----

TEST_F(MaintenanceTest, LabelOfEqualLengthReplacesTheOldOne) {
  Make(SlideRecipe{});
  const std::vector<unsigned char> old = Label();
  ASSERT_FALSE(old.empty());
  std::vector<unsigned char> replacement(old.size());
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    replacement[i] = static_cast<unsigned char>(i * 7 + 3);
  }
  const std::string labelPath = dir_.File("label.jpg");
  WriteFileBytes(labelPath, replacement);
  EXPECT_TRUE(CImageOperationManager::ChangeLabelInfo(path_.c_str(), labelPath.c_str()));
  EXPECT_EQ(Label(), replacement);
}

TEST_F(MaintenanceTest, ShorterLabelLeavesTheOldTailInTheFile) {
  Make(SlideRecipe{});
  const std::vector<unsigned char> old = Label();
  ASSERT_GT(old.size(), 100u);
  const std::vector<unsigned char> replacement(60, 0xAB);
  const std::string labelPath = dir_.File("label.jpg");
  WriteFileBytes(labelPath, replacement);
  const std::vector<unsigned char> before = ReadFileBytes(path_);
  EXPECT_TRUE(CImageOperationManager::ChangeLabelInfo(path_.c_str(), labelPath.c_str()));
  EXPECT_EQ(Label(), replacement);
  const std::vector<unsigned char> after = ReadFileBytes(path_);
  ASSERT_EQ(after.size(), before.size());
  // Exactly the length field and the first 60 stream bytes changed.
  std::size_t changed = 0;
  for (std::size_t i = 0; i < after.size(); ++i) changed += after[i] != before[i];
  EXPECT_LE(changed, 60u + 4u);
  const std::size_t lengthField = static_cast<std::size_t>(layout_.labelOffset) + 20;
  EXPECT_EQ(ReadI32(after, lengthField), 60);
  const auto tailStart = std::search(before.begin(), before.end(), old.begin(), old.end());
  ASSERT_NE(tailStart, before.end());
  const std::size_t stream = static_cast<std::size_t>(tailStart - before.begin());
  EXPECT_TRUE(std::equal(old.begin() + 60, old.end(), after.begin() + stream + 60));
}

struct LabelRefusal {
  const char* name;
  int extraBytes;  // label size relative to the old stream
  bool empty;      // a zero-byte label file instead
  bool labelFileExists;
};

class RefusedLabelTest : public MaintenanceTest,
                         public ::testing::WithParamInterface<LabelRefusal> {};

TEST_P(RefusedLabelTest, WritesNothing) {
  const LabelRefusal& c = GetParam();
  Make(SlideRecipe{});
  const std::vector<unsigned char> old = Label();
  const std::string labelPath = dir_.File("label.jpg");
  if (c.labelFileExists) {
    const std::size_t size = c.empty ? 0 : old.size() + c.extraBytes;
    WriteFileBytes(labelPath, std::vector<unsigned char>(size, 0x11));
  }
  const std::uint64_t before = FileChecksum(path_);
  EXPECT_FALSE(CImageOperationManager::ChangeLabelInfo(path_.c_str(), labelPath.c_str()));
  EXPECT_EQ(FileChecksum(path_), before);
}

INSTANTIATE_TEST_SUITE_P(Labels, RefusedLabelTest,
                         ::testing::Values(LabelRefusal{"Longer", 1, false, true},
                                           LabelRefusal{"Empty", 0, true, true},
                                           LabelRefusal{"NoLabelFile", 0, false, false}),
                         [](const ::testing::TestParamInfo<LabelRefusal>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(MaintenanceTest, LabelIsNotWrittenIntoAnUnloadableSlide) {
  Make(SlideRecipe{});
  std::vector<unsigned char> bytes = ReadFileBytes(path_);
  reader::PutU32(bytes, 0, 0x12345678u);  // wrong marker
  WriteFileBytes(path_, bytes);
  const std::string labelPath = dir_.File("label.jpg");
  WriteFileBytes(labelPath, std::vector<unsigned char>(10, 1));
  const std::uint64_t before = FileChecksum(path_);
  EXPECT_FALSE(CImageOperationManager::ChangeLabelInfo(path_.c_str(), labelPath.c_str()));
  EXPECT_FALSE(CImageOperationManager::ChangeLabelInfo(nullptr, labelPath.c_str()));
  EXPECT_FALSE(CImageOperationManager::ChangeLabelInfo(path_.c_str(), nullptr));
  EXPECT_EQ(FileChecksum(path_), before);
}

}  // namespace
}  // namespace strata::test
