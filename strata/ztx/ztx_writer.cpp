// Placeholder: the ZTX writer lands here.
#include "strata/ztx/ztx_writer.h"

namespace strata::ztx {

PropertyItem PropertyItem::Text(int identifier, const std::string& text) {
  PropertyItem item;
  item.identifier = identifier;
  item.value.assign(text.begin(), text.end());
  return item;
}

PropertyItem PropertyItem::Int(int identifier, std::int32_t value) {
  PropertyItem item;
  item.identifier = identifier;
  for (int i = 0; i < 4; ++i) item.value.push_back(static_cast<unsigned char>(value >> (8 * i)));
  return item;
}

ZtxWriter::ZtxWriter(ZtxWriterOptions options) : options_(std::move(options)) {}

bool ZtxWriter::Write(const std::string&, int, int, const RowSource&, std::string* error,
                      ZtxLayout*, const ProgressCallback&) {
  if (error != nullptr) *error = "not implemented";
  return false;
}

bool ZtxWriter::WritePixels(const std::string&, int, int, const unsigned char*, std::string* error,
                            ZtxLayout*) {
  if (error != nullptr) *error = "not implemented";
  return false;
}

}  // namespace strata::ztx
