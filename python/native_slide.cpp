#include "python/native_slide.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace strata::python {

void LibraryBufferRelease::operator()(unsigned char* data) const {
  CImageOperationManager::DeleteImageBlockStream(data);
}

namespace {

std::int64_t CheckedBytes(std::int64_t width, std::int64_t height, int channels) {
  if (width < 0 || height < 0) throw BadArgument("width and height must not be negative");
  const std::int64_t bytes = width * height * channels;
  if (bytes > kReadBudgetBytes) {
    throw SlideFailure("a " + std::to_string(width) + " x " + std::to_string(height) +
                       " read is over the memory budget of " +
                       std::to_string(kReadBudgetBytes >> 20) + " MiB");
  }
  return bytes;
}

// Room for the pixels, not yet written.
Pixels Unwritten(int width, int height, int channels) {
  Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.channels = channels;
  pixels.bytes.resize(static_cast<std::size_t>(CheckedBytes(width, height, channels)));
  return pixels;
}

Pixels Blank(int width, int height, int channels, std::uint8_t fill) {
  Pixels pixels = Unwritten(width, height, channels);
  std::fill(pixels.bytes.begin(), pixels.bytes.end(), fill);
  return pixels;
}

// A copy of width x height RGB pixels.
Pixels RgbCopy(const unsigned char* rgb, int width, int height) {
  Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.channels = 3;
  pixels.bytes.assign(rgb, rgb + static_cast<std::size_t>(width) * height * 3);
  return pixels;
}

// Fixed-size text outputs of the header calls; long enough for any item.
constexpr std::size_t kSerialCapacity = 4096;

}  // namespace

NativeSlide::NativeSlide(const std::string& path) : path_(path), cache_(kTileCacheBytes) {
  if (path.empty()) throw BadArgument("the slide path is empty");
  if (path.find('\0') != std::string::npos) throw BadArgument("the slide path holds a zero byte");
  if (!CImageOperationManager::CreateImageFile(path_.c_str(), handle_, false, FileBlock{})) {
    handle_.slide = nullptr;
    throw SlideFailure("cannot open " + path + ": not a slide Strata reads, or damaged");
  }
  try {
    LoadFacts();
    LoadLevels();
  } catch (...) {
    CImageOperationManager::DestoryImageFile(handle_);
    throw;
  }
}

NativeSlide::~NativeSlide() { Close(); }

void NativeSlide::Close() {
  std::unique_lock<std::shared_mutex> hold(lock_);
  if (handle_.slide != nullptr) CImageOperationManager::DestoryImageFile(handle_);
  cache_.Clear();
}

bool NativeSlide::Closed() const {
  std::shared_lock<std::shared_mutex> hold(lock_);
  return handle_.slide == nullptr;
}

IMAGE_INFO_STRUCT NativeSlide::HandleFor(std::shared_lock<std::shared_mutex>& lock) const {
  lock = std::shared_lock<std::shared_mutex>(lock_);
  if (handle_.slide == nullptr) throw SlideFailure("the slide " + path_ + " is closed");
  return handle_;
}

void NativeSlide::LoadFacts() {
  HeaderFacts& f = facts_;
  if (!CImageOperationManager::GetHeaderInfo(handle_, f.height, f.width, f.scanScale, f.spendTime,
                                             f.scanTime, f.captureResolution, f.blockSize)) {
    throw SlideFailure("cannot read the header of " + path_);
  }
  if (f.width <= 0 || f.height <= 0 || f.scanScale <= 0) {
    throw SlideFailure(path_ + " has no usable size or scan scale in its header");
  }
  if (!CImageOperationManager::GetVersionInfo(handle_, f.version)) f.version = 0.0f;
  std::fill(std::begin(f.duration), std::end(f.duration), -1);
  int* d = f.duration;
  f.hasDuration = CImageOperationManager::GetScanTimeDuration(handle_, d[0], d[1], d[2], d[3], d[4],
                                                              d[5], d[6], d[7], d[8]) &&
                  d[0] >= 0;
  std::vector<char> serial(kSerialCapacity, '\0');
  if (CImageOperationManager::GetMachineSerialNum(handle_, serial.data(), serial.size())) {
    f.serial = serial.data();
  }
  char* ids[6] = {};
  int count = 0;
  if (CImageOperationManager::GetImageChannelIdentifier(handle_, count, ids[0], ids[1], ids[2],
                                                        ids[3], ids[4], ids[5])) {
    f.channelCount = std::max(count, 0);
    for (char* id : ids) f.channels.emplace_back(id == nullptr ? "" : id);
  }
}

