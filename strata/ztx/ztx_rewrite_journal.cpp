#include "strata/ztx/ztx_rewrite_journal.h"

#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "strata/platform/debug_output.h"
#include "strata/platform/file_io.h"

namespace strata::ztx {
namespace {

// Layout: magic, slide size (i64), range count (u32), then per range its
// offset (i64), length (u32) and old bytes, and last a CRC-32 of everything
// before it. Little-endian throughout.
constexpr char kMagic[8] = {'S', 'T', 'R', 'J', 'R', 'N', 'L', '1'};
constexpr std::size_t kFixedBytes = 8 + 8 + 4 + 4;
constexpr std::size_t kRangeHeadBytes = 8 + 4;
// The rewrites journal an index or a label: far below this.
constexpr std::int64_t kMaxJournalBytes = 1LL << 30;

std::atomic<RewriteStepHook> stepHook{nullptr};

void ReachedStep(int& step) {
  const RewriteStepHook hook = stepHook.load();
  if (hook != nullptr) hook(step);
  ++step;
}

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

void PutLittle(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint64_t GetLittle(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
  return value;
}

std::uint32_t Crc(const unsigned char* data, std::size_t size) {
  return static_cast<std::uint32_t>(crc32(0L, data, static_cast<uInt>(size)));
}

// One saved range: where, and the bytes that were there.
struct SavedRange {
  std::int64_t offset = 0;
  std::vector<unsigned char> bytes;
};

struct Journal {
  std::int64_t slideSize = 0;
  std::vector<SavedRange> ranges;
};

std::vector<unsigned char> Serialise(const Journal& journal) {
  std::vector<unsigned char> out(kMagic, kMagic + sizeof kMagic);
  PutLittle(out, static_cast<std::uint64_t>(journal.slideSize), 8);
  PutLittle(out, journal.ranges.size(), 4);
  for (const SavedRange& range : journal.ranges) {
    PutLittle(out, static_cast<std::uint64_t>(range.offset), 8);
    PutLittle(out, range.bytes.size(), 4);
    out.insert(out.end(), range.bytes.begin(), range.bytes.end());
  }
  PutLittle(out, Crc(out.data(), out.size()), 4);
  return out;
}

bool RangeInside(std::int64_t offset, std::uint64_t length, std::int64_t size) {
  return offset >= 0 && offset <= size && length <= static_cast<std::uint64_t>(size - offset);
}

// Parses a whole journal; false when any byte of it is out of place.
bool Parse(const std::vector<unsigned char>& bytes, Journal& journal) {
  if (bytes.size() < kFixedBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    return false;
  }
  const std::size_t body = bytes.size() - 4;
  if (Crc(bytes.data(), body) != GetLittle(bytes.data() + body, 4)) return false;
  journal.slideSize = static_cast<std::int64_t>(GetLittle(bytes.data() + 8, 8));
  const std::uint64_t count = GetLittle(bytes.data() + 16, 4);
  std::size_t at = 20;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (body - at < kRangeHeadBytes) return false;
    SavedRange range;
    range.offset = static_cast<std::int64_t>(GetLittle(bytes.data() + at, 8));
    const std::uint64_t length = GetLittle(bytes.data() + at + 8, 4);
    at += kRangeHeadBytes;
    if (length > body - at || !RangeInside(range.offset, length, journal.slideSize)) return false;
    range.bytes.assign(bytes.data() + at, bytes.data() + at + length);
    at += static_cast<std::size_t>(length);
    journal.ranges.push_back(std::move(range));
  }
  return at == body;
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes) {
  const std::int64_t size = platform::FileSize(path);
  if (size < 0 || size > kMaxJournalBytes) return false;
  Stream stream(platform::OpenStream(path.c_str(), "rb"));
  if (stream == nullptr) return false;
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t delivered = 0;
  return platform::ReadAt(stream.get(), 0, bytes.data(), bytes.size(), delivered) &&
         delivered == bytes.size();
}

bool WriteJournalFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  Stream stream(platform::OpenStream(path.c_str(), "wb"));
  return stream != nullptr &&
         std::fwrite(bytes.data(), 1, bytes.size(), stream.get()) == bytes.size() &&
         platform::SyncStream(stream.get());
}

bool RemoveJournal(const std::string& journalPath) {
  return platform::RemoveFile(journalPath) && platform::SyncFolderOf(journalPath);
}

bool WriteRanges(std::FILE* slide, const std::vector<SavedRange>& ranges) {
  for (const SavedRange& range : ranges) {
    if (!platform::WriteAt(slide, range.offset, range.bytes.data(), range.bytes.size())) {
      return false;
    }
  }
  return platform::SyncStream(slide);
}

}  // namespace

