// The C interface: empty handles, null arguments, forwarding to the slide
// object, and exceptions stopped at the boundary.
#include "strata/strata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "strata/interface/image_operation_manager.h"
#include "strata/model/data_file.h"
#include "strata/model/image_buffer.h"
#include "support/test_files.h"

namespace {

using strata::test::TempDir;

constexpr int kUntouched = -777;

// --- empty handles ---

TEST(EmptyHandleTest, OpeningAndClosing) {
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(InitImageFileFunc(nullptr, "/tmp/x.ztx"));
  EXPECT_FALSE(InitImageFileFunc(&handle, nullptr));
  EXPECT_EQ(handle.slide, nullptr);
  EXPECT_FALSE(InitImageFileFuncAsBlock(nullptr, "/tmp/x.ztx", 0, 0, 0, 0, 0.0f));
  EXPECT_FALSE(InitImageFileFuncAsBlock(&handle, nullptr, 0, 0, 0, 0, 0.0f));
  EXPECT_EQ(handle.slide, nullptr);
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
  EXPECT_TRUE(UnInitImageFileFunc(nullptr));
  EXPECT_EQ(handle.slide, nullptr);
}

TEST(EmptyHandleTest, DeleteImageDataFunc) {
  EXPECT_FALSE(DeleteImageDataFunc(nullptr));
  EXPECT_TRUE(DeleteImageDataFunc(strata::AllocateBuffer(64)));
}

TEST(EmptyHandleTest, GetDllVersionFuncStoresAndReturnsTwo) {
  float version = -1.0f;
  EXPECT_EQ(GetDllVersionFunc(&version), 2.0f);
  EXPECT_EQ(version, 2.0f);
  EXPECT_EQ(GetDllVersionFunc(nullptr), 2.0f);
}

TEST(EmptyHandleTest, HeaderFactsFailAndWriteNothing) {
  IMAGE_INFO_STRUCT handle{};
  int height = kUntouched, width = kUntouched, scanScale = kUntouched, blockSize = kUntouched;
  float spendTime = -7.0f, captureResolution = -7.0f, version = -7.0f;
  double scanTime = -7.0;
  EXPECT_FALSE(GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spendTime, &scanTime,
                                 &captureResolution, &blockSize));
  EXPECT_FALSE(GetVersionInfoFunc(&handle, &version));
  EXPECT_FALSE(GetVersionInfoFunc(nullptr, &version));
  int t[9];
  for (int& value : t) value = kUntouched;
  EXPECT_FALSE(GetScanTimeDurationFunc(&handle, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                                       &t[7], &t[8]));
  char serial[8] = "keep";
  EXPECT_FALSE(GetMachineSerialNumFunc(&handle, serial));
  EXPECT_FALSE(GetMachineSerialNumFunc(nullptr, serial));
  int first = kUntouched, second = kUntouched;
  EXPECT_FALSE(GetScanLevelInfoFunc(&handle, &first, &second));
  int channels = kUntouched;
  char* ids[6];
  for (char*& id : ids) id = serial;
  EXPECT_FALSE(GetImageChannelIdentifierFunc(&handle, &channels, &ids[0], &ids[1], &ids[2], &ids[3],
                                             &ids[4], &ids[5]));

  for (int value : {height, width, scanScale, blockSize, first, second, channels}) {
    EXPECT_EQ(value, kUntouched);
  }
  for (int value : t) EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(spendTime, -7.0f);
  EXPECT_EQ(captureResolution, -7.0f);
  EXPECT_EQ(version, -7.0f);
  EXPECT_EQ(scanTime, -7.0);
  EXPECT_STREQ(serial, "keep");
  for (char* id : ids) EXPECT_EQ(id, serial);
}

