// A corpus of damaged slides made from writer slides of every version:
// truncation at every record boundary and at random points, header fields,
// index entries, section records and compressed indexes set to 0, -1, huge
// and off by one, entries pointing into the header, past the end and at each
// other, and flipped zlib bytes. Each case is checked through the exports
// against a small reference model of what the damaged file still holds:
// whether it opens, the exact bytes (or absence) of every tile, label and
// preview. Every other read must not crash nor touch more than a fixed
// amount of memory.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "strata/strata.h"
#include "support/hostile_input.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

constexpr std::int64_t kMaxTileBytes = 64LL << 20;
constexpr std::int64_t kMemoryAllowance = 64LL << 20;

// Header field positions of a version.
struct HeaderPlaces {
  std::size_t preview, label, thumbnail, index;
  bool wide;  // thumbnail and index offsets are 8 bytes (1.3 and later)
};

HeaderPlaces PlacesOf(float version) {
  switch (LayoutFor(version)) {
    case HeaderLayout::k1000: return {60, 64, 0, 68, false};
    case HeaderLayout::k1100:
    case HeaderLayout::k1200: return {60, 64, 68, 72, false};
    case HeaderLayout::k1300: return {52, 56, 60, 68, true};
  }
  return {};
}

std::string KeyOf(float scale, int x, int y) {
  char text[128];
  std::snprintf(text, sizeof text, "%.9f_%d_%d", static_cast<double>(scale), x, y);
  return text;
}

std::int64_t Get(const Bytes& file, std::size_t at, int size) {
  if (at + size > file.size()) return 0;
  return size == 8 ? ReadI64(file, at) : ReadI32(file, at);
}

// What the damaged file still holds, worked out independently of the reader.
struct Expected {
  bool opens = false;
  std::map<std::string, std::optional<Bytes>> tiles;  // original keys only
  std::optional<Bytes> label;
  std::optional<Bytes> preview;
};

std::optional<Bytes> SectionModel(const Bytes& file, std::int64_t position, bool wide) {
  constexpr std::size_t kRecordBytes = 52;
  if (position <= 0 || position + kRecordBytes > file.size()) return std::nullopt;
  const std::size_t at = static_cast<std::size_t>(position);
  const std::int32_t presence = ReadI32(file, at + kRecordPresence);
  const std::int32_t length = ReadI32(file, at + kRecordLength);
  const std::int64_t offset = Get(file, at + kRecordOffset, wide ? 8 : 4);
  if (presence == 0 || offset <= 0 || length <= 0 ||
      offset > static_cast<std::int64_t>(file.size()) - position - length) {
    return std::nullopt;
  }
  const auto start = file.begin() + position + offset;
  return Bytes(start, start + length);
}

// The expanded entries of the index, or nothing when it cannot be loaded.
std::optional<Bytes> IndexModel(const Bytes& file, bool compressed, std::int64_t count,
                                std::int64_t indexOffset, std::size_t entrySize) {
  const std::int64_t size = static_cast<std::int64_t>(file.size());
  if (count < 0 || indexOffset < 0) return std::nullopt;
  if (!compressed) {
    const std::int64_t bytes = count * static_cast<std::int64_t>(entrySize);
    if (bytes > INT32_MAX || indexOffset > size - bytes) return std::nullopt;
    return Bytes(file.begin() + indexOffset, file.begin() + indexOffset + bytes);
  }
  if (entrySize != 64 || indexOffset > size - 4) return std::nullopt;
  if (count == 0) return Bytes();
  const std::int64_t packed = static_cast<std::uint32_t>(ReadI32(file, indexOffset));
  const std::int64_t expanded = count * 64;
  if (packed == 0 || packed > INT32_MAX || indexOffset + 4 > size - packed ||
      expanded > packed * 1032 + 64 ||
      packed > static_cast<std::int64_t>(compressBound(expanded))) {
    return std::nullopt;
  }
  Bytes entries(static_cast<std::size_t>(expanded));
  uLongf produced = static_cast<uLongf>(expanded);
  if (uncompress(entries.data(), &produced, file.data() + indexOffset + 4,
                 static_cast<uLong>(packed)) != Z_OK ||
      static_cast<std::int64_t>(produced) != expanded) {
    return std::nullopt;
  }
  return entries;
}

// Versions from 1.2 keep property items between the header and the preview
// record: count, then identifier, length and value of each.
bool PropertyAreaModel(const Bytes& file, std::int64_t previewOffset) {
  if (previewOffset < 100 || previewOffset > static_cast<std::int64_t>(file.size())) return false;
  const std::size_t end = static_cast<std::size_t>(previewOffset);
  std::size_t at = 96;
  const std::int32_t count = ReadI32(file, at);
  at += 4;
  for (std::int32_t item = 0; item < count; ++item) {
    if (end - at < 8) return false;
    const std::int32_t length = ReadI32(file, at + 4);
    at += 8;
    if (length < 0 || static_cast<std::size_t>(length) > end - at) return false;
    at += static_cast<std::size_t>(length);
  }
  return true;
}

