#include "strata/interface/image_operation_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "strata/foreign/bridge_data_file.h"
#include "strata/foreign/openslide_data_file.h"
#include "strata/foreign/unici_data_file.h"
#include "strata/model/data_file.h"
#include "strata/model/local_file_operation_tool.h"
#include "strata/ztx/ztx_data_file.h"
#include "support/test_files.h"

namespace {

using strata::test::TempDir;

// The class of a slide object, told apart by dynamic_cast.
std::string ClassOf(CDataFile* slide) {
  if (slide == nullptr) return "none";
  if (dynamic_cast<CZTXDataFile*>(slide) != nullptr) return "CZTXDataFile";
  if (dynamic_cast<CNDPIDataFile*>(slide) != nullptr) return "CNDPIDataFile";
  if (dynamic_cast<CSVSDataFile*>(slide) != nullptr) return "CSVSDataFile";
  if (dynamic_cast<CMIRAXDataFile*>(slide) != nullptr) return "CMIRAXDataFile";
  if (dynamic_cast<CBIFDataFile*>(slide) != nullptr) return "CBIFDataFile";
  if (dynamic_cast<CUNICIDataFile*>(slide) != nullptr) return "CUNICIDataFile";
  if (dynamic_cast<CMOTICDataFile*>(slide) != nullptr) return "CMOTICDataFile";
  if (dynamic_cast<CDMETRIXDataFile*>(slide) != nullptr) return "CDMETRIXDataFile";
  return "unexpected";
}

struct ClassChoice {
  const char* path;
  const char* expected;
};

class ClassChoiceTest : public ::testing::TestWithParam<ClassChoice> {};

TEST_P(ClassChoiceTest, FirstMatchingRowPicksTheClass) {
  std::unique_ptr<CDataFile> slide(CImageOperationManager::CreateDataFile(GetParam().path));
  EXPECT_EQ(ClassOf(slide.get()), GetParam().expected) << GetParam().path;
  if (slide != nullptr) {
    // A new object is not opened yet.
    EXPECT_EQ(slide->GetFileOperationTool(), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ClassChoiceTest,
    ::testing::Values(
        ClassChoice{"/slides/a.ztx", "CZTXDataFile"}, ClassChoice{"/slides/a.ztxl", "CZTXDataFile"},
        ClassChoice{"http://host/a.ztx", "CZTXDataFile"}, ClassChoice{"/slides/a.ZTX", "none"},
        ClassChoice{"/slides/a.Ztx", "none"}, ClassChoice{"/slides/a.ndpi", "CNDPIDataFile"},
        ClassChoice{"/slides/a.vms", "CNDPIDataFile"},
        ClassChoice{"/slides/a.vmu", "CNDPIDataFile"}, ClassChoice{"/slides/a.svs", "CSVSDataFile"},
        ClassChoice{"/slides/a.tif", "CSVSDataFile"}, ClassChoice{"/slides/a.tiff", "CSVSDataFile"},
        ClassChoice{"/slides/a.SVS", "none"}, ClassChoice{"/slides/a.mrxs", "CMIRAXDataFile"},
        ClassChoice{"/slides/a.bif", "CBIFDataFile"},
        ClassChoice{"/slides/a.TMAP", "CUNICIDataFile"}, ClassChoice{"/slides/a.tmap", "none"},
        ClassChoice{"/slides/a.mds", "CMOTICDataFile"},
        ClassChoice{"/slides/a.dmetrix", "CDMETRIXDataFile"},
        ClassChoice{"/slides/a.DMETRIX", "none"},
        // Earlier rows win wherever their text appears in the path.
        ClassChoice{"/slides.bif/a.svs", "CSVSDataFile"},
        ClassChoice{"/slides.ndpi/a.svs", "CNDPIDataFile"},
        ClassChoice{"/slides.ndpi/a.mrxs", "CNDPIDataFile"},
        ClassChoice{"/slides.ndpi/readme", "CNDPIDataFile"},
        ClassChoice{"/slides.ndpi/a.ztx", "CZTXDataFile"},
        ClassChoice{"/slides/a.svs.ztx", "CZTXDataFile"},
        ClassChoice{"/slides/a.mrxs.bif", "CMIRAXDataFile"},
        ClassChoice{"/slides/a.TMAP.mds", "CUNICIDataFile"},
        ClassChoice{"/slides/a.mds.dmetrix", "CMOTICDataFile"},
        ClassChoice{"/slides/a.jpg", "none"}, ClassChoice{"", "none"}, ClassChoice{"ztx", "none"},
        ClassChoice{".tix", "none"}));

TEST(ClassChoiceNullTest, NullPathGivesNoSlide) {
  EXPECT_EQ(CImageOperationManager::CreateDataFile(nullptr), nullptr);
}

class CreateImageFileTest : public ::testing::Test {
 protected:
  std::string ExistingFile(const std::string& name) {
    const std::string path = dir_.File(name);
    strata::test::WriteFileBytes(path, {0x12, 0x34, 0x56, 0x78});
    return path;
  }
  static FileBlock Block() { return FileBlock{0, 0, 0, 0, 0.0f}; }

  TempDir dir_;
};

TEST_F(CreateImageFileTest, NullPathLeavesTheHandleEmpty) {
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(nullptr, handle, false, Block()));
  EXPECT_EQ(handle.slide, nullptr);
}

class ForeignNameTest : public CreateImageFileTest,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P(ForeignNameTest, FullOpenFailsAndBlockOpenSucceedsWithoutLoading) {
  const std::string path = ExistingFile(std::string("slide") + GetParam());
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(path.c_str(), handle, false, Block()));
  EXPECT_EQ(handle.slide, nullptr);
  ASSERT_TRUE(CImageOperationManager::CreateImageFile(path.c_str(), handle, true,
                                                      FileBlock{0, 0, 512, 512, 20.0f}));
  ASSERT_NE(handle.slide, nullptr);
  EXPECT_EQ(
      ClassOf(handle.slide),
      ClassOf(
          std::unique_ptr<CDataFile>(CImageOperationManager::CreateDataFile(path.c_str())).get()));
  EXPECT_STREQ(handle.slide->GetPath(), path.c_str());
  EXPECT_EQ(handle.slide->GetHeader(), nullptr);
  EXPECT_TRUE(CImageOperationManager::DestoryImageFile(handle));
  EXPECT_EQ(handle.slide, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Names, ForeignNameTest,
                         ::testing::Values(".svs", ".tif", ".ndpi", ".vms", ".mrxs", ".bif",
                                           ".TMAP", ".mds", ".dmetrix"));

class FileReadingNameTest : public ForeignNameTest {};

TEST_P(FileReadingNameTest, MissingFileFailsEvenAsBlock) {
  IMAGE_INFO_STRUCT handle{};
  const std::string path = dir_.File(std::string("missing") + GetParam());
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(path.c_str(), handle, true, Block()));
  EXPECT_EQ(handle.slide, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Names, FileReadingNameTest,
                         ::testing::Values(".svs", ".tif", ".ndpi", ".vms", ".mrxs", ".bif"));

// Bridge and SDK slides are opened by their library alone: a block open,
// which loads nothing, does not look at the file.
class LibraryOnlyNameTest : public ForeignNameTest {};

TEST_P(LibraryOnlyNameTest, BlockOpenOfMissingFileSucceedsWithoutLoading) {
  IMAGE_INFO_STRUCT handle{};
  const std::string path = dir_.File(std::string("missing") + GetParam());
  ASSERT_TRUE(CImageOperationManager::CreateImageFile(path.c_str(), handle, true, Block()));
  EXPECT_EQ(handle.slide->GetHeader(), nullptr);
  EXPECT_TRUE(CImageOperationManager::DestoryImageFile(handle));
}

INSTANTIATE_TEST_SUITE_P(Names, LibraryOnlyNameTest,
                         ::testing::Values(".TMAP", ".mds", ".dmetrix"));

TEST_F(CreateImageFileTest, UnknownNameFailsForAnExistingFile) {
  const std::string path = ExistingFile("slide.png");
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(path.c_str(), handle, false, Block()));
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(path.c_str(), handle, true, Block()));
  EXPECT_EQ(handle.slide, nullptr);
}