TEST(EmptyHandleTest, TilesAndRegionsFailAndWriteNothing) {
  IMAGE_INFO_STRUCT handle{};
  unsigned char caller[16];
  unsigned char* buffer = caller;
  int length = kUntouched, width = kUntouched, height = kUntouched;
  EXPECT_EQ(GetImageStreamFunc(&handle, 20.0f, 0, 0, &length, &buffer), nullptr);
  EXPECT_EQ(GetImageStreamFunc(nullptr, 20.0f, 0, 0, &length, &buffer), nullptr);
  EXPECT_EQ(GetImageRGBDataStreamFunc(&handle, 20.0f, 0, 0, &length, &width, &height, &buffer),
            nullptr);
  EXPECT_EQ(GetLUTImage(&handle, 20.0f, 0, 0, &length, &buffer, 1, 1, 1, 1, 1, 1), nullptr);
  EXPECT_EQ(GetImageStreamManyPassagewayFunc(&handle, 20.0f, 0, 0, &length, &buffer, true, true,
                                             true, false, false, false),
            nullptr);
  EXPECT_EQ(GetLUTImageManyPassageway(&handle, 20.0f, 0, 0, &length, &buffer, 1, 1, 1, 1, 1, 1,
                                      true, true, true, false, false, false),
            nullptr);
  EXPECT_FALSE(GetImageDataRoiFunc(handle, 20.0f, 0, 0, 64, 64, &buffer, &length, false));
  EXPECT_FALSE(GetImageDataMaxFunc(handle, 20.0f, 0, 0, 64, 64, &buffer, &length, true));
  EXPECT_FALSE(ISCanGetMaxFunc(handle, 20.0f, 0, 0, 64, 64));
  EXPECT_FALSE(GetImageDataRoiManyPassagewayFunc(handle, 20.0f, 0, 0, 64, 64, &buffer, &length,
                                                 false, true, true, true, false, false, false));
  EXPECT_EQ(buffer, caller);
  EXPECT_EQ(length, kUntouched);
  EXPECT_EQ(width, kUntouched);
  EXPECT_EQ(height, kUntouched);
}

using HandleImageExport = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
using PathImageExport = bool (*)(const char*, unsigned char**, int*, int*, int*);

class HandleImageExportTest : public ::testing::TestWithParam<HandleImageExport> {};

