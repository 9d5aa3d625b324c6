// The section records of a ZTX file's associated images (label, preview,
// thumbnail): a 52-byte record at the section position giving the image's
// presence, pixel size, stream length and stream position relative to the
// section. Version 1.0 records keep a 32-bit position; 1.1 and later a 64-bit
// one. Version 1.0 files have no thumbnail section.
#ifndef STRATA_ZTX_ZTX_IMAGE_BLOCKS_H_
#define STRATA_ZTX_ZTX_IMAGE_BLOCKS_H_

#include <cstdint>

#include "strata/model/base_data.h"

namespace strata::ztx {

constexpr int kSectionRecordBytes = 52;

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

// Label, version 1.0 records.
class CZTXLabelDataBlock : public CLabelDataBlock {
 public:
  CZTXLabelDataBlock() = default;
  ~CZTXLabelDataBlock() override;

  int LoadRecord() override;

  virtual int GetImageHeight();
  virtual int GetImageLength();
  virtual int GetPresence();
  virtual std::int64_t GetImageOffset();
  virtual int GetImageWidth();
  virtual void SetSectionPos(std::int64_t position);

 protected:
  std::int64_t sectionPos_ = 0;
  strata::ztx::SectionRecord record_;
};

// Label, version 1.1 to 2.0 records.
class CZTXLabelDataBlock1100 : public CZTXLabelDataBlock {
 public:
  CZTXLabelDataBlock1100() = default;
  ~CZTXLabelDataBlock1100() override;

  int LoadRecord() override;
};

// Preview, version 1.0 records.
class CZTXPreViewDataBlock : public CPreViewDataBlock {
 public:
  CZTXPreViewDataBlock() = default;
  ~CZTXPreViewDataBlock() override;

  int LoadRecord() override;

  virtual void SetSectionPos(std::int64_t position);
  virtual int GetImageHeight();
  virtual int GetImageLength();
  virtual int GetPresence();
  virtual std::int64_t GetImageOffset();
  virtual int GetImageWidth();

 protected:
  std::int64_t sectionPos_ = 0;
  strata::ztx::SectionRecord record_;
};

// Preview, version 1.1 to 2.0 records.
class CZTXPreViewDataBlock1100 : public CZTXPreViewDataBlock {
 public:
  CZTXPreViewDataBlock1100() = default;
  ~CZTXPreViewDataBlock1100() override;

  int LoadRecord() override;
};

// Thumbnail of a version 1.0 file: there is no section, so it reads nothing
// and reports 0 for every field.
class CZTXThumDataBlock : public CThumDataBlock {
 public:
  CZTXThumDataBlock() = default;
  ~CZTXThumDataBlock() override;

  // -1: a 1.0 file has no thumbnail record.
  int LoadRecord() override;

  virtual void SetSectionPos(std::int64_t position);
  virtual int GetImageHeight();
  virtual int GetImageLength();
  virtual std::int64_t GetImageOffset();
  virtual int GetImageWidth();

 protected:
  std::int64_t sectionPos_ = 0;
  strata::ztx::SectionRecord record_;
};

// Thumbnail, version 1.1 to 2.0 records.
class CZTXThumDataBlock1100 : public CZTXThumDataBlock {
 public:
  CZTXThumDataBlock1100() = default;
  ~CZTXThumDataBlock1100() override;

  int LoadRecord() override;
};

#endif  // STRATA_ZTX_ZTX_IMAGE_BLOCKS_H_
