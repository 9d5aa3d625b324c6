// One file of a DICOM whole-slide series: its header, the image it holds
// (a pyramid level, a label, an overview or a thumbnail), and its frames as
// stored. Opening reads the header only; PrepareFrames then checks what the
// frames need (transfer syntax, pixel layout, frame count, tile positions)
// and locates them, so that instances that are not used cost no more.
#ifndef STRATA_DICOM_DICOM_INSTANCE_H_
#define STRATA_DICOM_DICOM_INSTANCE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "strata/dicom/dicom_frames.h"
#include "strata/dicom/dicom_parser.h"
#include "strata/model/file_operation_tool.h"
#include "strata/slide_types.h"
#include "strata/status.h"

namespace strata::dicom {

// The third value of ImageType.
enum class ImageFlavor { kVolume, kLabel, kOverview, kThumbnail, kOther };

class DicomInstance {
 public:
  // Opens `location` (a path or an http:// URL) and reads its header.
  // UnsupportedFormat for files that are no DICOM or no whole-slide image;
  // Damaged (or Unsupported, for data sets this reader cannot parse) with
  // the reason otherwise. On failure *instance is empty and *seriesUid holds
  // the series the file named before its fault, if any.
  static Status Open(const std::string& location, std::unique_ptr<DicomInstance>* instance,
                     std::string* seriesUid = nullptr);
  // The same through a reader that is already open (named `location`).
  static Status Read(const std::string& location, std::unique_ptr<CFileOperationTool> reader,
                     std::unique_ptr<DicomInstance>* instance, std::string* seriesUid = nullptr);

  ~DicomInstance();
  DicomInstance(const DicomInstance&) = delete;
  DicomInstance& operator=(const DicomInstance&) = delete;

  // Checks and locates the frames; Unsupported for transfer syntaxes and
  // pixel layouts this reader does not read (naming them), Damaged for
  // frame counts, tables and positions that do not agree.
  Status PrepareFrames();

  const std::string& Location() const { return location_; }
  const DataSet& Data() const { return header_.dataSet; }
  const std::string& SeriesUid() const { return seriesUid_; }
  const std::string& SopInstanceUid() const { return sopInstanceUid_; }
  ImageFlavor Flavor() const { return flavor_; }
  const std::string& TransferSyntaxUid() const { return header_.transferSyntaxUid; }

  // The total pixel matrix and the frame (tile) size; set by PrepareFrames.
  std::int64_t Width() const { return width_; }
  std::int64_t Height() const { return height_; }
  int TileWidth() const { return tileWidth_; }
  int TileHeight() const { return tileHeight_; }
  std::int64_t FrameCount() const { return frames_.Count(); }
  // Tiles placed by per-frame positions (TILED_SPARSE) rather than in
  // order (TILED_FULL).
  bool Sparse() const { return sparse_; }
  // Per frame, for sparse instances: the tile column and row it fills.
  const std::vector<FramePosition>& TilePositions() const { return tilePositions_; }

  // Frame `frame` as a tile: a JPEG stream, or RGB pixels (tile-size
  // frames; grey and planar frames are made interleaved RGB).
  Status ReadFrame(std::int64_t frame, Tile* tile) const;
  // The bytes of an element of the data set, also one too large for the
  // parser to keep; false when they cannot be read.
  bool ReadValue(const Element& element, std::string* value) const;
  // Asks the reader to fetch these frames ahead.
  void PrefetchFrames(const std::vector<std::int64_t>& frames) const;

 private:
  DicomInstance(std::string location, std::unique_ptr<CFileOperationTool> reader);
  Status CheckPixelLayout();
  Status PlaceTiles();
  std::string Name() const;

  std::string location_;
  std::unique_ptr<CFileOperationTool> reader_;
  InstanceHeader header_;
  std::string seriesUid_;
  std::string sopInstanceUid_;
  ImageFlavor flavor_ = ImageFlavor::kOther;
  std::int64_t width_ = 0;
  std::int64_t height_ = 0;
  int tileWidth_ = 0;
  int tileHeight_ = 0;
  int samples_ = 3;
  bool planar_ = false;
  bool jpeg_ = false;
  bool rgbJpeg_ = false;
  bool sparse_ = false;
  FrameTable frames_;
  std::vector<FramePosition> tilePositions_;
};

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_INSTANCE_H_