TEST_P(HandleImageExportTest, EmptyHandleFailsWithClearedOutputs) {
  IMAGE_INFO_STRUCT handle{};
  unsigned char sentinel = 0;
  unsigned char* data = &sentinel;
  int length = kUntouched, width = kUntouched, height = kUntouched;
  EXPECT_FALSE(GetParam()(handle, &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  EXPECT_FALSE(GetParam()(handle, nullptr, &length, &width, &height));
  EXPECT_FALSE(GetParam()(handle, &data, nullptr, nullptr, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Exports, HandleImageExportTest,
                         ::testing::Values(&GetLableInfoFunc, &GetPriviewInfoFunc,
                                           &GetThumnailImageFunc));

class PathImageExportTest : public ::testing::TestWithParam<PathImageExport> {
 protected:
  void Expect(const char* path) {
    unsigned char sentinel = 0;
    unsigned char* data = &sentinel;
    int length = kUntouched, width = kUntouched, height = kUntouched;
    EXPECT_FALSE(GetParam()(path, &data, &length, &width, &height)) << (path ? path : "null");
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
  }
};

TEST_P(PathImageExportTest, UnusablePathsFailWithClearedOutputs) {
  TempDir dir;
  const std::string unknown = dir.File("slide.png");
  strata::test::WriteFileBytes(unknown, {1, 2, 3});
  const std::string foreign = dir.File("slide.svs");
  strata::test::WriteFileBytes(foreign, {1, 2, 3});
  Expect(nullptr);
  Expect(unknown.c_str());
  Expect(dir.File("missing.ztx").c_str());
  Expect(dir.File("missing.png").c_str());
  Expect(foreign.c_str());
}

INSTANTIATE_TEST_SUITE_P(Exports, PathImageExportTest,
                         ::testing::Values(&GetLableInfoPathFunc, &GetPriviewInfoPathFunc,
                                           &GetThumnailImagePathFunc,
                                           &GetThumnailImageOnlyPathFunc));

TEST(EmptyHandleTest, MaintenanceOfMissingFilesFails) {
  TempDir dir;
  const std::string missing = dir.File("missing.ztx");
  EXPECT_FALSE(ChangeLabelInfoFunc(nullptr, nullptr));
  EXPECT_FALSE(ChangeLabelInfoFunc(missing.c_str(), dir.File("label.jpg").c_str()));
  EXPECT_FALSE(CompressBlockDataInfoFunc(nullptr));
  EXPECT_FALSE(CompressBlockDataInfoFunc(missing.c_str()));
  EXPECT_FALSE(UnCompressBlockDataInfoFunc(nullptr));
  EXPECT_FALSE(UnCompressBlockDataInfoFunc(missing.c_str()));
}

// --- opening by name ---

TEST(OpenByNameTest, MissingFileAndUnknownNameLeaveTheHandleEmpty) {
  TempDir dir;
  const std::string unknown = dir.File("slide.jpg");
  strata::test::WriteFileBytes(unknown, {1, 2, 3});
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(InitImageFileFunc(&handle, dir.File("missing.ztx").c_str()));
  EXPECT_EQ(handle.slide, nullptr);
  EXPECT_FALSE(InitImageFileFunc(&handle, unknown.c_str()));
  EXPECT_EQ(handle.slide, nullptr);
  EXPECT_FALSE(InitImageFileFuncAsBlock(&handle, unknown.c_str(), 0, 0, 0, 0, 0.0f));
  EXPECT_EQ(handle.slide, nullptr);
}

TEST(OpenByNameTest, BlockOpenOfAFormatWithoutBlockSupportLoadsNothing) {
  TempDir dir;
  const std::string path = dir.File("x.svs");
  strata::test::WriteFileBytes(path, {1, 2, 3});
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(InitImageFileFunc(&handle, path.c_str()));
  EXPECT_EQ(handle.slide, nullptr);
  ASSERT_TRUE(InitImageFileFuncAsBlock(&handle, path.c_str(), 0, 0, 0, 0, 0.0f));
  ASSERT_NE(handle.slide, nullptr);

  // A slide without a header: header facts fail and write nothing ...
  int height = kUntouched, width = kUntouched, scanScale = kUntouched, blockSize = kUntouched;
  float spendTime = -7.0f, captureResolution = -7.0f, version = -7.0f;
  double scanTime = -7.0;
  EXPECT_FALSE(GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spendTime, &scanTime,
                                 &captureResolution, &blockSize));
  EXPECT_FALSE(GetVersionInfoFunc(&handle, &version));
  char serial[8] = "keep";
  EXPECT_FALSE(GetMachineSerialNumFunc(&handle, serial));
  int first = kUntouched, second = kUntouched;
  EXPECT_FALSE(GetScanLevelInfoFunc(&handle, &first, &second));
  EXPECT_EQ(height, kUntouched);
  EXPECT_EQ(version, -7.0f);
  EXPECT_STREQ(serial, "keep");
  EXPECT_EQ(first, kUntouched);
  EXPECT_EQ(second, kUntouched);

  // ... the scan time of a format that does not supply it is true, unwritten ...
  int t[9];
  for (int& value : t) value = kUntouched;
  EXPECT_TRUE(GetScanTimeDurationFunc(&handle, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                                      &t[7], &t[8]));
  for (int value : t) EXPECT_EQ(value, kUntouched);

  // ... and tiles, regions and images report the base failures.
  unsigned char* buffer = nullptr;
  int length = kUntouched;
  EXPECT_EQ(GetImageStreamFunc(&handle, 20.0f, 0, 0, &length, &buffer), nullptr);
  EXPECT_FALSE(GetImageDataRoiFunc(handle, 20.0f, 0, 0, 8, 8, &buffer, &length, false));
  EXPECT_FALSE(ISCanGetMaxFunc(handle, 20.0f, 0, 0, 8, 8));
  EXPECT_FALSE(GetImageDataRoiManyPassagewayFunc(handle, 20.0f, 0, 0, 8, 8, &buffer, &length, false,
                                                 true, true, true, false, false, false));
  int imageWidth = kUntouched, imageHeight = kUntouched;
  EXPECT_FALSE(GetLableInfoFunc(handle, &buffer, &length, &imageWidth, &imageHeight));
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer, nullptr);

  EXPECT_TRUE(UnInitImageFileFunc(&handle));
  EXPECT_EQ(handle.slide, nullptr);
}

// --- forwarding to the slide object ---

class FakeHeader : public CDataHeader {
 public:
  int GetWidth() override { return 1000; }
  int GetHeight() override { return 700; }
  int GetScanScale() override { return 40; }
  int GetSpendTime() override { return 98765; }
  std::int64_t GetScanTime() override { return 1700000000123LL; }
  float GetCaptureResolution() override { return 0.25f; }
  float GetVersion() override { return 1.3f; }
  int GetBlockSize() override { return 256; }
  int GetIntItem(int identifier) override { return identifier * 10 + 1; }
  const char* GetTextItem(int identifier) override {
    text_[identifier % 64] = "item" + std::to_string(identifier);
    return text_[identifier % 64].c_str();
  }

 private:
  std::string text_[64];
};

// Records what it was asked and answers with recognisable values; throws from
// every operation when told to.
class FakeSlide : public CDataFile {
 public:
  explicit FakeSlide(int* closeCount) : closeCount_(closeCount) {}

  CDataHeader* GetHeader() override {
    MaybeThrow();
    return &header_;
  }
  int CloseFile() override {
    ++*closeCount_;
    MaybeThrow();
    return 0;
  }
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override {
    MaybeThrow();
    Record(scale, x, y, 0, 0);
    length = 1234;
    if (out != nullptr && *out != nullptr) (*out)[0] = 0x5A;
    return nullptr;
  }
  int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out, int& length,
                 bool encode) override {
    MaybeThrow();
    Record(scale, x, y, width, height);
    lastFlag = encode;
    *out = strata::AllocateFilledBuffer(12, 0xEE);
    length = 12;
    return regionResult;
  }
  int ReadRegionChannels(float scale, int x, int y, int width, int height, unsigned char**, int&,
                         bool, bool c1, bool c2, bool c3, bool c4, bool c5, bool c6) override {
    MaybeThrow();
    Record(scale, x, y, width, height);
    channels = std::string() + (c1 ? '1' : '0') + (c2 ? '1' : '0') + (c3 ? '1' : '0') +
               (c4 ? '1' : '0') + (c5 ? '1' : '0') + (c6 ? '1' : '0');
    return 7;
  }
  bool GetLabel(unsigned char** data, int& length, int& width, int& height) override {
    MaybeThrow();
    *data = strata::AllocateFilledBuffer(6, 1);
    length = 6;
    width = 2;
    height = 1;
    return true;
  }
  bool ReadScanTimeDuration(int& year, int& month, int& day, int& hour, int& minute, int& second,
                            int& hoursTaken, int& minutesTaken, int& secondsTaken) override {
    MaybeThrow();
    year = 2024, month = 5, day = 6, hour = 7, minute = 8, second = 9;
    hoursTaken = 1, minutesTaken = 2, secondsTaken = 3;
    return true;
  }

  bool throwing = false;
  int regionResult = 1;
  float lastScale = 0;
  int lastX = 0, lastY = 0, lastWidth = 0, lastHeight = 0;
  bool lastFlag = false;
  std::string channels;

 private:
  void MaybeThrow() const {
    if (throwing) throw std::runtime_error("slide failure");
  }
  void Record(float scale, int x, int y, int width, int height) {
    lastScale = scale, lastX = x, lastY = y, lastWidth = width, lastHeight = height;
  }

  int* closeCount_;
  FakeHeader header_;
};

class ForwardingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slide_ = new FakeSlide(&closeCount_);
    handle_.slide = slide_;
  }
  void TearDown() override {
    slide_->throwing = false;
    EXPECT_TRUE(UnInitImageFileFunc(&handle_));
    EXPECT_EQ(handle_.slide, nullptr);
    EXPECT_EQ(closeCount_, 1);
  }

  int closeCount_ = 0;
  FakeSlide* slide_ = nullptr;
  IMAGE_INFO_STRUCT handle_{};
};

