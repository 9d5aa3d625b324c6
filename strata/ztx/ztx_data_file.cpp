#include "strata/ztx/ztx_data_file.h"

#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "strata/model/failure_note.h"
#include "strata/model/file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/model/region_geometry.h"
#include "strata/platform/file_io.h"
#include "strata/ztx/ztx_rewrite_journal.h"

using strata::IsUsableScale;
using strata::Status;
using strata::ztx::HeaderLayout;

namespace {

// Tile edge assumed by a block load when the header names none.
constexpr std::int64_t kDefaultBlockSize = 256;

}  // namespace

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
    return Fail(-1, strata::ztx::TruncatedAt(static_cast<std::int64_t>(buffer.Filled())));
  }
  version_ = version;
  layout_ = strata::ztx::HeaderLayoutOf(version);
  tileEntrySize_ = strata::ztx::EntryBytesOf(layout_);
  store_.Bind(reader_, header_.get(), reader_->Size());
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
  store_.Bind(reader_, header_.get(), store_.FileSize());
  return header_.get();
}

CDataBlock* CZTXDataFile::CreateTileBlock() {
  return strata::ztx::NewForLayout<CZTXDataBlock, CZTXDataBlock1100>(layout_, reader_).release();
}

CLabelDataBlock* CZTXDataFile::GetLabelBlock() { return images_.LabelBlock(layout_, reader_); }

CPreViewDataBlock* CZTXDataFile::GetPreviewBlock() {
  return images_.PreviewBlock(layout_, reader_);
}

CThumDataBlock* CZTXDataFile::GetThumbBlock() { return images_.ThumbnailBlock(layout_, reader_); }

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
  store_.PrefetchHead();
  if (GetHeader() == nullptr) {
    return Fail(-1, Status::Unsupported("unknown ZTX version " + std::to_string(version_)));
  }
  // A header that failed to read fails the load: its fields would otherwise
  // be partly unset.
  if (header_->LoadRecord() == 0) return 0;
  const std::int64_t fileSize = store_.FileSize();
  const bool cut = fileSize >= 0 &&
                   (fileSize < strata::ztx::kZtxHeaderBytes || header_->GetPreviewPos() > fileSize);
  return Fail(-1, cut ? strata::ztx::TruncatedAt(fileSize)
                      : strata::TakeNotedFailure(Status::Damaged("damaged ZTX header")));
}

int CZTXDataFile::LoadSectionRecords() {
  if (header_ == nullptr) return -1;
  return images_.LoadRecords(*header_, layout_, reader_) ? 0 : -1;
}

int CZTXDataFile::LoadIndex(const TileIndex::BlockFilter* filter) {
  if (header_ == nullptr || reader_ == nullptr) return -1;
  const Status loaded = index_.Load(*reader_, *header_, layout_, store_.FileSize(), filter);
  return loaded.ok() ? 0 : Fail(-1, loaded);
}

int CZTXDataFile::LoadFile() {
  try {
    if (LoadHeaderRecord() != 0 || LoadSectionRecords() != 0) return -1;
    return LoadIndex(nullptr);
  } catch (...) {
    return -1;
  }
}

int CZTXDataFile::LoadFileBlock(int left, int top, int right, int bottom, float scale) {
  try {
    if (LoadHeaderRecord() != 0) return -1;
    if (left == 0 && top == 0 && right == 0 && bottom == 0) return 0;
    TileIndex::BlockFilter filter{left, top, right, bottom, scale, 0};
    // Whole tiles of the slide's own size inside the rectangle: counting
    // 256-pixel cells on a slide of other tiles would stop the walk early.
    const std::int64_t block =
        header_->GetBlockSize() > 0 ? header_->GetBlockSize() : kDefaultBlockSize;
    const std::int64_t columns = filter.right / block - (filter.left + block - 1) / block;
    const std::int64_t rows = filter.bottom / block - (filter.top + block - 1) / block;
    filter.expected = columns * rows;
    if (LoadIndex(&filter) != 0) return -1;
    // A block is opened to read its tiles: fetch them ahead together.
    std::vector<const TileInfo*> kept;
    kept.reserve(index_.size());
    for (const TileInfo& tile : index_.Records()) kept.push_back(&tile);
    store_.PrefetchTiles(kept);
    return 0;
  } catch (...) {
    return -1;
  }
}

