#include "strata/interface/image_operation_manager.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "strata/interface/boundary_guard.h"
#include "strata/interface/failure_log.h"
#include "strata/model/data_file.h"
#include "strata/model/failure_note.h"
#include "strata/model/image_buffer.h"
#include "strata/slide/format_registry.h"
#include "strata/version.h"
#include "strata/ztx/ztx_maintenance.h"

namespace {

using strata::Guarded;
using strata::Status;
using Bytes = unsigned char*;

// Keeps why an operation on `slide` (null: no slide was open) failed: what
// the code beneath noted, else only that `what` failed.
template <typename Describe>
void KeepReason(const CDataFile* slide, bool handleOperation, Describe describe) noexcept {
  try {
    const std::string what = describe();
    const Status noted = strata::TakeNotedFailure(Status::Ok());
    Status reason = noted.ok() ? Status::Damaged(what + " failed") : noted.Prefixed(what);
    if (handleOperation && slide == nullptr) {
      reason = Status::InvalidArgument(what + ": no slide is open");
    }
    strata::interface::RecordFailure(slide, reason);
  } catch (...) {
  }
}

// Runs an operation whose body says whether it succeeded; a failure's reason
// is kept for GetLastErrorTextFunc. Results are the body's own.
template <typename Describe, typename Body>
bool Reported(const CDataFile* slide, bool handleOperation, Describe describe, Body body) {
  strata::ClearNotedFailure();
  const bool succeeded = body();
  if (!succeeded) KeepReason(slide, handleOperation, describe);
  return succeeded;
}

template <typename Describe, typename Body>
bool OnHandle(const IMAGE_INFO_STRUCT& handle, Describe describe, Body body) {
  return Reported(handle.slide, true, describe, body);
}

// OnHandle for a body that may throw: whatever it throws is a failure.
template <typename Describe, typename Body>
bool GuardedOnHandle(const IMAGE_INFO_STRUCT& handle, Describe describe, Body body) {
  return OnHandle(handle, describe, [&] { return Guarded(false, body); });
}

template <typename Describe, typename Body>
bool OnPath(Describe describe, Body body) {
  return Reported(nullptr, false, describe, body);
}

// "20", "2.5": a scale as a reader writes it.
std::string ScaleText(float scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(scale));
  return text;
}

std::string TileText(float scale, int x, int y) {
  return "tile at scale " + ScaleText(scale) + " (" + std::to_string(x) + ", " + std::to_string(y) +
         ")";
}

