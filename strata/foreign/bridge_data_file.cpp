#include "strata/foreign/bridge_data_file.h"

#include <algorithm>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/region_geometry.h"
#include "strata/ztx/ztx_region.h"
#include "strata/ztx/ztx_tile_pixels.h"

using strata::foreign::BridgeHeaderFacts;
using strata::ztx::PixelBuffer;

namespace {

constexpr int kDmetrixTileSize = 256;
constexpr int kWhiteImageSize = 256;

bool StartsLikeBmp(const std::vector<unsigned char>& stream) {
  return stream.size() >= 2 && stream[0] == 'B' && stream[1] == 'M';
}

// The slide's own tile stream copied into `stream`; false when there is none.
bool FetchOwnTile(CDataFile& slide, float scale, int x, int y, std::vector<unsigned char>& stream) {
  unsigned char* tile = nullptr;
  int length = 0;
  slide.ReadTileStream(scale, x, y, length, &tile);
  PixelBuffer owned(tile);
  if (owned == nullptr || length <= 0) return false;
  stream.assign(owned.get(), owned.get() + length);
  return true;
}

// A white 256 x 256 JPEG into a new buffer.
bool WhiteImage(unsigned char** data, int& length, int& width, int& height) {
  if (data == nullptr) return false;
  constexpr int kBytes = kWhiteImageSize * kWhiteImageSize * 3;
  PixelBuffer white(strata::AllocateFilledBuffer(kBytes, 255));
  if (!strata::HandOut(std::move(white), kWhiteImageSize, kWhiteImageSize, true, data, length)) {
    return false;
  }
  width = height = kWhiteImageSize;
  return true;
}

// A DMETRIX slide's tiles for region composition: its own ReadTileStream.
class DmetrixTileSource : public strata::ztx::RegionTileSource {
 public:
  explicit DmetrixTileSource(CDMETRIXDataFile& slide) : slide_(slide) {}

  CDataHeader* RegionHeader() override { return slide_.GetHeader(); }
  float SourceScale(float scale) override {
    CDataHeader* header = slide_.GetHeader();
    if (header == nullptr) return 0.0f;
    // The bridge header holds no level item: levels halve.
    return strata::ztx::SelectSourceScale(static_cast<float>(header->GetScanScale()), 0, scale);
  }
  bool FetchTile(float scale, int x, int y, std::vector<unsigned char>& stream) override {
    return FetchOwnTile(slide_, scale, x, y, stream);
  }
  PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                         int& height) override {
    return strata::ztx::DecodeTileStream(stream.data(), stream.size(), StartsLikeBmp(stream),
                                         strata::ztx::kAnyFrame, width, height);
  }
  bool TilesAreColourJpeg() override { return true; }

 private:
  CDMETRIXDataFile& slide_;
};

}  // namespace

// ------------------------------------------------------------------ shared

CBridgeDataFile::~CBridgeDataFile() { CBridgeDataFile::CloseFile(); }

bool CBridgeDataFile::OpenFile(const char* path) { return StorePath(path) && path_[0] != '\0'; }

int CBridgeDataFile::LoadFile() {
  if (!bridge_.Load()) return -1;
  if (handle_.slide == nullptr) bridge_.InitImageFile(handle_, path_);
  return handle_.slide != nullptr ? 0 : -1;
}

CDataHeader* CBridgeDataFile::GetHeader() {
  if (header_ == nullptr && handle_.slide != nullptr) {
    BridgeHeaderFacts facts;
    if (bridge_.GetHeaderInfo(handle_, facts)) header_.reset(NewHeader(facts));
  }
  return header_.get();
}

int CBridgeDataFile::CloseFile() {
  if (handle_.slide != nullptr) {
    bridge_.UnInitImageFile(handle_);
    handle_.slide = nullptr;
  }
  header_.reset();
  return 1;
}

unsigned char* CBridgeDataFile::ReadTileAdjusted(float scale, int x, int y, int& length,
                                                 unsigned char** out, float p1, float p2, float p3,
                                                 float p4, float p5, float p6) {
  length = 0;
  if (out == nullptr) return nullptr;
  std::vector<unsigned char> stream;
  if (!FetchOwnTile(*this, scale, x, y, stream)) {
    strata::ztx::ConsumeCallerBuffer(out);
    return nullptr;
  }
  const float params[strata::kLookupParameterCount] = {p1, p2, p3, p4, p5, p6};
  const bool keep[3] = {true, true, true};
  strata::ztx::AdjustTileStream(stream, StartsLikeBmp(stream), lookupTable_, params, keep, out,
                                length);
  return nullptr;
}

