// Rewriting a local ZTX slide in place, for the programs on top of the
// library: its label, and its tile index compressed or expanded. Every check
// runs before the first byte is written; a refusal says why and leaves the
// file as it was.
#ifndef STRATA_SLIDE_SLIDE_MAINTENANCE_H_
#define STRATA_SLIDE_SLIDE_MAINTENANCE_H_

#include <string>

#include "strata/status.h"

namespace strata::maintenance {

// Replaces the label with a JPEG or BMP picture no longer than the old one.
Status ReplaceLabel(const std::string& slidePath, const std::string& labelPath);
// zlib-compresses the tile index (done already counts as success).
Status CompressTileIndex(const std::string& slidePath);
// Restores the plain tile index (done already counts as success).
Status ExpandTileIndex(const std::string& slidePath);

}  // namespace strata::maintenance

#endif  // STRATA_SLIDE_SLIDE_MAINTENANCE_H_