void NativeSlide::LoadLevels() {
  const int count = CImageOperationManager::GetStoredLevels(handle_, nullptr, 0);
  std::vector<CImageOperationManager::StoredLevel> stored(
      static_cast<std::size_t>(std::max(count, 0)));
  if (count > 0) CImageOperationManager::GetStoredLevels(handle_, stored.data(), count);
  for (const auto& s : stored) {
    if (s.width <= 0 || s.height <= 0 || !(s.scale > 0.0f)) continue;
    Level level{s.scale, s.width, s.height, s.tileWidth, s.tileHeight};
    if (level.tileWidth <= 0) level.tileWidth = facts_.blockSize;
    if (level.tileHeight <= 0) level.tileHeight = facts_.blockSize;
    levels_.push_back(level);
  }
  // Formats without a tile map of ours present their full-resolution level.
  if (levels_.empty()) {
    const int block = facts_.blockSize > 0 ? facts_.blockSize : 256;
    levels_.push_back(
        Level{static_cast<float>(facts_.scanScale), facts_.width, facts_.height, block, block});
  }
  if (levels_.front().tileWidth <= 0 || levels_.front().tileHeight <= 0) {
    throw SlideFailure(path_ + " has no usable tile size");
  }
}

std::vector<PropertyItem> NativeSlide::Items() const {
  std::shared_lock<std::shared_mutex> hold;
  const IMAGE_INFO_STRUCT handle = HandleFor(hold);
  const int count = CImageOperationManager::GetPropertyItems(handle, nullptr, 0);
  std::vector<CImageOperationManager::PropertyItemView> views(
      static_cast<std::size_t>(std::max(count, 0)));
  if (count > 0) CImageOperationManager::GetPropertyItems(handle, views.data(), count);
  std::vector<PropertyItem> items;
  for (const auto& view : views) {
    PropertyItem item;
    item.identifier = view.identifier;
    if (view.value != nullptr && view.length > 0) {
      item.value.assign(reinterpret_cast<const char*>(view.value),
                        static_cast<std::size_t>(view.length));
    }
    items.push_back(std::move(item));
  }
  return items;
}

const Level& NativeSlide::LevelAt(int level) const {
  if (level < 0 || level >= static_cast<int>(levels_.size())) {
    throw BadArgument("level " + std::to_string(level) + " is out of range 0.." +
                      std::to_string(levels_.size() - 1));
  }
  return levels_[static_cast<std::size_t>(level)];
}

Pixels NativeSlide::ReadRegion(int levelIndex, std::int64_t x, std::int64_t y, int width,
                               int height) const {
  const Level& level = LevelAt(levelIndex);
  std::shared_lock<std::shared_mutex> hold;
  HandleFor(hold);
  const std::int64_t left = std::max<std::int64_t>(x, 0);
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t right = std::min<std::int64_t>(x + width, level.width);
  const std::int64_t bottom = std::min<std::int64_t>(y + height, level.height);
  if (left >= right || top >= bottom) return Blank(width, height, 4, 0);
  // Every pixel is written once: transparent outside the level, tiles (or
  // transparency for tiles that are missing) inside.
  Pixels out = Unwritten(width, height, 4);
  ClearOutside(left, top, right, bottom, x, y, out);
  for (std::int64_t column = left / level.tileWidth; column <= (right - 1) / level.tileWidth;
       ++column) {
    for (std::int64_t row = top / level.tileHeight; row <= (bottom - 1) / level.tileHeight; ++row) {
      PaintTile(levelIndex, static_cast<int>(column), static_cast<int>(row), x, y, out);
    }
  }
  return out;
}

