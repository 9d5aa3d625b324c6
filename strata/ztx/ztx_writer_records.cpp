#include "strata/ztx/ztx_writer_records.h"

#include <cstring>

#include "strata/ztx/ztx_record_bytes.h"

namespace strata::ztx {
namespace {

void PutMagicAndFormat(RecordBytes& header, const HeaderFields& fields) {
  const char* magic = fields.longMagic ? "ZTXL" : "ZTX";
  // The zero byte after the magic is already there.
  header.PutBytes(kMagicField, magic, std::strlen(magic));
  const char* format = fields.bmpTiles ? "BMP" : "JPG";
  header.PutBytes(kImageFormatField, format, std::strlen(format));
}

// A position field of 4 or 8 bytes; a field the layout lacks (-1) is skipped.
void PutFieldAt(RecordBytes& header, int offset, int bytes, std::int64_t value) {
  if (offset < 0) return;
  if (bytes == 8) {
    header.PutI64(static_cast<std::size_t>(offset), value);
  } else {
    header.PutI32(static_cast<std::size_t>(offset), static_cast<std::int32_t>(value));
  }
}

void PutLayoutFields(RecordBytes& header, const HeaderFields& fields, HeaderLayout layout) {
  const HeaderFieldOffsets& at = FieldOffsetsOf(layout);
  if (layout == HeaderLayout::k1100) {
    header.PutF32(kLegacySpendTimeField, static_cast<float>(fields.spendTimeMs));
    header.PutF64(kLegacyScanTimeField, static_cast<double>(fields.scanTime));
  }
  if (at.spendTime >= 0) header.PutU32(static_cast<std::size_t>(at.spendTime), fields.spendTimeMs);
  PutFieldAt(header, at.scanTime, at.scanTimeBytes, fields.scanTime);
  PutFieldAt(header, at.previewOffset, 4, fields.previewOffset);
  PutFieldAt(header, at.labelOffset, 4, fields.labelOffset);
  PutFieldAt(header, at.thumbnailOffset, at.positionBytes, fields.thumbnailOffset);
  PutFieldAt(header, at.indexOffset, at.positionBytes, fields.indexOffset);
  if (at.captureResolution >= 0) {
    header.PutF32(static_cast<std::size_t>(at.captureResolution), fields.captureResolution);
  }
  PutFieldAt(header, at.blockSize, 4, fields.blockSize);
}

}  // namespace

std::vector<unsigned char> BuildHeader(const HeaderFields& fields) {
  RecordBytes header(kZtxHeaderBytes);
  header.PutU32(kMarkerField, fields.compressedIndex ? kZtxCompressedMarker : kZtxMarker);
  PutMagicAndFormat(header, fields);
  header.PutF32(kVersionField, fields.version);
  header.PutI32(kTileCountField, fields.tileCount);
  header.PutI32(kHeightField, fields.height);
  header.PutI32(kWidthField, fields.width);
  header.PutI32(kScanScaleField, fields.scanScale);
  const HeaderLayout layout = HeaderLayoutOf(fields.version);
  if (layout != HeaderLayout::kUnknown) PutLayoutFields(header, fields, layout);
  return std::move(header.bytes());
}

std::vector<unsigned char> BuildPropertyArea(const std::vector<PropertyItem>& items) {
  std::size_t size = 4;
  for (const PropertyItem& item : items) size += 8 + item.value.size();
  RecordBytes area(size);
  area.PutI32(0, static_cast<std::int32_t>(items.size()));
  std::size_t at = 4;
  for (const PropertyItem& item : items) {
    area.PutI32(at, item.identifier);
    area.PutI32(at + 4, static_cast<std::int32_t>(item.value.size()));
    area.PutBytes(at + 8, item.value.data(), item.value.size());
    at += 8 + item.value.size();
  }
  return std::move(area.bytes());
}

std::vector<unsigned char> BuildSection(const StoredImage& image, HeaderLayout layout) {
  RecordBytes section(kSectionRecordBytes + image.stream.size());
  const bool hasImage = !image.stream.empty();
  section.PutI32(4, hasImage && image.present ? 1 : 0);
  section.PutI32(8, hasImage ? image.height : 0);
  section.PutI32(12, hasImage ? image.width : 0);
  section.PutI32(kSectionLengthField, static_cast<std::int32_t>(image.stream.size()));
  const std::int64_t streamPosition = hasImage ? kSectionRecordBytes : 0;
  if (!HasWidePositions(layout)) {
    section.PutI32(24, static_cast<std::int32_t>(streamPosition));
  } else {
    section.PutI64(24, streamPosition);
  }
  section.PutBytes(kSectionRecordBytes, image.stream.data(), image.stream.size());
  return std::move(section.bytes());
}

void PutIndexEntry(std::vector<unsigned char>& index, std::size_t at, const WrittenTile& tile,
                   HeaderLayout layout) {
  const bool wide = layout != HeaderLayout::k1000;
  RecordBytes entry(static_cast<std::size_t>(EntryBytesOf(layout)));
  entry.PutI32(4, tile.x);
  entry.PutI32(8, tile.y);
  entry.PutI32(12, tile.width);
  entry.PutI32(16, tile.height);
  entry.PutF32(20, tile.scale);
  entry.PutI32(32, tile.length);
  if (wide) {
    entry.PutI64(36, tile.offset);
  } else {
    entry.PutI32(40, static_cast<std::int32_t>(tile.offset));
  }
  std::memcpy(index.data() + at, entry.bytes().data(), entry.bytes().size());
}

}  // namespace strata::ztx
