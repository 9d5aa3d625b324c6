// The static operations behind the exported C functions: choose the slide
// class from the file name, open and load it, forward every request to it.
#ifndef STRATA_INTERFACE_IMAGE_OPERATION_MANAGER_H_
#define STRATA_INTERFACE_IMAGE_OPERATION_MANAGER_H_

#include <cstddef>

#include "strata/strata.h"

class CDataFile;

// Block-open parameters: the rectangle (right and bottom exclusive) at `scale`.
struct FileBlock {
  int left;
  int top;
  int right;
  int bottom;
  float scale;
};

class STRATA_API CImageOperationManager {
 public:
  CImageOperationManager();
  ~CImageOperationManager();
  CImageOperationManager& operator=(const CImageOperationManager&);

  // A new, unopened slide object chosen by case-sensitive substring tests on
  // the whole path, or null when no format matches.
  static CDataFile* CreateDataFile(const char* path);
  static bool CreateImageFile(const char* path, IMAGE_INFO_STRUCT& handle, bool asBlock,
                              FileBlock block);
  static bool DestoryImageFile(IMAGE_INFO_STRUCT& handle);
  static bool DeleteImageBlockStream(void* data);
  static float GetDllVersion();

  static bool GetHeaderInfo(IMAGE_INFO_STRUCT handle, int& height, int& width, int& scanScale,
                            float& spendTime, double& scanTime, float& captureResolution,
                            int& blockSize);
  static bool GetVersionInfo(IMAGE_INFO_STRUCT handle, float& version);
  static bool GetScanTimeDuration(IMAGE_INFO_STRUCT& handle, int& year, int& month, int& day,
                                  int& hour, int& minute, int& second, int& hoursTaken,
                                  int& minutesTaken, int& secondsTaken);
  static bool GetMachineSerialNum(IMAGE_INFO_STRUCT& handle, char* serial);
  // Bounded form: copies at most size - 1 characters and a terminator; false
  // when the handle is empty, the buffer is null or size is 0.
  static bool GetMachineSerialNum(IMAGE_INFO_STRUCT& handle, char* serial, std::size_t size);
  static bool GetScanLevelInfo(IMAGE_INFO_STRUCT& handle, int& first, int& second);
  static bool GetImageChannelIdentifier(IMAGE_INFO_STRUCT& handle, int& channelCount, char*& id1,
                                        char*& id2, char*& id3, char*& id4, char*& id5, char*& id6);

  static unsigned char* GetImageBlockStream(IMAGE_INFO_STRUCT& handle, float scale, int x, int y,
                                            int& length, unsigned char** buffer);
  static unsigned char* GetImageDataBlockStream(IMAGE_INFO_STRUCT& handle, float scale, int x,
                                                int y, int& length, int& width, int& height,
                                                unsigned char** buffer);
  static unsigned char* ImageLUTadjust(IMAGE_INFO_STRUCT& handle, float scale, int x, int y,
                                       int& length, unsigned char** buffer, float p1, float p2,
                                       float p3, float p4, float p5, float p6);
  static bool GetImageDataRoi(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width,
                              int height, unsigned char** out, int& length, bool flag);
  static bool GetImageDataMax(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width,
                              int height, unsigned char** out, int& length, bool flag);
  static bool ISCanGetMax(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width,
                          int height);
  static bool GetImageDataRoiManyPassageway(IMAGE_INFO_STRUCT handle, float scale, int x, int y,
                                            int width, int height, unsigned char** out, int& length,
                                            bool flag, bool c1, bool c2, bool c3, bool c4, bool c5,
                                            bool c6);
  static unsigned char* GetImageBlockStreamManyPassageway(IMAGE_INFO_STRUCT& handle, float scale,
                                                          int x, int y, int& length,
                                                          unsigned char** buffer, bool c1, bool c2,
                                                          bool c3, bool c4, bool c5, bool c6);
  static unsigned char* ImageLUTadjustManyPassageway(IMAGE_INFO_STRUCT& handle, float scale, int x,
                                                     int y, int& length, unsigned char** buffer,
                                                     float p1, float p2, float p3, float p4,
                                                     float p5, float p6, bool c1, bool c2, bool c3,
                                                     bool c4, bool c5, bool c6);

  static bool GetLabelInfo(IMAGE_INFO_STRUCT handle, unsigned char** data, int& length, int& width,
                           int& height);
  static bool GetLabelInfo(const char* path, unsigned char** data, int& length, int& width,
                           int& height);
  static bool GetPriviewInfo(IMAGE_INFO_STRUCT handle, unsigned char** data, int& length,
                             int& width, int& height);
  static bool GetPriviewInfo(const char* path, unsigned char** data, int& length, int& width,
                             int& height);
  static bool GetThumnailImage(IMAGE_INFO_STRUCT handle, unsigned char** data, int& length,
                               int& width, int& height);
  static bool GetThumnailImage(const char* path, unsigned char** data, int& length, int& width,
                               int& height);
  static bool GetThumnailImageOnly(const char* path, unsigned char** data, int& length, int& width,
                                   int& height);

  // The reason behind the last failure (see GetLastErrorTextFunc): copies
  // at most capacity - 1 bytes and a terminator, returns the whole length.
  static int GetLastErrorText(const IMAGE_INFO_STRUCT* handle, char* text, int capacity);

  static bool ChangeLabelInfo(const char* slidePath, const char* labelPath);
  static bool CompressBlockDataInfo(const char* slidePath);
  static bool UnCompressBlockDataInfo(const char* slidePath);
};

#endif  // STRATA_INTERFACE_IMAGE_OPERATION_MANAGER_H_
