#include "strata/model/image_codec.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "strata/model/image_buffer.h"

namespace strata {
namespace {

// libjpeg reports errors through error_exit, which must not return. It jumps
// back to the routine that started the coder; the routine then destroys the
// coder and fails. All state the routine needs after the jump lives in a
// context object outside the frame that called setjmp.
struct JpegErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr coder) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(coder->err);
  std::longjmp(manager->jump, 1);
}

// Warnings are ignored, except those that say the stream or its scan data
// ended early: the decoder would fill the missing rows with grey and call it
// a success.
void JumpOnTruncation(j_common_ptr coder, int level) {
  const int code = coder->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) JumpOnError(coder);
}

void StayQuiet(j_common_ptr) {}

void InstallErrorManager(JpegErrorManager& manager) {
  jpeg_std_error(&manager.base);
  manager.base.error_exit = JumpOnError;
  manager.base.emit_message = JumpOnTruncation;
  manager.base.output_message = StayQuiet;
}

// Rows handed to libjpeg per call: enough for its widest internal row group.
constexpr int kRowsPerCall = 16;

struct EncodeJob {
  JpegErrorManager errors;
  jpeg_compress_struct coder;
  const unsigned char* pixels;
  int width;
  int height;
  int components;
  int quality;
  unsigned char* stream;  // malloc'ed by the memory destination
  unsigned long streamLength;
};

void WriteRows(EncodeJob& job) {
  const std::size_t stride = static_cast<std::size_t>(job.width) * job.components;
  JSAMPROW rows[kRowsPerCall];
  while (job.coder.next_scanline < job.coder.image_height) {
    const JDIMENSION first = job.coder.next_scanline;
    int count = 0;
    while (count < kRowsPerCall && first + count < job.coder.image_height) {
      rows[count] = const_cast<JSAMPROW>(job.pixels + (first + count) * stride);
      ++count;
    }
    jpeg_write_scanlines(&job.coder, rows, static_cast<JDIMENSION>(count));
  }
}

// Runs the whole compression; false when libjpeg reported an error.
bool RunEncoder(EncodeJob* job) {
  if (setjmp(job->errors.jump) != 0) return false;
  jpeg_mem_dest(&job->coder, &job->stream, &job->streamLength);
  job->coder.image_width = static_cast<JDIMENSION>(job->width);
  job->coder.image_height = static_cast<JDIMENSION>(job->height);
  job->coder.input_components = job->components;
  job->coder.in_color_space = job->components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&job->coder);
  jpeg_set_quality(&job->coder, job->quality, TRUE);
  jpeg_start_compress(&job->coder, TRUE);
  WriteRows(*job);
  jpeg_finish_compress(&job->coder);
  return true;
}

// The encoded stream in a buffer the caller releases with ReleaseBuffer.
bool Encode(EncodeJob& job, unsigned char** out, int& outLength) {
  InstallErrorManager(job.errors);
  job.coder.err = &job.errors.base;
  jpeg_create_compress(&job.coder);
  const bool encoded = RunEncoder(&job);
  jpeg_destroy_compress(&job.coder);
  bool delivered = false;
  if (encoded && job.streamLength > 0 && job.streamLength <= kMaxBufferBytes) {
    unsigned char* copy = AllocateBuffer(job.streamLength);
    if (copy != nullptr) {
      std::memcpy(copy, job.stream, job.streamLength);
      *out = copy;
      outLength = static_cast<int>(job.streamLength);
      delivered = true;
    }
  }
  std::free(job.stream);
  return delivered;
}

bool ValidEncodeInput(const unsigned char* pixels, int width, int height, int components,
                      unsigned char** out) {
  std::size_t bytes = 0;
  return pixels != nullptr && out != nullptr && width > 0 && height > 0 &&
         (components == 1 || components == 3) &&
         CheckedPixelBytes(width, height, components, bytes);
}

struct DecodeJob {
  JpegErrorManager errors;
  jpeg_decompress_struct coder;
  const unsigned char* stream;
  unsigned long streamLength;
  int* width;
  int* height;
  int components;
  unsigned char* pixels;  // from AllocateBuffer; released here on failure
  std::size_t stride;     // bytes from row to row; 0 for tightly packed rows
  int maxWidth;           // 0: bounded by the stream length only
  int maxHeight;
};

// The frame the header declares is checked before libjpeg sizes its buffers
// or we size ours.
bool FrameIsPlausible(const DecodeJob& job) {
  const std::int64_t width = job.coder.image_width;
  const std::int64_t height = job.coder.image_height;
  if (width <= 0 || height <= 0) return false;
  if (job.maxWidth > 0 && (width > job.maxWidth || height > job.maxHeight)) return false;
  return width * height <= static_cast<std::int64_t>(job.streamLength) * kMaxPixelsPerStreamByte;
}

