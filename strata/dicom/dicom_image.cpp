#include "strata/dicom/dicom_image.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "strata/model/slide_format.h"
#include "strata/model/tile_decoder.h"
#include "strata/model/tile_grid.h"

namespace strata::dicom {
namespace {

std::int64_t IntegerOr(const DataSet& data, Tag tag, std::int64_t fallback) {
  std::int64_t value = 0;
  return data.Integer(tag, &value) ? value : fallback;
}

std::string SizeText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Orders the parts of a concatenation and checks that they are all there
// and that their runs of frames follow on.
Status OrderConcatenation(std::vector<const DicomInstance*>& parts) {
  const DataSet& lead = parts.front()->Data();
  const std::string uid = lead.Text(tags::kConcatenationUid);
  const std::int64_t total = IntegerOr(lead, tags::kInConcatenationTotalNumber, 0);
  std::sort(parts.begin(), parts.end(), [](const DicomInstance* a, const DicomInstance* b) {
    return IntegerOr(a->Data(), tags::kInConcatenationNumber, 0) <
           IntegerOr(b->Data(), tags::kInConcatenationNumber, 0);
  });
  std::int64_t frames = 0;
  for (std::size_t n = 0; n < parts.size(); ++n) {
    const DataSet& data = parts[n]->Data();
    const std::int64_t number = IntegerOr(data, tags::kInConcatenationNumber, 0);
    if (number != static_cast<std::int64_t>(n) + 1) {
      return Status::Damaged("instance " + std::to_string(n + 1) + " of concatenation " + uid +
                             " is missing (" + std::to_string(parts.size()) + " of " +
                             std::to_string(total) + " found)");
    }
    if (IntegerOr(data, tags::kConcatenationFrameOffsetNumber, -1) != frames) {
      return Status::Damaged("instance " + std::to_string(number) + " of concatenation " + uid +
                             " does not start at frame " + std::to_string(frames));
    }
    frames += parts[n]->FrameCount();
  }
  if (total != static_cast<std::int64_t>(parts.size())) {
    return Status::Damaged("concatenation " + uid + " has " + std::to_string(parts.size()) +
                           " of its " + std::to_string(total) + " instances");
  }
  return Status::Ok();
}

// The image's tiles as a grid for the shared fill: stored frames,
// decoded as the slide decodes tiles.
class WholeImageGrid : public TileGridReader {
 public:
  explicit WholeImageGrid(const DicomImage& image) : image_(image) {}

  int CellWidth() const override { return image_.TileWidth(); }
  int CellHeight() const override { return image_.TileHeight(); }
  bool FetchTile(std::int64_t x, std::int64_t y, std::vector<unsigned char>& stream) override {
    const Status read = image_.ReadTile(x / CellWidth(), y / CellHeight(), &tile_);
    if (!read.ok()) {
      if (read.code() != Status::Code::kNotFound && failure_.ok()) failure_ = read;
      return false;
    }
    stream.swap(tile_.bytes);
    return true;
  }
  PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                         int& height) override {
    if (tile_.encoding == TileEncoding::kRgb) {
      PixelBuffer pixels(AllocateBuffer(stream.size()));
      if (pixels == nullptr) return nullptr;
      std::memcpy(pixels.get(), stream.data(), stream.size());
      width = tile_.width;
      height = tile_.height;
      return pixels;
    }
    PixelBuffer pixels = DecodeTileStream(stream.data(), stream.size(), false,
                                          TileLimits{CellWidth(), CellHeight()}, width, height);
    if (pixels == nullptr && failure_.ok()) {
      failure_ = Status::Damaged("a frame of " + image_.first().Location() + " does not decode");
    }
    return pixels;
  }
  bool TilesAreColourJpeg() override { return false; }

  const Status& failure() const { return failure_; }

 private:
  const DicomImage& image_;
  Tile tile_;
  Status failure_;
};

}  // namespace

