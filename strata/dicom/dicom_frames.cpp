#include "strata/dicom/dicom_frames.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string>

#include "strata/model/byte_buffer.h"

namespace strata::dicom {
namespace {

constexpr std::uint32_t kItemTag = 0xE000FFFEu;       // (FFFE,E000) as stored
constexpr std::uint32_t kDelimiterTag = 0xE0DDFFFEu;  // (FFFE,E0DD)

std::string At(std::uint64_t offset) { return " at byte " + std::to_string(offset); }

// The 8-byte item header at `offset`: its tag and length.
Status ReadItemHeader(CFileOperationTool& reader, std::uint64_t offset, std::uint32_t* tag,
                      std::uint32_t* length) {
  unsigned char bytes[8];
  std::size_t delivered = 0;
  if (!reader.ReadInto(offset, sizeof bytes, bytes, delivered) || delivered < sizeof bytes) {
    return Status::Damaged("truncated: the pixel data ends" + At(offset) +
                           " without its sequence delimiter");
  }
  *tag = LoadLittleEndian32(bytes);
  *length = LoadLittleEndian32(bytes + 4);
  return Status::Ok();
}

// The item of frame `frame` that an offset table places at `offset`.
Status CheckFragmentAt(CFileOperationTool& reader, std::uint64_t offset, std::int64_t frame) {
  std::uint32_t tag = 0;
  std::uint32_t length = 0;
  const std::int64_t size = reader.Size();
  if ((size >= 0 && offset >= static_cast<std::uint64_t>(size)) ||
      !ReadItemHeader(reader, offset, &tag, &length).ok()) {
    return Status::Damaged("truncated, or a bad offset table: frame " + std::to_string(frame) +
                           " lies" + At(offset) + ", past the end of the file");
  }
  if (tag != kItemTag) {
    return Status::Damaged("the offset table places frame " + std::to_string(frame) + At(offset) +
                           ", where no fragment starts");
  }
  return Status::Ok();
}

// Walks the items from `offset` to the sequence delimiter, handing each
// item's data (offset, length) to `take`; at most `limit` items. The
// delimiter's position lands in *end.
Status WalkItems(CFileOperationTool& reader, std::uint64_t offset, std::int64_t limit,
                 const std::function<void(std::uint64_t, std::uint64_t)>& take,
                 std::uint64_t* end) {
  const std::int64_t size = reader.Size();
  for (std::int64_t count = 0;; ++count) {
    std::uint32_t tag = 0;
    std::uint32_t length = 0;
    Status read = ReadItemHeader(reader, offset, &tag, &length);
    if (!read.ok()) return read;
    if (tag == kDelimiterTag) {
      *end = offset;
      return Status::Ok();
    }
    if (tag != kItemTag || length == 0xFFFFFFFFu) {
      return Status::Damaged("the pixel data holds no fragment item" + At(offset));
    }
    if (count >= limit) {
      return Status::Damaged("the pixel data holds more than " + std::to_string(limit) +
                             " fragments");
    }
    take(offset + 8, length);
    offset += 8 + static_cast<std::uint64_t>(length);
    if (size >= 0 && offset > static_cast<std::uint64_t>(size)) {
      return Status::Damaged("truncated: a fragment ends" + At(offset) +
                             ", past the end of the file (" + std::to_string(size) + " bytes)");
    }
  }
}

// Reads `count` little-endian 64-bit values of an element the parser kept
// or recorded by position.
Status ReadTable64(CFileOperationTool& reader, const Element& element, std::int64_t count,
                   std::vector<std::uint64_t>* values) {
  if (element.length != static_cast<std::uint64_t>(count) * 8) {
    return Status::Damaged("the extended offset table lists " + std::to_string(element.length / 8) +
                           " frames, NumberOfFrames says " + std::to_string(count));
  }
  std::vector<unsigned char> bytes(element.length);
  if (!element.skipped) {
    bytes.assign(element.value.begin(), element.value.end());
  } else if (!reader.ReadWhole(element.offset, bytes.size(), bytes.data())) {
    return Status::Damaged("the extended offset table" + At(element.offset) + " cannot be read");
  }
  values->resize(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < values->size(); ++i) {
    (*values)[i] = LoadLittleEndian64(bytes.data() + i * 8);
  }
  return Status::Ok();
}

}  // namespace

Status FrameTable::Build(CFileOperationTool& reader, const InstanceHeader& header,
                         std::int64_t frames, std::uint64_t nativeFrameBytes, FrameTable* table) {
  *table = FrameTable();
  if (!header.pixelData.present) {
    return Status::Damaged("the file ends without pixel data (truncated, or no image)");
  }
  if (frames < 1 || frames > kMaxFrames) {
    return Status::Damaged("NumberOfFrames " + std::to_string(frames) + " is outside 1.." +
                           std::to_string(kMaxFrames));
  }
  table->count_ = frames;
  if (nativeFrameBytes == 0) {
    if (!header.pixelData.undefinedLength) {
      return Status::Damaged("compressed pixel data" + At(header.pixelData.offset) +
                             " is not a sequence of fragments");
    }
    Status built = table->BuildEncapsulated(reader, header);
    if (!built.ok()) return built;
    return table->CheckWithinFile(reader);
  }
  if (header.pixelData.undefinedLength) {
    return Status::Damaged("uncompressed pixel data" + At(header.pixelData.offset) +
                           " has an undefined length");
  }
  if (nativeFrameBytes > kMaxFrameBytes) {
    return Status::Damaged("a frame of " + std::to_string(nativeFrameBytes) +
                           " bytes is larger than " + std::to_string(kMaxFrameBytes));
  }
  // Values have even lengths, so one byte of padding may follow the frames.
  const std::uint64_t expected = static_cast<std::uint64_t>(frames) * nativeFrameBytes;
  const std::uint64_t stored = header.pixelData.length;
  if (stored != expected && stored != expected + 1) {
    return Status::Damaged("NumberOfFrames says " + std::to_string(frames) + " frames of " +
                           std::to_string(nativeFrameBytes) + " bytes (" +
                           std::to_string(expected) + " bytes), the pixel data holds " +
                           std::to_string(stored) + " bytes");
  }
  table->native_ = true;
  table->nativeOffset_ = header.pixelData.offset;
  table->nativeFrameBytes_ = nativeFrameBytes;
  return table->CheckWithinFile(reader);
}

Status FrameTable::BuildEncapsulated(CFileOperationTool& reader, const InstanceHeader& header) {
  const std::uint64_t start = header.pixelData.offset;
  std::uint32_t tag = 0;
  std::uint32_t length = 0;
  Status read = ReadItemHeader(reader, start, &tag, &length);
  if (!read.ok()) return read;
  if (tag != kItemTag || length % 4 != 0 || length / 4 > static_cast<std::uint64_t>(kMaxFrames)) {
    return Status::Damaged("the pixel data" + At(start) + " does not start with an offset table");
  }
  const std::uint64_t base = start + 8 + length;
  const std::int64_t size = reader.Size();
  if (size >= 0 && base > static_cast<std::uint64_t>(size)) {
    return Status::Damaged("truncated: the offset table" + At(start) +
                           " runs past the end of the file");
  }
  if (header.dataSet.Find(tags::kExtendedOffsetTable) != nullptr) {
    return FromExtendedTable(reader, header, base);
  }
  if (length == 0) return FromFragments(reader, base);
  std::vector<unsigned char> bytes(length);
  if (!reader.ReadWhole(start + 8, bytes.size(), bytes.data())) {
    return Status::Damaged("truncated: the offset table" + At(start) + " cannot be read");
  }
  std::vector<std::uint32_t> offsets(length / 4);
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    offsets[i] = LoadLittleEndian32(bytes.data() + i * 4);
  }
  return FromBasicTable(reader, offsets, base);
}

