// End to end through the exported functions on small slides: open, header,
// tiles as streams and pixels, a region, the mosaic, associated images,
// multi-channel output, and the two index rewrites.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "strata/strata.h"

namespace {

const std::string& SlidePath() {
  static const std::string path = "/dev/shm/strata-fuzz-" + std::to_string(getpid()) + ".ztx";
  return path;
}

bool WriteSlide(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(SlidePath().c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

void Drop(unsigned char*& buffer) {
  if (buffer != nullptr) DeleteImageDataFunc(buffer);
  buffer = nullptr;
}

void ReadEverything(IMAGE_INFO_STRUCT& handle) {
  int height = 0, width = 0, scale = 0, block = 0;
  float spend = 0, resolution = 0;
  double when = 0;
  GetHeaderInfoFunc(handle, &height, &width, &scale, &spend, &when, &resolution, &block);
  unsigned char* out = nullptr;
  int length = 0, w = 0, h = 0;
  const float scan = scale > 0 && scale < 100 ? static_cast<float>(scale) : 20.0f;
  for (float level : {scan, scan / 2, scan / 4}) {
    GetImageStreamFunc(&handle, level, 0, 0, &length, &out);
    if (length > 0 && length < (1 << 22)) {
      unsigned char* stream = new unsigned char[static_cast<std::size_t>(length)];
      unsigned char* callers = stream;
      GetImageStreamFunc(&handle, level, 0, 0, &length, &callers);
      delete[] stream;
    }
    GetImageRGBDataStreamFunc(&handle, level, 0, 0, &length, &w, &h, &out);
    Drop(out);
    GetLUTImage(&handle, level, 0, 0, &length, &out, 1.1f, 1, 1, 1, 1, 1);
    Drop(out);
    GetImageStreamManyPassagewayFunc(&handle, level, 0, 0, &length, &out, true, false, true, false,
                                     false, false);
    Drop(out);
  }
  GetImageDataRoiFunc(handle, scan / 3, 5, 7, 70, 50, &out, &length, false);
  Drop(out);
  if (ISCanGetMaxFunc(handle, scan, 10, 10, 60, 60)) {
    GetImageDataMaxFunc(handle, scan, 10, 10, 60, 60, &out, &length, true);
    Drop(out);
  }
  GetLableInfoFunc(handle, &out, &length, &w, &h);
  Drop(out);
  GetPriviewInfoFunc(handle, &out, &length, &w, &h);
  Drop(out);
  GetThumnailImageFunc(handle, &out, &length, &w, &h);
  Drop(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 16) || !WriteSlide(data, size)) return 0;
  IMAGE_INFO_STRUCT handle{};
  if (InitImageFileFunc(&handle, SlidePath().c_str())) {
    ReadEverything(handle);
    UnInitImageFileFunc(&handle);
  }
  if (CompressBlockDataInfoFunc(SlidePath().c_str())) {
    UnCompressBlockDataInfoFunc(SlidePath().c_str());
  }
  return 0;
}
