// The ZTX file layout in one place: marker, record sizes, the header layout
// of each version and the property items the library reads. Readers, the
// writer and the maintenance operations take every number from here.
#ifndef STRATA_ZTX_ZTX_FORMAT_H_
#define STRATA_ZTX_ZTX_FORMAT_H_

#include <cstdint>
#include <memory>
#include <new>

#include "strata/model/header_items.h"

namespace strata::ztx {

// Marker of a plain file; a file whose tile index is zlib-compressed also has
// the 0x400 bit set.
constexpr std::uint32_t kZtxMarker = 0xEEEE01F1u;
constexpr std::uint32_t kZtxCompressedMarker = 0xEEEE05F1u;
constexpr std::uint32_t kCompressedIndexBit = 0x400u;
// The bits whose presence marks a compressed index.
constexpr std::uint32_t kCompressedIndexBits = 0xEEEE04F1u;

// The fixed header; readers fetch a generous 1024 bytes at offset 0 and a
// version probe the first 128.
constexpr int kZtxHeaderBytes = 96;
constexpr int kHeaderReadBytes = 1024;
constexpr int kProbeBytes = 128;
// The header, the property area and the section records of written slides
// lie in the first few KB; an open fetches this much ahead in one request.
constexpr std::uint64_t kHeadReadAheadBytes = 64 * 1024;
// The property area (1.2 and later) starts right after the header and holds
// at least its item count.
constexpr int kSmallestPreviewOffset = 100;

// deflate cannot expand by more than about 1032:1; an index that claims more
// entries than that from its stored bytes is damaged, not big.
constexpr std::int64_t kMaxInflateRatio = 1032;

// Associated-image section record: presence, height, width, stream length at
// 20 and stream position at 24 (relative to the section). Readers fetch 1024
// bytes at the section position.
constexpr int kSectionRecordBytes = 52;
constexpr int kSectionLengthField = 20;
constexpr int kSectionReadBytes = 1024;

// Tile index entries: 68 bytes with a 32-bit stream position in 1.0, 64 bytes
// with a 64-bit one later. A compressed index holds 64-byte entries only.
constexpr int kEntryBytes1000 = 68;
constexpr int kEntryBytes = 64;

// Property items the library interprets: those behind the interface's header
// facts (header_items.h) and the ZTX pyramid mode.
using strata::kChannelCountItem;
using strata::kChannelIdentifierItems;
using strata::kFirstChannelIdentifierItem;
using strata::kMachineSerialItem;
using strata::kScanLevelFirstItem;
using strata::kScanLevelSecondItem;
// Pyramid mode: 0 levels halve, 1 and 2 skip levels near the scan scale.
constexpr int kLevelModeItem = 33;

// The four header layouts: 1.0; 1.1; 1.2; 1.3 to 2.0.
enum class HeaderLayout { kUnknown, k1000, k1100, k1200, k1300 };

// Versions compare equal when their single-precision difference is below 1e-6.
bool SameVersion(float version, float constant);

// The layout of a format version, kUnknown for versions that do not exist.
HeaderLayout HeaderLayoutOf(float version);

// Where a layout keeps its fields, as byte offsets into the 96-byte header;
// -1 for a field the layout does not have. Offsets 0 to 39 (marker, magic,
// version, tile count, height, width, scan scale, image format tag) are the
// same in every layout.
struct HeaderFieldOffsets {
  int spendTime;  // u32 milliseconds
  int scanTime;   // seconds, scanTimeBytes wide
  int scanTimeBytes;
  int previewOffset;    // i32
  int labelOffset;      // i32
  int thumbnailOffset;  // positionBytes wide
  int indexOffset;      // positionBytes wide
  int positionBytes;
  int captureResolution;  // f32
  int blockSize;          // i32
};

constexpr int kMarkerField = 0;
constexpr int kMagicField = 4;
constexpr int kVersionField = 12;
constexpr int kTileCountField = 16;
constexpr int kHeightField = 20;
constexpr int kWidthField = 24;
constexpr int kScanScaleField = 28;
constexpr int kImageFormatField = 32;
// Version 1.1 kept the duration as a float and the time as a double here;
// the library writes them but never reads them.
constexpr int kLegacySpendTimeField = 40;
constexpr int kLegacyScanTimeField = 44;

// The offsets of `layout`; kUnknown has every field at -1.
const HeaderFieldOffsets& FieldOffsetsOf(HeaderLayout layout);

// True for the layouts whose sections and index entries keep 64-bit stream
// positions (all but 1.0).
inline bool HasWidePositions(HeaderLayout layout) {
  return layout != HeaderLayout::k1000 && layout != HeaderLayout::kUnknown;
}

// Index entry size of a probed version: 68 for 1.0, 64 for any other.
inline int EntryBytesOf(HeaderLayout layout) {
  return layout == HeaderLayout::k1000 ? kEntryBytes1000 : kEntryBytes;
}

// A new record object of a layout: the 1.0 form, the wide form for every
// later layout, none for an unknown version. It reads through `reader`.
template <typename Narrow, typename Wide, typename Reader>
std::unique_ptr<Narrow> NewForLayout(HeaderLayout layout, Reader* reader) {
  std::unique_ptr<Narrow> made;
  if (layout == HeaderLayout::k1000) {
    made.reset(new (std::nothrow) Narrow());
  } else if (HasWidePositions(layout)) {
    made.reset(new (std::nothrow) Wide());
  }
  if (made != nullptr) made->SetFileOperationTool(reader);
  return made;
}

// If the four bytes at `marker` carry every bit of kZtxMarker, overwrites them
// with kZtxMarker, so that a compressed file passes as a plain one.
void NormaliseMarker(unsigned char* marker);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_FORMAT_H_