// --------------------------------------------------------------------- MDS

CMOTICDataFile::CMOTICDataFile() : CBridgeDataFile(strata::foreign::MoticBridge()) {}
CMOTICDataFile::~CMOTICDataFile() = default;

CZTXDataHeader1300* CMOTICDataFile::NewHeader(const BridgeHeaderFacts& facts) {
  if (!strata::foreign::PlausibleBridgeFacts(facts, true)) return nullptr;
  return new CMOTICDataHeader(facts);
}

unsigned char* CMOTICDataFile::ReadTileStream(float scale, int x, int y, int& length,
                                              unsigned char** out) {
  if (out == nullptr || handle_.slide == nullptr) return nullptr;
  unsigned char* tile = nullptr;
  int tileLength = 0;
  bridge_.GetImageStream(handle_, scale, x, y, tileLength, tile);
  length = bridge_.Adopt(tile, tileLength, out) ? tileLength : 0;
  // The bridge's own result may point at the buffer just handed back.
  return nullptr;
}

int CMOTICDataFile::ReadRegion(float scale, int x, int y, int width, int height,
                               unsigned char** out, int& length, bool encode) {
  if (out == nullptr || handle_.slide == nullptr) return 0;
  *out = nullptr;
  unsigned char* region = nullptr;
  int regionLength = 0;
  const bool found =
      bridge_.GetImageDataRoi(handle_, scale, x, y, width, height, region, regionLength, encode);
  std::size_t pixelBytes = 0;
  const bool sized =
      encode || (strata::CheckedPixelBytes(width, height, 3, pixelBytes) && pixelBytes > 0 &&
                 static_cast<std::size_t>(regionLength) == pixelBytes);
  if (!found || !sized) {
    bridge_.Release(region);
    return 0;
  }
  if (!bridge_.Adopt(region, regionLength, out)) return 0;
  length = regionLength;
  return 1;
}

bool CMOTICDataFile::PathImage(const char* function, const char* path, unsigned char** data,
                               int& length, int& width, int& height) {
  if (data == nullptr || path == nullptr || !bridge_.Load()) return false;
  unsigned char* image = nullptr;
  int imageLength = length;
  int imageWidth = width;
  int imageHeight = height;
  const bool found =
      bridge_.GetPathImage(function, path, image, imageLength, imageWidth, imageHeight);
  if (imageLength < 1) {
    // Nothing delivered: the outputs stay as the bridge left them, except
    // that a bridge buffer never reaches the caller.
    bridge_.Release(image);
    length = imageLength;
    width = imageWidth;
    height = imageHeight;
    return true;
  }
  if (!found || imageWidth < 0 || imageHeight < 0) {
    bridge_.Release(image);
    return false;
  }
  if (!bridge_.Adopt(image, imageLength, data)) return false;
  length = imageLength;
  width = imageWidth;
  height = imageHeight;
  return true;
}

bool CMOTICDataFile::LoadedSlideImage(const char* function, unsigned char** data, int& length,
                                      int& width, int& height) {
  if (handle_.slide == nullptr) return true;
  return PathImage(function, path_, data, length, width, height);
}

bool CMOTICDataFile::GetLabel(unsigned char** data, int& length, int& width, int& height) {
  return LoadedSlideImage("GetLableInfoPathFunc", data, length, width, height);
}

bool CMOTICDataFile::GetPreview(unsigned char** data, int& length, int& width, int& height) {
  return LoadedSlideImage("GetPriviewInfoPathFunc", data, length, width, height);
}

int CMOTICDataFile::GetThumbnail(unsigned char** data, int& length, int& width, int& height) {
  return LoadedSlideImage("GetThumnailImagePathFunc", data, length, width, height) ? 1 : 0;
}

bool CMOTICDataFile::GetLabelFromPath(const char* path, unsigned char** data, int& length,
                                      int& width, int& height) {
  return PathImage("GetLableInfoPathFunc", path, data, length, width, height);
}

bool CMOTICDataFile::GetPreviewFromPath(const char* path, unsigned char** data, int& length,
                                        int& width, int& height) {
  return PathImage("GetPriviewInfoPathFunc", path, data, length, width, height);
}

