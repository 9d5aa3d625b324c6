#include "strata/dicom/dicom_slide_format.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "strata/dicom/dicom_image.h"
#include "strata/dicom/dicom_instance.h"
#include "strata/dicom/dicom_properties.h"
#include "strata/dicom/dicom_series.h"

namespace strata::dicom {
namespace {

// Frames at the right and bottom edges are stored whole: a stream's tile
// is the cell the level keeps (the stream decodes larger), while pixels
// stay the whole frame they are.
void CutToTheLevel(const SlideLevel& level, std::int64_t column, std::int64_t row, Tile* tile) {
  if (tile->encoding == TileEncoding::kRgb) return;
  tile->width = static_cast<int>(
      std::min<std::int64_t>(tile->width, level.width - column * level.tileWidth));
  tile->height = static_cast<int>(
      std::min<std::int64_t>(tile->height, level.height - row * level.tileHeight));
}

using Instances = std::vector<std::unique_ptr<DicomInstance>>;
using Parts = std::vector<const DicomInstance*>;

// The position of `key` in `keys`, appended when new.
std::size_t IndexOf(std::vector<std::string>& keys, const std::string& key) {
  const auto found = std::find(keys.begin(), keys.end(), key);
  if (found != keys.end()) return static_cast<std::size_t>(found - keys.begin());
  keys.push_back(key);
  return keys.size() - 1;
}

std::string BaseName(const std::string& location) {
  const std::size_t slash = location.find_last_of('/');
  return slash == std::string::npos ? location : location.substr(slash + 1);
}

// The associated image an image flavour stands for; null for levels and
// images the slide does not show.
const char* AssociatedName(ImageFlavor flavor) {
  switch (flavor) {
    case ImageFlavor::kLabel: return "label";
    case ImageFlavor::kOverview: return "macro";
    case ImageFlavor::kThumbnail: return "thumbnail";
    default: return nullptr;
  }
}

// Instances that make one image: a concatenation's parts, else one alone.
std::string ImageKey(const DicomInstance& instance) {
  const std::string concatenation = instance.Data().Text(tags::kConcatenationUid);
  return concatenation.empty() ? "instance " + instance.SopInstanceUid()
                               : "concatenation " + concatenation;
}

// The base class fills regions from the tile grid, where a tile that cannot
// be read looks like a missing one. While a region is read, frames that
// fail report here (per thread: the fill runs on the caller's thread), so
// that the region fails with their reason instead of showing a hole.
class FrameFailureWatch {
 public:
  FrameFailureWatch() : previous_(current_) { current_ = &failure_; }
  ~FrameFailureWatch() { current_ = previous_; }
  FrameFailureWatch(const FrameFailureWatch&) = delete;
  FrameFailureWatch& operator=(const FrameFailureWatch&) = delete;

  static void Report(const Status& failure) {
    if (current_ != nullptr && current_->ok()) *current_ = failure;
  }
  // The read's own status, unless a frame failed.
  Status Outcome(const Status& read) const { return read.ok() ? failure_ : read; }

 private:
  static thread_local Status* current_;
  Status* previous_;
  Status failure_;
};

thread_local Status* FrameFailureWatch::current_ = nullptr;

class DicomSlideFormat : public SlideFormat {
 public:
  explicit DicomSlideFormat(std::string location) : location_(std::move(location)) {}
  Status Describe(Instances series);

  Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const override;
  Status ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                    const TileCacheUse& cache, Image* rgba) const override;
  Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgb) const override;
  Status ReadAssociatedImage(const std::string& name, Image* rgb) const override;
  void PrefetchTiles(
      int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) const override;

 private:
  Status PrepareImages(Instances& series);
  Status AssembleLevels(const std::vector<Parts>& groups);
  void DescribeSlide();
  void KeepUsedInstances(Instances& series);
  // The failure with the instance's file name in front, unless it is the
  // file the slide was opened from (whose name the façade puts there).
  Status Named(const DicomInstance& instance, const Status& failure) const {
    return instance.Location() == location_ ? failure
                                            : failure.Prefixed(BaseName(instance.Location()));
  }