Expected Model(const Bytes& file, const SlideRecipe& recipe, const ztx::ZtxLayout& layout) {
  Expected expected;
  for (const ztx::WrittenTile& tile : layout.tiles)
    expected.tiles[KeyOf(tile.scale, tile.x, tile.y)];
  const HeaderPlaces places = PlacesOf(recipe.version);
  const bool v10 = recipe.version < 1.05f;
  const std::size_t entrySize = v10 ? 68 : 64;
  // A marker that carries every bit of the plain one passes; its 0x400 bit
  // (with the rest) says the index is compressed. Versions match within 1e-6.
  const std::uint32_t marker = file.size() >= 4 ? ReadU32(file, 0) : 0;
  const bool compressed = (marker & 0xEEEE04F1u) == 0xEEEE04F1u;
  if (file.size() < 96 || (marker & 0xEEEE01F1u) != 0xEEEE01F1u ||
      !(std::fabs(ReadF32(file, 12) - recipe.version) < 1e-6f)) {
    return expected;
  }
  if (recipe.version > 1.15f && !PropertyAreaModel(file, ReadI32(file, places.preview))) {
    return expected;
  }
  const std::int64_t count = ReadI32(file, 16);
  const std::int64_t indexOffset = Get(file, places.index, places.wide ? 8 : 4);
  const auto index = IndexModel(file, compressed, count, indexOffset, entrySize);
  if (!index) return expected;
  expected.opens = true;
  expected.label = SectionModel(file, ReadI32(file, places.label), !v10);
  expected.preview = SectionModel(file, ReadI32(file, places.preview), !v10);
  std::map<std::string, bool> filed;
  for (std::size_t at = 0; at + entrySize <= index->size(); at += entrySize) {
    const std::string key =
        KeyOf(ReadF32(*index, at + 20), ReadI32(*index, at + 4), ReadI32(*index, at + 8));
    if (!filed.emplace(key, true).second) continue;  // the first record wins
    auto original = expected.tiles.find(key);
    if (original == expected.tiles.end()) continue;
    const std::int64_t length = ReadI32(*index, at + kEntryLength);
    const std::int64_t offset = v10 ? ReadI32(*index, at + 40) : ReadI64(*index, at + kEntryOffset);
    std::int64_t start = 0;
    if (length <= 0 || length > kMaxTileBytes ||
        __builtin_add_overflow(indexOffset, offset, &start) || start < 0 ||
        start > static_cast<std::int64_t>(file.size()) - length) {
      continue;
    }
    original->second = Bytes(file.begin() + start, file.begin() + start + length);
  }
  return expected;
}

struct DamageCase {
  std::string name;
  Bytes file;
};

std::optional<Bytes> Fetched(bool ok, unsigned char* data, int length) {
  LibraryBytes owned(data);
  if (!ok || data == nullptr || length <= 0) return std::nullopt;
  return Bytes(data, data + length);
}

// Reads everything the model predicts and exercises the rest.
void CheckCase(const std::string& path, const Expected& expected, const ztx::ZtxLayout& layout) {
  IMAGE_INFO_STRUCT handle{};
  const bool opened = InitImageFileFunc(&handle, path.c_str());
  ASSERT_EQ(opened, expected.opens);
  if (!opened) return;
  for (const ztx::WrittenTile& tile : layout.tiles) {
    const std::optional<Bytes>& want = expected.tiles.at(KeyOf(tile.scale, tile.x, tile.y));
    unsigned char* query = nullptr;
    int length = -1;
    GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &query);
    ASSERT_EQ(length, want ? static_cast<int>(want->size()) : 0)
        << tile.scale << " " << tile.x << " " << tile.y;
    if (!want) continue;
    Bytes buffer(want->size());
    unsigned char* out = buffer.data();
    GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &out);
    EXPECT_EQ(buffer, *want);
  }
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  bool ok = GetLableInfoFunc(handle, &data, &length, &width, &height);
  EXPECT_EQ(Fetched(ok, data, length), expected.label);
  data = nullptr;
  ok = GetPriviewInfoFunc(handle, &data, &length, &width, &height);
  EXPECT_EQ(Fetched(ok, data, length), expected.preview);
  // No exact outcome here, only sane ones.
  const ztx::WrittenTile& first = layout.tiles.front();
  data = nullptr;
  GetImageRGBDataStreamFunc(&handle, first.scale, first.x, first.y, &length, &width, &height,
                            &data);
  if (data != nullptr) {
    EXPECT_EQ(length, width * height * 3);
  }
  Fetched(true, data, 0);
  data = nullptr;
  if (GetImageDataRoiFunc(handle, first.scale, 30, 20, 90, 70, &data, &length, false)) {
    EXPECT_EQ(length, 90 * 70 * 3);
  }
  Fetched(true, data, 0);
  data = nullptr;
  GetThumnailImageFunc(handle, &data, &length, &width, &height);
  Fetched(true, data, 0);
  UnInitImageFileFunc(&handle);
}

