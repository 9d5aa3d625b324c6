#include "strata/tiff/tiff_slide.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "strata/foreign/openslide_pixels.h"
#include "strata/foreign/openslide_regions.h"
#include "strata/model/region_geometry.h"
#include "strata/platform/file_io.h"
#include "strata/tiff/reference_paint.h"
#include "strata/tiff/tiff_client.h"
#include "strata/tiff/tiff_properties.h"
#include "strata/tiff/tiff_tile_store.h"

namespace strata::tiff {
namespace {

PaintGeometry GeometryOf(const TiffLevel& level) {
  PaintGeometry geometry;
  geometry.width = level.width;
  geometry.height = level.height;
  geometry.tileWidth = level.tileWidth;
  geometry.tileHeight = level.tileHeight;
  geometry.downsample = level.downsample;
  return geometry;
}

// Decoded tiles for painting, through the read's tile cache when it has one.
class SlideTiles : public PaintTiles {
 public:
  SlideTiles(const SlideFormat& slide, int level, const TileCacheUse& cache)
      : slide_(slide), level_(level), cache_(cache) {}

  std::shared_ptr<const Image> Tile(std::int64_t column, std::int64_t row) override {
    if (cache_.cache != nullptr) {
      if (auto kept = cache_.cache->Find(cache_.owner, level_, column, row)) return kept;
    }
    strata::Tile tile;
    failure_ = slide_.ReadTile(level_, column, row, &tile);
    if (!failure_.ok()) return nullptr;
    int width = 0;
    int height = 0;
    const PixelBuffer pixels = slide_.DecodeTile(level_, tile, width, height);
    if (pixels == nullptr) {
      failure_ = Status::Damaged("tile " + std::to_string(column) + ", " + std::to_string(row) +
                                 " of level " + std::to_string(level_) + " does not decode");
      return nullptr;
    }
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->channels = 3;
    image->pixels.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height * 3);
    if (cache_.cache != nullptr) cache_.cache->Keep(cache_.owner, level_, column, row, image);
    return image;
  }
  const Status& Failure() const { return failure_; }

 private:
  const SlideFormat& slide_;
  int level_;
  TileCacheUse cache_;
  Status failure_;
};

// One level as a tile grid for whole-pixel windows. Every tile of these
// slides exists, so a tile that cannot be read or decoded is damage, which
// the grid remembers instead of leaving the cell empty.
class LevelGrid : public FormatTileGrid {
 public:
  LevelGrid(const SlideFormat& slide, int level, const TiffLevel& info, const TileCacheUse& cache)
      : FormatTileGrid(slide, level, cache), info_(info) {}
  bool TilesAreColourJpeg() override { return info_.coding == TileCoding::kJpeg; }
  const Status& Failure() const { return failure_; }

 protected:
  void TileFailed(const Status& failure) override {
    if (failure_.ok()) failure_ = failure;
  }

 private:
  const TiffLevel& info_;
  Status failure_;
};

}  // namespace

bool NativeTiffEnabled() {
  const char* value = platform::EnvironmentValue("STRATA_NATIVE_TIFF");
  return value == nullptr || std::strcmp(value, "0") != 0;
}

TiffSlide::TiffSlide(std::unique_ptr<TiffTileStore> store) : store_(std::move(store)) {}

TiffSlide::~TiffSlide() = default;

const TiffLayout& TiffSlide::Layout() const { return store_->Layout(); }

Status TiffSlide::Open(const std::string& location, std::unique_ptr<TiffSlide>* slide) {
  slide->reset();
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(location.c_str()));
  if (reader == nullptr || !reader->Open(location.c_str())) {
    return Status::IoError("cannot open the file");
  }
  return OpenFrom(std::move(reader), location, slide);
}

Status TiffSlide::OpenFrom(std::unique_ptr<CFileOperationTool> reader, const std::string& name,
                           std::unique_ptr<TiffSlide>* slide) {
  slide->reset();
  std::unique_ptr<TiffClient> client;
  Status status = TiffClient::Open(reader.get(), name, &client);
  std::vector<TiffDirectory> directories;
  if (status.ok()) status = ReadTiffDirectories(*client, &directories);
  TiffLayout layout;
  if (status.ok()) status = PlanTiffSlide(directories, client->SourceSize(), &layout);
  std::string quickHash;
  if (status.ok()) status = ComputeQuickHash(*reader, directories, layout, &quickHash);
  if (!status.ok()) return status;
  std::map<std::string, std::string> properties =
      DescribeTiffProperties(directories, layout, quickHash);
  auto store = std::make_unique<TiffTileStore>(std::move(reader), std::move(client),
                                               std::move(directories), std::move(layout));
  std::unique_ptr<TiffSlide> made(new TiffSlide(std::move(store)));
  made->Describe(std::move(properties));
  *slide = std::move(made);
  return Status::Ok();
}

