// A stored TIFF JPEG tile made whole: the file's JPEG tables put in front of
// the tile's scan, and for tiles whose samples are RGB rather than YCbCr an
// Adobe marker that says so (transform 0), so that any JPEG decoder reads
// the stream with the right colours and no decoding or encoding happens here.
#ifndef STRATA_TIFF_TIFF_JPEG_STREAM_H_
#define STRATA_TIFF_TIFF_JPEG_STREAM_H_

#include <string>
#include <vector>

#include "strata/status.h"

namespace strata::tiff {

// Appends the whole stream of `tile` (the stored bytes, starting with a
// start-of-image marker) to `stream`. `tables` is the JPEGTables field
// (empty when the tiles carry their own). Damaged when the tile is no JPEG
// stream or the tables are not an abbreviated table stream.
Status WholeJpegStream(const std::string& tables, bool rgbSamples,
                       const std::vector<unsigned char>& tile, std::vector<unsigned char>* stream);

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_JPEG_STREAM_H_
