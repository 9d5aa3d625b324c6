// JPEG and BMP routines shared by every format (libjpeg 6b interface of
// libjpeg-turbo). Output arrays come from AllocateBuffer and belong to the
// caller. Decoder errors return control to the routine, which cleans up and
// reports failure; nothing here throws or exits.
#ifndef STRATA_MODEL_IMAGE_CODEC_H_
#define STRATA_MODEL_IMAGE_CODEC_H_

#include <cstddef>
#include <cstdint>

namespace strata {

// Encodes `height` rows of `width` RGB pixels (stride width * 3) as a baseline
// JPEG at quality 75. On success *out receives the stream and outLength its
// size; on failure both are left untouched. Always returns 0.
int EncodeJpeg(const unsigned char* pixels, int pixelBytes, unsigned char** out, int& outLength,
               int width, int height);

// As EncodeJpeg with a chosen quality (1-100) and 1 (grey) or 3 (RGB)
// components. True on success.
bool EncodeJpegWithQuality(const unsigned char* pixels, int width, int height, int components,
                           int quality, unsigned char** out, int& outLength);

// Decodes a JPEG stream; null for a null stream, length <= 0 or a damaged
// stream. The array holds components * width * height bytes (3 for colour,
// RGB order; 1 for grey).
unsigned char* DecodeJpeg(const unsigned char* stream, int length, int& width, int& height);
unsigned char* DecodeJpegComponents(const unsigned char* stream, int length, int& width,
                                    int& height, int& components);

// As DecodeJpegComponents, but a frame wider than maxWidth or taller than
// maxHeight is refused before anything is allocated for it.
unsigned char* DecodeJpegComponentsWithin(const unsigned char* stream, int length, int maxWidth,
                                          int maxHeight, int& width, int& height, int& components);

// Every decoder here refuses a frame that claims more pixels than its stream
// can describe: each 8 x 8 block costs the entropy coder at least one bit.
constexpr std::int64_t kMaxPixelsPerStreamByte = 8 * 64;

// Decodes a colour JPEG of exactly width x height pixels straight into rows
// `stride` bytes apart at `destination` (a window of a larger image): RGB
// for 3 channels, RGBA with alpha 255 for 4. False when the stream is
// damaged, not colour or of another size; the destination may then be
// partly written.
bool DecodeJpegInto(const unsigned char* stream, int length, int width, int height,
                    unsigned char* destination, std::size_t stride, int channels = 3);

// Decodes an uncompressed 24-bit BMP whose rows carry no padding
// (length == 54 + width * height * 3). Returns top-down RGB pixels.
unsigned char* DecodeBmp24(const unsigned char* stream, int length, int& width, int& height);

// Encodes RGB pixels as the 24-bit BMP that DecodeBmp24 reads: a 54-byte
// header and bottom-up BGR rows without padding. True on success.
bool EncodeBmp24(const unsigned char* pixels, int width, int height, unsigned char** out,
                 int& outLength);

// True when an image format tag (the header's 8 bytes) names BMP streams.
bool IsBmpFormatTag(const char* tag);

}  // namespace strata

#endif  // STRATA_MODEL_IMAGE_CODEC_H_
