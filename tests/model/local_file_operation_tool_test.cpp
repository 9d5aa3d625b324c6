#include "strata/model/local_file_operation_tool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/test_files.h"

namespace {

using strata::test::TempDir;

// Byte i of the pattern file: distinct for neighbouring offsets and blocks.
unsigned char PatternByte(std::size_t i) {
  return static_cast<unsigned char>((i * 131u + (i >> 8) * 7u) & 0xff);
}

std::vector<unsigned char> Pattern(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = PatternByte(i);
  return bytes;
}

class LocalReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("pattern.bin");
    strata::test::WriteFileBytes(path_, Pattern(kFileSize));
  }

  static constexpr std::size_t kFileSize = 256 * 1024;
  TempDir dir_;
  std::string path_;
};

TEST_F(LocalReaderTest, ReadsTheBytesAtTheOffset) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  ByteBuffer buffer;
  ASSERT_TRUE(reader.Read(1000, 64, &buffer));
  EXPECT_EQ(buffer.Filled(), 64u);
  const unsigned char* bytes = buffer.Take(64, 1);
  ASSERT_NE(bytes, nullptr);
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], PatternByte(1000 + i)) << i;
  EXPECT_TRUE(reader.Close());
}

TEST_F(LocalReaderTest, ShortReadAtTheEndDeliversWhatExistsAndZeroFillsTheRest) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  ByteBuffer buffer;
  ASSERT_TRUE(reader.Read(kFileSize - 10, 32, &buffer));
  EXPECT_EQ(buffer.Filled(), 10u);
  EXPECT_EQ(buffer.Capacity(), 32u);
  const unsigned char* storage = buffer.Storage();
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(storage[i], PatternByte(kFileSize - 10 + i));
  for (std::size_t i = 10; i < 32; ++i) EXPECT_EQ(storage[i], 0) << i;
  // A parser that asks for the whole record sees the short read.
  EXPECT_EQ(buffer.Take(32, 1), nullptr);
  reader.Close();
}

TEST_F(LocalReaderTest, OffsetPastTheEndSucceedsWithNothingDelivered) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  ByteBuffer buffer;
  ASSERT_TRUE(reader.Read(kFileSize * 4, 16, &buffer));
  EXPECT_TRUE(buffer.HasStorage());
  EXPECT_EQ(buffer.Filled(), 0u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(buffer.Storage()[i], 0);
  // The reader still works afterwards.
  ByteBuffer again;
  ASSERT_TRUE(reader.Read(0, 4, &again));
  EXPECT_EQ(again.Storage()[3], PatternByte(3));
  reader.Close();
}

TEST_F(LocalReaderTest, OffsetBeyondTheSignedRangeFails) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(UINT64_MAX - 5, 16, &buffer));
  EXPECT_FALSE(buffer.HasStorage());
  reader.Close();
}

TEST_F(LocalReaderTest, NegativeLengthFails) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(0, -1, &buffer));
  EXPECT_FALSE(buffer.HasStorage());
  reader.Close();
}

TEST_F(LocalReaderTest, ReadAfterCloseFails) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  EXPECT_TRUE(reader.Close());
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(0, 4, &buffer));
  EXPECT_FALSE(buffer.HasStorage());
  EXPECT_TRUE(reader.Close());
}

TEST(LocalReaderStateTest, CloseOnANeverOpenedReaderIsTrue) {
  CLocalFileOperationTool reader;
  EXPECT_TRUE(reader.Close());
}

TEST(LocalReaderStateTest, MissingFileFailsToOpenAndReadsFail) {
  TempDir dir;
  CLocalFileOperationTool reader;
  EXPECT_FALSE(reader.Open(dir.File("missing.ztx").c_str()));
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(0, 8, &buffer));
  EXPECT_FALSE(buffer.HasStorage());
}

TEST(LocalReaderStateTest, NullPathFailsToOpen) {
  CLocalFileOperationTool reader;
  EXPECT_FALSE(reader.Open(nullptr));
}

TEST(LocalReaderStateTest, ReadWithoutOpenFails) {
  CLocalFileOperationTool reader;
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(0, 8, &buffer));
}

TEST_F(LocalReaderTest, ReopeningSwitchesToTheNewFile) {
  const std::string other = dir_.File("other.bin");
  strata::test::WriteFileBytes(other, {9, 8, 7});
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  ASSERT_TRUE(reader.Open(other.c_str()));
  ByteBuffer buffer;
  ASSERT_TRUE(reader.Read(0, 3, &buffer));
  EXPECT_EQ(buffer.Filled(), 3u);
  EXPECT_EQ(buffer.Storage()[0], 9);
  reader.Close();
}

TEST_F(LocalReaderTest, ConcurrentReadsOnOneReaderReturnTheRightBytes) {
  CLocalFileOperationTool reader;
  ASSERT_TRUE(reader.Open(path_.c_str()));
  constexpr int kThreads = 6;
  constexpr int kReadsPerThread = 300;
  std::atomic<int> mismatches{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::uint64_t state = 0x9E3779B97F4A7C15ULL * (t + 1);
      for (int r = 0; r < kReadsPerThread; ++r) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const std::size_t length = 1 + (state >> 33) % 4096;
        const std::size_t offset = (state >> 13) % (kFileSize - length);
        ByteBuffer buffer;
        if (!reader.Read(offset, static_cast<int>(length), &buffer) || buffer.Filled() != length) {
          ++failures;
          continue;
        }
        for (std::size_t i = 0; i < length; ++i) {
          if (buffer.Storage()[i] != PatternByte(offset + i)) {
            ++mismatches;
            break;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(mismatches.load(), 0);
  reader.Close();
}

}  // namespace
