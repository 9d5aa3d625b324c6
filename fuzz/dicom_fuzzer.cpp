// A DICOM whole-slide instance from its preamble on: the data set, the
// frame table, tiles as stored and decoded, the whole image when small, and
// what the slide would report of it.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "fuzz/memory_slide.h"
#include "strata/dicom/dicom_image.h"
#include "strata/dicom/dicom_instance.h"
#include "strata/dicom/dicom_properties.h"
#include "strata/model/tile_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace strata::dicom;
  std::unique_ptr<DicomInstance> instance;
  auto reader = std::make_unique<strata::fuzz::MemoryReader>(data, size);
  if (!DicomInstance::Read("fuzz.dcm", std::move(reader), &instance).ok()) return 0;
  std::map<std::string, std::string> properties;
  AddDicomProperties(instance->Data(), &properties);
  double x = 0;
  double y = 0;
  std::int64_t when = 0;
  MicronsPerPixel(instance->Data(), 1000, 1000, &x, &y);
  ObjectivePower(instance->Data());
  AcquisitionTime(instance->Data(), &when);
  if (!instance->PrepareFrames().ok()) return 0;
  DicomImage image;
  if (!DicomImage::Assemble({instance.get()}, &image).ok()) return 0;
  for (std::int64_t row = 0; row < std::min<std::int64_t>(image.Rows(), 3); ++row) {
    for (std::int64_t column = 0; column < std::min<std::int64_t>(image.Columns(), 3); ++column) {
      strata::Tile tile;
      if (!image.ReadTile(column, row, &tile).ok() ||
          tile.encoding != strata::TileEncoding::kJpeg) {
        continue;
      }
      int width = 0;
      int height = 0;
      strata::DecodeTileStream(tile.bytes.data(), tile.bytes.size(), false,
                               strata::TileLimits{tile.width, tile.height}, width, height);
    }
  }
  if (image.Width() * image.Height() <= (1 << 18)) {
    strata::Image whole;
    image.ReadWhole(&whole);
  }
  return 0;
}
