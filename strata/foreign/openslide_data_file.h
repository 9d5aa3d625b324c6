// Slides read through the run-time loaded OpenSlide library: NDPI/VMS/VMU,
// SVS/TIF, MRXS and BIF. OpenSlide opens the path itself, so these slides are
// local files only and use no byte-range reader. The subclasses differ in how
// they shift region reads (MRXS by the scanned bounds, BIF by its one region)
// and in how BIF finds its thumbnail.
//
// Tiles are 256 x 256 JPEG streams (quality 75) in a new library buffer. At a
// level's own scale a tile is that level's pixels; at any other scale it is
// composed like a region. Regions at any scale read the stored level that the
// ZTX regions would choose and resize it with the same bilinear rule; parts
// outside the slide are white.
//
// After LoadFile the slide is only read: tiles, regions and images may be
// fetched from several threads at once (OpenSlide handles allow it).
#ifndef STRATA_FOREIGN_OPENSLIDE_DATA_FILE_H_
#define STRATA_FOREIGN_OPENSLIDE_DATA_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "strata/foreign/openslide_data_header.h"
#include "strata/foreign/openslide_library.h"
#include "strata/model/data_file.h"
#include "strata/model/image_buffer.h"
#include "strata/model/lookup_table.h"
#include "strata/model/tile_grid.h"

namespace strata::tiff {
class TiffSlide;
}

class COpenSlideDataFile : public CDataFile {
 public:
  COpenSlideDataFile() = default;
  ~COpenSlideDataFile() override;

  // Keeps the path; true when it is neither empty nor too long and names an
  // existing file. Nothing is opened until LoadFile.
  bool OpenFile(const char* path) override;
  // Opens the path with OpenSlide; fails (-1) when the library is missing,
  // cannot open it, reports an error, the slide has no usable objective power
  // or its sizes and properties do not check out.
  int LoadFile() override;
  COpenSlideDataHeader* GetHeader() override;
  int CloseFile() override;

  int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out, int& length,
                 bool encode) override;
  // Stores a new JPEG stream at *out (the caller's pointer is overwritten,
  // not released); nothing is written when there is no tile there.
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override;
  // The tile of ReadTileStream after the ZTX lookup-table adjustment.
  unsigned char* ReadTileAdjusted(float scale, int x, int y, int& length, unsigned char** out,
                                  float p1, float p2, float p3, float p4, float p5,
                                  float p6) override;

  // Label = associated image "label", preview = "macro"; thumbnail =
  // "thumbnail" when listed, else the smallest level at least 128 pixels on a
  // side. Images OpenSlide reports as empty or fails to read give false.
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

  // For the command line: the names OpenSlide lists for associated images.
  virtual std::vector<std::string> AssociatedImageNames() const;

 protected:
  // The header class of the format (same stem as the slide class).
  virtual std::unique_ptr<COpenSlideDataHeader> NewHeader(
      const strata::foreign::OpenSlideLibrary& library,
      strata::foreign::OpenSlideHandle slide) const;
  const COpenSlideDataHeader* Header() const { return header_.get(); }
  // Where level-0 position (x, y) of the slide lies in OpenSlide's
  // coordinates: unshifted here.
  virtual void ShiftToLibrary(std::int64_t& x, std::int64_t& y) const;
  // The thumbnail of the loaded slide; `fromPath` says which form asked.
  virtual bool ReadThumbnail(bool fromPath, unsigned char** data, int& length, int& width,
                             int& height);
  // The extent of level `level` that the walked thumbnail reads.
  virtual void ThumbnailExtent(int level, std::int64_t& width, std::int64_t& height) const;

  // Encodes a named associated image; false when it is not listed, is empty,
  // too large, or cannot be read.
  bool ReadAssociatedImage(const char* name, unsigned char** data, int& length, int& width,
                           int& height) const;
  // The RGB pixels of a listed associated image; false when it is empty,
  // too large or cannot be read.
  virtual bool ReadAssociatedPixels(const char* name, strata::PixelBuffer& rgb, int& width,
                                    int& height) const;
  // Walks the levels from the smallest and encodes the first one whose width
  // or height is at least 128 pixels; false when none is.
  bool ReadLevelThumbnail(bool compositeBackground, unsigned char** data, int& length, int& width,
                          int& height) const;
  bool HasAssociatedImage(const char* name) const;

  // Reads w x h pixels of `level` at level-0 position (x, y) of the slide (as
  // shifted by ShiftToLibrary) as RGB; null when the read fails or is too big.
  strata::PixelBuffer ReadLevelPixels(int level, std::int64_t x, std::int64_t y, int w, int h,
                                      bool compositeBackground) const;
  // As ReadLevelPixels, into RGB rows of `target`.
  virtual bool ReadLevelInto(int level, std::int64_t x, std::int64_t y, int w, int h,
                             bool compositeBackground, const strata::WindowTarget& target) const;
  // The level OpenSlide reads a downsample from; -1 when there is none.
  virtual std::int32_t BestLevelFor(double downsample) const;
  // The level whose own scale `scale` is (within 0.1 %), as the tile reads
  // choose it; -1 when the request falls between levels, kNoLevel when
  // OpenSlide names no level for it.
  static constexpr int kNoLevel = -2;
  int LevelAtOwnScale(float scale) const;

  // Opens the stored path and builds the header; 0 or -1.
  virtual int OpenSource(bool requireObjectivePower);
  // Takes a header built without OpenSlide.
  void AdoptHeader(std::unique_ptr<COpenSlideDataHeader> header) { header_ = std::move(header); }
  // True when the objective power is a positive number whose atoi is usable.
  static bool UsableObjectivePower(const char* text);
  // Why a slide without one is refused: the C interface addresses levels by
  // magnification.
  static strata::Status NoObjectivePower();

 private:
  using ImageReader = bool (COpenSlideDataFile::*)(unsigned char**, int&, int&, int&);
  // Opens `path`, reads one image with `reader`, closes again.
  bool ReadImageFromPath(const char* path, ImageReader reader, unsigned char** data, int& length,
                         int& width, int& height);
  bool ThumbnailFromPath(unsigned char** data, int& length, int& width, int& height);
  // The tile's pixels before encoding; false when there is no tile.
  bool ReadTilePixelsAt(float scale, int x, int y, strata::PixelBuffer& pixels, int& width,
                        int& height);

  strata::foreign::OpenSlideLibrary library_;  // the one the handle came from
  strata::foreign::OpenSlideHandle slide_ = nullptr;
  std::unique_ptr<COpenSlideDataHeader> header_;
  strata::LookupTableCache lookupTable_;
};

