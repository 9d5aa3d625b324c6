#include "strata/foreign/unici_data_file.h"

#include "strata/foreign/iviewer_sdk.h"
#include "strata/foreign/lazy_module.h"
#include "strata/model/image_codec.h"

namespace {

namespace sdk = strata::iviewer;

// The one region the adapter asks for: (10, 10) to (110, 110) at scale 20.
constexpr tagRECT kTileRect = {10, 10, 110, 110};
constexpr int kTileScale = 20;

strata::foreign::LazyModule& Sdk() {
  static strata::foreign::LazyModule module("iViewerSDK.dll", "STRATA_IVIEWER_SDK");
  return module;
}

template <typename Fn>
Fn Find(const char* name) {
  return reinterpret_cast<Fn>(Sdk().Find(name));
}

int OrgScale(void* handle) {
  const auto scale = Find<sdk::GetOrgScaleFn>(sdk::kGetOrgScale);
  return scale != nullptr ? scale(handle) : 0;
}

}  // namespace

bool strata::foreign::IViewerSdkLoaded() { return Sdk().IsLoaded(); }

CUNICIDataHeader::~CUNICIDataHeader() = default;
int CUNICIDataHeader::LoadRecord() { return 0; }
int CUNICIDataHeader::GetWidth() { return width_; }
int CUNICIDataHeader::GetHeight() { return height_; }
int CUNICIDataHeader::GetScanScale() { return scanScale_; }
int CUNICIDataHeader::GetSpendTime() { return 0; }
std::int64_t CUNICIDataHeader::GetScanTime() { return 0; }
float CUNICIDataHeader::GetCaptureResolution() { return 0.0f; }
float CUNICIDataHeader::GetVersion() { return 1.0f; }
int CUNICIDataHeader::GetBlockSize() { return 256; }
int CUNICIDataHeader::GetIntItem(int) { return 1; }
const char* CUNICIDataHeader::GetTextItem(int) { return ""; }

CUNICIDataFile::~CUNICIDataFile() { CUNICIDataFile::CloseFile(); }

bool CUNICIDataFile::OpenFile(const char* path) { return StorePath(path) && path_[0] != '\0'; }

int CUNICIDataFile::LoadFile() {
  if (handle_ != nullptr) CloseFile();
  if (!Sdk().Load()) return -1;
  const auto open = Find<sdk::OpenTmapFileFn>(sdk::kOpenTmapFile);
  if (open == nullptr) return -1;
  open(CString(path_), handle_);
  OrgScale(handle_);
  return handle_ != nullptr ? 0 : -1;
}

CDataHeader* CUNICIDataFile::GetHeader() {
  if (header_ != nullptr || handle_ == nullptr) return header_.get();
  const int scanScale = OrgScale(handle_);
  int width = 0;
  int height = 0;
  int third = 0;
  const auto info = Find<sdk::GetWholeImgInfoFn>(sdk::kGetWholeImgInfo);
  if (info != nullptr) info(handle_, width, height, third);
  if (width > 0 && height > 0 && scanScale > 0) {
    header_ = std::make_unique<CUNICIDataHeader>(width, height, scanScale);
  }
  return header_.get();
}

int CUNICIDataFile::CloseFile() {
  if (handle_ != nullptr) {
    const auto close = Find<sdk::CloseTmapFileFn>(sdk::kCloseTmapFile);
    if (close != nullptr) close(handle_);
    handle_ = nullptr;
  }
  header_.reset();
  return 0;
}

int CUNICIDataFile::ReadRegion(float, int, int, int, int, unsigned char**, int&, bool) { return 1; }

unsigned char* CUNICIDataFile::ReadTileStream(float, int, int, int& length, unsigned char** out) {
  length = 0;
  if (out == nullptr || handle_ == nullptr) return nullptr;
  const auto roi = Find<sdk::GetROIDataFn>(sdk::kGetROIData);
  if (roi == nullptr) return nullptr;
  tagRECT rect = kTileRect;
  int width = 0;
  int height = 0;
  // The pixels stay the SDK's.
  const unsigned char* pixels = roi(handle_, &rect, kTileScale, width, height, 1);
  // The buffer describes at most the rectangle asked for; anything larger
  // would be read past its end.
  const int rectWidth = kTileRect.right - kTileRect.left;
  const int rectHeight = kTileRect.bottom - kTileRect.top;
  if (pixels == nullptr || width <= 0 || height <= 0 || width > rectWidth || height > rectHeight) {
    return nullptr;
  }
  unsigned char* stream = nullptr;
  int streamLength = 0;
  strata::EncodeJpeg(pixels, width * height * 3, &stream, streamLength, width, height);
  if (stream == nullptr) return nullptr;
  *out = stream;
  length = streamLength;
  return nullptr;
}

bool CUNICIDataFile::GetThumbnailFromPath(const char*, unsigned char**, int&, int&, int&) {
  return true;
}
bool CUNICIDataFile::GetLabelFromPath(const char*, unsigned char**, int&, int&, int&) {
  return true;
}
bool CUNICIDataFile::GetLabel(unsigned char**, int&, int&, int&) { return true; }
bool CUNICIDataFile::GetPreviewFromPath(const char*, unsigned char**, int&, int&, int&) {
  return true;
}
bool CUNICIDataFile::GetPreview(unsigned char**, int&, int&, int&) { return true; }
bool CUNICIDataFile::GetThumbnailOnlyFromPath(const char*, unsigned char**, int&, int&, int&) {
  return true;
}
