// The ZTX header: layouts of every version, marker and magic checks, version
// dispatch, property items, extra texts and hostile header bytes.
#include "strata/ztx/ztx_header.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "strata/model/file_operation_tool.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_image_blocks.h"
#include "strata/ztx/ztx_tile_block.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

std::string WriteSlide(const TempDir& dir, const Bytes& bytes, const std::string& name = "h.ztx") {
  const std::string path = dir.File(name);
  WriteFileBytes(path, bytes);
  return path;
}

// A header of `fields` followed by an empty property area (1.2 and later).
Bytes HeaderWithEmptyArea(HeaderFields fields) {
  fields.previewOffset = 100;
  Bytes bytes = fields.Build();
  AppendPropertyArea(bytes, {}, 0);
  return bytes;
}

// Reads a header of class T straight from a file, without the slide's dispatch.
template <typename T>
int LoadWithClass(const std::string& path, T& header) {
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(path.c_str()));
  if (reader == nullptr || !reader->Open(path.c_str())) return -2;
  header.SetFileOperationTool(reader.get());
  const int result = header.LoadRecord();
  header.SetFileOperationTool(nullptr);
  reader->Close();
  return result;
}

// --- layouts ---

class HeaderVersionLayoutTest : public ::testing::TestWithParam<float> {};

TEST_P(HeaderVersionLayoutTest, GettersFollowTheVersionsLayout) {
  const float version = GetParam();
  const HeaderLayout layout = LayoutFor(version);
  HeaderFields fields;
  fields.version = version;
  fields.tileCount = 7;
  fields.height = 700;
  fields.width = 1000;
  fields.scanScale = 40;
  fields.imageFormat = std::string("JPEG\0\0\0\0", 8);
  // Written for every layout: a 1.0 or 1.1 header must not report them.
  fields.spendTime = 3723456;
  fields.scanTime = 1600000000;
  fields.labelOffset = 5000;
  fields.thumbnailOffset = 6000;
  fields.indexOffset = 7000;
  fields.captureResolution = 0.25f;
  fields.blockSize = 512;
  TempDir dir;
  Bytes bytes = HeaderWithEmptyArea(fields);
  if (layout == HeaderLayout::k1100) {
    // A 1.1 file reads bytes 40-51 as a float and a double and discards them.
    PutF32(bytes, 40, 12345.0f);
    PutF64(bytes, 44, 1.0e9);
  }
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, bytes), &result);
  ASSERT_EQ(result, 0);
  CZTXDataHeader* header = slide->GetZtxHeader();
  ASSERT_NE(header, nullptr);

  const bool v10 = layout == HeaderLayout::k1000;
  const bool v11 = layout == HeaderLayout::k1100;
  EXPECT_EQ(header->GetWidth(), 1000);
  EXPECT_EQ(header->GetHeight(), 700);
  EXPECT_EQ(header->GetScanScale(), 40);
  EXPECT_EQ(header->GetVersion(), version);
  EXPECT_EQ(header->GetTileCount(), 7);
  EXPECT_EQ(header->GetCaptureResolution(), 0.25f);
  EXPECT_EQ(header->GetBlockSize(), v10 ? 256 : 512);
  EXPECT_EQ(header->GetSpendTime(), v10 || v11 ? 0 : 3723456);
  EXPECT_EQ(header->GetScanDuration(), v10 || v11 ? 0u : 3723456u);
  EXPECT_EQ(header->GetScanTime(), v11 ? 0 : 1600000000);
  EXPECT_EQ(header->GetIndexOffset(), 7000);
  EXPECT_EQ(header->GetPreviewOffset(), 100);
  EXPECT_EQ(header->GetPreviewPos(), 100);
  EXPECT_EQ(header->GetLabelOffset(), 5000);
  EXPECT_EQ(header->GetLabelPos(), 5000);
  EXPECT_EQ(header->GetThumbnailOffset(), v10 ? 0 : 6000);
  EXPECT_EQ(std::string(header->GetImageFormat(), 4), "JPEG");
  EXPECT_EQ(slide->GetTileEntrySize(), v10 ? 68 : 64);
  EXPECT_EQ(header->GetIntItem(33), 0);
  EXPECT_STREQ(header->GetTextItem(29), "");

  // The dispatch created exactly the class of the version.
  const std::type_info& created = typeid(*header);
  switch (layout) {
    case HeaderLayout::k1000: EXPECT_EQ(created, typeid(CZTXDataHeader)); break;
    case HeaderLayout::k1100: EXPECT_EQ(created, typeid(CZTXDataHeader1100)); break;
    case HeaderLayout::k1200: EXPECT_EQ(created, typeid(CZTXDataHeader1200)); break;
    case HeaderLayout::k1300: EXPECT_EQ(created, typeid(CZTXDataHeader1300)); break;
  }
  if (!v10) {
    EXPECT_EQ(dynamic_cast<CZTXDataHeader1100&>(*header).GetThumbnailPos(), 6000);
  }
  // Tile and section blocks of the version's layout.
  std::unique_ptr<CDataBlock> tileBlock(slide->CreateTileBlock());
  ASSERT_NE(tileBlock, nullptr);
  EXPECT_EQ(typeid(*tileBlock), v10 ? typeid(CZTXDataBlock) : typeid(CZTXDataBlock1100));
  CDataBlock* label = slide->GetLabelBlock();
  CDataBlock* preview = slide->GetPreviewBlock();
  CDataBlock* thumb = slide->GetThumbBlock();
  ASSERT_TRUE(label != nullptr && preview != nullptr && thumb != nullptr);
  EXPECT_EQ(typeid(*label), v10 ? typeid(CZTXLabelDataBlock) : typeid(CZTXLabelDataBlock1100));
  EXPECT_EQ(typeid(*preview),
            v10 ? typeid(CZTXPreViewDataBlock) : typeid(CZTXPreViewDataBlock1100));
  EXPECT_EQ(typeid(*thumb), v10 ? typeid(CZTXThumDataBlock) : typeid(CZTXThumDataBlock1100));
  EXPECT_EQ(slide->GetLabelBlock(), label);  // created once
}

