#include "support/hostile_input.h"

#include <sys/resource.h>

#include <cstring>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"

namespace strata::test {
namespace {

void PutLittleEndian(ByteVector& bytes, std::size_t at, const void* value, std::size_t size) {
  if (bytes.size() < at + size) bytes.resize(at + size, 0);
  std::memcpy(bytes.data() + at, value, size);
}

std::int64_t PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
}

}  // namespace

ByteVector ColourJpeg(int width, int height) {
  ByteVector pixels(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = static_cast<unsigned char>(x * 200 / width + 20);
      p[1] = static_cast<unsigned char>(y * 200 / height + 20);
      p[2] = 90;
    }
  }
  unsigned char* stream = nullptr;
  int length = 0;
  if (!EncodeJpegWithQuality(pixels.data(), width, height, 3, 90, &stream, length)) return {};
  ByteVector bytes(stream, stream + length);
  ReleaseBuffer(stream);
  return bytes;
}

ByteVector JpegClaimingFrame(int width, int height) {
  ByteVector bytes = ColourJpeg(16, 16);
  for (std::size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // baseline frame header
      bytes[i + 5] = static_cast<unsigned char>(height >> 8);
      bytes[i + 6] = static_cast<unsigned char>(height);
      bytes[i + 7] = static_cast<unsigned char>(width >> 8);
      bytes[i + 8] = static_cast<unsigned char>(width);
      break;
    }
  }
  return bytes;
}

std::size_t IndexEntryAt(const ztx::ZtxLayout& layout, float version, std::size_t entry) {
  const std::size_t size = version < 1.05f ? 68 : 64;
  return static_cast<std::size_t>(layout.indexOffset) + entry * size;
}

void RepointTile(ByteVector& file, const ztx::ZtxLayout& layout, std::size_t entry,
                 const ByteVector& stream) {
  const std::int64_t offset = static_cast<std::int64_t>(file.size()) - layout.indexOffset;
  const std::int32_t length = static_cast<std::int32_t>(stream.size());
  const std::size_t at = IndexEntryAt(layout, 1.3f, entry);
  file.insert(file.end(), stream.begin(), stream.end());
  PutLittleEndian(file, at + kEntryLength, &length, 4);
  PutLittleEndian(file, at + kEntryOffset, &offset, 8);
}

std::int64_t PeakMemoryGrowth(const std::function<void()>& call) {
  const std::int64_t before = PeakResidentBytes();
  call();
  return PeakResidentBytes() - before;
}

}  // namespace strata::test
