#include "strata/model/base_data.h"

#include <cstring>

#include "strata/model/header_items.h"

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

CDataHeader::~CDataHeader() = default;

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
const char* CDataHeader::GetMachineSerial() { return GetTextItem(strata::kMachineSerialItem); }
int CDataHeader::GetScanLevelFirst() { return GetIntItem(strata::kScanLevelFirstItem); }
int CDataHeader::GetScanLevelSecond() { return GetIntItem(strata::kScanLevelSecondItem); }
int CDataHeader::GetChannelCount() { return GetIntItem(strata::kChannelCountItem); }
const char* CDataHeader::GetChannelIdentifier(int index) {
  if (index < 0 || index >= strata::kChannelIdentifierItems) return "";
  return GetTextItem(strata::kFirstChannelIdentifierItem + index);
}
