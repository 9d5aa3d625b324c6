#include "tools/ndpi_writer.h"

#include <tiffio.h>

#include <memory>
#include <vector>

#include "strata/slide/image_codec.h"
#include "tools/tiff_file.h"

namespace strata::tools {
namespace {

constexpr ttag_t kFormatFlag = 65420;
constexpr ttag_t kSourceLens = 65421;
constexpr ttag_t kOffsetX = 65422;
constexpr ttag_t kOffsetY = 65423;
constexpr ttag_t kFocalPlane = 65424;

const TIFFFieldInfo kNdpiFields[] = {
    {kFormatFlag, 1, 1, TIFF_LONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("NdpiFormatFlag")},
    {kSourceLens, 1, 1, TIFF_FLOAT, FIELD_CUSTOM, 1, 0, const_cast<char*>("NdpiSourceLens")},
    {kOffsetX, 1, 1, TIFF_SLONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("NdpiOffsetX")},
    {kOffsetY, 1, 1, TIFF_SLONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("NdpiOffsetY")},
    {kFocalPlane, 1, 1, TIFF_SLONG, FIELD_CUSTOM, 1, 0, const_cast<char*>("NdpiFocalPlane")},
};

TIFFExtendProc gParentExtender = nullptr;

void ExtendWithNdpiFields(TIFF* tiff) {
  TIFFMergeFieldInfo(tiff, kNdpiFields, sizeof kNdpiFields / sizeof kNdpiFields[0]);
  if (gParentExtender != nullptr) gParentExtender(tiff);
}

bool WriteJpegDirectory(TIFF* tiff, const std::vector<unsigned char>& rgb, int width, int height,
                        float lens, const NdpiOptions& options) {
  unsigned char* stream = nullptr;
  int length = 0;
  if (!EncodeJpegWithQuality(rgb.data(), width, height, 3, 85, &stream, length)) return false;
  PixelBuffer owned(stream);
  SetRgbLayout(tiff, width, height, PHOTOMETRIC_YCBCR);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(height));
  TIFFSetField(tiff, TIFFTAG_MAKE, "Hamamatsu");
  TIFFSetField(tiff, kFormatFlag, 1u);
  TIFFSetField(tiff, kSourceLens, static_cast<double>(lens));
  TIFFSetField(tiff, kOffsetX, options.offsetX);
  TIFFSetField(tiff, kOffsetY, options.offsetY);
  TIFFSetField(tiff, kFocalPlane, 0);
  return TIFFWriteRawStrip(tiff, 0, stream, length) >= 0 && TIFFWriteDirectory(tiff);
}

}  // namespace

bool WriteNdpi(const std::string& path, const NdpiOptions& options, const SvsPixelSource& source,
               std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (options.width <= 0 || options.height <= 0 || options.width > 65535 ||
      options.height > 65535 || options.levelFactor < 2) {
    *error = "bad NDPI size";
    return false;
  }
  TIFFExtendProc previous = TIFFSetTagExtender(ExtendWithNdpiFields);
  if (previous != ExtendWithNdpiFields) gParentExtender = previous;
  TIFFSetWarningHandler(nullptr);
  TiffFile tiff(TIFFOpen(path.c_str(), "w"));
  if (tiff == nullptr) {
    *error = "cannot create " + path;
    return false;
  }
  const int sizes[2][2] = {
      {options.width, options.height},
      {options.width / options.levelFactor, options.height / options.levelFactor}};
  for (int level = 0; level < 2; ++level) {
    const int w = sizes[level][0];
    const int h = sizes[level][1];
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    source(0, 0, w, h, level == 0 ? 1.0 : options.levelFactor, rgb.data());
    if (!WriteJpegDirectory(tiff.get(), rgb, w, h,
                            options.lens / (level == 0 ? 1 : options.levelFactor), options)) {
      *error = "cannot write level " + std::to_string(level);
      return false;
    }
  }
  if (!options.macro.empty() &&
      !WriteJpegDirectory(tiff.get(), options.macro.rgb, options.macro.width, options.macro.height,
                          -1.0f, options)) {
    *error = "cannot write the macro image";
    return false;
  }
  return true;
}

}  // namespace strata::tools
