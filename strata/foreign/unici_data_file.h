// TMAP slides, served by the run-time loaded vendor SDK ("iViewerSDK.dll",
// or the file STRATA_IVIEWER_SDK names). The SDK offers little: the slide's
// size and scan scale and one fixed 100 x 100 region, which is every tile.
#ifndef STRATA_FOREIGN_UNICI_DATA_FILE_H_
#define STRATA_FOREIGN_UNICI_DATA_FILE_H_

#include <memory>

#include "strata/model/base_data.h"
#include "strata/model/data_file.h"

// Width, height and scan scale as the SDK reported them when the header was
// made; version 1.0, 256-pixel blocks, every integer item 1.
class CUNICIDataHeader : public CDataHeader {
 public:
  CUNICIDataHeader(int width, int height, int scanScale)
      : width_(width), height_(height), scanScale_(scanScale) {}
  ~CUNICIDataHeader() override;

  int LoadRecord() override;
  int GetWidth() override;
  int GetHeight() override;
  int GetScanScale() override;
  int GetSpendTime() override;
  std::int64_t GetScanTime() override;
  float GetCaptureResolution() override;
  float GetVersion() override;
  int GetBlockSize() override;
  int GetIntItem(int identifier) override;
  const char* GetTextItem(int identifier) override;

 private:
  int width_;
  int height_;
  int scanScale_;
};

class CUNICIDataFile : public CDataFile {
 public:
  CUNICIDataFile() = default;
  ~CUNICIDataFile() override;

  // Remembers the path; true when it is not empty. No reader is created.
  bool OpenFile(const char* path) override;
  // Loads the SDK if needed and opens the path there: 0, or -1 when the SDK
  // or its open function is missing or gives no handle.
  int LoadFile() override;
  // Made once from the SDK; null without a handle or when the SDK reports
  // no positive width, height and scale.
  CDataHeader* GetHeader() override;
  // Closes the slide in the SDK (when the SDK exports its close function)
  // and forgets the header; 0.
  int CloseFile() override;
  // Succeeds and writes nothing: the SDK offers no regions.
  int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out, int& length,
                 bool encode) override;
  // The SDK's fixed 100 x 100 region whatever the scale and position, as a
  // JPEG in a new buffer at *out (length 0 when there is none). Returns null.
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override;
  // Associated images: true, nothing written (the SDK has none).
  bool GetThumbnailFromPath(const char* path, unsigned char** data, int& length, int& width,
                            int& height) override;
  bool GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                        int& height) override;
  bool GetLabel(unsigned char** data, int& length, int& width, int& height) override;
  bool GetPreviewFromPath(const char* path, unsigned char** data, int& length, int& width,
                          int& height) override;
  bool GetPreview(unsigned char** data, int& length, int& width, int& height) override;
  bool GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length, int& width,
                                int& height) override;

 private:
  void* handle_ = nullptr;
  std::unique_ptr<CUNICIDataHeader> header_;
};

namespace strata::foreign {

// True once the SDK has been loaded in this process.
bool IViewerSdkLoaded();

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_UNICI_DATA_FILE_H_
