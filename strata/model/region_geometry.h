// Region geometry shared by every format that composes regions from stored
// levels: which level a region is read from, the part of the request that
// lies inside the slide, the window of the level it is resized from, the
// memory budget of one request, and handing the result out.
#ifndef STRATA_MODEL_REGION_GEOMETRY_H_
#define STRATA_MODEL_REGION_GEOMETRY_H_

#include <cstdint>
#include <vector>

#include "strata/model/image_buffer.h"

namespace strata {

// (int) of a computed value, refusing values no int holds.
bool TruncateIfFits(double value, int& out);

// True for a finite, positive scale.
bool IsUsableScale(float scale);

// The working buffers of one request must stay below two fifths of the
// available memory and below 512 MiB.
bool FitsRegionMemoryBudget(std::uint64_t bytes);

// Index into `scales` (stored level scales, finest first) of the level a
// region at `scale` is composed from: above the finest level the finest;
// between a finer level `upper` and a coarser `lower` (upper >= scale >=
// lower) the finer one when scale / lower > 1.5, else the coarser; below every
// level the coarsest. -1 for an empty list or an unusable scale.
int ChooseSourceLevel(const std::vector<float>& scales, float scale);

// A request clipped to the slide as it is seen at the requested scale.
struct RegionClip {
  std::int64_t left = 0;  // the part inside the slide, at the requested scale
  std::int64_t top = 0;
  int width = 0;
  int height = 0;
  int pasteLeft = 0;  // where that part lies in the output
  int pasteTop = 0;
};

// The slide at `scale` measures (int)(side * scale / scanScale + 0.5) pixels.
// False when the request is empty, lies wholly outside, or the numbers are
// unusable.
bool ClipRegion(int slideWidth, int slideHeight, float scanScale, float scale, int x, int y,
                int width, int height, RegionClip& clip);

// The window of a level stored at `sourceScale` that a clipped request is
// resized from: its top-left in level pixels (fractional) and its size
// (truncated, at least one pixel a side).
struct SourceWindow {
  float x = 0.0f;
  float y = 0.0f;
  int width = 0;
  int height = 0;
};
bool WindowAtSource(const RegionClip& clip, float sourceScale, float scale, SourceWindow& window);

// Hands pixels out as they are or as a JPEG stream (quality 75); false, with
// nothing handed out, when encoding fails.
bool HandOut(PixelBuffer pixels, int width, int height, bool encode, unsigned char** out,
             int& length);

}  // namespace strata

#endif  // STRATA_MODEL_REGION_GEOMETRY_H_
