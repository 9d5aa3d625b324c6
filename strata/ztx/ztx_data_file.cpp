#include "strata/ztx/ztx_data_file.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "strata/model/failure_note.h"
#include "strata/model/file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/model/region_geometry.h"
#include "strata/platform/file_io.h"
#include "strata/ztx/ztx_region.h"
#include "strata/ztx/ztx_rewrite_journal.h"
#include "strata/ztx/ztx_tile_block.h"
#include "strata/ztx/ztx_tile_pixels.h"

using strata::ztx::HeaderLayout;
using strata::ztx::kCompressedIndexBits;
using strata::ztx::kMaxInflateRatio;

namespace {

// No stored tile comes near this; a larger length is a damaged entry, and
// refusing it spares readers that cannot tell the file size a huge read.
constexpr std::int64_t kMaxTileBytes = 64LL << 20;
// Tile edge assumed by a block load when the header names none.
constexpr std::int64_t kDefaultBlockSize = 256;

using strata::IsUsableScale;
using strata::Status;

Status Truncated(std::int64_t fileSize) {
  return Status::Damaged("ZTX slide truncated at byte " + std::to_string(fileSize));
}

// The record class of a layout: the 1.0 form, the wide form for every later
// layout, none for an unknown version. The new object reads through `reader`.
template <typename Narrow, typename Wide>
std::unique_ptr<Narrow> NewForLayout(HeaderLayout layout, CFileOperationTool* reader) {
  std::unique_ptr<Narrow> made;
  if (layout == HeaderLayout::k1000) {
    made.reset(new (std::nothrow) Narrow());
  } else if (strata::ztx::HasWidePositions(layout)) {
    made.reset(new (std::nothrow) Wide());
  }
  if (made != nullptr) made->SetFileOperationTool(reader);
  return made;
}

bool CheckedEnd(std::int64_t start, std::int64_t length, std::int64_t& end) {
  if (start < 0 || length < 0) return false;
  return !__builtin_add_overflow(start, length, &end);
}

// A tile position is relative to the index and may lie before it; the sum
// must still be a position in the file.
bool CheckedTileStart(std::int64_t indexOffset, std::int64_t offset, std::int64_t& start) {
  return !__builtin_add_overflow(indexOffset, offset, &start) && start >= 0;
}

}  // namespace

// The rectangle and scale of a block load, and how many whole tiles it holds.
struct CZTXDataFile::TileBlockFilter {
  std::int64_t left;
  std::int64_t top;
  std::int64_t right;
  std::int64_t bottom;
  float scale;
  std::int64_t expected;

  bool Holds(CZTXDataBlock& block) const {
    const std::int64_t x = block.GetTileX();
    const std::int64_t y = block.GetTileY();
    return x >= left && y >= top && x + block.GetTileWidth() <= right &&
           y + block.GetTileHeight() <= bottom && block.GetTileScale() == scale;
  }
};

CZTXDataFile::CZTXDataFile() = default;

CZTXDataFile::~CZTXDataFile() = default;

// ---------------------------------------------------------------- probing

int CZTXDataFile::ProbeVersion() {
  if (reader_ == nullptr) return Fail(-1, Status::IoError("cannot read the file"));
  ByteBuffer buffer;
  if (!reader_->Read(0, strata::ztx::kProbeBytes, &buffer)) {
    return Fail(-1, strata::TakeNotedFailure(Status::IoError("cannot read the first bytes")));
  }
  const std::string leading = strata::LeadingBytesText(buffer.Storage(), buffer.Filled());
  strata::ztx::NormaliseMarker(buffer.Peek(4));
  std::uint32_t marker = 0;
  float version = 0.0f;
  if (buffer.Filled() < 4 || !buffer.TakeU32(marker) || marker != strata::ztx::kZtxMarker) {
    return Fail(-1, Status::UnsupportedFormat("not a ZTX slide: " + leading));
  }
  if (buffer.Filled() < 16 || !buffer.Skip(8) || !buffer.TakeF32(version)) {
    return Fail(-1, Truncated(static_cast<std::int64_t>(buffer.Filled())));
  }
  version_ = version;
  layout_ = strata::ztx::HeaderLayoutOf(version);
  tileEntrySize_ = strata::ztx::EntryBytesOf(layout_);
  fileSize_ = reader_->Size();
  return 0;
}