TEST_F(ForwardingTest, HeaderInfoDeliversHeightBeforeWidth) {
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, captureResolution = 0;
  double scanTime = 0;
  ASSERT_TRUE(GetHeaderInfoFunc(handle_, &height, &width, &scanScale, &spendTime, &scanTime,
                                &captureResolution, &blockSize));
  EXPECT_EQ(height, 700);
  EXPECT_EQ(width, 1000);
  EXPECT_EQ(scanScale, 40);
  EXPECT_EQ(spendTime, 98765.0f);
  EXPECT_EQ(scanTime, 1700000000123.0);
  EXPECT_EQ(captureResolution, 0.25f);
  EXPECT_EQ(blockSize, 256);
  float version = 0;
  ASSERT_TRUE(GetVersionInfoFunc(&handle_, &version));
  EXPECT_EQ(version, 1.3f);
}

TEST_F(ForwardingTest, PropertyItemsBehindTheHeaderExports) {
  char serial[32] = {};
  ASSERT_TRUE(GetMachineSerialNumFunc(&handle_, serial));
  EXPECT_STREQ(serial, "item29");
  int first = 0, second = 0;
  ASSERT_TRUE(GetScanLevelInfoFunc(&handle_, &first, &second));
  EXPECT_EQ(first, 321);
  EXPECT_EQ(second, 311);
  int channels = 0;
  char* ids[6] = {};
  ASSERT_TRUE(GetImageChannelIdentifierFunc(&handle_, &channels, &ids[0], &ids[1], &ids[2], &ids[3],
                                            &ids[4], &ids[5]));
  EXPECT_EQ(channels, 401);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(std::string(ids[i]), "item" + std::to_string(49 + i));
}

