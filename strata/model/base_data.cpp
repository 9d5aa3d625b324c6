#include "strata/model/base_data.h"

#include <cstring>
#include <new>

CBaseData::~CBaseData() = default;

int CBaseData::LoadRecord() { return 0; }

bool CBaseData::ReadItems(void* dst, std::size_t size, std::size_t count, ByteBuffer& buffer) {
  const unsigned char* source = buffer.Take(size, count);
  if (source == nullptr) {
    if (dst != nullptr) std::memset(dst, 0, size * count);
    return false;
  }
  if (dst != nullptr && size * count > 0) std::memcpy(dst, source, size * count);
  return true;
}

CZTXDataItem::~CZTXDataItem() { delete[] value_; }

int CZTXDataItem::LoadItem(ByteBuffer& buffer) {
  if (!ReadItems(&identifier_, 4, 1, buffer) || !ReadItems(&length_, 4, 1, buffer)) return -1;
  if (length_ < 0 || static_cast<std::size_t>(length_) > buffer.Remaining()) {
    length_ = 0;
    return -1;
  }
  // A reloaded item may be longer than before: never reuse the old value.
  delete[] value_;
  value_ = new (std::nothrow) unsigned char[static_cast<std::size_t>(length_) + 1];
  if (value_ == nullptr) {
    length_ = 0;
    return -1;
  }
  std::memset(value_, 0, static_cast<std::size_t>(length_) + 1);
  return ReadItems(value_, 1, static_cast<std::size_t>(length_), buffer) ? 0 : -1;
}

void CZTXDataItem::SetValue(int identifier, const void* bytes, int length) {
  delete[] value_;
  identifier_ = identifier;
  length_ = length < 0 ? 0 : length;
  value_ = new unsigned char[static_cast<std::size_t>(length_) + 1]();
  if (bytes != nullptr && length_ > 0) std::memcpy(value_, bytes, static_cast<std::size_t>(length_));
}

CDataHeader::~CDataHeader() {
  for (CZTXDataItem* item : items_) delete item;
  items_.clear();
}

CZTXDataItem* CDataHeader::FindItem(int identifier) {
  for (CZTXDataItem* item : items_) {
    if (item != nullptr && item->GetIdentifier() == identifier) return item;
  }
  return nullptr;
}

int CDataHeader::GetWidth() { return 0; }
int CDataHeader::GetHeight() { return 0; }
int CDataHeader::GetScanScale() { return 0; }
int CDataHeader::GetSpendTime() { return 0; }
std::int64_t CDataHeader::GetScanTime() { return 0; }
float CDataHeader::GetCaptureResolution() { return 0.0f; }
float CDataHeader::GetVersion() { return 0.0f; }
int CDataHeader::GetBlockSize() { return 0; }
int CDataHeader::GetIntItem(int) { return 0; }
const char* CDataHeader::GetTextItem(int) { return ""; }
