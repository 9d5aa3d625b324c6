#include "strata/ztx/ztx_format.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace strata::ztx {
namespace {

constexpr HeaderFieldOffsets kNoFields{-1, -1, 0, -1, -1, -1, -1, 0, -1, -1};
// Per layout: spend time, scan time and its width, preview, label, thumbnail,
// index and their width, capture resolution, block size.
constexpr HeaderFieldOffsets k1000Fields{-1, 48, 4, 60, 64, -1, 68, 4, 72, -1};
constexpr HeaderFieldOffsets k1100Fields{-1, -1, 0, 60, 64, 68, 72, 4, 76, 88};
constexpr HeaderFieldOffsets k1200Fields{40, 44, 8, 60, 64, 68, 72, 4, 76, 88};
constexpr HeaderFieldOffsets k1300Fields{40, 44, 8, 52, 56, 60, 68, 8, 76, 88};

}  // namespace

bool SameVersion(float version, float constant) {
  const float difference = version - constant;
  return std::fabs(difference) < 0.000001f;
}

HeaderLayout HeaderLayoutOf(float version) {
  if (SameVersion(version, 1.0f)) return HeaderLayout::k1000;
  if (SameVersion(version, 1.1f)) return HeaderLayout::k1100;
  if (SameVersion(version, 1.2f)) return HeaderLayout::k1200;
  for (float later : {1.3f, 1.4f, 1.5f, 1.6f, 1.7f, 2.0f}) {
    if (SameVersion(version, later)) return HeaderLayout::k1300;
  }
  return HeaderLayout::kUnknown;
}

const HeaderFieldOffsets& FieldOffsetsOf(HeaderLayout layout) {
  switch (layout) {
    case HeaderLayout::k1000: return k1000Fields;
    case HeaderLayout::k1100: return k1100Fields;
    case HeaderLayout::k1200: return k1200Fields;
    case HeaderLayout::k1300: return k1300Fields;
    case HeaderLayout::kUnknown: break;
  }
  return kNoFields;
}

void NormaliseMarker(unsigned char* marker) {
  if (marker == nullptr) return;
  std::uint32_t value = 0;
  std::memcpy(&value, marker, 4);
  if ((value & kZtxMarker) == kZtxMarker) {
    value = kZtxMarker;
    std::memcpy(marker, &value, 4);
  }
}

}  // namespace strata::ztx
