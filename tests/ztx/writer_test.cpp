#include <gtest/gtest.h>

#include "support/slide_fixtures.h"

namespace strata::test {
namespace {

TEST(ZtxWriter, WritesDefaultSlide) {
  TempDir dir;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, SlideSpec{}, &layout);
  ASSERT_FALSE(path.empty());
  const std::vector<unsigned char> bytes = ReadFileBytes(path);
  EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), layout.fileSize);
  EXPECT_EQ(ReadU32(bytes, 0), 0xEEEE01F1u);
}

}  // namespace
}  // namespace strata::test
