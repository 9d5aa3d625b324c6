#include "strata/ztx/ztx_associated_images.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_tile_index.h"
#include "strata/ztx/ztx_tile_pixels.h"
#include "strata/ztx/ztx_tile_store.h"

namespace strata::ztx {
namespace {

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

bool CopySection(TileStore& store, const SectionImage& image, unsigned char** data, int& length,
                 int& width, int& height) {
  if (!image.present || data == nullptr) return false;
  unsigned char* bytes = nullptr;
  if (!store.ReadSection(image.position, image.offset, image.length, &bytes)) return false;
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

template <typename Block, typename Wide>
Block* Made(std::unique_ptr<Block>& block, HeaderLayout layout, CFileOperationTool* reader) {
  if (block == nullptr) block = NewForLayout<Block, Wide>(layout, reader);
  return block.get();
}

}  // namespace

CZTXLabelDataBlock* AssociatedImages::LabelBlock(HeaderLayout layout, CFileOperationTool* reader) {
  return Made<CZTXLabelDataBlock, CZTXLabelDataBlock1100>(label_, layout, reader);
}

CZTXPreViewDataBlock* AssociatedImages::PreviewBlock(HeaderLayout layout,
                                                     CFileOperationTool* reader) {
  return Made<CZTXPreViewDataBlock, CZTXPreViewDataBlock1100>(preview_, layout, reader);
}

CZTXThumDataBlock* AssociatedImages::ThumbnailBlock(HeaderLayout layout,
                                                    CFileOperationTool* reader) {
  return Made<CZTXThumDataBlock, CZTXThumDataBlock1100>(thumbnail_, layout, reader);
}

bool AssociatedImages::LoadRecords(CZTXDataHeader& header, HeaderLayout layout,
                                   CFileOperationTool* reader) {
  // An absent or damaged image shows later as a failed fetch.
  if (PreviewBlock(layout, reader) == nullptr) return false;
  preview_->SetSectionPos(header.GetPreviewPos());
  preview_->LoadRecord();
  if (LabelBlock(layout, reader) == nullptr) return false;
  label_->SetSectionPos(header.GetLabelPos());
  label_->LoadRecord();
  if (ThumbnailBlock(layout, reader) == nullptr) return false;
  thumbnail_->SetSectionPos(header.GetThumbnailOffset());
  thumbnail_->LoadRecord();
  return true;
}

bool AssociatedImages::LoadThumbnailRecord(CZTXDataHeader& header, HeaderLayout layout,
                                           CFileOperationTool* reader) {
  if (ThumbnailBlock(layout, reader) == nullptr) return false;
  thumbnail_->SetSectionPos(header.GetThumbnailOffset());
  return thumbnail_->LoadRecord() == 0;
}

// ---------------------------------------------------------------- label, preview

bool AssociatedImages::Label(CZTXDataHeader* header, TileStore& store, unsigned char** data,
                             int& length, int& width, int& height) {
  if (header == nullptr || label_ == nullptr) return false;
  // A label whose bytes cannot be read is reported missing, not as success.
  return CopySection(store, SectionImageOf(header->GetLabelOffset(), *label_), data, length, width,
                     height);
}

bool AssociatedImages::Preview(CZTXDataHeader* header, TileStore& store, unsigned char** data,
                               int& length, int& width, int& height) {
  if (header == nullptr || preview_ == nullptr) return false;
  return CopySection(store, SectionImageOf(header->GetPreviewOffset(), *preview_), data, length,
                     width, height);
}

// ---------------------------------------------------------------- thumbnail

int AssociatedImages::StoredThumbnail(CZTXDataHeader* header, TileStore& store,
                                      unsigned char** data, int& length, int& width, int& height) {
  if (header == nullptr || thumbnail_ == nullptr || data == nullptr) return 0;
  unsigned char* stream = nullptr;
  const int storedLength = thumbnail_->GetImageLength();
  if (!store.ReadSection(header->GetThumbnailOffset(), thumbnail_->GetImageOffset(), storedLength,
                         &stream)) {
    return 0;
  }
  int normalisedLength = storedLength;
  int normalisedWidth = thumbnail_->GetImageWidth();
  int normalisedHeight = thumbnail_->GetImageHeight();
  if (!Normalise(*header, store, &stream, normalisedLength, normalisedWidth, normalisedHeight)) {
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
bool AssociatedImages::Normalise(CZTXDataHeader& header, const TileStore& store,
                                 unsigned char** data, int& length, int& width, int& height) {
  OwnedBuffer stored(*data);
  *data = nullptr;
  float targetWidth = static_cast<float>(header.GetWidth());
  float targetHeight = static_cast<float>(header.GetHeight());
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
      !CheckedPixelBytes(canvasWidth, canvasHeight, 3, canvasBytes)) {
    return false;
  }
  // The stored image may not decode larger than its record says.
  int decodedWidth = 0;
  int decodedHeight = 0;
  OwnedBuffer decoded(width > 0 && height > 0
                          ? store.Decode(stored.get(), length, TileLimits{width, height},
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
      !FitsRegionMemoryBudget(canvasBytes)) {
    length = 0;
    return false;
  }
  std::vector<unsigned char> canvas(canvasBytes, 255);
  PastePixels(canvas.data(), canvasWidth, canvasHeight, decoded.get(), decodedWidth, decodedHeight,
              0, 0);
  unsigned char* encoded = nullptr;
  int encodedLength = 0;
  EncodeJpeg(canvas.data(), static_cast<int>(canvasBytes), &encoded, encodedLength, canvasWidth,
             canvasHeight);
  if (encoded == nullptr) return false;
  *data = encoded;
  length = encodedLength;
  width = canvasWidth;
  height = canvasHeight;
  return true;
}

// The tile at (0, 0) of the level at which the slide fits in 256 x 256.
bool AssociatedImages::FallbackThumbnail(CZTXDataHeader* header, const TileIndex& index,
                                         const TileReader& read, unsigned char** data, int& length,
                                         int& width, int& height, bool sizeFromTile) {
  if (header == nullptr || data == nullptr) return false;
  float scale = static_cast<float>(header->GetScanScale());
  std::int64_t levelWidth = header->GetWidth();
  std::int64_t levelHeight = header->GetHeight();
  while (levelWidth > 256 || levelHeight > 256) {
    levelWidth = static_cast<std::int64_t>(static_cast<double>(levelWidth) * 0.5 + 0.5);
    levelHeight = static_cast<std::int64_t>(static_cast<double>(levelHeight) * 0.5 + 0.5);
    scale *= 0.5f;
  }
  unsigned char* stream = nullptr;
  int streamLength = 0;
  if (!read(scale, 0, 0, &stream, streamLength)) return false;
  int reportedWidth = static_cast<int>(levelWidth);
  int reportedHeight = static_cast<int>(levelHeight);
  if (sizeFromTile) {
    const TileInfo* tile = index.Find(scale, 0, 0);
    reportedWidth = tile != nullptr ? tile->width : 256;
    reportedHeight = tile != nullptr ? tile->height : 256;
  }
  *data = stream;
  length = streamLength;
  width = reportedWidth;
  height = reportedHeight;
  return true;
}

}  // namespace strata::ztx
