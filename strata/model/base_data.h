// The slide object model: every format presents its slide, header and records
// through these classes; formats append their own virtual operations after
// the ones declared here.
#ifndef STRATA_MODEL_BASE_DATA_H_
#define STRATA_MODEL_BASE_DATA_H_

#include <cstddef>
#include <cstdint>

#include "strata/model/byte_buffer.h"

class CFileOperationTool;

// Root of every slide object: the byte-range reader it reads through. Header
// and block objects borrow the reader of the slide that created them.
class CBaseData {
 public:
  CBaseData() = default;
  virtual ~CBaseData();
  CBaseData(const CBaseData&) = delete;
  CBaseData& operator=(const CBaseData&) = delete;

  // Reads and decodes this object's own record; 0 on success, -1 on failure.
  virtual int LoadRecord();

  void SetFileOperationTool(CFileOperationTool* reader) { reader_ = reader; }
  CFileOperationTool* GetFileOperationTool() const { return reader_; }

  // Copies size * count bytes taken from `buffer` to `dst`. When the buffer
  // does not hold them, `dst` is zero-filled, the buffer is marked failed and
  // the result is false; parsers then fail their record.
  static bool ReadItems(void* dst, std::size_t size, std::size_t count, ByteBuffer& buffer);

 protected:
  CFileOperationTool* reader_ = nullptr;
};

// The header facts of one slide and its property items, in file order.
class CDataHeader : public CBaseData {
 public:
  CDataHeader() = default;
  ~CDataHeader() override;

  virtual int GetWidth();
  virtual int GetHeight();
  virtual int GetScanScale();
  virtual int GetSpendTime();
  virtual std::int64_t GetScanTime();
  virtual float GetCaptureResolution();
  virtual float GetVersion();
  virtual int GetBlockSize();
  // A property item by the format's own identifier; 0 when unknown.
  virtual int GetIntItem(int identifier);
  // Never null: "" when the item is unknown.
  virtual const char* GetTextItem(int identifier);

  // The facts the C interface reports, by name: the items of header_items.h
  // through GetIntItem/GetTextItem, so a format answers them by answering its
  // items. Texts are never null and belong to the header.
  virtual const char* GetMachineSerial();
  virtual int GetScanLevelFirst();
  virtual int GetScanLevelSecond();
  virtual int GetChannelCount();
  // Identifier text of channel `index` (0 to 5).
  virtual const char* GetChannelIdentifier(int index);
};

// One record read from a slide.
class CDataBlock : public CBaseData {};

// Distinct types for the three associated images of a slide.
class CLabelDataBlock : public CDataBlock {};
class CPreViewDataBlock : public CDataBlock {};
class CThumDataBlock : public CDataBlock {};

#endif  // STRATA_MODEL_BASE_DATA_H_