void TiffSlide::Describe(std::map<std::string, std::string> properties) {
  const TiffLayout& layout = store_->Layout();
  for (const TiffLevel& stored : layout.levels) {
    SlideLevel level;
    level.width = stored.width;
    level.height = stored.height;
    level.downsample = stored.downsample;
    level.tileWidth = stored.tileWidth;
    level.tileHeight = stored.tileHeight;
    description_.levels.push_back(level);
  }
  for (const TiffAssociatedImage& image : layout.associatedImages) {
    description_.associatedImages.push_back(image.name);
  }
  SlideFacts& facts = description_.facts;
  facts.format = layout.vendor;
  facts.width = layout.levels.front().width;
  facts.height = layout.levels.front().height;
  facts.objectivePower = PositiveNumberProperty(properties, "openslide.objective-power");
  facts.micronsPerPixelX = PositiveNumberProperty(properties, "openslide.mpp-x");
  facts.micronsPerPixelY = PositiveNumberProperty(properties, "openslide.mpp-y");
  // The profile of the file: its first directory's.
  description_.iccProfile = store_->Directories().front().iccProfile;
  description_.properties = std::move(properties);
}

Status TiffSlide::ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const {
  const TiffLevel& info = Layout().levels[static_cast<std::size_t>(level)];
  if (column >= info.TilesAcross() || row >= info.TilesDown()) {
    return Status::NotFound("level " + std::to_string(level) + " has no tile at column " +
                            std::to_string(column) + ", row " + std::to_string(row));
  }
  const int width = static_cast<int>(
      std::min<std::int64_t>(info.tileWidth, info.width - column * info.tileWidth));
  const int height = static_cast<int>(
      std::min<std::int64_t>(info.tileHeight, info.height - row * info.tileHeight));
  tile->width = width;
  tile->height = height;
  if (info.coding == TileCoding::kJpeg) {
    tile->encoding = TileEncoding::kJpeg;
    return store_->ReadJpeg(level, column, row, TiffTileStore::VectorPlacement(&tile->bytes));
  }
  Image whole;
  const Status decoded = store_->DecodeOther(level, column, row, &whole);
  if (!decoded.ok()) return decoded;
  tile->encoding = TileEncoding::kRgb;
  tile->bytes.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    std::memcpy(tile->bytes.data() + static_cast<std::size_t>(y) * width * 3,
                whole.pixels.data() + static_cast<std::size_t>(y) * info.tileWidth * 3,
                static_cast<std::size_t>(width) * 3);
  }
  return Status::Ok();
}

Status TiffSlide::ReadWholeJpeg(int level, std::int64_t column, std::int64_t row,
                                const TilePlacement& place) const {
  if (Layout().levels[static_cast<std::size_t>(level)].coding != TileCoding::kJpeg) {
    return Status::Unsupported("level " + std::to_string(level) + " does not store JPEG tiles");
  }
  return store_->ReadJpeg(level, column, row, place);
}

void TiffSlide::PrefetchTiles(
    int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) const {
  const TiffLevel& info = Layout().levels[static_cast<std::size_t>(level)];
  std::vector<std::pair<std::int64_t, std::int64_t>> cells;
  cells.reserve(origins.size());
  for (const auto& [x, y] : origins) cells.emplace_back(x / info.tileWidth, y / info.tileHeight);
  store_->Prefetch(level, cells);
}

Status TiffSlide::FillLevelWindow(int level, std::int64_t left, std::int64_t top, int width,
                                  int height, const TileCacheUse& cache, unsigned char* pixels,
                                  std::size_t stride, int channels) const {
  const TiffLevel& info = Layout().levels[static_cast<std::size_t>(level)];
  const unsigned char missing = channels == 4 ? 0 : 255;
  const std::int64_t x0 = std::max<std::int64_t>(left, 0);
  const std::int64_t y0 = std::max<std::int64_t>(top, 0);
  const std::int64_t x1 = std::min<std::int64_t>(left + width, info.width);
  const std::int64_t y1 = std::min<std::int64_t>(top + height, info.height);
  const auto bytes = [channels](std::int64_t count) {
    return static_cast<std::size_t>(count) * static_cast<std::size_t>(channels);
  };
  for (int row = 0; row < height; ++row) {
    unsigned char* line = pixels + static_cast<std::size_t>(row) * stride;
    const std::int64_t levelY = top + row;
    if (levelY < y0 || levelY >= y1 || x0 >= x1) {
      std::memset(line, missing, bytes(width));
      continue;
    }
    std::memset(line, missing, bytes(x0 - left));
    std::memset(line + bytes(x1 - left), missing, bytes(left + width - x1));
  }
  if (x0 >= x1 || y0 >= y1) return Status::Ok();
  LevelGrid grid(*this, level, info, cache);
  const WindowTarget target{pixels + static_cast<std::size_t>(y0 - top) * stride + bytes(x0 - left),
                            stride, channels};
  FillFromTileGrid(grid, x0, y0, static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), target,
                   missing);
  return grid.Failure();
}

