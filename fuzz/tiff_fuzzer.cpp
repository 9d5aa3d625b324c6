// The native SVS / pyramidal TIFF reader from memory: the directory walk,
// the slide plan and properties, then a bounded number of tiles of every
// level (stored and decoded), a region at a fractional level position on
// every level, and the associated images.
#include <cstdint>
#include <memory>

#include "fuzz/memory_slide.h"
#include "strata/tiff/tiff_slide.h"

namespace {

constexpr int kTilesPerLevel = 6;

void ReadLevel(const strata::tiff::TiffSlide& slide, int level) {
  const strata::SlideLevel& info = slide.Description().levels[static_cast<std::size_t>(level)];
  int read = 0;
  for (std::int64_t row = 0; row * info.tileHeight < info.height && read < kTilesPerLevel; ++row) {
    for (std::int64_t column = 0; column * info.tileWidth < info.width && read < kTilesPerLevel;
         ++column, ++read) {
      strata::Tile tile;
      if (!slide.ReadTile(level, column, row, &tile).ok()) continue;
      int width = 0;
      int height = 0;
      slide.DecodeTile(level, tile, width, height);
    }
  }
  strata::Image rgba;
  const auto x = static_cast<std::int64_t>(0.5 * info.downsample) + 1;
  slide.ReadRegion(level, x, 3, 70, 50, strata::TileCacheUse{}, &rgba);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<strata::tiff::TiffSlide> slide;
  auto reader = std::make_unique<strata::fuzz::MemoryReader>(data, size);
  if (!strata::tiff::TiffSlide::OpenFrom(std::move(reader), "fuzz.svs", &slide).ok()) return 0;
  for (int level = 0; level < static_cast<int>(slide->Description().levels.size()); ++level) {
    ReadLevel(*slide, level);
  }
  for (const std::string& name : slide->Description().associatedImages) {
    strata::Image rgb;
    slide->ReadAssociatedImage(name, &rgb);
  }
  return 0;
}
