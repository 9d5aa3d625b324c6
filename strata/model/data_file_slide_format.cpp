#include "strata/model/data_file_slide_format.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "strata/model/image_buffer.h"
#include "strata/model/region_composer.h"
#include "strata/model/tile_decoder.h"

namespace strata {
namespace {

// Levels halve until one tile holds the level; a slide never has more.
constexpr int kMaxLevels = 32;

bool LooksLikeBmp(const unsigned char* bytes, std::size_t length) {
  return length >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

class DataFileFormat : public SlideFormat {
 public:
  explicit DataFileFormat(std::unique_ptr<CDataFile> slide) : slide_(std::move(slide)) {}
  ~DataFileFormat() override { slide_->CloseFile(); }

  Status Describe(const std::string& name);

  Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const override;
  Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgb) const override;
  Status ReadAssociatedImage(const std::string& name, Image* rgb) const override;

 private:
  using ImageGetter = bool (*)(CDataFile&, unsigned char**, int&, int&, int&);
  static ImageGetter GetterOf(const std::string& name);
  float LevelScale(int level) const {
    return static_cast<float>(BaseScale() / description_.levels[static_cast<std::size_t>(level)]
                                                .downsample);
  }

  std::unique_ptr<CDataFile> slide_;
  mutable std::mutex lock_;
};

Status DataFileFormat::Describe(const std::string& name) {
  CDataHeader* header = slide_->GetHeader();
  if (header == nullptr) return Status::Damaged("the library reports no header for the slide");
  const int width = header->GetWidth();
  const int height = header->GetHeight();
  const int scanScale = header->GetScanScale();
  const int block = header->GetBlockSize() > 0 ? header->GetBlockSize() : 256;
  if (width <= 0 || height <= 0 || scanScale <= 0) {
    return Status::Damaged("the library reports no usable size or scan scale");
  }
  SlideFacts& facts = description_.facts;
  facts.format = name;
  facts.width = width;
  facts.height = height;
  facts.objectivePower = scanScale;
  const float resolution = header->GetCaptureResolution();
  if (resolution > 0.0f && std::isfinite(resolution)) {
    facts.micronsPerPixelX = facts.micronsPerPixelY = resolution;
  }
  facts.hasScanTime = header->GetScanTime() > 0;
  facts.scanTime = facts.hasScanTime ? header->GetScanTime() : 0;
  facts.scanDurationSeconds = header->GetSpendTime() > 0 ? header->GetSpendTime() / 1000.0 : 0.0;
  facts.version = header->GetVersion();
  for (int k = 0; k < kMaxLevels; ++k) {
    const double downsample = std::ldexp(1.0, k);
    SlideLevel level;
    level.width = static_cast<std::int64_t>(std::ceil(width / downsample));
    level.height = static_cast<std::int64_t>(std::ceil(height / downsample));
    level.downsample = downsample;
    level.tileWidth = level.tileHeight = block;
    description_.levels.push_back(level);
    if (level.width <= block && level.height <= block) break;
  }
  for (const char* image : {"label", "macro", "thumbnail"}) {
    Image probe;
    if (ReadAssociatedImage(image, &probe).ok()) description_.associatedImages.emplace_back(image);
  }
  return Status::Ok();
}

Status DataFileFormat::ReadTile(int level, std::int64_t column, std::int64_t row,
                                Tile* tile) const {
  const SlideLevel& info = description_.levels[static_cast<std::size_t>(level)];
  const std::int64_t x = column * info.tileWidth;
  const std::int64_t y = row * info.tileHeight;
  if (x >= info.width || y >= info.height || x > INT32_MAX || y > INT32_MAX) {
    return Status::NotFound("level " + std::to_string(level) + " has no tile at column " +
                            std::to_string(column) + ", row " + std::to_string(row));
  }
  unsigned char* bytes = nullptr;
  int length = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    slide_->ReadTileStream(LevelScale(level), static_cast<int>(x), static_cast<int>(y), length,
                           &bytes);
  }
  const PixelBuffer owned(bytes);
  if (owned == nullptr || length <= 0) {
    return Status::NotFound("the library has no tile at column " + std::to_string(column) +
                            ", row " + std::to_string(row) + " of level " +
                            std::to_string(level));
  }
  tile->bytes.assign(owned.get(), owned.get() + length);
  tile->encoding = LooksLikeBmp(owned.get(), static_cast<std::size_t>(length)) ? TileEncoding::kBmp
                                                                               : TileEncoding::kJpeg;
  tile->width = static_cast<int>(std::min<std::int64_t>(info.tileWidth, info.width - x));
  tile->height = static_cast<int>(std::min<std::int64_t>(info.tileHeight, info.height - y));
  return Status::Ok();
}

Status DataFileFormat::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width,
                                  int height, Image* rgb) const {
  if (x >= INT32_MIN && x <= INT32_MAX && y >= INT32_MIN && y <= INT32_MAX) {
    unsigned char* pixels = nullptr;
    int length = 0;
    int read = 0;
    {
      std::lock_guard<std::mutex> hold(lock_);
      read = slide_->ReadRegion(static_cast<float>(scale), static_cast<int>(x),
                                static_cast<int>(y), width, height, &pixels, length, false);
    }
    const PixelBuffer owned(pixels);
    if (read != 0 && owned != nullptr &&
        static_cast<std::int64_t>(length) == static_cast<std::int64_t>(width) * height * 3 &&
        AllocateImage(width, height, 3, rgb)) {
      std::copy(owned.get(), owned.get() + length, rgb->pixels.begin());
      return Status::Ok();
    }
  }
  // A library that composes no regions of its own: from its tiles.
  return SlideFormat::ReadScaled(scale, x, y, width, height, rgb);
}

