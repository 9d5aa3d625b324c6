#include "strata/ztx/ztx_image_blocks.h"

#include "strata/model/file_operation_tool.h"

namespace strata::ztx {

namespace {

// A record read takes a fixed 1024 bytes; near the end of a file fewer
// arrive and a take past them fails the record.
constexpr int kSectionReadBytes = 1024;

bool Skip(ByteBuffer& buffer, std::size_t bytes) { return buffer.Take(1, bytes) != nullptr; }

bool TakeI32(ByteBuffer& buffer, std::int32_t& value) {
  return CBaseData::ReadItems(&value, 4, 1, buffer);
}

}  // namespace

bool LoadSectionRecord(CFileOperationTool* reader, std::int64_t position, bool widePosition,
                       SectionRecord& record) {
  if (reader == nullptr || position <= 0) return false;
  ByteBuffer buffer;
  if (!reader->Read(static_cast<std::uint64_t>(position), kSectionReadBytes, &buffer)) {
    return false;
  }
  SectionRecord taken;
  bool ok = Skip(buffer, 4) && TakeI32(buffer, taken.presence) &&
            TakeI32(buffer, taken.height) && TakeI32(buffer, taken.width) && Skip(buffer, 4) &&
            TakeI32(buffer, taken.length);
  if (ok && widePosition) {
    ok = CBaseData::ReadItems(&taken.offset, 8, 1, buffer) && Skip(buffer, 20);
  } else if (ok) {
    std::int32_t offset = 0;
    ok = TakeI32(buffer, offset) && Skip(buffer, 24);
    taken.offset = offset;
  }
  if (!ok) return false;
  record = taken;
  return true;
}

}  // namespace strata::ztx

using strata::ztx::LoadSectionRecord;

// ---------------------------------------------------------------- label

CZTXLabelDataBlock::~CZTXLabelDataBlock() = default;
int CZTXLabelDataBlock::LoadRecord() {
  return LoadSectionRecord(reader_, sectionPos_, false, record_) ? 0 : -1;
}
int CZTXLabelDataBlock::GetImageHeight() { return record_.height; }
int CZTXLabelDataBlock::GetImageLength() { return record_.length; }
int CZTXLabelDataBlock::GetPresence() { return record_.presence; }
std::int64_t CZTXLabelDataBlock::GetImageOffset() { return record_.offset; }
int CZTXLabelDataBlock::GetImageWidth() { return record_.width; }
void CZTXLabelDataBlock::SetSectionPos(std::int64_t position) { sectionPos_ = position; }

CZTXLabelDataBlock1100::~CZTXLabelDataBlock1100() = default;
int CZTXLabelDataBlock1100::LoadRecord() {
  return LoadSectionRecord(reader_, sectionPos_, true, record_) ? 0 : -1;
}

// ---------------------------------------------------------------- preview

CZTXPreViewDataBlock::~CZTXPreViewDataBlock() = default;
int CZTXPreViewDataBlock::LoadRecord() {
  return LoadSectionRecord(reader_, sectionPos_, false, record_) ? 0 : -1;
}
void CZTXPreViewDataBlock::SetSectionPos(std::int64_t position) { sectionPos_ = position; }
int CZTXPreViewDataBlock::GetImageHeight() { return record_.height; }
int CZTXPreViewDataBlock::GetImageLength() { return record_.length; }
int CZTXPreViewDataBlock::GetPresence() { return record_.presence; }
std::int64_t CZTXPreViewDataBlock::GetImageOffset() { return record_.offset; }
int CZTXPreViewDataBlock::GetImageWidth() { return record_.width; }

CZTXPreViewDataBlock1100::~CZTXPreViewDataBlock1100() = default;
int CZTXPreViewDataBlock1100::LoadRecord() {
  return LoadSectionRecord(reader_, sectionPos_, true, record_) ? 0 : -1;
}

// ---------------------------------------------------------------- thumbnail

CZTXThumDataBlock::~CZTXThumDataBlock() = default;
int CZTXThumDataBlock::LoadRecord() { return -1; }
void CZTXThumDataBlock::SetSectionPos(std::int64_t position) { sectionPos_ = position; }
int CZTXThumDataBlock::GetImageHeight() { return record_.height; }
int CZTXThumDataBlock::GetImageLength() { return record_.length; }
std::int64_t CZTXThumDataBlock::GetImageOffset() { return record_.offset; }
int CZTXThumDataBlock::GetImageWidth() { return record_.width; }

CZTXThumDataBlock1100::~CZTXThumDataBlock1100() = default;
int CZTXThumDataBlock1100::LoadRecord() {
  return LoadSectionRecord(reader_, sectionPos_, true, record_) ? 0 : -1;
}