struct BaseSlide {
  const char* name;
  float version;
  bool compressed;
};

class DamagedCorpusTest : public ::testing::TestWithParam<BaseSlide> {
 protected:
  void SetUp() override {
    recipe_.version = GetParam().version;
    recipe_.compressIndex = GetParam().compressed;
    recipe_.width = 300;
    recipe_.height = 200;
    recipe_.blockSize = recipe_.version < 1.05f ? 256 : 64;
    recipe_.smallestLevel = 64;
    recipe_.jpegQuality = 30;
    const std::string path = MakeSlide(dir_, recipe_, &layout_);
    ASSERT_FALSE(path.empty());
    original_ = ReadFileBytes(path);
    places_ = PlacesOf(recipe_.version);
  }

  // Runs every case; returns how many there were.
  int RunAll(const std::vector<DamageCase>& cases) {
    const std::string path = dir_.File("damaged.ztx");
    for (const DamageCase& c : cases) {
      SCOPED_TRACE(c.name);
      WriteFileBytes(path, c.file);
      const Expected expected = Model(c.file, recipe_, layout_);
      const std::int64_t growth = PeakMemoryGrowth([&] { CheckCase(path, expected, layout_); });
      EXPECT_LT(growth, kMemoryAllowance);
      if (HasFatalFailure()) return 0;
    }
    RecordProperty("cases", static_cast<int>(cases.size()));
    return static_cast<int>(cases.size());
  }

  std::size_t IndexEnd() const {
    return static_cast<std::size_t>(layout_.indexOffset + layout_.indexBytes);
  }

  void AddValues(std::vector<DamageCase>& cases, const std::string& name, std::size_t at, int size,
                 std::int64_t original) {
    const std::int64_t values[] = {0, -1, size == 8 ? INT64_MAX : INT32_MAX, original + 1,
                                   original - 1};
    for (std::int64_t value : values) {
      Bytes file = original_;
      if (size == 8) {
        PutI64(file, at, value);
      } else {
        PutI32(file, at, static_cast<std::int32_t>(value));
      }
      cases.push_back({name + "=" + std::to_string(value), file});
    }
  }

  TempDir dir_;
  SlideRecipe recipe_;
  ztx::ZtxLayout layout_;
  Bytes original_;
  HeaderPlaces places_;
};

TEST_P(DamagedCorpusTest, Truncations) {
  std::vector<std::size_t> cuts = {0, 4, 12, 16, 95, 96, 97, 1023, 1024};
  for (std::int64_t at :
       {layout_.previewOffset, layout_.labelOffset, layout_.thumbnailOffset, layout_.indexOffset}) {
    if (at > 0)
      cuts.insert(cuts.end(), {static_cast<std::size_t>(at), static_cast<std::size_t>(at) + 20});
  }
  cuts.insert(cuts.end(), {IndexEnd() - 1, IndexEnd(), IndexEnd() + 1});
  for (const ztx::WrittenTile& tile : layout_.tiles) {
    const std::size_t start = static_cast<std::size_t>(layout_.indexOffset + tile.offset);
    cuts.insert(cuts.end(), {start, start + static_cast<std::size_t>(tile.length) - 1});
  }
  std::mt19937 random(7);
  for (int i = 0; i < 40; ++i) cuts.push_back(random() % original_.size());
  std::vector<DamageCase> cases;
  for (std::size_t cut : cuts) {
    if (cut >= original_.size()) continue;
    cases.push_back(
        {"cut at " + std::to_string(cut), Bytes(original_.begin(), original_.begin() + cut)});
  }
  EXPECT_GT(RunAll(cases), 60);
}

TEST_P(DamagedCorpusTest, HeaderFields) {
  std::vector<DamageCase> cases;
  AddValues(cases, "marker", 0, 4, static_cast<std::int32_t>(ReadU32(original_, 0)));
  AddValues(cases, "version", 12, 4, ReadI32(original_, 12));
  for (std::size_t at : {16, 20, 24, 28}) {
    AddValues(cases, "field@" + std::to_string(at), at, 4, ReadI32(original_, at));
  }
  AddValues(cases, "preview", places_.preview, 4, ReadI32(original_, places_.preview));
  AddValues(cases, "label", places_.label, 4, ReadI32(original_, places_.label));
  const int wide = places_.wide ? 8 : 4;
  AddValues(cases, "index", places_.index, wide, Get(original_, places_.index, wide));
  if (recipe_.version > 1.05f) {
    AddValues(cases, "thumbnail", places_.thumbnail, wide, Get(original_, places_.thumbnail, wide));
    AddValues(cases, "block", 88, 4, ReadI32(original_, 88));
  }
  EXPECT_GE(RunAll(cases), 45);
}

