// The ZTX header of every version and its property items, from the probe on.
#include <cstdint>
#include <cstring>

#include "fuzz/memory_slide.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto slide = strata::fuzz::MemorySlide(data, size);
  if (slide->ProbeVersion() != 0) return 0;
  CZTXDataHeader* header = slide->GetHeader();
  if (header == nullptr || header->LoadRecord() != 0) return 0;
  // Unsigned sums: the values are the file's and may be anything.
  volatile std::uint64_t sink = 0;
  const std::int64_t facts[] = {
      header->GetWidth(),           header->GetHeight(),    header->GetScanScale(),
      header->GetBlockSize(),       header->GetTileCount(), header->GetIndexOffset(),
      header->GetThumbnailOffset(), header->GetScanTime(),  header->GetScanDuration()};
  for (std::int64_t fact : facts) sink = sink + static_cast<std::uint64_t>(fact);
  volatile float floats = 0.0f;
  for (int item = 0; item < 64; ++item) {
    sink = sink + static_cast<std::uint64_t>(header->GetIntItem(item)) +
           std::strlen(header->GetTextItem(item));
    floats = floats + header->GetFloatItem(item);
  }
  floats = floats + slide->SelectSourceScale(5.0f);
  return 0;
}
