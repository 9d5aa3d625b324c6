#include "tools/serve/served_slide.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/ztx/ztx_data_file.h"
#include "tools/png_encoding.h"

namespace strata::tools::serve {
namespace {

// A stored tile larger than this is not a tile but a damaged index entry.
constexpr int kMaxStoredTileBytes = 32 << 20;

// Tile sizes the Deep Zoom grid can take over from a slide's blocks.
constexpr int kMinTileSize = 64;
constexpr int kMaxTileSize = 2048;
constexpr int kDefaultTileSize = 256;

// Scanners resolve about 10 um per pixel divided by the objective power.
constexpr double kMicronsAtOneTimes = 10.0;

std::string FileExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension;
}

// The bytes of a buffer the library handed out; false when it handed out none.
bool CopyHandedOut(const OwnedBuffer& buffer, int length, Bytes* out) {
  if (buffer == nullptr || length <= 0) return false;
  out->assign(reinterpret_cast<const char*>(buffer.get()), static_cast<std::size_t>(length));
  return true;
}

bool IsWholeJpeg(const unsigned char* bytes, std::size_t length) {
  return length >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

// The bytes of a tile, through the two-step contract of GetImageStreamFunc:
// ask the length without a buffer, then copy into one (a level the file
// leaves out is composed by the library and delivered the same way). False
// when there is no such tile.
bool ReadStoredBytes(IMAGE_INFO_STRUCT& handle, float scale, int x, int y,
                     std::vector<unsigned char>* bytes) {
  unsigned char* none = nullptr;
  int length = 0;
  GetImageStreamFunc(&handle, scale, x, y, &length, &none);
  if (none != nullptr) {
    OwnedBuffer composed(none);
    return false;
  }
  if (length <= 0 || length > kMaxStoredTileBytes) return false;
  bytes->assign(static_cast<std::size_t>(length), 0);
  unsigned char* buffer = bytes->data();
  int copied = 0;
  GetImageStreamFunc(&handle, scale, x, y, &copied, &buffer);
  if (buffer != bytes->data()) {
    OwnedBuffer unexpected(buffer);
    return false;
  }
  return copied == length;
}

// A white JPEG of the tile's size, standing in for pixels the slide cannot give.
bool WhiteTile(const PixelRect& rect, Bytes* jpeg) {
  const std::vector<unsigned char> white(static_cast<std::size_t>(rect.width) * rect.height * 3,
                                         255);
  return EncodeJpegBytes(white.data(), rect.width, rect.height, jpeg);
}

}  // namespace

bool JpegSize(const unsigned char* bytes, std::size_t length, int* width, int* height) {
  if (!IsWholeJpeg(bytes, length)) return false;
  std::size_t at = 2;
  while (at + 4 <= length) {
    if (bytes[at] != 0xFF) return false;
    const unsigned char marker = bytes[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const std::size_t segment = static_cast<std::size_t>(bytes[at + 2]) << 8 | bytes[at + 3];
    const bool isFrame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (isFrame) {
      if (segment < 7 || at + 9 > length) return false;
      *height = bytes[at + 5] << 8 | bytes[at + 6];
      *width = bytes[at + 7] << 8 | bytes[at + 8];
      return *width > 0 && *height > 0;
    }
    if (marker == 0xDA || marker == 0xD9 || segment < 2) return false;
    at += 2 + segment;
  }
  return false;
}

bool EncodeJpegBytes(const unsigned char* rgb, int width, int height, Bytes* out) {
  unsigned char* stream = nullptr;
  int length = 0;
  EncodeJpeg(rgb, width * height * 3, &stream, length, width, height);
  const OwnedBuffer owned(stream);
  return CopyHandedOut(owned, length, out);
}

std::unique_ptr<ServedSlide> ServedSlide::Open(const std::string& path) {
  auto handle = std::make_unique<SlideHandle>();
  if (!handle->Open(path)) return nullptr;
  std::unique_ptr<ServedSlide> slide(new ServedSlide(path, std::move(handle)));
  if (slide->facts_.width <= 0 || slide->facts_.height <= 0) return nullptr;
  return slide;
}

ServedSlide::ServedSlide(const std::string& path, std::unique_ptr<SlideHandle> handle)
    : path_(path), handle_(std::move(handle)) {
  isZtx_ = dynamic_cast<CZTXDataFile*>(handle_->get().slide) != nullptr;
  ReadFacts();
  const bool blocksFit = facts_.blockSize >= kMinTileSize && facts_.blockSize <= kMaxTileSize;
  geometry_ = DeepZoomGeometry(facts_.width, facts_.height,
                               isZtx_ && blocksFit ? facts_.blockSize : kDefaultTileSize);
  FindStoredLevels();
}

void ServedSlide::ReadFacts() {
  IMAGE_INFO_STRUCT& handle = handle_->get();
  float spend = 0, resolution = 0;
  double scanTime = 0;
  if (!GetHeaderInfoFunc(handle, &facts_.height, &facts_.width, &facts_.scanScale, &spend,
                         &scanTime, &resolution, &facts_.blockSize)) {
    return;
  }
  GetVersionInfoFunc(&handle, &facts_.version);
  facts_.format = isZtx_ ? "ZTX" : FileExtension(path_);
  if (resolution > 0 && std::isfinite(resolution)) {
    facts_.micronsPerPixel = resolution;
  } else if (facts_.scanScale > 0) {
    facts_.micronsPerPixel = kMicronsAtOneTimes / facts_.scanScale;
    facts_.resolutionEstimated = true;
  }
  int year, month, day, hour, minute, second, hours, minutes, seconds;
  if (GetScanTimeDurationFunc(&handle, &year, &month, &day, &hour, &minute, &second, &hours,
                              &minutes, &seconds)) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    facts_.scanned = text;
  }
}

float ServedSlide::LevelScale(int level) const {
  return std::ldexp(static_cast<float>(facts_.scanScale), -geometry_.Reduction(level));
}

void ServedSlide::FindStoredLevels() {
  const int levels = geometry_.LevelCount();
  storedLevel_.assign(static_cast<std::size_t>(levels), false);
  smallestRegionLevel_ = 0;
  if (!isZtx_ || facts_.scanScale <= 0) return;
  std::vector<unsigned char> probe;
  int smallestStored = levels;
  // Stored levels keep halving the scan scale, so each is found by its
  // top-left tile; the smallest one is where the library's pyramid ends.
  for (int level = levels - 1; level >= 0; --level) {
    if (ReadStoredBytes(handle_->get(), LevelScale(level), 0, 0, &probe)) {
      storedLevel_[static_cast<std::size_t>(level)] = facts_.blockSize == geometry_.tileSize();
      smallestStored = std::min(smallestStored, level);
    }
  }
  smallestRegionLevel_ = smallestStored < levels ? smallestStored : 0;
}

bool ServedSlide::StoredTile(int level, const PixelRect& rect, Bytes* jpeg) {
  if (level < 0 || level >= geometry_.LevelCount() ||
      !storedLevel_[static_cast<std::size_t>(level)]) {
    return false;
  }
  std::vector<unsigned char> bytes;
  if (!ReadStoredBytes(handle_->get(), LevelScale(level), static_cast<int>(rect.x),
                       static_cast<int>(rect.y), &bytes)) {
    return false;
  }
  // Edge tiles are stored whole, padded with white; the Deep Zoom grid cuts
  // them short, so only tiles of exactly the stored size pass through.
  int width = 0, height = 0;
  if (!JpegSize(bytes.data(), bytes.size(), &width, &height) || width != rect.width ||
      height != rect.height) {
    return false;
  }
  jpeg->assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return true;
}

bool ServedSlide::RegionPixels(float scale, const PixelRect& rect, OwnedBuffer* pixels) {
  unsigned char* out = nullptr;
  int length = 0;
  const bool made =
      GetImageDataRoiFunc(handle_->get(), scale, static_cast<int>(rect.x), static_cast<int>(rect.y),
                          rect.width, rect.height, &out, &length, false);
  pixels->reset(out);
  return made && out != nullptr &&
         static_cast<std::int64_t>(length) == std::int64_t{rect.width} * rect.height * 3;
}

bool ServedSlide::ComposedTile(int level, const PixelRect& rect, Bytes* jpeg) {
  if (level < smallestRegionLevel_ && isZtx_) return ShrunkTile(level, rect, jpeg);
  unsigned char* out = nullptr;
  int length = 0;
  const bool made =
      GetImageDataRoiFunc(handle_->get(), LevelScale(level), static_cast<int>(rect.x),
                          static_cast<int>(rect.y), rect.width, rect.height, &out, &length, true);
  const OwnedBuffer stream(out);
  if (made && CopyHandedOut(stream, length, jpeg)) return true;
  // Inside the level but not composable: a white tile keeps the view whole.
  return WhiteTile(rect, jpeg);
}

// Levels below the slide's smallest stored level: the library has no tiles
// there, so the tile is shrunk from the matching area of that level.
bool ServedSlide::ShrunkTile(int level, const PixelRect& rect, Bytes* jpeg) {
  const int steps = smallestRegionLevel_ - level;
  const std::int64_t sourceWidth = geometry_.LevelWidth(smallestRegionLevel_);
  const std::int64_t sourceHeight = geometry_.LevelHeight(smallestRegionLevel_);
  PixelRect source;
  source.x = rect.x << steps;
  source.y = rect.y << steps;
  source.width = static_cast<int>(
      std::min<std::int64_t>(std::int64_t{rect.width} << steps, sourceWidth - source.x));
  source.height = static_cast<int>(
      std::min<std::int64_t>(std::int64_t{rect.height} << steps, sourceHeight - source.y));
  OwnedBuffer pixels;
  if (source.width <= 0 || source.height <= 0 ||
      !RegionPixels(LevelScale(smallestRegionLevel_), source, &pixels)) {
    return WhiteTile(rect, jpeg);
  }
  OwnedBuffer shrunk(
      ResizeBilinear(pixels.get(), source.width, source.height, rect.width, rect.height));
  return shrunk != nullptr && EncodeJpegBytes(shrunk.get(), rect.width, rect.height, jpeg);
}

bool ServedSlide::Region(float scale, int x, int y, int width, int height, bool png, Bytes* out) {
  if (!png) {
    unsigned char* stream = nullptr;
    int length = 0;
    const bool made =
        GetImageDataRoiFunc(handle_->get(), scale, x, y, width, height, &stream, &length, true);
    const OwnedBuffer owned(stream);
    return made && CopyHandedOut(owned, length, out);
  }
  PixelRect rect{x, y, width, height};
  OwnedBuffer pixels;
  return RegionPixels(scale, rect, &pixels) && EncodePngBytes(pixels.get(), width, height, out);
}

std::shared_ptr<const Bytes> ServedSlide::Image(AssociatedImage which) {
  const std::size_t index = static_cast<std::size_t>(which);
  std::lock_guard<std::mutex> hold(imagesMutex_);
  if (!imagesFetched_[index]) {
    images_[index] = FetchImage(which);
    imagesFetched_[index] = true;
  }
  return images_[index];
}

std::shared_ptr<const Bytes> ServedSlide::FetchImage(AssociatedImage which) {
  using Getter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
  static const Getter kGetters[] = {GetLableInfoFunc, GetPriviewInfoFunc, GetThumnailImageFunc};
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  const bool found =
      kGetters[static_cast<std::size_t>(which)](handle_->get(), &data, &length, &width, &height);
  OwnedBuffer stream(data);
  if (!found || stream == nullptr || length <= 0) return nullptr;
  if (IsWholeJpeg(stream.get(), static_cast<std::size_t>(length))) {
    return std::make_shared<const Bytes>(reinterpret_cast<const char*>(stream.get()),
                                         static_cast<std::size_t>(length));
  }
  // Slides may keep these images as BMP; the routes promise JPEG.
  int decodedWidth = 0, decodedHeight = 0;
  OwnedBuffer pixels(DecodeBmp24(stream.get(), length, decodedWidth, decodedHeight));
  auto jpeg = std::make_shared<Bytes>();
  if (pixels == nullptr ||
      !EncodeJpegBytes(pixels.get(), decodedWidth, decodedHeight, jpeg.get())) {
    return nullptr;
  }
  return jpeg;
}

}  // namespace strata::tools::serve
