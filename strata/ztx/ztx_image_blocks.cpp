#include "strata/ztx/ztx_image_blocks.h"

#include "strata/model/file_operation_tool.h"

namespace strata::ztx {

bool LoadSectionRecord(CFileOperationTool* reader, std::int64_t position, bool widePosition,
                       SectionRecord& record) {
  if (reader == nullptr || position <= 0) return false;
  ByteBuffer buffer;
  if (!reader->Read(static_cast<std::uint64_t>(position), kSectionReadBytes, &buffer)) {
    return false;
  }
  SectionRecord taken;
  const bool ok =
      buffer.Skip(4) && buffer.TakeI32(taken.presence) && buffer.TakeI32(taken.height) &&
      buffer.TakeI32(taken.width) && buffer.SkipTo(kSectionLengthField) &&
      buffer.TakeI32(taken.length) &&
      (widePosition ? buffer.TakeI64(taken.offset) : buffer.TakeI32AsI64(taken.offset)) &&
      buffer.SkipTo(kSectionRecordBytes);
  if (!ok) return false;
  record = taken;
  return true;
}

}  // namespace strata::ztx