INSTANTIATE_TEST_SUITE_P(Versions, HeaderVersionLayoutTest,
                         ::testing::Values(1.0f, 1.1f, 1.2f, 1.3f, 1.4f, 1.5f, 1.6f, 1.7f, 2.0f));

TEST(HeaderVersionLayoutTest, Version10ScanTimeIsSignExtended) {
  HeaderFields fields;
  fields.version = 1.0f;
  fields.scanTime = -5;
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, fields.Build()), &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->GetZtxHeader()->GetScanTime(), -5);
}

TEST(HeaderVersionLayoutTest, Version13KeepsPositionsAbove4GiB) {
  HeaderFields fields;
  fields.version = 1.3f;
  fields.thumbnailOffset = 5LL << 30;
  fields.indexOffset = (6LL << 30) + 12;
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, HeaderWithEmptyArea(fields)), &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->GetZtxHeader()->GetThumbnailOffset(), 5LL << 30);
  EXPECT_EQ(slide->GetZtxHeader()->GetIndexOffset(), (6LL << 30) + 12);
}

TEST(HeaderVersionLayoutTest, Version12PositionsOf2GiBComeBackNegative) {
  HeaderFields fields;
  fields.version = 1.2f;
  Bytes bytes = HeaderWithEmptyArea(fields);
  PutU32(bytes, 68, 0x80000000u);
  PutU32(bytes, 72, 0xFFFFFFF0u);
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, bytes), &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(slide->GetZtxHeader()->GetThumbnailOffset(), -2147483648LL);
  EXPECT_EQ(slide->GetZtxHeader()->GetIndexOffset(), -16);
}

TEST(HeaderVersionLayoutTest, Version10FileOfExactly96BytesLoads) {
  HeaderFields fields;
  fields.version = 1.0f;
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, fields.Build()), &result);
  EXPECT_EQ(result, 0);
}

// --- marker ---

struct MarkerCase {
  std::uint32_t marker;
  bool loads;
};

class MarkerTest : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerTest, MarkerCarryingEveryPlainBitPasses) {
  HeaderFields fields;
  fields.marker = GetParam().marker;
  TempDir dir;
  const std::string path = WriteSlide(dir, HeaderWithEmptyArea(fields));
  int result = 0;
  auto slide = OpenHeaderOnly(path, &result);
  EXPECT_EQ(result == 0, GetParam().loads);
  CZTXDataFile probe;
  ASSERT_TRUE(probe.OpenFile(path.c_str()));
  EXPECT_EQ(probe.ProbeVersion() == 0, GetParam().loads);
  CZTXDataHeader1300 header;
  EXPECT_EQ(LoadWithClass(path, header) == 0, GetParam().loads);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, MarkerTest,
    ::testing::Values(MarkerCase{0xEEEE01F1u, true}, MarkerCase{0xEEEE05F1u, true},
                      MarkerCase{0xFFFFFFFFu, true}, MarkerCase{0xEEEE00F1u, false},
                      MarkerCase{0xEEEE01F0u, false}, MarkerCase{0x6EEE01F1u, false},
                      MarkerCase{0x00000000u, false}));

