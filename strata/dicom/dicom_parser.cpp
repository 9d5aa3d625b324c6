#include "strata/dicom/dicom_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

#include "strata/model/byte_buffer.h"

namespace strata::dicom {
namespace {

constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFFu;
// Bytes fetched at a time while walking the data set.
constexpr std::size_t kWindowBytes = 64u << 10;
// Elements one per-frame item may hold; the item is dropped once read.
constexpr std::size_t kMaxItemElements = 1u << 12;

std::string TagText(Tag tag) {
  char text[16];
  std::snprintf(text, sizeof text, "(%04X,%04X)", static_cast<unsigned>(tag >> 16),
                static_cast<unsigned>(tag & 0xFFFF));
  return text;
}

std::uint16_t Load16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

bool IsVrLetter(unsigned char c) { return c >= 'A' && c <= 'Z'; }

// Sequential reads through a window over the reader; the position may run
// ahead of the window (skipped values) and the window follows it.
class Cursor {
 public:
  explicit Cursor(CFileOperationTool& reader) : reader_(reader), size_(reader.Size()) {}

  std::uint64_t position() const { return position_; }
  // The file's size, or -1 when the reader cannot tell (HTTP).
  std::int64_t size() const { return size_; }

  // Makes up to `count` bytes at the position readable through Data();
  // fewer only at the end of the file (or when the reader fails).
  std::size_t Available(std::size_t count) {
    if (position_ >= windowStart_ && position_ - windowStart_ <= window_.size() &&
        window_.size() - (position_ - windowStart_) >= count) {
      return count;
    }
    Refill(std::max(count, kWindowBytes));
    return std::min(count, window_.size());
  }
  const unsigned char* Data() const {
    return window_.data() + static_cast<std::size_t>(position_ - windowStart_);
  }
  bool ReaderFailed() const { return readerFailed_; }

  // Moves past `count` bytes; false when that leaves the file.
  bool Advance(std::uint64_t count) {
    if (count > std::numeric_limits<std::uint64_t>::max() - position_) return false;
    position_ += count;
    return size_ < 0 || position_ <= static_cast<std::uint64_t>(size_);
  }

  // Reads `length` bytes at the position into `value` and moves past them.
  bool TakeValue(std::size_t length, std::string* value) {
    if (length <= kWindowBytes) {
      if (Available(length) < length) return false;
      value->assign(reinterpret_cast<const char*>(Data()), length);
      return Advance(length);
    }
    value->resize(length);
    if (!reader_.ReadWhole(position_, length, reinterpret_cast<unsigned char*>(&(*value)[0]))) {
      value->clear();
      return false;
    }
    return Advance(length);
  }

 private:
  void Refill(std::size_t count) {
    windowStart_ = position_;
    window_.resize(count);
    std::size_t delivered = 0;
    if (size_ >= 0 && position_ >= static_cast<std::uint64_t>(size_)) {
      window_.clear();
      return;
    }
    if (!reader_.ReadInto(position_, count, window_.data(), delivered)) {
      readerFailed_ = true;
      delivered = 0;
    }
    window_.resize(delivered);
  }

  CFileOperationTool& reader_;
  const std::int64_t size_;
  std::uint64_t position_ = 0;
  std::vector<unsigned char> window_;
  std::uint64_t windowStart_ = 0;
  bool readerFailed_ = false;
};

struct ElementHeader {
  Tag tag = 0;
  Vr vr = 0;
  std::uint32_t length = 0;
  std::uint64_t at = 0;  // where the header starts
};

// Where a data set ends: at a byte (defined lengths), at an item delimiter
// (undefined-length items), or at the end of the file (the top level).
struct Extent {
  enum class Kind { kBytes, kItemDelimiter, kFile } kind = Kind::kFile;
  std::uint64_t end = 0;
};

class Parser {
 public:
  Parser(CFileOperationTool& reader, InstanceHeader* header) : cursor_(reader), header_(header) {}

  Status ParseMeta();
  Status ParseBody();