DataFileFormat::ImageGetter DataFileFormat::GetterOf(const std::string& name) {
  if (name == "label") {
    return [](CDataFile& s, unsigned char** d, int& l, int& w, int& h) {
      return s.GetLabel(d, l, w, h);
    };
  }
  if (name == "macro") {
    return [](CDataFile& s, unsigned char** d, int& l, int& w, int& h) {
      return s.GetPreview(d, l, w, h);
    };
  }
  if (name == "thumbnail") {
    return [](CDataFile& s, unsigned char** d, int& l, int& w, int& h) {
      return s.GetThumbnail(d, l, w, h) != 0;
    };
  }
  return nullptr;
}

Status DataFileFormat::ReadAssociatedImage(const std::string& name, Image* rgb) const {
  const ImageGetter get = GetterOf(name);
  if (get == nullptr) return SlideFormat::ReadAssociatedImage(name, rgb);
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  bool found = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    found = get(*slide_, &data, length, width, height);
  }
  const PixelBuffer stream(data);
  if (!found || stream == nullptr || length <= 0) {
    return Status::NotFound("the slide has no " + name + " image");
  }
  PixelBuffer pixels =
      DecodeTileStream(stream.get(), static_cast<std::size_t>(length),
                       LooksLikeBmp(stream.get(), static_cast<std::size_t>(length)), kAnyFrame,
                       width, height);
  if (pixels == nullptr) return Status::Damaged("the " + name + " image does not decode");
  rgb->width = width;
  rgb->height = height;
  rgb->channels = 3;
  rgb->pixels.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height * 3);
  return Status::Ok();
}

}  // namespace

Status OpenDataFileSlide(std::unique_ptr<CDataFile> slide, const std::string& path,
                         const std::string& name, std::unique_ptr<SlideFormat>* format) {
  if (!slide->OpenFile(path.c_str()) || slide->LoadFile() != 0) {
    const Status reason = slide->LastStatus();
    slide->CloseFile();
    return reason.ok() ? Status::Unsupported("the " + name + " library cannot open the slide")
                       : reason;
  }
  auto made = std::make_unique<DataFileFormat>(std::move(slide));
  const Status described = made->Describe(name);
  if (!described.ok()) return described;
  *format = std::move(made);
  return Status::Ok();
}

}  // namespace strata
