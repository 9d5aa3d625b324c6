// Reads a DICOM file (a 128-byte preamble, "DICM", the file meta
// information, then one data set) through a byte-range reader, so that local
// files and HTTP objects parse alike, up to the start of its pixel data.
//
// The parser trusts nothing it reads: every length is checked against the
// data set or sequence that holds it and against the end of the file, nesting
// is bounded, and what it keeps is bounded (kMaxKeptElements elements, values
// above kMaxKeptValueBytes are recorded by position only). The per-frame
// functional groups, one item per frame, are not kept: only each frame's
// position in the total pixel matrix is. A fault gives a Damaged status
// naming the element and byte; the header then holds what came before it.
#ifndef STRATA_DICOM_DICOM_PARSER_H_
#define STRATA_DICOM_DICOM_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "strata/dicom/dicom_dataset.h"
#include "strata/model/file_operation_tool.h"
#include "strata/status.h"

namespace strata::dicom {

constexpr std::size_t kFileHeadBytes = 132;  // preamble and "DICM"
constexpr std::size_t kMaxKeptElements = 1u << 18;
constexpr std::size_t kMaxKeptValueBytes = 1u << 20;
constexpr std::uint64_t kMaxKeptBytes = 32u << 20;
constexpr int kMaxNesting = 16;
// Frames one instance may describe; a level of 4 million tiles is several
// times the largest scans.
constexpr std::int64_t kMaxFrames = 1 << 22;

struct PixelDataLocation {
  bool present = false;
  std::uint64_t offset = 0;      // first byte of the value
  std::uint64_t length = 0;      // when defined (native frames)
  bool undefinedLength = false;  // encapsulated: items up to a sequence delimiter
};

// A frame's top-left in the total pixel matrix as its functional groups
// give it (1-based); 0 when they give none.
struct FramePosition {
  std::int64_t column = 0;
  std::int64_t row = 0;
};

struct InstanceHeader {
  std::string transferSyntaxUid;
  std::string mediaStorageSopClassUid;
  DataSet dataSet;                            // up to the pixel data, without the per-frame groups
  std::vector<FramePosition> framePositions;  // per frame, in frame order
  PixelDataLocation pixelData;
};

// True when `head` (at least kFileHeadBytes) carries the "DICM" marker.
bool HasFileMarker(const unsigned char* head, std::size_t length);

// Reads only the file meta information.
Status ParseFileMeta(CFileOperationTool& reader, InstanceHeader* header);

// Reads the file meta information and the data set up to the pixel data.
// Data sets in a transfer syntax this reader cannot parse (big endian,
// deflated, unknown) fail as Unsupported, naming it.
Status ParseInstanceHeader(CFileOperationTool& reader, InstanceHeader* header);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_PARSER_H_