 private:
  Status ReadHeader(bool explicitVr, ElementHeader* element);
  Status ParseDataSet(DataSet* dataSet, const Extent& extent, int depth, bool topLevel);
  Status ParseElement(const ElementHeader& header, DataSet* dataSet, int depth);
  Status ParseSequence(const ElementHeader& header, Element* element, int depth);
  Status ParseItems(const ElementHeader& header, int depth,
                    const std::function<Status(DataSet&&)>& take);
  Status KeepValue(const ElementHeader& header, Element* element);
  Status SkipValue(const ElementHeader& header);
  Status Truncated(const ElementHeader& header) const;
  Status CountElement(const ElementHeader& header);
  void KeepPosition(const DataSet& item);

  Cursor cursor_;
  InstanceHeader* header_;
  bool explicitVr_ = true;
  std::size_t keptElements_ = 0;
  std::uint64_t keptBytes_ = 0;
  // While a per-frame item is read: its elements, which are dropped after.
  std::size_t itemElements_ = 0;
  bool inFrameItem_ = false;
};

Status Parser::Truncated(const ElementHeader& header) const {
  if (cursor_.ReaderFailed()) {
    return Status::IoError("could not read element " + TagText(header.tag) + " at byte " +
                           std::to_string(header.at));
  }
  return Status::Damaged("truncated: element " + TagText(header.tag) + " at byte " +
                         std::to_string(header.at) + " runs past the end of the file");
}

Status Parser::ReadHeader(bool explicitVr, ElementHeader* element) {
  element->at = cursor_.position();
  const std::size_t got = cursor_.Available(8);
  if (got < 8) {
    return Status::Damaged("truncated: the file ends at byte " +
                           std::to_string(cursor_.position() + got) + " inside an element header");
  }
  const unsigned char* bytes = cursor_.Data();
  element->tag = MakeTag(Load16(bytes), Load16(bytes + 2));
  // Items and delimiters carry no representation in any syntax.
  if (GroupOf(element->tag) == 0xFFFE || !explicitVr) {
    element->length = LoadLittleEndian32(bytes + 4);
    const Attribute* known = FindAttribute(element->tag);
    element->vr = known != nullptr ? MakeVr(known->vr[0], known->vr[1]) : MakeVr('U', 'N');
    cursor_.Advance(8);
    return Status::Ok();
  }
  if (!IsVrLetter(bytes[4]) || !IsVrLetter(bytes[5])) {
    return Status::Damaged("element " + TagText(element->tag) + " at byte " +
                           std::to_string(element->at) + " has no value representation");
  }
  element->vr = MakeVr(static_cast<char>(bytes[4]), static_cast<char>(bytes[5]));
  if (!HasLongLength(element->vr)) {
    element->length = Load16(bytes + 6);
    cursor_.Advance(8);
    return Status::Ok();
  }
  if (cursor_.Available(12) < 12) return Truncated(*element);
  element->length = LoadLittleEndian32(cursor_.Data() + 8);
  cursor_.Advance(12);
  return Status::Ok();
}

Status Parser::CountElement(const ElementHeader& header) {
  if (inFrameItem_) {
    if (++itemElements_ > kMaxItemElements) {
      return Status::Damaged("a per-frame item at byte " + std::to_string(header.at) +
                             " holds more than " + std::to_string(kMaxItemElements) + " elements");
    }
    return Status::Ok();
  }
  if (++keptElements_ > kMaxKeptElements) {
    return Status::Damaged("the data set holds more than " + std::to_string(kMaxKeptElements) +
                           " elements (at byte " + std::to_string(header.at) + ")");
  }
  return Status::Ok();
}

Status Parser::SkipValue(const ElementHeader& header) {
  if (!cursor_.Advance(header.length)) return Truncated(header);
  return Status::Ok();
}

Status Parser::KeepValue(const ElementHeader& header, Element* element) {
  element->offset = cursor_.position();
  element->length = header.length;
  if (header.length > kMaxKeptValueBytes || keptBytes_ + header.length > kMaxKeptBytes) {
    element->skipped = true;
    return SkipValue(header);
  }
  if (!cursor_.TakeValue(header.length, &element->value)) return Truncated(header);
  if (!inFrameItem_) keptBytes_ += header.length;
  return Status::Ok();
}

Status Parser::ParseItems(const ElementHeader& header, int depth,
                          const std::function<Status(DataSet&&)>& take) {
  const bool bounded = header.length != kUndefinedLength;
  const std::uint64_t end = cursor_.position() + (bounded ? header.length : 0);
  if (bounded && cursor_.size() >= 0 && end > static_cast<std::uint64_t>(cursor_.size())) {
    return Truncated(header);
  }
  for (;;) {
    if (bounded && cursor_.position() == end) return Status::Ok();
    ElementHeader item;
    Status read = ReadHeader(explicitVr_, &item);
    if (!read.ok()) return read;
    if (!bounded && item.tag == tags::kSequenceDelimitation) return Status::Ok();
    if (item.tag != tags::kItem) {
      return Status::Damaged("sequence " + TagText(header.tag) + " holds " + TagText(item.tag) +
                             " at byte " + std::to_string(item.at) + " where an item belongs");
    }
    Extent extent;
    if (item.length == kUndefinedLength) {
      extent.kind = Extent::Kind::kItemDelimiter;
    } else {
      extent.kind = Extent::Kind::kBytes;
      extent.end = cursor_.position() + item.length;
      if (bounded && extent.end > end) {
        return Status::Damaged("the item at byte " + std::to_string(item.at) +
                               " runs past the end of sequence " + TagText(header.tag));
      }
    }
    DataSet dataSet;
    read = ParseDataSet(&dataSet, extent, depth + 1, false);
    if (!read.ok()) return read;
    read = take(std::move(dataSet));
    if (!read.ok()) return read;
    if (bounded && cursor_.position() > end) {
      return Status::Damaged("sequence " + TagText(header.tag) + " at byte " +
                             std::to_string(header.at) + " runs past its length");
    }
  }
}

Status Parser::ParseSequence(const ElementHeader& header, Element* element, int depth) {
  element->offset = cursor_.position();
  element->length = header.length;
  return ParseItems(header, depth, [&](DataSet&& item) {
    element->items.push_back(std::move(item));
    return Status::Ok();
  });
}

void Parser::KeepPosition(const DataSet& item) {
  FramePosition position;
  const DataSet* plane = item.Item(tags::kPlanePositionSlideSequence, 0);
  if (plane != nullptr) {
    plane->Integer(tags::kColumnPositionInTotalImagePixelMatrix, &position.column);
    plane->Integer(tags::kRowPositionInTotalImagePixelMatrix, &position.row);
  }
  header_->framePositions.push_back(position);
}

Status Parser::ParseElement(const ElementHeader& header, DataSet* dataSet, int depth) {
  Status counted = CountElement(header);
  if (!counted.ok()) return counted;
  const bool undefined = header.length == kUndefinedLength;
  // An unknown element of undefined length is a sequence in implicit VR.
  const bool implicitSequence = undefined && header.vr == MakeVr('U', 'N');
  if (header.vr == MakeVr('S', 'Q') || implicitSequence) {
    if (depth == 0 && header.tag == tags::kPerFrameFunctionalGroupsSequence && !inFrameItem_) {
      // One item per frame: keep each frame's position, drop the rest.
      const bool wasExplicit = explicitVr_;
      if (implicitSequence) explicitVr_ = false;
      inFrameItem_ = true;
      const Status read = ParseItems(header, depth, [&](DataSet&& item) {
        KeepPosition(item);
        itemElements_ = 0;
        if (static_cast<std::int64_t>(header_->framePositions.size()) > kMaxFrames) {
          return Status::Damaged("more than " + std::to_string(kMaxFrames) +
                                 " per-frame functional group items");
        }
        return Status::Ok();
      });
      inFrameItem_ = false;
      explicitVr_ = wasExplicit;
      return read;
    }
    Element element;
    element.tag = header.tag;
    element.vr = MakeVr('S', 'Q');
    const bool wasExplicit = explicitVr_;
    if (implicitSequence) explicitVr_ = false;
    const Status read = ParseSequence(header, &element, depth);
    explicitVr_ = wasExplicit;
    if (!read.ok()) return read;
    dataSet->elements().push_back(std::move(element));
    return Status::Ok();
  }
  if (undefined) {
    return Status::Damaged("element " + TagText(header.tag) + " at byte " +
                           std::to_string(header.at) + " has an undefined length");
  }
  Element element;
  element.tag = header.tag;
  element.vr = header.vr;
  const Status kept = KeepValue(header, &element);
  if (!kept.ok()) return kept;
  dataSet->elements().push_back(std::move(element));
  return Status::Ok();
}

Status Parser::ParseDataSet(DataSet* dataSet, const Extent& extent, int depth, bool topLevel) {
  if (depth > kMaxNesting) {
    return Status::Damaged("sequences nest deeper than " + std::to_string(kMaxNesting) +
                           " levels (at byte " + std::to_string(cursor_.position()) + ")");
  }
  for (;;) {
    if (extent.kind == Extent::Kind::kBytes && cursor_.position() >= extent.end) {
      if (cursor_.position() > extent.end) {
        return Status::Damaged("an element ends at byte " + std::to_string(cursor_.position()) +
                               ", past the end of its item at byte " + std::to_string(extent.end));
      }
      return Status::Ok();
    }
    // The top level ends cleanly where the file does.
    if (extent.kind == Extent::Kind::kFile && cursor_.Available(1) == 0 &&
        !cursor_.ReaderFailed()) {
      return Status::Ok();
    }
    ElementHeader header;
    Status read = ReadHeader(explicitVr_, &header);
    if (!read.ok()) return read;
    if (header.tag == tags::kItemDelimitation) {
      if (extent.kind == Extent::Kind::kItemDelimiter) return Status::Ok();
      return Status::Damaged("an item delimiter at byte " + std::to_string(header.at) +
                             " closes no item");
    }
    if (GroupOf(header.tag) == 0xFFFE) {
      return Status::Damaged("element " + TagText(header.tag) + " at byte " +
                             std::to_string(header.at) + " stands outside a sequence");
    }
    if (topLevel && header.tag == tags::kPixelData) {
      PixelDataLocation& pixels = header_->pixelData;
      pixels.present = true;
      pixels.offset = cursor_.position();
      pixels.undefinedLength = header.length == kUndefinedLength;
      pixels.length = pixels.undefinedLength ? 0 : header.length;
      return Status::Ok();
    }
    read = ParseElement(header, dataSet, depth);
    if (!read.ok()) return read;
  }
}

Status Parser::ParseMeta() {
  if (cursor_.Available(kFileHeadBytes) < kFileHeadBytes ||
      !HasFileMarker(cursor_.Data(), kFileHeadBytes)) {
    return Status::UnsupportedFormat("not a DICOM file: no \"DICM\" after the 128-byte preamble");
  }
  cursor_.Advance(kFileHeadBytes);
  DataSet meta;
  for (;;) {
    const std::size_t got = cursor_.Available(2);
    if (got < 2 || Load16(cursor_.Data()) != 0x0002) break;
    ElementHeader header;
    Status read = ReadHeader(true, &header);
    if (!read.ok()) return read;
    read = ParseElement(header, &meta, 0);
    if (!read.ok()) return read;
  }
  header_->transferSyntaxUid = meta.Text(tags::kTransferSyntaxUid);
  header_->mediaStorageSopClassUid = meta.Text(tags::kMediaStorageSopClassUid);
  if (header_->transferSyntaxUid.empty()) {
    return Status::Damaged("the file meta information names no transfer syntax");
  }
  return Status::Ok();
}

Status Parser::ParseBody() {
  const TransferSyntax syntax = DescribeTransferSyntax(header_->transferSyntaxUid);
  if (!syntax.parseable) {
    return Status::Unsupported("transfer syntax " + TransferSyntaxText(header_->transferSyntaxUid) +
                               " is not supported");
  }
  explicitVr_ = syntax.explicitVr;
  Extent whole;
  whole.kind = Extent::Kind::kFile;
  return ParseDataSet(&header_->dataSet, whole, 0, true);
}

}  // namespace

bool HasFileMarker(const unsigned char* head, std::size_t length) {
  return head != nullptr && length >= kFileHeadBytes && std::memcmp(head + 128, "DICM", 4) == 0;
}

Status ParseFileMeta(CFileOperationTool& reader, InstanceHeader* header) {
  *header = InstanceHeader();
  Parser parser(reader, header);
  return parser.ParseMeta();
}

Status ParseInstanceHeader(CFileOperationTool& reader, InstanceHeader* header) {
  *header = InstanceHeader();
  Parser parser(reader, header);
  const Status meta = parser.ParseMeta();
  if (!meta.ok()) return meta;
  return parser.ParseBody();
}

}  // namespace strata::dicom