TEST(MarkerTest, NormalisationRewritesOnlyMarkersWithEveryBit) {
  unsigned char bytes[4];
  const std::uint32_t compressed = strata::ztx::kZtxCompressedMarker;
  std::memcpy(bytes, &compressed, 4);
  strata::ztx::NormaliseMarker(bytes);
  std::uint32_t value = 0;
  std::memcpy(&value, bytes, 4);
  EXPECT_EQ(value, strata::ztx::kZtxMarker);
  const std::uint32_t lacking = 0xEEEE00F1u;
  std::memcpy(bytes, &lacking, 4);
  strata::ztx::NormaliseMarker(bytes);
  std::memcpy(&value, bytes, 4);
  EXPECT_EQ(value, lacking);
}

// --- magic ---

struct MagicCase {
  float version;
  std::string magic;  // 8 bytes
  bool loads;
};

class MagicTest : public ::testing::TestWithParam<MagicCase> {};

TEST_P(MagicTest, MagicDecidesWhetherTheHeaderLoads) {
  HeaderFields fields;
  fields.version = GetParam().version;
  fields.magic = GetParam().magic;
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, HeaderWithEmptyArea(fields)), &result);
  EXPECT_EQ(result == 0, GetParam().loads);
}

INSTANTIATE_TEST_SUITE_P(
    Magics, MagicTest,
    ::testing::Values(MagicCase{1.3f, std::string("ZTXL\0\0\0\0", 8), true},
                      MagicCase{2.0f, std::string("ZTXL\0\0\0\0", 8), true},
                      MagicCase{1.2f, std::string("ZTXL\0\0\0\0", 8), false},
                      MagicCase{1.1f, std::string("ZTXL\0\0\0\0", 8), false},
                      MagicCase{1.0f, std::string("ZTXL\0\0\0\0", 8), false},
                      MagicCase{1.3f, std::string("ZTXLx\0\0\0", 8), false},
                      MagicCase{1.3f, std::string("ZTX\0\xff\xfe\x01\x02", 8), true},
                      MagicCase{1.0f, std::string("ZTX\0junk", 8), true},
                      MagicCase{1.2f, std::string("ZTY\0\0\0\0\0", 8), false},
                      MagicCase{1.3f, std::string("ztx\0\0\0\0\0", 8), false}));

// --- version dispatch and per-class checks ---

class UnknownVersionTest : public ::testing::TestWithParam<float> {};

TEST_P(UnknownVersionTest, YieldsNoHeaderAndNoSlide) {
  HeaderFields fields;
  fields.version = GetParam();
  TempDir dir;
  const std::string path = WriteSlide(dir, HeaderWithEmptyArea(fields));
  CZTXDataFile slide;
  ASSERT_TRUE(slide.OpenFile(path.c_str()));
  ASSERT_EQ(slide.ProbeVersion(), 0);
  EXPECT_EQ(slide.GetHeader(), nullptr);
  EXPECT_EQ(slide.GetZtxHeader(), nullptr);
  EXPECT_EQ(slide.CreateTileBlock(), nullptr);
  EXPECT_EQ(slide.LoadFile(), -1);
  EXPECT_EQ(slide.LoadFileBlock(0, 0, 0, 0, 0.0f), -1);
}

INSTANTIATE_TEST_SUITE_P(Versions, UnknownVersionTest,
                         ::testing::Values(1.25f, 2.5f, 1.8f, 3.0f, 0.9f, 1.0001f, 0.0f,
                                           std::numeric_limits<float>::quiet_NaN(),
                                           std::numeric_limits<float>::infinity()));

TEST(VersionDispatchTest, DifferenceBelowOneMillionthStillMatches) {
  EXPECT_TRUE(strata::ztx::SameVersion(std::nextafter(1.3f, 2.0f), 1.3f));
  EXPECT_TRUE(strata::ztx::SameVersion(std::nextafter(1.0f, 0.0f), 1.0f));
  EXPECT_FALSE(strata::ztx::SameVersion(1.00001f, 1.0f));
  EXPECT_FALSE(strata::ztx::SameVersion(std::numeric_limits<float>::quiet_NaN(), 1.0f));
}

