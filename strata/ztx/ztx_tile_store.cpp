#include "strata/ztx/ztx_tile_store.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "strata/model/failure_note.h"
#include "strata/model/file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_tile_pixels.h"

namespace strata::ztx {
namespace {

// No stored tile comes near this; a larger length is a damaged entry, and
// refusing it spares readers that cannot tell the file size a huge read.
constexpr std::int64_t kMaxTileBytes = 64LL << 20;
// Associated images are at most a few megabytes; when the reader cannot tell
// the file size, a larger record is damaged rather than worth fetching.
constexpr int kMaxUnsizedSectionImage = 256 << 20;

bool CheckedEnd(std::int64_t start, std::int64_t length, std::int64_t& end) {
  if (start < 0 || length < 0) return false;
  return !__builtin_add_overflow(start, length, &end);
}

// A tile position is relative to the index and may lie before it; the sum
// must still be a position in the file.
bool CheckedTileStart(std::int64_t indexOffset, std::int64_t offset, std::int64_t& start) {
  return !__builtin_add_overflow(indexOffset, offset, &start) && start >= 0;
}

Status OutsideTheFile(const char* what) {
  return Status::Damaged(std::string(what) + " lies outside the file");
}

}  // namespace

void TileStore::Bind(CFileOperationTool* reader, CZTXDataHeader* header, std::int64_t fileSize) {
  reader_ = reader;
  header_ = header;
  fileSize_ = fileSize;
}

bool TileStore::Plausible(const TileInfo& tile) const {
  if (header_ == nullptr || tile.length <= 0 || tile.length > kMaxTileBytes) return false;
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (!CheckedTileStart(header_->GetIndexOffset(), tile.offset, start) ||
      !CheckedEnd(start, tile.length, end)) {
    return false;
  }
  return fileSize_ < 0 || end <= fileSize_;
}

int TileStore::ReadInto(std::int64_t position, std::int64_t offset, int length,
                        unsigned char** out) {
  if (out == nullptr || *out == nullptr || length <= 0 || reader_ == nullptr) return -1;
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (!CheckedTileStart(position, offset, start) || !CheckedEnd(start, length, end)) {
    NoteFailure(OutsideTheFile("the tile's stream"));
    return -1;
  }
  // A short read leaves the caller's buffer as it was.
  if (reader_->ReadWhole(static_cast<std::uint64_t>(start), static_cast<std::size_t>(length),
                         *out)) {
    return 0;
  }
  NoteFailure(TakeNotedFailure(Status::IoError("the tile's stream cannot be read")));
  return -1;
}

bool TileStore::ReadTile(const TileInfo& tile, std::vector<unsigned char>& bytes) {
  if (reader_ == nullptr) return false;
  if (!Plausible(tile)) {
    NoteFailure(OutsideTheFile("the tile's stream"));
    return false;
  }
  const std::int64_t start = header_->GetIndexOffset() + tile.offset;
  const std::size_t size = static_cast<std::size_t>(tile.length);
  bytes.resize(size);
  std::size_t delivered = 0;
  if (reader_->ReadInto(static_cast<std::uint64_t>(start), size, bytes.data(), delivered) &&
      delivered == size) {
    return true;
  }
  NoteFailure(TakeNotedFailure(Status::IoError("the tile's stream cannot be read")));
  return false;
}

bool TileStore::ReadSection(std::int64_t position, std::int64_t offset, int length,
                            unsigned char** out) {
  if (out == nullptr || reader_ == nullptr || position <= 0 || offset <= 0 || length <= 0) {
    return false;
  }
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (__builtin_add_overflow(position, offset, &start) ||
      __builtin_add_overflow(start, static_cast<std::int64_t>(length), &end)) {
    return false;
  }
  // A record pointing past the end of the file means the image is missing.
  if (fileSize_ >= 0 && end > fileSize_) {
    NoteFailure(OutsideTheFile("the image's stream"));
    return false;
  }
  if (fileSize_ < 0 && length > kMaxUnsizedSectionImage) return false;
  ByteBuffer buffer;
  if (!reader_->Read(static_cast<std::uint64_t>(start), length, &buffer) ||
      buffer.Filled() != static_cast<std::size_t>(length)) {
    return false;
  }
  unsigned char* copy = AllocateBuffer(static_cast<std::size_t>(length));
  if (copy == nullptr) return false;
  std::memcpy(copy, buffer.Storage(), static_cast<std::size_t>(length));
  *out = copy;
  return true;
}

// Over a remote link the header and section reads that follow the probe then
// cost one request together instead of one each; the probe stays first, so a
// missing slide still fails after a single request.
void TileStore::PrefetchHead() {
  std::uint64_t bytes = kHeadReadAheadBytes;
  if (fileSize_ >= 0) bytes = std::min(bytes, static_cast<std::uint64_t>(fileSize_));
  if (bytes > 0 && reader_ != nullptr) reader_->Prefetch({{0, bytes}});
}

void TileStore::PrefetchTiles(const std::vector<const TileInfo*>& tiles) {
  if (reader_ == nullptr || header_ == nullptr) return;
  std::vector<ByteRange> ranges;
  ranges.reserve(tiles.size());
  for (const TileInfo* tile : tiles) {
    if (tile == nullptr || !Plausible(*tile)) continue;
    ranges.push_back({static_cast<std::uint64_t>(header_->GetIndexOffset() + tile->offset),
                      static_cast<std::uint64_t>(tile->length)});
  }
  if (!ranges.empty()) reader_->Prefetch(ranges);
}

bool TileStore::TilesAreBmp() const {
  return header_ != nullptr && IsBmpFormatTag(header_->GetImageFormat());
}

unsigned char* TileStore::Decode(const unsigned char* stream, int length, const TileLimits& limits,
                                 int& width, int& height) const {
  if (stream == nullptr || length <= 0 || limits.width <= 0 || limits.height <= 0) return nullptr;
  if (TilesAreBmp()) {
    // A BMP's pixels are its stream; only its frame needs checking.
    PixelBuffer pixels(DecodeBmp24(stream, length, width, height));
    if (pixels != nullptr && (width > limits.width || height > limits.height)) pixels.reset();
    return pixels.release();
  }
  int components = 0;
  unsigned char* decoded = DecodeJpegComponentsWithin(stream, length, limits.width, limits.height,
                                                      width, height, components);
  if (decoded == nullptr || components == 3) return decoded;
  // Callers always receive three channels; a grey stream is widened.
  unsigned char* rgb =
      components == 1 ? InterleavePlanes(decoded, decoded, decoded, width, height) : nullptr;
  ReleaseBuffer(decoded);
  return rgb;
}

}  // namespace strata::ztx
