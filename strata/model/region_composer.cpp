#include "strata/model/region_composer.h"

#include <climits>
#include <cstring>
#include <utility>

#include "strata/model/pixel_ops.h"
#include "strata/model/region_geometry.h"

namespace strata {
namespace {

// One level of a tiled pyramid seen as a tile grid.
class PyramidLevelGrid : public TileGridReader {
 public:
  PyramidLevelGrid(TiledPyramidSource& pyramid, float scale) : pyramid_(pyramid), scale_(scale) {}

  int CellWidth() const override { return pyramid_.BlockSize(); }
  bool FetchTile(std::int64_t x, std::int64_t y, std::vector<unsigned char>& stream) override {
    return x <= INT_MAX && y <= INT_MAX &&
           pyramid_.FetchTile(scale_, static_cast<int>(x), static_cast<int>(y), stream);
  }
  PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                         int& height) override {
    return pyramid_.DecodeTile(stream, width, height);
  }
  bool TilesAreColourJpeg() override { return pyramid_.TilesAreColourJpeg(); }
  void AnnounceTiles(const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) override {
    std::vector<std::pair<int, int>> narrow;
    narrow.reserve(origins.size());
    for (const auto& [x, y] : origins) {
      if (x <= INT_MAX && y <= INT_MAX)
        narrow.emplace_back(static_cast<int>(x), static_cast<int>(y));
    }
    pyramid_.AnnounceTiles(scale_, narrow);
  }

 private:
  TiledPyramidSource& pyramid_;
  float scale_;
};

// Whitens the output outside the window (the parts of a request that lie
// outside the slide).
void WhitenAround(unsigned char* output, int width, int height, const RegionClip& clip) {
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  const int bottom = clip.pasteTop + clip.height;
  const int right = clip.pasteLeft + clip.width;
  for (int y = 0; y < height; ++y) {
    unsigned char* row = output + static_cast<std::size_t>(y) * stride;
    if (y < clip.pasteTop || y >= bottom) {
      std::memset(row, 255, stride);
      continue;
    }
    std::memset(row, 255, static_cast<std::size_t>(clip.pasteLeft) * 3);
    std::memset(row + static_cast<std::size_t>(right) * 3, 255,
                static_cast<std::size_t>(width - right) * 3);
  }
}

}  // namespace

void TiledPyramidSource::FillGrid(float scale, std::int64_t left, std::int64_t top, int width,
                                  int height, const WindowTarget& target, unsigned char missing) {
  PyramidLevelGrid grid(*this, scale);
  FillFromTileGrid(grid, left, top, width, height, target, missing);
}

bool TiledPyramidSource::FillWindow(float sourceScale, float x, float y, int width, int height,
                                    const WindowTarget& target) {
  int left = 0;
  int top = 0;
  if (!TruncateIfFits(x, left) || !TruncateIfFits(y, top)) return false;
  FillGrid(sourceScale, left < 0 ? 0 : left, top < 0 ? 0 : top, width, height, target, 255);
  return true;
}

Composed ComposeScaledRegionInto(ScaledRegionSource& source, float scale, int x, int y, int width,
                                 int height, unsigned char* out) {
  int slideWidth = 0;
  int slideHeight = 0;
  float scanScale = 0.0f;
  if (out == nullptr || !source.Geometry(slideWidth, slideHeight, scanScale)) {
    return Composed::kFailed;
  }
  RegionClip clip;
  if (!ClipRegion(slideWidth, slideHeight, scanScale, scale, x, y, width, height, clip)) {
    // ClipRegion refuses unusable requests and requests outside alike.
    const bool usable = width > 0 && height > 0 && IsUsableScale(scale) && IsUsableScale(scanScale);
    return usable ? Composed::kOutside : Composed::kFailed;
  }
  const float sourceScale = source.SourceScale(scale);
  if (!IsUsableScale(sourceScale)) return Composed::kFailed;
  SourceWindow window;
  if (!WindowAtSource(clip, sourceScale, scale, window)) return Composed::kFailed;
  const bool resized = window.width != clip.width || window.height != clip.height;

  std::size_t outputBytes = 0, windowBytes = 0, clipBytes = 0;
  if (!CheckedPixelBytes(width, height, 3, outputBytes) ||
      !CheckedPixelBytes(window.width, window.height, 3, windowBytes) ||
      !CheckedPixelBytes(clip.width, clip.height, 3, clipBytes)) {
    return Composed::kFailed;
  }
  // Unresized windows are filled straight into the output.
  const std::uint64_t windowPixels = static_cast<std::uint64_t>(windowBytes) / 3;
  const std::uint64_t workingBytes =
      static_cast<std::uint64_t>(outputBytes) + (resized ? windowBytes + clipBytes : 0) +
      windowPixels * static_cast<std::uint64_t>(source.ScratchBytesPerPixel());
  if (!FitsRegionMemoryBudget(workingBytes)) return Composed::kFailed;

  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  if (!resized) {
    WhitenAround(out, width, height, clip);
    const WindowTarget target{out + static_cast<std::size_t>(clip.pasteTop) * stride +
                                  static_cast<std::size_t>(clip.pasteLeft) * 3,
                              stride, 3};
    return source.FillWindow(sourceScale, window.x, window.y, window.width, window.height, target)
               ? Composed::kRegion
               : Composed::kFailed;
  }
  PixelBuffer pixels(AllocateBuffer(windowBytes));
  if (pixels == nullptr) return Composed::kFailed;
  const WindowTarget target{pixels.get(), static_cast<std::size_t>(window.width) * 3, 3};
  if (!source.FillWindow(sourceScale, window.x, window.y, window.width, window.height, target)) {
    return Composed::kFailed;
  }
  // Resized straight into its place in the output.
  unsigned char* place = out + static_cast<std::size_t>(clip.pasteTop) * stride +
                         static_cast<std::size_t>(clip.pasteLeft) * 3;
  if (!ResizeBilinearInto(pixels.get(), window.width, window.height, clip.width, clip.height, place,
                          stride)) {
    return Composed::kFailed;
  }
  WhitenAround(out, width, height, clip);
  return Composed::kRegion;
}

PixelBuffer ComposeScaledRegion(ScaledRegionSource& source, float scale, int x, int y, int width,
                                int height) {
  std::size_t bytes = 0;
  if (!CheckedPixelBytes(width, height, 3, bytes) || bytes == 0) return nullptr;
  PixelBuffer output(AllocateBuffer(bytes));
  if (output == nullptr) return nullptr;
  if (ComposeScaledRegionInto(source, scale, x, y, width, height, output.get()) !=
      Composed::kRegion) {
    return nullptr;
  }
  return output;
}

}  // namespace strata
