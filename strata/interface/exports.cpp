// The flat C interface: every export checks its pointer arguments and forwards
// to one static member of CImageOperationManager, which stops exceptions.
#include "strata/interface/image_operation_manager.h"
#include "strata/strata.h"

namespace {

using Manager = CImageOperationManager;

// Associated-image outputs are cleared before anything else happens.
bool ImageOutputsPresent(unsigned char** data, int* length, int* width, int* height) {
  if (data != nullptr) *data = nullptr;
  if (length != nullptr) *length = 0;
  if (width != nullptr) *width = 0;
  if (height != nullptr) *height = 0;
  return data != nullptr && length != nullptr && width != nullptr && height != nullptr;
}

}  // namespace

extern "C" {

bool InitImageFileFunc(IMAGE_INFO_STRUCT* handle, const char* path) {
  if (handle == nullptr) return false;
  return Manager::CreateImageFile(path, *handle, false, FileBlock{0, 0, 0, 0, 0.0f});
}

bool InitImageFileFuncAsBlock(IMAGE_INFO_STRUCT* handle, const char* path, int left, int top,
                              int right, int bottom, float scale) {
  if (handle == nullptr) return false;
  return Manager::CreateImageFile(path, *handle, true, FileBlock{left, top, right, bottom, scale});
}

bool UnInitImageFileFunc(IMAGE_INFO_STRUCT* handle) {
  if (handle == nullptr) return true;
  return Manager::DestoryImageFile(*handle);
}

bool DeleteImageDataFunc(void* data) { return Manager::DeleteImageBlockStream(data); }

float GetDllVersionFunc(float* version) {
  const float value = Manager::GetDllVersion();
  if (version != nullptr) *version = value;
  return value;
}

bool GetHeaderInfoFunc(IMAGE_INFO_STRUCT handle, int* height, int* width, int* scanScale,
                       float* spendTime, double* scanTime, float* captureResolution,
                       int* blockSize) {
  if (height == nullptr || width == nullptr || scanScale == nullptr || spendTime == nullptr ||
      scanTime == nullptr || captureResolution == nullptr || blockSize == nullptr) {
    return false;
  }
  return Manager::GetHeaderInfo(handle, *height, *width, *scanScale, *spendTime, *scanTime,
                                *captureResolution, *blockSize);
}

bool GetVersionInfoFunc(IMAGE_INFO_STRUCT* handle, float* version) {
  if (handle == nullptr || version == nullptr) return false;
  return Manager::GetVersionInfo(*handle, *version);
}

bool GetScanTimeDurationFunc(IMAGE_INFO_STRUCT* handle, int* year, int* month, int* day, int* hour,
                             int* minute, int* second, int* hoursTaken, int* minutesTaken,
                             int* secondsTaken) {
  if (handle == nullptr || year == nullptr || month == nullptr || day == nullptr ||
      hour == nullptr || minute == nullptr || second == nullptr || hoursTaken == nullptr ||
      minutesTaken == nullptr || secondsTaken == nullptr) {
    return false;
  }
  return Manager::GetScanTimeDuration(*handle, *year, *month, *day, *hour, *minute, *second,
                                      *hoursTaken, *minutesTaken, *secondsTaken);
}

bool GetMachineSerialNumFunc(IMAGE_INFO_STRUCT* handle, char* serial) {
  if (handle == nullptr || serial == nullptr) return false;
  return Manager::GetMachineSerialNum(*handle, serial);
}

bool GetScanLevelInfoFunc(IMAGE_INFO_STRUCT* handle, int* first, int* second) {
  if (handle == nullptr || first == nullptr || second == nullptr) return false;
  return Manager::GetScanLevelInfo(*handle, *first, *second);
}

bool GetImageChannelIdentifierFunc(IMAGE_INFO_STRUCT* handle, int* channelCount, char** id1,
                                   char** id2, char** id3, char** id4, char** id5, char** id6) {
  if (handle == nullptr || channelCount == nullptr || id1 == nullptr || id2 == nullptr ||
      id3 == nullptr || id4 == nullptr || id5 == nullptr || id6 == nullptr) {
    return false;
  }
  return Manager::GetImageChannelIdentifier(*handle, *channelCount, *id1, *id2, *id3, *id4, *id5,
                                            *id6);
}

unsigned char* GetImageStreamFunc(IMAGE_INFO_STRUCT* handle, float scale, int x, int y, int* length,
                                  unsigned char** buffer) {
  if (handle == nullptr || length == nullptr) return nullptr;
  return Manager::GetImageBlockStream(*handle, scale, x, y, *length, buffer);
}

unsigned char* GetImageRGBDataStreamFunc(IMAGE_INFO_STRUCT* handle, float scale, int x, int y,
                                         int* length, int* width, int* height,
                                         unsigned char** buffer) {
  if (handle == nullptr || length == nullptr || width == nullptr || height == nullptr) {
    return nullptr;
  }
  return Manager::GetImageDataBlockStream(*handle, scale, x, y, *length, *width, *height, buffer);
}

unsigned char* GetLUTImage(IMAGE_INFO_STRUCT* handle, float scale, int x, int y, int* length,
                           unsigned char** buffer, float p1, float p2, float p3, float p4, float p5,
                           float p6) {
  if (handle == nullptr || length == nullptr) return nullptr;
  return Manager::ImageLUTadjust(*handle, scale, x, y, *length, buffer, p1, p2, p3, p4, p5, p6);
}

bool GetImageDataRoiFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width, int height,
                         unsigned char** out, int* length, bool flag) {
  if (out == nullptr || length == nullptr) return false;
  return Manager::GetImageDataRoi(handle, scale, x, y, width, height, out, *length, flag);
}

