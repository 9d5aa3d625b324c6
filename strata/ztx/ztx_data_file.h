// The slide object of a ZTX file, as the C interface drives it: open and load
// (whole or restricted to a block), then tiles, associated images, regions,
// lookup-table adjustment and multi-channel output. The work is done by the
// tile index (ztx_tile_index.h), the tile store (ztx_tile_store.h) and the
// associated images (ztx_associated_images.h); this class ties them to the
// header and the reader.
//
// A loaded slide serves concurrent tile and region reads: they only read the
// tile map and the header and fetch bytes through the reader, whose lock
// serialises positioned reads. The lookup table is guarded by its own lock.
#ifndef STRATA_ZTX_ZTX_DATA_FILE_H_
#define STRATA_ZTX_ZTX_DATA_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/data_file.h"
#include "strata/model/lookup_table.h"
#include "strata/platform/lock.h"
#include "strata/slide_types.h"
#include "strata/status.h"
#include "strata/ztx/tile_info.h"
#include "strata/ztx/ztx_associated_images.h"
#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_image_blocks.h"
#include "strata/ztx/ztx_tile_block.h"
#include "strata/ztx/ztx_tile_index.h"
#include "strata/ztx/ztx_tile_pixels.h"
#include "strata/ztx/ztx_tile_store.h"

class CZTXDataFile : public CDataFile {
 public:
  CZTXDataFile();
  ~CZTXDataFile() override;

  // --- CDataFile operations (open, load, tiles) ---
  int LoadFile() override;
  int LoadFileBlock(int left, int top, int right, int bottom, float scale) override;
  // The header class of the probed version (covariant with CDataFile's).
  CZTXDataHeader* GetHeader() override;
  CLabelDataBlock* GetLabelBlock() override;
  CPreViewDataBlock* GetPreviewBlock() override;
  CDataBlock* CreateTileBlock() override;
  CThumDataBlock* GetThumbBlock() override;
  int CloseFile() override;
  // Copies the stored tile into the caller's buffer at *out (which must hold
  // it) and sets length; length 0 when there is no such tile. When out or *out
  // is null only the stored length is reported. A tile of a level the file
  // does not store is composed and delivered the same way; *out itself is
  // never replaced.
  unsigned char* ReadTileStream(float scale, int x, int y, int& length,
                                unsigned char** out) override;
  unsigned char* ReadTilePixels(float scale, int x, int y, int& length, int& width, int& height,
                                unsigned char** out) override;
  bool ReadScanTimeDuration(int& year, int& month, int& day, int& hour, int& minute, int& second,
                            int& hoursTaken, int& minutesTaken, int& secondsTaken) override;

