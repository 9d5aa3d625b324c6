// A stand-in bridge library for DMETRIX (STANDIN_DMETRIX) or MDS slides,
// exporting functions under Strata's export names and serving a synthetic
// slide (synthetic_slide.h) as BMP streams. Built with STANDIN_SPARSE it
// exports only opening, closing, the header and buffer release.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standin_control.h"
#include "synthetic_slide.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

#ifdef STANDIN_DMETRIX
constexpr standin::SlideFacts kSlide = standin::kDmetrixSlide;
constexpr const char* kExtension = ".dmetrix";
#else
constexpr standin::SlideFacts kSlide = standin::kMoticSlide;
constexpr const char* kExtension = ".mds";
#endif

struct Handle {
  void* slide;
};

struct Slide {
  std::string path;
};

struct Record {
  std::vector<std::unique_ptr<Slide>> open;
  std::string lastPath;
  float streamScale = 0.0f;
  int streamX = -1;
  int streamY = -1;
};

Record& State() {
  static Record record;
  return record;
}

bool IsOpen(const void* slide) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  for (const auto& open : State().open) {
    if (open.get() == slide) return true;
  }
  return false;
}

}  // namespace

STANDIN_EXPORT bool InitImageFileFunc(Handle* handle, const char* path) {
  standin::Count("InitImageFileFunc");
  handle->slide = nullptr;
  if (standin::Fault("InitImageFileFunc", "fail") || standin::Fault("InitImageFileFunc", "null")) {
    return false;
  }
  std::lock_guard<std::mutex> guard(standin::Mutex());
  State().lastPath = path == nullptr ? "" : path;
  if (path == nullptr || std::strstr(path, kExtension) == nullptr) return false;
  State().open.push_back(std::make_unique<Slide>(Slide{path}));
  handle->slide = State().open.back().get();
  return true;
}

STANDIN_EXPORT bool UnInitImageFileFunc(Handle* handle) {
  standin::Count("UnInitImageFileFunc");
  std::lock_guard<std::mutex> guard(standin::Mutex());
  auto& open = State().open;
  for (auto it = open.begin(); it != open.end(); ++it) {
    if (it->get() == handle->slide) {
      open.erase(it);
      handle->slide = nullptr;
      return true;
    }
  }
  return false;
}

STANDIN_EXPORT bool GetHeaderInfoFunc(Handle handle, int* height, int* width, int* scanScale,
                                      float* spendTime, double* scanTime, float* captureResolution,
                                      int* blockSize) {
  standin::Count("GetHeaderInfoFunc");
  if (!IsOpen(handle.slide) || standin::Fault("GetHeaderInfoFunc", "fail")) return false;
  *height = kSlide.height;
  *width = standin::Fault("GetHeaderInfoFunc", "negative") ? -kSlide.width : kSlide.width;
  *scanScale = kSlide.scanScale;
  *spendTime = standin::kSpendTime;
  *scanTime = standin::kScanTime;
  *captureResolution = standin::kCaptureResolution;
  *blockSize = kSlide.blockSize;
  return true;
}

STANDIN_EXPORT bool DeleteImageDataFunc(void* data) {
  standin::Count("DeleteImageDataFunc");
  return standin::TakeBack(data);
}

STANDIN_EXPORT int StandinOpenSlides() {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  return static_cast<int>(State().open.size());
}

STANDIN_EXPORT void StandinLastPath(char* path, int capacity) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  std::strncpy(path, State().lastPath.c_str(), static_cast<std::size_t>(capacity - 1));
  path[capacity - 1] = '\0';
}

STANDIN_EXPORT void StandinLastStreamRequest(float* scale, int* x, int* y) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  *scale = State().streamScale;
  *x = State().streamX;
  *y = State().streamY;
}

#ifndef STANDIN_SPARSE

namespace {

// The level divisor of `scale` (1, 2, 4, 8), or 0 when no level matches.
int DivisorOf(float scale) {
  for (int divisor = 1; divisor <= 8; divisor *= 2) {
    const float level = static_cast<float>(kSlide.scanScale) / static_cast<float>(divisor);
    if (std::fabs(level - scale) < 1e-3f) return divisor;
  }
  return 0;
}

unsigned char* HandOutBytes(const std::vector<unsigned char>& bytes, std::size_t reserve) {
  unsigned char* buffer = standin::HandOut(reserve);
  std::memcpy(buffer, bytes.data(), std::min(bytes.size(), reserve));
  return buffer;
}

// Hands out a stream, honouring the "empty" and "long" faults of `function`.
unsigned char* Deliver(const char* function, const std::vector<unsigned char>& bytes, int* length) {
  unsigned char* buffer = HandOutBytes(bytes, bytes.size());
  *length = static_cast<int>(bytes.size());
  if (standin::Fault(function, "empty")) *length = 0;
  if (standin::Fault(function, "long")) *length = static_cast<int>(bytes.size()) + 4096;
  return buffer;
}

}  // namespace