  std::string location_;
  Instances instances_;
  std::vector<Parts> volumeGroups_;
  std::vector<std::pair<std::string, Parts>> associatedGroups_;
  std::vector<DicomImage> levels_;
  std::vector<std::pair<std::string, DicomImage>> associated_;
};

// Prepares the frames of every instance the slide shows and groups them
// into images. A level that cannot be read fails the slide; an associated
// image in a syntax this reader does not read is left out.
Status DicomSlideFormat::PrepareImages(Instances& series) {
  std::vector<std::string> volumeKeys;
  std::vector<std::string> associatedKeys;
  for (const auto& owned : series) {
    DicomInstance& instance = *owned;
    const char* associated = AssociatedName(instance.Flavor());
    if (instance.Flavor() != ImageFlavor::kVolume && associated == nullptr) continue;
    const Status prepared = instance.PrepareFrames();
    if (!prepared.ok()) {
      if (associated != nullptr && prepared.code() == Status::Code::kUnsupported) continue;
      return Named(instance, prepared);
    }
    const std::string key = ImageKey(instance);
    if (associated == nullptr) {
      const std::size_t group = IndexOf(volumeKeys, key);
      if (group == volumeGroups_.size()) volumeGroups_.emplace_back();
      volumeGroups_[group].push_back(&instance);
      continue;
    }
    const std::size_t group = IndexOf(associatedKeys, std::string(associated) + " " + key);
    if (group == associatedGroups_.size()) associatedGroups_.emplace_back(associated, Parts{});
    associatedGroups_[group].second.push_back(&instance);
  }
  return Status::Ok();
}

Status DicomSlideFormat::AssembleLevels(const std::vector<Parts>& groups) {
  for (const auto& group : groups) {
    DicomImage image;
    const Status assembled = DicomImage::Assemble(group, &image);
    if (!assembled.ok()) return Named(*group.front(), assembled);
    levels_.push_back(std::move(image));
  }
  if (levels_.empty()) {
    return Status::Damaged("the series holds no pyramid level (no VOLUME image)");
  }
  // Largest first; of images of one size (further focal planes or optical
  // paths in instances of their own) the first found stays.
  std::stable_sort(levels_.begin(), levels_.end(), [](const DicomImage& a, const DicomImage& b) {
    return a.Width() != b.Width() ? a.Width() > b.Width() : a.Height() > b.Height();
  });
  levels_.erase(std::unique(levels_.begin(), levels_.end(),
                            [](const DicomImage& a, const DicomImage& b) {
                              return a.Width() == b.Width() && a.Height() == b.Height();
                            }),
                levels_.end());
  return Status::Ok();
}

void DicomSlideFormat::DescribeSlide() {
  const DicomImage& base = levels_.front();
  const DicomInstance& lead = base.first();
  for (const DicomImage& image : levels_) {
    SlideLevel level;
    level.width = image.Width();
    level.height = image.Height();
    level.downsample = (static_cast<double>(base.Width()) / static_cast<double>(image.Width()) +
                        static_cast<double>(base.Height()) / static_cast<double>(image.Height())) /
                       2;
    level.tileWidth = image.TileWidth();
    level.tileHeight = image.TileHeight();
    description_.levels.push_back(level);
  }
  SlideFacts& facts = description_.facts;
  facts.format = "dicom";
  facts.width = base.Width();
  facts.height = base.Height();
  MicronsPerPixel(lead.Data(), base.Width(), base.Height(), &facts.micronsPerPixelX,
                  &facts.micronsPerPixelY);
  facts.objectivePower = ObjectivePower(lead.Data());
  facts.hasScanTime = AcquisitionTime(lead.Data(), &facts.scanTime);
  AddDicomProperties(lead.Data(), &description_.properties);
  const std::string barcode = lead.Data().Text(tags::kBarcodeValue);
  if (!barcode.empty()) description_.properties["openslide.barcode"] = barcode;
  const DataSet* path = lead.Data().Item(tags::kOpticalPathSequence, 0);
  const Element* profile = path == nullptr ? nullptr : path->Find(tags::kIccProfile);
  if (profile != nullptr && !lead.ReadValue(*profile, &description_.iccProfile)) {
    description_.iccProfile.clear();
  }
  for (const auto& [name, image] : associated_) description_.associatedImages.push_back(name);
}

