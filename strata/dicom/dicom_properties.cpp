#include "strata/dicom/dicom_properties.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace strata::dicom {
namespace {

bool IsOpaqueVr(Vr vr) {
  switch (vr) {
    case MakeVr('O', 'B'):
    case MakeVr('O', 'D'):
    case MakeVr('O', 'F'):
    case MakeVr('O', 'L'):
    case MakeVr('O', 'V'):
    case MakeVr('O', 'W'):
    case MakeVr('U', 'N'): return true;
    default: return false;
  }
}

// Length of the UTF-8 sequence starting at `at`, 0 when it is not one.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else
    return 0;
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string converted;
  converted.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      converted += c;
    } else {
      converted += static_cast<char>(0xC0 | byte >> 6);
      converted += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return converted;
}

class PropertyWriter {
 public:
  PropertyWriter(bool utf8, std::map<std::string, std::string>* properties)
      : utf8_(utf8), properties_(properties) {}

  void Add(const DataSet& data, const std::string& prefix) {
    for (const Element& element : data.elements()) {
      const Attribute* attribute = FindAttribute(element.tag);
      if (attribute == nullptr || IsOpaqueVr(element.vr) || element.skipped) continue;
      const std::string key = prefix + attribute->keyword;
      if (element.vr == MakeVr('S', 'Q')) {
        for (std::size_t i = 0; i < element.items.size(); ++i) {
          Add(element.items[i], key + "[" + std::to_string(i) + "].");
        }
        continue;
      }
      const std::vector<std::string> values = ValuesAsText(element);
      if (values.size() <= 1) {
        Put(key, values.empty() ? std::string() : values.front());
        continue;
      }
      for (std::size_t i = 0; i < values.size(); ++i) {
        Put(key + "[" + std::to_string(i) + "]", values[i]);
      }
    }
  }

 private:
  void Put(const std::string& key, const std::string& value) {
    if (properties_->size() >= kMaxProperties) return;
    (*properties_)[key] = utf8_ && IsUtf8(value) ? value : Latin1ToUtf8(value);
  }

  bool utf8_;
  std::map<std::string, std::string>* properties_;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// "+HHMM" or "-HHMM" as minutes east of UTC.
bool ParseOffset(const std::string& text, int* minutes) {
  if (text.size() != 5 || (text[0] != '+' && text[0] != '-')) return false;
  for (std::size_t i = 1; i < 5; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  const int hours = (text[1] - '0') * 10 + (text[2] - '0');
  const int rest = (text[3] - '0') * 10 + (text[4] - '0');
  if (hours > 14 || rest > 59) return false;
  *minutes = (text[0] == '-' ? -1 : 1) * (hours * 60 + rest);
  return true;
}

// YYYYMMDD[HH[MM[SS[.F...]]]] (no offset) as seconds since 1970, as if UTC.
bool ParseLocalDateTime(const std::string& text, std::int64_t* seconds) {
  const std::string whole = text.substr(0, text.find('.'));
  if (whole.size() < 8 || whole.size() > 14 || whole.size() % 2 != 0) return false;
  for (const char c : whole) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  const auto field = [&](std::size_t at, std::size_t length) {
    return at + length <= whole.size() ? std::stoi(whole.substr(at, length)) : 0;
  };
  const int year = field(0, 4);
  const int month = field(4, 2);
  const int day = field(6, 2);
  const int hour = field(8, 2);
  const int minute = field(10, 2);
  const int second = field(12, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  *seconds = DaysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 +
             std::int64_t{minute} * 60 + second;
  return true;
}

}  // namespace

void AddDicomProperties(const DataSet& data, std::map<std::string, std::string>* properties) {
  const std::vector<std::string> sets = data.Texts(tags::kSpecificCharacterSet);
  bool utf8 = false;
  for (const std::string& set : sets) utf8 = utf8 || set == "ISO_IR 192";
  PropertyWriter(utf8, properties).Add(data, "dicom.");
}

bool MicronsPerPixel(const DataSet& data, std::int64_t width, std::int64_t height, double* x,
                     double* y) {
  const DataSet* shared = data.Item(tags::kSharedFunctionalGroupsSequence, 0);
  const DataSet* measures =
      shared == nullptr ? nullptr : shared->Item(tags::kPixelMeasuresSequence, 0);
  if (measures != nullptr) {
    const std::vector<std::string> spacing = measures->Texts(tags::kPixelSpacing);
    if (spacing.size() == 2) {
      char* end = nullptr;
      const double rows = std::strtod(spacing[0].c_str(), &end);
      const double columns = std::strtod(spacing[1].c_str(), &end);
      if (rows > 0 && columns > 0 && rows < 1e6 && columns < 1e6) {
        *x = columns * 1000;
        *y = rows * 1000;
        return true;
      }
    }
  }
  double volumeWidth = 0;
  double volumeHeight = 0;
  if (data.Number(tags::kImagedVolumeWidth, &volumeWidth) &&
      data.Number(tags::kImagedVolumeHeight, &volumeHeight) && volumeWidth > 0 &&
      volumeHeight > 0 && width > 0 && height > 0) {
    *x = volumeWidth * 1000 / static_cast<double>(width);
    *y = volumeHeight * 1000 / static_cast<double>(height);
    return true;
  }
  return false;
}

double ObjectivePower(const DataSet& data) {
  const DataSet* path = data.Item(tags::kOpticalPathSequence, 0);
  double power = 0;
  if (path == nullptr || !path->Number(tags::kObjectiveLensPower, &power)) return 0;
  return power > 0 && power < 1e4 ? power : 0;
}

bool AcquisitionTime(const DataSet& data, std::int64_t* seconds) {
  std::string text = data.Text(tags::kAcquisitionDateTime);
  if (text.empty()) {
    const std::string date = data.Text(tags::kAcquisitionDate);
    if (date.empty()) return false;
    text = date + data.Text(tags::kAcquisitionTime);
  }
  int offsetMinutes = 0;
  const std::size_t sign = text.find_first_of("+-");
  if (sign != std::string::npos) {
    if (!ParseOffset(text.substr(sign), &offsetMinutes)) return false;
    text.resize(sign);
  } else {
    ParseOffset(data.Text(tags::kTimezoneOffsetFromUtc), &offsetMinutes);
  }
  std::int64_t local = 0;
  if (!ParseLocalDateTime(text, &local)) return false;
  *seconds = local - static_cast<std::int64_t>(offsetMinutes) * 60;
  return true;
}

}  // namespace strata::dicom
