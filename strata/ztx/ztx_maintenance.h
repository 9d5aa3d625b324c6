// In-place rewrites of a local ZTX file: replacing the label stream and
// compressing or expanding the tile index. Every check runs before the first
// byte is written, so a refused operation leaves the file as it was. The
// writes go through a rollback journal (ztx_rewrite_journal.h): a crash or a
// failed write leaves the old bytes in "SLIDE.ztx-journal", and the next open
// or rewrite restores them. Each operation first rolls back an interrupted
// earlier one, and refuses to run beside a journal it cannot apply. None of
// them may run while the file is read elsewhere: for a moment the marker and
// the index disagree.
#ifndef STRATA_ZTX_ZTX_MAINTENANCE_H_
#define STRATA_ZTX_ZTX_MAINTENANCE_H_

#include "strata/status.h"

namespace strata::ztx {

enum class LabelBytes { kAny, kPicturesOnly };

// Writes the bytes of `labelPath` over the label stream when they fit into
// the old stream's space (the old tail stays), and the new length into the
// label record; a JPEG or BMP picture's width and height too. With
// kPicturesOnly, other files are refused. The status says why a label was
// refused.
Status ReplaceLabel(const char* slidePath, const char* labelPath, LabelBytes accepted);
// The same for any bytes, true exactly when the label was written.
bool ReplaceLabelStream(const char* slidePath, const char* labelPath);

// Replaces the tileCount x 64-byte index by u32 length + zlib data and sets
// the marker's 0x400 bit. True when done or already compressed.
bool CompressTileIndex(const char* slidePath);

// Restores the plain index and clears the marker's 0x400 bit. True when done
// or already plain.
bool ExpandTileIndex(const char* slidePath);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_MAINTENANCE_H_
