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
Bytes CutTile(const DicomImageRecipe& recipe, int column, int row) {
  Bytes tile(static_cast<std::size_t>(recipe.tileWidth) * recipe.tileHeight * 3, 0);
  for (int y = 0; y < recipe.tileHeight; ++y) {
    const int sourceY = row * recipe.tileHeight + y;
    if (sourceY >= recipe.height) break;
    for (int x = 0; x < recipe.tileWidth; ++x) {
      const int sourceX = column * recipe.tileWidth + x;
      if (sourceX >= recipe.width) break;
      const std::size_t from = (static_cast<std::size_t>(sourceY) * recipe.width + sourceX) * 3;
      const std::size_t to = (static_cast<std::size_t>(y) * recipe.tileWidth + x) * 3;
      std::copy(recipe.rgb.begin() + from, recipe.rgb.begin() + from + 3, tile.begin() + to);
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

Bytes EncodeFrame(const DicomImageRecipe& recipe, const Bytes& tile) {
  if (recipe.rgbJpeg) return UnmarkedRgbJpeg(tile, recipe.tileWidth, recipe.tileHeight);
  unsigned char* stream = nullptr;
  int length = 0;
  if (!EncodeJpegWithQuality(tile.data(), recipe.tileWidth, recipe.tileHeight, 3, 90, &stream,
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

void PutAttributes(DcmDataset& data, const DicomImageRecipe& recipe, std::size_t frames) {
  const std::string sop =
      recipe.sopInstanceUid.empty()
          ? recipe.seriesUid + "." +
                std::to_string(std::hash<std::string>{}(recipe.fileName) % 100000000)
          : recipe.sopInstanceUid;
  data.putAndInsertString(DCM_SOPClassUID, recipe.sopClass.empty()
                                               ? UID_VLWholeSlideMicroscopyImageStorage
                                               : recipe.sopClass.c_str());
  data.putAndInsertString(DCM_SOPInstanceUID, sop.c_str());
  data.putAndInsertString(DCM_StudyInstanceUID, "1.2.826.0.1.3680043.10.1137.9");
  data.putAndInsertString(DCM_SeriesInstanceUID, recipe.seriesUid.c_str());
  data.putAndInsertString(DCM_Modality, "SM");
  data.putAndInsertString(DCM_Manufacturer, "Strata tests");
  data.putAndInsertString(DCM_PatientName, recipe.patientName.c_str());
  data.putAndInsertString(DCM_AcquisitionDateTime, "20240506071809+0200");
  data.putAndInsertString(DCM_BarcodeValue, "SLIDE-0042");
  data.putAndInsertString(DCM_ImageType, FlavorType(recipe.flavor).c_str());
  data.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(recipe.tileHeight));
  data.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(recipe.tileWidth));
  data.putAndInsertUint32(DCM_TotalPixelMatrixColumns, static_cast<Uint32>(recipe.width));
  data.putAndInsertUint32(DCM_TotalPixelMatrixRows, static_cast<Uint32>(recipe.height));
  data.putAndInsertUint16(DCM_SamplesPerPixel, 3);
  const bool ybr = recipe.coding == FrameCoding::kJpeg && !recipe.rgbJpeg;
  data.putAndInsertString(DCM_PhotometricInterpretation, ybr ? "YBR_FULL_422" : "RGB");
  data.putAndInsertUint16(DCM_PlanarConfiguration, 0);
  data.putAndInsertUint16(DCM_BitsAllocated, 8);
  data.putAndInsertUint16(DCM_BitsStored, 8);
  data.putAndInsertUint16(DCM_HighBit, 7);
  data.putAndInsertUint16(DCM_PixelRepresentation, 0);
  const std::string count =
      recipe.numberOfFrames.empty() ? std::to_string(frames) : recipe.numberOfFrames;
  data.putAndInsertString(DCM_NumberOfFrames, count.c_str());
  data.putAndInsertString(DCM_DimensionOrganizationType,
                          recipe.sparse ? "TILED_SPARSE" : "TILED_FULL");
  data.putAndInsertUint32(DCM_TotalPixelMatrixFocalPlanes, 1);
  data.putAndInsertUint32(DCM_NumberOfOpticalPaths, 1);
  DcmItem* shared = nullptr;
  DcmItem* measures = nullptr;
  data.findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0);
  shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, measures, 0);
  measures->putAndInsertString(DCM_PixelSpacing, recipe.pixelSpacing.c_str());
  DcmItem* path = nullptr;
  data.findOrCreateSequenceItem(DCM_OpticalPathSequence, path, 0);
  path->putAndInsertString(DCM_OpticalPathIdentifier, "1");
  if (!recipe.objectivePower.empty()) {
    path->putAndInsertString(DCM_ObjectiveLensPower, recipe.objectivePower.c_str());
  }
  if (!recipe.iccProfile.empty()) {
    path->putAndInsertUint8Array(DCM_ICCProfile,
                                 reinterpret_cast<const Uint8*>(recipe.iccProfile.data()),
                                 static_cast<unsigned long>(recipe.iccProfile.size()));
  }
  if (!recipe.concatenationUid.empty()) {
    data.putAndInsertString(DCM_ConcatenationUID, recipe.concatenationUid.c_str());
    data.putAndInsertUint16(DCM_InConcatenationNumber,
                            static_cast<Uint16>(recipe.concatenationNumber));
    data.putAndInsertUint16(DCM_InConcatenationTotalNumber,
                            static_cast<Uint16>(recipe.concatenationTotal));
    data.putAndInsertUint32(DCM_ConcatenationFrameOffsetNumber,
                            static_cast<Uint32>(recipe.firstFrame));
  }
}

void PutPositions(DcmDataset& data, const DicomImageRecipe& recipe,
                  const std::vector<std::pair<int, int>>& tiles) {
  for (std::size_t n = 0; n < tiles.size(); ++n) {
    DcmItem* frame = nullptr;
    DcmItem* plane = nullptr;
    data.findOrCreateSequenceItem(DCM_PerFrameFunctionalGroupsSequence, frame, -2);
    frame->findOrCreateSequenceItem(DCM_PlanePositionSlideSequence, plane, 0);
    plane->putAndInsertSint32(DCM_ColumnPositionInTotalImagePixelMatrix,
                              tiles[n].first * recipe.tileWidth + 1 + recipe.positionShift);
    plane->putAndInsertSint32(DCM_RowPositionInTotalImagePixelMatrix,
                              tiles[n].second * recipe.tileHeight + 1);
  }
}

bool PutJpegFrames(DcmDataset& data, const DicomImageRecipe& recipe, const std::vector<Bytes>& frames) {
  auto* sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
  auto* offsetItem = new DcmPixelItem(DCM_PixelItemTag);
  sequence->insert(offsetItem);
  DcmOffsetList offsets;
  for (const Bytes& frame : frames) {
    if (!Check(sequence->storeCompressedFrame(offsets, const_cast<Uint8*>(frame.data()),
                                              static_cast<Uint32>(frame.size()),
                                              recipe.fragmentKilobytes),
               "storing a frame")) {
      delete sequence;
      return false;
    }
  }
  if (recipe.offsetTable) offsetItem->createOffsetTable(offsets);
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

bool WriteDicom(const std::string& folder, const DicomImageRecipe& recipe, WrittenDicom* written) {
  *written = WrittenDicom();
  written->path = folder + "/" + recipe.fileName;
  written->tileWidth = recipe.tileWidth;
  written->tileHeight = recipe.tileHeight;
  written->jpeg = recipe.coding == FrameCoding::kJpeg;
  const int columns = (recipe.width + recipe.tileWidth - 1) / recipe.tileWidth;
  const int rows = (recipe.height + recipe.tileHeight - 1) / recipe.tileHeight;
  std::vector<std::pair<int, int>> tiles;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const std::size_t index = static_cast<std::size_t>(row) * columns + column;
      if (recipe.sparse && !recipe.present.empty() && !recipe.present[index]) continue;
      tiles.emplace_back(column, row);
    }
  }
  // Sparse frames are stored in reverse, so that only positions place them.
  if (recipe.sparse) std::reverse(tiles.begin(), tiles.end());
  const int first = recipe.firstFrame;
  const int count = recipe.frameCount < 0 ? static_cast<int>(tiles.size()) - first : recipe.frameCount;
  tiles = std::vector<std::pair<int, int>>(tiles.begin() + first, tiles.begin() + first + count);
  Bytes native;
  for (const auto& [column, row] : tiles) {
    const Bytes tile = CutTile(recipe, column, row);
    if (recipe.coding == FrameCoding::kJpeg) {
      written->frames.push_back(EncodeFrame(recipe, tile));
    } else {
      written->frames.push_back(tile);
      native.insert(native.end(), tile.begin(), tile.end());
    }
  }
  written->tiles = tiles;

  DcmFileFormat file;
  DcmDataset& data = *file.getDataset();
  PutAttributes(data, recipe, tiles.size());
  if (recipe.sparse) PutPositions(data, recipe, tiles);
  E_TransferSyntax syntax = EXS_JPEGProcess1;
  if (recipe.coding == FrameCoding::kJpeg) {
    if (!PutJpegFrames(data, recipe, written->frames)) return false;
  } else {
    syntax = recipe.coding == FrameCoding::kExplicitLittle ? EXS_LittleEndianExplicit
                                                         : EXS_LittleEndianImplicit;
    data.putAndInsertUint8Array(DCM_PixelData, native.data(),
                                static_cast<unsigned long>(native.size()));
  }
  if (!Check(file.saveFile(written->path.c_str(), syntax), "saving the file")) return false;
  if (!recipe.transferSyntax.empty()) RelabelSyntax(written->path, syntax, recipe.transferSyntax);
  if (!recipe.basicOffsets.empty()) PatchOffsetTable(written->path, recipe.basicOffsets);
  return true;
}

WrittenSlide WriteDicomSlide(const std::string& folder, const DicomSlideRecipe& recipe) {
  WrittenSlide slide;
  for (int level = 0; level < recipe.levels; ++level) {
    DicomImageRecipe image;
    image.fileName = "level-" + std::to_string(level) + ".dcm";
    image.rgb = ExpectedLevelImage(recipe.width, recipe.height, level, &image.width, &image.height);
    image.tileWidth = image.tileHeight = recipe.tile;
    image.coding = recipe.coding;
    image.sparse = recipe.sparse;
    image.offsetTable = recipe.offsetTable;
    image.fragmentKilobytes = recipe.fragmentKilobytes;
    image.iccProfile = recipe.iccProfile;
    image.seriesUid = recipe.seriesUid;
    const int columns = (image.width + recipe.tile - 1) / recipe.tile;
    const int rows = (image.height + recipe.tile - 1) / recipe.tile;
    for (int n = 0; recipe.sparse && n < columns * rows; ++n) {
      image.present.push_back((n % columns + 2 * (n / columns)) % 3 != 1);
    }
    WrittenDicom written;
    if (!WriteDicom(folder, image, &written)) return slide;
    slide.levels.push_back(written);
    slide.levelPixels.push_back(image.rgb);
    slide.levelSizes.emplace_back(image.width, image.height);
  }
  if (!recipe.associated) return slide;
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
    DicomImageRecipe image;
    image.fileName = associated.file;
    image.flavor = associated.flavor;
    image.width = image.tileWidth = associated.width;
    image.height = image.tileHeight = associated.height;
    image.rgb = ExpectedBaseImage(associated.width, associated.height);
    image.coding = associated.coding;
    image.seriesUid = recipe.seriesUid;
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