CZTXDataHeader* CZTXDataFile::GetHeader() {
  if (header_ != nullptr) return header_.get();
  switch (layout_) {
    case HeaderLayout::k1000: header_.reset(new (std::nothrow) CZTXDataHeader()); break;
    case HeaderLayout::k1100: header_.reset(new (std::nothrow) CZTXDataHeader1100()); break;
    case HeaderLayout::k1200: header_.reset(new (std::nothrow) CZTXDataHeader1200()); break;
    case HeaderLayout::k1300: header_.reset(new (std::nothrow) CZTXDataHeader1300()); break;
    case HeaderLayout::kUnknown: break;
  }
  if (header_ != nullptr) header_->SetFileOperationTool(reader_);
  return header_.get();
}

CZTXDataBlock* CZTXDataFile::NewTileBlock() const {
  return NewForLayout<CZTXDataBlock, CZTXDataBlock1100>(layout_, reader_).release();
}

CDataBlock* CZTXDataFile::CreateTileBlock() { return NewTileBlock(); }

CLabelDataBlock* CZTXDataFile::GetLabelBlock() {
  if (labelBlock_ == nullptr) {
    labelBlock_ = NewForLayout<CZTXLabelDataBlock, CZTXLabelDataBlock1100>(layout_, reader_);
  }
  return labelBlock_.get();
}

CPreViewDataBlock* CZTXDataFile::GetPreviewBlock() {
  if (previewBlock_ == nullptr) {
    previewBlock_ = NewForLayout<CZTXPreViewDataBlock, CZTXPreViewDataBlock1100>(layout_, reader_);
  }
  return previewBlock_.get();
}

CThumDataBlock* CZTXDataFile::GetThumbBlock() {
  if (thumbBlock_ == nullptr) {
    thumbBlock_ = NewForLayout<CZTXThumDataBlock, CZTXThumDataBlock1100>(layout_, reader_);
  }
  return thumbBlock_.get();
}

// ---------------------------------------------------------------- loading

int CZTXDataFile::LoadHeaderRecord() {
  lastStatus_ = Status::Ok();
  // A rewrite that was interrupted is rolled back before anything is read; a
  // slide that needs it but cannot be written is not opened.
  if (GetPath()[0] != 0 && std::strstr(GetPath(), "http:") == nullptr &&
      strata::ztx::RecoverInterruptedRewrite(GetPath()) == strata::ztx::JournalRecovery::kRefused) {
    return Fail(-1, Status::IoError("an interrupted rewrite cannot be rolled back"));
  }
  if (ProbeVersion() != 0) return -1;
  PrefetchHead();
  if (GetHeader() == nullptr) {
    return Fail(-1, Status::Unsupported("unknown ZTX version " + std::to_string(version_)));
  }
  // A header that failed to read fails the load: its fields would otherwise
  // be partly unset.
  if (header_->LoadRecord() == 0) return 0;
  const bool cut = fileSize_ >= 0 && (fileSize_ < strata::ztx::kZtxHeaderBytes ||
                                      header_->GetPreviewPos() > fileSize_);
  return Fail(-1, cut ? Truncated(fileSize_)
                      : strata::TakeNotedFailure(Status::Damaged("damaged ZTX header")));
}

int CZTXDataFile::LoadSectionRecords() {
  if (header_ == nullptr || GetPreviewBlock() == nullptr) return -1;
  // An absent or damaged image shows later as a failed fetch.
  previewBlock_->SetSectionPos(header_->GetPreviewPos());
  previewBlock_->LoadRecord();
  if (GetLabelBlock() == nullptr) return -1;
  labelBlock_->SetSectionPos(header_->GetLabelPos());
  labelBlock_->LoadRecord();
  if (GetThumbBlock() == nullptr) return -1;
  thumbBlock_->SetSectionPos(header_->GetThumbnailOffset());
  thumbBlock_->LoadRecord();
  return 0;
}

int CZTXDataFile::LoadFile() {
  try {
    if (LoadHeaderRecord() != 0 || LoadSectionRecords() != 0) return -1;
    return FillTileMap(nullptr);
  } catch (...) {
    return -1;
  }
}