TEST_P(DamagedCorpusTest, SectionRecords) {
  std::vector<DamageCase> cases;
  const int wide = recipe_.version > 1.05f ? 8 : 4;
  for (std::int64_t position :
       {layout_.labelOffset, layout_.previewOffset, layout_.thumbnailOffset}) {
    if (position <= 0) continue;
    const std::size_t at = static_cast<std::size_t>(position);
    const std::string name = "record@" + std::to_string(at);
    for (std::size_t field : {kRecordPresence, kRecordHeight, kRecordWidth, kRecordLength}) {
      AddValues(cases, name + "+" + std::to_string(field), at + field, 4,
                ReadI32(original_, at + field));
    }
    const std::int64_t offset = Get(original_, at + kRecordOffset, wide);
    AddValues(cases, name + " offset", at + kRecordOffset, wide, offset);
    // Pointing at the header, at the record itself and at the end of the file.
    for (std::int64_t target : {-position + 1, std::int64_t{1},
                                static_cast<std::int64_t>(original_.size()) - position - 8}) {
      Bytes file = original_;
      if (wide == 8) {
        PutI64(file, at + kRecordOffset, target);
      } else {
        PutI32(file, at + kRecordOffset, static_cast<std::int32_t>(target));
      }
      cases.push_back({name + " offset to " + std::to_string(target), file});
    }
  }
  EXPECT_GE(RunAll(cases), 40);
}

TEST_P(DamagedCorpusTest, IndexEntries) {
  std::vector<DamageCase> cases;
  if (recipe_.compressIndex) {
    const std::size_t at = static_cast<std::size_t>(layout_.indexOffset);
    AddValues(cases, "packed length", at, 4, ReadI32(original_, at));
    std::mt19937 random(11);
    for (int i = 0; i < 60; ++i) {
      Bytes file = original_;
      const std::size_t flip = at + 4 + random() % static_cast<std::size_t>(layout_.indexBytes - 4);
      file[flip] ^= static_cast<unsigned char>(1u << (random() % 8));
      cases.push_back({"zlib byte " + std::to_string(flip), file});
    }
    EXPECT_GE(RunAll(cases), 60);
    return;
  }
  const bool v10 = recipe_.version < 1.05f;
  const std::size_t entries = layout_.tiles.size();
  for (std::size_t entry = 0; entry < entries; entry += (entry < 4 ? 1 : 3)) {
    const std::size_t at = IndexEntryAt(layout_, recipe_.version, entry);
    const std::string name = "entry " + std::to_string(entry);
    for (std::size_t field : {std::size_t{4}, std::size_t{8}, kEntryWidth, kEntryHeight,
                              std::size_t{20}, kEntryLength}) {
      AddValues(cases, name + "+" + std::to_string(field), at + field, 4,
                ReadI32(original_, at + field));
    }
    const std::size_t offsetAt = v10 ? at + 40 : at + kEntryOffset;
    const int size = v10 ? 4 : 8;
    AddValues(cases, name + " offset", offsetAt, size, Get(original_, offsetAt, size));
    // Into the header, past the end, onto the neighbouring tile.
    const ztx::WrittenTile& other = layout_.tiles[(entry + 1) % entries];
    for (std::int64_t target :
         {-layout_.indexOffset, static_cast<std::int64_t>(original_.size()) - layout_.indexOffset,
          other.offset, other.offset + other.length / 2}) {
      Bytes file = original_;
      if (size == 8) {
        PutI64(file, offsetAt, target);
      } else {
        PutI32(file, offsetAt, static_cast<std::int32_t>(target));
      }
      cases.push_back({name + " offset to " + std::to_string(target), file});
    }
  }
  EXPECT_GE(RunAll(cases), 150);
}

INSTANTIATE_TEST_SUITE_P(
    Slides, DamagedCorpusTest,
    ::testing::Values(BaseSlide{"V10", 1.0f, false}, BaseSlide{"V11", 1.1f, false},
                      BaseSlide{"V11Compressed", 1.1f, true}, BaseSlide{"V12", 1.2f, false},
                      BaseSlide{"V13", 1.3f, false}, BaseSlide{"V13Compressed", 1.3f, true},
                      BaseSlide{"V20", 2.0f, false}, BaseSlide{"V20Compressed", 2.0f, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace strata::test::reader
