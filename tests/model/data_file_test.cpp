#include "strata/model/data_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "strata/model/file_operation_tool.h"
#include "strata/model/http_file_operation_tool.h"
#include "strata/model/local_file_operation_tool.h"
#include "support/test_files.h"

namespace {

using strata::test::TempDir;

struct ReaderChoice {
  const char* path;
  bool http;
};

class ReaderChoiceTest : public ::testing::TestWithParam<ReaderChoice> {};

TEST_P(ReaderChoiceTest, HttpOnlyWhenThePathContainsHttpScheme) {
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(GetParam().path));
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(dynamic_cast<CHTTPFileOperationTool*>(reader.get()) != nullptr, GetParam().http);
  EXPECT_EQ(dynamic_cast<CLocalFileOperationTool*>(reader.get()) != nullptr, !GetParam().http);
}

INSTANTIATE_TEST_SUITE_P(Paths, ReaderChoiceTest,
                         ::testing::Values(ReaderChoice{"http://host/slide.ztx", true},
                                           ReaderChoice{"/mnt/share/http://host/slide.ztx", true},
                                           ReaderChoice{"prefix-http://", true},
                                           ReaderChoice{"https://host/slide.ztx", false},
                                           ReaderChoice{"HTTP://host/slide.ztx", false},
                                           ReaderChoice{"http:/host/slide.ztx", false},
                                           ReaderChoice{"/tmp/slide.ztx", false},
                                           ReaderChoice{"", false}));

TEST(ReaderChoiceNullTest, NullPathGivesNoReader) {
  EXPECT_EQ(CreateFileOperationTool(nullptr), nullptr);
}

TEST(FileOperationToolBaseTest, BaseReadFailsAndOpenCloseSucceed) {
  CFileOperationTool reader;
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(0, 4, &buffer));
  EXPECT_TRUE(reader.Open("anything"));
  EXPECT_TRUE(reader.Close());
}

class DataFileOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("slide.ztx");
    strata::test::WriteFileBytes(path_, {1, 2, 3, 4});
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(DataFileOpenTest, OpenFileRemembersThePathAndReadsThroughALocalReader) {
  CDataFile slide;
  ASSERT_TRUE(slide.OpenFile(path_.c_str()));
  EXPECT_EQ(std::string(slide.GetPath()), path_);
  CFileOperationTool* reader = slide.GetFileOperationTool();
  ASSERT_NE(dynamic_cast<CLocalFileOperationTool*>(reader), nullptr);
  ByteBuffer buffer;
  ASSERT_TRUE(reader->Read(2, 2, &buffer));
  EXPECT_EQ(buffer.Storage()[0], 3);
  EXPECT_EQ(slide.CloseFile(), 0);
  reader->Close();
}

TEST_F(DataFileOpenTest, MissingFileFailsToOpen) {
  CDataFile slide;
  EXPECT_FALSE(slide.OpenFile(dir_.File("missing.ztx").c_str()));
}

TEST_F(DataFileOpenTest, NullPathFails) {
  CDataFile slide;
  EXPECT_FALSE(slide.OpenFile(nullptr));
  EXPECT_EQ(slide.GetFileOperationTool(), nullptr);
}

TEST_F(DataFileOpenTest, SecondOpenReusesTheFirstReader) {
  CDataFile slide;
  ASSERT_TRUE(slide.OpenFile(path_.c_str()));
  CFileOperationTool* first = slide.GetFileOperationTool();
  // A URL on the second open still goes to the local reader, which fails.
  EXPECT_FALSE(slide.OpenFile("http://127.0.0.1:9/slide.ztx"));
  EXPECT_EQ(slide.GetFileOperationTool(), first);
  EXPECT_NE(dynamic_cast<CLocalFileOperationTool*>(first), nullptr);
  EXPECT_STREQ(slide.GetPath(), "http://127.0.0.1:9/slide.ztx");
  const std::string other = dir_.File("other.ztx");
  strata::test::WriteFileBytes(other, {7});
  EXPECT_TRUE(slide.OpenFile(other.c_str()));
  EXPECT_EQ(slide.GetFileOperationTool(), first);
  ByteBuffer buffer;
  ASSERT_TRUE(first->Read(0, 1, &buffer));
  EXPECT_EQ(buffer.Storage()[0], 7);
  first->Close();
}

TEST_F(DataFileOpenTest, PathLongerThanTheFieldIsRefusedWholly) {
  CDataFile slide;
  const std::string longPath = "/" + std::string(4999, 'a');
  EXPECT_FALSE(slide.OpenFile(longPath.c_str()));
  EXPECT_EQ(slide.GetFileOperationTool(), nullptr);
  EXPECT_STREQ(slide.GetPath(), "");
  const std::string justTooLong = "/" + std::string(4095, 'b');  // 4096 characters
  EXPECT_FALSE(slide.OpenFile(justTooLong.c_str()));
}

