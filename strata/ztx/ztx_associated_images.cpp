// Label, preview and thumbnail of a ZTX slide, for a loaded slide and
// straight from a path.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "strata/model/file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_image_blocks.h"
#include "strata/ztx/ztx_tile_pixels.h"

namespace {

// Associated images are at most a few megabytes; when the reader cannot tell
// the file size, a larger record is damaged rather than worth fetching.
constexpr int kMaxUnsizedSectionImage = 256 << 20;

// What a section record says about its image.
struct SectionImage {
  std::int64_t position = 0;
  bool present = false;
  std::int64_t offset = 0;
  int length = 0;
  int width = 0;
  int height = 0;
};

// The image a label or preview record describes, its section at `position`.
template <typename Block>
SectionImage SectionImageOf(std::int64_t position, Block& block) {
  SectionImage image;
  image.position = position;
  image.present = block.GetPresence() != 0;
  image.offset = block.GetImageOffset();
  image.length = block.GetImageLength();
  image.width = block.GetImageWidth();
  image.height = block.GetImageHeight();
  return image;
}

bool CopySection(CZTXDataFile& slide, const SectionImage& image, unsigned char** data, int& length,
                 int& width, int& height) {
  if (!image.present || data == nullptr) return false;
  unsigned char* bytes = nullptr;
  if (!slide.ReadSectionBytes(image.position, image.offset, image.length, &bytes)) return false;
  *data = bytes;
  length = image.length;
  width = image.width;
  height = image.height;
  return true;
}

// The normalisation stops within 64 pixels of the stored size, or below
// 64 x 64.
bool CanvasFitsThumbnail(int canvasWidth, int canvasHeight, int imageWidth, int imageHeight) {
  constexpr int kStep = 64;
  if (canvasWidth < kStep && canvasHeight < kStep) return true;
  return canvasWidth < static_cast<std::int64_t>(imageWidth) + kStep &&
         canvasHeight < static_cast<std::int64_t>(imageHeight) + kStep;
}

}  // namespace

bool CZTXDataFile::ReadSectionBytes(std::int64_t position, std::int64_t offset, int length,
                                    unsigned char** out) {
  if (out == nullptr || reader_ == nullptr || position <= 0 || offset <= 0 || length <= 0) {
    return false;
  }
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (__builtin_add_overflow(position, offset, &start) ||
      __builtin_add_overflow(start, static_cast<std::int64_t>(length), &end)) {
    return false;
  }
  // A record pointing past the end of the file means the image is missing.
  if (fileSize_ >= 0 && end > fileSize_) return false;
  if (fileSize_ < 0 && length > kMaxUnsizedSectionImage) return false;
  ByteBuffer buffer;
  if (!reader_->Read(static_cast<std::uint64_t>(start), length, &buffer) ||
      buffer.Filled() != static_cast<std::size_t>(length)) {
    return false;
  }
  unsigned char* copy = strata::AllocateBuffer(static_cast<std::size_t>(length));
  if (copy == nullptr) return false;
  std::memcpy(copy, buffer.Storage(), static_cast<std::size_t>(length));
  *out = copy;
  return true;
}

// ---------------------------------------------------------------- label, preview

bool CZTXDataFile::GetLabel(unsigned char** data, int& length, int& width, int& height) {
  if (header_ == nullptr || labelBlock_ == nullptr) return false;
  // A label whose bytes cannot be read is reported missing, not as success.
  return CopySection(*this, SectionImageOf(header_->GetLabelOffset(), *labelBlock_), data, length,
                     width, height);
}

bool CZTXDataFile::GetPreview(unsigned char** data, int& length, int& width, int& height) {
  if (header_ == nullptr || previewBlock_ == nullptr) return false;
  return CopySection(*this, SectionImageOf(header_->GetPreviewOffset(), *previewBlock_), data,
                     length, width, height);
}

bool CZTXDataFile::SectionImageFromPath(const char* path, ImageGetter get, unsigned char** data,
                                        int& length, int& width, int& height) {
  PathSession session(*this, path);
  return session.opened() && LoadHeaderRecord() == 0 && LoadSectionRecords() == 0 &&
         (this->*get)(data, length, width, height);
}

bool CZTXDataFile::GetLabelFromPath(const char* path, unsigned char** data, int& length, int& width,
                                    int& height) {
  return SectionImageFromPath(path, &CZTXDataFile::GetLabel, data, length, width, height);
}

bool CZTXDataFile::GetPreviewFromPath(const char* path, unsigned char** data, int& length,
                                      int& width, int& height) {
  return SectionImageFromPath(path, &CZTXDataFile::GetPreview, data, length, width, height);
}

// ---------------------------------------------------------------- thumbnail

int CZTXDataFile::ReadStoredThumbnail(unsigned char** data, int& length, int& width, int& height) {
  if (header_ == nullptr || thumbBlock_ == nullptr || data == nullptr) return 0;
  unsigned char* stream = nullptr;
  const int storedLength = thumbBlock_->GetImageLength();
  if (!ReadSectionBytes(header_->GetThumbnailOffset(), thumbBlock_->GetImageOffset(), storedLength,
                        &stream)) {
    return 0;
  }
  int normalisedLength = storedLength;
  int normalisedWidth = thumbBlock_->GetImageWidth();
  int normalisedHeight = thumbBlock_->GetImageHeight();
  if (!NormaliseThumbnail(&stream, normalisedLength, normalisedWidth, normalisedHeight)) {
    return -1;
  }
  *data = stream;
  length = normalisedLength;
  width = normalisedWidth;
  height = normalisedHeight;
  return 1;
}