void ReadRows(DecodeJob& job) {
  const std::size_t stride = job.stride != 0 ? job.stride
                                             : static_cast<std::size_t>(job.coder.output_width) *
                                                   job.coder.output_components;
  JSAMPROW rows[kRowsPerCall];
  while (job.coder.output_scanline < job.coder.output_height) {
    const JDIMENSION first = job.coder.output_scanline;
    int count = 0;
    while (count < kRowsPerCall && first + count < job.coder.output_height) {
      rows[count] = job.pixels + (first + count) * stride;
      ++count;
    }
    if (jpeg_read_scanlines(&job.coder, rows, static_cast<JDIMENSION>(count)) == 0) {
      // Suspension cannot happen with a memory source; treat it as damage.
      JumpOnError(reinterpret_cast<j_common_ptr>(&job.coder));
    }
  }
}

// Runs the whole decompression into job->pixels; false on any error.
bool RunDecoder(DecodeJob* job) {
  if (setjmp(job->errors.jump) != 0) return false;
  jpeg_mem_src(&job->coder, job->stream, job->streamLength);
  if (jpeg_read_header(&job->coder, TRUE) != JPEG_HEADER_OK) return false;
  if (!FrameIsPlausible(*job)) return false;
  jpeg_start_decompress(&job->coder);
  const int components = job->coder.output_components;
  if (components != 1 && components != 3) return false;
  *job->width = static_cast<int>(job->coder.output_width);
  *job->height = static_cast<int>(job->coder.output_height);
  std::size_t bytes = 0;
  if (!CheckedPixelBytes(job->coder.output_width, job->coder.output_height, components, bytes)) {
    return false;
  }
  job->pixels = AllocateBuffer(bytes);
  if (job->pixels == nullptr) return false;
  job->components = components;
  ReadRows(*job);
  jpeg_finish_decompress(&job->coder);
  return true;
}

}  // namespace

int EncodeJpeg(const unsigned char* pixels, int pixelBytes, unsigned char** out, int& outLength,
               int width, int height) {
  if (!ValidEncodeInput(pixels, width, height, 3, out)) return 0;
  // Never read past the pixels the caller says it has.
  if (pixelBytes < 0 ||
      static_cast<std::int64_t>(pixelBytes) < static_cast<std::int64_t>(width) * height * 3) {
    return 0;
  }
  EncodeJob job{};
  job.pixels = pixels;
  job.width = width;
  job.height = height;
  job.components = 3;
  job.quality = 75;
  Encode(job, out, outLength);
  return 0;
}

bool EncodeJpegWithQuality(const unsigned char* pixels, int width, int height, int components,
                           int quality, unsigned char** out, int& outLength) {
  if (!ValidEncodeInput(pixels, width, height, components, out)) return false;
  if (quality < 1 || quality > 100) return false;
  EncodeJob job{};
  job.pixels = pixels;
  job.width = width;
  job.height = height;
  job.components = components;
  job.quality = quality;
  return Encode(job, out, outLength);
}

unsigned char* DecodeJpegComponents(const unsigned char* stream, int length, int& width,
                                    int& height, int& components) {
  return DecodeJpegComponentsWithin(stream, length, 0, 0, width, height, components);
}

unsigned char* DecodeJpegComponentsWithin(const unsigned char* stream, int length, int maxWidth,
                                          int maxHeight, int& width, int& height, int& components) {
  if (stream == nullptr || length <= 0) return nullptr;
  if (maxWidth < 0 || maxHeight < 0 || (maxWidth == 0) != (maxHeight == 0)) return nullptr;
  DecodeJob job{};
  job.maxWidth = maxWidth;
  job.maxHeight = maxHeight;
  job.stream = stream;
  job.streamLength = static_cast<unsigned long>(length);
  job.width = &width;
  job.height = &height;
  InstallErrorManager(job.errors);
  job.coder.err = &job.errors.base;
  jpeg_create_decompress(&job.coder);
  const bool decoded = RunDecoder(&job);
  jpeg_destroy_decompress(&job.coder);
  if (!decoded) {
    ReleaseBuffer(job.pixels);
    return nullptr;
  }
  components = job.components;
  return job.pixels;
}

namespace {

// Runs the decompression into the caller's rows; false on any error or when
// the image is not colour of the expected size.
bool RunDecoderInto(DecodeJob* job, int width, int height, int channels) {
  if (setjmp(job->errors.jump) != 0) return false;
  jpeg_mem_src(&job->coder, job->stream, job->streamLength);
  if (jpeg_read_header(&job->coder, TRUE) != JPEG_HEADER_OK) return false;
  if (job->coder.image_width != static_cast<JDIMENSION>(width) ||
      job->coder.image_height != static_cast<JDIMENSION>(height) ||
      job->coder.num_components != 3) {
    return false;
  }
  if (channels == 4) job->coder.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&job->coder);
  if (job->coder.output_components != channels ||
      job->coder.output_width != static_cast<JDIMENSION>(width) ||
      job->coder.output_height != static_cast<JDIMENSION>(height)) {
    return false;
  }
  ReadRows(*job);
  jpeg_finish_decompress(&job->coder);
  return true;
}

}  // namespace

