#include "strata/dicom/dicom_instance.h"

#include <utility>

#include "strata/dicom/jpeg_frame.h"

namespace strata::dicom {
namespace {

constexpr const char* kJpegBaselineUid = "1.2.840.10008.1.2.4.50";
// Total pixel matrices beyond this are refused (regions address pixels in
// 32 bits).
constexpr std::int64_t kMaxMatrixSide = (std::int64_t{1} << 31) - 1;

ImageFlavor FlavorOf(const DataSet& data) {
  const std::vector<std::string> type = data.Texts(tags::kImageType);
  if (type.size() < 3) return ImageFlavor::kOther;
  if (type[2] == "VOLUME") return ImageFlavor::kVolume;
  if (type[2] == "LABEL") return ImageFlavor::kLabel;
  if (type[2] == "OVERVIEW") return ImageFlavor::kOverview;
  if (type[2] == "THUMBNAIL") return ImageFlavor::kThumbnail;
  return ImageFlavor::kOther;
}

std::string BaseName(const std::string& location) {
  const std::size_t slash = location.find_last_of('/');
  return slash == std::string::npos ? location : location.substr(slash + 1);
}

// A whole number in [low, high], or Damaged naming the attribute.
Status RequireInteger(const DataSet& data, Tag tag, const char* name, std::int64_t low,
                      std::int64_t high, std::int64_t* value) {
  if (!data.Integer(tag, value)) return Status::Damaged(std::string("no ") + name);
  if (*value < low || *value > high) {
    return Status::Damaged(std::string(name) + " " + std::to_string(*value) + " is outside " +
                           std::to_string(low) + ".." + std::to_string(high));
  }
  return Status::Ok();
}

// An optional whole number: `fallback` when absent.
std::int64_t IntegerOr(const DataSet& data, Tag tag, std::int64_t fallback) {
  std::int64_t value = 0;
  return data.Integer(tag, &value) ? value : fallback;
}

}  // namespace

DicomInstance::DicomInstance(std::string location, std::unique_ptr<CFileOperationTool> reader)
    : location_(std::move(location)), reader_(std::move(reader)) {}

DicomInstance::~DicomInstance() {
  if (reader_ != nullptr) reader_->Close();
}

std::string DicomInstance::Name() const { return BaseName(location_); }

Status DicomInstance::Open(const std::string& location, std::unique_ptr<DicomInstance>* instance,
                           std::string* seriesUid) {
  instance->reset();
  if (seriesUid != nullptr) seriesUid->clear();
  std::unique_ptr<CFileOperationTool> reader(CreateFileOperationTool(location.c_str()));
  if (reader == nullptr || !reader->Open(location.c_str())) {
    return Status::IoError("cannot be opened");
  }
  return Read(location, std::move(reader), instance, seriesUid);
}

Status DicomInstance::Read(const std::string& location, std::unique_ptr<CFileOperationTool> reader,
                           std::unique_ptr<DicomInstance>* instance, std::string* seriesUid) {
  instance->reset();
  if (seriesUid != nullptr) seriesUid->clear();
  std::unique_ptr<DicomInstance> opened(new DicomInstance(location, std::move(reader)));
  InstanceHeader& header = opened->header_;
  const Status parsed = ParseInstanceHeader(*opened->reader_, &header);
  if (seriesUid != nullptr) *seriesUid = header.dataSet.Text(tags::kSeriesInstanceUid);
  std::string sopClass = header.mediaStorageSopClassUid;
  if (sopClass.empty()) sopClass = header.dataSet.Text(tags::kSopClassUid);
  if (!sopClass.empty() && sopClass != kWholeSlideSopClass) {
    return Status::UnsupportedFormat("a DICOM file, but no whole-slide image: its SOP class is " +
                                     sopClass);
  }
  if (!parsed.ok()) return parsed;
  if (sopClass.empty()) return Status::Damaged("the file names no SOP class");
  opened->seriesUid_ = header.dataSet.Text(tags::kSeriesInstanceUid);
  opened->sopInstanceUid_ = header.dataSet.Text(tags::kSopInstanceUid);
  if (opened->seriesUid_.empty()) return Status::Damaged("the file names no SeriesInstanceUID");
  opened->flavor_ = FlavorOf(header.dataSet);
  *instance = std::move(opened);
  return Status::Ok();
}

Status DicomInstance::CheckPixelLayout() {
  const DataSet& data = header_.dataSet;
  std::int64_t value = 0;
  Status checked = RequireInteger(data, tags::kBitsAllocated, "BitsAllocated", 8, 8, &value);
  if (checked.ok()) {
    checked = RequireInteger(data, tags::kSamplesPerPixel, "SamplesPerPixel", 1, 3, &value);
  }
  if (!checked.ok()) return checked;
  if (value == 2) return Status::Unsupported("frames of 2 samples a pixel are not supported");
  samples_ = static_cast<int>(value);
  if (IntegerOr(data, tags::kPixelRepresentation, 0) != 0) {
    return Status::Unsupported("signed pixels are not supported");
  }
  const std::string photometric = data.Text(tags::kPhotometricInterpretation);
  const bool grey = photometric == "MONOCHROME2";
  bool known = samples_ == 1 ? grey : photometric == "RGB";
  if (jpeg_ && samples_ == 3) {
    known = known || photometric == "YBR_FULL_422" || photometric == "YBR_FULL";
  }
  if (!known) {
    return Status::Unsupported("PhotometricInterpretation \"" + photometric + "\" with " +
                               std::to_string(samples_) + " samples a pixel is not supported");
  }
  rgbJpeg_ = jpeg_ && photometric == "RGB";
  planar_ = !jpeg_ && samples_ == 3 && IntegerOr(data, tags::kPlanarConfiguration, 0) == 1;
  return Status::Ok();
}

Status DicomInstance::PrepareFrames() {
  const TransferSyntax syntax = DescribeTransferSyntax(header_.transferSyntaxUid);
  if (!syntax.readable) {
    return Status::Unsupported("transfer syntax " + TransferSyntaxText(header_.transferSyntaxUid) +
                               " is not supported; frames are read in JPEG baseline (" +
                               kJpegBaselineUid + ") or uncompressed little endian");
  }
  jpeg_ = syntax.encapsulated;
  Status checked = CheckPixelLayout();
  const DataSet& data = header_.dataSet;
  std::int64_t rows = 0;
  std::int64_t columns = 0;
  if (checked.ok()) checked = RequireInteger(data, tags::kRows, "Rows", 1, 65535, &rows);
  if (checked.ok()) checked = RequireInteger(data, tags::kColumns, "Columns", 1, 65535, &columns);
  if (!checked.ok()) return checked;
  tileWidth_ = static_cast<int>(columns);
  tileHeight_ = static_cast<int>(rows);
  width_ = IntegerOr(data, tags::kTotalPixelMatrixColumns, columns);
  height_ = IntegerOr(data, tags::kTotalPixelMatrixRows, rows);
  if (width_ < 1 || height_ < 1 || width_ > kMaxMatrixSide || height_ > kMaxMatrixSide) {
    return Status::Damaged("the total pixel matrix of " + std::to_string(width_) + " x " +
                           std::to_string(height_) + " is not usable");
  }
  const std::int64_t frames = IntegerOr(data, tags::kNumberOfFrames, 1);
  const std::uint64_t frameBytes = jpeg_ ? 0
                                         : static_cast<std::uint64_t>(rows) *
                                               static_cast<std::uint64_t>(columns) *
                                               static_cast<std::uint64_t>(samples_);
  checked = FrameTable::Build(*reader_, header_, frames, frameBytes, &frames_);
  if (!checked.ok()) return checked;
  return PlaceTiles();
}

Status DicomInstance::PlaceTiles() {
  const std::string organisation = header_.dataSet.Text(tags::kDimensionOrganizationType);
  const std::int64_t frames = frames_.Count();
  const bool positioned = static_cast<std::int64_t>(header_.framePositions.size()) == frames &&
                          header_.framePositions.front().column > 0;
  sparse_ = organisation == "TILED_SPARSE" || organisation == "3D" ||
            (organisation.empty() && frames > 1 && positioned);
  if (!sparse_) return Status::Ok();
  if (static_cast<std::int64_t>(header_.framePositions.size()) != frames) {
    return Status::Damaged("the per-frame functional groups describe " +
                           std::to_string(header_.framePositions.size()) +
                           " frames, NumberOfFrames says " + std::to_string(frames));
  }
  tilePositions_.reserve(header_.framePositions.size());
  for (std::size_t frame = 0; frame < header_.framePositions.size(); ++frame) {
    const FramePosition& at = header_.framePositions[frame];
    const std::int64_t x = at.column - 1;
    const std::int64_t y = at.row - 1;
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || x % tileWidth_ != 0 ||
        y % tileHeight_ != 0) {
      return Status::Damaged("frame " + std::to_string(frame) + " is placed at column " +
                             std::to_string(at.column) + ", row " + std::to_string(at.row) +
                             ", off the tile grid of the " + std::to_string(width_) + " x " +
                             std::to_string(height_) + " image");
    }
    tilePositions_.push_back(FramePosition{x / tileWidth_, y / tileHeight_});
  }
  // The positions are kept as tiles now; the raw list is not needed again.
  std::vector<FramePosition>().swap(header_.framePositions);
  return Status::Ok();
}

