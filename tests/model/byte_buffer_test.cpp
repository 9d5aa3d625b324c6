#include "strata/model/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "strata/model/base_data.h"

namespace {

unsigned char* NewBytes(std::size_t size, unsigned char first) {
  auto* bytes = new unsigned char[size];
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(first + i);
  return bytes;
}

TEST(ByteBufferTest, EmptyBufferHasNothingToTake) {
  ByteBuffer buffer;
  EXPECT_FALSE(buffer.HasStorage());
  EXPECT_EQ(buffer.Take(1, 1), nullptr);
  EXPECT_TRUE(buffer.Failed());
}

TEST(ByteBufferTest, TakesFieldsInOrderAndAdvances) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(10, 0), 10);
  const unsigned char* first = buffer.Take(4, 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first[0], 0);
  const unsigned char* second = buffer.Take(2, 3);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second[0], 4);
  EXPECT_EQ(second - first, 4);
  EXPECT_EQ(buffer.Consumed(), 10u);
  EXPECT_EQ(buffer.Remaining(), 0u);
  EXPECT_FALSE(buffer.Failed());
}

TEST(ByteBufferTest, TakePastFilledBytesFailsWithoutMoving) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(16, 0), 16, 6);  // only six bytes were delivered
  ASSERT_NE(buffer.Take(4, 1), nullptr);
  EXPECT_EQ(buffer.Take(4, 1), nullptr);
  EXPECT_TRUE(buffer.Failed());
  EXPECT_EQ(buffer.Consumed(), 4u);
  // What is left can still be taken exactly.
  const unsigned char* rest = buffer.Take(1, 2);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(rest[1], 5);
}

TEST(ByteBufferTest, HugeCountDoesNotWrapAround) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(8, 0), 8);
  EXPECT_EQ(buffer.Take(SIZE_MAX / 2 + 2, 2), nullptr);
  EXPECT_EQ(buffer.Take(2, SIZE_MAX / 2 + 2), nullptr);
  EXPECT_EQ(buffer.Consumed(), 0u);
}

TEST(ByteBufferTest, ZeroCountTakesNothing) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(4, 7), 4);
  const unsigned char* cursor = buffer.Take(4, 0);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(*cursor, 7);
  EXPECT_EQ(buffer.Consumed(), 0u);
  EXPECT_FALSE(buffer.Failed());
}

TEST(ByteBufferTest, ReleaseEmptiesTheBufferAndCanRepeat) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(4, 0), 4);
  buffer.Release();
  EXPECT_FALSE(buffer.HasStorage());
  EXPECT_EQ(buffer.Filled(), 0u);
  EXPECT_EQ(buffer.Take(1, 1), nullptr);
  buffer.Release();  // a second release is harmless
  EXPECT_FALSE(buffer.HasStorage());
}

TEST(ByteBufferTest, AttachReplacesEarlierStorage) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(4, 0), 4);
  buffer.Take(4, 1);
  buffer.Attach(NewBytes(2, 50), 2);
  const unsigned char* cursor = buffer.Take(2, 1);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor[0], 50);
}

TEST(ByteBufferTest, DetachHandsOverOwnership) {
  ByteBuffer buffer;
  unsigned char* bytes = NewBytes(3, 1);
  buffer.Attach(bytes, 3);
  EXPECT_EQ(buffer.Detach(), bytes);
  EXPECT_FALSE(buffer.HasStorage());
  delete[] bytes;
}

TEST(ReadItemsTest, CopiesFieldsAndZeroFillsOnShortBuffer) {
  ByteBuffer buffer;
  unsigned char* bytes = new unsigned char[6]{0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB};
  buffer.Attach(bytes, 6);
  std::int32_t value = 0;
  ASSERT_TRUE(CBaseData::ReadItems(&value, 4, 1, buffer));
  EXPECT_EQ(value, 0x04030201);
  std::int32_t missing = -1;
  EXPECT_FALSE(CBaseData::ReadItems(&missing, 4, 1, buffer));
  EXPECT_EQ(missing, 0);
  unsigned char tail[2] = {0, 0};
  ASSERT_TRUE(CBaseData::ReadItems(tail, 1, 2, buffer));
  EXPECT_EQ(tail[0], 0xAA);
  EXPECT_EQ(tail[1], 0xBB);
}

// Typed takes decode little-endian whatever the host; a short field gives 0
// and marks the buffer failed without moving it.
TEST(ByteBufferTest, TypedTakesDecodeLittleEndian) {
  static const unsigned char kBytes[] = {0x01, 0x02, 0x03, 0x84,  // i32
                                         0xFE, 0xFF, 0xFF, 0xFF,  // i32 -2, widened
                                         0x00, 0x00, 0xC0, 0x3F,  // f32 1.5
                                         0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x81};
  ByteBuffer buffer;
  auto* storage = new unsigned char[sizeof kBytes];
  std::memcpy(storage, kBytes, sizeof kBytes);
  buffer.Attach(storage, sizeof kBytes);
  std::int32_t i32 = 0;
  std::int64_t widened = 0;
  float f32 = 0.0f;
  std::int64_t i64 = 0;
  ASSERT_TRUE(buffer.TakeI32(i32) && buffer.TakeI32AsI64(widened) && buffer.TakeF32(f32) &&
              buffer.TakeI64(i64));
  EXPECT_EQ(i32, static_cast<std::int32_t>(0x84030201u));
  EXPECT_EQ(widened, -2);
  EXPECT_EQ(f32, 1.5f);
  EXPECT_EQ(i64, static_cast<std::int64_t>(0x8102030405060708ull));
  std::uint32_t past = 7;
  EXPECT_FALSE(buffer.TakeU32(past));
  EXPECT_EQ(past, 0u);
  EXPECT_TRUE(buffer.Failed());
  EXPECT_EQ(buffer.Consumed(), sizeof kBytes);
}

TEST(ByteBufferTest, SkipToMovesOnlyForwardWithinTheDeliveredBytes) {
  ByteBuffer buffer;
  buffer.Attach(NewBytes(16, 0), 16, 12);
  EXPECT_TRUE(buffer.SkipTo(4));
  EXPECT_EQ(buffer.Consumed(), 4u);
  EXPECT_TRUE(buffer.SkipTo(4));
  EXPECT_FALSE(buffer.SkipTo(2));
  EXPECT_TRUE(buffer.Failed());
  ByteBuffer shortBuffer;
  shortBuffer.Attach(NewBytes(16, 0), 16, 12);
  EXPECT_FALSE(shortBuffer.SkipTo(13));
  EXPECT_EQ(shortBuffer.Consumed(), 0u);
}

}  // namespace
