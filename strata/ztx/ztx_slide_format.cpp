#include "strata/ztx/ztx_slide_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "strata/model/image_buffer.h"
#include "strata/model/region_composer.h"
#include "strata/model/tile_decoder.h"
#include "strata/platform/file_io.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_header.h"

namespace strata::ztx {
namespace {

// What the tile index says about one stored level.
struct StoredLevel {
  float scale = 0;
  std::int64_t width = 0;  // up to the far edge of its last tile
  std::int64_t height = 0;
  int tileWidth = 0;  // the size of its top-left tile
  int tileHeight = 0;
};

// The slide's extent at `scale`, rounded up: halving a level of odd size
// keeps its last, partly covered pixel.
std::int64_t ExtentAt(int fullSize, float scale, int scanScale) {
  if (scanScale <= 0) return fullSize;
  return static_cast<std::int64_t>(
      std::ceil(static_cast<double>(fullSize) * scale / scanScale - 1e-9));
}

// Stored levels from the largest scale down, each bounded by the slide's
// extent at its scale (tiles are stored whole, padded at the edge).
std::vector<StoredLevel> StoredLevelsOf(CZTXDataFile& slide, CDataHeader& header) {
  std::map<float, StoredLevel, std::greater<float>> levels;
  for (const TileInfo& tile : slide.Tiles()) {
    StoredLevel& level = levels[tile.scale];
    level.scale = tile.scale;
    level.width = std::max<std::int64_t>(level.width, static_cast<std::int64_t>(tile.x) + tile.width);
    level.height =
        std::max<std::int64_t>(level.height, static_cast<std::int64_t>(tile.y) + tile.height);
    if (tile.x == 0 && tile.y == 0) {
      level.tileWidth = tile.width;
      level.tileHeight = tile.height;
    }
  }
  std::vector<StoredLevel> result;
  const int block = header.GetBlockSize();
  for (auto& [scale, level] : levels) {
    level.width = std::min(level.width, ExtentAt(header.GetWidth(), scale, header.GetScanScale()));
    level.height =
        std::min(level.height, ExtentAt(header.GetHeight(), scale, header.GetScanScale()));
    if (level.tileWidth <= 0) level.tileWidth = block;
    if (level.tileHeight <= 0) level.tileHeight = block;
    if (level.width > 0 && level.height > 0 && level.tileWidth > 0 && level.tileHeight > 0 &&
        scale > 0.0f) {
      result.push_back(level);
    }
  }
  return result;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string IsoTime(std::int64_t seconds) {
  std::tm utc{};
  if (!platform::ToUniversalTime(seconds, utc)) return "";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
  return text;
}

// A property item as text: printable bytes as they are, a four-byte value as
// the integer it holds, anything else as hex.
std::string ItemText(const unsigned char* value, int length) {
  if (value == nullptr || length <= 0) return "";
  int end = length;
  while (end > 0 && value[end - 1] == 0) --end;
  bool printable = end > 0;
  for (int i = 0; i < end; ++i) printable = printable && value[i] >= 32 && value[i] < 127;
  if (printable) return std::string(reinterpret_cast<const char*>(value), end);
  if (length == 4) {
    std::int32_t number = 0;
    std::memcpy(&number, value, 4);
    return std::to_string(number);
  }
  std::string hex;
  char pair[3];
  for (int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value[i]);
    hex += pair;
  }
  return hex;
}

class ZtxSlideFormat : public SlideFormat {
 public:
  explicit ZtxSlideFormat(std::unique_ptr<CZTXDataFile> slide) : slide_(std::move(slide)) {}
  ~ZtxSlideFormat() override { slide_->CloseFile(); }

  Status Describe();

  Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const override;
  Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgb) const override;
  Status ReadAssociatedImage(const std::string& name, Image* rgb) const override;
  void PrefetchTiles(int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins)
      const override;

 private:
  const TileInfo* FindTile(int level, std::int64_t x, std::int64_t y) const;
  void DescribeFacts(CZTXDataHeader& header);
  void DescribeProperties(CZTXDataHeader& header);
  void DescribeAssociatedImages();

