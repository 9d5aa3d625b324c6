#include "tools/serve/served_slide.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "strata/slide/image_codec.h"
#include "strata/slide/system.h"
#include "tools/png_encoding.h"

namespace strata::tools::serve {
namespace {

// Tile sizes the Deep Zoom grid can take over from a slide's stored tiles.
constexpr int kMinTileSize = 64;
constexpr int kMaxTileSize = 2048;
constexpr int kDefaultTileSize = 256;

// Scanners resolve about 10 um per pixel divided by the objective power.
constexpr double kMicronsAtOneTimes = 10.0;

// Associated images are shown, not measured: a JPEG a little finer than
// the tiles' keeps a label's small print legible.
constexpr int kImageQuality = 90;

const char* const kImageNames[] = {"label", "macro", "thumbnail"};

bool IsWholeJpeg(const unsigned char* bytes, std::size_t length) {
  return length >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

bool CopyHandedOut(const OwnedBuffer& buffer, int length, Bytes* out) {
  if (buffer == nullptr || length <= 0) return false;
  out->assign(reinterpret_cast<const char*>(buffer.get()), static_cast<std::size_t>(length));
  return true;
}

// RGBA (not premultiplied) laid over white, as the page's background shows it.
std::vector<unsigned char> OverWhite(const strata::Image& rgba) {
  const std::size_t count = static_cast<std::size_t>(rgba.width) * rgba.height;
  std::vector<unsigned char> rgb(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned alpha = rgba.pixels[i * 4 + 3];
    for (int c = 0; c < 3; ++c) {
      const unsigned value = rgba.pixels[i * 4 + c];
      rgb[i * 3 + c] =
          static_cast<unsigned char>((value * alpha + 255 * (255 - alpha) + 127) / 255);
    }
  }
  return rgb;
}

std::string LocalTimeText(std::int64_t seconds) {
  std::tm local{};
  if (!system::ToLocalTime(seconds, local)) return "";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// The Deep Zoom tile size for a slide: its own stored tiles where they are
// square and of a usable size, so that whole stored tiles can pass through.
int TileSizeFor(const SlideLevel& level) {
  const bool usable = level.tileWidth == level.tileHeight && level.tileWidth >= kMinTileSize &&
                      level.tileWidth <= kMaxTileSize;
  return usable ? level.tileWidth : kDefaultTileSize;
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

Status ServedSlide::Open(const std::string& location, std::shared_ptr<TileCache> tileCache,
                         std::unique_ptr<ServedSlide>* served) {
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(location, &slide);
  if (!opened.ok()) return opened;
  slide->SetCache(std::move(tileCache));
  served->reset(new ServedSlide(std::move(slide)));
  return Status::Ok();
}

ServedSlide::ServedSlide(std::unique_ptr<Slide> slide) : slide_(std::move(slide)) {
  ReadFacts();
  geometry_ = DeepZoomGeometry(facts_.width, facts_.height, TileSizeFor(slide_->Levels()[0]));
  MatchStoredLevels();
}

void ServedSlide::ReadFacts() {
  const SlideFacts& facts = slide_->Facts();
  facts_.width = facts.width;
  facts_.height = facts.height;
  facts_.objectivePower = facts.objectivePower > 0 ? facts.objectivePower : 0;
  if (facts.micronsPerPixelX > 0 && std::isfinite(facts.micronsPerPixelX)) {
    facts_.micronsPerPixel = facts.micronsPerPixelX;
  } else if (facts_.objectivePower > 0) {
    facts_.micronsPerPixel = kMicronsAtOneTimes / facts_.objectivePower;
    facts_.resolutionEstimated = true;
  }
  // Formats without a scan time leave the flag down; their time is no date.
  if (facts.hasScanTime) facts_.scanned = LocalTimeText(facts.scanTime);
  facts_.format = facts.format;
  facts_.version = facts.version;
  facts_.tileSize = slide_->Levels()[0].tileWidth;
  facts_.levels = static_cast<int>(slide_->Levels().size());
}

void ServedSlide::MatchStoredLevels() {
  const std::vector<SlideLevel>& levels = slide_->Levels();
  const int count = geometry_.LevelCount();
  storedLevel_.assign(static_cast<std::size_t>(count), -1);
  double largestDownsample = 1;
  for (const SlideLevel& level : levels)
    largestDownsample = std::max(largestDownsample, level.downsample);
  smallestStoredDeepZoomLevel_ = count - 1;
  for (int dz = count - 1; dz >= 0; --dz) {
    const double downsample = std::ldexp(1.0, geometry_.Reduction(dz));
    if (downsample <= largestDownsample * (1 + 1e-6)) {
      smallestStoredDeepZoomLevel_ = std::min(smallestStoredDeepZoomLevel_, dz);
    }
    // Formats round a level's size either way: within a pixel it is the
    // same level.
    for (std::size_t stored = 0; stored < levels.size(); ++stored) {
      if (std::llabs(levels[stored].width - geometry_.LevelWidth(dz)) <= 1 &&
          std::llabs(levels[stored].height - geometry_.LevelHeight(dz)) <= 1) {
        storedLevel_[static_cast<std::size_t>(dz)] = static_cast<int>(stored);
        smallestStoredDeepZoomLevel_ = std::min(smallestStoredDeepZoomLevel_, dz);
        break;
      }
    }
  }
}

double ServedSlide::BaseScale() const {
  return facts_.objectivePower > 0 ? facts_.objectivePower : 1.0;
}

bool ServedSlide::StoredTile(int level, const PixelRect& rect, Bytes* jpeg) const {
  if (level < 0 || level >= geometry_.LevelCount()) return false;
  const int stored = storedLevel_[static_cast<std::size_t>(level)];
  if (stored < 0) return false;
  const SlideLevel& info = slide_->Levels()[static_cast<std::size_t>(stored)];
  const int size = geometry_.tileSize();
  if (info.tileWidth != size || info.tileHeight != size || rect.x + rect.width > info.width ||
      rect.y + rect.height > info.height) {
    return false;
  }
  Tile tile;
  if (!slide_->ReadTile(stored, rect.x / size, rect.y / size, &tile).ok() ||
      tile.encoding != TileEncoding::kJpeg) {
    return false;
  }
  // Edge tiles are often stored whole, padded; the Deep Zoom grid cuts them
  // short, so only streams of exactly the tile's size pass through.
  int width = 0, height = 0;
  if (!JpegSize(tile.bytes.data(), tile.bytes.size(), &width, &height) || width != rect.width ||
      height != rect.height) {
    return false;
  }
  jpeg->assign(tile.bytes.begin(), tile.bytes.end());
  return true;
}

bool ServedSlide::LevelTile(int storedLevel, const PixelRect& rect,
                            std::vector<unsigned char>* rgb) const {
  const double downsample = slide_->Levels()[static_cast<std::size_t>(storedLevel)].downsample;
  // Rounding up keeps the level pixel the read starts at exactly rect.x.
  const auto levelZero = [downsample](std::int64_t at) {
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(at) * downsample - 1e-9));
  };
  strata::Image rgba;
  if (!slide_
           ->ReadRegion(storedLevel, levelZero(rect.x), levelZero(rect.y), rect.width, rect.height,
                        &rgba)
           .ok()) {
    return false;
  }
  *rgb = OverWhite(rgba);
  return true;
}

// Deep Zoom levels smaller than every stored level: the tile is shrunk from
// the matching area of the smallest stored level.
bool ServedSlide::ShrunkTile(int level, const PixelRect& rect,
                             std::vector<unsigned char>* rgb) const {
  const std::vector<SlideLevel>& levels = slide_->Levels();
  const SlideLevel& source = levels.back();
  const double ratio = std::ldexp(1.0, geometry_.Reduction(level)) / source.downsample;
  const auto left = static_cast<std::int64_t>(std::floor(static_cast<double>(rect.x) * ratio));
  const auto top = static_cast<std::int64_t>(std::floor(static_cast<double>(rect.y) * ratio));
  const std::int64_t right = std::min<std::int64_t>(
      static_cast<std::int64_t>(std::ceil(static_cast<double>(rect.x + rect.width) * ratio)),
      source.width);
  const std::int64_t bottom = std::min<std::int64_t>(
      static_cast<std::int64_t>(std::ceil(static_cast<double>(rect.y + rect.height) * ratio)),
      source.height);
  if (right <= left || bottom <= top) return false;
  const PixelRect window{left, top, static_cast<int>(right - left), static_cast<int>(bottom - top)};
  std::vector<unsigned char> pixels;
  if (!LevelTile(static_cast<int>(levels.size()) - 1, window, &pixels)) return false;
  const OwnedBuffer shrunk(
      ResizeBilinear(pixels.data(), window.width, window.height, rect.width, rect.height));
  if (shrunk == nullptr) return false;
  rgb->assign(shrunk.get(), shrunk.get() + static_cast<std::size_t>(rect.width) * rect.height * 3);
  return true;
}

bool ServedSlide::ComposedTile(int level, const PixelRect& rect, Bytes* jpeg) const {
  if (level < 0 || level >= geometry_.LevelCount()) return false;
  std::vector<unsigned char> rgb;
  bool made = false;
  const int stored = storedLevel_[static_cast<std::size_t>(level)];
  if (stored >= 0) {
    made = LevelTile(stored, rect, &rgb);
  } else if (level < smallestStoredDeepZoomLevel_) {
    made = ShrunkTile(level, rect, &rgb);
  } else {
    strata::Image scaled;
    const double scale = BaseScale() / std::ldexp(1.0, geometry_.Reduction(level));
    made = slide_->ReadScaled(scale, rect.x, rect.y, rect.width, rect.height, &scaled).ok();
    if (made) rgb.assign(scaled.pixels.begin(), scaled.pixels.end());
  }
  // Inside the level but not composable: a white tile keeps the view whole.
  if (!made) rgb.assign(static_cast<std::size_t>(rect.width) * rect.height * 3, 255);
  return EncodeJpegBytes(rgb.data(), rect.width, rect.height, jpeg);
}

bool ServedSlide::RegionOverlaps(double scale, std::int64_t x, std::int64_t y, int width,
                                 int height) const {
  const double factor = scale / BaseScale();
  const double right = static_cast<double>(facts_.width) * factor;
  const double bottom = static_cast<double>(facts_.height) * factor;
  return static_cast<double>(x) < right && x + width > 0 && static_cast<double>(y) < bottom &&
         y + height > 0;
}

bool ServedSlide::Region(double scale, std::int64_t x, std::int64_t y, int width, int height,
                         bool png, Bytes* out) const {
  strata::Image rgb;
  if (!slide_->ReadScaled(scale, x, y, width, height, &rgb).ok()) return false;
  return png ? EncodePngBytes(rgb.pixels.data(), width, height, out)
             : EncodeJpegBytes(rgb.pixels.data(), width, height, out);
}

std::shared_ptr<const Bytes> ServedSlide::Image(AssociatedImage which) {
  const std::size_t index = static_cast<std::size_t>(which);
  std::lock_guard<std::mutex> hold(imagesMutex_);
  if (!imagesMade_[index]) {
    images_[index] = MakeImage(which);
    imagesMade_[index] = true;
  }
  return images_[index];
}

std::shared_ptr<const Bytes> ServedSlide::MakeImage(AssociatedImage which) const {
  const std::string name = kImageNames[static_cast<std::size_t>(which)];
  const std::vector<std::string>& names = slide_->AssociatedImageNames();
  if (std::find(names.begin(), names.end(), name) == names.end()) return nullptr;
  strata::Image rgb;
  if (!slide_->ReadAssociatedImage(name, &rgb).ok() || rgb.empty() || rgb.channels != 3) {
    return nullptr;
  }
  unsigned char* stream = nullptr;
  int length = 0;
  if (!EncodeJpegWithQuality(rgb.pixels.data(), rgb.width, rgb.height, 3, kImageQuality, &stream,
                             length)) {
    return nullptr;
  }
  const OwnedBuffer owned(stream);
  auto jpeg = std::make_shared<Bytes>();
  if (!CopyHandedOut(owned, length, jpeg.get())) return nullptr;
  return jpeg;
}

}  // namespace strata::tools::serve
