// One opened slide. The interface layer drives every format through these
// operations; a format overrides what it supports, the rest report failure.
//
// Result conventions (the base versions return the failure value):
// - OpenFile, the associated-image reads (bool), CanReadRegionMax and
//   ReadScanTimeDuration: true for success.
// - LoadFile, LoadFileBlock: 0 for success, -1 for failure.
// - GetThumbnail, ReadRegion, ReadRegionMax, ReadRegionChannels: non-zero
//   for success, 0 for failure.
// - CloseFile: 0.
// - GetHeader, GetLabelBlock, GetPreviewBlock, GetThumbBlock: the object,
//   owned by the slide, or null; CreateTileBlock: a new block the caller
//   owns, or null.
// - The tile reads returning unsigned char* always return null and deliver
//   through *out and length (0 when there is nothing); buffers they hand out
//   belong to the caller and are released with ReleaseBuffer.
#ifndef STRATA_MODEL_DATA_FILE_H_
#define STRATA_MODEL_DATA_FILE_H_

#include <cstdint>
#include <utility>

#include "strata/model/base_data.h"
#include "strata/status.h"

class CDataFile : public CBaseData {
 public:
  // Longest path the slide keeps, terminator excluded.
  static constexpr int kMaxPathLength = 4095;

  CDataFile();
  // Destroys the reader (it does not close it: CloseFile does).
  ~CDataFile() override;

  // Remembers the path, creates the reader if there is none, opens it.
  // Refuses null paths and paths longer than kMaxPathLength.
  virtual bool OpenFile(const char* path);
  virtual int LoadFile();
  virtual int LoadFileBlock(int left, int top, int right, int bottom, float scale);
  virtual CDataHeader* GetHeader();
  virtual CLabelDataBlock* GetLabelBlock();
  virtual CPreViewDataBlock* GetPreviewBlock();
  virtual CDataBlock* CreateTileBlock();
  virtual bool GetThumbnailFromPath(const char* path, unsigned char** data, int& length, int& width,
                                    int& height);
  virtual int GetThumbnail(unsigned char** data, int& length, int& width, int& height);
  virtual CThumDataBlock* GetThumbBlock();
  virtual int CloseFile();
  virtual int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out,
                         int& length, bool encode);
  virtual int ReadRegionMax(float scale, int x, int y, int width, int height, unsigned char** out,
                            int& length, bool encode);
  virtual bool CanReadRegionMax(float scale, int x, int y, int width, int height);
  virtual unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                        unsigned char** out);
  virtual unsigned char* ReadTilePixels(float scale, int x, int y, int& length, int& width,
                                        int& height, unsigned char** out);
  virtual unsigned char* ReadTileAdjusted(float scale, int x, int y, int& length,
                                          unsigned char** out, float p1, float p2, float p3,
                                          float p4, float p5, float p6);
  virtual bool GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                                int& height);
  virtual bool GetLabel(unsigned char** data, int& length, int& width, int& height);
  virtual bool GetPreviewFromPath(const char* path, unsigned char** data, int& length, int& width,
                                  int& height);
  virtual bool GetPreview(unsigned char** data, int& length, int& width, int& height);
  virtual bool GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length,
                                        int& width, int& height);
  virtual bool ReadScanTimeDuration(int& year, int& month, int& day, int& hour, int& minute,
                                    int& second, int& hoursTaken, int& minutesTaken,
                                    int& secondsTaken);

  // Multi-channel operations; only ZTX slides supply them.
  virtual int ReadRegionChannels(float scale, int x, int y, int width, int height,
                                 unsigned char** out, int& length, bool encode, bool c1, bool c2,
                                 bool c3, bool c4, bool c5, bool c6);
  virtual unsigned char* ReadTileChannels(float scale, int x, int y, int& length,
                                          unsigned char** out, bool c1, bool c2, bool c3, bool c4,
                                          bool c5, bool c6);
  virtual unsigned char* ReadTileAdjustedChannels(float scale, int x, int y, int& length,
                                                  unsigned char** out, float p1, float p2, float p3,
                                                  float p4, float p5, float p6, bool c1, bool c2,
                                                  bool c3, bool c4, bool c5, bool c6);

  const char* GetPath() const { return path_; }

  // Why the last OpenFile or load failed, where the slide can tell; success
  // when it did not fail or gave no reason. Set only while opening, so it
  // is safe to read once the open has returned.
  const strata::Status& LastStatus() const { return lastStatus_; }

 protected:
  // Records why opening or loading failed and returns `result`, so a failure
  // site reads `return Fail(-1, Status::Damaged("..."))`.
  template <typename Result>
  Result Fail(Result result, strata::Status reason) {
    lastStatus_ = std::move(reason);
    return result;
  }

  strata::Status lastStatus_;
  // Copies the path into path_; false for null or too long paths.
  bool StorePath(const char* path);

  char path_[4096];
};

#endif  // STRATA_MODEL_DATA_FILE_H_