bool GetImageDataMaxFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width, int height,
                         unsigned char** out, int* length, bool flag) {
  if (out == nullptr || length == nullptr) return false;
  return Manager::GetImageDataMax(handle, scale, x, y, width, height, out, *length, flag);
}

bool ISCanGetMaxFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width, int height) {
  return Manager::ISCanGetMax(handle, scale, x, y, width, height);
}

bool GetImageDataRoiManyPassagewayFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y,
                                       int width, int height, unsigned char** out, int* length,
                                       bool flag, bool c1, bool c2, bool c3, bool c4, bool c5,
                                       bool c6) {
  if (out == nullptr || length == nullptr) return false;
  return Manager::GetImageDataRoiManyPassageway(handle, scale, x, y, width, height, out, *length,
                                                flag, c1, c2, c3, c4, c5, c6);
}

unsigned char* GetImageStreamManyPassagewayFunc(IMAGE_INFO_STRUCT* handle, float scale, int x,
                                                int y, int* length, unsigned char** buffer, bool c1,
                                                bool c2, bool c3, bool c4, bool c5, bool c6) {
  if (handle == nullptr || length == nullptr) return nullptr;
  return Manager::GetImageBlockStreamManyPassageway(*handle, scale, x, y, *length, buffer, c1, c2,
                                                    c3, c4, c5, c6);
}

unsigned char* GetLUTImageManyPassageway(IMAGE_INFO_STRUCT* handle, float scale, int x, int y,
                                         int* length, unsigned char** buffer, float p1, float p2,
                                         float p3, float p4, float p5, float p6, bool c1, bool c2,
                                         bool c3, bool c4, bool c5, bool c6) {
  if (handle == nullptr || length == nullptr) return nullptr;
  return Manager::ImageLUTadjustManyPassageway(*handle, scale, x, y, *length, buffer, p1, p2, p3,
                                               p4, p5, p6, c1, c2, c3, c4, c5, c6);
}

bool GetLableInfoFunc(IMAGE_INFO_STRUCT handle, unsigned char** data, int* length, int* width,
                      int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetLabelInfo(handle, data, *length, *width, *height);
}

bool GetPriviewInfoFunc(IMAGE_INFO_STRUCT handle, unsigned char** data, int* length, int* width,
                        int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetPriviewInfo(handle, data, *length, *width, *height);
}

bool GetThumnailImageFunc(IMAGE_INFO_STRUCT handle, unsigned char** data, int* length, int* width,
                          int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetThumnailImage(handle, data, *length, *width, *height);
}

bool GetLableInfoPathFunc(const char* path, unsigned char** data, int* length, int* width,
                          int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetLabelInfo(path, data, *length, *width, *height);
}

bool GetPriviewInfoPathFunc(const char* path, unsigned char** data, int* length, int* width,
                            int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetPriviewInfo(path, data, *length, *width, *height);
}

bool GetThumnailImagePathFunc(const char* path, unsigned char** data, int* length, int* width,
                              int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetThumnailImage(path, data, *length, *width, *height);
}

bool GetThumnailImageOnlyPathFunc(const char* path, unsigned char** data, int* length, int* width,
                                  int* height) {
  if (!ImageOutputsPresent(data, length, width, height)) return false;
  return Manager::GetThumnailImageOnly(path, data, *length, *width, *height);
}

bool ChangeLabelInfoFunc(const char* slidePath, const char* labelPath) {
  return Manager::ChangeLabelInfo(slidePath, labelPath);
}

bool CompressBlockDataInfoFunc(const char* slidePath) {
  return Manager::CompressBlockDataInfo(slidePath);
}

bool UnCompressBlockDataInfoFunc(const char* slidePath) {
  return Manager::UnCompressBlockDataInfo(slidePath);
}

int GetLastErrorTextFunc(const IMAGE_INFO_STRUCT* handle, char* text, int capacity) {
  return Manager::GetLastErrorText(handle, text, capacity);
}

}  // extern "C"
