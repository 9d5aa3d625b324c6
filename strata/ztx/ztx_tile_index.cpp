#include "strata/ztx/ztx_tile_index.h"

#include <zlib.h>

#include <limits>
#include <memory>
#include <new>
#include <string>

#include "strata/model/failure_note.h"
#include "strata/model/file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/model/region_geometry.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_region.h"
#include "strata/ztx/ztx_tile_block.h"

namespace strata::ztx {
namespace {

bool CheckedEnd(std::int64_t start, std::int64_t length, std::int64_t& end) {
  if (start < 0 || length < 0) return false;
  return !__builtin_add_overflow(start, length, &end);
}

bool Holds(const TileIndex::BlockFilter& filter, CZTXDataBlock& block) {
  const std::int64_t x = block.GetTileX();
  const std::int64_t y = block.GetTileY();
  return x >= filter.left && y >= filter.top && x + block.GetTileWidth() <= filter.right &&
         y + block.GetTileHeight() <= filter.bottom && block.GetTileScale() == filter.scale;
}

Status DamagedIndex() { return Status::Damaged("damaged tile index"); }

}  // namespace

Status TruncatedAt(std::int64_t fileSize) {
  return Status::Damaged("ZTX slide truncated at byte " + std::to_string(fileSize));
}

Status TileIndex::Load(CFileOperationTool& reader, CZTXDataHeader& header, HeaderLayout layout,
                       std::int64_t fileSize, const BlockFilter* filter) {
  std::unique_ptr<CZTXDataBlock> block(
      NewForLayout<CZTXDataBlock, CZTXDataBlock1100>(layout, &reader));
  if (block == nullptr) return Status::Unsupported("unknown ZTX version");
  ByteBuffer index;
  const Status read = ReadEntries(reader, header, layout, fileSize, index);
  if (!read.ok()) return read;
  tiles_.Clear();
  const int count = header.GetTileCount();
  if (filter == nullptr && count > 0) tiles_.Reserve(static_cast<std::size_t>(count));
  for (int entry = 0; entry < count; ++entry) {
    if (block->ReadEntry(&index) != 0) {
      return Status::Damaged("damaged tile index entry " + std::to_string(entry));
    }
    if (filter != nullptr && !Holds(*filter, *block)) continue;
    tiles_.Insert(block->CurrentTile());
    // A block load stops once every whole tile of the rectangle is present.
    if (filter != nullptr && static_cast<std::int64_t>(tiles_.size()) == filter->expected) break;
  }
  tiles_.IndexLevels();
  return Status::Ok();
}

Status TileIndex::ReadEntries(CFileOperationTool& reader, CZTXDataHeader& header,
                              HeaderLayout layout, std::int64_t fileSize, ByteBuffer& buffer) {
  // The raw marker, without the header's normalisation: its 0x400 bit says
  // whether the index is zlib-compressed.
  ByteBuffer markerBytes;
  std::uint32_t marker = 0;
  if (!reader.Read(0, 4, &markerBytes) || !markerBytes.TakeU32(marker)) {
    return TakeNotedFailure(Status::IoError("cannot read the marker"));
  }
  const std::int64_t count = header.GetTileCount();
  const std::int64_t indexOffset = header.GetIndexOffset();
  if (count < 0 || indexOffset < 0) return DamagedIndex();
  if ((marker & kCompressedIndexBits) == kCompressedIndexBits) {
    return ReadCompressed(reader, layout, count, indexOffset, fileSize, buffer);
  }
  return ReadPlain(reader, layout, count, indexOffset, fileSize, buffer);
}

Status TileIndex::ReadPlain(CFileOperationTool& reader, HeaderLayout layout, std::int64_t count,
                            std::int64_t indexOffset, std::int64_t fileSize, ByteBuffer& buffer) {
  if (count == 0) return Status::Ok();
  const std::int64_t bytes = count * EntryBytesOf(layout);
  std::int64_t end = 0;
  if (bytes > std::numeric_limits<int>::max() || !CheckedEnd(indexOffset, bytes, end)) {
    return DamagedIndex();
  }
  if (fileSize >= 0 && end > fileSize) return TruncatedAt(fileSize);
  if (!reader.Read(static_cast<std::uint64_t>(indexOffset), static_cast<int>(bytes), &buffer)) {
    return TakeNotedFailure(Status::IoError("cannot read the tile index"));
  }
  return buffer.Filled() == static_cast<std::size_t>(bytes) ? Status::Ok() : DamagedIndex();
}

Status TileIndex::ReadCompressed(CFileOperationTool& reader, HeaderLayout layout,
                                 std::int64_t count, std::int64_t indexOffset,
                                 std::int64_t fileSize, ByteBuffer& buffer) {
  // Compression keeps 64-byte entries only; a 1.0 index cannot be stored so.
  if (EntryBytesOf(layout) != kEntryBytes) return DamagedIndex();
  ByteBuffer lengthBytes;
  std::uint32_t stored = 0;
  if (!reader.Read(static_cast<std::uint64_t>(indexOffset), 4, &lengthBytes) ||
      !lengthBytes.TakeU32(stored)) {
    return TakeNotedFailure(DamagedIndex());
  }
  if (count == 0) return Status::Ok();
  const std::int64_t compressedLength = stored;
  const std::int64_t expanded = count * kEntryBytes;
  std::int64_t end = 0;
  if (compressedLength == 0 || compressedLength > std::numeric_limits<int>::max() ||
      !CheckedEnd(indexOffset, 4 + compressedLength, end)) {
    return DamagedIndex();
  }
  if (fileSize >= 0 && end > fileSize) return TruncatedAt(fileSize);
  // zlib neither expands by more than its ratio limit nor stores more than
  // compressBound of what it packed.
  if (expanded > static_cast<std::int64_t>(kMaxBufferBytes) ||
      expanded > compressedLength * kMaxInflateRatio + 64 ||
      compressedLength > static_cast<std::int64_t>(compressBound(static_cast<uLong>(expanded)))) {
    return DamagedIndex();
  }
  ByteBuffer compressed;
  if (!reader.Read(static_cast<std::uint64_t>(indexOffset) + 4, static_cast<int>(compressedLength),
                   &compressed) ||
      compressed.Filled() != static_cast<std::size_t>(compressedLength)) {
    return TakeNotedFailure(Status::IoError("cannot read the tile index"));
  }
  std::unique_ptr<unsigned char[]> entries(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(expanded)]);
  if (entries == nullptr) return Status::TooLarge("the tile index is over the memory budget");
  uLongf produced = static_cast<uLongf>(expanded);
  const int result = uncompress(entries.get(), &produced, compressed.Storage(),
                                static_cast<uLong>(compressedLength));
  // Anything but exactly tileCount entries is a damaged index.
  if (result != Z_OK || static_cast<std::int64_t>(produced) != expanded) return DamagedIndex();
  buffer.Attach(entries.release(), static_cast<std::size_t>(expanded));
  return Status::Ok();
}

float TileIndex::SourceScale(CZTXDataHeader* header, float scale) {
  if (header == nullptr) return 0.0f;
  return SelectSourceScale(static_cast<float>(header->GetScanScale()),
                           header->GetIntItem(kLevelModeItem), scale);
}

bool TileIndex::IsUnstoredLevel(CZTXDataHeader* header, float scale) {
  if (header == nullptr || !IsUsableScale(scale)) return false;
  const float scanScale = static_cast<float>(header->GetScanScale());
  if (scanScale <= 0.0f) return false;
  const float ratio = scale / scanScale;
  const int mode = header->GetIntItem(kLevelModeItem);
  if (mode == 1) return ratio == 0.5f || ratio == 0.125f;
  if (mode == 2) return ratio == 0.5f || ratio == 0.25f || ratio == 0.125f;
  return false;
}

}  // namespace strata::ztx