Status DicomInstance::ReadFrame(std::int64_t frame, Tile* tile) const {
  std::vector<unsigned char> bytes;
  const Status read = frames_.Read(*reader_, frame, &bytes);
  if (!read.ok()) return read.Prefixed(Name());
  tile->width = tileWidth_;
  tile->height = tileHeight_;
  if (jpeg_) {
    const std::string fault = CheckJpegFrame(bytes);
    if (!fault.empty()) {
      return Status::Damaged(Name() + ": frame " + std::to_string(frame) + " " + fault);
    }
    if (rgbJpeg_) MarkJpegAsRgb(bytes);
    tile->encoding = TileEncoding::kJpeg;
    tile->bytes = std::move(bytes);
    return Status::Ok();
  }
  tile->encoding = TileEncoding::kRgb;
  const std::size_t pixels = static_cast<std::size_t>(tileWidth_) * tileHeight_;
  if (samples_ == 3 && !planar_) {
    tile->bytes = std::move(bytes);
    return Status::Ok();
  }
  tile->bytes.resize(pixels * 3);
  for (std::size_t i = 0; i < pixels; ++i) {
    for (std::size_t channel = 0; channel < 3; ++channel) {
      // Grey: one sample for all three; planar: each channel a plane.
      const std::size_t from = samples_ == 1 ? i : channel * pixels + i;
      tile->bytes[i * 3 + channel] = bytes[from];
    }
  }
  return Status::Ok();
}

bool DicomInstance::ReadValue(const Element& element, std::string* value) const {
  if (!element.skipped) {
    *value = element.value;
    return true;
  }
  if (element.length > kMaxFrameBytes) return false;
  value->resize(static_cast<std::size_t>(element.length));
  return element.length == 0 || reader_->ReadWhole(element.offset, value->size(),
                                                   reinterpret_cast<unsigned char*>(&(*value)[0]));
}

void DicomInstance::PrefetchFrames(const std::vector<std::int64_t>& frames) const {
  std::vector<ByteRange> ranges;
  ranges.reserve(frames.size());
  for (const std::int64_t frame : frames) {
    if (frame >= 0 && frame < frames_.Count()) ranges.push_back(frames_.Range(frame));
  }
  if (!ranges.empty()) reader_->Prefetch(ranges);
}

}  // namespace strata::dicom
