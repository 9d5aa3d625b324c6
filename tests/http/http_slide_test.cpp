// Slides served by a private loopback nginx read exactly like the same files
// read locally: byte ranges, header facts, tiles, associated images, block
// opens and regions, also from several threads on one handle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "strata/interface/image_operation_manager.h"
#include "strata/model/byte_buffer.h"
#include "strata/model/http_file_operation_tool.h"
#include "strata/model/local_file_operation_tool.h"
#include "strata/strata.h"
#include "support/slide_fixtures.h"
#include "support/slide_owners.h"
#include "support/test_files.h"
#include "tools/loopback/nginx_server.h"

namespace {

using strata::loopback::NginxServer;
using strata::test::LibraryBytes;
using strata::test::OpenHandle;
using strata::test::SlideRecipe;
using strata::test::TempDir;
using strata::ztx::PropertyItem;
using strata::ztx::TileEncoding;
using strata::ztx::WrittenTile;
using strata::ztx::ZtxLayout;

using Bytes = std::vector<unsigned char>;

struct ServedSlide {
  std::string fileName;
  SlideRecipe recipe;
  ZtxLayout layout;
  std::string localPath;
};

SlideRecipe RecipeFor(const std::string& fileName, float version) {
  SlideRecipe recipe;
  recipe.fileName = fileName;
  recipe.version = version;
  recipe.scanTime = 1714979289;
  recipe.spendTimeMs = 3723000;
  recipe.captureResolution = 0.25f;
  return recipe;
}

std::vector<ServedSlide> SlideCatalogue() {
  std::vector<ServedSlide> slides;
  auto add = [&](const SlideRecipe& recipe) {
    slides.push_back(ServedSlide{recipe.fileName, recipe, {}, {}});
  };
  add(RecipeFor("slide v10.ztx", 1.0f));
  SlideRecipe v11 = RecipeFor("slide-v11.ztx", 1.1f);
  v11.compressIndex = true;
  add(v11);
  SlideRecipe v12 = RecipeFor("slide-v12.ztx", 1.2f);
  v12.items = {PropertyItem::Text(29, "SN 0042"), PropertyItem::Int(31, 7),
               PropertyItem::Int(32, 9)};
  add(v12);
  SlideRecipe v13 = RecipeFor("my slide v13.ztx", 1.3f);
  v13.longMagic = true;
  v13.items = {PropertyItem::Text(29, "SN 1300")};
  add(v13);
  SlideRecipe bmp = RecipeFor("slide-v20-bmp.ztx", 2.0f);
  bmp.encoding = TileEncoding::kBmp;
  bmp.width = 600;
  bmp.height = 500;
  add(bmp);
  SlideRecipe channels = RecipeFor("channels.ztx", 1.3f);
  channels.channelCount = 3;
  add(channels);
  return slides;
}

// The server is started once per test program run; each slide is written
// when a test first asks for it.
class ServedSlides {
 public:
  static ServedSlides& Get() {
    static ServedSlides instance;
    return instance;
  }
  const TempDir& root() const { return root_; }
  NginxServer& server() { return *server_; }
  const ServedSlide* Find(const std::string& fileName) {
    for (ServedSlide& slide : slides_) {
      if (slide.fileName != fileName) continue;
      if (slide.localPath.empty()) {
        slide.localPath = strata::test::MakeSlide(root_, slide.recipe, &slide.layout);
      }
      return &slide;
    }
    return nullptr;
  }

 private:
  ServedSlides()
      : slides_(SlideCatalogue()), server_(std::make_unique<NginxServer>(root_.path())) {}

  TempDir root_;
  std::vector<ServedSlide> slides_;
  std::unique_ptr<NginxServer> server_;
};

// One associated image or region as the library hands it out.
struct Image {
  bool ok = false;
  Bytes bytes;
  int width = 0;
  int height = 0;
  bool operator==(const Image& other) const {
    return ok == other.ok && bytes == other.bytes && width == other.width && height == other.height;
  }
};

template <typename Fetch>
Image FetchImage(Fetch fetch) {
  unsigned char* data = nullptr;
  int length = 0;
  Image image;
  image.ok = fetch(&data, &length, &image.width, &image.height);
  LibraryBytes owner(data);
  if (image.ok && data != nullptr && length > 0) image.bytes.assign(data, data + length);
  return image;
}

Bytes TileStream(IMAGE_INFO_STRUCT& handle, const WrittenTile& tile) {
  int length = 0;
  unsigned char* none = nullptr;
  GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &none);
  if (length <= 0) return {};
  Bytes bytes(static_cast<std::size_t>(length));
  unsigned char* buffer = bytes.data();
  GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &buffer);
  bytes.resize(static_cast<std::size_t>(std::max(length, 0)));
  return bytes;
}