struct ClassCheckCase {
  int headerClass;  // 1000, 1100, 1200, 1300
  float version;
  bool loads;
};

class ClassVersionCheckTest : public ::testing::TestWithParam<ClassCheckCase> {};

TEST_P(ClassVersionCheckTest, EachClassRefusesVersionsAboveItsOwn) {
  const ClassCheckCase& c = GetParam();
  HeaderFields fields;
  fields.version = c.version;
  TempDir dir;
  Bytes bytes = HeaderWithEmptyArea(fields);
  const std::string path = WriteSlide(dir, bytes);
  int result = -3;
  switch (c.headerClass) {
    case 1000: {
      CZTXDataHeader h;
      result = LoadWithClass(path, h);
      break;
    }
    case 1100: {
      CZTXDataHeader1100 h;
      result = LoadWithClass(path, h);
      break;
    }
    case 1200: {
      CZTXDataHeader1200 h;
      result = LoadWithClass(path, h);
      break;
    }
    case 1300: {
      CZTXDataHeader1300 h;
      result = LoadWithClass(path, h);
      break;
    }
  }
  EXPECT_EQ(result == 0, c.loads);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, ClassVersionCheckTest,
    ::testing::Values(ClassCheckCase{1000, 1.0f, true}, ClassCheckCase{1000, 1.00005f, true},
                      ClassCheckCase{1000, 1.0002f, false}, ClassCheckCase{1000, 1.1f, false},
                      ClassCheckCase{1100, 1.1f, true}, ClassCheckCase{1100, 1.2f, false},
                      ClassCheckCase{1200, 1.2f, true}, ClassCheckCase{1200, 1.3f, false},
                      ClassCheckCase{1300, 2.5f, true}, ClassCheckCase{1300, 1.3f, true}));

// --- property items ---

class PropertyItemTest : public ::testing::Test {
 protected:
  CZTXDataHeader* Load(float version, const std::vector<Item>& items, std::int32_t count) {
    HeaderFields fields;
    fields.version = version;
    Bytes bytes = fields.Build();
    const std::int32_t end = AppendPropertyArea(bytes, items, count);
    PutI32(bytes, LayoutFor(version) == HeaderLayout::k1300 ? 52 : 60, end);
    int result = 0;
    slide_ = OpenHeaderOnly(WriteSlide(dir_, bytes), &result);
    if (result != 0) return nullptr;
    return slide_->GetZtxHeader();
  }

  TempDir dir_;
  std::unique_ptr<CZTXDataFile> slide_;
};

TEST_F(PropertyItemTest, FirstItemOfAnIdentifierWins) {
  CZTXDataHeader* header = Load(1.2f, {{29, "SN-FIRST"}, {29, "SN-SECOND"}}, 2);
  ASSERT_NE(header, nullptr);
  EXPECT_STREQ(header->GetTextItem(29), "SN-FIRST");
  ASSERT_EQ(header->Items().size(), 2u);
}

TEST_F(PropertyItemTest, IntegerFloatAndTextValues) {
  const float resolution = 0.5f;
  CZTXDataHeader* header = Load(1.3f,
                                {{33, Int32Value(2)},
                                 {40, Int32Value(-3)},
                                 {60, std::string(reinterpret_cast<const char*>(&resolution), 4)},
                                 {49, "DAPI"},
                                 {77, "unknown but kept"}},
                                5);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->GetIntItem(33), 2);
  EXPECT_EQ(header->GetIntItem(40), -3);
  EXPECT_EQ(header->GetFloatItem(60), 0.5f);
  EXPECT_STREQ(header->GetTextItem(49), "DAPI");
  EXPECT_STREQ(header->GetTextItem(77), "unknown but kept");
  EXPECT_EQ(header->FindItem(77)->GetLength(), 16);
}

TEST_F(PropertyItemTest, MissingAndEmptyItemsGiveZeroAndEmptyText) {
  CZTXDataHeader* header = Load(1.2f, {{29, ""}}, 1);
  ASSERT_NE(header, nullptr);
  EXPECT_STREQ(header->GetTextItem(29), "");
  EXPECT_EQ(header->GetIntItem(29), 0);
  EXPECT_EQ(header->GetFloatItem(29), 0.0f);
  const char* unknown = header->GetTextItem(12345);
  ASSERT_NE(unknown, nullptr);
  EXPECT_STREQ(unknown, "");
  EXPECT_EQ(header->GetIntItem(12345), 0);
  EXPECT_EQ(header->GetFloatItem(12345), 0.0f);
}