std::string RegionText(float scale, int x, int y, int width, int height) {
  return "region " + std::to_string(width) + " x " + std::to_string(height) + " at scale " +
         ScaleText(scale) + " (" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

// Why a slide could not be opened, prefixed with its path: the location
// itself, no format taking the file, or what the slide found.
void KeepOpenFailure(const char* path, const CDataFile* slide) noexcept {
  try {
    const std::string location(path);
    Status reason = strata::CheckSlideLocation(location);
    if (reason.ok()) {
      if (slide != nullptr && !slide->LastStatus().ok()) {
        reason = slide->LastStatus();
      } else {
        reason =
            strata::TakeNotedFailure(slide == nullptr ? strata::NotASlide(location)
                                                      : Status::Damaged("cannot open the slide"));
      }
    }
    reason = strata::PreferTransportFailure(location, reason);
    strata::interface::RecordFailure(nullptr,
                                     location.empty() ? reason : reason.Prefixed(location));
  } catch (...) {
  }
}

constexpr float kDllVersion = STRATA_DLL_VERSION;

CDataHeader* HeaderOf(const IMAGE_INFO_STRUCT& handle) {
  return handle.slide == nullptr ? nullptr : handle.slide->GetHeader();
}

// Opens and loads a fresh slide; any exception counts as a failed load.
bool OpenAndLoad(CDataFile& slide, const char* path, bool asBlock, const FileBlock& block) {
  return Guarded(false, [&] {
    if (!slide.OpenFile(path)) return false;
    const int loaded =
        asBlock ? slide.LoadFileBlock(block.left, block.top, block.right, block.bottom, block.scale)
                : slide.LoadFile();
    return loaded == 0;
  });
}

void CloseQuietly(CDataFile& slide) {
  Guarded(0, [&] { return slide.CloseFile(); });
}

// What an associated-image read that threw reports, so that its outputs are
// cleared again: a slide may have written them before throwing.
constexpr int kRaised = -1;

void ClearImageOutputs(unsigned char** data, int& length, int& width, int& height) {
  if (data != nullptr) *data = nullptr;
  length = 0;
  width = 0;
  height = 0;
}

using PathImageOperation = bool (CDataFile::*)(const char*, unsigned char**, int&, int&, int&);

// Why no format takes a path: the location itself, else its first bytes.
Status NoFormatReason(const std::string& location) {
  const Status usable = strata::CheckSlideLocation(location);
  return usable.ok() ? strata::NotASlide(location) : usable;
}

// The associated image of a path: a fresh slide object opens, reads and closes
// the file itself and is destroyed afterwards without CloseFile.
bool PathImage(PathImageOperation operation, const char* name, const char* path,
               unsigned char** data, int& length, int& width, int& height) {
  ClearImageOutputs(data, length, width, height);
  if (path == nullptr || data == nullptr) return false;
  int result = 0;
  OnPath([&] { return std::string(path) + ": reading the " + name; },
         [&] {
           result = Guarded(kRaised, [&] {
             std::unique_ptr<CDataFile> slide(CImageOperationManager::CreateDataFile(path));
             if (slide == nullptr) {
               strata::NoteFailure(NoFormatReason(path));
               return 0;
             }
             return ((*slide).*operation)(path, data, length, width, height) ? 1 : 0;
           });
           return result == 1;
         });
  if (result == kRaised) ClearImageOutputs(data, length, width, height);
  return result == 1;
}

// The associated image of an open slide; `read` calls the slide operation.
template <typename Read>
bool HandleImage(const IMAGE_INFO_STRUCT& handle, const char* name, unsigned char** data,
                 int& length, int& width, int& height, Read read) {
  ClearImageOutputs(data, length, width, height);
  if (data == nullptr) return false;
  int result = 0;
  OnHandle(
      handle, [&] { return std::string("reading the ") + name; },
      [&] {
        if (handle.slide == nullptr) return false;
        result = Guarded(kRaised, [&] { return read(*handle.slide) ? 1 : 0; });
        return result == 1;
      });
  if (result == kRaised) ClearImageOutputs(data, length, width, height);
  return result == 1;
}

}  // namespace

CImageOperationManager::CImageOperationManager() = default;
CImageOperationManager::~CImageOperationManager() = default;
CImageOperationManager& CImageOperationManager::operator=(const CImageOperationManager&) {
  return *this;
}

CDataFile* CImageOperationManager::CreateDataFile(const char* path) {
  if (path == nullptr) return nullptr;
  return Guarded<CDataFile*>(nullptr, [&]() -> CDataFile* {
    const strata::FormatEntry* entry = strata::FormatByName(path);
    std::string format;
    // A name that says nothing leaves the choice to the file's content.
    if (entry == nullptr) entry = strata::FormatByContent(path, &format);
    return entry == nullptr ? nullptr : entry->makeDataFile();
  });
}

bool CImageOperationManager::CreateImageFile(const char* path, IMAGE_INFO_STRUCT& handle,
                                             bool asBlock, FileBlock block) {
  // A slide the handle held before is not closed here: callers close first.
  handle.slide = nullptr;
  strata::ClearNotedFailure();
  if (path == nullptr) {
    strata::interface::RecordFailure(nullptr, Status::InvalidArgument("the slide path is null"));
    return false;
  }
  std::unique_ptr<CDataFile> slide(CreateDataFile(path));
  if (slide == nullptr) {
    KeepOpenFailure(path, nullptr);
    return false;
  }
  if (!OpenAndLoad(*slide, path, asBlock, block)) {
    KeepOpenFailure(path, slide.get());
    CloseQuietly(*slide);
    return false;
  }
  handle.slide = slide.release();
  return true;
}

bool CImageOperationManager::DestoryImageFile(IMAGE_INFO_STRUCT& handle) {
  std::unique_ptr<CDataFile> slide(handle.slide);
  handle.slide = nullptr;
  strata::interface::ForgetSlide(slide.get());
  if (slide != nullptr) CloseQuietly(*slide);
  return true;
}

bool CImageOperationManager::DeleteImageBlockStream(void* data) {
  if (data == nullptr) return false;
  strata::ReleaseBuffer(data);
  return true;
}