Image TilePixels(IMAGE_INFO_STRUCT& handle, const WrittenTile& tile) {
  unsigned char* data = nullptr;
  Image image;
  int length = 0;
  GetImageRGBDataStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &image.width,
                            &image.height, &data);
  LibraryBytes owner(data);
  image.ok = data != nullptr;
  if (data != nullptr && length > 0) image.bytes.assign(data, data + length);
  return image;
}

class HttpSlideTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ServedSlides& served = ServedSlides::Get();
    ASSERT_TRUE(served.server().started()) << served.server().failure();
    slide_ = served.Find(GetParam());
    ASSERT_NE(slide_, nullptr);
    ASSERT_FALSE(slide_->localPath.empty());
    url_ = served.server().Url(slide_->fileName);
  }

  void OpenBoth() {
    ASSERT_TRUE(InitImageFileFunc(&local_.handle, slide_->localPath.c_str()));
    ASSERT_TRUE(InitImageFileFunc(&remote_.handle, url_.c_str())) << url_;
  }

  const ServedSlide* slide_ = nullptr;
  std::string url_;
  OpenHandle local_;
  OpenHandle remote_;
};

struct HeaderFacts {
  bool ok[6] = {};
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, captureResolution = 0, version = 0;
  double scanTime = 0;
  int when[9] = {};
  char serial[512] = {};
  int levels[2] = {};
  int channelCount = 0;
  std::string channelIds[6];
};

HeaderFacts ReadHeaderFacts(IMAGE_INFO_STRUCT& handle) {
  HeaderFacts f;
  f.ok[0] = GetHeaderInfoFunc(handle, &f.height, &f.width, &f.scanScale, &f.spendTime, &f.scanTime,
                              &f.captureResolution, &f.blockSize);
  f.ok[1] = GetVersionInfoFunc(&handle, &f.version);
  f.ok[2] = GetScanTimeDurationFunc(&handle, &f.when[0], &f.when[1], &f.when[2], &f.when[3],
                                    &f.when[4], &f.when[5], &f.when[6], &f.when[7], &f.when[8]);
  f.ok[3] = CImageOperationManager::GetMachineSerialNum(handle, f.serial, sizeof f.serial);
  f.ok[4] = GetScanLevelInfoFunc(&handle, &f.levels[0], &f.levels[1]);
  char* ids[6] = {};
  f.ok[5] = GetImageChannelIdentifierFunc(&handle, &f.channelCount, &ids[0], &ids[1], &ids[2],
                                          &ids[3], &ids[4], &ids[5]);
  for (int i = 0; i < 6; ++i) f.channelIds[i] = ids[i] == nullptr ? "<null>" : ids[i];
  return f;
}

void ExpectSameFacts(const HeaderFacts& local, const HeaderFacts& remote) {
  for (int i = 0; i < 6; ++i) EXPECT_EQ(local.ok[i], remote.ok[i]) << "query " << i;
  EXPECT_TRUE(local.ok[0]);
  EXPECT_EQ(local.height, remote.height);
  EXPECT_EQ(local.width, remote.width);
  EXPECT_EQ(local.scanScale, remote.scanScale);
  EXPECT_EQ(local.blockSize, remote.blockSize);
  EXPECT_EQ(local.spendTime, remote.spendTime);
  EXPECT_EQ(local.captureResolution, remote.captureResolution);
  EXPECT_EQ(local.version, remote.version);
  EXPECT_EQ(local.scanTime, remote.scanTime);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(local.when[i], remote.when[i]) << i;
  EXPECT_STREQ(local.serial, remote.serial);
  EXPECT_EQ(local.levels[0], remote.levels[0]);
  EXPECT_EQ(local.levels[1], remote.levels[1]);
  EXPECT_EQ(local.channelCount, remote.channelCount);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(local.channelIds[i], remote.channelIds[i]) << i;
}

TEST_P(HttpSlideTest, HeaderFactsMatchTheLocalFile) {
  OpenBoth();
  const HeaderFacts local = ReadHeaderFacts(local_.handle);
  ExpectSameFacts(local, ReadHeaderFacts(remote_.handle));
  EXPECT_EQ(local.width, slide_->recipe.width);
  EXPECT_EQ(local.height, slide_->recipe.height);
}

TEST_P(HttpSlideTest, EveryTileMatchesTheLocalFile) {
  OpenBoth();
  ASSERT_FALSE(slide_->layout.tiles.empty());
  for (const WrittenTile& tile : slide_->layout.tiles) {
    const Bytes local = TileStream(local_.handle, tile);
    ASSERT_FALSE(local.empty()) << tile.scale << " " << tile.x << " " << tile.y;
    ASSERT_EQ(TileStream(remote_.handle, tile), local)
        << tile.scale << " " << tile.x << " " << tile.y;
  }
  // Decoded tiles too, for a sample of them.
  for (std::size_t i = 0; i < slide_->layout.tiles.size(); i += 4) {
    const WrittenTile& tile = slide_->layout.tiles[i];
    const Image local = TilePixels(local_.handle, tile);
    EXPECT_TRUE(local.ok);
    EXPECT_TRUE(TilePixels(remote_.handle, tile) == local) << i;
  }
}

