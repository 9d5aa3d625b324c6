// Label, preview and thumbnail of a ZTX slide: their section records and
// their streams. The thumbnail is brought to the size the slide implies;
// a slide without one falls back to the tile at (0, 0) of its smallest
// level that fits in 256 x 256.
//
// Records load while the slide loads; the reads then only read them.
#ifndef STRATA_ZTX_ZTX_ASSOCIATED_IMAGES_H_
#define STRATA_ZTX_ZTX_ASSOCIATED_IMAGES_H_

#include <functional>
#include <memory>

#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_image_blocks.h"

class CFileOperationTool;
class CZTXDataHeader;

namespace strata::ztx {

class TileIndex;
class TileStore;

class AssociatedImages {
 public:
  // A stored or composed tile into a new library buffer; false when there is none.
  using TileReader =
      std::function<bool(float scale, int x, int y, unsigned char** out, int& length)>;

  // The record objects of the layout, made on first use (null for an
  // unknown layout); they read through `reader`.
  CZTXLabelDataBlock* LabelBlock(HeaderLayout layout, CFileOperationTool* reader);
  CZTXPreViewDataBlock* PreviewBlock(HeaderLayout layout, CFileOperationTool* reader);
  CZTXThumDataBlock* ThumbnailBlock(HeaderLayout layout, CFileOperationTool* reader);

  // Reads the three section records the header points at. An absent or
  // damaged image shows later as a failed fetch; false only when the layout
  // has no record classes.
  bool LoadRecords(CZTXDataHeader& header, HeaderLayout layout, CFileOperationTool* reader);
  // Reads only the thumbnail's record; false when it cannot be read.
  bool LoadThumbnailRecord(CZTXDataHeader& header, HeaderLayout layout, CFileOperationTool* reader);

  // The stored stream into a new library buffer at *data, with its record's
  // size; false when the image is absent or cannot be read.
  bool Label(CZTXDataHeader* header, TileStore& store, unsigned char** data, int& length,
             int& width, int& height);
  bool Preview(CZTXDataHeader* header, TileStore& store, unsigned char** data, int& length,
               int& width, int& height);
  // 1: stored thumbnail read and normalised; 0: none stored or readable;
  // -1: stored but it cannot be decoded.
  int StoredThumbnail(CZTXDataHeader* header, TileStore& store, unsigned char** data, int& length,
                      int& width, int& height);
  // The tile at (0, 0) of the level at which the slide fits in 256 x 256,
  // sized as that level (or, with `sizeFromTile`, as the tile's record).
  static bool FallbackThumbnail(CZTXDataHeader* header, const TileIndex& index,
                                const TileReader& read, unsigned char** data, int& length,
                                int& width, int& height, bool sizeFromTile);

 private:
  bool Normalise(CZTXDataHeader& header, const TileStore& store, unsigned char** data, int& length,
                 int& width, int& height);

  std::unique_ptr<CZTXLabelDataBlock> label_;
  std::unique_ptr<CZTXPreViewDataBlock> preview_;
  std::unique_ptr<CZTXThumDataBlock> thumbnail_;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_ASSOCIATED_IMAGES_H_
