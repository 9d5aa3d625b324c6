#include "strata/ztx/ztx_header.h"

#include <cstring>
#include <new>

#include "strata/model/file_operation_tool.h"

namespace {

using strata::ztx::HeaderLayout;

// Items are a few short texts and numbers. When the reader cannot tell the
// file size (HTTP), a larger area is a damaged header, not a reason to fetch
// up to 2 GiB.
constexpr std::int32_t kMaxUnsizedPropertyArea = 16 << 20;

// A field of 4 or 8 bytes at `offset`; a field the layout lacks (-1) is left
// as it is.
bool TakeFieldAt(ByteBuffer& buffer, int offset, int bytes, std::int64_t& value) {
  if (offset < 0) return true;
  if (!buffer.SkipTo(static_cast<std::size_t>(offset))) return false;
  return bytes == 8 ? buffer.TakeI64(value) : buffer.TakeI32AsI64(value);
}

bool TakeI32At(ByteBuffer& buffer, int offset, std::int32_t& value) {
  return offset < 0 || (buffer.SkipTo(static_cast<std::size_t>(offset)) && buffer.TakeI32(value));
}

}  // namespace

// ---------------------------------------------------------------- 1.0

CZTXDataHeader::~CZTXDataHeader() = default;

bool CZTXDataHeader::TakeIdentity(ByteBuffer& buffer, bool acceptLongMagic) {
  if (reader_ == nullptr || !reader_->Read(0, strata::ztx::kHeaderReadBytes, &buffer)) {
    return false;
  }
  if (buffer.Filled() < static_cast<std::size_t>(strata::ztx::kZtxHeaderBytes)) return false;
  strata::ztx::NormaliseMarker(buffer.Peek(4));
  if (!buffer.TakeU32(marker_) || marker_ != strata::ztx::kZtxMarker) return false;
  if (!ReadItems(magic_, 1, 8, buffer)) return false;
  const bool shortMagic = std::memcmp(magic_, "ZTX\0", 4) == 0;
  const bool longMagic = acceptLongMagic && std::memcmp(magic_, "ZTXL\0", 5) == 0;
  if (!shortMagic && !longMagic) return false;
  return buffer.TakeF32(version_);
}

bool CZTXDataHeader::TakeCommonFields(ByteBuffer& buffer) {
  return buffer.TakeI32(tileCount_) && buffer.TakeI32(height_) && buffer.TakeI32(width_) &&
         buffer.TakeI32(scanScale_) && ReadItems(imageFormat_, 1, 8, buffer);
}

bool CZTXDataHeader::TakeLayoutFields(ByteBuffer& buffer, HeaderLayout layout) {
  const strata::ztx::HeaderFieldOffsets& at = strata::ztx::FieldOffsetsOf(layout);
  std::int64_t spendTime = spendTime_;
  const bool ok = TakeFieldAt(buffer, at.spendTime, 4, spendTime) &&
                  TakeFieldAt(buffer, at.scanTime, at.scanTimeBytes, scanTime_) &&
                  TakeI32At(buffer, at.previewOffset, previewOffset_) &&
                  TakeI32At(buffer, at.labelOffset, labelOffset_) &&
                  TakeFieldAt(buffer, at.thumbnailOffset, at.positionBytes, thumbnailOffset_) &&
                  TakeFieldAt(buffer, at.indexOffset, at.positionBytes, indexOffset_) &&
                  buffer.SkipTo(static_cast<std::size_t>(at.captureResolution)) &&
                  buffer.TakeF32(captureResolution_) &&
                  TakeI32At(buffer, at.blockSize, blockSize_) &&
                  buffer.SkipTo(strata::ztx::kZtxHeaderBytes);
  spendTime_ = static_cast<std::uint32_t>(spendTime);
  return ok;
}

int CZTXDataHeader::LoadRecord() {
  ByteBuffer buffer;
  if (!TakeIdentity(buffer, false)) return -1;
  const float margin = 1.0f - version_;
  if (static_cast<double>(margin) < -0.0001) return -1;
  const bool ok = TakeCommonFields(buffer) && TakeLayoutFields(buffer, HeaderLayout::k1000);
  return ok ? 0 : -1;
}

