// Helpers for the reader tests: a small builder for hand-made (and hostile)
// ZTX bytes, little-endian field patches, and owners for library buffers.
#ifndef STRATA_TESTS_ZTX_READER_TEST_UTIL_H_
#define STRATA_TESTS_ZTX_READER_TEST_UTIL_H_

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "support/slide_owners.h"

namespace strata::test::reader {

using Bytes = std::vector<unsigned char>;

inline void PutBytes(Bytes& bytes, std::size_t at, const void* value, std::size_t size) {
  if (bytes.size() < at + size) bytes.resize(at + size, 0);
  std::memcpy(bytes.data() + at, value, size);
}
inline void PutI32(Bytes& bytes, std::size_t at, std::int32_t value) {
  PutBytes(bytes, at, &value, 4);
}
inline void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  PutBytes(bytes, at, &value, 4);
}
inline void PutI64(Bytes& bytes, std::size_t at, std::int64_t value) {
  PutBytes(bytes, at, &value, 8);
}
inline void PutF32(Bytes& bytes, std::size_t at, float value) { PutBytes(bytes, at, &value, 4); }
inline void PutF64(Bytes& bytes, std::size_t at, double value) { PutBytes(bytes, at, &value, 8); }

enum class HeaderLayout { k1000, k1100, k1200, k1300 };

inline HeaderLayout LayoutFor(float version) {
  if (version < 1.05f) return HeaderLayout::k1000;
  if (version < 1.15f) return HeaderLayout::k1100;
  if (version < 1.25f) return HeaderLayout::k1200;
  return HeaderLayout::k1300;
}

// The fields of a hand-made header; Build lays them out for `version`.
struct HeaderFields {
  std::uint32_t marker = 0xEEEE01F1u;
  std::string magic = std::string("ZTX\0\0\0\0\0", 8);
  float version = 1.3f;
  std::int32_t tileCount = 0;
  std::int32_t height = 700;
  std::int32_t width = 1000;
  std::int32_t scanScale = 20;
  std::string imageFormat = std::string("JPEG\0\0\0\0", 8);
  std::uint32_t spendTime = 0;
  std::int64_t scanTime = 0;
  std::int32_t previewOffset = 100;
  std::int32_t labelOffset = 0;
  std::int64_t thumbnailOffset = 0;
  std::int64_t indexOffset = 0;
  float captureResolution = 0.0f;
  std::int32_t blockSize = 256;

  Bytes Build() const {
    Bytes bytes(96, 0);
    PutU32(bytes, 0, marker);
    PutBytes(bytes, 4, magic.data(), magic.size() < 8 ? magic.size() : 8);
    PutF32(bytes, 12, version);
    PutI32(bytes, 16, tileCount);
    PutI32(bytes, 20, height);
    PutI32(bytes, 24, width);
    PutI32(bytes, 28, scanScale);
    PutBytes(bytes, 32, imageFormat.data(), imageFormat.size() < 8 ? imageFormat.size() : 8);
    switch (LayoutFor(version)) {
      case HeaderLayout::k1000:
        PutI32(bytes, 48, static_cast<std::int32_t>(scanTime));
        PutI32(bytes, 60, previewOffset);
        PutI32(bytes, 64, labelOffset);
        PutI32(bytes, 68, static_cast<std::int32_t>(indexOffset));
        PutF32(bytes, 72, captureResolution);
        break;
      case HeaderLayout::k1100:
      case HeaderLayout::k1200:
        PutU32(bytes, 40, spendTime);
        PutI64(bytes, 44, scanTime);
        PutI32(bytes, 60, previewOffset);
        PutI32(bytes, 64, labelOffset);
        PutI32(bytes, 68, static_cast<std::int32_t>(thumbnailOffset));
        PutI32(bytes, 72, static_cast<std::int32_t>(indexOffset));
        PutF32(bytes, 76, captureResolution);
        PutI32(bytes, 88, blockSize);
        break;
      case HeaderLayout::k1300:
        PutU32(bytes, 40, spendTime);
        PutI64(bytes, 44, scanTime);
        PutI32(bytes, 52, previewOffset);
        PutI32(bytes, 56, labelOffset);
        PutI64(bytes, 60, thumbnailOffset);
        PutI64(bytes, 68, indexOffset);
        PutF32(bytes, 76, captureResolution);
        PutI32(bytes, 88, blockSize);
        break;
    }
    return bytes;
  }
};

struct Item {
  std::int32_t identifier;
  std::string value;
};

