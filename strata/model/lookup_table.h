// The six-number tile adjustment: gamma, contrast, brightness and red, green
// and blue offsets, turned into a 256-entry table per colour channel.
#ifndef STRATA_MODEL_LOOKUP_TABLE_H_
#define STRATA_MODEL_LOOKUP_TABLE_H_

#include <cstddef>

#include "strata/platform/lock.h"

namespace strata {

constexpr int kLookupParameterCount = 6;

// True when every parameter is within 1e-5 of 1.0: the tile is returned as
// stored, without decoding.
bool IsNeutralAdjustment(const float params[kLookupParameterCount]);

// table[i][k] for input value i and channel k (red, green, blue):
//   v = (i / 255 - 0.5) * max(contrast, 0) + 0.5 + brightness + offset[k]
//   (single precision), clamped to [0, 1]; v = |v| ^ (1 / gamma) in double;
//   entry = (int)(v * 255) clamped to 0-255 (a gamma of 0 or a NaN gives
//   values that are clamped too, never undefined conversions).
void BuildLookupTable(const float params[kLookupParameterCount], int table[256][3]);

// Maps every RGB pixel through the table; a channel whose `keep` flag is
// false becomes 0.
void ApplyLookupTable(const int table[256][3], const bool keep[3], unsigned char* pixels,
                      std::size_t pixelCount);

// The parameters of a slide's last adjustment and the table built from them.
// A caller rebuilds the table (when its parameters changed) and copies it out
// under the lock, then maps pixels from its copy without holding the lock, so
// adjustments may run beside each other.
class LookupTableCache {
 public:
  void Prepare(const float params[kLookupParameterCount], int table[256][3]);

 private:
  platform::Lock lock_;
  float params_[kLookupParameterCount] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  int table_[256][3] = {};
  bool built_ = false;
};

}  // namespace strata

#endif  // STRATA_MODEL_LOOKUP_TABLE_H_
