#include "strata/ztx/ztx_pyramid_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace strata::ztx {
namespace {

bool LevelIsStored(int level, int levelMode) {
  if (levelMode == 1) return level != 1 && level != 3;
  if (levelMode == 2) return level < 1 || level > 3;
  return true;
}

int TilesAcross(int pixels, int blockSize) { return (pixels + blockSize - 1) / blockSize; }

}  // namespace

std::vector<PyramidLevel> PlanPyramid(int width, int height, int scanScale, int blockSize,
                                      int levelMode, int smallestLevel) {
  std::vector<PyramidLevel> levels;
  std::int64_t entries = 0;
  for (int n = 0;; ++n) {
    PyramidLevel level;
    level.width = width;
    level.height = height;
    level.scale = static_cast<float>(std::ldexp(static_cast<double>(scanScale), -n));
    level.stored = LevelIsStored(n, levelMode);
    if (level.stored) {
      level.columns = TilesAcross(width, blockSize);
      level.rows = TilesAcross(height, blockSize);
      level.firstEntry = entries;
      entries += static_cast<std::int64_t>(level.columns) * level.rows;
    }
    levels.push_back(level);
    if (level.stored && width <= smallestLevel && height <= smallestLevel) break;
    width = (width + 1) / 2;
    height = (height + 1) / 2;
  }
  return levels;
}

std::int64_t StoredTileCount(const std::vector<PyramidLevel>& levels) {
  std::int64_t count = 0;
  for (const PyramidLevel& level : levels) {
    if (level.stored) count += static_cast<std::int64_t>(level.columns) * level.rows;
  }
  return count;
}

PyramidBuilder::PyramidBuilder(std::vector<PyramidLevel> levels, int blockSize)
    : levels_(std::move(levels)), blockSize_(blockSize), states_(levels_.size()) {
  for (std::size_t i = 0; i < levels_.size(); ++i) {
    const std::size_t rowBytes = static_cast<std::size_t>(levels_[i].width) * 3;
    states_[i].band.resize(rowBytes * static_cast<std::size_t>(blockSize_));
    states_[i].waitingRow.resize(rowBytes);
    if (i + 1 < levels_.size()) {
      states_[i].halfRow.resize(static_cast<std::size_t>(levels_[i + 1].width) * 3);
    }
  }
}

void PyramidBuilder::AddBaseRows(const unsigned char* rows, int count) {
  const std::size_t rowBytes = static_cast<std::size_t>(levels_[0].width) * 3;
  for (int i = 0; i < count; ++i) AddRow(0, rows + rowBytes * static_cast<std::size_t>(i));
}

void PyramidBuilder::AddRow(std::size_t level, const unsigned char* row) {
  LevelState& state = states_[level];
  const std::size_t rowBytes = static_cast<std::size_t>(levels_[level].width) * 3;
  std::memcpy(state.band.data() + rowBytes * static_cast<std::size_t>(state.bandRows), row,
              rowBytes);
  if (++state.bandRows == blockSize_) EmitBand(level);

  if (level + 1 >= levels_.size()) return;
  if (!state.hasWaitingRow) {
    std::memcpy(state.waitingRow.data(), row, rowBytes);
    state.hasWaitingRow = true;
    return;
  }
  state.hasWaitingRow = false;
  HalveRows(level, state.waitingRow.data(), row, state.halfRow.data());
  AddRow(level + 1, state.halfRow.data());
}

void PyramidBuilder::Finish() {
  for (std::size_t level = 0; level < levels_.size(); ++level) {
    LevelState& state = states_[level];
    if (state.bandRows > 0) EmitBand(level);
    if (state.hasWaitingRow && level + 1 < levels_.size()) {
      state.hasWaitingRow = false;
      HalveRows(level, state.waitingRow.data(), nullptr, state.halfRow.data());
      AddRow(level + 1, state.halfRow.data());
    }
  }
}

void PyramidBuilder::HalveRows(std::size_t level, const unsigned char* upper,
                               const unsigned char* lower, unsigned char* out) const {
  const int width = levels_[level].width;
  const int halfWidth = levels_[level + 1].width;
  for (int j = 0; j < halfWidth; ++j) {
    const int left = 2 * j;
    const bool hasRight = left + 1 < width;
    for (int c = 0; c < 3; ++c) {
      const std::size_t a = static_cast<std::size_t>(left) * 3 + static_cast<std::size_t>(c);
      const std::size_t b = a + 3;
      unsigned sum = upper[a];
      unsigned count = 1;
      if (hasRight) sum += upper[b], ++count;
      if (lower != nullptr) {
        sum += lower[a], ++count;
        if (hasRight) sum += lower[b], ++count;
      }
      out[static_cast<std::size_t>(j) * 3 + static_cast<std::size_t>(c)] =
          static_cast<unsigned char>((sum + count / 2) / count);
    }
  }
}

void PyramidBuilder::EmitBand(std::size_t level) {
  LevelState& state = states_[level];
  const PyramidLevel& plan = levels_[level];
  if (plan.stored) {
    const std::size_t tileRowBytes = static_cast<std::size_t>(blockSize_) * 3;
    const std::size_t levelRowBytes = static_cast<std::size_t>(plan.width) * 3;
    for (int column = 0; column < plan.columns; ++column) {
      TileImage tile;
      tile.level = static_cast<int>(level);
      tile.column = column;
      tile.row = state.bandIndex;
      tile.pixels.assign(tileRowBytes * static_cast<std::size_t>(blockSize_), 255);
      const int left = column * blockSize_;
      const std::size_t copyBytes =
          static_cast<std::size_t>(std::min(blockSize_, plan.width - left)) * 3;
      for (int y = 0; y < state.bandRows; ++y) {
        std::memcpy(tile.pixels.data() + tileRowBytes * static_cast<std::size_t>(y),
                    state.band.data() + levelRowBytes * static_cast<std::size_t>(y) +
                        static_cast<std::size_t>(left) * 3,
                    copyBytes);
      }
      ready_.push_back(std::move(tile));
    }
  }
  ++state.bandIndex;
  state.bandRows = 0;
}

std::vector<TileImage> PyramidBuilder::TakeReadyTiles() {
  std::vector<TileImage> tiles;
  tiles.swap(ready_);
  return tiles;
}

}  // namespace strata::ztx
