#include "strata/model/region_geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"

namespace strata {

namespace {
constexpr std::uint64_t kMemoryCeiling = 0x20000000;  // 512 MiB
}  // namespace

bool TruncateIfFits(double value, int& out) {
  if (!std::isfinite(value) || value <= static_cast<double>(INT_MIN) - 1.0 ||
      value >= static_cast<double>(INT_MAX) + 1.0) {
    return false;
  }
  out = static_cast<int>(value);
  return true;
}

bool IsUsableScale(float scale) { return std::isfinite(scale) && scale > 0.0f; }

bool FitsRegionMemoryBudget(std::uint64_t bytes) {
  const std::uint64_t available = AvailableMemoryBytes();
  return bytes < kMemoryCeiling && bytes < available * 2 / 5;
}

int ChooseSourceLevel(const std::vector<float>& scales, float scale) {
  if (scales.empty() || !IsUsableScale(scale)) return -1;
  if (scale > scales.front()) return 0;
  for (std::size_t i = 0; i + 1 < scales.size(); ++i) {
    const float upper = scales[i];
    const float lower = scales[i + 1];
    if (upper >= scale && scale >= lower) {
      return static_cast<int>(scale / lower > 1.5f ? i : i + 1);
    }
  }
  return static_cast<int>(scales.size() - 1);
}

bool ClipRegion(int slideWidth, int slideHeight, float scanScale, float scale, int x, int y,
                int width, int height, RegionClip& clip) {
  if (!IsUsableScale(scale) || !IsUsableScale(scanScale) || width <= 0 || height <= 0) {
    return false;
  }
  const float ratio = scale / scanScale;
  int scaledWidth = 0;
  int scaledHeight = 0;
  if (!TruncateIfFits(static_cast<float>(slideWidth) * ratio + 0.5f, scaledWidth) ||
      !TruncateIfFits(static_cast<float>(slideHeight) * ratio + 0.5f, scaledHeight)) {
    return false;
  }
  std::int64_t left = x;
  std::int64_t top = y;
  std::int64_t right = static_cast<std::int64_t>(x) + width;
  std::int64_t bottom = static_cast<std::int64_t>(y) + height;
  if (left > scaledWidth || top > scaledHeight || right < 0 || bottom < 0) return false;
  left = std::max<std::int64_t>(left, 0);
  top = std::max<std::int64_t>(top, 0);
  right = std::min<std::int64_t>(right, scaledWidth);
  bottom = std::min<std::int64_t>(bottom, scaledHeight);
  if (left >= right || top >= bottom) return false;
  clip.left = left;
  clip.top = top;
  clip.width = static_cast<int>(right - left);
  clip.height = static_cast<int>(bottom - top);
  clip.pasteLeft = x < 0 ? static_cast<int>(-static_cast<std::int64_t>(x)) : 0;
  clip.pasteTop = y < 0 ? static_cast<int>(-static_cast<std::int64_t>(y)) : 0;
  return true;
}

bool WindowAtSource(const RegionClip& clip, float sourceScale, float scale, SourceWindow& window) {
  if (!IsUsableScale(sourceScale) || !IsUsableScale(scale)) return false;
  const float factor = sourceScale / scale;
  if (!TruncateIfFits(static_cast<float>(clip.width) * factor, window.width) ||
      !TruncateIfFits(static_cast<float>(clip.height) * factor, window.height)) {
    return false;
  }
  // A one-pixel request read from a coarser level still needs one pixel.
  window.width = std::max(window.width, 1);
  window.height = std::max(window.height, 1);
  window.x = static_cast<float>(clip.left) * factor;
  window.y = static_cast<float>(clip.top) * factor;
  return std::isfinite(window.x) && std::isfinite(window.y);
}

bool HandOut(PixelBuffer pixels, int width, int height, bool encode, unsigned char** out,
             int& length) {
  std::size_t bytes = 0;
  if (pixels == nullptr || !CheckedPixelBytes(width, height, 3, bytes)) return false;
  if (!encode) {
    *out = pixels.release();
    length = static_cast<int>(bytes);
    return true;
  }
  unsigned char* stream = nullptr;
  int streamLength = 0;
  EncodeJpeg(pixels.get(), static_cast<int>(bytes), &stream, streamLength, width, height);
  if (stream == nullptr || streamLength <= 0) {
    ReleaseBuffer(stream);
    return false;
  }
  *out = stream;
  length = streamLength;
  return true;
}

}  // namespace strata
