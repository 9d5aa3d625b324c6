// The slide object model: every format presents its slide, header and records
// through these classes. Virtual operations keep their historical order;
// formats append their own after them.
#ifndef STRATA_MODEL_BASE_DATA_H_
#define STRATA_MODEL_BASE_DATA_H_

#include <cstddef>
#include <cstdint>
#include <vector>

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

// One property item of a header: identifier, length and value bytes. The value
// carries one extra zero byte so that it always reads as a text.
class CZTXDataItem : public CBaseData {
 public:
  CZTXDataItem() = default;
  explicit CZTXDataItem(int identifier) : identifier_(identifier) {}
  ~CZTXDataItem() override;

  // Takes identifier, length and value from the buffer; 0 on success, -1 when
  // the buffer runs out or the length is negative.
  int LoadItem(ByteBuffer& buffer);

  int GetIdentifier() const { return identifier_; }
  int GetLength() const { return length_; }
  // Value bytes followed by a zero byte; null until loaded.
  const unsigned char* GetValue() const { return value_; }

  // Builds an item in memory (used by writers and tests).
  void SetValue(int identifier, const void* bytes, int length);

 private:
  int identifier_ = 999;
  int length_ = 0;
  unsigned char* value_ = nullptr;
};

// The header facts of one slide and its property items, in file order.
class CDataHeader : public CBaseData {
 public:
  CDataHeader() = default;
  ~CDataHeader() override;

  virtual CZTXDataItem* FindItem(int identifier);
  virtual int GetWidth();
  virtual int GetHeight();
  virtual int GetScanScale();
  virtual int GetSpendTime();
  virtual std::int64_t GetScanTime();
  virtual float GetCaptureResolution();
  virtual float GetVersion();
  virtual int GetBlockSize();
  virtual int GetIntItem(int identifier);
  // Never null: "" when the item is unknown.
  virtual const char* GetTextItem(int identifier);

  // The header owns the item.
  void AppendItem(CZTXDataItem* item) { items_.push_back(item); }
  const std::vector<CZTXDataItem*>& Items() const { return items_; }

 protected:
  std::vector<CZTXDataItem*> items_;
};

// One record read from a slide.
class CDataBlock : public CBaseData {};

// Distinct types for the three associated images of a slide.
class CLabelDataBlock : public CDataBlock {};
class CPreViewDataBlock : public CDataBlock {};
class CThumDataBlock : public CDataBlock {};

#endif  // STRATA_MODEL_BASE_DATA_H_