// A format whose header is of class `FormatHeader`.
template <typename FormatHeader>
class COpenSlideFormatFile : public COpenSlideDataFile {
 protected:
  std::unique_ptr<COpenSlideDataHeader> NewHeader(
      const strata::foreign::OpenSlideLibrary& library,
      strata::foreign::OpenSlideHandle slide) const override {
    return std::make_unique<FormatHeader>(library, slide);
  }
};

class CNDPIDataFile : public COpenSlideFormatFile<CNDPIDataHeader> {};

// SVS and TIFF slides that the native reader reads exactly as OpenSlide
// does are read with it (URLs too, which OpenSlide cannot open), through the
// same operations as OpenSlide's slides. One thing differs: the exports'
// tiles stay 256 x 256 at the requested scale (block size 256, edge tiles
// cut short), and where such a tile at a level's own scale is exactly one
// stored tile (a JPEG level stored in tiles of 256, the tile wholly inside
// the level) the stored tile is handed out as it is, made whole with the
// file's tables, without decoding. Levels stored in tiles of another size
// (240, 512) never line up with that grid; their tiles are composed as for
// OpenSlide. Other files are OpenSlide's; STRATA_NATIVE_TIFF=0 makes every
// one OpenSlide's.
class CSVSDataFile : public COpenSlideFormatFile<CSVSDataHeader> {
 public:
  CSVSDataFile();
  ~CSVSDataFile() override;

  // URLs are kept for the native reader; local paths as for every slide.
  bool OpenFile(const char* path) override;
  int CloseFile() override;
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override;
  std::vector<std::string> AssociatedImageNames() const override;

  // True while the open slide is read natively.
  bool ReadsNatively() const { return native_ != nullptr; }

 protected:
  int OpenSource(bool requireObjectivePower) override;
  bool ReadLevelInto(int level, std::int64_t x, std::int64_t y, int w, int h,
                     bool compositeBackground, const strata::WindowTarget& target) const override;
  std::int32_t BestLevelFor(double downsample) const override;
  bool ReadAssociatedPixels(const char* name, strata::PixelBuffer& rgb, int& width,
                            int& height) const override;

 private:
  // The stored tile the export's tile at (x, y) of `level` is, when it is
  // one whole stored JPEG tile; false otherwise.
  bool ReadStoredTile(int level, int x, int y, int& length, unsigned char** out) const;

  std::unique_ptr<strata::tiff::TiffSlide> native_;
};

// Region reads are shifted by the scanned bounds ("openslide.bounds-x/-y");
// OpenSlide takes level-0 coordinates, so the shift is the same at every
// level.
class CMIRAXDataFile : public COpenSlideFormatFile<CMIRAXDataHeader> {
 protected:
  void ShiftToLibrary(std::int64_t& x, std::int64_t& y) const override;
};

// Region reads are shifted by the offset of the slide's one region. The
// thumbnail of a loaded slide is always walked from the levels; the
// path-based one prefers the associated image "thumbnail".
class CBIFDataFile : public COpenSlideFormatFile<CBIFDataHeader> {
 protected:
  void ShiftToLibrary(std::int64_t& x, std::int64_t& y) const override;
  bool ReadThumbnail(bool fromPath, unsigned char** data, int& length, int& width,
                     int& height) override;
  void ThumbnailExtent(int level, std::int64_t& width, std::int64_t& height) const override;
};

#endif  // STRATA_FOREIGN_OPENSLIDE_DATA_FILE_H_