TEST_F(PropertyItemTest, ShortValuesCountMissingBytesAsZero) {
  CZTXDataHeader* header = Load(1.2f, {{31, std::string("\x34\x12", 2)}, {32, "\x7f"}}, 2);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->GetIntItem(31), 0x1234);
  EXPECT_EQ(header->GetIntItem(32), 0x7f);
}

TEST_F(PropertyItemTest, CountOfZeroOrLessReadsNoItems) {
  for (std::int32_t count : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
    CZTXDataHeader* header = Load(1.3f, {{29, "ignored"}}, count);
    ASSERT_NE(header, nullptr) << count;
    EXPECT_TRUE(header->Items().empty());
  }
}

TEST_F(PropertyItemTest, ReloadingDoesNotDuplicateItems) {
  CZTXDataHeader* header = Load(1.3f, {{29, "SN"}}, 1);
  ASSERT_NE(header, nullptr);
  ASSERT_EQ(header->LoadRecord(), 0);
  EXPECT_EQ(header->Items().size(), 1u);
}

// Property areas that claim more than they hold fail the load.
struct HostileAreaCase {
  const char* name;
  std::int32_t declaredCount;
  std::vector<Item> items;
  int previewOffsetDelta;  // added to the area's true end
  int truncateBy;          // bytes cut from the end of the file
};

class HostilePropertyAreaTest : public ::testing::TestWithParam<HostileAreaCase> {};

TEST_P(HostilePropertyAreaTest, LoadFails) {
  const HostileAreaCase& c = GetParam();
  HeaderFields fields;
  fields.version = 1.3f;
  Bytes bytes = fields.Build();
  const std::int32_t end = AppendPropertyArea(bytes, c.items, c.declaredCount);
  PutI32(bytes, 52, end + c.previewOffsetDelta);
  bytes.resize(bytes.size() - static_cast<std::size_t>(c.truncateBy));
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, bytes), &result);
  EXPECT_EQ(result, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, HostilePropertyAreaTest,
    ::testing::Values(
        HostileAreaCase{"CountAboveItems", 3, {{29, "SN"}}, 0, 0},
        HostileAreaCase{"HugeCount", std::numeric_limits<std::int32_t>::max(), {{29, "SN"}}, 0, 0},
        HostileAreaCase{"ItemPastArea", 1, {{29, "SERIAL"}}, -3, 0},
        HostileAreaCase{"ItemHeaderPastArea", 2, {{29, "SN"}, {30, "X"}}, -7, 0},
        HostileAreaCase{"AreaPastFile", 1, {{29, "SERIAL"}}, 0, 3},
        HostileAreaCase{"PreviewOffsetPastFile", 0, {}, 4096, 0}),
    [](const ::testing::TestParamInfo<HostileAreaCase>& info) { return info.param.name; });

TEST(HostilePropertyAreaTest, NegativeItemLengthFails) {
  HeaderFields fields;
  fields.version = 1.2f;
  Bytes bytes = fields.Build();
  AppendPropertyArea(bytes, {{29, "ABCDEFGH"}}, 1);
  PutI32(bytes, 104, -4);
  PutI32(bytes, 60, static_cast<std::int32_t>(bytes.size()));
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, bytes), &result);
  EXPECT_EQ(result, -1);
}

class SmallPreviewOffsetTest : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(SmallPreviewOffsetTest, PreviewOffsetBelow100Fails) {
  HeaderFields fields;
  fields.version = 1.3f;
  Bytes bytes = fields.Build();
  AppendPropertyArea(bytes, {}, 0);
  bytes.resize(400, 0);
  PutI32(bytes, 52, GetParam());
  TempDir dir;
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, bytes), &result);
  EXPECT_EQ(result, -1);
}

INSTANTIATE_TEST_SUITE_P(Offsets, SmallPreviewOffsetTest,
                         ::testing::Values(99, 97, 96, 95, 0, -1,
                                           std::numeric_limits<std::int32_t>::min()));

// Every cut inside the header or the item count leaves a file that must not load.
class TruncatedHeaderTest : public ::testing::TestWithParam<float> {};