Status DicomImage::Assemble(std::vector<const DicomInstance*> parts, DicomImage* image) {
  *image = DicomImage();
  if (parts.empty()) return Status::Damaged("an image without instances");
  if (!parts.front()->Data().Text(tags::kConcatenationUid).empty()) {
    const Status ordered = OrderConcatenation(parts);
    if (!ordered.ok()) return ordered;
  }
  const DicomInstance& lead = *parts.front();
  for (const DicomInstance* part : parts) {
    if (part->Width() != lead.Width() || part->Height() != lead.Height() ||
        part->TileWidth() != lead.TileWidth() || part->TileHeight() != lead.TileHeight() ||
        part->Sparse() != lead.Sparse()) {
      return Status::Damaged("the instances of one image disagree on its size, tiles or tiling");
    }
    image->parts_.push_back(Part{part, image->frames_});
    image->frames_ += part->FrameCount();
  }
  image->columns_ = (lead.Width() + lead.TileWidth() - 1) / lead.TileWidth();
  image->rows_ = (lead.Height() + lead.TileHeight() - 1) / lead.TileHeight();
  image->sparse_ = lead.Sparse();
  if (image->sparse_) return image->IndexSparseTiles();
  // Tiles in order: a plane of columns x rows frames for each focal plane
  // and optical path; the first plane is the one read.
  const std::int64_t planes = IntegerOr(lead.Data(), tags::kTotalPixelMatrixFocalPlanes, 1);
  const std::int64_t paths = IntegerOr(lead.Data(), tags::kNumberOfOpticalPaths, 1);
  const std::int64_t tiles = image->columns_ * image->rows_;
  const bool plausible = planes >= 1 && paths >= 1 && planes <= 4096 && paths <= 4096;
  if (!plausible || tiles > image->frames_ || image->frames_ != tiles * planes * paths) {
    return Status::Damaged(
        "NumberOfFrames says " + std::to_string(image->frames_) + " frames, the " +
        SizeText(image->columns_, image->rows_) + " tiles of the " +
        SizeText(lead.Width(), lead.Height()) + " image need " + std::to_string(tiles) +
        (planes * paths != 1 ? " for each of " + std::to_string(planes * paths) + " planes"
                             : std::string()));
  }
  return Status::Ok();
}

Status DicomImage::IndexSparseTiles() {
  cells_.reserve(static_cast<std::size_t>(frames_));
  for (const Part& part : parts_) {
    const std::vector<FramePosition>& positions = part.instance->TilePositions();
    for (std::size_t local = 0; local < positions.size(); ++local) {
      cells_.emplace_back(positions[local].row * columns_ + positions[local].column,
                          part.firstFrame + static_cast<std::int64_t>(local));
    }
  }
  // Sorted by cell, then frame: the first frame of a cell comes first.
  std::sort(cells_.begin(), cells_.end());
  cells_.erase(std::unique(cells_.begin(), cells_.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               cells_.end());
  return Status::Ok();
}

std::int64_t DicomImage::FrameAt(std::int64_t column, std::int64_t row) const {
  if (!sparse_) return row * columns_ + column;
  const std::int64_t key = row * columns_ + column;
  const auto found = std::lower_bound(cells_.begin(), cells_.end(), key,
                                      [](const std::pair<std::int64_t, std::int64_t>& cell,
                                         std::int64_t wanted) { return cell.first < wanted; });
  return found != cells_.end() && found->first == key ? found->second : -1;
}

const DicomImage::Part& DicomImage::PartOf(std::int64_t frame) const {
  const auto after = std::upper_bound(
      parts_.begin(), parts_.end(), frame,
      [](std::int64_t wanted, const Part& part) { return wanted < part.firstFrame; });
  return *(after - 1);
}

Status DicomImage::ReadTile(std::int64_t column, std::int64_t row, Tile* tile) const {
  if (column < 0 || row < 0 || column >= columns_ || row >= rows_) {
    return Status::OutOfRange("tile column " + std::to_string(column) + ", row " +
                              std::to_string(row) + " lies outside the " +
                              SizeText(columns_, rows_) + " tile grid");
  }
  const std::int64_t frame = FrameAt(column, row);
  if (frame < 0) {
    return Status::NotFound("no tile at column " + std::to_string(column) + ", row " +
                            std::to_string(row) + " (a sparse image)");
  }
  const Part& part = PartOf(frame);
  return part.instance->ReadFrame(frame - part.firstFrame, tile);
}

void DicomImage::Prefetch(const std::vector<std::pair<std::int64_t, std::int64_t>>& cells) const {
  // Per instance, the frames asked for.
  std::vector<std::vector<std::int64_t>> frames(parts_.size());
  for (const auto& [column, row] : cells) {
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_) continue;
    const std::int64_t frame = FrameAt(column, row);
    if (frame < 0) continue;
    const Part& part = PartOf(frame);
    frames[static_cast<std::size_t>(&part - parts_.data())].push_back(frame - part.firstFrame);
  }
  for (std::size_t n = 0; n < parts_.size(); ++n) {
    if (!frames[n].empty()) parts_[n].instance->PrefetchFrames(frames[n]);
  }
}

Status DicomImage::ReadWhole(Image* rgb) const {
  if (!AllocateImage(static_cast<int>(Width()), static_cast<int>(Height()), 3, rgb)) {
    return Status::TooLarge("a " + SizeText(Width(), Height()) +
                            " image is over the memory budget");
  }
  WholeImageGrid grid(*this);
  const WindowTarget target{rgb->pixels.data(), static_cast<std::size_t>(rgb->width) * 3, 3};
  FillFromTileGrid(grid, 0, 0, rgb->width, rgb->height, target, 255);
  return grid.failure();
}

}  // namespace strata::dicom
