// The fixed-layout records a ZTX writer produces: the 96-byte header of each
// version, the property area, the 52-byte associated-image section records
// and the tile index entries.
#ifndef STRATA_ZTX_ZTX_WRITER_RECORDS_H_
#define STRATA_ZTX_ZTX_WRITER_RECORDS_H_

#include <cstdint>
#include <vector>

#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_writer.h"

namespace strata::ztx {

struct HeaderFields {
  float version = 0.0f;
  bool longMagic = false;
  bool bmpTiles = false;
  bool compressedIndex = false;
  std::int32_t tileCount = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t scanScale = 0;
  std::int64_t scanTime = 0;
  std::uint32_t spendTimeMs = 0;
  float captureResolution = 0.0f;
  std::int32_t blockSize = 256;
  std::int64_t previewOffset = 0;
  std::int64_t labelOffset = 0;
  std::int64_t thumbnailOffset = 0;
  std::int64_t indexOffset = 0;
};

// The 96 header bytes. Offsets must already fit the version's field widths.
std::vector<unsigned char> BuildHeader(const HeaderFields& fields);

// The property area that follows the header (1.2 and later): item count,
// then identifier, length and value of each item.
std::vector<unsigned char> BuildPropertyArea(const std::vector<PropertyItem>& items);

// One associated-image section: the 52-byte record of the version's layout
// followed by the image stream (stream position 52, relative to the section).
std::vector<unsigned char> BuildSection(const StoredImage& image, HeaderLayout layout);

// Writes one tile index entry (68 bytes for 1.0, 64 otherwise) at `at`.
void PutIndexEntry(std::vector<unsigned char>& index, std::size_t at, const WrittenTile& tile,
                   HeaderLayout layout);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_WRITER_RECORDS_H_
