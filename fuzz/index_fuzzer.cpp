// The tile index, plain and zlib-compressed, into the tile map, in a whole
// load and in a block load; every filed tile is then looked up and measured.
#include <cstdint>

#include "fuzz/memory_slide.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto slide = strata::fuzz::MemorySlide(data, size);
  if (slide->LoadFile() == 0) {
    for (const TileInfo& tile : slide->Tiles()) {
      int length = 0;
      slide->ReadTileStream(tile.scale, tile.x, tile.y, length, nullptr);
    }
  }
  auto block = strata::fuzz::MemorySlide(data, size);
  block->LoadFileBlock(0, 0, 512, 512, 20.0f);
  return 0;
}