template <typename Whole, typename Painted>
Status TiffSlide::ReadParts(int level, std::int64_t x, std::int64_t y, int width, int height,
                            const TileCacheUse& cache, Whole whole, Painted painted) const {
  const TiffLevel& info = Layout().levels[static_cast<std::size_t>(level)];
  const PaintGeometry geometry = GeometryOf(info);
  std::vector<std::uint32_t> argb;
  for (const PaintPart& part : PaintParts(x, y, width, height, info.downsample)) {
    std::int64_t left = 0;
    std::int64_t top = 0;
    if (WholePixelOrigin(geometry, part, &left, &top)) {
      const Status filled = whole(part, left, top);
      if (!filled.ok()) return filled;
      continue;
    }
    argb.assign(static_cast<std::size_t>(part.width) * part.height, 0);
    SlideTiles tiles(*this, level, cache);
    if (!PaintPartArgb(geometry, tiles, part, argb.data(), static_cast<std::size_t>(part.width))) {
      return tiles.Failure();
    }
    painted(part, argb.data());
  }
  return Status::Ok();
}

Status TiffSlide::ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                             const TileCacheUse& cache, Image* rgba) const {
  if (!AllocateImage(width, height, 4, rgba)) {
    return Status::TooLarge("a " + std::to_string(width) + " x " + std::to_string(height) +
                            " region is over the memory budget");
  }
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  const auto at = [&](const PaintPart& part) {
    return rgba->pixels.data() + static_cast<std::size_t>(part.top) * stride +
           static_cast<std::size_t>(part.left) * 4;
  };
  return ReadParts(
      level, x, y, width, height, cache,
      [&](const PaintPart& part, std::int64_t left, std::int64_t top) {
        return FillLevelWindow(level, left, top, part.width, part.height, cache, at(part), stride,
                               4);
      },
      [&](const PaintPart& part, const std::uint32_t* argb) {
        for (int row = 0; row < part.height; ++row) {
          foreign::ConvertArgbToRgba(argb + static_cast<std::size_t>(row) * part.width,
                                     static_cast<std::size_t>(part.width),
                                     at(part) + static_cast<std::size_t>(row) * stride);
        }
      });
}

Status TiffSlide::ReadLevelArgb(int level, std::int64_t x, std::int64_t y, int width, int height,
                                std::uint32_t* argb) const {
  const TiffLevel& info = Layout().levels[static_cast<std::size_t>(level)];
  SlideTiles tiles(*this, level, TileCacheUse{});
  for (const PaintPart& part : PaintParts(x, y, width, height, info.downsample)) {
    std::uint32_t* at = argb + static_cast<std::size_t>(part.top) * width + part.left;
    if (!PaintPartArgb(GeometryOf(info), tiles, part, at, static_cast<std::size_t>(width))) {
      return tiles.Failure();
    }
  }
  return Status::Ok();
}

Status TiffSlide::ReadLevelRgb(int level, std::int64_t x, std::int64_t y, int width, int height,
                               const WindowTarget& target, const TileCacheUse& cache) const {
  const auto at = [&](const PaintPart& part) {
    return target.pixels + static_cast<std::size_t>(part.top) * target.stride +
           static_cast<std::size_t>(part.left) * 3;
  };
  const foreign::BackgroundColour none;
  return ReadParts(
      level, x, y, width, height, cache,
      [&](const PaintPart& part, std::int64_t left, std::int64_t top) {
        return FillLevelWindow(level, left, top, part.width, part.height, cache, at(part),
                               target.stride, 3);
      },
      [&](const PaintPart& part, const std::uint32_t* argb) {
        for (int row = 0; row < part.height; ++row) {
          foreign::ConvertArgbToRgb(argb + static_cast<std::size_t>(row) * part.width,
                                    static_cast<std::size_t>(part.width), none,
                                    at(part) + static_cast<std::size_t>(row) * target.stride);
        }
      });
}

Status TiffSlide::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                             Image* rgb) const {
  std::vector<double> downsamples;
  for (const SlideLevel& level : description_.levels) downsamples.push_back(level.downsample);
  Status failure;
  foreign::LevelWindowSource source(
      description_.facts.width, description_.facts.height, BaseScale(), std::move(downsamples),
      [&](int level, std::int64_t lx, std::int64_t ly, int w, int h, const WindowTarget& target) {
        failure = ReadLevelRgb(level, lx, ly, w, h, target, TileCacheUse{});
        return failure.ok();
      });
  const Status composed = ComposeInto(source, scale, x, y, width, height, rgb);
  return composed.ok() || failure.ok() ? composed : failure;
}

Status TiffSlide::ReadAssociatedImage(const std::string& name, Image* rgb) const {
  for (const TiffAssociatedImage& image : Layout().associatedImages) {
    if (image.name == name) return store_->ReadAssociated(image, rgb);
  }
  return SlideFormat::ReadAssociatedImage(name, rgb);
}

}  // namespace strata::tiff
