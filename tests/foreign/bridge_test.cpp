// DMETRIX and MDS slides through the stand-in bridges (tests/standins),
// driven through the library's exports.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "foreign/foreign_test_util.h"
#include "standins/synthetic_slide.h"
#include "strata/foreign/bridge_data_file.h"
#include "strata/model/image_codec.h"
#include "strata/model/lookup_table.h"
#include "strata/model/pixel_ops.h"

namespace strata::test {
namespace {

const char kDmetrixPath[] = "/slides/case.dmetrix";
const char kMoticPath[] = "/slides/case.mds";

struct BridgeFormat {
  const char* name;
  const char* path;
  const char* library;
  standin::SlideFacts slide;
  int reportedBlockSize;
};

const BridgeFormat kDmetrix = {"Dmetrix", kDmetrixPath, "libDmxBridge.so", standin::kDmetrixSlide,
                               256};
const BridgeFormat kMotic = {"Motic", kMoticPath, "libMoxBridge.so", standin::kMoticSlide, 128};

void PrintTo(const BridgeFormat& format, std::ostream* os) { *os << format.name; }

std::string FormatName(const ::testing::TestParamInfo<BridgeFormat>& info) {
  return info.param.name;
}

// Opens the format's slide and checks afterwards that the bridge got every
// buffer back once and has no slide left open.
class BridgeTest : public ::testing::Test {
 protected:
  explicit BridgeTest(const BridgeFormat& format) : format_(format), probe_(format.library) {}
  void SetUp() override {
    UseStandinLibraries();
    ASSERT_TRUE(probe_.Loaded());
  }
  void TearDown() override {
    ExpectLedgerBalanced(probe_);
    const auto openSlides = reinterpret_cast<int (*)()>(probe_.Symbol("StandinOpenSlides"));
    EXPECT_EQ(openSlides(), 0);
  }

  void LastStreamRequest(float& scale, int& x, int& y) const {
    const auto last =
        reinterpret_cast<void (*)(float*, int*, int*)>(probe_.Symbol("StandinLastStreamRequest"));
    last(&scale, &x, &y);
  }

  std::string LastPath() const {
    char path[512];
    reinterpret_cast<void (*)(char*, int)>(probe_.Symbol("StandinLastPath"))(path, sizeof path);
    return path;
  }

