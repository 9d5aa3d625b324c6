#include "strata/model/lookup_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace strata {

bool IsNeutralAdjustment(const float params[kLookupParameterCount]) {
  for (int k = 0; k < kLookupParameterCount; ++k) {
    if (!(std::fabs(params[k] - 1.0f) < 1e-5f)) return false;
  }
  return true;
}

void BuildLookupTable(const float params[kLookupParameterCount], int table[256][3]) {
  const float gamma = params[0];
  const float contrast = std::max(params[1], 0.0f);
  const float brightness = params[2];
  const double exponent = 1.0 / static_cast<double>(gamma);
  for (int i = 0; i < 256; ++i) {
    for (int k = 0; k < 3; ++k) {
      float v =
          (static_cast<float>(i) / 255.0f - 0.5f) * contrast + 0.5f + brightness + params[3 + k];
      v = std::min(std::max(v, 0.0f), 1.0f);
      double value = std::pow(std::fabs(static_cast<double>(v)), exponent) * 255.0;
      if (std::isnan(value)) value = 0.0;
      value = std::min(std::max(value, 0.0), 255.0);
      table[i][k] = static_cast<int>(value);
    }
  }
}

void ApplyLookupTable(const int table[256][3], const bool keep[3], unsigned char* pixels,
                      std::size_t pixelCount) {
  unsigned char mapped[3][256];
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 256; ++i) {
      mapped[k][i] = keep[k] ? static_cast<unsigned char>(table[i][k]) : 0;
    }
  }
  for (std::size_t p = 0; p < pixelCount; ++p, pixels += 3) {
    pixels[0] = mapped[0][pixels[0]];
    pixels[1] = mapped[1][pixels[1]];
    pixels[2] = mapped[2][pixels[2]];
  }
}

void LookupTableCache::Prepare(const float params[kLookupParameterCount], int table[256][3]) {
  platform::ScopedLock guard(lock_);
  bool changed = !built_;
  for (int k = 0; k < kLookupParameterCount && !changed; ++k) changed = params[k] != params_[k];
  if (changed) {
    std::copy(params, params + kLookupParameterCount, params_);
    BuildLookupTable(params, table_);
    built_ = true;
  }
  std::memcpy(table, table_, sizeof(table_));
}

}  // namespace strata