// Copies one decoded tile into the RGBA output whose top-left is (x, y) of
// the level; a tile that is absent or does not decode stays transparent.
void NativeSlide::PaintTile(int levelIndex, int column, int row, std::int64_t x, std::int64_t y,
                            Pixels& out) const {
  const Level& level = levels_[static_cast<std::size_t>(levelIndex)];
  const std::shared_ptr<const DecodedTile> tile = CachedTile(levelIndex, column, row);
  const std::int64_t tileLeft = static_cast<std::int64_t>(column) * level.tileWidth;
  const std::int64_t tileTop = static_cast<std::int64_t>(row) * level.tileHeight;
  const std::int64_t levelRight = std::min<std::int64_t>(x + out.width, level.width);
  const std::int64_t levelBottom = std::min<std::int64_t>(y + out.height, level.height);
  const std::int64_t fromX = std::max(tileLeft, x);
  const std::int64_t fromY = std::max(tileTop, y);
  const std::int64_t cellRight = std::min(tileLeft + level.tileWidth, levelRight);
  const std::int64_t cellBottom = std::min(tileTop + level.tileHeight, levelBottom);
  if (tile == nullptr) {
    ClearRect(fromX, fromY, cellRight, cellBottom, x, y, out);
    return;
  }
  // Tiles are stored whole; what lies beyond the level's edge is padding. A
  // decoded tile smaller than its grid cell leaves the rest transparent.
  const std::int64_t toX = std::min(tileLeft + tile->width, cellRight);
  const std::int64_t toY = std::min(tileTop + tile->height, cellBottom);
  ClearRect(std::max(toX, fromX), fromY, cellRight, cellBottom, x, y, out);
  ClearRect(fromX, std::max(toY, fromY), std::max(toX, fromX), cellBottom, x, y, out);
  for (std::int64_t py = fromY; py < toY; ++py) {
    const std::uint8_t* source = &tile->rgb[static_cast<std::size_t>(
        ((py - tileTop) * tile->width + (fromX - tileLeft)) * 3)];
    std::uint8_t* target =
        &out.bytes[static_cast<std::size_t>(((py - y) * out.width + (fromX - x)) * 4)];
    for (std::int64_t px = fromX; px < toX; ++px, source += 3, target += 4) {
      target[0] = source[0];
      target[1] = source[1];
      target[2] = source[2];
      target[3] = 255;
    }
  }
}

// Makes the output transparent outside the level's part [left, right) x
// [top, bottom) (level pixels; the output's top-left is (x, y)).
void NativeSlide::ClearOutside(std::int64_t left, std::int64_t top, std::int64_t right,
                               std::int64_t bottom, std::int64_t x, std::int64_t y, Pixels& out) {
  const std::int64_t outRight = x + out.width, outBottom = y + out.height;
  ClearRect(x, y, outRight, top, x, y, out);
  ClearRect(x, bottom, outRight, outBottom, x, y, out);
  ClearRect(x, top, left, bottom, x, y, out);
  ClearRect(right, top, outRight, bottom, x, y, out);
}

// Makes [left, right) x [top, bottom) of the output transparent; empty
// rectangles do nothing.
void NativeSlide::ClearRect(std::int64_t left, std::int64_t top, std::int64_t right,
                            std::int64_t bottom, std::int64_t x, std::int64_t y, Pixels& out) {
  if (left >= right || top >= bottom) return;
  const std::size_t rowBytes = static_cast<std::size_t>(right - left) * 4;
  for (std::int64_t py = top; py < bottom; ++py) {
    std::uint8_t* target =
        &out.bytes[static_cast<std::size_t>(((py - y) * out.width + (left - x)) * 4)];
    std::memset(target, 0, rowBytes);
  }
}

// The decoded tile from the cache, or decoded by the library and kept; null
// when the tile is absent or does not decode.
std::shared_ptr<const DecodedTile> NativeSlide::CachedTile(int levelIndex, int column,
                                                           int row) const {
  if (auto cached = cache_.Find(levelIndex, column, row)) return cached;
  const Level& level = levels_[static_cast<std::size_t>(levelIndex)];
  IMAGE_INFO_STRUCT handle = handle_;
  int length = 0, width = 0, height = 0;
  unsigned char* raw = nullptr;
  CImageOperationManager::GetImageDataBlockStream(handle, level.scale, column * level.tileWidth,
                                                  row * level.tileHeight, length, width, height,
                                                  &raw);
  const LibraryBuffer decoded(raw);
  if (decoded == nullptr || width <= 0 || height <= 0 ||
      static_cast<std::int64_t>(width) * height * 3 != length) {
    return nullptr;
  }
  auto tile = std::make_shared<DecodedTile>();
  tile->width = width;
  tile->height = height;
  tile->rgb.assign(decoded.get(), decoded.get() + length);
  cache_.Keep(levelIndex, column, row, tile);
  return tile;
}