  const BridgeFormat& format_;
  StandinProbe probe_;
};

class BridgeFormatTest : public BridgeTest, public ::testing::WithParamInterface<BridgeFormat> {
 protected:
  BridgeFormatTest() : BridgeTest(GetParam()) {}
};

TEST_P(BridgeFormatTest, HeaderComesFromTheBridge) {
  OpenSlide slide(format_.path);
  ASSERT_TRUE(slide.opened());
  EXPECT_EQ(LastPath(), format_.path);
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, resolution = 0, version = -1;
  double scanTime = 0;
  ASSERT_TRUE(GetHeaderInfoFunc(slide.handle(), &height, &width, &scanScale, &spendTime, &scanTime,
                                &resolution, &blockSize));
  EXPECT_EQ(height, format_.slide.height);
  EXPECT_EQ(width, format_.slide.width);
  EXPECT_EQ(scanScale, format_.slide.scanScale);
  EXPECT_EQ(spendTime, 1234.0f);  // the fraction is dropped
  EXPECT_EQ(scanTime, 1700000000.0);
  EXPECT_EQ(resolution, standin::kCaptureResolution);
  EXPECT_EQ(blockSize, format_.reportedBlockSize);
  EXPECT_TRUE(GetVersionInfoFunc(&slide.handle(), &version));
  EXPECT_EQ(version, 0.0f);
}

TEST_P(BridgeFormatTest, OpeningWithoutABridgeHandleFails) {
  ScopedFault fault("InitImageFileFunc:null");
  OpenSlide slide(format_.path);
  EXPECT_FALSE(slide.opened());
  EXPECT_EQ(slide.handle().slide, nullptr);
}

TEST_P(BridgeFormatTest, ImplausibleOrFailedHeaderFailsCleanly) {
  for (const char* fault : {"GetHeaderInfoFunc:fail", "GetHeaderInfoFunc:negative"}) {
    ScopedFault scoped(fault);
    OpenSlide slide(format_.path);
    ASSERT_TRUE(slide.opened()) << fault;
    int h, w, s, b;
    float t, r;
    double when;
    EXPECT_FALSE(GetHeaderInfoFunc(slide.handle(), &h, &w, &s, &t, &when, &r, &b)) << fault;
    // DMETRIX regions are composed with the header's geometry; MDS regions
    // come from the bridge whatever its header says.
    unsigned char* region = nullptr;
    int length = 0;
    const bool composed =
        GetImageDataRoiFunc(slide.handle(), 20.0f, 0, 0, 16, 16, &region, &length, false);
    ExportBuffer owned(region);
    EXPECT_EQ(composed, std::string(format_.name) == "Motic") << fault;
  }
}

TEST_P(BridgeFormatTest, TileThatTheBridgeCannotDeliverIsEmpty) {
  OpenSlide slide(format_.path);
  ASSERT_TRUE(slide.opened());
  for (const char* fault : {"GetImageStreamFunc:empty", "GetImageStreamFunc:fail"}) {
    ScopedFault scoped(fault);
    unsigned char* buffer = nullptr;
    int length = -1;
    EXPECT_EQ(GetImageStreamFunc(&slide.handle(), 20.0f, 0, 0, &length, &buffer), nullptr);
    EXPECT_EQ(length, 0) << fault;
    EXPECT_EQ(buffer, nullptr) << fault;
  }
  EXPECT_GE(probe_.Ledger().handedOut, 1);  // the empty one, returned as well
}

TEST_P(BridgeFormatTest, AdjustedTileFollowsTheLookupTable) {
  OpenSlide slide(format_.path);
  ASSERT_TRUE(slide.opened());
  const float scale = static_cast<float>(format_.slide.scanScale);
  const std::vector<unsigned char> tile = TileStream(slide.handle(), scale, 0, 0);
  ASSERT_FALSE(tile.empty());

  unsigned char* buffer = nullptr;
  int length = 0;
  GetLUTImage(&slide.handle(), scale, 0, 0, &length, &buffer, 1, 1, 1, 1, 1, 1);
  ExportBuffer neutral(buffer);
  EXPECT_EQ(Bytes(buffer, length), tile);

  const float params[6] = {0.8f, 1.2f, 0.05f, 0.02f, 0.0f, -0.02f};
  buffer = nullptr;
  GetLUTImage(&slide.handle(), scale, 0, 0, &length, &buffer, params[0], params[1], params[2],
              params[3], params[4], params[5]);
  ExportBuffer adjusted(buffer);
  int width = 0, height = 0;
  ExportBuffer pixels(DecodeBmp24(tile.data(), static_cast<int>(tile.size()), width, height));
  ASSERT_NE(pixels, nullptr);
  int table[256][3];
  strata::BuildLookupTable(params, table);
  const bool keep[3] = {true, true, true};
  strata::ApplyLookupTable(table, keep, pixels.get(), static_cast<std::size_t>(width) * height);
  EXPECT_EQ(Bytes(buffer, length),
            EncodeLikeLibrary(pixels.get(), static_cast<std::size_t>(width) * height * 3, width,
                              height));
}

INSTANTIATE_TEST_SUITE_P(Bridges, BridgeFormatTest, ::testing::Values(kDmetrix, kMotic),
                         FormatName);

// ------------------------------------------------------------------ tiles

struct TileCase {
  const BridgeFormat* format;
  float scale;
  int x, y;
  float bridgeScale;  // what the bridge is asked for
  int bridgeX, bridgeY;
  int divisor, left, top;  // the level window the tile shows
};

void PrintTo(const TileCase& c, std::ostream* os) {
  *os << c.format->name << " " << c.scale << "x (" << c.x << ", " << c.y << ")";
}

class BridgeTileTest : public BridgeTest, public ::testing::WithParamInterface<TileCase> {
 protected:
  BridgeTileTest() : BridgeTest(*GetParam().format) {}
};

TEST_P(BridgeTileTest, AsksTheBridgeAndCopiesItsStream) {
  const TileCase& c = GetParam();
  OpenSlide slide(format_.path);
  ASSERT_TRUE(slide.opened());
  const std::vector<unsigned char> tile = TileStream(slide.handle(), c.scale, c.x, c.y);
  float scale = 0;
  int x = -1, y = -1;
  LastStreamRequest(scale, x, y);
  EXPECT_FLOAT_EQ(scale, c.bridgeScale);
  EXPECT_EQ(x, c.bridgeX);
  EXPECT_EQ(y, c.bridgeY);
  const int size = format_.slide.tileSize;
  EXPECT_EQ(tile, standin::EncodeBmp(
                      standin::LevelWindow(format_.slide, c.divisor, c.left, c.top, size, size),
                      size, size));
}

INSTANTIATE_TEST_SUITE_P(Positions, BridgeTileTest,
                         ::testing::Values(
                             // DMETRIX tiles go by column and row.
                             TileCase{&kDmetrix, 40.0f, 300, 600, 40.0f, 1, 2, 1, 256, 512},
                             TileCase{&kDmetrix, 20.0f, 300, 100, 20.0f, 1, 0, 2, 256, 0},
                             TileCase{&kDmetrix, 10.0f, 0, 255, 10.0f, 0, 0, 4, 0, 0},
                             // MDS tiles go by pixel position, unchanged.
                             TileCase{&kMotic, 10.0f, 128, 256, 10.0f, 128, 256, 2, 128, 256},
                             TileCase{&kMotic, 20.0f, 0, 0, 20.0f, 0, 0, 1, 0, 0}));

// ---------------------------------------------------------------- DMETRIX

class DmetrixTest : public BridgeTest {
 protected:
  DmetrixTest() : BridgeTest(kDmetrix) {}

