#include "strata/dicom/dicom_dataset.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace strata::dicom {
namespace {

// Text representations that hold one value even when it contains a
// backslash.
bool IsSingleValuedText(Vr vr) {
  return vr == MakeVr('L', 'T') || vr == MakeVr('S', 'T') || vr == MakeVr('U', 'T') ||
         vr == MakeVr('U', 'R');
}

bool IsPadding(char c) { return c == ' ' || c == '\0' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (end > begin && IsPadding(text[end - 1])) --end;
  while (begin < end && IsPadding(text[begin])) ++begin;
  return text.substr(begin, end - begin);
}

template <typename Value>
Value LoadValue(const unsigned char* bytes) {
  Value value;
  std::memcpy(&value, bytes, sizeof value);  // little endian, as the host
  return value;
}

// The shortest decimal text that reads back as the same value.
template <typename Value>
std::string ShortestText(Value value) {
  char text[48];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (static_cast<Value>(std::strtod(text, nullptr)) == value) break;
  }
  return text;
}

template <typename Value, typename Format>
std::vector<std::string> BinaryValues(const std::string& bytes, Format format) {
  std::vector<std::string> values;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at + sizeof(Value) <= bytes.size(); at += sizeof(Value)) {
    values.push_back(format(LoadValue<Value>(data + at)));
  }
  return values;
}

std::string AttributeTagText(std::uint32_t packed) {
  // Stored as group then element, each little endian.
  char text[16];
  std::snprintf(text, sizeof text, "(%04X,%04X)", static_cast<unsigned>(packed & 0xFFFF),
                static_cast<unsigned>(packed >> 16));
  return text;
}

}  // namespace

bool IsTextVr(Vr vr) {
  switch (vr) {
    case MakeVr('A', 'E'):
    case MakeVr('A', 'S'):
    case MakeVr('C', 'S'):
    case MakeVr('D', 'A'):
    case MakeVr('D', 'S'):
    case MakeVr('D', 'T'):
    case MakeVr('I', 'S'):
    case MakeVr('L', 'O'):
    case MakeVr('L', 'T'):
    case MakeVr('P', 'N'):
    case MakeVr('S', 'H'):
    case MakeVr('S', 'T'):
    case MakeVr('T', 'M'):
    case MakeVr('U', 'C'):
    case MakeVr('U', 'I'):
    case MakeVr('U', 'R'):
    case MakeVr('U', 'T'): return true;
    default: return false;
  }
}

std::vector<std::string> ValuesAsText(const Element& element) {
  if (element.skipped || !element.items.empty()) return {};
  const std::string& bytes = element.value;
  if (IsTextVr(element.vr)) {
    std::vector<std::string> values;
    if (Trimmed(bytes).empty()) return values;
    if (IsSingleValuedText(element.vr)) return {Trimmed(bytes)};
    std::size_t start = 0;
    for (;;) {
      const std::size_t split = bytes.find('\\', start);
      values.push_back(Trimmed(bytes.substr(start, split - start)));
      if (split == std::string::npos) break;
      start = split + 1;
    }
    return values;
  }
  const auto decimal = [](auto value) { return std::to_string(value); };
  switch (element.vr) {
    case MakeVr('U', 'S'): return BinaryValues<std::uint16_t>(bytes, decimal);
    case MakeVr('S', 'S'): return BinaryValues<std::int16_t>(bytes, decimal);
    case MakeVr('U', 'L'): return BinaryValues<std::uint32_t>(bytes, decimal);
    case MakeVr('S', 'L'): return BinaryValues<std::int32_t>(bytes, decimal);
    case MakeVr('U', 'V'): return BinaryValues<std::uint64_t>(bytes, decimal);
    case MakeVr('S', 'V'): return BinaryValues<std::int64_t>(bytes, decimal);
    case MakeVr('F', 'L'):
      return BinaryValues<float>(bytes, [](float v) { return ShortestText(v); });
    case MakeVr('F', 'D'):
      return BinaryValues<double>(bytes, [](double v) { return ShortestText(v); });
    case MakeVr('A', 'T'): return BinaryValues<std::uint32_t>(bytes, AttributeTagText);
    default: return {};
  }
}

const Element* DataSet::Find(Tag tag) const {
  for (const Element& element : elements_) {
    if (element.tag == tag) return &element;
  }
  return nullptr;
}

const DataSet* DataSet::Item(Tag tag, std::size_t index) const {
  const Element* element = Find(tag);
  if (element == nullptr || index >= element->items.size()) return nullptr;
  return &element->items[index];
}

std::vector<std::string> DataSet::Texts(Tag tag) const {
  const Element* element = Find(tag);
  return element == nullptr ? std::vector<std::string>{} : ValuesAsText(*element);
}

std::string DataSet::Text(Tag tag) const {
  const std::vector<std::string> values = Texts(tag);
  return values.empty() ? std::string() : values.front();
}

bool DataSet::Number(Tag tag, double* value) const {
  const std::string text = Text(tag);
  if (text.empty()) return false;
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(number)) return false;
  *value = number;
  return true;
}

bool DataSet::Integer(Tag tag, std::int64_t* value) const {
  double number = 0;
  // 2^63 itself does not fit; every double below it that is whole does.
  if (!Number(tag, &number) || number != std::floor(number) || number >= 9.2233720368547758e18 ||
      number < -9.2233720368547758e18) {
    return false;
  }
  *value = static_cast<std::int64_t>(number);
  return true;
}

}  // namespace strata::dicom