  std::unique_ptr<CZTXDataFile> slide_;
  std::vector<float> scales_;  // per level
  mutable std::mutex imagesLock_;
};

Status ZtxSlideFormat::Describe() {
  CZTXDataHeader* header = slide_->GetHeader();
  if (header == nullptr) return Status::Damaged("the ZTX header could not be read");
  if (header->GetWidth() <= 0 || header->GetHeight() <= 0 || header->GetScanScale() <= 0) {
    return Status::Damaged("the ZTX header gives no usable size or scan scale");
  }
  for (const StoredLevel& stored : StoredLevelsOf(*slide_, *header)) {
    SlideLevel level;
    level.width = stored.width;
    level.height = stored.height;
    level.downsample = static_cast<double>(header->GetScanScale()) / stored.scale;
    level.tileWidth = stored.tileWidth;
    level.tileHeight = stored.tileHeight;
    description_.levels.push_back(level);
    scales_.push_back(stored.scale);
  }
  if (description_.levels.empty()) return Status::Damaged("the ZTX tile index holds no tiles");
  DescribeFacts(*header);
  DescribeProperties(*header);
  DescribeAssociatedImages();
  return Status::Ok();
}

void ZtxSlideFormat::DescribeFacts(CZTXDataHeader& header) {
  SlideFacts& facts = description_.facts;
  facts.format = "ztx";
  facts.width = header.GetWidth();
  facts.height = header.GetHeight();
  facts.objectivePower = header.GetScanScale();
  const float resolution = header.GetCaptureResolution();
  if (resolution > 0.0f && std::isfinite(resolution)) {
    facts.micronsPerPixelX = facts.micronsPerPixelY = resolution;
  }
  facts.hasScanTime = header.GetScanTime() > 0;
  facts.scanTime = facts.hasScanTime ? header.GetScanTime() : 0;
  facts.scanDurationSeconds = header.GetSpendTime() > 0 ? header.GetSpendTime() / 1000.0 : 0.0;
  facts.version = header.GetVersion();
}

void ZtxSlideFormat::DescribeProperties(CZTXDataHeader& header) {
  auto& p = description_.properties;
  const SlideFacts& facts = description_.facts;
  p["ztx.version"] = Number(facts.version);
  p["ztx.scan-scale"] = std::to_string(header.GetScanScale());
  p["ztx.block-size"] = std::to_string(header.GetBlockSize());
  p["ztx.tile-count"] = std::to_string(slide_->TileCount());
  if (facts.micronsPerPixelX > 0) p["ztx.capture-resolution"] = Number(facts.micronsPerPixelX);
  if (facts.hasScanTime) p["ztx.scan-time"] = IsoTime(facts.scanTime);
  if (facts.scanDurationSeconds > 0) p["ztx.scan-duration"] = Number(facts.scanDurationSeconds);
  const std::string serial = header.GetMachineSerial();
  if (!serial.empty()) p["ztx.machine-serial"] = serial;
  const int channels = header.GetChannelCount();
  if (channels > 0) {
    p["ztx.channel-count"] = std::to_string(channels);
    for (int c = 0; c < 6; ++c) {
      const std::string id = header.GetChannelIdentifier(c);
      if (!id.empty()) p["ztx.channel[" + std::to_string(c + 1) + "]"] = id;
    }
  }
  for (const auto& item : header.Items()) {
    // The first item of an identifier wins, as FindItem answers.
    p.emplace("ztx.item." + std::to_string(item->GetIdentifier()),
              ItemText(item->GetValue(), item->GetLength()));
  }
}

void ZtxSlideFormat::DescribeAssociatedImages() {
  auto& names = description_.associatedImages;
  CLabelDataBlock* label = slide_->GetLabelBlock();
  auto* ztxLabel = dynamic_cast<CZTXLabelDataBlock*>(label);
  if (ztxLabel != nullptr && ztxLabel->GetPresence() != 0 && ztxLabel->GetImageLength() > 0) {
    names.push_back("label");
  }
  auto* preview = dynamic_cast<CZTXPreViewDataBlock*>(slide_->GetPreviewBlock());
  if (preview != nullptr && preview->GetPresence() != 0 && preview->GetImageLength() > 0) {
    names.push_back("macro");
  }
  // A slide without a stored thumbnail gets one composed from its tiles.
  names.push_back("thumbnail");
}

const TileInfo* ZtxSlideFormat::FindTile(int level, std::int64_t x, std::int64_t y) const {
  if (x > INT32_MAX || y > INT32_MAX) return nullptr;
  return slide_->FindTile(scales_[static_cast<std::size_t>(level)], static_cast<int>(x),
                          static_cast<int>(y));
}

Status ZtxSlideFormat::ReadTile(int level, std::int64_t column, std::int64_t row,
                                Tile* tile) const {
  const SlideLevel& info = description_.levels[static_cast<std::size_t>(level)];
  const TileInfo* stored = FindTile(level, column * info.tileWidth, row * info.tileHeight);
  if (stored == nullptr) {
    return Status::NotFound("level " + std::to_string(level) + " stores no tile at column " +
                            std::to_string(column) + ", row " + std::to_string(row));
  }
  if (!slide_->ReadStoredTile(*stored, tile->bytes)) {
    return Status::IoError("the tile at column " + std::to_string(column) + ", row " +
                           std::to_string(row) + " of level " + std::to_string(level) +
                           " could not be read");
  }
  const bool jpeg = LooksLikeJpeg(tile->bytes.data(), tile->bytes.size());
  tile->encoding = slide_->TilesAreBmp() && !jpeg ? TileEncoding::kBmp : TileEncoding::kJpeg;
  // Edge tiles are stored whole; the tile is the cell the level keeps.
  tile->width = static_cast<int>(std::min<std::int64_t>(
      {stored->width, info.tileWidth, info.width - column * info.tileWidth}));
  tile->height = static_cast<int>(std::min<std::int64_t>(
      {stored->height, info.tileHeight, info.height - row * info.tileHeight}));
  return Status::Ok();
}

void ZtxSlideFormat::PrefetchTiles(
    int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) const {
  std::vector<const TileInfo*> tiles;
  tiles.reserve(origins.size());
  for (const auto& [x, y] : origins) tiles.push_back(FindTile(level, x, y));
  slide_->PrefetchTiles(tiles);
}

Status ZtxSlideFormat::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width,
                                  int height, Image* rgb) const {
  return slide_->ComposeRegionInto(scale, x, y, width, height, rgb);
}

