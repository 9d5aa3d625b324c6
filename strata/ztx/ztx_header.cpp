#include "strata/ztx/ztx_header.h"

#include <cmath>
#include <cstring>
#include <new>

#include "strata/model/file_operation_tool.h"

namespace strata::ztx {

bool SameVersion(float version, float constant) {
  const float difference = version - constant;
  return std::fabs(difference) < 0.000001f;
}

void NormaliseMarker(unsigned char* marker) {
  if (marker == nullptr) return;
  std::uint32_t value = 0;
  std::memcpy(&value, marker, 4);
  if ((value & kZtxMarker) == kZtxMarker) {
    value = kZtxMarker;
    std::memcpy(marker, &value, 4);
  }
}

}  // namespace strata::ztx

namespace {

// The header read takes a fixed 1024 bytes; a short file simply delivers less
// and the takes past the delivered bytes fail.
constexpr int kHeaderReadBytes = 1024;
// The property area holds at least the item count.
constexpr std::int32_t kSmallestPreviewOffset = 100;
// Items are a few short texts and numbers. When the reader cannot tell the
// file size (HTTP), a larger area is a damaged header, not a reason to fetch
// up to 2 GiB.
constexpr std::int32_t kMaxUnsizedPropertyArea = 16 << 20;

bool Skip(ByteBuffer& buffer, std::size_t bytes) { return buffer.Take(1, bytes) != nullptr; }

bool TakeI32(ByteBuffer& buffer, std::int32_t& value) {
  return CBaseData::ReadItems(&value, 4, 1, buffer);
}

bool TakeI32AsI64(ByteBuffer& buffer, std::int64_t& value) {
  std::int32_t narrow = 0;
  if (!TakeI32(buffer, narrow)) return false;
  value = narrow;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- 1.0

CZTXDataHeader::~CZTXDataHeader() = default;

bool CZTXDataHeader::TakeIdentity(ByteBuffer& buffer, bool acceptLongMagic) {
  if (reader_ == nullptr || !reader_->Read(0, kHeaderReadBytes, &buffer)) return false;
  if (buffer.Filled() < static_cast<std::size_t>(strata::ztx::kZtxHeaderBytes)) return false;
  strata::ztx::NormaliseMarker(buffer.Peek(4));
  if (!ReadItems(&marker_, 4, 1, buffer) || marker_ != strata::ztx::kZtxMarker) return false;
  if (!ReadItems(magic_, 1, 8, buffer)) return false;
  const bool shortMagic = std::memcmp(magic_, "ZTX\0", 4) == 0;
  const bool longMagic = acceptLongMagic && std::memcmp(magic_, "ZTXL\0", 5) == 0;
  if (!shortMagic && !longMagic) return false;
  return ReadItems(&version_, 4, 1, buffer);
}

bool CZTXDataHeader::TakeCommonFields(ByteBuffer& buffer) {
  return TakeI32(buffer, tileCount_) && TakeI32(buffer, height_) && TakeI32(buffer, width_) &&
         TakeI32(buffer, scanScale_) && ReadItems(imageFormat_, 1, 8, buffer);
}

int CZTXDataHeader::LoadRecord() {
  ByteBuffer buffer;
  if (!TakeIdentity(buffer, false)) return -1;
  const float margin = 1.0f - version_;
  if (static_cast<double>(margin) < -0.0001) return -1;
  if (!TakeCommonFields(buffer)) return -1;
  const bool ok = Skip(buffer, 8) && TakeI32AsI64(buffer, scanTime_) && Skip(buffer, 8) &&
                  TakeI32(buffer, previewOffset_) && TakeI32(buffer, labelOffset_) &&
                  TakeI32AsI64(buffer, indexOffset_) &&
                  ReadItems(&captureResolution_, 4, 1, buffer) && Skip(buffer, 20);
  return ok ? 0 : -1;
}

int CZTXDataHeader::LoadPropertyArea() {
  if (previewOffset_ < kSmallestPreviewOffset) return -1;
  const std::int64_t fileSize = reader_->Size();
  if (fileSize >= 0 && previewOffset_ > fileSize) return -1;
  const int areaBytes = previewOffset_ - strata::ztx::kZtxHeaderBytes;
  if (fileSize < 0 && areaBytes > kMaxUnsizedPropertyArea) return -1;
  ByteBuffer area;
  if (!reader_->Read(strata::ztx::kZtxHeaderBytes, areaBytes, &area)) return -1;
  std::int32_t count = 0;
  if (!TakeI32(area, count)) return -1;
  // A reload replaces the items of an earlier one.
  for (CZTXDataItem* item : items_) delete item;
  items_.clear();
  for (std::int32_t index = 0; index < count; ++index) {
    std::unique_ptr<CZTXDataItem> item(new (std::nothrow) CZTXDataItem());
    if (item == nullptr || item->LoadItem(area) != 0) return -1;
    AppendItem(item.release());
  }
  return 0;
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
  const std::uint32_t value = static_cast<std::uint32_t>(word[0]) |
                              (static_cast<std::uint32_t>(word[1]) << 8) |
                              (static_cast<std::uint32_t>(word[2]) << 16) |
                              (static_cast<std::uint32_t>(word[3]) << 24);
  return static_cast<int>(value);
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

void CZTXDataHeader::SetSlideFacts(int height, int width, int scanScale,
                                   float captureResolution) {
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

bool CZTXDataHeader1100::TakeSectionFields1100(ByteBuffer& buffer) {
  return Skip(buffer, 8) && TakeI32(buffer, previewOffset_) && TakeI32(buffer, labelOffset_) &&
         TakeI32AsI64(buffer, thumbnailOffset_) && TakeI32AsI64(buffer, indexOffset_) &&
         ReadItems(&captureResolution_, 4, 1, buffer) && Skip(buffer, 8) &&
         TakeI32(buffer, blockSize_) && Skip(buffer, 4);
}

int CZTXDataHeader1100::LoadRecord() {
  ByteBuffer buffer;
  if (!TakeIdentity(buffer, false)) return -1;
  if (1.1f - version_ < -0.000001f) return -1;
  if (!TakeCommonFields(buffer)) return -1;
  // A 1.1 file keeps a float and a double at 40 and 44 that mean nothing here.
  float unusedFloat = 0.0f;
  double unusedDouble = 0.0;
  const bool ok = ReadItems(&unusedFloat, 4, 1, buffer) &&
                  ReadItems(&unusedDouble, 8, 1, buffer) && TakeSectionFields1100(buffer);
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
  if (!TakeCommonFields(buffer)) return -1;
  const bool ok = ReadItems(&spendTime_, 4, 1, buffer) && ReadItems(&scanTime_, 8, 1, buffer) &&
                  TakeSectionFields1100(buffer);
  if (!ok) return -1;
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
  if (!TakeCommonFields(buffer)) return -1;
  const bool ok = ReadItems(&spendTime_, 4, 1, buffer) && ReadItems(&scanTime_, 8, 1, buffer) &&
                  TakeI32(buffer, previewOffset_) && TakeI32(buffer, labelOffset_) &&
                  ReadItems(&thumbnailOffset_, 8, 1, buffer) &&
                  ReadItems(&indexOffset_, 8, 1, buffer) &&
                  ReadItems(&captureResolution_, 4, 1, buffer) && Skip(buffer, 8) &&
                  TakeI32(buffer, blockSize_) && Skip(buffer, 4);
  if (!ok) return -1;
  buffer.Release();
  return LoadPropertyArea();
}
