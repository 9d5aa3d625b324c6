// Foreign adapters whose library is missing, or lacks functions (the sparse
// stand-ins). A process keeps a library once it loaded it, so these run in
// their own program, missing libraries first.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "foreign/foreign_test_util.h"
#include "strata/foreign/bridge_library.h"
#include "strata/foreign/unici_data_file.h"

namespace strata::test {
namespace {

struct Adapter {
  const char* name;
  const char* variable;
  const char* path;
  const char* sparseLibrary;
  bool (*loaded)();
};

const Adapter kAdapters[] = {
    {"Dmetrix", "STRATA_DMX_BRIDGE", "/slides/case.dmetrix", "libDmxBridgeSparse.so",
     [] { return foreign::DmetrixBridge().IsLoaded(); }},
    {"Motic", "STRATA_MOX_BRIDGE", "/slides/case.mds", "libMoxBridgeSparse.so",
     [] { return foreign::MoticBridge().IsLoaded(); }},
    {"Unici", "STRATA_IVIEWER_SDK", "/slides/case.TMAP", "libiViewerSDKSparse.so",
     [] { return foreign::IViewerSdkLoaded(); }},
};

void PrintTo(const Adapter& adapter, std::ostream* os) { *os << adapter.name; }

class UnavailableTest : public ::testing::TestWithParam<Adapter> {};

TEST_P(UnavailableTest, MissingLibraryFailsTheOpen) {
  const Adapter& adapter = GetParam();
  if (adapter.loaded()) GTEST_SKIP() << "library already loaded in this process";
  ScopedEnvironment missing(adapter.variable, StandinLibrary("libNoSuchLibrary.so"));
  OpenSlide slide(adapter.path);
  EXPECT_FALSE(slide.opened());
  EXPECT_EQ(slide.handle().slide, nullptr);
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  // Path-based thumbnails need no open slide; without the library none is made.
  GetThumnailImagePathFunc(adapter.path, &data, &length, &width, &height);
  ExportBuffer owned(data);
  EXPECT_EQ(data, nullptr);
}

// Opening, closing and the header work; what the library lacks yields
// nothing.
TEST_P(UnavailableTest, MissingFunctionsYieldNothing) {
  const Adapter& adapter = GetParam();
  ScopedEnvironment sparse(adapter.variable, StandinLibrary(adapter.sparseLibrary));
  if (adapter.loaded()) GTEST_SKIP() << "library already loaded in this process";
  StandinProbe probe(adapter.sparseLibrary);
  {
    OpenSlide slide(adapter.path);
    ASSERT_TRUE(slide.opened());
    int h = 0, w = 0, s = 0, b = 0;
    float t, r;
    double when;
    EXPECT_TRUE(GetHeaderInfoFunc(slide.handle(), &h, &w, &s, &t, &when, &r, &b));
    EXPECT_GT(w, 0);
    unsigned char* buffer = nullptr;
    int length = -1;
    GetImageStreamFunc(&slide.handle(), static_cast<float>(s), 0, 0, &length, &buffer);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer, nullptr);
  }
  ExpectLedgerBalanced(probe);
}

INSTANTIATE_TEST_SUITE_P(Adapters, UnavailableTest, ::testing::ValuesIn(kAdapters),
                         [](const ::testing::TestParamInfo<Adapter>& info) {
                           return info.param.name;
                         });

// Without overrides the libraries are found by their file names through the
// loader's search; CTest runs this with the stand-ins on LD_LIBRARY_PATH.
TEST(LoaderSearch, FindsTheLibrariesByTheirFileNames) {
  if (std::getenv("STRATA_STANDIN_LOADER_SEARCH") == nullptr) {
    GTEST_SKIP() << "needs the stand-ins on LD_LIBRARY_PATH";
  }
  for (const Adapter& adapter : kAdapters) {
    unsetenv(adapter.variable);
    OpenSlide slide(adapter.path);
    EXPECT_TRUE(slide.opened()) << adapter.name;
  }
}

}  // namespace
}  // namespace strata::test