TEST_F(ForwardingTest, BoundedSerialNeverWritesPastTheBuffer) {
  char serial[5];
  std::memset(serial, 'x', sizeof serial);
  ASSERT_TRUE(CImageOperationManager::GetMachineSerialNum(handle_, serial, 4));
  EXPECT_STREQ(serial, "ite");
  EXPECT_EQ(serial[4], 'x');
  char roomy[16];
  ASSERT_TRUE(CImageOperationManager::GetMachineSerialNum(handle_, roomy, sizeof roomy));
  EXPECT_STREQ(roomy, "item29");
  EXPECT_FALSE(CImageOperationManager::GetMachineSerialNum(handle_, roomy, 0));
  EXPECT_FALSE(CImageOperationManager::GetMachineSerialNum(handle_, nullptr, 16));
  IMAGE_INFO_STRUCT empty{};
  EXPECT_FALSE(CImageOperationManager::GetMachineSerialNum(empty, roomy, sizeof roomy));
}

TEST_F(ForwardingTest, ScanTimeDuration) {
  int t[9] = {};
  ASSERT_TRUE(GetScanTimeDurationFunc(&handle_, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                                      &t[7], &t[8]));
  const int expected[9] = {2024, 5, 6, 7, 8, 9, 1, 2, 3};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t[i], expected[i]) << i;
}

TEST_F(ForwardingTest, TileStreamGoesIntoTheCallersBuffer) {
  unsigned char caller[4] = {};
  unsigned char* buffer = caller;
  int length = 0;
  EXPECT_EQ(GetImageStreamFunc(&handle_, 10.0f, 512, 768, &length, &buffer), nullptr);
  EXPECT_EQ(length, 1234);
  EXPECT_EQ(buffer, caller);
  EXPECT_EQ(caller[0], 0x5A);
  EXPECT_EQ(slide_->lastScale, 10.0f);
  EXPECT_EQ(slide_->lastX, 512);
  EXPECT_EQ(slide_->lastY, 768);
}

TEST_F(ForwardingTest, RegionResultFollowsTheSlide) {
  unsigned char* out = nullptr;
  int length = 0;
  ASSERT_TRUE(GetImageDataRoiFunc(handle_, 5.0f, -3, 4, 30, 20, &out, &length, true));
  EXPECT_EQ(length, 12);
  EXPECT_TRUE(slide_->lastFlag);
  EXPECT_EQ(slide_->lastX, -3);
  EXPECT_EQ(slide_->lastWidth, 30);
  EXPECT_EQ(slide_->lastHeight, 20);
  EXPECT_TRUE(DeleteImageDataFunc(out));
  slide_->regionResult = 0;
  out = nullptr;
  EXPECT_FALSE(GetImageDataRoiFunc(handle_, 5.0f, 0, 0, 30, 20, &out, &length, false));
  EXPECT_TRUE(DeleteImageDataFunc(out));
  EXPECT_FALSE(GetImageDataRoiFunc(handle_, 5.0f, 0, 0, 30, 20, nullptr, &length, false));
  EXPECT_FALSE(GetImageDataRoiFunc(handle_, 5.0f, 0, 0, 30, 20, &out, nullptr, false));
}

