#include "strata/ztx/ztx_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <utility>

#include "strata/platform/parallel.h"
#include "strata/ztx/ztx_output_file.h"
#include "strata/ztx/ztx_pyramid_builder.h"
#include "strata/ztx/ztx_tile_encoder.h"
#include "strata/ztx/ztx_writer_records.h"

namespace strata::ztx {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr int kLevelModeItem = 33;
constexpr int kChannelCountItem = 40;
constexpr int kFirstChannelNameItem = 49;
constexpr int kMinBlockSize = 16;
constexpr int kMaxBlockSize = 8192;

const char* const kDefaultChannelNames[kMaxChannels] = {"Red",       "Green",      "Blue",
                                                        "Red+Green", "Green+Blue", "Red+Blue"};

bool HasItem(const std::vector<PropertyItem>& items, int identifier) {
  return std::any_of(items.begin(), items.end(), [identifier](const PropertyItem& item) {
    return item.identifier == identifier;
  });
}

bool SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

// One run of ZtxWriter::Write: plans the file, writes header and sections,
// streams the tiles and finally writes the index in front of them.
//
// File order: header, property area, preview, label, thumbnail, tile index,
// tiles. The index size is known before the first tile (the pyramid fixes
// the tile count), so every tile position relative to the index is positive
// and the index can be compressed or expanded in place later.
class WriteRun {
 public:
  WriteRun(const ZtxWriterOptions& options, std::string path, int width, int height,
           const RowSource& source, const ProgressCallback& progress)
      : options_(options),
        path_(std::move(path)),
        width_(width),
        height_(height),
        source_(source),
        progress_(progress),
        layoutKind_(HeaderLayoutOf(options.version)),
        blockSize_(options.blockSize) {}

  bool Run(std::string* error, ZtxLayout* layout);

 private:
  bool Validate(std::string* error) const;
  std::vector<PropertyItem> ItemsToWrite() const;
  bool PlanFile(std::string* error);
  bool WriteHeaderAndSections(std::string* error);
  bool WriteTiles(std::string* error);
  bool WriteTileBatch(std::vector<TileImage> tiles, std::string* error);
  bool WriteIndex(std::string* error);
  void FillLayout(ZtxLayout* layout) const;
  bool Wide() const { return layoutKind_ != HeaderLayout::k1000; }

  const ZtxWriterOptions& options_;
  std::string path_;
  int width_;
  int height_;
  const RowSource& source_;
  const ProgressCallback& progress_;
  HeaderLayout layoutKind_;
  int blockSize_;