int CZTXDataFile::LoadFileBlock(int left, int top, int right, int bottom, float scale) {
  try {
    if (LoadHeaderRecord() != 0) return -1;
    if (left == 0 && top == 0 && right == 0 && bottom == 0) return 0;
    TileBlockFilter filter{left, top, right, bottom, scale, 0};
    // Whole tiles of the slide's own size inside the rectangle: counting
    // 256-pixel cells on a slide of other tiles would stop the walk early.
    const std::int64_t block =
        header_->GetBlockSize() > 0 ? header_->GetBlockSize() : kDefaultBlockSize;
    const std::int64_t columns = filter.right / block - (filter.left + block - 1) / block;
    const std::int64_t rows = filter.bottom / block - (filter.top + block - 1) / block;
    filter.expected = columns * rows;
    if (FillTileMap(&filter) != 0) return -1;
    // A block is opened to read its tiles: fetch them ahead together.
    std::vector<const TileInfo*> kept;
    kept.reserve(tiles_.size());
    for (const TileInfo& tile : tiles_.Records()) kept.push_back(&tile);
    PrefetchTiles(kept);
    return 0;
  } catch (...) {
    return -1;
  }
}

int CZTXDataFile::FillTileMap(const TileBlockFilter* filter) {
  if (header_ == nullptr) return -1;
  std::unique_ptr<CZTXDataBlock> block(NewTileBlock());
  if (block == nullptr) return -1;
  ByteBuffer index;
  if (LoadTileIndex(index) != 0) {
    if (!lastStatus_.ok()) return -1;
    return Fail(-1, strata::TakeNotedFailure(Status::Damaged("damaged tile index")));
  }
  tiles_.Clear();
  const int count = header_->GetTileCount();
  if (filter == nullptr && count > 0) tiles_.Reserve(static_cast<std::size_t>(count));
  for (int entry = 0; entry < count; ++entry) {
    if (block->ReadEntry(&index) != 0) {
      return Fail(-1, Status::Damaged("damaged tile index entry " + std::to_string(entry)));
    }
    if (filter != nullptr && !filter->Holds(*block)) continue;
    tiles_.Insert(block->CurrentTile());
    // A block load stops once every whole tile of the rectangle is present.
    if (filter != nullptr && static_cast<std::int64_t>(tiles_.size()) == filter->expected) break;
  }
  tiles_.IndexLevels();
  return 0;
}

int CZTXDataFile::LoadTileIndex(ByteBuffer& buffer) {
  if (header_ == nullptr || reader_ == nullptr) return -1;
  // The raw marker, without the header's normalisation: its 0x400 bit says
  // whether the index is zlib-compressed.
  ByteBuffer markerBytes;
  std::uint32_t marker = 0;
  if (!reader_->Read(0, 4, &markerBytes) || !markerBytes.TakeU32(marker)) return -1;
  const std::int64_t count = header_->GetTileCount();
  const std::int64_t indexOffset = header_->GetIndexOffset();
  if (count < 0 || indexOffset < 0) return -1;
  if ((marker & kCompressedIndexBits) == kCompressedIndexBits) {
    return LoadCompressedIndex(buffer, count, indexOffset);
  }
  return LoadPlainIndex(buffer, count, indexOffset);
}

int CZTXDataFile::LoadPlainIndex(ByteBuffer& buffer, std::int64_t count, std::int64_t indexOffset) {
  if (tileEntrySize_ != strata::ztx::kEntryBytes1000 &&
      tileEntrySize_ != strata::ztx::kEntryBytes) {
    return -1;
  }
  if (count == 0) return 0;
  const std::int64_t bytes = count * tileEntrySize_;
  std::int64_t end = 0;
  if (bytes > std::numeric_limits<int>::max() || !CheckedEnd(indexOffset, bytes, end)) return -1;
  if (fileSize_ >= 0 && end > fileSize_) return Fail(-1, Truncated(fileSize_));
  if (!reader_->Read(static_cast<std::uint64_t>(indexOffset), static_cast<int>(bytes), &buffer)) {
    return -1;
  }
  return buffer.Filled() == static_cast<std::size_t>(bytes) ? 0 : -1;
}

