#include "dicom/dicom_writer.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace strata::test {
namespace {

// The tile at (column, row), padded with black past the image's edges.
Bytes CutTile(const DicomImageSpec& spec, int column, int row) {
  Bytes tile(static_cast<std::size_t>(spec.tileWidth) * spec.tileHeight * 3, 0);
  for (int y = 0; y < spec.tileHeight; ++y) {
    const int sourceY = row * spec.tileHeight + y;
    if (sourceY >= spec.height) break;
    for (int x = 0; x < spec.tileWidth; ++x) {
      const int sourceX = column * spec.tileWidth + x;
      if (sourceX >= spec.width) break;
      const std::size_t from = (static_cast<std::size_t>(sourceY) * spec.width + sourceX) * 3;
      const std::size_t to = (static_cast<std::size_t>(y) * spec.tileWidth + x) * 3;
      std::copy(spec.rgb.begin() + from, spec.rgb.begin() + from + 3, tile.begin() + to);
    }
  }
  return tile;
}

// RGB JPEG whose stream does not say so: no JFIF or Adobe marker, component
// identifiers 1, 2, 3 (which decoders take for YCbCr).
Bytes UnmarkedRgbJpeg(const Bytes& rgb, int width, int height) {
  jpeg_compress_struct coder{};
  jpeg_error_mgr errors{};
  coder.err = jpeg_std_error(&errors);
  jpeg_create_compress(&coder);
  unsigned char* stream = nullptr;
  unsigned long length = 0;
  jpeg_mem_dest(&coder, &stream, &length);
  coder.image_width = static_cast<JDIMENSION>(width);
  coder.image_height = static_cast<JDIMENSION>(height);
  coder.input_components = 3;
  coder.in_color_space = JCS_RGB;
  jpeg_set_defaults(&coder);
  jpeg_set_colorspace(&coder, JCS_RGB);
  jpeg_set_quality(&coder, 95, TRUE);
  coder.write_JFIF_header = FALSE;
  coder.write_Adobe_marker = FALSE;
  for (int component = 0; component < 3; ++component) {
    coder.comp_info[component].component_id = component + 1;
  }
  jpeg_start_compress(&coder, TRUE);
  while (coder.next_scanline < coder.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(rgb.data()) +
                   static_cast<std::size_t>(coder.next_scanline) * width * 3;
    jpeg_write_scanlines(&coder, &row, 1);
  }
  jpeg_finish_compress(&coder);
  jpeg_destroy_compress(&coder);
  Bytes bytes(stream, stream + length);
  std::free(stream);
  return bytes;
}

Bytes EncodeFrame(const DicomImageSpec& spec, const Bytes& tile) {
  if (spec.rgbJpeg) return UnmarkedRgbJpeg(tile, spec.tileWidth, spec.tileHeight);
  unsigned char* stream = nullptr;
  int length = 0;
  if (!EncodeJpegWithQuality(tile.data(), spec.tileWidth, spec.tileHeight, 3, 90, &stream,
                             length)) {
    return {};
  }
  Bytes bytes(stream, stream + length);
  ReleaseBuffer(stream);
  return bytes;
}

std::string FlavorType(const std::string& flavor) {
  const char* last = flavor == "THUMBNAIL" ? "RESAMPLED" : "NONE";
  return std::string("DERIVED\\PRIMARY\\") + flavor + "\\" + last;
}

bool Check(const OFCondition& condition, const char* what) {
  EXPECT_TRUE(condition.good()) << what << ": " << condition.text();
  return condition.good();
}

void PutAttributes(DcmDataset& data, const DicomImageSpec& spec, std::size_t frames) {
  const std::string sop =
      spec.sopInstanceUid.empty()
          ? spec.seriesUid + "." +
                std::to_string(std::hash<std::string>{}(spec.fileName) % 100000000)
          : spec.sopInstanceUid;
  data.putAndInsertString(DCM_SOPClassUID, spec.sopClass.empty()
                                               ? UID_VLWholeSlideMicroscopyImageStorage
                                               : spec.sopClass.c_str());
  data.putAndInsertString(DCM_SOPInstanceUID, sop.c_str());
  data.putAndInsertString(DCM_StudyInstanceUID, "1.2.826.0.1.3680043.10.1137.9");
  data.putAndInsertString(DCM_SeriesInstanceUID, spec.seriesUid.c_str());
  data.putAndInsertString(DCM_Modality, "SM");
  data.putAndInsertString(DCM_Manufacturer, "Strata tests");
  data.putAndInsertString(DCM_PatientName, spec.patientName.c_str());
  data.putAndInsertString(DCM_AcquisitionDateTime, "20240506071809+0200");
  data.putAndInsertString(DCM_BarcodeValue, "SLIDE-0042");
  data.putAndInsertString(DCM_ImageType, FlavorType(spec.flavor).c_str());
  data.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(spec.tileHeight));
  data.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(spec.tileWidth));
  data.putAndInsertUint32(DCM_TotalPixelMatrixColumns, static_cast<Uint32>(spec.width));
  data.putAndInsertUint32(DCM_TotalPixelMatrixRows, static_cast<Uint32>(spec.height));
  data.putAndInsertUint16(DCM_SamplesPerPixel, 3);
  const bool ybr = spec.coding == FrameCoding::kJpeg && !spec.rgbJpeg;
  data.putAndInsertString(DCM_PhotometricInterpretation, ybr ? "YBR_FULL_422" : "RGB");
  data.putAndInsertUint16(DCM_PlanarConfiguration, 0);
  data.putAndInsertUint16(DCM_BitsAllocated, 8);
  data.putAndInsertUint16(DCM_BitsStored, 8);
  data.putAndInsertUint16(DCM_HighBit, 7);
  data.putAndInsertUint16(DCM_PixelRepresentation, 0);
  const std::string count =
      spec.numberOfFrames.empty() ? std::to_string(frames) : spec.numberOfFrames;
  data.putAndInsertString(DCM_NumberOfFrames, count.c_str());
  data.putAndInsertString(DCM_DimensionOrganizationType,
                          spec.sparse ? "TILED_SPARSE" : "TILED_FULL");
  data.putAndInsertUint32(DCM_TotalPixelMatrixFocalPlanes, 1);
  data.putAndInsertUint32(DCM_NumberOfOpticalPaths, 1);
  DcmItem* shared = nullptr;
  DcmItem* measures = nullptr;
  data.findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0);
  shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, measures, 0);
  measures->putAndInsertString(DCM_PixelSpacing, spec.pixelSpacing.c_str());
  DcmItem* path = nullptr;
  data.findOrCreateSequenceItem(DCM_OpticalPathSequence, path, 0);
  path->putAndInsertString(DCM_OpticalPathIdentifier, "1");
  if (!spec.objectivePower.empty()) {
    path->putAndInsertString(DCM_ObjectiveLensPower, spec.objectivePower.c_str());
  }
  if (!spec.iccProfile.empty()) {
    path->putAndInsertUint8Array(DCM_ICCProfile,
                                 reinterpret_cast<const Uint8*>(spec.iccProfile.data()),
                                 static_cast<unsigned long>(spec.iccProfile.size()));
  }
  if (!spec.concatenationUid.empty()) {
    data.putAndInsertString(DCM_ConcatenationUID, spec.concatenationUid.c_str());
    data.putAndInsertUint16(DCM_InConcatenationNumber,
                            static_cast<Uint16>(spec.concatenationNumber));
    data.putAndInsertUint16(DCM_InConcatenationTotalNumber,
                            static_cast<Uint16>(spec.concatenationTotal));
    data.putAndInsertUint32(DCM_ConcatenationFrameOffsetNumber,
                            static_cast<Uint32>(spec.firstFrame));
  }
}

