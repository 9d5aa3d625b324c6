// CSVSDataFile: SVS and TIFF slides read natively where the native reader
// reads them exactly as OpenSlide does, by OpenSlide otherwise.
#include <climits>
#include <cstring>

#include "strata/foreign/openslide_data_file.h"
#include "strata/model/image_buffer.h"
#include "strata/tiff/tiff_slide.h"

using strata::PixelBuffer;
using strata::Status;
using strata::tiff::TiffSlide;

namespace {

constexpr int kExportTileSize = 256;

bool IsUrl(const char* path) { return std::strstr(path, "http://") != nullptr; }

}  // namespace

CSVSDataFile::CSVSDataFile() = default;
CSVSDataFile::~CSVSDataFile() = default;

bool CSVSDataFile::OpenFile(const char* path) {
  // OpenSlide reads local files only; URLs are the native reader's.
  if (path != nullptr && IsUrl(path)) return StorePath(path);
  return COpenSlideFormatFile<CSVSDataHeader>::OpenFile(path);
}

int CSVSDataFile::CloseFile() {
  native_.reset();
  return COpenSlideFormatFile<CSVSDataHeader>::CloseFile();
}

int CSVSDataFile::OpenSource(bool requireObjectivePower) {
  CloseFile();
  if (strata::tiff::NativeTiffEnabled()) {
    std::unique_ptr<TiffSlide> native;
    const Status opened = TiffSlide::Open(path_, &native);
    if (opened.ok()) {
      const strata::SlideDescription& description = native->Description();
      const auto power = description.properties.find("openslide.objective-power");
      std::vector<strata::foreign::OpenSlideLevel> levels;
      for (const strata::SlideLevel& level : description.levels) {
        levels.push_back({level.width, level.height, level.downsample});
      }
      auto header = std::make_unique<CSVSDataHeader>(strata::foreign::OpenSlideLibrary(), nullptr);
      if (!header->BuildFromLevels(description.facts.width, description.facts.height,
                                   power == description.properties.end() ? "" : power->second,
                                   levels)) {
        return Fail(-1, Status::Damaged("the slide's size or levels are unusable"));
      }
      if (requireObjectivePower && !UsableObjectivePower(header->ObjectivePower())) {
        return Fail(-1, NoObjectivePower());
      }
      AdoptHeader(std::move(header));
      native_ = std::move(native);
      return 0;
    }
    if (IsUrl(path_)) return Fail(-1, opened);
  }
  return COpenSlideFormatFile<CSVSDataHeader>::OpenSource(requireObjectivePower);
}

std::int32_t CSVSDataFile::BestLevelFor(double downsample) const {
  if (native_ == nullptr) return COpenSlideFormatFile<CSVSDataHeader>::BestLevelFor(downsample);
  // OpenSlide's rule: the last level whose downsample is not above the request.
  const std::vector<strata::SlideLevel>& levels = native_->Description().levels;
  if (downsample < levels.front().downsample) return 0;
  for (std::size_t n = 1; n < levels.size(); ++n) {
    if (downsample < levels[n].downsample) return static_cast<std::int32_t>(n - 1);
  }
  return static_cast<std::int32_t>(levels.size() - 1);
}

bool CSVSDataFile::ReadLevelInto(int level, std::int64_t x, std::int64_t y, int w, int h,
                                 bool compositeBackground,
                                 const strata::WindowTarget& target) const {
  if (native_ == nullptr) {
    return COpenSlideFormatFile<CSVSDataHeader>::ReadLevelInto(level, x, y, w, h,
                                                              compositeBackground, target);
  }
  // These slides have no background colour and no offset.
  return native_->ReadLevelRgb(level, x, y, w, h, target, strata::TileCacheUse{}).ok();
}

std::vector<std::string> CSVSDataFile::AssociatedImageNames() const {
  if (native_ == nullptr) return COpenSlideFormatFile<CSVSDataHeader>::AssociatedImageNames();
  return native_->Description().associatedImages;
}

bool CSVSDataFile::ReadAssociatedPixels(const char* name, PixelBuffer& rgb, int& width,
                                        int& height) const {
  if (native_ == nullptr) {
    return COpenSlideFormatFile<CSVSDataHeader>::ReadAssociatedPixels(name, rgb, width, height);
  }
  strata::Image image;
  if (!native_->ReadAssociatedImage(name, &image).ok()) return false;
  rgb.reset(strata::AllocateBuffer(image.pixels.size()));
  if (rgb == nullptr) return false;
  std::memcpy(rgb.get(), image.pixels.data(), image.pixels.size());
  width = image.width;
  height = image.height;
  return true;
}

bool CSVSDataFile::ReadStoredTile(int level, int x, int y, int& length,
                                  unsigned char** out) const {
  const strata::tiff::TiffLevel& info =
      native_->Layout().levels[static_cast<std::size_t>(level)];
  // The export's tiles are 256 pixels at the level's own scale, cut short
  // at the level's edge: only whole stored 256 x 256 JPEG tiles are one.
  if (info.coding != strata::tiff::TileCoding::kJpeg || info.tileWidth != kExportTileSize ||
      info.tileHeight != kExportTileSize || x < 0 || y < 0 || x % kExportTileSize != 0 ||
      y % kExportTileSize != 0 || x + kExportTileSize > info.width ||
      y + kExportTileSize > info.height) {
    return false;
  }
  // The stream is read straight into the buffer handed out.
  PixelBuffer stream;
  std::size_t size = 0;
  const Status read = native_->ReadWholeJpeg(level, x / kExportTileSize, y / kExportTileSize,
                                             [&](std::size_t bytes) {
                                               size = bytes;
                                               stream.reset(strata::AllocateBuffer(bytes));
                                               return stream.get();
                                             });
  if (!read.ok() || size > static_cast<std::size_t>(INT_MAX)) return false;
  *out = stream.release();
  length = static_cast<int>(size);
  return true;
}

unsigned char* CSVSDataFile::ReadTileStream(float scale, int x, int y, int& length,
                                            unsigned char** out) {
  if (out != nullptr && native_ != nullptr) {
    const int level = LevelAtOwnScale(scale);
    if (level >= 0 && ReadStoredTile(level, x, y, length, out)) return nullptr;
  }
  return COpenSlideFormatFile<CSVSDataHeader>::ReadTileStream(scale, x, y, length, out);
}