int CZTXDataFile::LoadCompressedIndex(ByteBuffer& buffer, std::int64_t count,
                                      std::int64_t indexOffset) {
  // Compression keeps 64-byte entries only; a 1.0 index cannot be stored so.
  if (tileEntrySize_ != strata::ztx::kEntryBytes) return -1;
  ByteBuffer lengthBytes;
  std::uint32_t stored = 0;
  if (!reader_->Read(static_cast<std::uint64_t>(indexOffset), 4, &lengthBytes) ||
      !lengthBytes.TakeU32(stored)) {
    return -1;
  }
  if (count == 0) return 0;
  const std::int64_t compressedLength = stored;
  const std::int64_t expanded = count * strata::ztx::kEntryBytes;
  std::int64_t end = 0;
  if (compressedLength == 0 || compressedLength > std::numeric_limits<int>::max() ||
      !CheckedEnd(indexOffset, 4 + compressedLength, end)) {
    return -1;
  }
  if (fileSize_ >= 0 && end > fileSize_) return Fail(-1, Truncated(fileSize_));
  // zlib neither expands by more than its ratio limit nor stores more than
  // compressBound of what it packed.
  if (expanded > static_cast<std::int64_t>(strata::kMaxBufferBytes) ||
      expanded > compressedLength * kMaxInflateRatio + 64 ||
      compressedLength > static_cast<std::int64_t>(compressBound(static_cast<uLong>(expanded)))) {
    return -1;
  }
  ByteBuffer compressed;
  if (!reader_->Read(static_cast<std::uint64_t>(indexOffset) + 4,
                     static_cast<int>(compressedLength), &compressed) ||
      compressed.Filled() != static_cast<std::size_t>(compressedLength)) {
    return -1;
  }
  std::unique_ptr<unsigned char[]> entries(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(expanded)]);
  if (entries == nullptr) return -1;
  uLongf produced = static_cast<uLongf>(expanded);
  const int result = uncompress(entries.get(), &produced, compressed.Storage(),
                                static_cast<uLong>(compressedLength));
  // Anything but exactly tileCount entries is a damaged index.
  if (result != Z_OK || static_cast<std::int64_t>(produced) != expanded) return -1;
  buffer.Attach(entries.release(), static_cast<std::size_t>(expanded));
  return 0;
}

int CZTXDataFile::CloseFile() {
  if (reader_ != nullptr) reader_->Close();
  return 0;
}

// ---------------------------------------------------------------- tiles

float CZTXDataFile::SelectSourceScale(float scale) {
  if (header_ == nullptr) return 0.0f;
  return strata::ztx::SelectSourceScale(static_cast<float>(header_->GetScanScale()),
                                        header_->GetIntItem(strata::ztx::kLevelModeItem), scale);
}

bool CZTXDataFile::IsUnstoredLevel(float scale) {
  if (header_ == nullptr || !IsUsableScale(scale)) return false;
  const float scanScale = static_cast<float>(header_->GetScanScale());
  if (scanScale <= 0.0f) return false;
  const float ratio = scale / scanScale;
  const int mode = header_->GetIntItem(strata::ztx::kLevelModeItem);
  if (mode == 1) return ratio == 0.5f || ratio == 0.125f;
  if (mode == 2) return ratio == 0.5f || ratio == 0.25f || ratio == 0.125f;
  return false;
}

bool CZTXDataFile::ComposeMissingLevelTile(float scale, int x, int y, int& length,
                                           unsigned char** out) {
  if (out == nullptr || !IsUnstoredLevel(scale)) return false;
  return ReadRegion(scale, x, y, strata::ztx::kComposedTileSize, strata::ztx::kComposedTileSize,
                    out, length, true) != 0;
}

bool CZTXDataFile::DeliverComposedTile(float scale, int x, int y, int& length,
                                       unsigned char** out) {
  if (!IsUnstoredLevel(scale)) return false;
  unsigned char* composed = nullptr;
  int composedLength = 0;
  const bool built = ComposeMissingLevelTile(scale, x, y, composedLength, &composed);
  const strata::ztx::PixelBuffer owned(composed);
  length = built && owned != nullptr && composedLength > 0 ? composedLength : 0;
  // Like a stored tile: copied into the caller's buffer, or only measured.
  if (length > 0 && out != nullptr && *out != nullptr) {
    std::memcpy(*out, owned.get(), static_cast<std::size_t>(length));
  }
  return true;
}

