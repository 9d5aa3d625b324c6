#include "strata/model/pixel_ops.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/platform/system_memory.h"

namespace strata {
namespace {

constexpr unsigned char kWhite = 255;

unsigned char* NewPixelBuffer(int width, int height, bool white) {
  std::size_t bytes = 0;
  if (width <= 0 || height <= 0 || !CheckedPixelBytes(width, height, 3, bytes)) return nullptr;
  return white ? AllocateFilledBuffer(bytes, kWhite) : AllocateBuffer(bytes);
}

// One axis of the bilinear sampling: for each destination index the two
// source neighbours and the fraction towards the second.
struct AxisSamples {
  std::vector<int> first;
  std::vector<int> second;
  std::vector<float> fraction;
};

AxisSamples SampleAxis(int sourceSize, int destinationSize) {
  AxisSamples samples;
  samples.first.resize(destinationSize);
  samples.second.resize(destinationSize);
  samples.fraction.resize(destinationSize);
  const float ratio = static_cast<float>(sourceSize) / static_cast<float>(destinationSize);
  const int last = sourceSize - 1;
  for (int i = 0; i < destinationSize; ++i) {
    const float position = ratio * static_cast<float>(i);
    int index = static_cast<int>(position);
    const float fraction = position - static_cast<float>(index);
    // Float rounding can land exactly on the source size for huge ratios.
    index = std::min(index, last);
    samples.first[i] = index;
    samples.second[i] = std::min(index + 1, last);
    samples.fraction[i] = fraction;
  }
  return samples;
}

// Weights are never negative and sum to 1 within rounding, so a weighted sum
// lies in [0, 255 + a few ulps]: truncation needs only the upper clamp.
unsigned char TruncateToByte(float value) {
  const int truncated = static_cast<int>(value);
  return static_cast<unsigned char>(truncated > 255 ? 255 : truncated);
}

}  // namespace

unsigned char* CropPixels(const unsigned char* canvas, int canvasWidth, int canvasHeight, int left,
                          int top, int width, int height) {
  if (canvas == nullptr || canvasWidth <= 0 || canvasHeight <= 0) return nullptr;
  unsigned char* out = NewPixelBuffer(width, height, true);
  if (out == nullptr) return nullptr;
  // The window is the canvas pasted at (-left, -top) onto a white block.
  PastePixels(out, width, height, canvas, canvasWidth, canvasHeight, -left, -top);
  return out;
}

unsigned char* ResizeBilinear(const unsigned char* pixels, int sourceWidth, int sourceHeight,
                              int destinationWidth, int destinationHeight) {
  if (pixels == nullptr || sourceWidth <= 0 || sourceHeight <= 0) return nullptr;
  std::size_t sourceBytes = 0;
  if (!CheckedPixelBytes(sourceWidth, sourceHeight, 3, sourceBytes)) return nullptr;
  unsigned char* out = NewPixelBuffer(destinationWidth, destinationHeight, false);
  if (out == nullptr) return nullptr;
  if (sourceWidth == destinationWidth && sourceHeight == destinationHeight) {
    // The sampling rule maps every pixel onto itself with weight 1.
    std::memcpy(out, pixels, sourceBytes);
    return out;
  }
  const AxisSamples columns = SampleAxis(sourceWidth, destinationWidth);
  const AxisSamples rows = SampleAxis(sourceHeight, destinationHeight);
  const std::size_t sourceStride = static_cast<std::size_t>(sourceWidth) * 3;
  const std::size_t destinationStride = static_cast<std::size_t>(destinationWidth) * 3;
  // Byte offsets of both column neighbours, so the inner loop only indexes.
  std::vector<std::size_t> firstOffset(destinationWidth);
  std::vector<std::size_t> secondOffset(destinationWidth);
  for (int j = 0; j < destinationWidth; ++j) {
    firstOffset[j] = static_cast<std::size_t>(columns.first[j]) * 3;
    secondOffset[j] = static_cast<std::size_t>(columns.second[j]) * 3;
  }
  for (int i = 0; i < destinationHeight; ++i) {
    const unsigned char* upper = pixels + static_cast<std::size_t>(rows.first[i]) * sourceStride;
    const unsigned char* lower = pixels + static_cast<std::size_t>(rows.second[i]) * sourceStride;
    const float fy = rows.fraction[i];
    unsigned char* target = out + static_cast<std::size_t>(i) * destinationStride;
    for (int j = 0; j < destinationWidth; ++j) {
      const float fx = columns.fraction[j];
      const float w00 = (1.0f - fy) * (1.0f - fx);
      const float w01 = (1.0f - fy) * fx;
      const float w10 = fy * (1.0f - fx);
      const float w11 = fy * fx;
      const unsigned char* a = upper + firstOffset[j];
      const unsigned char* b = upper + secondOffset[j];
      const unsigned char* c = lower + firstOffset[j];
      const unsigned char* d = lower + secondOffset[j];
      for (int k = 0; k < 3; ++k) {
        const float sum = w00 * a[k] + w01 * b[k] + w10 * c[k] + w11 * d[k];
        target[k] = TruncateToByte(sum);
      }
      target += 3;
    }
  }
  return out;
}

unsigned char* InterleavePlanes(const unsigned char* red, const unsigned char* green,
                                const unsigned char* blue, int width, int height) {
  unsigned char* out = NewPixelBuffer(width, height, false);
  if (out == nullptr) return nullptr;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const unsigned char* planes[3] = {red, green, blue};
  for (int k = 0; k < 3; ++k) {
    const unsigned char* plane = planes[k];
    unsigned char* target = out + k;
    if (plane == nullptr) {
      for (std::size_t p = 0; p < count; ++p) target[p * 3] = 0;
    } else {
      for (std::size_t p = 0; p < count; ++p) target[p * 3] = plane[p];
    }
  }
  return out;
}

void PastePixels(unsigned char* canvas, int canvasWidth, int canvasHeight,
                 const unsigned char* block, int width, int height, int left, int top) {
  if (width <= 0) return;
  PastePixelsStrided(canvas, canvasWidth, canvasHeight, block, static_cast<std::size_t>(width) * 3,
                     width, height, left, top);
}

void PastePixelsStrided(unsigned char* canvas, int canvasWidth, int canvasHeight,
                        const unsigned char* block, std::size_t blockStride, int width, int height,
                        int left, int top) {
  if (canvas == nullptr || block == nullptr || canvasWidth <= 0 || canvasHeight <= 0 ||
      width <= 0 || height <= 0) {
    return;
  }
  // Clip in 64 bits so that far-away positions cannot overflow.
  const std::int64_t x0 = std::max<std::int64_t>(left, 0);
  const std::int64_t y0 = std::max<std::int64_t>(top, 0);
  const std::int64_t x1 =
      std::min<std::int64_t>(static_cast<std::int64_t>(left) + width, canvasWidth);
  const std::int64_t y1 =
      std::min<std::int64_t>(static_cast<std::int64_t>(top) + height, canvasHeight);
  if (x0 >= x1 || y0 >= y1) return;
  const std::size_t rowBytes = static_cast<std::size_t>(x1 - x0) * 3;
  const std::size_t canvasStride = static_cast<std::size_t>(canvasWidth) * 3;
  for (std::int64_t y = y0; y < y1; ++y) {
    const unsigned char* source = block + static_cast<std::size_t>(y - top) * blockStride +
                                  static_cast<std::size_t>(x0 - left) * 3;
    unsigned char* target =
        canvas + static_cast<std::size_t>(y) * canvasStride + static_cast<std::size_t>(x0) * 3;
    std::memcpy(target, source, rowBytes);
  }
}

std::uint64_t AvailableMemoryBytes() { return platform::AvailablePhysicalMemoryBytes(); }

}  // namespace strata
