// Label, preview and thumbnail of ZTX slides: by handle and by path, stored
// bytes returned as stored, thumbnail normalisation, the tile fallback of
// files without a thumbnail, and records that point at nothing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_data_file.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

struct ImageResult {
  bool ok = false;
  Bytes bytes;
  int length = -9;
  int width = -9;
  int height = -9;
};

template <typename Call>
ImageResult Fetch(Call call) {
  ImageResult result;
  unsigned char* data = nullptr;
  result.ok = call(&data, &result.length, &result.width, &result.height);
  LibraryBytes owned(data);
  if (data != nullptr && result.length > 0) result.bytes.assign(data, data + result.length);
  return result;
}

Bytes Pixels(const Bytes& stream, int* width, int* height) {
  return DecodeToPixels(stream.data(), static_cast<int>(stream.size()), width, height);
}

// --- stored images of every version ---

struct VersionCase {
  float version;
  ztx::TileEncoding encoding;
};

class StoredImagesTest : public ::testing::TestWithParam<VersionCase> {
 protected:
  void SetUp() override {
    recipe_.version = GetParam().version;
    recipe_.encoding = GetParam().encoding;
    options_ = OptionsFor(recipe_);
    path_ =
        MakeSlideWithOptions(dir_, "images.ztx", recipe_.width, recipe_.height, options_, &layout_);
    ASSERT_FALSE(path_.empty());
    ASSERT_TRUE(InitImageFileFunc(&open_.handle, path_.c_str()));
  }

  bool HasThumbnail() const { return recipe_.version > 1.05f; }

  TempDir dir_;
  SlideRecipe recipe_;
  ztx::ZtxWriterOptions options_;
  ztx::ZtxLayout layout_;
  std::string path_;
  OpenHandle open_;
};

TEST_P(StoredImagesTest, LabelAndPreviewComeBackAsStoredByHandleAndByPath) {
  const ImageResult label = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetLableInfoFunc(open_.handle, d, l, w, h);
  });
  ASSERT_TRUE(label.ok);
  EXPECT_EQ(label.bytes, options_.label.stream);
  EXPECT_EQ(label.width, kLabelWidth);
  EXPECT_EQ(label.height, kLabelHeight);
  const ImageResult preview = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetPriviewInfoFunc(open_.handle, d, l, w, h);
  });
  ASSERT_TRUE(preview.ok);
  EXPECT_EQ(preview.bytes, options_.preview.stream);
  EXPECT_EQ(preview.width, kPreviewWidth);
  EXPECT_EQ(preview.height, kPreviewHeight);

  const ImageResult labelByPath = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetLableInfoPathFunc(path_.c_str(), d, l, w, h);
  });
  ASSERT_TRUE(labelByPath.ok);
  EXPECT_EQ(labelByPath.bytes, options_.label.stream);
  EXPECT_EQ(labelByPath.width, kLabelWidth);
  const ImageResult previewByPath = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetPriviewInfoPathFunc(path_.c_str(), d, l, w, h);
  });
  ASSERT_TRUE(previewByPath.ok);
  EXPECT_EQ(previewByPath.bytes, options_.preview.stream);
  EXPECT_EQ(previewByPath.height, kPreviewHeight);
}

TEST_P(StoredImagesTest, ThumbnailAtTheSlidesSizeIsReturnedUnchanged) {
  const auto byHandle = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImageFunc(open_.handle, d, l, w, h);
  });
  const auto byPath = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImagePathFunc(path_.c_str(), d, l, w, h);
  });
  const auto onlyStored = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImageOnlyPathFunc(path_.c_str(), d, l, w, h);
  });
  ASSERT_TRUE(byHandle.ok);
  ASSERT_TRUE(byPath.ok);
  if (!HasThumbnail()) {
    // Version 1.0: the (0, 0) tile of the level that fits in 256 x 256.
    const TileInfo* tile = dynamic_cast<CZTXDataFile*>(open_.handle.slide)->FindTile(5.0f, 0, 0);
    ASSERT_NE(tile, nullptr);
    const Bytes file = ReadFileBytes(path_);
    const Bytes stored(file.begin() + layout_.indexOffset + tile->offset,
                       file.begin() + layout_.indexOffset + tile->offset + tile->length);
    EXPECT_EQ(byHandle.bytes, stored);
    EXPECT_EQ(byHandle.width, 250);
    EXPECT_EQ(byHandle.height, 175);
    EXPECT_EQ(byPath.bytes, stored);
    EXPECT_EQ(byPath.width, tile->width);
    EXPECT_EQ(byPath.height, tile->height);
    EXPECT_FALSE(onlyStored.ok);
    return;
  }
  for (const ImageResult* result : {&byHandle, &byPath, &onlyStored}) {
    ASSERT_TRUE(result->ok);
    EXPECT_EQ(result->bytes, options_.thumbnail.stream);
    EXPECT_EQ(result->width, options_.thumbnail.width);
    EXPECT_EQ(result->height, options_.thumbnail.height);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, StoredImagesTest,
                         ::testing::Values(VersionCase{1.0f, ztx::TileEncoding::kJpeg},
                                           VersionCase{1.1f, ztx::TileEncoding::kJpeg},
                                           VersionCase{1.2f, ztx::TileEncoding::kBmp},
                                           VersionCase{1.3f, ztx::TileEncoding::kJpeg},
                                           VersionCase{2.0f, ztx::TileEncoding::kBmp}));