  // --- associated images ---
  bool GetThumbnailFromPath(const char* path, unsigned char** data, int& length, int& width,
                            int& height) override;
  int GetThumbnail(unsigned char** data, int& length, int& width, int& height) override;
  bool GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                        int& height) override;
  bool GetLabel(unsigned char** data, int& length, int& width, int& height) override;
  bool GetPreviewFromPath(const char* path, unsigned char** data, int& length, int& width,
                          int& height) override;
  bool GetPreview(unsigned char** data, int& length, int& width, int& height) override;
  bool GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length, int& width,
                                int& height) override;

  // --- regions, adjustment, channels ---
  int ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out, int& length,
                 bool encode) override;
  int ReadRegionMax(float scale, int x, int y, int width, int height, unsigned char** out,
                    int& length, bool encode) override;
  bool CanReadRegionMax(float scale, int x, int y, int width, int height) override;
  unsigned char* ReadTileAdjusted(float scale, int x, int y, int& length, unsigned char** out,
                                  float p1, float p2, float p3, float p4, float p5,
                                  float p6) override;
  int ReadRegionChannels(float scale, int x, int y, int width, int height, unsigned char** out,
                         int& length, bool encode, bool c1, bool c2, bool c3, bool c4, bool c5,
                         bool c6) override;
  unsigned char* ReadTileChannels(float scale, int x, int y, int& length, unsigned char** out,
                                  bool c1, bool c2, bool c3, bool c4, bool c5, bool c6) override;
  unsigned char* ReadTileAdjustedChannels(float scale, int x, int y, int& length,
                                          unsigned char** out, float p1, float p2, float p3,
                                          float p4, float p5, float p6, bool c1, bool c2, bool c3,
                                          bool c4, bool c5, bool c6) override;

  // Opens a slide's reader on a path for one operation and closes it
  // (CloseFile) when the operation ends, whichever way; a failed open leaves
  // nothing to close.
  class PathSession {
   public:
    PathSession(CZTXDataFile& slide, const char* path)
        : slide_(slide), opened_(path != nullptr && slide.OpenFile(path)) {}
    ~PathSession() {
      if (opened_) slide_.CloseFile();
    }
    PathSession(const PathSession&) = delete;
    PathSession& operator=(const PathSession&) = delete;
    bool opened() const { return opened_; }

   private:
    CZTXDataFile& slide_;
    bool opened_;
  };

  // --- ZTX steps, delegated to the index, the tile store and the images ---
  // Reads the first 128 bytes, checks the marker, stores version and entry size.
  int ProbeVersion();
  int GetTileEntrySize() const { return tileEntrySize_; }
  // The header as its ZTX class (null until GetHeader created it).
  CZTXDataHeader* GetZtxHeader() const { return header_.get(); }
  const TileInfo* FindTile(float scale, int x, int y) const { return index_.Find(scale, x, y); }
  std::size_t TileCount() const { return index_.size(); }
  const std::vector<TileInfo>& Tiles() const { return index_.Records(); }
  float SelectSourceScale(float scale) {
    return strata::ztx::TileIndex::SourceScale(header_.get(), scale);
  }
  // True when `scale` is a level the file does not store and the tile was
  // composed as a 256 x 256 JPEG into a new library buffer at *out.
  bool ComposeMissingLevelTile(float scale, int x, int y, int& length, unsigned char** out);
  bool ReadSectionBytes(std::int64_t position, std::int64_t offset, int length,
                        unsigned char** out) {
    return store_.ReadSection(position, offset, length, out);
  }
  bool ReadStoredTile(const TileInfo& tile, std::vector<unsigned char>& bytes) {
    return store_.ReadTile(tile, bytes);
  }
  void PrefetchTiles(const std::vector<const TileInfo*>& tiles) { store_.PrefetchTiles(tiles); }
  bool TilesAreBmp() { return store_.TilesAreBmp(); }
  // The region of ReadRegion as a new RGB image (white where a region lies
  // wholly outside the slide).
  strata::Status ComposeRegionInto(double scale, std::int64_t x, std::int64_t y, int width,
                                   int height, strata::Image* rgb);

 private:
  using TileIndex = strata::ztx::TileIndex;
  // Probes and loads the header record, binding the tile store to it; 0 or -1.
  int LoadHeaderRecord();
  // Loads the index (whole, or the tiles of a block); 0 or -1 with a reason.
  int LoadIndex(const TileIndex::BlockFilter* filter);
  int LoadSectionRecords();
  bool IsUnstoredLevel(float scale) { return TileIndex::IsUnstoredLevel(header_.get(), scale); }
  // For a level the file does not store: composes the tile and copies it into
  // the caller's buffer at *out (when out and *out are set), setting length
  // (0 when it cannot be composed). False for stored levels.
  bool DeliverComposedTile(float scale, int x, int y, int& length, unsigned char** out);
  // The largest frame the tile at (scale, x, y) may decode to.
  strata::ztx::TileLimits DecodeLimitsAt(float scale, int x, int y);
  // One tile (stored or composed) into a new library buffer.
  bool ReadTileAllocated(float scale, int x, int y, unsigned char** out, int& length);
  // Shared by the region composers: fetch, decode and place tiles.
  int ComposeRegion(float scale, int x, int y, int width, int height, unsigned char** out,
                    int& length, bool encode, const bool* channels);
  // Shared by the two adjustment operations; keep[k] false zeroes channel k.
  unsigned char* AdjustTile(float scale, int x, int y, int& length, unsigned char** out,
                            const float params[6], const bool keep[3]);
  // Label or preview from a path: header and section records, then `get`.
  using ImageGetter = bool (CZTXDataFile::*)(unsigned char**, int&, int&, int&);
  bool SectionImageFromPath(const char* path, ImageGetter get, unsigned char** data, int& length,
                            int& width, int& height);
  bool FallbackThumbnail(unsigned char** data, int& length, int& width, int& height,
                         bool sizeFromTile);

  std::unique_ptr<CZTXDataHeader> header_;
  TileIndex index_;
  strata::ztx::TileStore store_;
  strata::ztx::AssociatedImages images_;
  float version_ = 0.0f;
  strata::ztx::HeaderLayout layout_ = strata::ztx::HeaderLayout::kUnknown;
  int tileEntrySize_ = 0;
  strata::LookupTableCache lookupTable_;
};

#endif  // STRATA_ZTX_ZTX_DATA_FILE_H_
