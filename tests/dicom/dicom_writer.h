// DICOM whole-slide instances written at test time with DCMTK, a reader
// of its own: an instance is a tiled image (TILED_FULL, or TILED_SPARSE
// with per-frame positions) of JPEG baseline or uncompressed frames cut from
// given pixels, with the attributes a slide reader looks for. Options make
// the damaged variants (counts, tables, syntaxes that lie).
#ifndef STRATA_TESTS_DICOM_DICOM_WRITER_H_
#define STRATA_TESTS_DICOM_DICOM_WRITER_H_

#include <string>
#include <utility>
#include <vector>

namespace strata::test {

using Bytes = std::vector<unsigned char>;

enum class FrameCoding { kJpeg, kExplicitLittle, kImplicitLittle };

struct DicomImageRecipe {
  std::string fileName = "image.dcm";
  std::string flavor = "VOLUME";  // ImageType value 3
  int width = 0;                  // the total pixel matrix
  int height = 0;
  int tileWidth = 128;
  int tileHeight = 128;
  Bytes rgb;  // width * height * 3
  FrameCoding coding = FrameCoding::kJpeg;
  bool sparse = false;
  std::vector<bool> present;       // sparse: per tile, row-major; empty keeps all
  bool offsetTable = true;         // JPEG: fill the basic offset table
  unsigned fragmentKilobytes = 0;  // JPEG: frames split in fragments of this size
  bool rgbJpeg = false;            // JPEG frames in RGB without a marker saying so
  std::string seriesUid = "1.2.826.0.1.3680043.10.1137.1";
  std::string sopInstanceUid;  // made from the file name when empty
  std::string iccProfile;
  std::string pixelSpacing = "0.00025\\0.00025";  // mm, row then column
  std::string objectivePower = "20";
  std::string patientName = "Doe^Jane";
  // Damage and variants.
  std::string transferSyntax;          // the UID written, frames left as they are
  std::string numberOfFrames;          // the count written
  std::vector<unsigned> basicOffsets;  // JPEG: the offset table's entries, written over it
  std::string sopClass;                // written instead of the whole-slide class
  int positionShift = 0;               // sparse: pixels added to every frame position
  // A concatenation part: frames [firstFrame, firstFrame + frameCount).
  std::string concatenationUid;
  int concatenationNumber = 0;
  int concatenationTotal = 0;
  int firstFrame = 0;
  int frameCount = -1;  // -1: to the last frame
};

struct WrittenDicom {
  std::string path;
  int tileWidth = 0;
  int tileHeight = 0;
  bool jpeg = false;
  std::vector<Bytes> frames;               // as stored, in frame order
  std::vector<std::pair<int, int>> tiles;  // (column, row) of each frame
};

// Writes the instance into `folder`. A failure is a test failure and
// gives false.
bool WriteDicom(const std::string& folder, const DicomImageRecipe& recipe, WrittenDicom* written);

// A whole slide: a pyramid of the fixture pattern (ExpectedLevelImage),
// one instance a level, and a label (uncompressed), an overview (JPEG) and
// a thumbnail (uncompressed, one frame).
struct DicomSlideRecipe {
  int width = 600;
  int height = 400;
  int tile = 128;
  int levels = 3;
  FrameCoding coding = FrameCoding::kJpeg;
  bool sparse = false;  // levels leave out every tile with (column + 2 * row) % 3 == 1
  bool offsetTable = true;
  unsigned fragmentKilobytes = 0;
  bool associated = true;
  std::string iccProfile = std::string("icc-profile-bytes\0\1\2", 20);
  std::string seriesUid = "1.2.826.0.1.3680043.10.1137.1";
};

struct WrittenSlide {
  std::vector<WrittenDicom> levels;  // finest first
  std::vector<Bytes> levelPixels;
  std::vector<std::pair<int, int>> levelSizes;
  Bytes label;
  int labelWidth = 0;
  int labelHeight = 0;
};

// Writes the slide's files level-0.dcm, level-1.dcm, ..., label.dcm,
// overview.dcm and thumbnail.dcm into `folder`.
WrittenSlide WriteDicomSlide(const std::string& folder, const DicomSlideRecipe& recipe);

// The level of the slide as a reader should show it: RGBA, the written
// frames (decoded, for JPEG) in their cells, transparent where no frame is.
Bytes ExpectedLevelRgba(const WrittenSlide& slide, std::size_t level);

}  // namespace strata::test

#endif  // STRATA_TESTS_DICOM_DICOM_WRITER_H_