  std::vector<PyramidLevel> levels_;
  std::int64_t tileCount_ = 0;
  std::vector<unsigned char> propertyArea_;
  std::vector<unsigned char> previewSection_;
  std::vector<unsigned char> labelSection_;
  std::vector<unsigned char> thumbnailSection_;
  HeaderFields header_;
  std::int64_t indexReserve_ = 0;
  std::int64_t indexBytes_ = 0;
  std::int64_t dataStart_ = 0;
  std::int64_t cursor_ = 0;
  std::int64_t tilesWritten_ = 0;
  std::vector<WrittenTile> entries_;
  OutputFile file_;
};

bool WriteRun::Validate(std::string* error) const {
  const float version = options_.version;
  if (layoutKind_ == HeaderLayout::kUnknown) {
    return SetError(
        error, "unsupported version " + std::to_string(version) + " (expected 1.0-1.7 or 2.0)");
  }
  if (width_ <= 0 || height_ <= 0) {
    return SetError(error, "slide size must be positive, got " + std::to_string(width_) + " x " +
                               std::to_string(height_));
  }
  if (!source_) return SetError(error, "no pixel source given");
  if (options_.scanScale <= 0) return SetError(error, "scan scale must be positive");
  if (layoutKind_ == HeaderLayout::k1000 && options_.blockSize != 256) {
    return SetError(error, "version 1.0 tiles are 256 pixels; block size " +
                               std::to_string(options_.blockSize) + " needs version 1.1 or later");
  }
  if (options_.blockSize < kMinBlockSize || options_.blockSize > kMaxBlockSize) {
    return SetError(error, "block size must be " + std::to_string(kMinBlockSize) + "-" +
                               std::to_string(kMaxBlockSize) + ", got " +
                               std::to_string(options_.blockSize));
  }
  if (options_.jpegQuality < 1 || options_.jpegQuality > 100) {
    return SetError(error, "JPEG quality must be 1-100");
  }
  if (options_.levelMode < 0 || options_.levelMode > 2) {
    return SetError(error, "level mode must be 0, 1 or 2");
  }
  if (options_.smallestLevel <= 0) return SetError(error, "smallest level must be positive");
  const bool hasItems = layoutKind_ == HeaderLayout::k1200 || layoutKind_ == HeaderLayout::k1300;
  if (!hasItems && !options_.items.empty()) {
    return SetError(error, "property items need version 1.2 or later");
  }
  if (!hasItems && options_.levelMode != 0) {
    return SetError(error, "a level mode needs version 1.2 or later (it is stored as item 33)");
  }
  if (options_.channelCount < 0 || options_.channelCount > kMaxChannels) {
    return SetError(error, "channel count must be 0-6");
  }
  if (options_.channelCount > 0) {
    if (!hasItems) return SetError(error, "multi-channel slides need version 1.2 or later");
    if (options_.encoding != TileEncoding::kJpeg) {
      return SetError(error, "multi-channel tiles are JPEG streams; BMP is not possible");
    }
    if (static_cast<int>(options_.channelNames.size()) > options_.channelCount) {
      return SetError(error, "more channel names than channels");
    }
  }
  if (options_.longMagic && layoutKind_ != HeaderLayout::k1300) {
    return SetError(error, "the long magic \"ZTXL\" needs version 1.3 or later");
  }
  if (options_.compressIndex && layoutKind_ == HeaderLayout::k1000) {
    return SetError(error, "a compressed tile index needs version 1.1 or later");
  }
  if (layoutKind_ == HeaderLayout::k1000 &&
      (options_.scanTime < std::numeric_limits<std::int32_t>::min() ||
       options_.scanTime > kInt32Max)) {
    return SetError(error, "scan time does not fit the 32-bit field of version 1.0");
  }
  return true;
}

std::vector<PropertyItem> WriteRun::ItemsToWrite() const {
  std::vector<PropertyItem> items = options_.items;
  const std::vector<PropertyItem>& given = options_.items;
  if (options_.levelMode != 0 && !HasItem(given, kLevelModeItem)) {
    items.push_back(PropertyItem::Int(kLevelModeItem, options_.levelMode));
  }
  if (options_.channelCount > 0) {
    if (!HasItem(given, kChannelCountItem)) {
      items.push_back(PropertyItem::Int(kChannelCountItem, options_.channelCount));
    }
    for (int c = 0; c < options_.channelCount; ++c) {
      const int identifier = kFirstChannelNameItem + c;
      if (HasItem(given, identifier)) continue;
      const std::size_t index = static_cast<std::size_t>(c);
      const std::string name = index < options_.channelNames.size()
                                   ? options_.channelNames[index]
                                   : std::string(kDefaultChannelNames[c]);
      items.push_back(PropertyItem::Text(identifier, name));
    }
  }
  return items;
}

bool WriteRun::PlanFile(std::string* error) {
  levels_ = PlanPyramid(width_, height_, options_.scanScale, blockSize_, options_.levelMode,
                        options_.smallestLevel);
  tileCount_ = StoredTileCount(levels_);
  if (tileCount_ > kInt32Max / kEntryBytes1000) return SetError(error, "too many tiles");

  const bool hasItems = layoutKind_ == HeaderLayout::k1200 || layoutKind_ == HeaderLayout::k1300;
  if (hasItems) propertyArea_ = BuildPropertyArea(ItemsToWrite());
  previewSection_ = BuildSection(options_.preview, layoutKind_);
  if (!options_.label.stream.empty()) labelSection_ = BuildSection(options_.label, layoutKind_);
  if (Wide() && !options_.thumbnail.stream.empty()) {
    thumbnailSection_ = BuildSection(options_.thumbnail, layoutKind_);
  }

  std::int64_t position = kZtxHeaderBytes + static_cast<std::int64_t>(propertyArea_.size());
  header_.previewOffset = position;
  position += static_cast<std::int64_t>(previewSection_.size());
  if (!labelSection_.empty()) {
    header_.labelOffset = position;
    position += static_cast<std::int64_t>(labelSection_.size());
  }
  if (!thumbnailSection_.empty()) {
    header_.thumbnailOffset = position;
    position += static_cast<std::int64_t>(thumbnailSection_.size());
  }
  header_.indexOffset = position;

  const std::int64_t plainIndexBytes = tileCount_ * (Wide() ? kEntryBytes : kEntryBytes1000);
  indexReserve_ = plainIndexBytes;
  if (options_.compressIndex) {
    indexReserve_ =
        4 + static_cast<std::int64_t>(compressBound(static_cast<uLong>(plainIndexBytes)));
  }
  dataStart_ = header_.indexOffset + indexReserve_;

  // The preview and label positions are 32-bit in every version; before 1.3
  // the thumbnail and index positions are too.
  const bool narrowOffsets = layoutKind_ != HeaderLayout::k1300;
  if (header_.labelOffset > kInt32Max || header_.previewOffset > kInt32Max ||
      (narrowOffsets && (header_.thumbnailOffset > kInt32Max || header_.indexOffset > kInt32Max))) {
    return SetError(error, "associated images too large for the header's 32-bit positions");
  }

  header_.version = options_.version;
  header_.longMagic = options_.longMagic;
  header_.bmpTiles = options_.encoding == TileEncoding::kBmp;
  header_.compressedIndex = options_.compressIndex;
  header_.tileCount = static_cast<std::int32_t>(tileCount_);
  header_.width = width_;
  header_.height = height_;
  header_.scanScale = options_.scanScale;
  header_.scanTime = options_.scanTime;
  header_.spendTimeMs = options_.spendTimeMs;
  header_.captureResolution = options_.captureResolution;
  header_.blockSize = blockSize_;
  entries_.assign(static_cast<std::size_t>(tileCount_), WrittenTile{});
  return true;
}

bool WriteRun::WriteHeaderAndSections(std::string* error) {
  if (!file_.WriteAt(0, BuildHeader(header_), error)) return false;
  if (!file_.WriteAt(kZtxHeaderBytes, propertyArea_, error)) return false;
  if (!file_.WriteAt(header_.previewOffset, previewSection_, error)) return false;
  if (!labelSection_.empty() && !file_.WriteAt(header_.labelOffset, labelSection_, error)) {
    return false;
  }
  if (!thumbnailSection_.empty() &&
      !file_.WriteAt(header_.thumbnailOffset, thumbnailSection_, error)) {
    return false;
  }
  cursor_ = dataStart_;
  return true;
}

bool WriteRun::WriteTileBatch(std::vector<TileImage> tiles, std::string* error) {
  std::vector<std::vector<unsigned char>> streams(tiles.size());
  std::vector<char> encoded(tiles.size(), 0);
  const TileEncoder encoder(options_.encoding, options_.jpegQuality, options_.channelCount);
  const unsigned threads =
      options_.threads > 0 ? static_cast<unsigned>(options_.threads) : platform::ProcessorCount();
  platform::ParallelFor(tiles.size(), threads, [&](std::size_t i) {
    try {
      encoded[i] = encoder.Encode(tiles[i].pixels.data(), blockSize_, &streams[i]) ? 1 : 0;
    } catch (const std::exception&) {
      encoded[i] = 0;
    }
    std::vector<unsigned char>().swap(tiles[i].pixels);
  });

  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const PyramidLevel& level = levels_[static_cast<std::size_t>(tiles[i].level)];
    WrittenTile tile;
    tile.scale = level.scale;
    tile.x = tiles[i].column * blockSize_;
    tile.y = tiles[i].row * blockSize_;
    tile.width = blockSize_;
    tile.height = blockSize_;
    if (encoded[i] == 0) {
      return SetError(error, "cannot encode the tile at scale " + std::to_string(tile.scale) +
                                 ", x " + std::to_string(tile.x) + ", y " + std::to_string(tile.y));
    }
    tile.length = static_cast<int>(streams[i].size());
    tile.offset = cursor_ - header_.indexOffset;
    if (!Wide() && tile.offset > kInt32Max) {
      return SetError(error, "version 1.0 files cannot exceed 2 GiB (32-bit tile positions)");
    }
    if (!file_.WriteAt(cursor_, streams[i], error)) return false;
    cursor_ += tile.length;
    const std::int64_t entry = level.firstEntry +
                               static_cast<std::int64_t>(tiles[i].row) * level.columns +
                               tiles[i].column;
    entries_[static_cast<std::size_t>(entry)] = tile;
    ++tilesWritten_;
  }
  if (progress_) progress_(tilesWritten_, tileCount_);
  return true;
}