// Brings a stored thumbnail to the size the slide implies: the slide size
// halved until it is within 64 pixels of the stored one (or below 64 x 64).
// A thumbnail that matches in either direction is kept as stored; otherwise
// it is placed top-left on a white canvas of the target size and re-encoded
// as JPEG. *data is consumed on failure.
bool CZTXDataFile::NormaliseThumbnail(unsigned char** data, int& length, int& width, int& height) {
  strata::OwnedBuffer stored(*data);
  *data = nullptr;
  float targetWidth = static_cast<float>(header_->GetWidth());
  float targetHeight = static_cast<float>(header_->GetHeight());
  while (!(std::fabs(targetWidth - width) < 64.0f && std::fabs(targetHeight - height) < 64.0f) &&
         !(targetWidth < 64.0f && targetHeight < 64.0f)) {
    targetWidth *= 0.5f;
    targetHeight *= 0.5f;
  }
  const int canvasWidth = static_cast<int>(targetWidth);
  const int canvasHeight = static_cast<int>(targetHeight);
  if (canvasWidth == width || canvasHeight == height) {
    *data = stored.release();
    return true;
  }
  std::size_t canvasBytes = 0;
  if (canvasWidth <= 0 || canvasHeight <= 0 ||
      !strata::CheckedPixelBytes(canvasWidth, canvasHeight, 3, canvasBytes)) {
    return false;
  }
  // The stored image may not decode larger than its record says.
  int decodedWidth = 0;
  int decodedHeight = 0;
  strata::OwnedBuffer decoded(width > 0 && height > 0
                                  ? DecodeStoredImage(stored.get(), length,
                                                      strata::ztx::TileLimits{width, height},
                                                      decodedWidth, decodedHeight)
                                  : nullptr);
  if (decoded == nullptr) {
    length = 0;
    width = canvasWidth;
    height = canvasHeight;
    return false;
  }
  // The canvas only ever pads a thumbnail by less than the 64-pixel step; a
  // larger one comes from a header and record that disagree with the image,
  // and would be memory spent on white.
  if (!CanvasFitsThumbnail(canvasWidth, canvasHeight, decodedWidth, decodedHeight) ||
      !strata::FitsRegionMemoryBudget(canvasBytes)) {
    length = 0;
    return false;
  }
  std::vector<unsigned char> canvas(canvasBytes, 255);
  strata::PastePixels(canvas.data(), canvasWidth, canvasHeight, decoded.get(), decodedWidth,
                      decodedHeight, 0, 0);
  unsigned char* encoded = nullptr;
  int encodedLength = 0;
  strata::EncodeJpeg(canvas.data(), static_cast<int>(canvasBytes), &encoded, encodedLength,
                     canvasWidth, canvasHeight);
  if (encoded == nullptr) return false;
  *data = encoded;
  length = encodedLength;
  width = canvasWidth;
  height = canvasHeight;
  return true;
}

// The tile at (0, 0) of the level at which the slide fits in 256 x 256.
bool CZTXDataFile::FallbackThumbnail(unsigned char** data, int& length, int& width, int& height,
                                     bool sizeFromTile) {
  if (header_ == nullptr || data == nullptr) return false;
  float scale = static_cast<float>(header_->GetScanScale());
  std::int64_t levelWidth = header_->GetWidth();
  std::int64_t levelHeight = header_->GetHeight();
  while (levelWidth > 256 || levelHeight > 256) {
    levelWidth = static_cast<std::int64_t>(static_cast<double>(levelWidth) * 0.5 + 0.5);
    levelHeight = static_cast<std::int64_t>(static_cast<double>(levelHeight) * 0.5 + 0.5);
    scale *= 0.5f;
  }
  unsigned char* stream = nullptr;
  int streamLength = 0;
  if (!ReadTileAllocated(scale, 0, 0, &stream, streamLength)) return false;
  int reportedWidth = static_cast<int>(levelWidth);
  int reportedHeight = static_cast<int>(levelHeight);
  if (sizeFromTile) {
    const TileInfo* tile = FindTile(scale, 0, 0);
    reportedWidth = tile != nullptr ? tile->width : 256;
    reportedHeight = tile != nullptr ? tile->height : 256;
  }
  *data = stream;
  length = streamLength;
  width = reportedWidth;
  height = reportedHeight;
  return true;
}

int CZTXDataFile::GetThumbnail(unsigned char** data, int& length, int& width, int& height) {
  const int stored = ReadStoredThumbnail(data, length, width, height);
  if (stored != 0) return stored > 0 ? 1 : 0;
  return FallbackThumbnail(data, length, width, height, false) ? 1 : 0;
}

bool CZTXDataFile::GetThumbnailFromPath(const char* path, unsigned char** data, int& length,
                                        int& width, int& height) {
  {
    PathSession session(*this, path);
    if (!session.opened() || LoadHeaderRecord() != 0 || LoadSectionRecords() != 0) return false;
    const int stored = ReadStoredThumbnail(data, length, width, height);
    if (stored != 0) return stored > 0;
  }
  // No stored thumbnail: load the tile index and fall back to a tile.
  PathSession session(*this, path);
  return session.opened() && LoadFile() == 0 &&
         FallbackThumbnail(data, length, width, height, true);
}

bool CZTXDataFile::GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length,
                                            int& width, int& height) {
  PathSession session(*this, path);
  if (!session.opened() || LoadHeaderRecord() != 0 || GetThumbBlock() == nullptr) return false;
  thumbBlock_->SetSectionPos(header_->GetThumbnailOffset());
  return thumbBlock_->LoadRecord() == 0 && ReadStoredThumbnail(data, length, width, height) > 0;
}