void DicomSlideFormat::KeepUsedInstances(Instances& series) {
  std::set<const DicomInstance*> used;
  for (const auto& group : volumeGroups_) used.insert(group.begin(), group.end());
  for (const auto& [name, group] : associatedGroups_) used.insert(group.begin(), group.end());
  for (auto& instance : series) {
    if (used.count(instance.get()) != 0) instances_.push_back(std::move(instance));
  }
  series.clear();
}

Status DicomSlideFormat::Describe(Instances series) {
  Status described = PrepareImages(series);
  if (described.ok()) described = AssembleLevels(volumeGroups_);
  if (!described.ok()) return described;
  // One image of each associated kind: the first found.
  for (const auto& [name, group] : associatedGroups_) {
    const std::string& kind = name;
    const bool have = std::any_of(associated_.begin(), associated_.end(),
                                  [&kind](const auto& entry) { return entry.first == kind; });
    if (have) continue;
    DicomImage image;
    const Status assembled = DicomImage::Assemble(group, &image);
    if (!assembled.ok()) return Named(*group.front(), assembled);
    associated_.emplace_back(name, std::move(image));
  }
  // Associated images in the customary order: label, macro, thumbnail.
  std::stable_sort(associated_.begin(), associated_.end(), [](const auto& a, const auto& b) {
    const auto rank = [](const std::string& name) {
      return name == "label" ? 0 : name == "macro" ? 1 : 2;
    };
    return rank(a.first) < rank(b.first);
  });
  KeepUsedInstances(series);
  DescribeSlide();
  return Status::Ok();
}

Status DicomSlideFormat::ReadTile(int level, std::int64_t column, std::int64_t row,
                                  Tile* tile) const {
  const Status read = levels_[static_cast<std::size_t>(level)].ReadTile(column, row, tile);
  // Empty cells and cells past the grid are no fault of the frames.
  if (read.code() == Status::Code::kDamaged || read.code() == Status::Code::kIoError) {
    FrameFailureWatch::Report(read);
  }
  if (read.ok()) {
    CutToTheLevel(description_.levels[static_cast<std::size_t>(level)], column, row, tile);
  }
  return read;
}

Status DicomSlideFormat::ReadRegion(int level, std::int64_t x, std::int64_t y, int width,
                                    int height, const TileCacheUse& cache, Image* rgba) const {
  FrameFailureWatch watch;
  return watch.Outcome(SlideFormat::ReadRegion(level, x, y, width, height, cache, rgba));
}

Status DicomSlideFormat::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width,
                                    int height, Image* rgb) const {
  FrameFailureWatch watch;
  return watch.Outcome(SlideFormat::ReadScaled(scale, x, y, width, height, rgb));
}

Status DicomSlideFormat::ReadAssociatedImage(const std::string& name, Image* rgb) const {
  for (const auto& [known, image] : associated_) {
    if (known == name) return image.ReadWhole(rgb);
  }
  return SlideFormat::ReadAssociatedImage(name, rgb);
}

void DicomSlideFormat::PrefetchTiles(
    int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) const {
  const DicomImage& image = levels_[static_cast<std::size_t>(level)];
  std::vector<std::pair<std::int64_t, std::int64_t>> cells;
  cells.reserve(origins.size());
  for (const auto& [x, y] : origins)
    cells.emplace_back(x / image.TileWidth(), y / image.TileHeight());
  image.Prefetch(cells);
}

}  // namespace

Status OpenDicomSlide(const std::string& location, std::unique_ptr<SlideFormat>* format) {
  format->reset();
  Instances series;
  const Status found = FindSeries(location, &series);
  if (!found.ok()) return found;
  auto slide = std::make_unique<DicomSlideFormat>(location);
  const Status described = slide->Describe(std::move(series));
  if (!described.ok()) return described;
  *format = std::move(slide);
  return Status::Ok();
}

}  // namespace strata::dicom