TEST_F(ForwardingTest, ChannelFlagsArriveInOrder) {
  unsigned char* out = nullptr;
  int length = 0;
  EXPECT_TRUE(GetImageDataRoiManyPassagewayFunc(handle_, 2.5f, 1, 2, 3, 4, &out, &length, false,
                                                true, false, false, true, true, false));
  EXPECT_EQ(slide_->channels, "100110");
  EXPECT_EQ(slide_->lastScale, 2.5f);
}

TEST_F(ForwardingTest, LabelByHandle) {
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  ASSERT_TRUE(GetLableInfoFunc(handle_, &data, &length, &width, &height));
  EXPECT_EQ(length, 6);
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 1);
  EXPECT_TRUE(DeleteImageDataFunc(data));
}

TEST_F(ForwardingTest, ExceptionsStopAtTheInterface) {
  slide_->throwing = true;
  int height = kUntouched, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, captureResolution = 0, version = 0;
  double scanTime = 0;
  EXPECT_FALSE(GetHeaderInfoFunc(handle_, &height, &width, &scanScale, &spendTime, &scanTime,
                                 &captureResolution, &blockSize));
  EXPECT_EQ(height, kUntouched);
  EXPECT_FALSE(GetVersionInfoFunc(&handle_, &version));
  char serial[16] = {};
  EXPECT_FALSE(GetMachineSerialNumFunc(&handle_, serial));
  int t[9] = {};
  EXPECT_FALSE(GetScanTimeDurationFunc(&handle_, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                                       &t[7], &t[8]));
  unsigned char caller[4] = {};
  unsigned char* buffer = caller;
  int length = 0;
  EXPECT_EQ(GetImageStreamFunc(&handle_, 1.0f, 0, 0, &length, &buffer), nullptr);
  EXPECT_FALSE(GetImageDataRoiFunc(handle_, 1.0f, 0, 0, 4, 4, &buffer, &length, false));
  EXPECT_FALSE(GetImageDataRoiManyPassagewayFunc(handle_, 1.0f, 0, 0, 4, 4, &buffer, &length, false,
                                                 true, true, true, true, true, true));
  unsigned char* data = caller;
  int imageWidth = kUntouched, imageHeight = kUntouched;
  length = kUntouched;
  EXPECT_FALSE(GetLableInfoFunc(handle_, &data, &length, &imageWidth, &imageHeight));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(imageWidth, 0);
  EXPECT_EQ(imageHeight, 0);
}

TEST_F(ForwardingTest, ExportedMembersStopExceptionsToo) {
  slide_->throwing = true;
  int length = 0, height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, captureResolution = 0;
  double scanTime = 0;
  unsigned char* buffer = nullptr;
  char* id = nullptr;
  int count = 0;
  EXPECT_NO_THROW({
    EXPECT_FALSE(CImageOperationManager::GetHeaderInfo(handle_, height, width, scanScale, spendTime,
                                                       scanTime, captureResolution, blockSize));
    EXPECT_EQ(CImageOperationManager::GetImageBlockStream(handle_, 1.0f, 0, 0, length, &buffer),
              nullptr);
    EXPECT_FALSE(
        CImageOperationManager::GetImageDataRoi(handle_, 1.0f, 0, 0, 4, 4, &buffer, length, false));
    EXPECT_FALSE(
        CImageOperationManager::GetImageChannelIdentifier(handle_, count, id, id, id, id, id, id));
    EXPECT_FALSE(CImageOperationManager::GetLabelInfo(handle_, &buffer, length, width, height));
  });
}

TEST(ForwardingCloseTest, CloseThatThrowsStillDestroysAndEmptiesTheHandle) {
  int closeCount = 0;
  auto* slide = new FakeSlide(&closeCount);
  slide->throwing = true;
  IMAGE_INFO_STRUCT handle{slide};
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
  EXPECT_EQ(handle.slide, nullptr);
  EXPECT_EQ(closeCount, 1);
}

}  // namespace