std::string JournalPathOf(const std::string& slidePath) { return slidePath + "-journal"; }

void SetRewriteStepHookForTesting(RewriteStepHook hook) { stepHook.store(hook); }

JournalRecovery RecoverInterruptedRewrite(const std::string& slidePath) {
  const std::string journalPath = JournalPathOf(slidePath);
  if (!platform::FileExists(journalPath)) return JournalRecovery::kNone;
  std::vector<unsigned char> bytes;
  Journal journal;
  if (!ReadWholeFile(journalPath, bytes) || !Parse(bytes, journal) ||
      journal.slideSize != platform::FileSize(slidePath)) {
    platform::DebugPrintf("strata: %s is damaged or does not match the slide; left as it is\n",
                          journalPath.c_str());
    return JournalRecovery::kIgnored;
  }
  Stream slide(platform::OpenStream(slidePath.c_str(), "rb+"));
  if (slide == nullptr || !WriteRanges(slide.get(), journal.ranges) ||
      !RemoveJournal(journalPath)) {
    platform::DebugPrintf("strata: %s cannot be rolled back from %s; not opened\n",
                          slidePath.c_str(), journalPath.c_str());
    return JournalRecovery::kRefused;
  }
  platform::DebugPrintf("strata: %s restored from %s after an interrupted rewrite\n",
                        slidePath.c_str(), journalPath.c_str());
  return JournalRecovery::kRestored;
}

bool RewriteThroughJournal(const std::string& slidePath, const std::vector<SlideWrite>& writes) {
  const std::string journalPath = JournalPathOf(slidePath);
  if (platform::FileExists(journalPath)) return false;  // not ours to replace
  Stream slide(platform::OpenStream(slidePath.c_str(), "rb+"));
  if (slide == nullptr) return false;
  Journal journal;
  journal.slideSize = platform::FileSize(slidePath);
  std::vector<SavedRange> updates;
  for (const SlideWrite& write : writes) {
    if (!RangeInside(write.offset, write.bytes.size(), journal.slideSize)) return false;
    SavedRange old;
    old.offset = write.offset;
    old.bytes.resize(write.bytes.size());
    std::size_t delivered = 0;
    if (!platform::ReadAt(slide.get(), write.offset, old.bytes.data(), old.bytes.size(),
                          delivered) ||
        delivered != old.bytes.size()) {
      return false;
    }
    journal.ranges.push_back(std::move(old));
    updates.push_back(SavedRange{write.offset, write.bytes});
  }
  const std::string temporary = journalPath + ".tmp";
  int step = 0;
  if (!WriteJournalFile(temporary, Serialise(journal))) {
    platform::RemoveFile(temporary);
    return false;
  }
  ReachedStep(step);
  if (!platform::RenameFile(temporary, journalPath) || !platform::SyncFolderOf(journalPath)) {
    platform::RemoveFile(temporary);
    return false;
  }
  ReachedStep(step);
  for (const SavedRange& update : updates) {
    // A failure leaves the journal: the next open rolls the slide back.
    if (!platform::WriteAt(slide.get(), update.offset, update.bytes.data(), update.bytes.size())) {
      return false;
    }
    ReachedStep(step);
  }
  if (!platform::SyncStream(slide.get())) return false;
  ReachedStep(step);
  if (!RemoveJournal(journalPath)) return false;
  ReachedStep(step);
  return true;
}

}  // namespace strata::ztx