TEST_F(DataFileOpenTest, PathOfTheFullFieldLengthOpens) {
  // Nested folders whose total path length is exactly 4095 characters.
  std::string folder = dir_.path();
  const std::size_t target = CDataFile::kMaxPathLength;
  while (folder.size() + 1 + 200 + 1 + 20 < target) {
    folder += "/" + std::string(200, 'd');
    std::filesystem::create_directory(folder);
  }
  const std::size_t nameLength = target - folder.size() - 1;
  ASSERT_GT(nameLength, 0u);
  ASSERT_LT(nameLength, 256u);
  const std::string path = folder + "/" + std::string(nameLength, 'f');
  ASSERT_EQ(path.size(), target);
  strata::test::WriteFileBytes(path, {42});
  CDataFile slide;
  ASSERT_TRUE(slide.OpenFile(path.c_str()));
  EXPECT_EQ(std::string(slide.GetPath()), path);
  ByteBuffer buffer;
  ASSERT_TRUE(slide.GetFileOperationTool()->Read(0, 1, &buffer));
  EXPECT_EQ(buffer.Storage()[0], 42);
  slide.CloseFile();
  slide.GetFileOperationTool()->Close();
}

TEST(DataFileBaseTest, UnsupportedOperationsReportTheBaseResults) {
  CDataFile slide;
  EXPECT_EQ(slide.LoadFile(), 0);
  EXPECT_EQ(slide.LoadFileBlock(0, 0, 10, 10, 20.0f), 0);
  EXPECT_EQ(slide.GetHeader(), nullptr);
  EXPECT_EQ(slide.GetLabelBlock(), nullptr);
  EXPECT_EQ(slide.GetPreviewBlock(), nullptr);
  EXPECT_EQ(slide.CreateTileBlock(), nullptr);
  EXPECT_EQ(slide.GetThumbBlock(), nullptr);
  EXPECT_EQ(slide.CloseFile(), 0);
  unsigned char* data = nullptr;
  int length = -7, width = -7, height = -7;
  EXPECT_FALSE(slide.GetThumbnailFromPath("x.ztx", &data, length, width, height));
  EXPECT_EQ(slide.GetThumbnail(&data, length, width, height), 0);
  EXPECT_FALSE(slide.GetLabelFromPath("x.ztx", &data, length, width, height));
  EXPECT_FALSE(slide.GetLabel(&data, length, width, height));
  EXPECT_FALSE(slide.GetPreviewFromPath("x.ztx", &data, length, width, height));
  EXPECT_FALSE(slide.GetPreview(&data, length, width, height));
  EXPECT_FALSE(slide.GetThumbnailOnlyFromPath("x.ztx", &data, length, width, height));
  EXPECT_EQ(slide.ReadRegion(1.0f, 0, 0, 4, 4, &data, length, false), 0);
  EXPECT_EQ(slide.ReadRegionMax(1.0f, 0, 0, 4, 4, &data, length, false), 0);
  EXPECT_FALSE(slide.CanReadRegionMax(1.0f, 0, 0, 4, 4));
  EXPECT_EQ(slide.ReadTileStream(1.0f, 0, 0, length, &data), nullptr);
  EXPECT_EQ(slide.ReadTilePixels(1.0f, 0, 0, length, width, height, &data), nullptr);
  EXPECT_EQ(slide.ReadTileAdjusted(1.0f, 0, 0, length, &data, 1, 1, 1, 1, 1, 1), nullptr);
  EXPECT_EQ(slide.ReadRegionChannels(1.0f, 0, 0, 4, 4, &data, length, false, true, true, true,
                                     false, false, false),
            0);
  EXPECT_EQ(
      slide.ReadTileChannels(1.0f, 0, 0, length, &data, true, true, true, false, false, false),
      nullptr);
  EXPECT_EQ(slide.ReadTileAdjustedChannels(1.0f, 0, 0, length, &data, 1, 1, 1, 1, 1, 1, true, true,
                                           true, false, false, false),
            nullptr);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, -7);
  EXPECT_EQ(width, -7);
  EXPECT_EQ(height, -7);
  int values[9] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
  EXPECT_TRUE(slide.ReadScanTimeDuration(values[0], values[1], values[2], values[3], values[4],
                                         values[5], values[6], values[7], values[8]));
  for (int value : values) EXPECT_EQ(value, -1);
}

}  // namespace