Pixels NativeSlide::ReadTile(int levelIndex, int column, int row) const {
  LevelAt(levelIndex);
  if (column < 0 || row < 0) throw BadArgument("tile column and row must not be negative");
  std::shared_lock<std::shared_mutex> hold;
  HandleFor(hold);
  const std::shared_ptr<const DecodedTile> tile = CachedTile(levelIndex, column, row);
  if (tile == nullptr) return Pixels{};
  return RgbCopy(tile->rgb.data(), tile->width, tile->height);
}

std::string NativeSlide::ReadTileStream(int levelIndex, int column, int row) const {
  const Level& level = LevelAt(levelIndex);
  if (column < 0 || row < 0) throw BadArgument("tile column and row must not be negative");
  std::shared_lock<std::shared_mutex> hold;
  IMAGE_INFO_STRUCT handle = HandleFor(hold);
  const int x = column * level.tileWidth;
  const int y = row * level.tileHeight;
  // The first call learns the stored length, the second copies into a
  // buffer of that size from the library's allocator.
  int length = 0;
  unsigned char* none = nullptr;
  CImageOperationManager::GetImageBlockStream(handle, level.scale, x, y, length, &none);
  if (length <= 0) return {};
  std::string stream(static_cast<std::size_t>(length), '\0');
  unsigned char* target = reinterpret_cast<unsigned char*>(stream.data());
  int copied = 0;
  CImageOperationManager::GetImageBlockStream(handle, level.scale, x, y, copied, &target);
  if (target != reinterpret_cast<unsigned char*>(stream.data())) {
    // A stream composed by the library arrives in a buffer of its own.
    LibraryBuffer composed(target);
    if (composed == nullptr || copied <= 0) return {};
    return std::string(reinterpret_cast<const char*>(composed.get()),
                       static_cast<std::size_t>(copied));
  }
  if (copied != length) return {};
  return stream;
}

Pixels NativeSlide::ReadScaled(int x, int y, int width, int height, double scale) const {
  if (!std::isfinite(scale) || scale <= 0.0) throw BadArgument("scale must be a positive number");
  if (width <= 0 || height <= 0) throw BadArgument("width and height must be positive");
  CheckedBytes(width, height, 3);
  std::shared_lock<std::shared_mutex> hold;
  IMAGE_INFO_STRUCT handle = HandleFor(hold);
  unsigned char* raw = nullptr;
  int length = 0;
  const bool read = CImageOperationManager::GetImageDataRoi(handle, static_cast<float>(scale), x, y,
                                                            width, height, &raw, length, false);
  LibraryBuffer pixels(raw);
  if (read && pixels != nullptr && static_cast<std::int64_t>(width) * height * 3 == length) {
    return RgbCopy(pixels.get(), width, height);
  }
  // The library refuses rectangles that miss the slide; they are all white.
  const double ratio = scale / facts_.scanScale;
  const double slideWidth = facts_.width * ratio, slideHeight = facts_.height * ratio;
  const bool outside = x >= slideWidth || y >= slideHeight ||
                       static_cast<std::int64_t>(x) + width <= 0 ||
                       static_cast<std::int64_t>(y) + height <= 0;
  if (outside) return Blank(width, height, 3, 255);
  throw SlideFailure("cannot read the region at (" + std::to_string(x) + ", " + std::to_string(y) +
                     ") of " + path_);
}

std::string NativeSlide::AssociatedImage(const std::string& name) const {
  using Fetch = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int&, int&, int&);
  Fetch fetch = nullptr;
  if (name == "label") fetch = &CImageOperationManager::GetLabelInfo;
  if (name == "preview") fetch = &CImageOperationManager::GetPriviewInfo;
  if (name == "thumbnail") fetch = &CImageOperationManager::GetThumnailImage;
  if (fetch == nullptr) throw BadArgument("no associated image is called " + name);
  std::shared_lock<std::shared_mutex> hold;
  IMAGE_INFO_STRUCT handle = HandleFor(hold);
  unsigned char* raw = nullptr;
  int length = 0, width = 0, height = 0;
  const bool found = fetch(handle, &raw, length, width, height);
  LibraryBuffer stream(raw);
  if (!found || stream == nullptr || length <= 0) return {};
  return std::string(reinterpret_cast<const char*>(stream.get()), static_cast<std::size_t>(length));
}

}  // namespace strata::python