bool WriteRun::WriteTiles(std::string* error) {
  PyramidBuilder builder(levels_, blockSize_);
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * 3;
  std::vector<unsigned char> band(rowBytes *
                                  static_cast<std::size_t>(std::min(blockSize_, height_)));
  for (int top = 0; top < height_; top += blockSize_) {
    const int rows = std::min(blockSize_, height_ - top);
    if (!source_(top, rows, band.data())) {
      return SetError(error, "the pixel source failed at row " + std::to_string(top));
    }
    builder.AddBaseRows(band.data(), rows);
    if (!WriteTileBatch(builder.TakeReadyTiles(), error)) return false;
  }
  builder.Finish();
  if (!WriteTileBatch(builder.TakeReadyTiles(), error)) return false;
  if (tilesWritten_ != tileCount_) return SetError(error, "internal error: tile count mismatch");
  return true;
}

bool WriteRun::WriteIndex(std::string* error) {
  const std::size_t entrySize = Wide() ? kEntryBytes : kEntryBytes1000;
  std::vector<unsigned char> index(entrySize * entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    PutIndexEntry(index, i * entrySize, entries_[i], layoutKind_);
  }
  if (!options_.compressIndex) {
    indexBytes_ = static_cast<std::int64_t>(index.size());
    return file_.WriteAt(header_.indexOffset, index, error);
  }
  uLongf compressedLength = compressBound(static_cast<uLong>(index.size()));
  std::vector<unsigned char> compressed(4 + compressedLength);
  if (compress(compressed.data() + 4, &compressedLength, index.data(),
               static_cast<uLong>(index.size())) != Z_OK) {
    return SetError(error, "cannot compress the tile index");
  }
  for (int i = 0; i < 4; ++i) {
    compressed[static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(static_cast<std::uint32_t>(compressedLength) >> (8 * i));
  }
  compressed.resize(4 + compressedLength);
  indexBytes_ = static_cast<std::int64_t>(compressed.size());
  return file_.WriteAt(header_.indexOffset, compressed, error);
}

void WriteRun::FillLayout(ZtxLayout* layout) const {
  if (layout == nullptr) return;
  layout->propertyAreaOffset = kZtxHeaderBytes;
  layout->previewOffset = header_.previewOffset;
  layout->labelOffset = header_.labelOffset;
  layout->thumbnailOffset = header_.thumbnailOffset;
  layout->indexOffset = header_.indexOffset;
  layout->indexBytes = indexBytes_;
  layout->fileSize = cursor_;
  layout->levelScales.clear();
  for (const PyramidLevel& level : levels_) {
    if (level.stored) layout->levelScales.push_back(level.scale);
  }
  layout->tiles = entries_;
}

bool WriteRun::Run(std::string* error, ZtxLayout* layout) {
  if (!Validate(error) || !PlanFile(error)) return false;
  if (!file_.Create(path_, error)) return false;
  if (!WriteHeaderAndSections(error) || !WriteTiles(error) || !WriteIndex(error)) return false;
  if (!file_.Close(error)) return false;
  FillLayout(layout);
  return true;
}

}  // namespace

