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

// Source rows sampled at every destination column: per output byte, the
// channel of the first and of the second column neighbour as floats. Two
// rows are kept, since consecutive output rows mostly read the same two.
class SampledRows {
 public:
  struct Row {
    int index = -1;
    std::vector<float> first;
    std::vector<float> second;
  };

  SampledRows(const unsigned char* pixels, std::size_t stride, const AxisSamples& columns)
      : pixels_(pixels), stride_(stride), columns_(columns) {}

  // Source row `index`, filled if needed without evicting row `keep`.
  const Row& Get(int index, int keep) {
    for (Row& row : rows_) {
      if (row.index == index) return row;
    }
    Row& slot = rows_[0].index == keep ? rows_[1] : rows_[0];
    Fill(index, slot);
    return slot;
  }

 private:
  void Fill(int index, Row& row) {
    const std::size_t count = columns_.first.size();
    row.index = index;
    row.first.resize(count * 3);
    row.second.resize(count * 3);
    const unsigned char* source = pixels_ + static_cast<std::size_t>(index) * stride_;
    for (std::size_t j = 0; j < count; ++j) {
      const unsigned char* p = source + static_cast<std::size_t>(columns_.first[j]) * 3;
      const unsigned char* q = source + static_cast<std::size_t>(columns_.second[j]) * 3;
      for (int k = 0; k < 3; ++k) {
        row.first[j * 3 + k] = p[k];
        row.second[j * 3 + k] = q[k];
      }
    }
  }

  const unsigned char* pixels_;
  std::size_t stride_;
  const AxisSamples& columns_;
  Row rows_[2];
};

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
  unsigned char* out = NewPixelBuffer(destinationWidth, destinationHeight, false);
  if (out == nullptr) return nullptr;
  ResizeBilinearInto(pixels, sourceWidth, sourceHeight, destinationWidth, destinationHeight, out,
                     static_cast<std::size_t>(destinationWidth) * 3);
  return out;
}

bool ResizeBilinearInto(const unsigned char* pixels, int sourceWidth, int sourceHeight,
                        int destinationWidth, int destinationHeight, unsigned char* out,
                        std::size_t outStride) {
  if (pixels == nullptr || out == nullptr || sourceWidth <= 0 || sourceHeight <= 0 ||
      destinationWidth <= 0 || destinationHeight <= 0) {
    return false;
  }
  std::size_t sourceBytes = 0;
  if (!CheckedPixelBytes(sourceWidth, sourceHeight, 3, sourceBytes)) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(destinationWidth) * 3;
  if (sourceWidth == destinationWidth && sourceHeight == destinationHeight) {
    // The sampling rule maps every pixel onto itself with weight 1.
    for (int i = 0; i < destinationHeight; ++i) {
      std::memcpy(out + static_cast<std::size_t>(i) * outStride,
                  pixels + static_cast<std::size_t>(i) * rowBytes, rowBytes);
    }
    return true;
  }
  const AxisSamples columns = SampleAxis(sourceWidth, destinationWidth);
  const AxisSamples rows = SampleAxis(sourceHeight, destinationHeight);
  SampledRows sampled(pixels, static_cast<std::size_t>(sourceWidth) * 3, columns);
  // Column weights per output byte, so the inner loop runs over plain arrays.
  std::vector<float> towardsFirst(rowBytes);
  std::vector<float> towardsSecond(rowBytes);
  for (std::size_t n = 0; n < rowBytes; ++n) {
    towardsSecond[n] = columns.fraction[n / 3];
    towardsFirst[n] = 1.0f - towardsSecond[n];
  }
  for (int i = 0; i < destinationHeight; ++i) {
    const SampledRows::Row& upper = sampled.Get(rows.first[i], rows.second[i]);
    const SampledRows::Row& lower = sampled.Get(rows.second[i], rows.first[i]);
    const float fy = rows.fraction[i];
    const float oneMinusFy = 1.0f - fy;
    unsigned char* target = out + static_cast<std::size_t>(i) * outStride;
    const float* a = upper.first.data();
    const float* b = upper.second.data();
    const float* c = lower.first.data();
    const float* d = lower.second.data();
    for (std::size_t n = 0; n < rowBytes; ++n) {
      const float w00 = oneMinusFy * towardsFirst[n];
      const float w01 = oneMinusFy * towardsSecond[n];
      const float w10 = fy * towardsFirst[n];
      const float w11 = fy * towardsSecond[n];
      target[n] = TruncateToByte(w00 * a[n] + w01 * b[n] + w10 * c[n] + w11 * d[n]);
    }
  }
  return true;
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