// Appends a property area (count, then items) at offset 96 and returns its end.
inline std::int32_t AppendPropertyArea(Bytes& bytes, const std::vector<Item>& items,
                                       std::int32_t declaredCount) {
  bytes.resize(96);
  PutI32(bytes, 96, declaredCount);
  for (const Item& item : items) {
    const std::size_t at = bytes.size();
    PutI32(bytes, at, item.identifier);
    PutI32(bytes, at + 4, static_cast<std::int32_t>(item.value.size()));
    PutBytes(bytes, at + 8, item.value.data(), item.value.size());
  }
  return static_cast<std::int32_t>(bytes.size());
}

inline std::string Int32Value(std::int32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), 4);
}

struct HandTile {
  float scale;
  int x;
  int y;
  int width;
  int height;
  Bytes stream;
};

// A slide of hand-made tiles: header, empty property area (1.2 and later),
// the tile streams, and the index last, so that a read of more index bytes
// than the entries need runs off the end of the file. Tile positions are
// therefore negative (relative to the index).
struct HandSlide {
  float version = 1.2f;
  bool compressed = false;
  std::int32_t scanScale = 20;
  std::vector<HandTile> tiles;
  // Filled by Build.
  std::int64_t indexOffset = 0;
  std::vector<std::int64_t> tileOffsets;

  int EntrySize() const { return LayoutFor(version) == HeaderLayout::k1000 ? 68 : 64; }

  Bytes Entries() const {
    Bytes entries;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      const std::size_t at = i * static_cast<std::size_t>(EntrySize());
      entries.resize(at + static_cast<std::size_t>(EntrySize()), 0);
      PutI32(entries, at + 4, tiles[i].x);
      PutI32(entries, at + 8, tiles[i].y);
      PutI32(entries, at + 12, tiles[i].width);
      PutI32(entries, at + 16, tiles[i].height);
      PutF32(entries, at + 20, tiles[i].scale);
      PutI32(entries, at + 32, static_cast<std::int32_t>(tiles[i].stream.size()));
      if (EntrySize() == 68) {
        PutI32(entries, at + 40, static_cast<std::int32_t>(tileOffsets[i]));
      } else {
        PutI64(entries, at + 36, tileOffsets[i]);
      }
    }
    return entries;
  }

  Bytes Build(const std::function<Bytes(const Bytes&)>& compress = nullptr) {
    HeaderFields fields;
    fields.version = version;
    fields.marker = compressed ? 0xEEEE05F1u : 0xEEEE01F1u;
    fields.tileCount = static_cast<std::int32_t>(tiles.size());
    fields.scanScale = scanScale;
    Bytes bytes = fields.Build();
    if (LayoutFor(version) >= HeaderLayout::k1200) AppendPropertyArea(bytes, {}, 0);
    bytes.resize(100, 0);
    std::vector<std::int64_t> positions;
    for (const HandTile& tile : tiles) {
      positions.push_back(static_cast<std::int64_t>(bytes.size()));
      bytes.insert(bytes.end(), tile.stream.begin(), tile.stream.end());
    }
    indexOffset = static_cast<std::int64_t>(bytes.size());
    tileOffsets.clear();
    for (std::int64_t position : positions) tileOffsets.push_back(position - indexOffset);
    Bytes index = Entries();
    if (compressed && compress) {
      const Bytes packed = compress(index);
      index.assign(4, 0);
      PutU32(index, 0, static_cast<std::uint32_t>(packed.size()));
      index.insert(index.end(), packed.begin(), packed.end());
    }
    bytes.insert(bytes.end(), index.begin(), index.end());
    const std::size_t indexField = LayoutFor(version) == HeaderLayout::k1300   ? 68
                                   : LayoutFor(version) == HeaderLayout::k1000 ? 68
                                                                               : 72;
    if (LayoutFor(version) == HeaderLayout::k1300) {
      PutI64(bytes, indexField, indexOffset);
    } else {
      PutI32(bytes, indexField, static_cast<std::int32_t>(indexOffset));
    }
    return bytes;
  }
};

// Opens `path` and loads the header only (a block load with an empty block).
inline std::unique_ptr<CZTXDataFile> OpenHeaderOnly(const std::string& path, int* result) {
  auto slide = std::make_unique<CZTXDataFile>();
  *result = slide->OpenFile(path.c_str()) ? slide->LoadFileBlock(0, 0, 0, 0, 0.0f) : -2;
  return slide;
}

inline std::unique_ptr<CZTXDataFile> OpenLoaded(const std::string& path, int* result) {
  auto slide = std::make_unique<CZTXDataFile>();
  *result = slide->OpenFile(path.c_str()) ? slide->LoadFile() : -2;
  return slide;
}

}  // namespace strata::test::reader

#endif  // STRATA_TESTS_ZTX_READER_TEST_UTIL_H_