// --- thumbnail normalisation and fallback ---

class ThumbnailTest : public ::testing::Test {
 protected:
  std::string Write(const ztx::ZtxWriterOptions& options) {
    return MakeSlideWithOptions(dir_, "thumb.ztx", 1000, 700, options, &layout_);
  }

  TempDir dir_;
  ztx::ZtxLayout layout_;
};

TEST_F(ThumbnailTest, SmallerThumbnailIsPlacedTopLeftOnWhiteAndReencoded) {
  SlideRecipe recipe;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  // 100 x 60 of a flat dark colour; the target for 1000 x 700 is 125 x 87.
  Bytes dark(100 * 60 * 3, 40);
  unsigned char* jpeg = nullptr;
  int jpegLength = 0;
  ASSERT_TRUE(EncodeJpegWithQuality(dark.data(), 100, 60, 3, 95, &jpeg, jpegLength));
  LibraryBytes owned(jpeg);
  options.thumbnail.stream.assign(jpeg, jpeg + jpegLength);
  options.thumbnail.width = 100;
  options.thumbnail.height = 60;
  const std::string path = Write(options);
  ASSERT_FALSE(path.empty());
  const auto result = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImagePathFunc(path.c_str(), d, l, w, h);
  });
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.width, 125);
  EXPECT_EQ(result.height, 87);
  EXPECT_EQ(result.length, static_cast<int>(result.bytes.size()));
  int width = 0, height = 0;
  const Bytes pixels = Pixels(result.bytes, &width, &height);
  ASSERT_EQ(width, 125);
  ASSERT_EQ(height, 87);
  auto at = [&](int x, int y, int c) {
    return pixels[(static_cast<std::size_t>(y) * 125 + x) * 3 + c];
  };
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(at(50, 30, c), 40, 6);
    EXPECT_GE(at(120, 10, c), 245);
    EXPECT_GE(at(10, 80, c), 245);
    EXPECT_GE(at(122, 84, c), 245);
  }
}

TEST_F(ThumbnailTest, MatchingEitherSideKeepsTheStoredStream) {
  // 40000 x 30000 halves to 1250 x 937.5: the width matches a 1250 x 938
  // thumbnail, so its bytes come back untouched (they need not even decode).
  SlideRecipe recipe;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.thumbnail.stream = Bytes(300, 0x11);
  options.thumbnail.width = 1250;
  options.thumbnail.height = 938;
  const std::string path = Write(options);
  ASSERT_FALSE(path.empty());
  Bytes file = ReadFileBytes(path);
  PutI32(file, 20, 30000);
  PutI32(file, 24, 40000);
  WriteFileBytes(path, file);
  const auto result = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImageOnlyPathFunc(path.c_str(), d, l, w, h);
  });
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.bytes, options.thumbnail.stream);
  EXPECT_EQ(result.width, 1250);
  EXPECT_EQ(result.height, 938);
}

TEST_F(ThumbnailTest, UndecodableThumbnailThatNeedsResizingFails) {
  SlideRecipe recipe;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.thumbnail.stream = Bytes(300, 0x11);
  options.thumbnail.width = 90;
  options.thumbnail.height = 60;
  const std::string path = Write(options);
  ASSERT_FALSE(path.empty());
  const auto byPath = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImageOnlyPathFunc(path.c_str(), d, l, w, h);
  });
  EXPECT_FALSE(byPath.ok);
  EXPECT_TRUE(byPath.bytes.empty());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  EXPECT_EQ(slide->GetThumbnail(&data, length, width, height), 0);
  EXPECT_EQ(data, nullptr);
}

TEST_F(ThumbnailTest, SlideWithoutStoredThumbnailFallsBackToATile) {
  SlideRecipe recipe;
  recipe.withThumbnail = false;
  const std::string path = Write(OptionsFor(recipe));
  ASSERT_FALSE(path.empty());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  const TileInfo* tile = slide->FindTile(5.0f, 0, 0);
  ASSERT_NE(tile, nullptr);
  const auto byHandle = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return slide->GetThumbnail(d, *l, *w, *h) != 0;
  });
  ASSERT_TRUE(byHandle.ok);
  EXPECT_EQ(byHandle.length, tile->length);
  EXPECT_EQ(byHandle.width, 250);
  EXPECT_EQ(byHandle.height, 175);
  const auto onlyStored = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetThumnailImageOnlyPathFunc(path.c_str(), d, l, w, h);
  });
  EXPECT_FALSE(onlyStored.ok);
  EXPECT_TRUE(onlyStored.bytes.empty());
}

