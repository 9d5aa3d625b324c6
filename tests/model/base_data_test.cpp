#include "strata/model/base_data.h"

#include <gtest/gtest.h>

namespace {

TEST(DataHeaderTest, BaseValuesAreZeroAndTextIsNeverNull) {
  CDataHeader header;
  EXPECT_EQ(header.GetWidth(), 0);
  EXPECT_EQ(header.GetHeight(), 0);
  EXPECT_EQ(header.GetScanScale(), 0);
  EXPECT_EQ(header.GetSpendTime(), 0);
  EXPECT_EQ(header.GetScanTime(), 0);
  EXPECT_EQ(header.GetCaptureResolution(), 0.0f);
  EXPECT_EQ(header.GetVersion(), 0.0f);
  EXPECT_EQ(header.GetBlockSize(), 0);
  EXPECT_EQ(header.GetIntItem(29), 0);
  EXPECT_STREQ(header.GetMachineSerial(), "");
  EXPECT_EQ(header.GetScanLevelFirst(), 0);
  EXPECT_EQ(header.GetScanLevelSecond(), 0);
  EXPECT_EQ(header.GetChannelCount(), 0);
  EXPECT_STREQ(header.GetChannelIdentifier(0), "");
  for (int identifier : {-1, 0, 29, 49, 54, 100000}) {
    const char* text = header.GetTextItem(identifier);
    ASSERT_NE(text, nullptr) << identifier;
    EXPECT_STREQ(text, "") << identifier;
  }
}

}  // namespace