int CZTXDataFile::CloseFile() {
  if (reader_ != nullptr) reader_->Close();
  return 0;
}

// ---------------------------------------------------------------- tiles

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
    strata::NoteFailure(Status::NotFound("no such tile"));
    length = 0;
    return nullptr;
  }
  if (header_ == nullptr) return nullptr;
  if (!store_.Plausible(*tile)) {
    strata::NoteFailure(Status::Damaged("the tile's stream lies outside the file"));
    length = 0;
    return nullptr;
  }
  length = tile->length;
  // Without a buffer the caller only learns the stored length.
  if (!callerBuffer) return nullptr;
  if (store_.ReadInto(header_->GetIndexOffset(), tile->offset, tile->length, out) != 0) {
    length = 0;
  }
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
    pixels = store_.Decode(*out, length, DecodeLimitsAt(scale, x, y), decodedWidth, decodedHeight);
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

// ---------------------------------------------------------------- associated images

bool CZTXDataFile::GetLabel(unsigned char** data, int& length, int& width, int& height) {
  return images_.Label(header_.get(), store_, data, length, width, height);
}

bool CZTXDataFile::GetPreview(unsigned char** data, int& length, int& width, int& height) {
  return images_.Preview(header_.get(), store_, data, length, width, height);
}

bool CZTXDataFile::SectionImageFromPath(const char* path, ImageGetter get, unsigned char** data,
                                        int& length, int& width, int& height) {
  PathSession session(*this, path);
  return session.opened() && LoadHeaderRecord() == 0 && LoadSectionRecords() == 0 &&
         (this->*get)(data, length, width, height);
}

bool CZTXDataFile::GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                                    int& height) {
  return SectionImageFromPath(path, &CZTXDataFile::GetLabel, data, length, width, height);
}

bool CZTXDataFile::GetPreviewFromPath(const char* path, unsigned char** data, int& length,
                                      int& width, int& height) {
  return SectionImageFromPath(path, &CZTXDataFile::GetPreview, data, length, width, height);
}

bool CZTXDataFile::FallbackThumbnail(unsigned char** data, int& length, int& width, int& height,
                                     bool sizeFromTile) {
  return strata::ztx::AssociatedImages::FallbackThumbnail(
      header_.get(), index_,
      [this](float scale, int x, int y, unsigned char** out, int& bytes) {
        return ReadTileAllocated(scale, x, y, out, bytes);
      },
      data, length, width, height, sizeFromTile);
}

int CZTXDataFile::GetThumbnail(unsigned char** data, int& length, int& width, int& height) {
  const int stored = images_.StoredThumbnail(header_.get(), store_, data, length, width, height);
  if (stored != 0) return stored > 0 ? 1 : 0;
  return FallbackThumbnail(data, length, width, height, false) ? 1 : 0;
}

bool CZTXDataFile::GetThumbnailFromPath(const char* path, unsigned char** data, int& length,
                                        int& width, int& height) {
  {
    PathSession session(*this, path);
    if (!session.opened() || LoadHeaderRecord() != 0 || LoadSectionRecords() != 0) return false;
    const int stored = images_.StoredThumbnail(header_.get(), store_, data, length, width, height);
    if (stored != 0) return stored > 0;
  }
  // No stored thumbnail: load the tile index and fall back to a tile.
  PathSession session(*this, path);
  return session.opened() && LoadFile() == 0 &&
         FallbackThumbnail(data, length, width, height, true);
}

bool CZTXDataFile::GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length,
                                            int& width, int& height) {
  PathSession session(*this, path);
  if (!session.opened() || LoadHeaderRecord() != 0) return false;
  return images_.LoadThumbnailRecord(*header_, layout_, reader_) &&
         images_.StoredThumbnail(header_.get(), store_, data, length, width, height) > 0;
}

// ---------------------------------------------------------------- header facts

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
