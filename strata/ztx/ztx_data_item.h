// One property item of a ZTX header: identifier, length and value bytes.
#ifndef STRATA_ZTX_ZTX_DATA_ITEM_H_
#define STRATA_ZTX_ZTX_DATA_ITEM_H_

#include <memory>

#include "strata/model/base_data.h"

// The value carries one extra zero byte so that it always reads as a text.
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
  const unsigned char* GetValue() const { return value_.get(); }

  // Builds an item in memory (used by writers and tests).
  void SetValue(int identifier, const void* bytes, int length);

 private:
  int identifier_ = 999;
  int length_ = 0;
  std::unique_ptr<unsigned char[]> value_;
};

#endif  // STRATA_ZTX_ZTX_DATA_ITEM_H_
