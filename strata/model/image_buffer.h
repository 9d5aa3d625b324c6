// Buffers handed across the C interface. Every buffer that a caller later
// passes to DeleteImageDataFunc is allocated here, so one allocator pairs
// with one release.
#ifndef STRATA_MODEL_IMAGE_BUFFER_H_
#define STRATA_MODEL_IMAGE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace strata {

// New array of `size` bytes (uninitialised), or null when size is 0, above
// kMaxBufferBytes, or memory is short. Never throws.
unsigned char* AllocateBuffer(std::size_t size);

// As AllocateBuffer, every byte set to `value`.
unsigned char* AllocateFilledBuffer(std::size_t size, unsigned char value);

// Releases a buffer from AllocateBuffer; null is ignored.
void ReleaseBuffer(void* buffer);

// Owns a buffer from AllocateBuffer (or any buffer the library handed out):
// released when the owner goes.
struct BufferRelease {
  void operator()(unsigned char* buffer) const { ReleaseBuffer(buffer); }
};
using OwnedBuffer = std::unique_ptr<unsigned char, BufferRelease>;
// The same, indexable: pixels or streams owned until handed out.
using PixelBuffer = std::unique_ptr<unsigned char[], BufferRelease>;

// Largest single buffer the library hands out or works in (2 GiB - 1: lengths
// cross the C interface as int).
constexpr std::uint64_t kMaxBufferBytes = 0x7fffffffULL;

// width * height * channels in 64 bits; false when a factor is negative or
// the product exceeds kMaxBufferBytes.
bool CheckedPixelBytes(std::int64_t width, std::int64_t height, std::int64_t channels,
                       std::size_t& bytes);

}  // namespace strata

#endif  // STRATA_MODEL_IMAGE_BUFFER_H_
