#include "strata/ztx/ztx_data_item.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "strata/ztx/ztx_header.h"

namespace {

std::unique_ptr<CZTXDataItem> MakeItem(int identifier, const char* text) {
  auto item = std::make_unique<CZTXDataItem>();
  item->SetValue(identifier, text, static_cast<int>(std::strlen(text)));
  return item;
}

// Serialised item: identifier, length, value bytes (little-endian ints).
std::vector<unsigned char> ItemBytes(int identifier, const std::vector<unsigned char>& value) {
  std::vector<unsigned char> bytes;
  const int length = static_cast<int>(value.size());
  for (int field : {identifier, length}) {
    for (int shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<unsigned char>(static_cast<unsigned>(field) >> shift));
    }
  }
  for (unsigned char byte : value) bytes.push_back(byte);
  return bytes;
}

void AttachCopy(ByteBuffer& buffer, const std::vector<unsigned char>& bytes) {
  auto* storage = new unsigned char[bytes.size()];
  std::memcpy(storage, bytes.data(), bytes.size());
  buffer.Attach(storage, bytes.size());
}

TEST(ZtxHeaderItemsTest, FindItemReturnsTheFirstOfDuplicates) {
  CZTXDataHeader header;
  header.AppendItem(MakeItem(7, "other"));
  header.AppendItem(MakeItem(29, "first"));
  header.AppendItem(MakeItem(29, "second"));
  CZTXDataItem* found = header.FindItem(29);
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(found->GetValue()), "first");
  EXPECT_EQ(header.FindItem(30), nullptr);
}

TEST(ZtxHeaderItemsTest, EmptyHeaderFindsNothing) {
  CZTXDataHeader header;
  EXPECT_EQ(header.FindItem(0), nullptr);
  EXPECT_EQ(header.FindItem(999), nullptr);
}

TEST(DataItemTest, LoadsIdentifierLengthAndTerminatedValue) {
  ByteBuffer buffer;
  AttachCopy(buffer, ItemBytes(49, {'D', 'A', 'P', 'I'}));
  CZTXDataItem item;
  ASSERT_EQ(item.LoadItem(buffer), 0);
  EXPECT_EQ(item.GetIdentifier(), 49);
  EXPECT_EQ(item.GetLength(), 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(item.GetValue()), "DAPI");
}

TEST(DataItemTest, LengthBeyondTheBufferFails) {
  std::vector<unsigned char> bytes = ItemBytes(5, {1, 2, 3});
  const int claimed = 1 << 30;
  std::memcpy(bytes.data() + 4, &claimed, 4);
  ByteBuffer buffer;
  AttachCopy(buffer, bytes);
  CZTXDataItem item;
  EXPECT_EQ(item.LoadItem(buffer), -1);
  EXPECT_EQ(item.GetLength(), 0);
}

TEST(DataItemTest, NegativeLengthFails) {
  std::vector<unsigned char> bytes = ItemBytes(5, {1, 2, 3});
  const int claimed = -3;
  std::memcpy(bytes.data() + 4, &claimed, 4);
  ByteBuffer buffer;
  AttachCopy(buffer, bytes);
  CZTXDataItem item;
  EXPECT_EQ(item.LoadItem(buffer), -1);
}

TEST(DataItemTest, ReloadingWithALongerValueKeepsItWhole) {
  CZTXDataItem item;
  ByteBuffer shortBuffer;
  AttachCopy(shortBuffer, ItemBytes(1, {'a'}));
  ASSERT_EQ(item.LoadItem(shortBuffer), 0);
  ByteBuffer longBuffer;
  const std::vector<unsigned char> longValue(300, 'z');
  AttachCopy(longBuffer, ItemBytes(2, longValue));
  ASSERT_EQ(item.LoadItem(longBuffer), 0);
  EXPECT_EQ(item.GetLength(), 300);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(item.GetValue())), 300u);
}

TEST(DataItemTest, TruncatedRecordFails) {
  ByteBuffer buffer;
  AttachCopy(buffer, {1, 0, 0});
  CZTXDataItem item;
  EXPECT_EQ(item.LoadItem(buffer), -1);
}

}  // namespace