TEST_P(HttpSlideTest, AssociatedImagesMatchTheLocalFile) {
  OpenBoth();
  using Getter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
  using PathGetter = bool (*)(const char*, unsigned char**, int*, int*, int*);
  const Getter byHandle[] = {GetLableInfoFunc, GetPriviewInfoFunc, GetThumnailImageFunc};
  const PathGetter byPath[] = {GetLableInfoPathFunc, GetPriviewInfoPathFunc,
                               GetThumnailImagePathFunc, GetThumnailImageOnlyPathFunc};
  int found = 0;
  for (std::size_t i = 0; i < std::size(byHandle); ++i) {
    const Image local = FetchImage([&](unsigned char** d, int* l, int* w, int* h) {
      return byHandle[i](local_.handle, d, l, w, h);
    });
    const Image remote = FetchImage([&](unsigned char** d, int* l, int* w, int* h) {
      return byHandle[i](remote_.handle, d, l, w, h);
    });
    EXPECT_TRUE(remote == local) << "by handle " << i;
    found += local.ok ? 1 : 0;
  }
  for (std::size_t i = 0; i < std::size(byPath); ++i) {
    const Image local = FetchImage([&](unsigned char** d, int* l, int* w, int* h) {
      return byPath[i](slide_->localPath.c_str(), d, l, w, h);
    });
    const Image remote = FetchImage([&](unsigned char** d, int* l, int* w, int* h) {
      return byPath[i](url_.c_str(), d, l, w, h);
    });
    EXPECT_TRUE(remote == local) << "by path " << i;
    found += local.ok ? 1 : 0;
  }
  EXPECT_GE(found, 2) << "the label and the preview at least are stored";
}

TEST_P(HttpSlideTest, BlockOpenMatchesTheLocalFile) {
  const int scale = slide_->recipe.scanScale;
  struct Block {
    int left, top, right, bottom;
  };
  for (const Block& block : {Block{200, 100, 700, 500}, Block{0, 0, 0, 0}}) {
    OpenHandle local;
    OpenHandle remote;
    ASSERT_TRUE(InitImageFileFuncAsBlock(&local.handle, slide_->localPath.c_str(), block.left,
                                         block.top, block.right, block.bottom,
                                         static_cast<float>(scale)));
    ASSERT_TRUE(InitImageFileFuncAsBlock(&remote.handle, url_.c_str(), block.left, block.top,
                                         block.right, block.bottom, static_cast<float>(scale)));
    ExpectSameFacts(ReadHeaderFacts(local.handle), ReadHeaderFacts(remote.handle));
    for (const WrittenTile& tile : slide_->layout.tiles) {
      ASSERT_EQ(TileStream(remote.handle, tile), TileStream(local.handle, tile))
          << block.left << " " << tile.scale << " " << tile.x << " " << tile.y;
    }
  }
}

TEST_P(HttpSlideTest, RegionsMatchTheLocalFile) {
  OpenBoth();
  const float scan = static_cast<float>(slide_->recipe.scanScale);
  struct Region {
    float scale;
    int x, y, width, height;
    bool flag;
  };
  const Region regions[] = {{scan, 100, 50, 300, 200, false},
                            {scan, 0, 0, 256, 256, true},
                            {scan / 2, 10, 20, 250, 150, false},
                            {scan / 4, 0, 0, 125, 87, true},
                            {scan * 0.3f, 5, 5, 120, 90, false}};
  for (const Region& r : regions) {
    auto fetch = [&](IMAGE_INFO_STRUCT& handle) {
      return FetchImage([&](unsigned char** d, int* l, int*, int*) {
        return GetImageDataRoiFunc(handle, r.scale, r.x, r.y, r.width, r.height, d, l, r.flag);
      });
    };
    const Image local = fetch(local_.handle);
    EXPECT_TRUE(local.ok) << r.scale << " " << r.x;
    EXPECT_FALSE(local.bytes.empty()) << r.scale << " " << r.x;
    EXPECT_TRUE(fetch(remote_.handle) == local) << r.scale << " " << r.x;
  }
}

INSTANTIATE_TEST_SUITE_P(Slides, HttpSlideTest,
                         ::testing::Values("slide v10.ztx", "slide-v11.ztx", "slide-v12.ztx",
                                           "my slide v13.ztx", "slide-v20-bmp.ztx", "channels.ztx"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char c : info.param) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

class HttpServedSlideTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(served_.server().started()) << served_.server().failure(); }
  ServedSlides& served_ = ServedSlides::Get();
};

