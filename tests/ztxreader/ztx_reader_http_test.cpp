// The reader core reads a slide served over HTTP exactly as it reads the
// file, whole-slide and block mode, with the HTTP cache on and off (its
// block opens announce their tiles, which the cache then serves).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "strata/model/http_file_operation_tool.h"
#include "support/scoped_environment.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "tools/loopback/nginx_server.h"
#include "ztxreader/ztx_reader.h"

namespace {

using strata::loopback::NginxServer;
using strata::test::ScopedEnvironment;

struct HttpReadCase {
  const char* cacheMegabytes;
  bool readAll;
};

class ReaderOverHttpTest : public ::testing::TestWithParam<HttpReadCase> {};

std::vector<unsigned char> Roi(lumora::reader& reader, int x, int y, int w, int h, double scale) {
  unsigned char* data = nullptr;
  int size = 0;
  reader.ReadRoi(x, y, w, h, scale, &data, &size);
  return std::vector<unsigned char>(data, data + size);
}

TEST_P(ReaderOverHttpTest, RegionsEqualTheLocalFile) {
  ScopedEnvironment cache(CHTTPFileOperationTool::kCacheSizeVariable, GetParam().cacheMegabytes);
  strata::test::TempDir dir;
  strata::test::SlideRecipe recipe;
  recipe.width = 1800;
  recipe.height = 1300;
  const std::string path = strata::test::MakeSlide(dir, recipe);
  ASSERT_FALSE(path.empty());
  NginxServer server(dir.path(), 5);
  ASSERT_TRUE(server.started()) << server.failure();
  lumora::reader local;
  lumora::reader remote;
  ASSERT_TRUE(local.ReadInfo(path, 20.0, GetParam().readAll));
  ASSERT_TRUE(remote.ReadInfo(server.Url("slide.ztx"), 20.0, GetParam().readAll));
  for (const auto& [x, y, w, h, scale] : std::vector<std::array<int, 5>>{{0, 0, 1800, 1300, 20},
                                                                         {300, 260, 700, 500, 20},
                                                                         {-30, 100, 400, 300, 10},
                                                                         {500, 400, 300, 300, 5}}) {
    const std::vector<unsigned char> expected = Roi(local, x, y, w, h, scale);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(w) * h * 3);
    EXPECT_EQ(Roi(remote, x, y, w, h, scale), expected) << x << "," << y << " at " << scale;
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, ReaderOverHttpTest,
                         ::testing::Values(HttpReadCase{"32", false}, HttpReadCase{"0", false},
                                           HttpReadCase{"32", true}));

}  // namespace