// --- missing and unreadable images ---

TEST(MissingImageTest, LabelWithPresenceZeroFailsAlthoughBytesArePresent) {
  SlideRecipe recipe;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.label.present = false;
  TempDir dir;
  const std::string path = MakeSlideWithOptions(dir, "absent.ztx", 1000, 700, options);
  ASSERT_FALSE(path.empty());
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path.c_str()));
  const auto byHandle = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetLableInfoFunc(open.handle, d, l, w, h);
  });
  EXPECT_FALSE(byHandle.ok);
  EXPECT_TRUE(byHandle.bytes.empty());
  const auto byPath = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetLableInfoPathFunc(path.c_str(), d, l, w, h);
  });
  EXPECT_FALSE(byPath.ok);
  // The preview is unaffected.
  const auto preview = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetPriviewInfoFunc(open.handle, d, l, w, h);
  });
  EXPECT_TRUE(preview.ok);
}

TEST(MissingImageTest, SlideWithoutLabelOrPreviewStillOpens) {
  SlideRecipe recipe;
  recipe.withLabel = false;
  recipe.withPreview = false;
  TempDir dir;
  const std::string path = MakeSlide(dir, recipe);
  ASSERT_FALSE(path.empty());
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path.c_str()));
  EXPECT_FALSE(Fetch([&](unsigned char** d, int* l, int* w, int* h) {
                 return GetLableInfoFunc(open.handle, d, l, w, h);
               }).ok);
  EXPECT_FALSE(Fetch([&](unsigned char** d, int* l, int* w, int* h) {
                 return GetPriviewInfoFunc(open.handle, d, l, w, h);
               }).ok);
}

// A record whose stream lies (partly) outside the file: the image is missing
// and the outputs stay as the caller set them.
struct BadRecordCase {
  const char* name;
  int field;  // byte offset inside the record
  std::int64_t value;
  bool wide;  // write 8 bytes
};

class UnreadableLabelTest : public ::testing::TestWithParam<BadRecordCase> {};

TEST_P(UnreadableLabelTest, ReportsFailureWithoutData) {
  SlideRecipe recipe;
  TempDir dir;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, recipe, &layout);
  ASSERT_FALSE(path.empty());
  Bytes file = ReadFileBytes(path);
  const std::size_t at = static_cast<std::size_t>(layout.labelOffset) + GetParam().field;
  if (GetParam().wide) {
    PutI64(file, at, GetParam().value);
  } else {
    PutI32(file, at, static_cast<std::int32_t>(GetParam().value));
  }
  WriteFileBytes(path, file);
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path.c_str()));
  const auto byHandle = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetLableInfoFunc(open.handle, d, l, w, h);
  });
  EXPECT_FALSE(byHandle.ok);
  EXPECT_TRUE(byHandle.bytes.empty());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  const auto direct = Fetch(
      [&](unsigned char** d, int* l, int* w, int* h) { return slide->GetLabel(d, *l, *w, *h); });
  EXPECT_FALSE(direct.ok);
  EXPECT_EQ(direct.length, -9);
  EXPECT_EQ(direct.width, -9);
  EXPECT_EQ(direct.height, -9);
  const auto byPath = Fetch([&](unsigned char** d, int* l, int* w, int* h) {
    return GetLableInfoPathFunc(path.c_str(), d, l, w, h);
  });
  EXPECT_FALSE(byPath.ok);
}

INSTANTIATE_TEST_SUITE_P(
    Records, UnreadableLabelTest,
    ::testing::Values(BadRecordCase{"LengthPastFile", 20, 0x7FFFFFF0, false},
                      BadRecordCase{"NegativeLength", 20, -52, false},
                      BadRecordCase{"ZeroLength", 20, 0, false},
                      BadRecordCase{"OffsetPastFile", 24, 1LL << 40, true},
                      BadRecordCase{"NegativeOffset", 24, -1000, true},
                      BadRecordCase{"OverflowingOffset", 24, 0x7FFFFFFFFFFFFFF0LL, true}),
    [](const ::testing::TestParamInfo<BadRecordCase>& info) { return info.param.name; });

TEST(PathImageTest, NullAndMissingPathsFail) {
  CZTXDataFile slide;
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  EXPECT_FALSE(slide.GetLabelFromPath(nullptr, &data, length, width, height));
  EXPECT_FALSE(slide.GetPreviewFromPath(nullptr, &data, length, width, height));
  EXPECT_FALSE(slide.GetThumbnailFromPath(nullptr, &data, length, width, height));
  EXPECT_FALSE(slide.GetThumbnailOnlyFromPath(nullptr, &data, length, width, height));
  TempDir dir;
  const std::string missing = dir.File("missing.ztx");
  EXPECT_FALSE(slide.GetLabelFromPath(missing.c_str(), &data, length, width, height));
  EXPECT_FALSE(slide.GetThumbnailFromPath(missing.c_str(), &data, length, width, height));
  EXPECT_EQ(data, nullptr);
}

}  // namespace
}  // namespace strata::test::reader
