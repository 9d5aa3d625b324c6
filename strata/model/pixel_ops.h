// Pixel helpers on 3-byte interleaved pixels, rows top-down without padding.
// Every result is a new buffer from AllocateBuffer, or null when the size is
// invalid or memory is short.
#ifndef STRATA_MODEL_PIXEL_OPS_H_
#define STRATA_MODEL_PIXEL_OPS_H_

#include <cstddef>
#include <cstdint>

namespace strata {

// Copies a width x height window at (left, top) of the canvas. Parts of the
// window outside the canvas are white.
unsigned char* CropPixels(const unsigned char* canvas, int canvasWidth, int canvasHeight, int left,
                          int top, int width, int height);

// Bilinear resize. Destination pixel (j, i) samples the source at
// x = (float)sw / dw * j, y = (float)sh / dh * i (single precision);
// x0 = (int)x, fx = x - x0 (likewise y0, fy); the neighbours (x0, y0),
// (x0+1, y0), (x0, y0+1), (x0+1, y0+1) are clamped to the last column / row.
// Each channel is the float sum (1-fy)(1-fx)*a + (1-fy)fx*b + fy(1-fx)*c +
// fy*fx*d, evaluated in that order and truncated towards zero (no rounding),
// so equal sizes copy the pixels exactly.
unsigned char* ResizeBilinear(const unsigned char* pixels, int sourceWidth, int sourceHeight,
                              int destinationWidth, int destinationHeight);
// The same into rows of `out` that lie `outStride` bytes apart (a window of
// a larger image); false for unusable sizes.
bool ResizeBilinearInto(const unsigned char* pixels, int sourceWidth, int sourceHeight,
                        int destinationWidth, int destinationHeight, unsigned char* out,
                        std::size_t outStride);

// Interleaves three grey planes into RGB; a null plane gives 0 in its channel.
unsigned char* InterleavePlanes(const unsigned char* red, const unsigned char* green,
                                const unsigned char* blue, int width, int height);

// Copies a width x height block of RGB pixels into `canvas` with its top-left
// at (left, top), clipped to the canvas.
void PastePixels(unsigned char* canvas, int canvasWidth, int canvasHeight,
                 const unsigned char* block, int width, int height, int left, int top);

// As PastePixels for a block whose rows lie `blockStride` bytes apart (a
// window of a wider image).
void PastePixelsStrided(unsigned char* canvas, int canvasWidth, int canvasHeight,
                        const unsigned char* block, std::size_t blockStride, int width, int height,
                        int left, int top);

// Available physical memory in bytes.
std::uint64_t AvailableMemoryBytes();

}  // namespace strata

#endif  // STRATA_MODEL_PIXEL_OPS_H_