bool CMOTICDataFile::GetThumbnailFromPath(const char* path, unsigned char** data, int& length,
                                          int& width, int& height) {
  return PathImage("GetThumnailImagePathFunc", path, data, length, width, height);
}

bool CMOTICDataFile::GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length,
                                              int& width, int& height) {
  return GetThumbnailFromPath(path, data, length, width, height);
}

// ---------------------------------------------------------------- DMETRIX

CDMETRIXDataFile::CDMETRIXDataFile() : CBridgeDataFile(strata::foreign::DmetrixBridge()) {}
CDMETRIXDataFile::~CDMETRIXDataFile() = default;

CZTXDataHeader1300* CDMETRIXDataFile::NewHeader(const BridgeHeaderFacts& facts) {
  if (!strata::foreign::PlausibleBridgeFacts(facts, false)) return nullptr;
  return new CDMETRIXDataHeader(facts);
}

unsigned char* CDMETRIXDataFile::ReadTileStream(float scale, int x, int y, int& length,
                                                unsigned char** out) {
  length = 0;
  if (out == nullptr || handle_.slide == nullptr || x < 0 || y < 0 || !strata::IsUsableScale(scale)) {
    return nullptr;
  }
  CDataHeader* header = GetHeader();
  BridgeHeaderFacts bridgeFacts;
  if (header == nullptr || !bridge_.GetHeaderInfo(handle_, bridgeFacts) ||
      bridgeFacts.scanScale <= 0) {
    return nullptr;
  }
  // The bridge names levels by its own scan scale and tiles by column and row.
  const float levels = static_cast<float>(header->GetScanScale()) / scale;
  const float bridgeScale = static_cast<float>(bridgeFacts.scanScale) / levels;
  unsigned char* tile = nullptr;
  int tileLength = 0;
  bridge_.GetImageStream(handle_, bridgeScale, x / kDmetrixTileSize, y / kDmetrixTileSize,
                         tileLength, tile);
  if (bridge_.Adopt(tile, tileLength, out)) length = tileLength;
  return nullptr;
}

int CDMETRIXDataFile::ReadRegion(float scale, int x, int y, int width, int height,
                                 unsigned char** out, int& length, bool encode) {
  if (handle_.slide == nullptr) {
    if (out != nullptr) *out = nullptr;
    return 0;
  }
  DmetrixTileSource source(*this);
  return strata::ztx::ComposeRegion(source, scale, x, y, width, height, out, length, encode);
}

int CDMETRIXDataFile::GetThumbnail(unsigned char** data, int& length, int& width, int& height) {
  CDataHeader* header = handle_.slide != nullptr ? GetHeader() : nullptr;
  if (header == nullptr || data == nullptr) return 0;
  int w = header->GetWidth();
  int h = header->GetHeight();
  int divisor = 1;
  while (w > kDmetrixTileSize || h > kDmetrixTileSize) {
    w /= 2;
    h /= 2;
    divisor *= 2;
  }
  w = std::max(w, 1);
  h = std::max(h, 1);
  const float scale = static_cast<float>(header->GetScanScale()) / static_cast<float>(divisor);
  if (ReadRegion(scale, 0, 0, w, h, data, length, true) == 0) return 0;
  width = w;
  height = h;
  return 1;
}

bool CDMETRIXDataFile::GetThumbnailFromPath(const char* path, unsigned char** data, int& length,
                                            int& width, int& height) {
  const bool made =
      OpenFile(path) && LoadFile() == 0 && GetThumbnail(data, length, width, height) != 0;
  CloseFile();
  return made;
}

bool CDMETRIXDataFile::GetThumbnailOnlyFromPath(const char* path, unsigned char** data, int& length,
                                                int& width, int& height) {
  return GetThumbnailFromPath(path, data, length, width, height);
}

bool CDMETRIXDataFile::GetLabel(unsigned char** data, int& length, int& width, int& height) {
  return WhiteImage(data, length, width, height);
}

bool CDMETRIXDataFile::GetPreview(unsigned char** data, int& length, int& width, int& height) {
  return WhiteImage(data, length, width, height);
}

bool CDMETRIXDataFile::GetLabelFromPath(const char*, unsigned char** data, int& length, int& width,
                                        int& height) {
  return WhiteImage(data, length, width, height);
}

bool CDMETRIXDataFile::GetPreviewFromPath(const char*, unsigned char** data, int& length,
                                          int& width, int& height) {
  return WhiteImage(data, length, width, height);
}