Status FrameTable::FromExtendedTable(CFileOperationTool& reader, const InstanceHeader& header,
                                     std::uint64_t base) {
  const Element* offsetsElement = header.dataSet.Find(tags::kExtendedOffsetTable);
  const Element* lengthsElement = header.dataSet.Find(tags::kExtendedOffsetTableLengths);
  if (lengthsElement == nullptr) {
    return Status::Damaged("the extended offset table comes without its lengths");
  }
  std::vector<std::uint64_t> offsets;
  std::vector<std::uint64_t> lengths;
  Status read = ReadTable64(reader, *offsetsElement, count_, &offsets);
  if (read.ok()) read = ReadTable64(reader, *lengthsElement, count_, &lengths);
  if (!read.ok()) return read;
  spans_.resize(offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    if (offsets[i] > std::numeric_limits<std::uint64_t>::max() / 2 || lengths[i] > kMaxFrameBytes ||
        (i > 0 && offsets[i] <= offsets[i - 1])) {
      return Status::Damaged("the extended offset table gives frame " + std::to_string(i) +
                             " an impossible place");
    }
    spans_[i] = Span{base + offsets[i] + 8, lengths[i], false};
  }
  Status first = CheckFragmentAt(reader, base + offsets.front(), 0);
  if (!first.ok()) return first;
  return CheckFragmentAt(reader, base + offsets.back(), count_ - 1);
}

Status FrameTable::FromBasicTable(CFileOperationTool& reader,
                                  const std::vector<std::uint32_t>& offsets, std::uint64_t base) {
  if (static_cast<std::int64_t>(offsets.size()) != count_) {
    return Status::Damaged("the offset table lists " + std::to_string(offsets.size()) +
                           " frames, NumberOfFrames says " + std::to_string(count_));
  }
  if (offsets.front() != 0) {
    return Status::Damaged("the offset table places the first frame at " +
                           std::to_string(offsets.front()) + ", not 0");
  }
  for (std::size_t i = 1; i < offsets.size(); ++i) {
    if (offsets[i] <= offsets[i - 1]) {
      return Status::Damaged("the offset table's entries do not rise (frame " + std::to_string(i) +
                             ")");
    }
  }
  const Status last = CheckFragmentAt(reader, base + offsets.back(), count_ - 1);
  if (!last.ok()) return last;
  // The last frame runs to the sequence delimiter.
  std::uint64_t end = 0;
  const Status walked = WalkItems(
      reader, base + offsets.back(), kMaxFrames, [](std::uint64_t, std::uint64_t) {}, &end);
  if (!walked.ok()) return walked;
  spans_.resize(offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::uint64_t from = base + offsets[i];
    const std::uint64_t to = i + 1 < offsets.size() ? base + offsets[i + 1] : end;
    if (to - from > kMaxFrameBytes) {
      return Status::Damaged("frame " + std::to_string(i) + " spans " + std::to_string(to - from) +
                             " bytes");
    }
    spans_[i] = Span{from, to - from, true};
  }
  return Status::Ok();
}

