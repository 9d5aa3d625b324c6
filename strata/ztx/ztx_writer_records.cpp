#include "strata/ztx/ztx_writer_records.h"

#include <cstring>

#include "strata/ztx/ztx_record_bytes.h"

namespace strata::ztx {
namespace {

void PutMagicAndFormat(RecordBytes& header, const HeaderFields& fields) {
  const char* magic = fields.longMagic ? "ZTXL" : "ZTX";
  header.PutBytes(4, magic, std::strlen(magic));  // the zero byte after it is already there
  const char* format = fields.bmpTiles ? "BMP" : "JPG";
  header.PutBytes(32, format, std::strlen(format));
}

void PutLayout1000(RecordBytes& header, const HeaderFields& fields) {
  header.PutI32(48, static_cast<std::int32_t>(fields.scanTime));
  header.PutI32(60, static_cast<std::int32_t>(fields.previewOffset));
  header.PutI32(64, static_cast<std::int32_t>(fields.labelOffset));
  header.PutI32(68, static_cast<std::int32_t>(fields.indexOffset));
  header.PutF32(72, fields.captureResolution);
}

void PutLayout1100(RecordBytes& header, const HeaderFields& fields, bool typedTimes) {
  if (typedTimes) {
    header.PutU32(40, fields.spendTimeMs);
    header.PutI64(44, fields.scanTime);
  } else {
    // 1.1 kept the duration as a float and the time as a double.
    header.PutF32(40, static_cast<float>(fields.spendTimeMs));
    header.PutF64(44, static_cast<double>(fields.scanTime));
  }
  header.PutI32(60, static_cast<std::int32_t>(fields.previewOffset));
  header.PutI32(64, static_cast<std::int32_t>(fields.labelOffset));
  header.PutI32(68, static_cast<std::int32_t>(fields.thumbnailOffset));
  header.PutI32(72, static_cast<std::int32_t>(fields.indexOffset));
  header.PutF32(76, fields.captureResolution);
  header.PutI32(88, fields.blockSize);
}

void PutLayout1300(RecordBytes& header, const HeaderFields& fields) {
  header.PutU32(40, fields.spendTimeMs);
  header.PutI64(44, fields.scanTime);
  header.PutI32(52, static_cast<std::int32_t>(fields.previewOffset));
  header.PutI32(56, static_cast<std::int32_t>(fields.labelOffset));
  header.PutI64(60, fields.thumbnailOffset);
  header.PutI64(68, fields.indexOffset);
  header.PutF32(76, fields.captureResolution);
  header.PutI32(88, fields.blockSize);
}

}  // namespace

HeaderLayout HeaderLayoutOf(float version) {
  if (SameVersion(version, 1.0f)) return HeaderLayout::k1000;
  if (SameVersion(version, 1.1f)) return HeaderLayout::k1100;
  if (SameVersion(version, 1.2f)) return HeaderLayout::k1200;
  for (float later : {1.3f, 1.4f, 1.5f, 1.6f, 1.7f, 2.0f}) {
    if (SameVersion(version, later)) return HeaderLayout::k1300;
  }
  return HeaderLayout::kUnknown;
}

std::vector<unsigned char> BuildHeader(const HeaderFields& fields) {
  RecordBytes header(kZtxHeaderBytes);
  header.PutU32(0, fields.compressedIndex ? kZtxCompressedMarker : kZtxMarker);
  PutMagicAndFormat(header, fields);
  header.PutF32(12, fields.version);
  header.PutI32(16, fields.tileCount);
  header.PutI32(20, fields.height);
  header.PutI32(24, fields.width);
  header.PutI32(28, fields.scanScale);
  switch (HeaderLayoutOf(fields.version)) {
    case HeaderLayout::k1000: PutLayout1000(header, fields); break;
    case HeaderLayout::k1100: PutLayout1100(header, fields, false); break;
    case HeaderLayout::k1200: PutLayout1100(header, fields, true); break;
    case HeaderLayout::k1300: PutLayout1300(header, fields); break;
    case HeaderLayout::kUnknown: break;
  }
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
  section.PutI32(20, static_cast<std::int32_t>(image.stream.size()));
  const std::int64_t streamPosition = hasImage ? kSectionRecordBytes : 0;
  if (layout == HeaderLayout::k1000) {
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
  RecordBytes entry(wide ? kEntryBytes : kEntryBytes1000);
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
