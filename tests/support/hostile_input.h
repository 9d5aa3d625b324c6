// Building blocks for hostile-input tests: JPEG streams that lie about their
// frame, index-entry and section-record patches of writer-made slides, and a
// measure of how much memory a call made the process touch.
#ifndef STRATA_TESTS_SUPPORT_HOSTILE_INPUT_H_
#define STRATA_TESTS_SUPPORT_HOSTILE_INPUT_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "strata/ztx/ztx_writer.h"

namespace strata::test {

using ByteVector = std::vector<unsigned char>;

// A colour JPEG of width x height (a soft gradient, quality 90).
ByteVector ColourJpeg(int width, int height);

// A small valid JPEG whose frame header is rewritten to claim width x height:
// its scan data ends long before such a frame would.
ByteVector JpegClaimingFrame(int width, int height);

// Byte position of index entry `entry` of a slide written with `layout`
// (plain index only): 68-byte entries for version 1.0, else 64.
std::size_t IndexEntryAt(const ztx::ZtxLayout& layout, float version, std::size_t entry);
// Field positions inside an index entry.
constexpr std::size_t kEntryWidth = 12;
constexpr std::size_t kEntryHeight = 16;
constexpr std::size_t kEntryLength = 32;
constexpr std::size_t kEntryOffset = 36;  // 1.1 and later: 8 bytes

// Field positions inside a label, preview or thumbnail record.
constexpr std::size_t kRecordPresence = 4;
constexpr std::size_t kRecordHeight = 8;
constexpr std::size_t kRecordWidth = 12;
constexpr std::size_t kRecordLength = 20;
constexpr std::size_t kRecordOffset = 24;  // 1.1 and later: 8 bytes

// Appends `stream` to the file and points the 1.1+ index entry at it.
void RepointTile(ByteVector& file, const ztx::ZtxLayout& layout, std::size_t entry,
                 const ByteVector& stream);

// How far the process's peak resident memory rose while `call` ran, in
// bytes (0 when it stayed below an earlier peak).
std::int64_t PeakMemoryGrowth(const std::function<void()>& call);

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_HOSTILE_INPUT_H_