TEST_P(TruncatedHeaderTest, EveryCutBeforeTheEndFails) {
  HeaderFields fields;
  fields.version = GetParam();
  Bytes bytes = fields.Build();
  const bool hasArea = LayoutFor(GetParam()) >= HeaderLayout::k1200;
  std::size_t fullSize = 96;
  if (hasArea) fullSize = static_cast<std::size_t>(AppendPropertyArea(bytes, {{29, "SN"}}, 1));
  if (hasArea)
    PutI32(bytes, LayoutFor(GetParam()) == HeaderLayout::k1300 ? 52 : 60,
           static_cast<std::int32_t>(fullSize));
  TempDir dir;
  for (std::size_t cut = 0; cut < fullSize; ++cut) {
    const Bytes truncated(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    int result = 0;
    auto slide = OpenHeaderOnly(WriteSlide(dir, truncated), &result);
    EXPECT_EQ(result, -1) << "cut at " << cut;
  }
  int result = 0;
  auto slide = OpenHeaderOnly(WriteSlide(dir, bytes), &result);
  EXPECT_EQ(result, 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, TruncatedHeaderTest,
                         ::testing::Values(1.0f, 1.1f, 1.2f, 1.3f, 2.0f));

// --- extra texts and setters ---

TEST(ExtraTextTest, OlderClassesHaveNone) {
  CZTXDataHeader v10;
  CZTXDataHeader1100 v11;
  for (CZTXDataHeader* header :
       {static_cast<CZTXDataHeader*>(&v10), static_cast<CZTXDataHeader*>(&v11)}) {
    header->SetExtraTextA("alpha");
    header->SetExtraTextB("beta");
    char dst[16] = "untouched";
    EXPECT_FALSE(header->GetExtraTextA(dst));
    EXPECT_FALSE(header->GetExtraTextB(dst));
    EXPECT_STREQ(dst, "untouched");
  }
}

TEST(ExtraTextTest, UnsetTextReportsFalseWithoutWriting) {
  CZTXDataHeader1300 header;
  char dst[16] = "untouched";
  EXPECT_FALSE(header.GetExtraTextA(dst));
  EXPECT_FALSE(header.GetExtraTextB(dst));
  EXPECT_STREQ(dst, "untouched");
}

TEST(ExtraTextTest, TextsAreCopiedWithoutTerminatorAndReplaced) {
  CZTXDataHeader1200 header;
  header.SetExtraTextA("alpha");
  header.SetExtraTextB("be");
  char dst[16];
  std::memset(dst, 'x', sizeof dst);
  ASSERT_TRUE(header.GetExtraTextA(dst));
  EXPECT_EQ(std::string(dst, 6), "alphax");
  header.SetExtraTextA(nullptr);  // a null text changes nothing
  std::memset(dst, 'x', sizeof dst);
  ASSERT_TRUE(header.GetExtraTextA(dst));
  EXPECT_EQ(std::string(dst, 6), "alphax");
  header.SetExtraTextA("z");
  std::memset(dst, 'x', sizeof dst);
  ASSERT_TRUE(header.GetExtraTextA(dst));
  EXPECT_EQ(std::string(dst, 2), "zx");
  std::memset(dst, 'x', sizeof dst);
  ASSERT_TRUE(header.GetExtraTextB(dst));
  EXPECT_EQ(std::string(dst, 3), "bex");
}

TEST(HeaderSetterTest, SettersChangeMemoryOnly) {
  HeaderFields fields;
  fields.version = 1.3f;
  fields.tileCount = 4;
  fields.blockSize = 256;
  TempDir dir;
  const std::string path = WriteSlide(dir, HeaderWithEmptyArea(fields));
  const std::uint64_t before = FileChecksum(path);
  int result = 0;
  auto slide = OpenHeaderOnly(path, &result);
  ASSERT_EQ(result, 0);
  auto* header = dynamic_cast<CZTXDataHeader1300*>(slide->GetZtxHeader());
  ASSERT_NE(header, nullptr);
  header->SetTileCount(9);
  header->SetBlockSize(512);
  header->SetScanTime(123456789012LL);
  header->SetSpendTime(60000);
  EXPECT_EQ(header->GetTileCount(), 9);
  EXPECT_EQ(header->GetBlockSize(), 512);
  EXPECT_EQ(header->GetScanTime(), 123456789012LL);
  EXPECT_EQ(header->GetSpendTime(), 60000);
  EXPECT_EQ(header->GetScanDuration(), 60000u);
  slide->CloseFile();
  EXPECT_EQ(FileChecksum(path), before);
}

}  // namespace
}  // namespace strata::test::reader