int CZTXDataHeader::LoadPropertyArea() {
  if (previewOffset_ < strata::ztx::kSmallestPreviewOffset) return -1;
  const std::int64_t fileSize = reader_->Size();
  if (fileSize >= 0 && previewOffset_ > fileSize) return -1;
  const int areaBytes = previewOffset_ - strata::ztx::kZtxHeaderBytes;
  if (fileSize < 0 && areaBytes > kMaxUnsizedPropertyArea) return -1;
  ByteBuffer area;
  if (!reader_->Read(strata::ztx::kZtxHeaderBytes, areaBytes, &area)) return -1;
  std::int32_t count = 0;
  if (!area.TakeI32(count)) return -1;
  // A reload replaces the items of an earlier one.
  items_.clear();
  for (std::int32_t index = 0; index < count; ++index) {
    std::unique_ptr<CZTXDataItem> item(new (std::nothrow) CZTXDataItem());
    if (item == nullptr || item->LoadItem(area) != 0) return -1;
    AppendItem(std::move(item));
  }
  return 0;
}

CZTXDataItem* CZTXDataHeader::FindItem(int identifier) {
  for (const auto& item : items_) {
    if (item->GetIdentifier() == identifier) return item.get();
  }
  return nullptr;
}

bool CZTXDataHeader::ItemWord(int identifier, unsigned char word[4]) {
  std::memset(word, 0, 4);
  CZTXDataItem* item = FindItem(identifier);
  if (item == nullptr || item->GetValue() == nullptr) return false;
  const int available = item->GetLength() < 4 ? item->GetLength() : 4;
  if (available > 0) std::memcpy(word, item->GetValue(), static_cast<std::size_t>(available));
  return true;
}

int CZTXDataHeader::GetIntItem(int identifier) {
  unsigned char word[4];
  if (!ItemWord(identifier, word)) return 0;
  return static_cast<int>(LoadLittleEndian32(word));
}

float CZTXDataHeader::GetFloatItem(int identifier) {
  unsigned char word[4];
  if (!ItemWord(identifier, word)) return 0.0f;
  float value = 0.0f;
  std::memcpy(&value, word, 4);
  return value;
}

const char* CZTXDataHeader::GetTextItem(int identifier) {
  CZTXDataItem* item = FindItem(identifier);
  if (item == nullptr || item->GetValue() == nullptr) return "";
  return reinterpret_cast<const char*>(item->GetValue());
}

void CZTXDataHeader::SetSlideFacts(int height, int width, int scanScale, float captureResolution) {
  height_ = height;
  width_ = width;
  scanScale_ = scanScale;
  captureResolution_ = captureResolution;
}

int CZTXDataHeader::GetWidth() { return width_; }
int CZTXDataHeader::GetHeight() { return height_; }
int CZTXDataHeader::GetScanScale() { return scanScale_; }
int CZTXDataHeader::GetSpendTime() { return 0; }
std::int64_t CZTXDataHeader::GetScanTime() { return scanTime_; }
float CZTXDataHeader::GetCaptureResolution() { return captureResolution_; }
float CZTXDataHeader::GetVersion() { return version_; }
// Version 1.0 tiles are always 256 pixels square.
int CZTXDataHeader::GetBlockSize() { return 256; }
int CZTXDataHeader::GetTileCount() { return tileCount_; }
void CZTXDataHeader::SetTileCount(int count) { tileCount_ = count; }
int CZTXDataHeader::GetPreviewPos() { return GetPreviewOffset(); }
int CZTXDataHeader::GetLabelPos() { return GetLabelOffset(); }
std::int64_t CZTXDataHeader::GetIndexOffset() { return indexOffset_; }
bool CZTXDataHeader::GetExtraTextA(char*) { return false; }
bool CZTXDataHeader::GetExtraTextB(char*) { return false; }
void CZTXDataHeader::SetExtraTextA(const char*) {}
void CZTXDataHeader::SetExtraTextB(const char*) {}
int CZTXDataHeader::GetLabelOffset() { return labelOffset_; }
int CZTXDataHeader::GetPreviewOffset() { return previewOffset_; }
std::int64_t CZTXDataHeader::GetThumbnailOffset() { return 0; }
const char* CZTXDataHeader::GetImageFormat() { return imageFormat_; }
std::uint32_t CZTXDataHeader::GetScanDuration() { return 0; }