// DMETRIX addresses tiles by column and row, MDS by the tile's pixel position.
STANDIN_EXPORT unsigned char* GetImageStreamFunc(Handle* handle, float scale, int x, int y,
                                                 int* length, unsigned char** buffer) {
  standin::Count("GetImageStreamFunc");
  {
    std::lock_guard<std::mutex> guard(standin::Mutex());
    State().streamScale = scale;
    State().streamX = x;
    State().streamY = y;
  }
  *length = 0;
  *buffer = nullptr;
  const int divisor = DivisorOf(scale);
  if (!IsOpen(handle->slide) || divisor == 0 || x < 0 || y < 0 ||
      standin::Fault("GetImageStreamFunc", "fail")) {
    return nullptr;
  }
#ifdef STANDIN_DMETRIX
  const std::int64_t left = static_cast<std::int64_t>(x) * kSlide.tileSize;
  const std::int64_t top = static_cast<std::int64_t>(y) * kSlide.tileSize;
#else
  const std::int64_t left = x;
  const std::int64_t top = y;
#endif
  if (left * divisor >= kSlide.width || top * divisor >= kSlide.height) return nullptr;
  const auto pixels = standin::LevelWindow(kSlide, divisor, static_cast<int>(left),
                                           static_cast<int>(top), kSlide.tileSize, kSlide.tileSize);
  *buffer = Deliver("GetImageStreamFunc",
                    standin::EncodeBmp(pixels, kSlide.tileSize, kSlide.tileSize), length);
  return *buffer;
}

// Raw pixels of the window at any scale (nearest full-resolution pixel), or
// their BMP stream when `encode` is set.
STANDIN_EXPORT bool GetImageDataRoiFunc(Handle handle, float scale, int x, int y, int width,
                                        int height, unsigned char** out, int* length, bool encode) {
  standin::Count("GetImageDataRoiFunc");
  *out = nullptr;
  *length = 0;
  if (!IsOpen(handle.slide) || !(scale > 0.0f) || width <= 0 || height <= 0 || width > 4096 ||
      height > 4096 || standin::Fault("GetImageDataRoiFunc", "fail")) {
    return false;
  }
  const double factor = static_cast<double>(kSlide.scanScale) / scale;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  for (int j = 0; j < height; ++j) {
    for (int i = 0; i < width; ++i) {
      standin::LevelPixel(kSlide, 1, static_cast<std::int64_t>((x + i) * factor),
                          static_cast<std::int64_t>((y + j) * factor),
                          &pixels[(static_cast<std::size_t>(j) * width + i) * 3]);
    }
  }
  *out = Deliver("GetImageDataRoiFunc", encode ? standin::EncodeBmp(pixels, width, height) : pixels,
                 length);
  return true;
}

namespace {

bool AssociatedImage(const char* function, int kind, const char* path, unsigned char** data,
                     int* length, int* width, int* height) {
  standin::Count(function);
  {
    std::lock_guard<std::mutex> guard(standin::Mutex());
    State().lastPath = path == nullptr ? "" : path;
  }
  if (path == nullptr || std::strstr(path, kExtension) == nullptr ||
      standin::Fault(function, "fail")) {
    return false;
  }
  const int w = standin::kAssociatedSizes[kind][0];
  const int h = standin::kAssociatedSizes[kind][1];
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * 3);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      standin::AssociatedPixel(kind, i, j, &pixels[(static_cast<std::size_t>(j) * w + i) * 3]);
    }
  }
  int delivered = 0;
  *data = Deliver(function, standin::EncodeBmp(pixels, w, h), &delivered);
  *length = delivered;
  if (delivered > 0) {
    *width = standin::Fault(function, "negative") ? -w : w;
    *height = h;
  }
  return true;
}

}  // namespace

STANDIN_EXPORT bool GetLableInfoPathFunc(const char* path, unsigned char** data, int* length,
                                         int* width, int* height) {
  return AssociatedImage("GetLableInfoPathFunc", 0, path, data, length, width, height);
}

STANDIN_EXPORT bool GetPriviewInfoPathFunc(const char* path, unsigned char** data, int* length,
                                           int* width, int* height) {
  return AssociatedImage("GetPriviewInfoPathFunc", 1, path, data, length, width, height);
}

STANDIN_EXPORT bool GetThumnailImagePathFunc(const char* path, unsigned char** data, int* length,
                                             int* width, int* height) {
  return AssociatedImage("GetThumnailImagePathFunc", 2, path, data, length, width, height);
}

#endif  // STANDIN_SPARSE
