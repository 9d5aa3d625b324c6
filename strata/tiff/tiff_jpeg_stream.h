// Stored TIFF JPEG tiles made whole: the file's JPEG tables put in front of
// the tile's scan, and for tiles whose samples are RGB rather than YCbCr an
// Adobe marker that says so (transform 0), so that any JPEG decoder reads
// the stream with the right colours and no decoding or encoding happens.
//
// A whole stream is the level's prefix (start of image, the marker, the
// tables without their own start and end) followed by the stored tile
// without its start-of-image marker.
#ifndef STRATA_TIFF_TIFF_JPEG_STREAM_H_
#define STRATA_TIFF_TIFF_JPEG_STREAM_H_

#include <cstddef>
#include <string>
#include <vector>

#include "strata/status.h"

namespace strata::tiff {

// The prefix of a level's whole streams. `tables` is the JPEGTables field
// (empty when the tiles carry their own). Damaged when the tables are not
// an abbreviated table stream.
Status JpegStreamPrefix(const std::string& tables, bool rgbSamples,
                        std::vector<unsigned char>* prefix);

// Length of the stored bytes the whole stream leaves out of a tile.
constexpr std::size_t kStoredTileSkip = 2;

// True when a stored tile starts as a JPEG stream does.
bool StartsLikeJpeg(const unsigned char* tile, std::size_t length);

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_JPEG_STREAM_H_