strata::ztx::TileLimits CZTXDataFile::DecodeLimitsAt(float scale, int x, int y) {
  if (IsUnstoredLevel(scale)) return strata::ztx::LimitsOfComposedTile();
  const TileInfo* tile = IsUsableScale(scale) ? FindTile(scale, x, y) : nullptr;
  if (tile == nullptr || header_ == nullptr) return strata::ztx::TileLimits{};
  return strata::ztx::LimitsOfStoredTile(*tile, header_->GetBlockSize());
}

bool CZTXDataFile::StoredTilePlausible(const TileInfo& tile) const {
  if (header_ == nullptr || tile.length <= 0 || tile.length > kMaxTileBytes) return false;
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (!CheckedTileStart(header_->GetIndexOffset(), tile.offset, start) ||
      !CheckedEnd(start, tile.length, end)) {
    return false;
  }
  return fileSize_ < 0 || end <= fileSize_;
}

int CZTXDataFile::ReadTileBytes(std::int64_t position, std::int64_t offset, int length,
                                unsigned char** out) {
  if (out == nullptr || *out == nullptr || length <= 0 || reader_ == nullptr) return -1;
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (!CheckedTileStart(position, offset, start) || !CheckedEnd(start, length, end)) return -1;
  // A short read leaves the caller's buffer as it was.
  return reader_->ReadWhole(static_cast<std::uint64_t>(start), static_cast<std::size_t>(length),
                            *out)
             ? 0
             : -1;
}

bool CZTXDataFile::ReadStoredTile(const TileInfo& tile, std::vector<unsigned char>& bytes) {
  if (reader_ == nullptr || !StoredTilePlausible(tile)) return false;
  const std::int64_t start = header_->GetIndexOffset() + tile.offset;
  const std::size_t size = static_cast<std::size_t>(tile.length);
  bytes.resize(size);
  std::size_t delivered = 0;
  return reader_->ReadInto(static_cast<std::uint64_t>(start), size, bytes.data(), delivered) &&
         delivered == size;
}

// Over a remote link the header and section reads that follow the probe then
// cost one request together instead of one each; the probe stays first, so a
// missing slide still fails after a single request.
void CZTXDataFile::PrefetchHead() {
  std::uint64_t bytes = strata::ztx::kHeadReadAheadBytes;
  if (fileSize_ >= 0) bytes = std::min(bytes, static_cast<std::uint64_t>(fileSize_));
  if (bytes > 0) reader_->Prefetch({{0, bytes}});
}

void CZTXDataFile::PrefetchTiles(const std::vector<const TileInfo*>& tiles) {
  if (reader_ == nullptr || header_ == nullptr) return;
  std::vector<ByteRange> ranges;
  ranges.reserve(tiles.size());
  for (const TileInfo* tile : tiles) {
    if (tile == nullptr || !StoredTilePlausible(*tile)) continue;
    ranges.push_back({static_cast<std::uint64_t>(header_->GetIndexOffset() + tile->offset),
                      static_cast<std::uint64_t>(tile->length)});
  }
  if (!ranges.empty()) reader_->Prefetch(ranges);
}

unsigned char* CZTXDataFile::ReadTileStream(float scale, int x, int y, int& length,
                                            unsigned char** out) {
  if (!IsUsableScale(scale)) {
    length = 0;
    return nullptr;
  }
  const bool callerBuffer = out != nullptr && *out != nullptr;
  if (DeliverComposedTile(scale, x, y, length, out)) return nullptr;
  const TileInfo* tile = FindTile(scale, x, y);
  if (tile == nullptr) {
    length = 0;
    return nullptr;
  }
  if (header_ == nullptr) return nullptr;
  if (!StoredTilePlausible(*tile)) {
    length = 0;
    return nullptr;
  }
  length = tile->length;
  // Without a buffer the caller only learns the stored length.
  if (!callerBuffer) return nullptr;
  if (ReadTileBytes(header_->GetIndexOffset(), tile->offset, tile->length, out) != 0) length = 0;
  return nullptr;
}

