// Where each frame of an instance lies in its file, and reading a frame's
// bytes. Native pixel data holds frames of one size back to back.
// Encapsulated pixel data holds a basic offset table item and then items
// of compressed data ("fragments"); frames are found through the extended
// offset table, else the basic offset table, else by walking the items
// (one fragment per frame, or every fragment for a single-frame image).
//
// Building the table checks it against the file: frame counts that the
// tables or the pixel data contradict, offsets that do not rise, and frames
// past the end of the file (probed with one byte where the size is unknown)
// fail as Damaged with the numbers found. Memory stays within one record
// per frame, and frames are at most kMaxFrames.
#ifndef STRATA_DICOM_DICOM_FRAMES_H_
#define STRATA_DICOM_DICOM_FRAMES_H_

#include <cstdint>
#include <vector>

#include "strata/dicom/dicom_parser.h"
#include "strata/model/file_operation_tool.h"
#include "strata/status.h"

namespace strata::dicom {

// The largest frame read, compressed or not.
constexpr std::uint64_t kMaxFrameBytes = 64u << 20;

class FrameTable {
 public:
  // `frames` is the instance's NumberOfFrames; `nativeFrameBytes` the size
  // of one uncompressed frame, 0 for encapsulated pixel data.
  static Status Build(CFileOperationTool& reader, const InstanceHeader& header, std::int64_t frames,
                      std::uint64_t nativeFrameBytes, FrameTable* table);

  std::int64_t Count() const { return count_; }

  // The bytes of frame `index` (0-based), an encapsulated frame's fragments
  // joined. Safe to call from several threads on one table.
  Status Read(CFileOperationTool& reader, std::int64_t index,
              std::vector<unsigned char>* bytes) const;

  // Where frame `index` lies, for reading ahead.
  ByteRange Range(std::int64_t index) const;

 private:
  // A frame's bytes: its data itself, or items whose data are joined.
  struct Span {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool items = false;
  };

  Status BuildEncapsulated(CFileOperationTool& reader, const InstanceHeader& header);
  Status FromExtendedTable(CFileOperationTool& reader, const InstanceHeader& header,
                           std::uint64_t base);
  Status FromBasicTable(CFileOperationTool& reader, const std::vector<std::uint32_t>& offsets,
                        std::uint64_t base);
  Status FromFragments(CFileOperationTool& reader, std::uint64_t base);
  Status CheckWithinFile(CFileOperationTool& reader) const;

  std::int64_t count_ = 0;
  bool native_ = false;
  std::uint64_t nativeOffset_ = 0;
  std::uint64_t nativeFrameBytes_ = 0;
  std::vector<Span> spans_;
};

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_FRAMES_H_