float CImageOperationManager::GetDllVersion() { return kDllVersion; }

bool CImageOperationManager::GetHeaderInfo(IMAGE_INFO_STRUCT handle, int& height, int& width,
                                           int& scanScale, float& spendTime, double& scanTime,
                                           float& captureResolution, int& blockSize) {
  return GuardedOnHandle(
      handle, [] { return std::string("reading the header"); },
      [&] {
        CDataHeader* header = HeaderOf(handle);
        if (header == nullptr) return false;
        height = header->GetHeight();
        width = header->GetWidth();
        scanScale = header->GetScanScale();
        spendTime = static_cast<float>(header->GetSpendTime());
        scanTime = static_cast<double>(header->GetScanTime());
        captureResolution = header->GetCaptureResolution();
        blockSize = header->GetBlockSize();
        return true;
      });
}

bool CImageOperationManager::GetVersionInfo(IMAGE_INFO_STRUCT handle, float& version) {
  return GuardedOnHandle(
      handle, [] { return std::string("reading the version"); },
      [&] {
        CDataHeader* header = HeaderOf(handle);
        if (header == nullptr) return false;
        version = header->GetVersion();
        return true;
      });
}

bool CImageOperationManager::GetScanTimeDuration(IMAGE_INFO_STRUCT& handle, int& year, int& month,
                                                 int& day, int& hour, int& minute, int& second,
                                                 int& hoursTaken, int& minutesTaken,
                                                 int& secondsTaken) {
  return OnHandle(
      handle, [] { return std::string("reading the scan time"); },
      [&] {
        if (handle.slide == nullptr) return false;
        return Guarded(false, [&] {
          return handle.slide->ReadScanTimeDuration(year, month, day, hour, minute, second,
                                                    hoursTaken, minutesTaken, secondsTaken);
        });
      });
}

bool CImageOperationManager::GetMachineSerialNum(IMAGE_INFO_STRUCT& handle, char* serial) {
  if (serial == nullptr) return false;
  return GuardedOnHandle(
      handle, [] { return std::string("reading the machine serial"); },
      [&] {
        CDataHeader* header = HeaderOf(handle);
        if (header == nullptr) return false;
        const char* text = header->GetMachineSerial();
        std::strcpy(serial, text == nullptr ? "" : text);
        return true;
      });
}

bool CImageOperationManager::GetMachineSerialNum(IMAGE_INFO_STRUCT& handle, char* serial,
                                                 std::size_t size) {
  if (serial == nullptr || size == 0) return false;
  return Guarded(false, [&] {
    CDataHeader* header = HeaderOf(handle);
    if (header == nullptr) return false;
    const char* text = header->GetMachineSerial();
    if (text == nullptr) text = "";
    const std::size_t length = std::min(std::strlen(text), size - 1);
    std::memcpy(serial, text, length);
    serial[length] = '\0';
    return true;
  });
}

bool CImageOperationManager::GetScanLevelInfo(IMAGE_INFO_STRUCT& handle, int& first, int& second) {
  return GuardedOnHandle(
      handle, [] { return std::string("reading the scan levels"); },
      [&] {
        CDataHeader* header = HeaderOf(handle);
        if (header == nullptr) return false;
        first = header->GetScanLevelFirst();
        second = header->GetScanLevelSecond();
        return true;
      });
}

bool CImageOperationManager::GetImageChannelIdentifier(IMAGE_INFO_STRUCT& handle, int& channelCount,
                                                       char*& id1, char*& id2, char*& id3,
                                                       char*& id4, char*& id5, char*& id6) {
  return GuardedOnHandle(
      handle, [] { return std::string("reading the channels"); },
      [&] {
        CDataHeader* header = HeaderOf(handle);
        if (header == nullptr) return false;
        channelCount = header->GetChannelCount();
        char** identifiers[] = {&id1, &id2, &id3, &id4, &id5, &id6};
        int index = 0;
        for (char** identifier : identifiers) {
          const char* text = header->GetChannelIdentifier(index++);
          // The texts belong to the slide; callers only read them.
          *identifier = const_cast<char*>(text == nullptr ? "" : text);
        }
        return true;
      });
}