bool CZTXDataFile::ReadTileAllocated(float scale, int x, int y, unsigned char** out, int& length) {
  unsigned char* composed = nullptr;
  int composedLength = 0;
  if (ComposeMissingLevelTile(scale, x, y, composedLength, &composed)) {
    if (composed == nullptr || composedLength <= 0) {
      strata::ReleaseBuffer(composed);
      return false;
    }
    *out = composed;
    length = composedLength;
    return true;
  }
  strata::ReleaseBuffer(composed);
  const TileInfo* tile = IsUsableScale(scale) ? FindTile(scale, x, y) : nullptr;
  std::vector<unsigned char> bytes;
  if (tile == nullptr || !ReadStoredTile(*tile, bytes)) return false;
  unsigned char* copy = strata::AllocateBuffer(bytes.size());
  if (copy == nullptr) return false;
  std::memcpy(copy, bytes.data(), bytes.size());
  *out = copy;
  length = static_cast<int>(bytes.size());
  return true;
}

unsigned char* CZTXDataFile::ReadTilePixels(float scale, int x, int y, int& length, int& width,
                                            int& height, unsigned char** out) {
  if (out == nullptr) {
    length = width = height = 0;
    return nullptr;
  }
  if (*out != nullptr && !IsUnstoredLevel(scale)) {
    ReadTileStream(scale, x, y, length, out);
  } else {
    // No caller buffer, or a composed tile whose size the caller could not
    // know: the stream is fetched into one of our own, and the caller's
    // buffer is consumed all the same.
    strata::ReleaseBuffer(*out);
    *out = nullptr;
    if (!ReadTileAllocated(scale, x, y, out, length)) length = 0;
  }
  if (header_ == nullptr) return nullptr;
  int decodedWidth = 0;
  int decodedHeight = 0;
  unsigned char* pixels = nullptr;
  if (*out != nullptr && length > 0) {
    pixels =
        DecodeStoredImage(*out, length, DecodeLimitsAt(scale, x, y), decodedWidth, decodedHeight);
  }
  // The stream buffer is consumed: the caller gets the pixels in its place.
  strata::ReleaseBuffer(*out);
  *out = pixels;
  if (pixels == nullptr) decodedWidth = decodedHeight = 0;
  width = decodedWidth;
  height = decodedHeight;
  length = decodedWidth * decodedHeight * 3;
  return nullptr;
}

bool CZTXDataFile::TilesAreBmp() {
  return header_ != nullptr && strata::IsBmpFormatTag(header_->GetImageFormat());
}

unsigned char* CZTXDataFile::DecodeStoredImage(const unsigned char* stream, int length,
                                               const strata::ztx::TileLimits& limits, int& width,
                                               int& height) {
  if (stream == nullptr || length <= 0 || limits.width <= 0 || limits.height <= 0) return nullptr;
  if (TilesAreBmp()) {
    // A BMP's pixels are its stream; only its frame needs checking.
    strata::ztx::PixelBuffer pixels(strata::DecodeBmp24(stream, length, width, height));
    if (pixels != nullptr && (width > limits.width || height > limits.height)) pixels.reset();
    return pixels.release();
  }
  int components = 0;
  unsigned char* decoded = strata::DecodeJpegComponentsWithin(
      stream, length, limits.width, limits.height, width, height, components);
  if (decoded == nullptr || components == 3) return decoded;
  // Callers always receive three channels; a grey stream is widened.
  unsigned char* rgb = components == 1
                           ? strata::InterleavePlanes(decoded, decoded, decoded, width, height)
                           : nullptr;
  strata::ReleaseBuffer(decoded);
  return rgb;
}

bool CZTXDataFile::ReadScanTimeDuration(int& year, int& month, int& day, int& hour, int& minute,
                                        int& second, int& hoursTaken, int& minutesTaken,
                                        int& secondsTaken) {
  if (header_ == nullptr) return false;
  const std::uint32_t duration = header_->GetScanDuration();
  const std::int64_t scanTime = header_->GetScanTime();
  if (duration == 0 || scanTime == 0) return false;
  std::tm local{};
  if (!strata::platform::ToLocalTime(scanTime, local)) return false;
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  hour = local.tm_hour;
  minute = local.tm_min;
  second = local.tm_sec;
  hoursTaken = static_cast<int>(duration / 3600000u);
  minutesTaken = static_cast<int>(duration % 3600000u / 60000u);
  secondsTaken = static_cast<int>(duration % 3600000u % 60000u / 1000u);
  return true;
}