bool DecodeJpegInto(const unsigned char* stream, int length, int width, int height,
                    unsigned char* destination, std::size_t stride, int channels) {
  if (stream == nullptr || length <= 0 || destination == nullptr || width <= 0 || height <= 0 ||
      (channels != 3 && channels != 4) ||
      stride < static_cast<std::size_t>(width) * static_cast<std::size_t>(channels)) {
    return false;
  }
  int decodedWidth = 0;
  int decodedHeight = 0;
  DecodeJob job{};
  job.stream = stream;
  job.streamLength = static_cast<unsigned long>(length);
  job.width = &decodedWidth;
  job.height = &decodedHeight;
  job.pixels = destination;
  job.stride = stride;
  InstallErrorManager(job.errors);
  job.coder.err = &job.errors.base;
  jpeg_create_decompress(&job.coder);
  const bool decoded = RunDecoderInto(&job, width, height, channels);
  jpeg_destroy_decompress(&job.coder);
  return decoded;
}

unsigned char* DecodeJpeg(const unsigned char* stream, int length, int& width, int& height) {
  int components = 0;
  return DecodeJpegComponents(stream, length, width, height, components);
}

namespace {

constexpr int kBmpHeaderBytes = 54;

std::int32_t ReadLittleEndian32(const unsigned char* bytes) {
  const std::uint32_t value =
      static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
      (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  return static_cast<std::int32_t>(value);
}

void WriteLittleEndian32(unsigned char* bytes, std::uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

void WriteLittleEndian16(unsigned char* bytes, std::uint16_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
}

// Copies rows in reverse order and swaps the first and third byte of every
// pixel; the same step turns bottom-up BGR into top-down RGB and back.
void FlipRowsSwapRedBlue(const unsigned char* source, unsigned char* destination, int width,
                         int height) {
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  for (int row = 0; row < height; ++row) {
    const unsigned char* from = source + static_cast<std::size_t>(height - 1 - row) * stride;
    unsigned char* to = destination + static_cast<std::size_t>(row) * stride;
    for (std::size_t i = 0; i < stride; i += 3) {
      to[i] = from[i + 2];
      to[i + 1] = from[i + 1];
      to[i + 2] = from[i];
    }
  }
}

}  // namespace

unsigned char* DecodeBmp24(const unsigned char* stream, int length, int& width, int& height) {
  if (stream == nullptr || length < kBmpHeaderBytes) return nullptr;
  const std::int64_t storedWidth = ReadLittleEndian32(stream + 18);
  const std::int64_t storedHeight = ReadLittleEndian32(stream + 22);
  if (storedWidth <= 0 || storedHeight <= 0) return nullptr;
  std::size_t bytes = 0;
  if (!CheckedPixelBytes(storedWidth, storedHeight, 3, bytes)) return nullptr;
  if (static_cast<std::int64_t>(length) - static_cast<std::int64_t>(bytes) != kBmpHeaderBytes) {
    return nullptr;
  }
  unsigned char* pixels = AllocateBuffer(bytes);
  if (pixels == nullptr) return nullptr;
  width = static_cast<int>(storedWidth);
  height = static_cast<int>(storedHeight);
  FlipRowsSwapRedBlue(stream + kBmpHeaderBytes, pixels, width, height);
  return pixels;
}

bool EncodeBmp24(const unsigned char* pixels, int width, int height, unsigned char** out,
                 int& outLength) {
  if (pixels == nullptr || out == nullptr || width <= 0 || height <= 0) return false;
  std::size_t bytes = 0;
  if (!CheckedPixelBytes(width, height, 3, bytes) || bytes > kMaxBufferBytes - kBmpHeaderBytes) {
    return false;
  }
  const std::size_t total = bytes + kBmpHeaderBytes;
  unsigned char* stream = AllocateBuffer(total);
  if (stream == nullptr) return false;
  std::memset(stream, 0, kBmpHeaderBytes);
  stream[0] = 'B';
  stream[1] = 'M';
  WriteLittleEndian32(stream + 2, static_cast<std::uint32_t>(total));
  WriteLittleEndian32(stream + 10, kBmpHeaderBytes);
  WriteLittleEndian32(stream + 14, 40);  // information header size
  WriteLittleEndian32(stream + 18, static_cast<std::uint32_t>(width));
  WriteLittleEndian32(stream + 22, static_cast<std::uint32_t>(height));
  WriteLittleEndian16(stream + 26, 1);   // planes
  WriteLittleEndian16(stream + 28, 24);  // bits per pixel
  WriteLittleEndian32(stream + 34, static_cast<std::uint32_t>(bytes));
  FlipRowsSwapRedBlue(pixels, stream + kBmpHeaderBytes, width, height);
  *out = stream;
  outLength = static_cast<int>(total);
  return true;
}

bool IsBmpFormatTag(const char* tag) { return tag != nullptr && std::memcmp(tag, "BMP\0", 4) == 0; }

}  // namespace strata