TEST_F(CreateImageFileTest, DamagedZtxFileFailsAndLeavesTheHandleEmpty) {
  const std::string path = ExistingFile("damaged.ztx");
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(path.c_str(), handle, false, Block()));
  EXPECT_EQ(handle.slide, nullptr);
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(path.c_str(), handle, true, Block()));
  EXPECT_EQ(handle.slide, nullptr);
}

TEST_F(CreateImageFileTest, FailedOpenEmptiesAHandleThatHeldASlide) {
  const std::string path = ExistingFile("held.svs");
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(CImageOperationManager::CreateImageFile(path.c_str(), handle, true, Block()));
  IMAGE_INFO_STRUCT earlier = handle;
  EXPECT_FALSE(CImageOperationManager::CreateImageFile(dir_.File("missing.svs").c_str(), handle,
                                                       false, Block()));
  EXPECT_EQ(handle.slide, nullptr);
  // The earlier slide was not closed or destroyed: its owner still can.
  EXPECT_TRUE(CImageOperationManager::DestoryImageFile(earlier));
}

TEST_F(CreateImageFileTest, DestroyingAnEmptyHandleIsTrue) {
  IMAGE_INFO_STRUCT handle{};
  EXPECT_TRUE(CImageOperationManager::DestoryImageFile(handle));
  EXPECT_TRUE(CImageOperationManager::DestoryImageFile(handle));
  EXPECT_EQ(handle.slide, nullptr);
}

TEST(ManagerObjectTest, ConstructionCopyAndVersion) {
  CImageOperationManager manager;
  CImageOperationManager other;
  other = manager;
  EXPECT_EQ(CImageOperationManager::GetDllVersion(), 2.0f);
}

}  // namespace
