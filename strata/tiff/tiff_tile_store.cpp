#include "strata/tiff/tiff_tile_store.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "strata/model/image_buffer.h"
#include "strata/model/region_geometry.h"
#include "strata/model/slide_format.h"
#include "strata/tiff/tiff_jpeg_stream.h"

namespace strata::tiff {

TiffTileStore::TiffTileStore(std::unique_ptr<CFileOperationTool> reader,
                             std::unique_ptr<TiffClient> client,
                             std::vector<TiffDirectory> directories, TiffLayout layout)
    : reader_(std::move(reader)), client_(std::move(client)),
      directories_(std::move(directories)), layout_(std::move(layout)),
      jpegPrefixes_(layout_.levels.size()), jpegPrefixFailures_(layout_.levels.size()) {
  for (std::size_t level = 0; level < layout_.levels.size(); ++level) {
    const TiffLevel& info = layout_.levels[level];
    if (info.coding != TileCoding::kJpeg) continue;
    jpegPrefixFailures_[level] =
        JpegStreamPrefix(directories_[static_cast<std::size_t>(info.directory)].jpegTables,
                         info.rgbJpeg, &jpegPrefixes_[level]);
  }
}

TiffTileStore::~TiffTileStore() {
  client_.reset();  // libtiff lets go of the reader first
  if (reader_ != nullptr) reader_->Close();
}

std::size_t TiffTileStore::TileIndex(int level, std::int64_t column, std::int64_t row) const {
  const TiffLevel& info = layout_.levels[static_cast<std::size_t>(level)];
  return static_cast<std::size_t>(row * info.TilesAcross() + column);
}

Status TiffTileStore::ReadStoredInto(int level, std::int64_t column, std::int64_t row,
                                     std::size_t before, const Placement& place,
                                     unsigned char** tile, std::size_t* length) const {
  const TiffLevel& info = layout_.levels[static_cast<std::size_t>(level)];
  if (column < 0 || row < 0 || column >= info.TilesAcross() || row >= info.TilesDown()) {
    return Status::OutOfRange("level " + std::to_string(level) + " has no tile at column " +
                              std::to_string(column) + ", row " + std::to_string(row));
  }
  const TiffDirectory& directory = directories_[static_cast<std::size_t>(info.directory)];
  const std::size_t index = TileIndex(level, column, row);
  const std::uint64_t offset = directory.tileOffsets[index];
  *length = static_cast<std::size_t>(directory.tileByteCounts[index]);
  unsigned char* memory = place(before + *length);
  if (memory == nullptr) return Status::TooLarge("a tile of " + std::to_string(*length) + " bytes");
  *tile = memory + before;
  if (!reader_->ReadWhole(offset, *length, *tile)) {
    return Status::IoError("cannot read the " + std::to_string(*length) + " bytes of tile " +
                           std::to_string(index) + " of level " + std::to_string(level) +
                           " at byte " + std::to_string(offset));
  }
  return Status::Ok();
}

Status TiffTileStore::ReadStored(int level, std::int64_t column, std::int64_t row,
                                 std::vector<unsigned char>* bytes) const {
  unsigned char* tile = nullptr;
  std::size_t length = 0;
  return ReadStoredInto(level, column, row, 0, VectorPlacement(bytes), &tile, &length);
}

TiffTileStore::Placement TiffTileStore::VectorPlacement(std::vector<unsigned char>* bytes) {
  return [bytes](std::size_t length) -> unsigned char* {
    try {
      bytes->resize(length);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return bytes->data();
  };
}

Status TiffTileStore::ReadJpeg(int level, std::int64_t column, std::int64_t row,
                               const Placement& place) const {
  const std::size_t index = static_cast<std::size_t>(level);
  if (!jpegPrefixFailures_[index].ok()) return jpegPrefixFailures_[index];
  const std::vector<unsigned char>& prefix = jpegPrefixes_[index];
  // The tile lands after the prefix, its own start-of-image where the
  // prefix ends; the prefix then goes over that marker.
  unsigned char* tile = nullptr;
  std::size_t length = 0;
  const Status read =
      ReadStoredInto(level, column, row, prefix.size() - kStoredTileSkip, place, &tile, &length);
  if (!read.ok()) return read;
  if (!StartsLikeJpeg(tile, length)) {
    return Status::Damaged("level " + std::to_string(level) + ", tile " +
                           std::to_string(TileIndex(level, column, row)) +
                           ": the stored tile does not start with a start-of-image marker");
  }
  std::memcpy(tile + kStoredTileSkip - prefix.size(), prefix.data(), prefix.size());
  return Status::Ok();
}

Status TiffTileStore::SelectDirectory(int directory) const {
  if (currentDirectory_ == directory) return Status::Ok();
  client_->ClearError();
  currentDirectory_ = -1;
  if (!TIFFSetDirectory(client_->Handle(), static_cast<tdir_t>(directory))) {
    return Status::Damaged("TIFF directory " + std::to_string(directory) +
                           " cannot be read again: " + client_->LastError());
  }
  currentDirectory_ = directory;
  return Status::Ok();
}

Status TiffTileStore::DecodeOther(int level, std::int64_t column, std::int64_t row,
                                  Image* rgb) const {
  std::vector<unsigned char> stored;
  const Status read = ReadStored(level, column, row, &stored);
  if (!read.ok()) return read;
  const TiffLevel& info = layout_.levels[static_cast<std::size_t>(level)];
  if (!AllocateImage(info.tileWidth, info.tileHeight, 3, rgb)) {
    return Status::TooLarge("a tile of " + std::to_string(info.tileWidth) + " x " +
                            std::to_string(info.tileHeight) + " pixels");
  }
  std::lock_guard<std::mutex> guard(libtiffLock_);
  const Status selected = SelectDirectory(info.directory);
  if (!selected.ok()) return selected;
  TIFF* tiff = client_->Handle();
  if (TIFFTileSize64(tiff) != rgb->pixels.size()) {
    return Status::Damaged("TIFF directory " + std::to_string(info.directory) +
                           " has tiles of an unexpected size");
  }
  client_->ClearError();
  const auto strile = static_cast<std::uint32_t>(TileIndex(level, column, row));
  if (!TIFFReadFromUserBuffer(tiff, strile, stored.data(), static_cast<tmsize_t>(stored.size()),
                              rgb->pixels.data(), static_cast<tmsize_t>(rgb->pixels.size()))) {
    return Status::Damaged("tile " + std::to_string(strile) + " of level " +
                           std::to_string(level) + " does not decode: " + client_->LastError());
  }
  return Status::Ok();
}

void TiffTileStore::Prefetch(int level,
                             const std::vector<std::pair<std::int64_t, std::int64_t>>& cells) const {
  const TiffLevel& info = layout_.levels[static_cast<std::size_t>(level)];
  const TiffDirectory& directory = directories_[static_cast<std::size_t>(info.directory)];
  std::vector<ByteRange> ranges;
  ranges.reserve(cells.size());
  for (const auto& [column, row] : cells) {
    if (column < 0 || row < 0 || column >= info.TilesAcross() || row >= info.TilesDown()) continue;
    const std::size_t index = TileIndex(level, column, row);
    ranges.push_back({directory.tileOffsets[index], directory.tileByteCounts[index]});
  }
  if (!ranges.empty()) reader_->Prefetch(ranges);
}

Status TiffTileStore::ReadAssociated(const TiffAssociatedImage& image, Image* rgb) const {
  if (image.width <= 0 || image.height <= 0 || image.width > INT32_MAX ||
      image.height > INT32_MAX) {
    return Status::Damaged("the " + image.name + " image has no usable size");
  }
  const int width = static_cast<int>(image.width);
  const int height = static_cast<int>(image.height);
  std::size_t wordBytes = 0;
  if (!CheckedPixelBytes(width, height, 4, wordBytes) || !FitsRegionMemoryBudget(wordBytes) ||
      !AllocateImage(width, height, 3, rgb)) {
    return Status::TooLarge("the " + image.name + " image is over the memory budget");
  }
  std::unique_ptr<std::uint32_t[]> raster(
      new (std::nothrow) std::uint32_t[static_cast<std::size_t>(width) * height]);
  if (raster == nullptr) return Status::TooLarge("out of memory reading the " + image.name + " image");
  std::lock_guard<std::mutex> guard(libtiffLock_);
  const Status selected = SelectDirectory(image.directory);
  if (!selected.ok()) return selected;
  client_->ClearError();
  if (!TIFFReadRGBAImageOriented(client_->Handle(), static_cast<std::uint32_t>(width),
                                 static_cast<std::uint32_t>(height), raster.get(),
                                 ORIENTATION_TOPLEFT, 1)) {
    return Status::Damaged("the " + image.name + " image does not decode: " +
                           client_->LastError());
  }
  unsigned char* to = rgb->pixels.data();
  const std::size_t count = static_cast<std::size_t>(width) * height;
  for (std::size_t n = 0; n < count; ++n, to += 3) {
    const std::uint32_t pixel = raster[n];
    to[0] = static_cast<unsigned char>(TIFFGetR(pixel));
    to[1] = static_cast<unsigned char>(TIFFGetG(pixel));
    to[2] = static_cast<unsigned char>(TIFFGetB(pixel));
  }
  return Status::Ok();
}

}  // namespace strata::tiff
