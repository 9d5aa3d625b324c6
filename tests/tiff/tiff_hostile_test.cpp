// Damaged and hostile TIFF files end in a clear failure with bounded
// memory: IFD chains that loop, absurd tile counts and sizes, tiles beyond
// the file, damaged tile data, and the file cut short at every structure.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "strata/tiff/tiff_slide.h"
#include "support/hostile_input.h"
#include "support/test_files.h"
#include "tiff/tiff_reference.h"

namespace strata::test {
namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Get16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
void Put32(Bytes& b, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A small classic little-endian SVS: two levels of 256-pixel JPEG tiles, a
// thumbnail and a label.
const Bytes& CleanFile() {
  static const Bytes* bytes = [] {
    TempDir dir;
    TiffRecipe recipe = TiffRecipes().front();
    recipe.name = "clean.svs";
    recipe.options.width = 600;
    recipe.options.height = 400;
    recipe.options.macro = tools::RgbPicture();
    return new Bytes(ReadFileBytes(WriteTiffSlide(dir, recipe)));
  }();
  return *bytes;
}

// The IFD chain of a classic TIFF.
std::vector<std::size_t> Ifds(const Bytes& b) {
  std::vector<std::size_t> ifds;
  for (std::size_t at = Get32(b, 4); at != 0 && ifds.size() < 64; at = Get32(b, at + 2 + 12 * Get16(b, at))) {
    ifds.push_back(at);
  }
  return ifds;
}

// Where the value (or the offset of the values) of `tag` sits in an IFD.
std::size_t ValueOf(const Bytes& b, std::size_t ifd, std::uint16_t tag) {
  for (std::size_t n = 0; n < Get16(b, ifd); ++n) {
    const std::size_t entry = ifd + 2 + 12 * n;
    if (Get16(b, entry) == tag) return entry + 8;
  }
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

// The first element of the array field `tag` of IFD 0.
std::size_t FirstElementOf(const Bytes& b, std::uint16_t tag) { return Get32(b, ValueOf(b, Ifds(b)[0], tag)); }

struct Damage {
  const char* name;
  std::function<void(Bytes&)> apply;
};

// Opens the damaged bytes and reads everything; the open or every read
// that fails says why.
void OpenAndReadEverything(const Bytes& bytes, Status* opened) {
  TempDir dir;
  const std::string path = dir.File("damaged.svs");
  WriteFileBytes(path, bytes);
  std::unique_ptr<tiff::TiffSlide> slide;
  *opened = tiff::TiffSlide::Open(path, &slide);
  if (!opened->ok()) return;
  for (int level = 0; level < static_cast<int>(slide->Description().levels.size()); ++level) {
    const SlideLevel& info = slide->Description().levels[static_cast<std::size_t>(level)];
    for (std::int64_t row = 0; row * info.tileHeight < info.height; ++row) {
      for (std::int64_t column = 0; column * info.tileWidth < info.width; ++column) {
        Tile tile;
        const Status read = slide->ReadTile(level, column, row, &tile);
        EXPECT_TRUE(read.ok() || !read.message().empty());
      }
    }
    Image rgba;
    const Status region = slide->ReadRegion(level, 3, 5, 300, 200, TileCacheUse{}, &rgba);
    EXPECT_TRUE(region.ok() || !region.message().empty());
  }
  for (const std::string& name : slide->Description().associatedImages) {
    Image rgb;
    const Status read = slide->ReadAssociatedImage(name, &rgb);
    EXPECT_TRUE(read.ok() || !read.message().empty());
  }
}

class DamagedTiff : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedTiff, FailsToOpenWithAReason) {
  Bytes bytes = CleanFile();
  GetParam().apply(bytes);
  Status opened;
  EXPECT_LT(PeakMemoryGrowth([&] { OpenAndReadEverything(bytes, &opened); }), 64 << 20);
  EXPECT_EQ(opened.code(), Status::Code::kDamaged) << opened.message();
  EXPECT_FALSE(opened.message().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedTiff,
    ::testing::Values(
        Damage{"LastIfdLoopsToTheFirst",
               [](Bytes& b) { const auto ifds = Ifds(b); Put32(b, ifds.back() + 2 + 12 * Get16(b, ifds.back()), static_cast<std::uint32_t>(ifds.front())); }},
        Damage{"IfdPointsAtItself",
               [](Bytes& b) { const std::size_t ifd = Ifds(b)[1]; Put32(b, ifd + 2 + 12 * Get16(b, ifd), static_cast<std::uint32_t>(ifd)); }},
        Damage{"AbsurdImageSize",
               [](Bytes& b) { Put32(b, ValueOf(b, Ifds(b)[0], 256), 0x7FFFFFF0u); Put32(b, ValueOf(b, Ifds(b)[0], 257), 0x7FFFFFF0u); }},
        Damage{"ZeroTileWidth", [](Bytes& b) { Put32(b, ValueOf(b, Ifds(b)[0], 322), 0); }},
        Damage{"TileBeyondTheFile",
               [](Bytes& b) { Put32(b, FirstElementOf(b, 324), static_cast<std::uint32_t>(b.size() + 1000)); }},
        Damage{"TileLongerThanTheFile",
               [](Bytes& b) { Put32(b, FirstElementOf(b, 325), 0x7FFFFFFFu); }},
        Damage{"TileTooLargeForItsPixels", [](Bytes& b) { Put32(b, FirstElementOf(b, 325), 40u << 20); }},
        Damage{"OffsetsArrayBeyondTheFile",
               [](Bytes& b) { Put32(b, ValueOf(b, Ifds(b)[0], 324), static_cast<std::uint32_t>(b.size() + 8)); }}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(DamagedTileData, OpensAndFailsTheReadsThatNeedIt) {
  Bytes bytes = CleanFile();
  const std::size_t tile = Get32(bytes, FirstElementOf(bytes, 324));
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(tile), 64, 0);
  TempDir dir;
  WriteFileBytes(dir.File("damaged.svs"), bytes);
  std::unique_ptr<tiff::TiffSlide> slide;
  ASSERT_TRUE(tiff::TiffSlide::Open(dir.File("damaged.svs"), &slide).ok());
  Tile stored;
  EXPECT_EQ(slide->ReadTile(0, 0, 0, &stored).code(), Status::Code::kDamaged);
  EXPECT_TRUE(slide->ReadTile(0, 1, 0, &stored).ok());
  Image rgba;
  const Status region = slide->ReadRegion(0, 0, 0, 300, 300, TileCacheUse{}, &rgba);
  EXPECT_FALSE(region.ok());
  EXPECT_FALSE(region.message().empty());
}

// Cut at every IFD, inside every IFD and its arrays, and every few hundred
// bytes in between: never a crash, a failure with a reason where the cut
// matters, memory bounded throughout.
TEST(TruncatedTiff, EndsCleanlyWhereverItIsCut) {
  const Bytes& clean = CleanFile();
  std::set<std::size_t> cuts = {0, 1, 4, 7, 8};
  for (std::size_t at = 16; at < clean.size(); at += 397) cuts.insert(at);
  for (const std::size_t ifd : Ifds(clean)) {
    for (std::size_t n = 0; n < Get16(clean, ifd); ++n) {
      cuts.insert(ifd + 2 + 12 * n + 5);
      const std::size_t values = Get32(clean, ifd + 2 + 12 * n + 8);
      if (values > 8 && values < clean.size()) cuts.insert(values + 3);
    }
  }
  int failed = 0;
  const std::int64_t growth = PeakMemoryGrowth([&] {
    for (const std::size_t cut : cuts) {
      Status opened;
      OpenAndReadEverything(Bytes(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(cut)),
                            &opened);
      if (!opened.ok()) {
        ++failed;
        EXPECT_FALSE(opened.message().empty()) << cut;
      }
    }
  });
  EXPECT_LT(growth, 64 << 20);
  // Only cuts beyond the last structure leave a readable file.
  EXPECT_GT(failed, static_cast<int>(cuts.size()) * 9 / 10);
}

}  // namespace
}  // namespace strata::test
