// Label, preview and thumbnail of slides read through OpenSlide, from the
// loaded slide or from a path that is opened and closed for the one image.
#include <cstdint>
#include <memory>

#include "strata/foreign/openslide_data_file.h"
#include "strata/model/region_geometry.h"

using strata::PixelBuffer;

namespace {

constexpr std::int64_t kThumbnailMinimumSide = 128;

void ClearOutputs(unsigned char** data, int& length, int& width, int& height) {
  if (data != nullptr) *data = nullptr;
  length = width = height = 0;
}

// Encodes RGB pixels as the image's JPEG stream and fills the outputs.
bool DeliverImage(PixelBuffer pixels, int w, int h, unsigned char** data, int& length, int& width,
                  int& height) {
  if (!strata::HandOut(std::move(pixels), w, h, true, data, length)) return false;
  width = w;
  height = h;
  return true;
}

}  // namespace

std::vector<std::string> COpenSlideDataFile::AssociatedImageNames() const {
  std::vector<std::string> names;
  if (slide_ == nullptr) return names;
  const char* const* listed = library_.AssociatedImageNames(slide_);
  for (int i = 0; listed != nullptr && listed[i] != nullptr && i < 1024; ++i) {
    names.emplace_back(listed[i]);
  }
  return names;
}

bool COpenSlideDataFile::HasAssociatedImage(const char* name) const {
  for (const std::string& listed : AssociatedImageNames()) {
    if (listed == name) return true;
  }
  return false;
}

bool COpenSlideDataFile::ReadAssociatedPixels(const char* name, PixelBuffer& rgb, int& width,
                                              int& height) const {
  std::int64_t w = 0;
  std::int64_t h = 0;
  library_.AssociatedImageDimensions(slide_, name, &w, &h);
  strata::foreign::ArgbReadBuffers buffers;
  if (!buffers.Allocate(w, h)) return false;
  if (!library_.ReadAssociatedImage(slide_, name, buffers.argb.get()) ||
      library_.Error(slide_) != nullptr) {
    return false;
  }
  strata::foreign::CopyArgbColours(buffers.argb.get(), buffers.count, buffers.rgb.get());
  rgb = std::move(buffers.rgb);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

bool COpenSlideDataFile::ReadAssociatedImage(const char* name, unsigned char** data, int& length,
                                             int& width, int& height) const {
  if (data == nullptr || !HasAssociatedImage(name)) return false;
  PixelBuffer rgb;
  int w = 0;
  int h = 0;
  if (!ReadAssociatedPixels(name, rgb, w, h)) return false;
  return DeliverImage(std::move(rgb), w, h, data, length, width, height);
}

void COpenSlideDataFile::ThumbnailExtent(int level, std::int64_t& width,
                                         std::int64_t& height) const {
  header_->LevelExtent(static_cast<std::size_t>(level), width, height);
}

void CBIFDataFile::ThumbnailExtent(int level, std::int64_t& width, std::int64_t& height) const {
  // The level less the region's offset, halved once per level index.
  const COpenSlideDataHeader* header = Header();
  const strata::foreign::OpenSlideLevel& entry = header->Levels()[static_cast<std::size_t>(level)];
  const int shift = level < 62 ? level : 62;
  width = entry.width - (header->SingleRegionX() >> shift);
  height = entry.height - (header->SingleRegionY() >> shift);
}

bool COpenSlideDataFile::ReadLevelThumbnail(bool compositeBackground, unsigned char** data,
                                            int& length, int& width, int& height) const {
  if (data == nullptr || header_ == nullptr) return false;
  const auto& levels = header_->Levels();
  for (int level = static_cast<int>(levels.size()) - 1; level >= 0; --level) {
    const auto& entry = levels[static_cast<std::size_t>(level)];
    if (entry.width < kThumbnailMinimumSide && entry.height < kThumbnailMinimumSide) continue;
    std::int64_t w = 0;
    std::int64_t h = 0;
    ThumbnailExtent(level, w, h);
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return false;
    PixelBuffer pixels =
        ReadLevelPixels(level, 0, 0, static_cast<int>(w), static_cast<int>(h), compositeBackground);
    if (pixels == nullptr) return false;
    return DeliverImage(std::move(pixels), static_cast<int>(w), static_cast<int>(h), data, length,
                        width, height);
  }
  return false;
}

bool COpenSlideDataFile::ReadThumbnail(bool fromPath, unsigned char** data, int& length, int& width,
                                       int& height) {
  if (HasAssociatedImage("thumbnail")) {
    return ReadAssociatedImage("thumbnail", data, length, width, height);
  }
  return ReadLevelThumbnail(!fromPath, data, length, width, height);
}

bool CBIFDataFile::ReadThumbnail(bool fromPath, unsigned char** data, int& length, int& width,
                                 int& height) {
  if (fromPath && HasAssociatedImage("thumbnail")) {
    return ReadAssociatedImage("thumbnail", data, length, width, height);
  }
  return ReadLevelThumbnail(!fromPath, data, length, width, height);
}

bool COpenSlideDataFile::GetLabel(unsigned char** data, int& length, int& width, int& height) {
  return ReadAssociatedImage("label", data, length, width, height);
}

bool COpenSlideDataFile::GetPreview(unsigned char** data, int& length, int& width, int& height) {
  return ReadAssociatedImage("macro", data, length, width, height);
}

int COpenSlideDataFile::GetThumbnail(unsigned char** data, int& length, int& width, int& height) {
  return ReadThumbnail(false, data, length, width, height) ? 1 : 0;
}

bool COpenSlideDataFile::ThumbnailFromPath(unsigned char** data, int& length, int& width,
                                           int& height) {
  return ReadThumbnail(true, data, length, width, height);
}

bool COpenSlideDataFile::ReadImageFromPath(const char* path, ImageReader reader,
                                           unsigned char** data, int& length, int& width,
                                           int& height) {
  ClearOutputs(data, length, width, height);
  if (data == nullptr || !OpenFile(path)) return false;
  const bool read = OpenSource(false) == 0 && (this->*reader)(data, length, width, height);
  CloseFile();
  return read;
}

bool COpenSlideDataFile::GetLabelFromPath(const char* path, unsigned char** data, int& length,
                                          int& width, int& height) {
  return ReadImageFromPath(path, &COpenSlideDataFile::GetLabel, data, length, width, height);
}

bool COpenSlideDataFile::GetPreviewFromPath(const char* path, unsigned char** data, int& length,
                                            int& width, int& height) {
  return ReadImageFromPath(path, &COpenSlideDataFile::GetPreview, data, length, width, height);
}

bool COpenSlideDataFile::GetThumbnailFromPath(const char* path, unsigned char** data, int& length,
                                              int& width, int& height) {
  return ReadImageFromPath(path, &COpenSlideDataFile::ThumbnailFromPath, data, length, width,
                           height);
}

bool COpenSlideDataFile::GetThumbnailOnlyFromPath(const char* path, unsigned char** data,
                                                  int& length, int& width, int& height) {
  return GetThumbnailFromPath(path, data, length, width, height);
}