void PutPositions(DcmDataset& data, const DicomImageSpec& spec,
                  const std::vector<std::pair<int, int>>& tiles) {
  for (std::size_t n = 0; n < tiles.size(); ++n) {
    DcmItem* frame = nullptr;
    DcmItem* plane = nullptr;
    data.findOrCreateSequenceItem(DCM_PerFrameFunctionalGroupsSequence, frame, -2);
    frame->findOrCreateSequenceItem(DCM_PlanePositionSlideSequence, plane, 0);
    plane->putAndInsertSint32(DCM_ColumnPositionInTotalImagePixelMatrix,
                              tiles[n].first * spec.tileWidth + 1 + spec.positionShift);
    plane->putAndInsertSint32(DCM_RowPositionInTotalImagePixelMatrix,
                              tiles[n].second * spec.tileHeight + 1);
  }
}

bool PutJpegFrames(DcmDataset& data, const DicomImageSpec& spec, const std::vector<Bytes>& frames) {
  auto* sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
  auto* offsetItem = new DcmPixelItem(DCM_PixelItemTag);
  sequence->insert(offsetItem);
  DcmOffsetList offsets;
  for (const Bytes& frame : frames) {
    if (!Check(sequence->storeCompressedFrame(offsets, const_cast<Uint8*>(frame.data()),
                                              static_cast<Uint32>(frame.size()),
                                              spec.fragmentKilobytes),
               "storing a frame")) {
      delete sequence;
      return false;
    }
  }
  if (spec.offsetTable) offsetItem->createOffsetTable(offsets);
  auto* pixels = new DcmPixelData(DCM_PixelData);
  pixels->putOriginalRepresentation(EXS_JPEGProcess1, nullptr, sequence);
  return Check(data.insert(pixels, true), "inserting the pixel data");
}

