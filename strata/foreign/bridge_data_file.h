// MDS (MOTIC) and DMETRIX slides, served by run-time loaded bridge libraries
// that export functions under the names of this library's own exports.
//
// Every buffer a bridge hands back is copied into a library buffer (which the
// caller releases with DeleteImageDataFunc) and returned to the bridge's own
// "DeleteImageDataFunc" exactly once; a bridge pointer never reaches a caller.
// Sizes a bridge reports are checked before anything is copied. No locks: a
// slide's calls run one at a time, as the bridges expect.
#ifndef STRATA_FOREIGN_BRIDGE_DATA_FILE_H_
#define STRATA_FOREIGN_BRIDGE_DATA_FILE_H_

#include <memory>

#include "strata/foreign/bridge_data_header.h"
#include "strata/foreign/bridge_library.h"
#include "strata/model/data_file.h"
#include "strata/model/lookup_table.h"

// What both bridge formats share: the bridge's slide handle and the header
// snapshot, opening, closing and the lookup-table adjustment of tiles.
class CBridgeDataFile : public CDataFile {
 public:
  explicit CBridgeDataFile(strata::foreign::BridgeLibrary& bridge) : bridge_(bridge) {}
  ~CBridgeDataFile() override;

  // Remembers the path; true when it is not empty. No reader is created.
  bool OpenFile(const char* path) override;
  // Loads the bridge if needed and opens the path there: 0, or -1 when the
  // bridge or its "InitImageFileFunc" is missing or gives no handle.
  int LoadFile() override;
  // The bridge's header facts, asked once; null without a handle or when the
  // bridge reports no plausible slide.
  CDataHeader* GetHeader() override;
  // Closes the bridge slide and forgets the header; 1.
  int CloseFile() override;
  // The tile of ReadTileStream, adjusted as a ZTX tile is.
  unsigned char* ReadTileAdjusted(float scale, int x, int y, int& length, unsigned char** out,
                                  float p1, float p2, float p3, float p4, float p5,
                                  float p6) override;

  bool HasBridgeSlide() const { return handle_.slide != nullptr; }

 protected:
  virtual CZTXDataHeader1300* NewHeader(const strata::foreign::BridgeHeaderFacts& facts) = 0;

  strata::foreign::BridgeLibrary& bridge_;
  strata::foreign::BridgeHandle handle_;
  std::unique_ptr<CZTXDataHeader1300> header_;
  strata::LookupTableCache lookupTable_;
};

class CMOTICDataFile : public CBridgeDataFile {
 public:
  CMOTICDataFile();
  ~CMOTICDataFile() override;

  // The bridge's tile at pixel position (x, y), copied to a new buffer at
  // *out; returns null in every case.
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override;
  // The bridge's region; pixels must be exactly width x height x 3 bytes.
  int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out, int& length,
                 bool encode) override;
  // The bridge's associated images of the stored path. Without a bridge
  // slide, or when the bridge delivers nothing, true with nothing handed out.
  bool GetLabel(unsigned char** data, int& length, int& width, int& height) override;
  bool GetPreview(unsigned char** data, int& length, int& width, int& height) override;
  int GetThumbnail(unsigned char** data, int& length, int& width, int& height) override;
  bool GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                        int& height) override;
  bool GetPreviewFromPath(const char* path, unsigned char** data, int& length, int& width,
                          int& height) override;
  bool GetThumbnailFromPath(const char* path, unsigned char** data, int& length, int& width,
                            int& height) override;
  bool GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length, int& width,
                                int& height) override;

 protected:
  CZTXDataHeader1300* NewHeader(const strata::foreign::BridgeHeaderFacts& facts) override;

 private:
  bool PathImage(const char* function, const char* path, unsigned char** data, int& length,
                 int& width, int& height);
  bool LoadedSlideImage(const char* function, unsigned char** data, int& length, int& width,
                        int& height);
};

class CDMETRIXDataFile : public CBridgeDataFile {
 public:
  CDMETRIXDataFile();
  ~CDMETRIXDataFile() override;

  // The 256 x 256 tile whose top-left is (x, y) at `scale`: the bridge is
  // asked for column x / 256 and row y / 256 at its own scale for the level.
  // Copied to a new buffer at *out; returns null in every case.
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override;
  // Composed from this slide's own tiles as a ZTX region is (levels halve).
  int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out, int& length,
                 bool encode) override;
  // The whole slide as a JPEG at most 256 pixels on its longer side, halving
  // the scale until it fits.
  int GetThumbnail(unsigned char** data, int& length, int& width, int& height) override;
  // Open, load, thumbnail and close again; true when a thumbnail was made.
  bool GetThumbnailFromPath(const char* path, unsigned char** data, int& length, int& width,
                            int& height) override;
  bool GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length, int& width,
                                int& height) override;
  // The bridge has no label or preview: a white 256 x 256 JPEG.
  bool GetLabel(unsigned char** data, int& length, int& width, int& height) override;
  bool GetPreview(unsigned char** data, int& length, int& width, int& height) override;
  bool GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                        int& height) override;
  bool GetPreviewFromPath(const char* path, unsigned char** data, int& length, int& width,
                          int& height) override;

 protected:
  CZTXDataHeader1300* NewHeader(const strata::foreign::BridgeHeaderFacts& facts) override;
};

#endif  // STRATA_FOREIGN_BRIDGE_DATA_FILE_H_
