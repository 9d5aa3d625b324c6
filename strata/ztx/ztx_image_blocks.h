// The section records of a ZTX file's associated images (label, preview,
// thumbnail): a 52-byte record at the section position giving the image's
// presence, pixel size, stream length and stream position relative to the
// section. Version 1.0 records keep a 32-bit position; 1.1 and later a 64-bit
// one. Version 1.0 files have no thumbnail section.
#ifndef STRATA_ZTX_ZTX_IMAGE_BLOCKS_H_
#define STRATA_ZTX_ZTX_IMAGE_BLOCKS_H_

#include <cstdint>

#include "strata/model/base_data.h"
#include "strata/ztx/ztx_format.h"

namespace strata::ztx {

// The decoded fields of one section record.
struct SectionRecord {
  std::int32_t presence = 0;
  std::int32_t height = 0;
  std::int32_t width = 0;
  std::int32_t length = 0;
  std::int64_t offset = 0;
};

// Reads the record at `position` through `reader`; false for a position of 0
// or less, a failed read or a record cut short by the end of the file.
bool LoadSectionRecord(CFileOperationTool* reader, std::int64_t position, bool widePosition,
                       SectionRecord& record);

}  // namespace strata::ztx

// One section record on top of the model's type for that image (`Image`).
// LoadRecord reads the 1.0 form; the ...1100 classes read the wide one.
template <typename Image>
class CZTXSectionBlock : public Image {
 public:
  int LoadRecord() override { return Load(false); }

  virtual void SetSectionPos(std::int64_t position) { sectionPos_ = position; }
  virtual int GetImageHeight() { return record_.height; }
  virtual int GetImageLength() { return record_.length; }
  virtual int GetPresence() { return record_.presence; }
  virtual std::int64_t GetImageOffset() { return record_.offset; }
  virtual int GetImageWidth() { return record_.width; }

 protected:
  int Load(bool widePosition) {
    return strata::ztx::LoadSectionRecord(this->reader_, sectionPos_, widePosition, record_) ? 0
                                                                                             : -1;
  }

  std::int64_t sectionPos_ = 0;
  strata::ztx::SectionRecord record_;
};

// The 1.1 to 2.0 form of a section record class: 64-bit stream position.
template <typename Narrow>
class CZTXWideSectionBlock : public Narrow {
 public:
  int LoadRecord() override { return this->Load(true); }
};

class CZTXLabelDataBlock : public CZTXSectionBlock<CLabelDataBlock> {};
class CZTXLabelDataBlock1100 : public CZTXWideSectionBlock<CZTXLabelDataBlock> {};

class CZTXPreViewDataBlock : public CZTXSectionBlock<CPreViewDataBlock> {};
class CZTXPreViewDataBlock1100 : public CZTXWideSectionBlock<CZTXPreViewDataBlock> {};

// A version 1.0 file has no thumbnail section: the record reads nothing (-1)
// and reports 0 for every field.
class CZTXThumDataBlock : public CZTXSectionBlock<CThumDataBlock> {
 public:
  int LoadRecord() override { return -1; }
};
class CZTXThumDataBlock1100 : public CZTXWideSectionBlock<CZTXThumDataBlock> {};

#endif  // STRATA_ZTX_ZTX_IMAGE_BLOCKS_H_