// Names another transfer syntax (of the same length) in the file's meta
// information, the frames left as they are.
void RelabelSyntax(const std::string& path, E_TransferSyntax written, const std::string& uid) {
  const std::string old = DcmXfer(written).getXferID();
  ASSERT_EQ(old.size(), uid.size()) << "relabelled syntaxes keep their length";
  Bytes bytes = ReadFileBytes(path);
  const auto at = std::search(bytes.begin(), bytes.end(), old.begin(), old.end());
  ASSERT_NE(at, bytes.end());
  std::copy(uid.begin(), uid.end(), at);
  WriteFileBytes(path, bytes);
}

// Writes `offsets` over the entries of the file's basic offset table, which
// DCMTK only writes from frame sizes that add up.
void PatchOffsetTable(const std::string& path, const std::vector<unsigned>& offsets) {
  Bytes bytes = ReadFileBytes(path);
  const Bytes pixelData = {0xE0, 0x7F, 0x10, 0x00, 'O', 'B', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto at = std::search(bytes.begin(), bytes.end(), pixelData.begin(), pixelData.end());
  ASSERT_NE(at, bytes.end());
  const std::size_t table = static_cast<std::size_t>(at - bytes.begin()) + pixelData.size();
  const std::size_t length = bytes[table + 4] | bytes[table + 5] << 8;
  ASSERT_EQ(length, offsets.size() * 4) << "the table keeps its size";
  for (std::size_t n = 0; n < offsets.size(); ++n) {
    for (std::size_t byte = 0; byte < 4; ++byte) {
      bytes[table + 8 + n * 4 + byte] = static_cast<unsigned char>(offsets[n] >> (8 * byte));
    }
  }
  WriteFileBytes(path, bytes);
}

}  // namespace

bool WriteDicom(const std::string& folder, const DicomImageSpec& spec, WrittenDicom* written) {
  *written = WrittenDicom();
  written->path = folder + "/" + spec.fileName;
  written->tileWidth = spec.tileWidth;
  written->tileHeight = spec.tileHeight;
  written->jpeg = spec.coding == FrameCoding::kJpeg;
  const int columns = (spec.width + spec.tileWidth - 1) / spec.tileWidth;
  const int rows = (spec.height + spec.tileHeight - 1) / spec.tileHeight;
  std::vector<std::pair<int, int>> tiles;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const std::size_t index = static_cast<std::size_t>(row) * columns + column;
      if (spec.sparse && !spec.present.empty() && !spec.present[index]) continue;
      tiles.emplace_back(column, row);
    }
  }
  // Sparse frames are stored in reverse, so that only positions place them.
  if (spec.sparse) std::reverse(tiles.begin(), tiles.end());
  const int first = spec.firstFrame;
  const int count = spec.frameCount < 0 ? static_cast<int>(tiles.size()) - first : spec.frameCount;
  tiles = std::vector<std::pair<int, int>>(tiles.begin() + first, tiles.begin() + first + count);
  Bytes native;
  for (const auto& [column, row] : tiles) {
    const Bytes tile = CutTile(spec, column, row);
    if (spec.coding == FrameCoding::kJpeg) {
      written->frames.push_back(EncodeFrame(spec, tile));
    } else {
      written->frames.push_back(tile);
      native.insert(native.end(), tile.begin(), tile.end());
    }
  }
  written->tiles = tiles;

  DcmFileFormat file;
  DcmDataset& data = *file.getDataset();
  PutAttributes(data, spec, tiles.size());
  if (spec.sparse) PutPositions(data, spec, tiles);
  E_TransferSyntax syntax = EXS_JPEGProcess1;
  if (spec.coding == FrameCoding::kJpeg) {
    if (!PutJpegFrames(data, spec, written->frames)) return false;
  } else {
    syntax = spec.coding == FrameCoding::kExplicitLittle ? EXS_LittleEndianExplicit
                                                         : EXS_LittleEndianImplicit;
    data.putAndInsertUint8Array(DCM_PixelData, native.data(),
                                static_cast<unsigned long>(native.size()));
  }
  if (!Check(file.saveFile(written->path.c_str(), syntax), "saving the file")) return false;
  if (!spec.transferSyntax.empty()) RelabelSyntax(written->path, syntax, spec.transferSyntax);
  if (!spec.basicOffsets.empty()) PatchOffsetTable(written->path, spec.basicOffsets);
  return true;
}

