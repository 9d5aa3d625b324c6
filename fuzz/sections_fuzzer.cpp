// Label, preview and thumbnail records and their images (the thumbnail is
// decoded and normalised when its size disagrees with the slide's).
#include <cstdint>

#include "fuzz/memory_slide.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto slide = strata::fuzz::MemorySlide(data, size);
  slide->LoadFile();  // sections are read even when the index is damaged
  unsigned char* image = nullptr;
  int length = 0, width = 0, height = 0;
  slide->GetLabel(&image, length, width, height);
  strata::fuzz::Release(image);
  slide->GetPreview(&image, length, width, height);
  strata::fuzz::Release(image);
  slide->GetThumbnail(&image, length, width, height);
  strata::fuzz::Release(image);
  return 0;
}