Status FrameTable::FromFragments(CFileOperationTool& reader, std::uint64_t base) {
  std::vector<Span> fragments;
  std::uint64_t end = 0;
  const std::int64_t limit = count_ == 1 ? kMaxFrames : count_;
  const Status walked = WalkItems(
      reader, base, limit,
      [&](std::uint64_t offset, std::uint64_t length) {
        fragments.push_back(Span{offset, length, false});
      },
      &end);
  if (!walked.ok()) return walked;
  if (static_cast<std::int64_t>(fragments.size()) == count_) {
    for (const Span& fragment : fragments) {
      if (fragment.length > kMaxFrameBytes) {
        return Status::Damaged("a fragment of " + std::to_string(fragment.length) + " bytes" +
                               At(fragment.offset) + " is larger than a frame may be");
      }
    }
    spans_ = std::move(fragments);
    return Status::Ok();
  }
  if (count_ == 1 && !fragments.empty() && end - base <= kMaxFrameBytes) {
    spans_.push_back(Span{base, end - base, true});
    return Status::Ok();
  }
  return Status::Damaged("the pixel data holds " + std::to_string(fragments.size()) +
                         " fragments for " + std::to_string(count_) +
                         " frames, and no offset table");
}

Status FrameTable::CheckWithinFile(CFileOperationTool& reader) const {
  std::uint64_t end = 0;
  if (native_) {
    end = nativeOffset_ + static_cast<std::uint64_t>(count_) * nativeFrameBytes_;
  } else {
    for (const Span& span : spans_) end = std::max(end, span.offset + span.length);
  }
  if (end == 0) return Status::Ok();
  const std::int64_t size = reader.Size();
  if (size >= 0) {
    if (end > static_cast<std::uint64_t>(size)) {
      return Status::Damaged("truncated: the frames end at byte " + std::to_string(end) +
                             ", the file has " + std::to_string(size) + " bytes");
    }
    return Status::Ok();
  }
  // Size unknown (HTTP): the last byte of the last frame must be there.
  unsigned char last = 0;
  std::size_t delivered = 0;
  if (!reader.ReadInto(end - 1, 1, &last, delivered) || delivered != 1) {
    return Status::Damaged("truncated: the frames end at byte " + std::to_string(end) +
                           ", which cannot be read");
  }
  return Status::Ok();
}

ByteRange FrameTable::Range(std::int64_t index) const {
  if (native_) {
    return ByteRange{nativeOffset_ + static_cast<std::uint64_t>(index) * nativeFrameBytes_,
                     nativeFrameBytes_};
  }
  const Span& span = spans_[static_cast<std::size_t>(index)];
  return ByteRange{span.offset, span.length};
}

Status FrameTable::Read(CFileOperationTool& reader, std::int64_t index,
                        std::vector<unsigned char>* bytes) const {
  if (index < 0 || index >= count_) {
    return Status::OutOfRange("frame " + std::to_string(index) + " is out of range");
  }
  const ByteRange range = Range(index);
  bytes->resize(static_cast<std::size_t>(range.length));
  if (range.length > 0 && !reader.ReadWhole(range.offset, bytes->size(), bytes->data())) {
    bytes->clear();
    return Status::Damaged("frame " + std::to_string(index) + " (" + std::to_string(range.length) +
                           " bytes" + At(range.offset) + ") cannot be read");
  }
  if (native_ || !spans_[static_cast<std::size_t>(index)].items) return Status::Ok();
  // Join the data of the items in the span, dropping their headers.
  std::size_t from = 0;
  std::size_t to = 0;
  while (from < bytes->size()) {
    if (bytes->size() - from < 8 || LoadLittleEndian32(bytes->data() + from) != kItemTag) {
      return Status::Damaged("frame " + std::to_string(index) + " holds no fragment item" +
                             At(range.offset + from));
    }
    const std::uint64_t length = LoadLittleEndian32(bytes->data() + from + 4);
    if (length > bytes->size() - from - 8) {
      return Status::Damaged("a fragment of frame " + std::to_string(index) +
                             " runs past the frame's end");
    }
    std::copy(bytes->begin() + static_cast<std::ptrdiff_t>(from + 8),
              bytes->begin() + static_cast<std::ptrdiff_t>(from + 8 + length),
              bytes->begin() + static_cast<std::ptrdiff_t>(to));
    to += static_cast<std::size_t>(length);
    from += 8 + static_cast<std::size_t>(length);
  }
  bytes->resize(to);
  return Status::Ok();
}

}  // namespace strata::dicom
