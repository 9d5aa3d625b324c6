#include "strata/ztx/ztx_data_item.h"

#include <cstring>
#include <new>

CZTXDataItem::~CZTXDataItem() = default;

int CZTXDataItem::LoadItem(ByteBuffer& buffer) {
  if (!buffer.TakeI32(identifier_) || !buffer.TakeI32(length_)) return -1;
  if (length_ < 0 || static_cast<std::size_t>(length_) > buffer.Remaining()) {
    length_ = 0;
    return -1;
  }
  // A reloaded item may be longer than before: never reuse the old value.
  value_.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(length_) + 1]());
  if (value_ == nullptr) {
    length_ = 0;
    return -1;
  }
  return ReadItems(value_.get(), 1, static_cast<std::size_t>(length_), buffer) ? 0 : -1;
}

void CZTXDataItem::SetValue(int identifier, const void* bytes, int length) {
  identifier_ = identifier;
  length_ = length < 0 ? 0 : length;
  value_ = std::make_unique<unsigned char[]>(static_cast<std::size_t>(length_) + 1);
  if (bytes != nullptr && length_ > 0) {
    std::memcpy(value_.get(), bytes, static_cast<std::size_t>(length_));
  }
}