TEST_F(HttpServedSlideTest, FourThreadsReadTilesFromOneHandleInParallel) {
  const ServedSlide* slide = served_.Find("my slide v13.ztx");
  ASSERT_NE(slide, nullptr);
  OpenHandle local;
  ASSERT_TRUE(InitImageFileFunc(&local.handle, slide->localPath.c_str()));
  std::vector<Bytes> expected;
  for (const WrittenTile& tile : slide->layout.tiles)
    expected.push_back(TileStream(local.handle, tile));

  OpenHandle remote;
  ASSERT_TRUE(InitImageFileFunc(&remote.handle, served_.server().Url(slide->fileName).c_str()));
  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<int> reads(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (std::size_t i = (t + round) % kThreads; i < expected.size(); i += kThreads) {
          if (TileStream(remote.handle, slide->layout.tiles[i]) != expected[i]) ++mismatches[t];
          ++reads[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    EXPECT_GT(reads[t], 0) << "thread " << t;
  }
}

TEST_F(HttpServedSlideTest, ATileIsOneRangeRequestWithEscapedSpaces) {
  const ServedSlide* slide = served_.Find("my slide v13.ztx");
  ASSERT_NE(slide, nullptr);
  OpenHandle remote;
  ASSERT_TRUE(InitImageFileFunc(&remote.handle, served_.server().Url(slide->fileName).c_str()));
  const WrittenTile& tile = slide->layout.tiles.back();
  const int before = served_.server().SettledAccessLogLines();
  ASSERT_FALSE(TileStream(remote.handle, tile).empty());
  EXPECT_EQ(served_.server().AccessLogLines(before + 1), before + 1);
  std::ifstream log(served_.server().AccessLogPath());
  std::string line;
  std::string last;
  while (std::getline(log, line)) last = line;
  EXPECT_NE(last.find("GET /my%20slide%20v13.ztx "), std::string::npos) << last;
  EXPECT_NE(last.find(" 206 "), std::string::npos) << last;
}

TEST_F(HttpServedSlideTest, MissingSlideFailsToOpenAfterOneRequest) {
  const int before = served_.server().SettledAccessLogLines();
  OpenHandle remote;
  EXPECT_FALSE(InitImageFileFunc(&remote.handle, served_.server().Url("no such.ztx").c_str()));
  EXPECT_EQ(remote.handle.slide, nullptr);
  EXPECT_EQ(served_.server().AccessLogLines(before + 1), before + 1);
}

struct RangeCase {
  std::uint64_t offset;
  int length;
};

void PrintTo(const RangeCase& c, std::ostream* out) {
  *out << c.length << " bytes at " << c.offset;
}

class HttpRangeTest : public HttpServedSlideTest, public ::testing::WithParamInterface<RangeCase> {
 protected:
  static constexpr std::size_t kObjectSize = 300000;
  void SetUp() override {
    HttpServedSlideTest::SetUp();
    path_ = served_.root().File("raw data.bin");
    if (strata::test::ReadFileBytes(path_).size() != kObjectSize) {
      Bytes object(kObjectSize);
      for (std::size_t i = 0; i < object.size(); ++i) {
        object[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
      }
      strata::test::WriteFileBytes(path_, object);
    }
  }
  std::string path_;
};

// The HTTP reader delivers what the local reader delivers, short reads at
// the end of the file included.
TEST_P(HttpRangeTest, DeliversWhatTheLocalReaderDelivers) {
  const RangeCase& c = GetParam();
  CLocalFileOperationTool local;
  CHTTPFileOperationTool remote;
  ASSERT_TRUE(local.Open(path_.c_str()));
  ASSERT_TRUE(remote.Open(served_.server().Url("raw data.bin").c_str()));
  ByteBuffer localBuffer;
  ByteBuffer remoteBuffer;
  const bool localOk = local.Read(c.offset, c.length, &localBuffer);
  ASSERT_EQ(remote.Read(c.offset, c.length, &remoteBuffer), localOk);
  ASSERT_TRUE(localOk);
  ASSERT_EQ(remoteBuffer.Capacity(), localBuffer.Capacity());
  ASSERT_EQ(remoteBuffer.Filled(), localBuffer.Filled());
  EXPECT_EQ(std::memcmp(remoteBuffer.Storage(), localBuffer.Storage(), localBuffer.Capacity()), 0);
}

INSTANTIATE_TEST_SUITE_P(Ranges, HttpRangeTest,
                         ::testing::Values(RangeCase{0, 96}, RangeCase{96, 4000},
                                           RangeCase{1, 102400}, RangeCase{7, 150000},
                                           RangeCase{299990, 10}, RangeCase{299000, 5000},
                                           RangeCase{300000, 16}, RangeCase{999999, 16},
                                           RangeCase{123, 0}));

}  // namespace