PropertyItem PropertyItem::Text(int identifier, const std::string& text) {
  PropertyItem item;
  item.identifier = identifier;
  item.value.assign(text.begin(), text.end());
  return item;
}

PropertyItem PropertyItem::Int(int identifier, std::int32_t value) {
  PropertyItem item;
  item.identifier = identifier;
  for (int i = 0; i < 4; ++i) {
    item.value.push_back(static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> (8 * i)));
  }
  return item;
}

ZtxWriter::ZtxWriter(ZtxWriterOptions options) : options_(std::move(options)) {}

bool ZtxWriter::Write(const std::string& path, int width, int height, const RowSource& source,
                      std::string* error, ZtxLayout* layout, const ProgressCallback& progress) {
  try {
    WriteRun run(options_, path, width, height, source, progress);
    return run.Run(error, layout);
  } catch (const std::bad_alloc&) {
    return SetError(error, "out of memory while writing " + path);
  } catch (const std::exception& exception) {
    return SetError(error, std::string("cannot write ") + path + ": " + exception.what());
  }
}

bool ZtxWriter::WritePixels(const std::string& path, int width, int height,
                            const unsigned char* rgb, std::string* error, ZtxLayout* layout) {
  if (rgb == nullptr) return SetError(error, "no pixels given");
  const std::size_t rowBytes = static_cast<std::size_t>(std::max(width, 0)) * 3;
  RowSource source = [rgb, rowBytes](int top, int rows, unsigned char* out) {
    std::memcpy(out, rgb + rowBytes * static_cast<std::size_t>(top),
                rowBytes * static_cast<std::size_t>(rows));
    return true;
  };
  return Write(path, width, height, source, error, layout);
}

}  // namespace strata::ztx
