#include "strata/ztx/ztx_maintenance.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/platform/file_io.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_image_blocks.h"
#include "strata/ztx/ztx_rewrite_journal.h"

namespace strata::ztx {
namespace {

// The only entry size an index round-trips with.
constexpr int kIndexEntryBytes = kEntryBytes;
constexpr std::int64_t kLabelLengthField = kSectionLengthField;
// Where a section record keeps its image's height and width.
constexpr std::int64_t kSectionHeightField = 8;
constexpr std::int64_t kSectionWidthField = 12;
// Labels are small pictures; a larger file is not one.
constexpr std::int64_t kMaxLabelBytes = 64 << 20;

using Stream = platform::OwnedStream;

// A ZTX slide object for the path, opened through its reader and closed
// (CloseFile) exactly once when the session ends. Only a path the format
// table would give to ZTX (one containing ".ztx") gets a slide.
class SlideSession {
 public:
  explicit SlideSession(const char* path) {
    if (path != nullptr && std::strstr(path, ".ztx") != nullptr) session_.emplace(slide_, path);
  }

  CZTXDataFile* slide() { return session_.has_value() && session_->opened() ? &slide_ : nullptr; }

 private:
  CZTXDataFile slide_;
  std::optional<CZTXDataFile::PathSession> session_;
};

bool IsRemote(const char* path) { return std::strstr(path, "http:") != nullptr; }

bool ReadExactly(std::FILE* stream, void* data, std::size_t size) {
  return size == 0 || std::fread(data, 1, size, stream) == size;
}

bool ReadU32At(std::FILE* stream, std::int64_t offset, std::uint32_t& value) {
  unsigned char bytes[4];
  if (!platform::Seek64(stream, offset, SEEK_SET) || !ReadExactly(stream, bytes, 4)) return false;
  value = LoadLittleEndian32(bytes);
  return true;
}

SlideWrite U32Write(std::int64_t offset, std::uint32_t value) {
  SlideWrite write;
  write.offset = offset;
  for (int i = 0; i < 4; ++i) write.bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  return write;
}

// An interrupted earlier rewrite is rolled back first; a journal that cannot
// be applied stops the rewrite.
bool RecoveredBeforeRewrite(const char* slidePath) {
  const JournalRecovery recovery = RecoverInterruptedRewrite(slidePath);
  return recovery == JournalRecovery::kNone || recovery == JournalRecovery::kRestored;
}

bool IsCompressedMarker(std::uint32_t marker) {
  return (marker & kCompressedIndexBits) == kCompressedIndexBits;
}

// What both index operations need to know about a slide, read through its
// header after every check passed.
struct IndexFacts {
  std::int64_t indexOffset = 0;
  std::size_t plainBytes = 0;  // tileCount x 64
  std::int64_t fileSize = 0;
};

bool LoadIndexFacts(const char* path, IndexFacts& facts) {
  if (path == nullptr || IsRemote(path) || std::strstr(path, ".ztx") == nullptr) return false;
  SlideSession session(path);
  CZTXDataFile* slide = session.slide();
  if (slide == nullptr || slide->ProbeVersion() != 0) return false;
  // Version 1.0 entries are 68 bytes: a 64-byte round trip would cut them.
  if (slide->GetTileEntrySize() != kIndexEntryBytes) return false;
  if (slide->GetHeader() == nullptr) return false;
  CZTXDataHeader* header = slide->GetZtxHeader();
  if (header == nullptr || header->LoadRecord() != 0) return false;
  const int tileCount = header->GetTileCount();
  facts.indexOffset = header->GetIndexOffset();
  facts.fileSize = platform::FileSize(path);
  if (tileCount <= 0 || facts.indexOffset <= 0 || facts.fileSize <= 0 ||
      !CheckedPixelBytes(tileCount, kIndexEntryBytes, 1, facts.plainBytes)) {
    return false;
  }
  return true;
}

// The bytes of a label file and, when it is a JPEG or 24-bit BMP picture,
// its size (0 x 0 otherwise).
Status ReadLabelFile(const char* path, std::vector<unsigned char>* bytes, int* width, int* height) {
  const std::int64_t size = platform::FileSize(path);
  if (size <= 0) return Status::NotFound(std::string(path) + ": no such file, or empty");
  if (size > kMaxLabelBytes)
    return Status::TooLarge(std::string(path) + " is too large for a label");
  bytes->resize(static_cast<std::size_t>(size));
  Stream label(platform::OpenStream(path, "rb"));
  if (label == nullptr || !ReadExactly(label.get(), bytes->data(), bytes->size())) {
    return Status::IoError(std::string(path) + " could not be read");
  }
  const int length = static_cast<int>(bytes->size());
  OwnedBuffer pixels(DecodeJpeg(bytes->data(), length, *width, *height));
  if (pixels == nullptr) pixels.reset(DecodeBmp24(bytes->data(), length, *width, *height));
  if (pixels == nullptr) *width = *height = 0;
  return Status::Ok();
}

}  // namespace

Status ReplaceLabel(const char* slidePath, const char* labelPath, LabelBytes accepted) {
  if (slidePath == nullptr || labelPath == nullptr) return Status::InvalidArgument("no path given");
  if (IsRemote(slidePath)) return Status::Unsupported("a slide over HTTP cannot be rewritten");
  if (!RecoveredBeforeRewrite(slidePath)) {
    return Status::Damaged("an interrupted rewrite of the slide cannot be rolled back");
  }
  std::int64_t labelPosition = 0;
  std::int64_t streamPosition = 0;
  std::int64_t oldLength = 0;
  {
    SlideSession session(slidePath);
    CZTXDataFile* slide = session.slide();
    if (slide == nullptr || slide->LoadFile() != 0)
      return Status::Damaged("not a readable ZTX slide");
    auto* header = slide->GetZtxHeader();
    auto* label = dynamic_cast<CZTXLabelDataBlock*>(slide->GetLabelBlock());
    if (header == nullptr || label == nullptr)
      return Status::Damaged("the slide has no label record");
    labelPosition = header->GetLabelOffset();
    streamPosition = label->GetImageOffset();
    oldLength = label->GetImageLength();
  }
  const std::int64_t slideSize = platform::FileSize(slidePath);
  if (labelPosition <= 0 || streamPosition <= 0 || oldLength <= 0 ||
      labelPosition > slideSize - kLabelLengthField - 4 ||
      streamPosition > slideSize - labelPosition - oldLength) {
    return Status::Damaged("the slide stores no label whose space could be reused");
  }
  std::vector<unsigned char> bytes;
  int width = 0;
  int height = 0;
  const Status read = ReadLabelFile(labelPath, &bytes, &width, &height);
  if (!read.ok()) return read;
  const bool picture = width > 0 && height > 0;
  if (!picture && accepted == LabelBytes::kPicturesOnly) {
    return Status::UnsupportedFormat(std::string(labelPath) + " is not a JPEG or BMP picture");
  }
  if (static_cast<std::int64_t>(bytes.size()) > oldLength) {
    return Status::TooLarge("the new label has " + std::to_string(bytes.size()) +
                            " bytes; the space of the old one holds " + std::to_string(oldLength));
  }
  const bool written = RewriteThroughJournal(
      slidePath,
      {U32Write(labelPosition + kSectionHeightField, static_cast<std::uint32_t>(height)),
       U32Write(labelPosition + kSectionWidthField, static_cast<std::uint32_t>(width)),
       U32Write(labelPosition + kLabelLengthField, static_cast<std::uint32_t>(bytes.size())),
       SlideWrite{labelPosition + streamPosition, std::move(bytes)}});
  return written ? Status::Ok() : Status::IoError("the slide could not be written");
}

bool ReplaceLabelStream(const char* slidePath, const char* labelPath) {
  return ReplaceLabel(slidePath, labelPath, LabelBytes::kAny).ok();
}

bool CompressTileIndex(const char* slidePath) {
  if (slidePath == nullptr || !RecoveredBeforeRewrite(slidePath)) return false;
  IndexFacts facts;
  if (!LoadIndexFacts(slidePath, facts)) return false;
  if (facts.indexOffset > facts.fileSize - static_cast<std::int64_t>(facts.plainBytes)) {
    return false;
  }
  Stream file(platform::OpenStream(slidePath, "rb"));
  std::uint32_t marker = 0;
  if (file == nullptr || !ReadU32At(file.get(), 0, marker)) return false;
  if (IsCompressedMarker(marker)) return true;
  std::vector<unsigned char> plain(facts.plainBytes);
  if (!platform::Seek64(file.get(), facts.indexOffset, SEEK_SET) ||
      !ReadExactly(file.get(), plain.data(), plain.size())) {
    return false;
  }
  // The compressed form must fit where the plain index was.
  std::vector<unsigned char> packed(plain.size());
  uLongf packedLength = static_cast<uLongf>(packed.size());
  if (compress(packed.data(), &packedLength, plain.data(), static_cast<uLong>(plain.size())) !=
          Z_OK ||
      packedLength + 4 > plain.size()) {
    return false;
  }
  file.reset();
  SlideWrite index = U32Write(facts.indexOffset, static_cast<std::uint32_t>(packedLength));
  index.bytes.insert(index.bytes.end(), packed.begin(), packed.begin() + packedLength);
  return RewriteThroughJournal(slidePath,
                               {U32Write(0, marker | kCompressedIndexBits), std::move(index)});
}

bool ExpandTileIndex(const char* slidePath) {
  if (slidePath == nullptr || !RecoveredBeforeRewrite(slidePath)) return false;
  IndexFacts facts;
  if (!LoadIndexFacts(slidePath, facts)) return false;
  Stream file(platform::OpenStream(slidePath, "rb"));
  std::uint32_t marker = 0;
  if (file == nullptr || !ReadU32At(file.get(), 0, marker)) return false;
  if (!IsCompressedMarker(marker)) return true;
  std::uint32_t packedLength = 0;
  if (!ReadU32At(file.get(), facts.indexOffset, packedLength) || packedLength == 0 ||
      packedLength > facts.plainBytes ||
      facts.indexOffset + 4 > facts.fileSize - static_cast<std::int64_t>(packedLength)) {
    return false;
  }
  // The tile count is the header's word only: the plain index must fit where
  // it once lay and be within what the stored bytes can inflate to, before
  // it is given memory.
  const std::int64_t plainBytes = static_cast<std::int64_t>(facts.plainBytes);
  if (plainBytes > facts.fileSize - facts.indexOffset ||
      plainBytes > static_cast<std::int64_t>(packedLength) * kMaxInflateRatio + 64) {
    return false;
  }
  std::vector<unsigned char> packed(packedLength);
  if (!ReadExactly(file.get(), packed.data(), packed.size())) return false;
  std::vector<unsigned char> plain(facts.plainBytes);
  uLongf plainLength = static_cast<uLongf>(plain.size());
  if (uncompress(plain.data(), &plainLength, packed.data(), packedLength) != Z_OK ||
      plainLength != plain.size()) {
    return false;
  }
  file.reset();
  return RewriteThroughJournal(slidePath, {U32Write(0, marker & ~kCompressedIndexBit),
                                           SlideWrite{facts.indexOffset, std::move(plain)}});
}

}  // namespace strata::ztx
