// Stored levels and property items of an open slide: what the tile map and
// the header hold, summarised for callers that cannot reach the slide classes.
#include <algorithm>
#include <cmath>
#include <map>

#include "strata/interface/boundary_guard.h"
#include "strata/interface/image_operation_manager.h"
#include "strata/model/base_data.h"
#include "strata/model/data_file.h"
#include "strata/ztx/tile_info.h"
#include "strata/ztx/ztx_data_file.h"

namespace {

using StoredLevel = CImageOperationManager::StoredLevel;

// The slide's extent at `scale` rounded up: halving a level of odd size keeps
// its last, partly covered pixel.
int ExtentAt(int fullSize, float scale, int scanScale) {
  if (scanScale <= 0) return fullSize;
  return static_cast<int>(std::ceil(static_cast<double>(fullSize) * scale / scanScale - 1e-9));
}

// Levels from the largest scale down; a level's grid is the size of its first
// (top-left) tile, and its size is the slide's extent at its scale, bounded by
// the far edge of its last tile (tiles are stored whole, padded at the edge).
std::map<float, StoredLevel, std::greater<float>> LevelsOf(CZTXDataFile& slide) {
  std::map<float, StoredLevel, std::greater<float>> levels;
  for (const TileInfo& tile : slide.Tiles()) {
    auto [it, added] = levels.try_emplace(tile.scale, StoredLevel{tile.scale, 0, 0, 0, 0});
    StoredLevel& level = it->second;
    level.width = std::max(level.width, tile.x + tile.width);
    level.height = std::max(level.height, tile.y + tile.height);
    if (tile.x == 0 && tile.y == 0) {
      level.tileWidth = tile.width;
      level.tileHeight = tile.height;
    }
    (void)added;
  }
  CDataHeader* header = slide.GetHeader();
  if (header == nullptr) return levels;
  for (auto& entry : levels) {
    StoredLevel& level = entry.second;
    level.width =
        std::min(level.width, ExtentAt(header->GetWidth(), level.scale, header->GetScanScale()));
    level.height =
        std::min(level.height, ExtentAt(header->GetHeight(), level.scale, header->GetScanScale()));
  }
  return levels;
}

}  // namespace

int CImageOperationManager::GetStoredLevels(IMAGE_INFO_STRUCT handle, StoredLevel* levels,
                                            int capacity) {
  return strata::Guarded(-1, [&] {
    if (handle.slide == nullptr) return -1;
    auto* ztx = dynamic_cast<CZTXDataFile*>(handle.slide);
    if (ztx == nullptr) return 0;
    int count = 0;
    for (const auto& entry : LevelsOf(*ztx)) {
      if (levels != nullptr && count < capacity) levels[count] = entry.second;
      ++count;
    }
    return count;
  });
}

int CImageOperationManager::GetPropertyItems(IMAGE_INFO_STRUCT handle, PropertyItemView* items,
                                             int capacity) {
  return strata::Guarded(-1, [&] {
    if (handle.slide == nullptr) return -1;
    // Only ZTX headers keep property items.
    auto* header = dynamic_cast<CZTXDataHeader*>(handle.slide->GetHeader());
    if (header == nullptr) return 0;
    int count = 0;
    for (const auto& item : header->Items()) {
      if (items != nullptr && count < capacity) {
        items[count] = PropertyItemView{item->GetIdentifier(), item->GetLength(), item->GetValue()};
      }
      ++count;
    }
    return count;
  });
}