WrittenSlide WriteDicomSlide(const std::string& folder, const DicomSlideSpec& spec) {
  WrittenSlide slide;
  for (int level = 0; level < spec.levels; ++level) {
    DicomImageSpec image;
    image.fileName = "level-" + std::to_string(level) + ".dcm";
    image.rgb = ExpectedLevelImage(spec.width, spec.height, level, &image.width, &image.height);
    image.tileWidth = image.tileHeight = spec.tile;
    image.coding = spec.coding;
    image.sparse = spec.sparse;
    image.offsetTable = spec.offsetTable;
    image.fragmentKilobytes = spec.fragmentKilobytes;
    image.iccProfile = spec.iccProfile;
    image.seriesUid = spec.seriesUid;
    const int columns = (image.width + spec.tile - 1) / spec.tile;
    const int rows = (image.height + spec.tile - 1) / spec.tile;
    for (int n = 0; spec.sparse && n < columns * rows; ++n) {
      image.present.push_back((n % columns + 2 * (n / columns)) % 3 != 1);
    }
    WrittenDicom written;
    if (!WriteDicom(folder, image, &written)) return slide;
    slide.levels.push_back(written);
    slide.levelPixels.push_back(image.rgb);
    slide.levelSizes.emplace_back(image.width, image.height);
  }
  if (!spec.associated) return slide;
  struct Associated {
    const char* flavor;
    const char* file;
    int width;
    int height;
    FrameCoding coding;
  };
  const Associated images[] = {
      {"LABEL", "label.dcm", 96, 48, FrameCoding::kExplicitLittle},
      {"OVERVIEW", "overview.dcm", 160, 80, FrameCoding::kJpeg},
      {"THUMBNAIL", "thumbnail.dcm", 75, 50, FrameCoding::kExplicitLittle},
  };
  for (const Associated& associated : images) {
    DicomImageSpec image;
    image.fileName = associated.file;
    image.flavor = associated.flavor;
    image.width = image.tileWidth = associated.width;
    image.height = image.tileHeight = associated.height;
    image.rgb = ExpectedBaseImage(associated.width, associated.height);
    image.coding = associated.coding;
    image.seriesUid = spec.seriesUid;
    WrittenDicom written;
    if (!WriteDicom(folder, image, &written)) return slide;
    if (image.flavor == std::string("LABEL")) {
      slide.label = image.rgb;
      slide.labelWidth = image.width;
      slide.labelHeight = image.height;
    }
  }
  return slide;
}

Bytes ExpectedLevelRgba(const WrittenSlide& slide, std::size_t level) {
  const auto [width, height] = slide.levelSizes[level];
  const WrittenDicom& written = slide.levels[level];
  Bytes rgba(static_cast<std::size_t>(width) * height * 4, 0);
  for (std::size_t frame = 0; frame < written.frames.size(); ++frame) {
    const Bytes& stored = written.frames[frame];
    int tileWidth = written.tileWidth;
    int tileHeight = written.tileHeight;
    Bytes pixels = stored;
    if (written.jpeg) {
      unsigned char* decoded =
          DecodeJpeg(stored.data(), static_cast<int>(stored.size()), tileWidth, tileHeight);
      EXPECT_NE(decoded, nullptr);
      if (decoded == nullptr) continue;
      pixels.assign(decoded, decoded + static_cast<std::size_t>(tileWidth) * tileHeight * 3);
      ReleaseBuffer(decoded);
    }
    const auto [column, row] = written.tiles[frame];
    for (int y = 0; y < tileHeight && row * tileHeight + y < height; ++y) {
      for (int x = 0; x < tileWidth && column * tileWidth + x < width; ++x) {
        const std::size_t from = (static_cast<std::size_t>(y) * tileWidth + x) * 3;
        const std::size_t to =
            (static_cast<std::size_t>(row * tileHeight + y) * width + column * tileWidth + x) * 4;
        std::copy(pixels.begin() + from, pixels.begin() + from + 3, rgba.begin() + to);
        rgba[to + 3] = 255;
      }
    }
  }
  return rgba;
}

}  // namespace strata::test
