// A DICOM data set as the parser leaves it: its elements in file order,
// each with its value bytes (little endian, as stored) or its sequence
// items. Values too large to keep are marked skipped and hold no bytes.
// Lookups read values leniently: a missing or malformed value is "absent",
// never a fault; the reader decides what absence means.
#ifndef STRATA_DICOM_DICOM_DATASET_H_
#define STRATA_DICOM_DICOM_DATASET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "strata/dicom/dicom_dictionary.h"

namespace strata::dicom {

class DataSet;

struct Element {
  Tag tag = 0;
  Vr vr = 0;
  std::uint64_t offset = 0;    // where the value starts in the file
  std::uint64_t length = 0;    // the value's length as stored
  std::string value;           // the value's bytes; empty for sequences
  bool skipped = false;        // too large to keep: no bytes, read them at offset
  std::vector<DataSet> items;  // a sequence's items
};

class DataSet {
 public:
  // The first element with this tag, or null.
  const Element* Find(Tag tag) const;
  // Item `index` of the sequence `tag`, or null.
  const DataSet* Item(Tag tag, std::size_t index) const;

  // The values of a text element, split at backslashes, without the
  // padding spaces and zero bytes around them; empty when absent.
  std::vector<std::string> Texts(Tag tag) const;
  // The first of those values; "" when absent.
  std::string Text(Tag tag) const;
  // The first value as a number, whether stored as text (IS, DS) or in
  // binary (US, UL, SS, SL, FL, FD); false when absent or not a number.
  bool Number(Tag tag, double* value) const;
  // The first value as a whole number; false when absent, not whole, or
  // out of the 64-bit range.
  bool Integer(Tag tag, std::int64_t* value) const;

  std::vector<Element>& elements() { return elements_; }
  const std::vector<Element>& elements() const { return elements_; }

 private:
  std::vector<Element> elements_;
};

// The values of an element as text: text values split at backslashes and
// trimmed, binary numbers (US, SS, UL, SL, FL, FD, AT, SV, UV) in decimal
// ("(0048,021F)" for AT). Empty for sequences, skipped and opaque values.
std::vector<std::string> ValuesAsText(const Element& element);

// True for representations holding text.
bool IsTextVr(Vr vr);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_DATASET_H_