  std::vector<unsigned char> Region(OpenSlide& slide, float scale, int x, int y, int w, int h,
                                    bool encode) {
    unsigned char* out = nullptr;
    int length = 0;
    EXPECT_TRUE(GetImageDataRoiFunc(slide.handle(), scale, x, y, w, h, &out, &length, encode));
    ExportBuffer owned(out);
    return Bytes(out, length);
  }
};

struct RegionCase {
  float scale;
  int x, y, width, height;
};

void PrintTo(const RegionCase& c, std::ostream* os) {
  *os << c.scale << "x (" << c.x << ", " << c.y << ") " << c.width << " x " << c.height;
}

class DmetrixRegionTest : public DmetrixTest, public ::testing::WithParamInterface<RegionCase> {};

// At a stored level the region is the level's pixels, white outside.
TEST_P(DmetrixRegionTest, ComposesTheLevelFromTiles) {
  const RegionCase& c = GetParam();
  OpenSlide slide(kDmetrixPath);
  ASSERT_TRUE(slide.opened());
  const int divisor = static_cast<int>(40.0f / c.scale);
  EXPECT_EQ(Region(slide, c.scale, c.x, c.y, c.width, c.height, false),
            standin::LevelWindow(kDmetrix.slide, divisor, c.x, c.y, c.width, c.height));
}

INSTANTIATE_TEST_SUITE_P(Regions, DmetrixRegionTest,
                         ::testing::Values(RegionCase{40.0f, 0, 0, 300, 200},
                                           RegionCase{40.0f, 200, 250, 400, 300},
                                           RegionCase{20.0f, -10, 5, 100, 50},
                                           RegionCase{40.0f, 900, 600, 200, 150},
                                           RegionCase{10.0f, 0, 0, 250, 175}));

TEST_F(DmetrixTest, RegionBetweenLevelsIsResizedFromTheFinerOneBelow) {
  OpenSlide slide(kDmetrixPath);
  ASSERT_TRUE(slide.opened());
  // 30x lies between 40x and 20x and is composed from 20x.
  const std::vector<unsigned char> source = standin::LevelWindow(kDmetrix.slide, 2, 0, 0, 40, 40);
  ExportBuffer expected(ResizeBilinear(source.data(), 40, 40, 60, 60));
  EXPECT_EQ(Region(slide, 30.0f, 0, 0, 60, 60, false), Bytes(expected.get(), 60 * 60 * 3));
}

TEST_F(DmetrixTest, EncodedRegionIsTheJpegOfItsPixels) {
  OpenSlide slide(kDmetrixPath);
  ASSERT_TRUE(slide.opened());
  const std::vector<unsigned char> pixels = standin::LevelWindow(kDmetrix.slide, 1, 0, 0, 64, 48);
  EXPECT_EQ(Region(slide, 40.0f, 0, 0, 64, 48, true), EncodeLikeLibrary(pixels, 64, 48));
}

TEST_F(DmetrixTest, RegionOutsideTheSlideFails) {
  OpenSlide slide(kDmetrixPath);
  ASSERT_TRUE(slide.opened());
  unsigned char* out = nullptr;
  int length = 0;
  EXPECT_FALSE(GetImageDataRoiFunc(slide.handle(), 40.0f, 2000, 0, 10, 10, &out, &length, false));
  EXPECT_FALSE(GetImageDataRoiFunc(slide.handle(), -1.0f, 0, 0, 10, 10, &out, &length, false));
  EXPECT_EQ(out, nullptr);
}

// 1000 x 700 halves twice to 250 x 175: the region at 10x, as a JPEG.
std::vector<unsigned char> ExpectedThumbnail() {
  const std::vector<unsigned char> pixels = standin::LevelWindow(kDmetrix.slide, 4, 0, 0, 250, 175);
  return EncodeLikeLibrary(pixels, 250, 175);
}

TEST_F(DmetrixTest, ThumbnailIsTheSlideHalvedToFit256) {
  OpenSlide slide(kDmetrixPath);
  ASSERT_TRUE(slide.opened());
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  ASSERT_TRUE(GetThumnailImageFunc(slide.handle(), &data, &length, &width, &height));
  ExportBuffer owned(data);
  EXPECT_EQ(Bytes(data, length), ExpectedThumbnail());
  EXPECT_EQ(width, 250);
  EXPECT_EQ(height, 175);
}

// The path forms open the bridge slide and close it again before returning.
TEST_F(DmetrixTest, PathThumbnailClosesTheSlideItOpened) {
  using PathGetter = bool (*)(const char*, unsigned char**, int*, int*, int*);
  for (PathGetter getter : {GetThumnailImagePathFunc, GetThumnailImageOnlyPathFunc}) {
    const int opens = probe_.Calls("InitImageFileFunc");
    const int closes = probe_.Calls("UnInitImageFileFunc");
    unsigned char* data = nullptr;
    int length = 0, width = 0, height = 0;
    ASSERT_TRUE(getter(kDmetrixPath, &data, &length, &width, &height));
    ExportBuffer owned(data);
    EXPECT_EQ(Bytes(data, length), ExpectedThumbnail());
    EXPECT_EQ(probe_.Calls("InitImageFileFunc"), opens + 1);
    EXPECT_EQ(probe_.Calls("UnInitImageFileFunc"), closes + 1);
  }
  ScopedFault fault("InitImageFileFunc:null");
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  EXPECT_FALSE(GetThumnailImagePathFunc(kDmetrixPath, &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
}

TEST_F(DmetrixTest, LabelAndPreviewAreWhite256Jpegs) {
  const std::vector<unsigned char> white(256 * 256 * 3, 255);
  const std::vector<unsigned char> expected = EncodeLikeLibrary(white, 256, 256);

  OpenSlide slide(kDmetrixPath);
  ASSERT_TRUE(slide.opened());
  using HandleGetter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
  using PathGetter = bool (*)(const char*, unsigned char**, int*, int*, int*);
  std::vector<std::function<bool(unsigned char**, int*, int*, int*)>> getters;
  for (HandleGetter getter : {GetLableInfoFunc, GetPriviewInfoFunc}) {
    getters.push_back([&slide, getter](unsigned char** d, int* l, int* w, int* h) {
      return getter(slide.handle(), d, l, w, h);
    });
  }
  for (PathGetter getter : {GetLableInfoPathFunc, GetPriviewInfoPathFunc}) {
    getters.push_back([getter](unsigned char** d, int* l, int* w, int* h) {
      return getter(kDmetrixPath, d, l, w, h);
    });
  }
  for (const auto& getter : getters) {
    unsigned char* data = nullptr;
    int length = 0, width = 0, height = 0;
    ASSERT_TRUE(getter(&data, &length, &width, &height));
    ExportBuffer owned(data);
    EXPECT_EQ(Bytes(data, length), expected);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
  }
}

// -------------------------------------------------------------------- MDS

class MoticTest : public BridgeTest {
 protected:
  MoticTest() : BridgeTest(kMotic) {}
};

TEST_F(MoticTest, RegionIsTheBridgesCopiedOut) {
  OpenSlide slide(kMoticPath);
  ASSERT_TRUE(slide.opened());
  const std::vector<unsigned char> pixels = standin::LevelWindow(kMotic.slide, 2, 30, 40, 50, 20);
  for (bool encode : {false, true}) {
    unsigned char* out = nullptr;
    int length = 0;
    ASSERT_TRUE(GetImageDataRoiFunc(slide.handle(), 10.0f, 30, 40, 50, 20, &out, &length, encode));
    ExportBuffer owned(out);
    EXPECT_EQ(Bytes(out, length), encode ? standin::EncodeBmp(pixels, 50, 20) : pixels);
  }
}

// A length longer than the pixels a raw region holds, an empty or a failed
// delivery: no copy, nothing handed out, the bridge's buffer returned.
TEST_F(MoticTest, RegionWithBadDeliveryFails) {
  OpenSlide slide(kMoticPath);
  ASSERT_TRUE(slide.opened());
  for (const char* fault :
       {"GetImageDataRoiFunc:long", "GetImageDataRoiFunc:empty", "GetImageDataRoiFunc:fail"}) {
    ScopedFault scoped(fault);
    unsigned char* out = nullptr;
    int length = 0;
    EXPECT_FALSE(GetImageDataRoiFunc(slide.handle(), 20.0f, 0, 0, 32, 32, &out, &length, false))
        << fault;
    EXPECT_EQ(out, nullptr) << fault;
  }
}

struct AssociatedCase {
  const char* name;
  const char* function;  // the bridge function behind it
  int kind;
  bool byPath;
  bool (*handleGetter)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
  bool (*pathGetter)(const char*, unsigned char**, int*, int*, int*);
};

void PrintTo(const AssociatedCase& c, std::ostream* os) { *os << c.name; }

class MoticAssociatedTest : public MoticTest, public ::testing::WithParamInterface<AssociatedCase> {
 protected:
  bool Get(OpenSlide& slide, unsigned char** data, int* length, int* width, int* height) {
    const AssociatedCase& c = GetParam();
    return c.byPath ? c.pathGetter(kMoticPath, data, length, width, height)
                    : c.handleGetter(slide.handle(), data, length, width, height);
  }
};

TEST_P(MoticAssociatedTest, ImageIsTheBridgesCopiedOut) {
  const AssociatedCase& c = GetParam();
  OpenSlide slide(kMoticPath);
  ASSERT_TRUE(slide.opened());
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  ASSERT_TRUE(Get(slide, &data, &length, &width, &height));
  ExportBuffer owned(data);
  const int w = standin::kAssociatedSizes[c.kind][0];
  const int h = standin::kAssociatedSizes[c.kind][1];
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * 3);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) standin::AssociatedPixel(c.kind, i, j, &pixels[(j * w + i) * 3]);
  }
  EXPECT_EQ(Bytes(data, length), standin::EncodeBmp(pixels, w, h));
  EXPECT_EQ(width, w);
  EXPECT_EQ(height, h);
  EXPECT_EQ(LastPath(), kMoticPath);
}

TEST_P(MoticAssociatedTest, NothingDeliveredIsTrueWithNothingHandedOut) {
  OpenSlide slide(kMoticPath);
  ASSERT_TRUE(slide.opened());
  ScopedFault fault(std::string(GetParam().function) + ":empty");
  unsigned char* data = nullptr;
  int length = -1, width = -1, height = -1;
  EXPECT_TRUE(Get(slide, &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
}

TEST_P(MoticAssociatedTest, NegativeSizeFails) {
  OpenSlide slide(kMoticPath);
  ASSERT_TRUE(slide.opened());
  ScopedFault fault(std::string(GetParam().function) + ":negative");
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  EXPECT_FALSE(Get(slide, &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Images, MoticAssociatedTest,
    ::testing::Values(
        AssociatedCase{"Label", "GetLableInfoPathFunc", 0, false, GetLableInfoFunc, nullptr},
        AssociatedCase{"Preview", "GetPriviewInfoPathFunc", 1, false, GetPriviewInfoFunc, nullptr},
        AssociatedCase{"Thumbnail", "GetThumnailImagePathFunc", 2, false, GetThumnailImageFunc,
                       nullptr},
        AssociatedCase{"LabelPath", "GetLableInfoPathFunc", 0, true, nullptr, GetLableInfoPathFunc},
        AssociatedCase{"PreviewPath", "GetPriviewInfoPathFunc", 1, true, nullptr,
                       GetPriviewInfoPathFunc},
        AssociatedCase{"ThumbnailPath", "GetThumnailImagePathFunc", 2, true, nullptr,
                       GetThumnailImagePathFunc},
        AssociatedCase{"ThumbnailOnlyPath", "GetThumnailImagePathFunc", 2, true, nullptr,
                       GetThumnailImageOnlyPathFunc}),
    [](const ::testing::TestParamInfo<AssociatedCase>& info) { return info.param.name; });

TEST_F(MoticTest, UnloadedSlideReportsImagesWithoutCallingTheBridge) {
  const int bridgeCalls = probe_.Calls("GetLableInfoPathFunc");
  CMOTICDataFile slide;
  unsigned char sentinel = 0;
  unsigned char* data = &sentinel;
  int length = 7, width = 7, height = 7;
  EXPECT_TRUE(slide.GetLabel(&data, length, width, height));
  EXPECT_EQ(slide.GetThumbnail(&data, length, width, height), 1);
  EXPECT_EQ(data, &sentinel);
  EXPECT_EQ(length, 7);
  EXPECT_EQ(probe_.Calls("GetLableInfoPathFunc"), bridgeCalls);
}

// ---------------------------------------------------------------- routing

TEST_F(MoticTest, FirstMatchingExtensionChoosesTheBridge) {
  StandinProbe dmetrix("libDmxBridge.so");
  const int moticOpens = probe_.Calls("InitImageFileFunc");
  const int dmetrixOpens = dmetrix.Calls("InitImageFileFunc");
  {
    OpenSlide slide("/slides/a.mds.dmetrix");
    EXPECT_TRUE(slide.opened());
  }
  EXPECT_EQ(probe_.Calls("InitImageFileFunc"), moticOpens + 1);
  EXPECT_EQ(dmetrix.Calls("InitImageFileFunc"), dmetrixOpens);
  OpenSlide capitals("/slides/a.MDS");
  EXPECT_FALSE(capitals.opened());
  EXPECT_EQ(probe_.Calls("InitImageFileFunc"), moticOpens + 1);
}

}  // namespace
}  // namespace strata::test
