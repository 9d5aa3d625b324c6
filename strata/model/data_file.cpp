#include "strata/model/data_file.h"

#include <cstring>
#include <new>

#include "strata/model/file_operation_tool.h"
#include "strata/model/http_file_operation_tool.h"
#include "strata/model/local_file_operation_tool.h"

CFileOperationTool* CreateFileOperationTool(const char* path) {
  if (path == nullptr) return nullptr;
  if (std::strstr(path, "http://") != nullptr) {
    return new (std::nothrow) CHTTPFileOperationTool();
  }
  return new (std::nothrow) CLocalFileOperationTool();
}

CDataFile::CDataFile() { std::memset(path_, 0, sizeof path_); }

CDataFile::~CDataFile() {
  delete reader_;
  reader_ = nullptr;
}

bool CDataFile::StorePath(const char* path) {
  if (path == nullptr) return false;
  const std::size_t length = std::strlen(path);
  if (length > static_cast<std::size_t>(kMaxPathLength)) return false;
  std::memset(path_, 0, 260);
  std::memcpy(path_, path, length + 1);
  return true;
}

bool CDataFile::OpenFile(const char* path) {
  if (!StorePath(path)) return false;
  if (reader_ == nullptr) reader_ = CreateFileOperationTool(path);
  if (reader_ == nullptr) return false;
  return reader_->Open(path);
}

int CDataFile::LoadFile() { return 0; }
int CDataFile::LoadFileBlock(int, int, int, int, float) { return 0; }
CDataHeader* CDataFile::GetHeader() { return nullptr; }
CLabelDataBlock* CDataFile::GetLabelBlock() { return nullptr; }
CPreViewDataBlock* CDataFile::GetPreviewBlock() { return nullptr; }
CDataBlock* CDataFile::CreateTileBlock() { return nullptr; }
bool CDataFile::GetThumbnailFromPath(const char*, unsigned char**, int&, int&, int&) {
  return false;
}
int CDataFile::GetThumbnail(unsigned char**, int&, int&, int&) { return 0; }
CThumDataBlock* CDataFile::GetThumbBlock() { return nullptr; }
int CDataFile::CloseFile() { return 0; }
int CDataFile::ReadRegion(float, int, int, int, int, unsigned char**, int&, bool) { return 0; }
int CDataFile::ReadRegionMax(float, int, int, int, int, unsigned char**, int&, bool) { return 0; }
bool CDataFile::CanReadRegionMax(float, int, int, int, int) { return false; }
unsigned char* CDataFile::ReadTileStream(float, int, int, int&, unsigned char**) { return nullptr; }
unsigned char* CDataFile::ReadTilePixels(float, int, int, int&, int&, int&, unsigned char**) {
  return nullptr;
}
unsigned char* CDataFile::ReadTileAdjusted(float, int, int, int&, unsigned char**, float, float,
                                           float, float, float, float) {
  return nullptr;
}
bool CDataFile::GetLabelFromPath(const char*, unsigned char**, int&, int&, int&) { return false; }
bool CDataFile::GetLabel(unsigned char**, int&, int&, int&) { return false; }
bool CDataFile::GetPreviewFromPath(const char*, unsigned char**, int&, int&, int&) { return false; }
bool CDataFile::GetPreview(unsigned char**, int&, int&, int&) { return false; }
bool CDataFile::GetThumbnailOnlyFromPath(const char*, unsigned char**, int&, int&, int&) {
  return false;
}
bool CDataFile::ReadScanTimeDuration(int&, int&, int&, int&, int&, int&, int&, int&, int&) {
  return true;
}
int CDataFile::ReadRegionChannels(float, int, int, int, int, unsigned char**, int&, bool, bool,
                                  bool, bool, bool, bool, bool) {
  return 0;
}
unsigned char* CDataFile::ReadTileChannels(float, int, int, int&, unsigned char**, bool, bool, bool,
                                           bool, bool, bool) {
  return nullptr;
}
unsigned char* CDataFile::ReadTileAdjustedChannels(float, int, int, int&, unsigned char**, float,
                                                   float, float, float, float, float, bool, bool,
                                                   bool, bool, bool, bool) {
  return nullptr;
}