namespace {

// A tile read delivers through *buffer and length: it failed when nothing
// was delivered. The pointer result is the slide's own (always null).
template <typename Read>
Bytes TileRead(IMAGE_INFO_STRUCT& handle, float scale, int x, int y, const int& length, Read read) {
  Bytes result = nullptr;
  OnHandle(
      handle, [&] { return TileText(scale, x, y); },
      [&] {
        if (handle.slide == nullptr) return false;
        result = Guarded<Bytes>(nullptr, [&] { return read(*handle.slide); });
        return length > 0;
      });
  return result;
}

template <typename Read>
bool RegionRead(const IMAGE_INFO_STRUCT& handle, float scale, int x, int y, int width, int height,
                Read read) {
  return OnHandle(
      handle, [&] { return RegionText(scale, x, y, width, height); },
      [&] {
        if (handle.slide == nullptr) return false;
        return Guarded(false, [&] { return read(*handle.slide); });
      });
}

}  // namespace

unsigned char* CImageOperationManager::GetImageBlockStream(IMAGE_INFO_STRUCT& handle, float scale,
                                                           int x, int y, int& length,
                                                           unsigned char** buffer) {
  return TileRead(handle, scale, x, y, length, [&](CDataFile& slide) {
    return slide.ReadTileStream(scale, x, y, length, buffer);
  });
}

unsigned char* CImageOperationManager::GetImageDataBlockStream(IMAGE_INFO_STRUCT& handle,
                                                               float scale, int x, int y,
                                                               int& length, int& width, int& height,
                                                               unsigned char** buffer) {
  return TileRead(handle, scale, x, y, length, [&](CDataFile& slide) {
    return slide.ReadTilePixels(scale, x, y, length, width, height, buffer);
  });
}

unsigned char* CImageOperationManager::ImageLUTadjust(IMAGE_INFO_STRUCT& handle, float scale, int x,
                                                      int y, int& length, unsigned char** buffer,
                                                      float p1, float p2, float p3, float p4,
                                                      float p5, float p6) {
  return TileRead(handle, scale, x, y, length, [&](CDataFile& slide) {
    return slide.ReadTileAdjusted(scale, x, y, length, buffer, p1, p2, p3, p4, p5, p6);
  });
}

bool CImageOperationManager::GetImageDataRoi(IMAGE_INFO_STRUCT handle, float scale, int x, int y,
                                             int width, int height, unsigned char** out,
                                             int& length, bool flag) {
  return RegionRead(handle, scale, x, y, width, height, [&](CDataFile& slide) {
    return slide.ReadRegion(scale, x, y, width, height, out, length, flag) != 0;
  });
}

bool CImageOperationManager::GetImageDataMax(IMAGE_INFO_STRUCT handle, float scale, int x, int y,
                                             int width, int height, unsigned char** out,
                                             int& length, bool flag) {
  return RegionRead(handle, scale, x, y, width, height, [&](CDataFile& slide) {
    return slide.ReadRegionMax(scale, x, y, width, height, out, length, flag) != 0;
  });
}

bool CImageOperationManager::ISCanGetMax(IMAGE_INFO_STRUCT handle, float scale, int x, int y,
                                         int width, int height) {
  // A question, not a read: "no" is no failure to explain.
  if (handle.slide == nullptr) return false;
  return Guarded(false, [&] { return handle.slide->CanReadRegionMax(scale, x, y, width, height); });
}

bool CImageOperationManager::GetImageDataRoiManyPassageway(IMAGE_INFO_STRUCT handle, float scale,
                                                           int x, int y, int width, int height,
                                                           unsigned char** out, int& length,
                                                           bool flag, bool c1, bool c2, bool c3,
                                                           bool c4, bool c5, bool c6) {
  return RegionRead(handle, scale, x, y, width, height, [&](CDataFile& slide) {
    return slide.ReadRegionChannels(scale, x, y, width, height, out, length, flag, c1, c2, c3, c4,
                                    c5, c6) != 0;
  });
}

unsigned char* CImageOperationManager::GetImageBlockStreamManyPassageway(
    IMAGE_INFO_STRUCT& handle, float scale, int x, int y, int& length, unsigned char** buffer,
    bool c1, bool c2, bool c3, bool c4, bool c5, bool c6) {
  return TileRead(handle, scale, x, y, length, [&](CDataFile& slide) {
    return slide.ReadTileChannels(scale, x, y, length, buffer, c1, c2, c3, c4, c5, c6);
  });
}