Status ZtxSlideFormat::ReadAssociatedImage(const std::string& name, Image* rgb) const {
  using Getter = bool (CZTXDataFile::*)(unsigned char**, int&, int&, int&);
  Getter get = nullptr;
  if (name == "label") get = &CZTXDataFile::GetLabel;
  if (name == "macro") get = &CZTXDataFile::GetPreview;
  if (name != "thumbnail" && get == nullptr) {
    return Status::NotFound("the slide has no associated image \"" + name + "\"");
  }
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  bool found = false;
  {
    std::lock_guard<std::mutex> hold(imagesLock_);
    found = get != nullptr ? (slide_.get()->*get)(&data, length, width, height)
                           : slide_->GetThumbnail(&data, length, width, height) != 0;
  }
  const PixelBuffer stream(data);
  if (!found || stream == nullptr || length <= 0) {
    return Status::NotFound("the slide has no " + name + " image");
  }
  PixelBuffer pixels = DecodeTileStream(stream.get(), static_cast<std::size_t>(length),
                                        !LooksLikeJpeg(stream.get(), length), kAnyFrame, width,
                                        height);
  if (pixels == nullptr) return Status::Damaged("the " + name + " image does not decode");
  rgb->width = width;
  rgb->height = height;
  rgb->channels = 3;
  rgb->pixels.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height * 3);
  return Status::Ok();
}

}  // namespace

Status OpenZtxSlide(const std::string& location, std::unique_ptr<SlideFormat>* format) {
  auto slide = std::make_unique<CZTXDataFile>();
  if (!slide->OpenFile(location.c_str())) {
    slide->CloseFile();
    return slide->LastStatus().ok() ? Status::IoError("cannot open " + location)
                                    : slide->LastStatus();
  }
  if (slide->LoadFile() != 0) {
    slide->CloseFile();
    return slide->LastStatus().ok() ? Status::Damaged("not a readable ZTX slide")
                                    : slide->LastStatus();
  }
  auto made = std::make_unique<ZtxSlideFormat>(std::move(slide));
  const Status described = made->Describe();
  if (!described.ok()) return described;
  *format = std::move(made);
  return Status::Ok();
}

}  // namespace strata::ztx