// ---------------------------------------------------------------- 1.1

CZTXDataHeader1100::~CZTXDataHeader1100() = default;

int CZTXDataHeader1100::LoadRecord() {
  ByteBuffer buffer;
  if (!TakeIdentity(buffer, false)) return -1;
  if (1.1f - version_ < -0.000001f) return -1;
  const bool ok = TakeCommonFields(buffer) && TakeLayoutFields(buffer, HeaderLayout::k1100);
  return ok ? 0 : -1;
}

std::int64_t CZTXDataHeader1100::GetScanTime() { return 0; }
int CZTXDataHeader1100::GetBlockSize() { return blockSize_; }
std::int64_t CZTXDataHeader1100::GetThumbnailOffset() { return thumbnailOffset_; }
std::int64_t CZTXDataHeader1100::GetThumbnailPos() { return GetThumbnailOffset(); }
void CZTXDataHeader1100::SetBlockSize(int size) { blockSize_ = size; }

// ---------------------------------------------------------------- 1.2

CZTXDataHeader1200::~CZTXDataHeader1200() = default;

int CZTXDataHeader1200::LoadRecord() {
  ByteBuffer buffer;
  if (!TakeIdentity(buffer, false)) return -1;
  if (1.2f - version_ < -0.000001f) return -1;
  if (!TakeCommonFields(buffer) || !TakeLayoutFields(buffer, HeaderLayout::k1200)) return -1;
  buffer.Release();
  return LoadPropertyArea();
}

int CZTXDataHeader1200::GetSpendTime() { return static_cast<int>(spendTime_); }
std::int64_t CZTXDataHeader1200::GetScanTime() { return scanTime_; }
std::uint32_t CZTXDataHeader1200::GetScanDuration() { return spendTime_; }
void CZTXDataHeader1200::SetScanTime(std::int64_t seconds) { scanTime_ = seconds; }
void CZTXDataHeader1200::SetSpendTime(int milliseconds) {
  spendTime_ = static_cast<std::uint32_t>(milliseconds);
}

bool CZTXDataHeader1200::CopyText(const std::unique_ptr<char[]>& text, char* dst) {
  if (text == nullptr || dst == nullptr) return false;
  std::memcpy(dst, text.get(), std::strlen(text.get()));
  return true;
}

void CZTXDataHeader1200::StoreText(std::unique_ptr<char[]>& text, const char* value) {
  if (value == nullptr) return;
  const std::size_t length = std::strlen(value);
  std::unique_ptr<char[]> copy(new char[length + 1]());
  std::memcpy(copy.get(), value, length);
  text = std::move(copy);
}

bool CZTXDataHeader1200::GetExtraTextA(char* dst) { return CopyText(extraTextA_, dst); }
bool CZTXDataHeader1200::GetExtraTextB(char* dst) { return CopyText(extraTextB_, dst); }
void CZTXDataHeader1200::SetExtraTextA(const char* text) { StoreText(extraTextA_, text); }
void CZTXDataHeader1200::SetExtraTextB(const char* text) { StoreText(extraTextB_, text); }

// ---------------------------------------------------------------- 1.3 to 2.0

CZTXDataHeader1300::~CZTXDataHeader1300() = default;

int CZTXDataHeader1300::LoadRecord() {
  ByteBuffer buffer;
  if (!TakeIdentity(buffer, true)) return -1;
  if (!TakeCommonFields(buffer) || !TakeLayoutFields(buffer, HeaderLayout::k1300)) return -1;
  buffer.Release();
  return LoadPropertyArea();
}