unsigned char* CImageOperationManager::ImageLUTadjustManyPassageway(
    IMAGE_INFO_STRUCT& handle, float scale, int x, int y, int& length, unsigned char** buffer,
    float p1, float p2, float p3, float p4, float p5, float p6, bool c1, bool c2, bool c3, bool c4,
    bool c5, bool c6) {
  return TileRead(handle, scale, x, y, length, [&](CDataFile& slide) {
    return slide.ReadTileAdjustedChannels(scale, x, y, length, buffer, p1, p2, p3, p4, p5, p6, c1,
                                          c2, c3, c4, c5, c6);
  });
}

bool CImageOperationManager::GetLabelInfo(IMAGE_INFO_STRUCT handle, unsigned char** data,
                                          int& length, int& width, int& height) {
  return HandleImage(handle, "label", data, length, width, height,
                     [&](CDataFile& slide) { return slide.GetLabel(data, length, width, height); });
}

bool CImageOperationManager::GetLabelInfo(const char* path, unsigned char** data, int& length,
                                          int& width, int& height) {
  return PathImage(&CDataFile::GetLabelFromPath, "label", path, data, length, width, height);
}

bool CImageOperationManager::GetPriviewInfo(IMAGE_INFO_STRUCT handle, unsigned char** data,
                                            int& length, int& width, int& height) {
  return HandleImage(handle, "preview", data, length, width, height, [&](CDataFile& slide) {
    return slide.GetPreview(data, length, width, height);
  });
}

bool CImageOperationManager::GetPriviewInfo(const char* path, unsigned char** data, int& length,
                                            int& width, int& height) {
  return PathImage(&CDataFile::GetPreviewFromPath, "preview", path, data, length, width, height);
}

bool CImageOperationManager::GetThumnailImage(IMAGE_INFO_STRUCT handle, unsigned char** data,
                                              int& length, int& width, int& height) {
  return HandleImage(handle, "thumbnail", data, length, width, height, [&](CDataFile& slide) {
    return slide.GetThumbnail(data, length, width, height) != 0;
  });
}

bool CImageOperationManager::GetThumnailImage(const char* path, unsigned char** data, int& length,
                                              int& width, int& height) {
  return PathImage(&CDataFile::GetThumbnailFromPath, "thumbnail", path, data, length, width,
                   height);
}

bool CImageOperationManager::GetThumnailImageOnly(const char* path, unsigned char** data,
                                                  int& length, int& width, int& height) {
  return PathImage(&CDataFile::GetThumbnailOnlyFromPath, "stored thumbnail", path, data, length,
                   width, height);
}

namespace {

template <typename Body>
bool Maintenance(const char* slidePath, const char* what, Body body) {
  return OnPath([&] { return std::string(slidePath == nullptr ? "" : slidePath) + ": " + what; },
                [&] { return Guarded(false, body); });
}

}  // namespace

bool CImageOperationManager::ChangeLabelInfo(const char* slidePath, const char* labelPath) {
  return Maintenance(slidePath, "replacing the label",
                     [&] { return strata::ztx::ReplaceLabelStream(slidePath, labelPath); });
}

bool CImageOperationManager::CompressBlockDataInfo(const char* slidePath) {
  return Maintenance(slidePath, "compressing the tile index",
                     [&] { return strata::ztx::CompressTileIndex(slidePath); });
}

bool CImageOperationManager::UnCompressBlockDataInfo(const char* slidePath) {
  return Maintenance(slidePath, "expanding the tile index",
                     [&] { return strata::ztx::ExpandTileIndex(slidePath); });
}

int CImageOperationManager::GetLastErrorText(const IMAGE_INFO_STRUCT* handle, char* text,
                                             int capacity) {
  return Guarded(0, [&] {
    const std::string reason =
        strata::interface::LastFailureText(handle == nullptr ? nullptr : handle->slide);
    if (text != nullptr && capacity > 0) {
      const std::size_t copied = std::min(reason.size(), static_cast<std::size_t>(capacity) - 1);
      std::memcpy(text, reason.data(), copied);
      text[copied] = '\0';
    }
    return static_cast<int>(std::min<std::size_t>(reason.size(), INT_MAX));
  });
}
