// The pyramid of a written slide: which levels exist, which are stored, and
// the streaming builder that turns base-level bands into the tiles of every
// stored level.
#ifndef STRATA_ZTX_ZTX_PYRAMID_BUILDER_H_
#define STRATA_ZTX_ZTX_PYRAMID_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace strata::ztx {

struct PyramidLevel {
  int width = 0;
  int height = 0;
  float scale = 0.0f;
  bool stored = true;           // false: level mode leaves it to the reader
  int columns = 0;              // tiles across (stored levels)
  int rows = 0;                 // tiles down (stored levels)
  std::int64_t firstEntry = 0;  // index of its first tile in the tile index
};

// Level n has scale scanScale / 2^n and is half the size of level n - 1
// (rounded up). Level mode 1 leaves out levels 1 and 3, mode 2 levels 1, 2
// and 3 (the reader composes those from the levels it has). The pyramid ends
// with the first stored level that fits in smallestLevel x smallestLevel.
std::vector<PyramidLevel> PlanPyramid(int width, int height, int scanScale, int blockSize,
                                      int levelMode, int smallestLevel);

std::int64_t StoredTileCount(const std::vector<PyramidLevel>& levels);

// One tile cut from a level: blockSize x blockSize RGB pixels, white where
// the tile reaches past the level's edge.
struct TileImage {
  int level = 0;
  int column = 0;
  int row = 0;
  std::vector<unsigned char> pixels;
};

// Builds the levels from the base level one row at a time. Each level keeps
// one band of blockSize rows and at most one row waiting for its partner, so
// memory stays a few tile rows per level whatever the slide's height.
// Level n + 1 pixel (j, i) is the rounded mean of the 2 x 2 block at
// (2j, 2i) of level n; at an odd right or bottom edge only the pixels that
// exist are averaged.
class PyramidBuilder {
 public:
  PyramidBuilder(std::vector<PyramidLevel> levels, int blockSize);

  // Adds `count` consecutive base rows (width * 3 bytes each).
  void AddBaseRows(const unsigned char* rows, int count);
  // Flushes the last partial bands of every level; call once after the last row.
  void Finish();
  // Tiles completed since the last call, in the order they were completed.
  std::vector<TileImage> TakeReadyTiles();

 private:
  struct LevelState {
    std::vector<unsigned char> band;
    int bandRows = 0;
    int bandIndex = 0;
    std::vector<unsigned char> waitingRow;
    bool hasWaitingRow = false;
    std::vector<unsigned char> halfRow;  // the next level's row being made
  };

  void AddRow(std::size_t level, const unsigned char* row);
  void EmitBand(std::size_t level);
  void HalveRows(std::size_t level, const unsigned char* upper, const unsigned char* lower,
                 unsigned char* out) const;

  std::vector<PyramidLevel> levels_;
  int blockSize_;
  std::vector<LevelState> states_;
  std::vector<TileImage> ready_;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_PYRAMID_BUILDER_H_
