// Why an open failed, as strata::Slide::Open and GetLastErrorTextFunc tell
// it for each kind of bad input, and which failure GetLastErrorTextFunc
// reports for a handle and for a thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "strata/platform/directory.h"
#include "strata/slide.h"
#include "strata/strata.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "tools/loopback/loopback_http_server.h"
#include "tools/svs_writer.h"

namespace {

using strata::loopback::LoopbackHttpServer;
using strata::test::TempDir;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string LastErrorText(const IMAGE_INFO_STRUCT* handle) {
  char text[512];
  const int length = GetLastErrorTextFunc(handle, text, sizeof text);
  EXPECT_EQ(length, static_cast<int>(std::string(text).size()));
  return text;
}

// The bad inputs, made once: every HTTP request is answered 404.
struct BadInputs {
  TempDir dir;
  LoopbackHttpServer server{[](const strata::loopback::Request&, int) {
    return strata::loopback::MakeReply(404, "Not Found", "gone");
  }};

  BadInputs() {
    std::vector<unsigned char> cut =
        strata::test::ReadFileBytes(strata::test::MakeSlide(dir, strata::test::SlideRecipe{}));
    cut.resize(5000);
    strata::test::WriteFileBytes(dir.File("cut.ztx"), cut);
    WriteText(dir.File("notes.json"), "{\n  \"a\": 1}\n");
    WriteText(dir.File("notes.ztx"), "hello, this is text\n");
    strata::platform::CreateDirectory(dir.File("folder"));
    // OpenSlide takes a .mrxs whose folder holds Slidedat.ini, then fails on its content.
    WriteText(dir.File("broken.mrxs"), "x");
    strata::platform::CreateDirectory(dir.File("broken"));
    WriteText(dir.File("broken/Slidedat.ini"), "[GENERAL]\nfoo=1\n");
    strata::tools::SvsOptions plain;
    plain.width = 600;
    plain.height = 400;
    plain.aperioDescription = false;
    plain.appMag = "";
    std::string error;
    EXPECT_TRUE(strata::tools::WriteSvs(
        dir.File("plain.tif"), plain,
        [](int, int, int w, int h, double, unsigned char* rgb) {
          std::fill(rgb, rgb + w * h * 3, 120);
        },
        &error))
        << error;
  }
};

BadInputs& Inputs() {
  static BadInputs inputs;
  return inputs;
}

struct BadInput {
  const char* name;
  std::function<std::string(BadInputs&)> location;
  const char* facadeReason;  // null: the façade opens it
  const char* exportReason;  // both after "<location>: " (nothing for an empty location)
};

class FailureReasonTest : public ::testing::TestWithParam<BadInput> {};

std::string Expected(const std::string& location, const char* reason) {
  return location.empty() ? reason : location + ": " + reason;
}

TEST_P(FailureReasonTest, FacadeAndExportSayWhy) {
  const std::string location = GetParam().location(Inputs());
  std::unique_ptr<strata::Slide> slide;
  const strata::Status opened = strata::Slide::Open(location, &slide);
  if (GetParam().facadeReason == nullptr) {
    EXPECT_TRUE(opened.ok()) << opened.message();
  } else {
    EXPECT_FALSE(opened.ok());
    EXPECT_EQ(opened.message().rfind(Expected(location, GetParam().facadeReason), 0), 0u)
        << opened.message();
  }

  IMAGE_INFO_STRUCT handle{nullptr};
  ASSERT_FALSE(InitImageFileFunc(&handle, location.c_str()));
  const std::string reason = LastErrorText(&handle);
  EXPECT_EQ(reason.rfind(Expected(location, GetParam().exportReason), 0), 0u) << reason;
  EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
  EXPECT_EQ(LastErrorText(nullptr), reason);
}

const char kNotJson[] = "not a slide: starts with 7b 0a 20 20 22 61 22 3a '{.  \"a\":'";
const char kNotZtx[] = "not a ZTX slide: starts with 68 65 6c 6c 6f 2c 20 74 'hello, t'";
const char kTruncated[] = "ZTX slide truncated at byte 5000";
const char kNoPower[] = "no objective power recorded; the C interface needs one";
const char kOpenSlide[] = "OpenSlide: Key file does not have key";

INSTANTIATE_TEST_SUITE_P(
    BadInputs, FailureReasonTest,
    ::testing::Values(
        BadInput{"Missing", [](BadInputs& in) { return in.dir.File("missing.ztx"); },
                 "no such file", "no such file"},
        BadInput{"Directory", [](BadInputs& in) { return in.dir.File("folder"); }, "is a directory",
                 "is a directory"},
        BadInput{"EmptyName", [](BadInputs&) { return std::string(); }, "the slide path is empty",
                 "the slide path is empty"},
        BadInput{"NotASlide", [](BadInputs& in) { return in.dir.File("notes.json"); }, kNotJson,
                 kNotJson},
        BadInput{"TruncatedZtx", [](BadInputs& in) { return in.dir.File("cut.ztx"); }, kTruncated,
                 kTruncated},
        BadInput{"TextNamedZtx", [](BadInputs& in) { return in.dir.File("notes.ztx"); }, kNotZtx,
                 kNotZtx},
        BadInput{"TiffWithoutObjectivePower",
                 [](BadInputs& in) { return in.dir.File("plain.tif"); }, nullptr, kNoPower},
        BadInput{"HttpStatus", [](BadInputs& in) { return in.server.Url("/slide.ztx"); },
                 "HTTP status 404", "HTTP status 404"},
        BadInput{"HttpStatusOfATiff", [](BadInputs& in) { return in.server.Url("/slide.svs"); },
                 "HTTP status 404", "HTTP status 404"},
        BadInput{"HttpStatusWithoutAName", [](BadInputs& in) { return in.server.Url("/slide"); },
                 "HTTP status 404", "HTTP status 404"},
        BadInput{"OpenSlideError", [](BadInputs& in) { return in.dir.File("broken.mrxs"); },
                 kOpenSlide, kOpenSlide}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST(LastErrorText, ReportsTheWholeLengthAndCutsToTheBuffer) {
  const std::string missing = Inputs().dir.File("missing.ztx");
  IMAGE_INFO_STRUCT handle{nullptr};
  ASSERT_FALSE(InitImageFileFunc(&handle, missing.c_str()));
  const std::string whole = missing + ": no such file";
  EXPECT_EQ(GetLastErrorTextFunc(&handle, nullptr, 0), static_cast<int>(whole.size()));
  char small[8] = "xxxxxxx";
  EXPECT_EQ(GetLastErrorTextFunc(&handle, small, 5), static_cast<int>(whole.size()));
  EXPECT_EQ(std::string(small), whole.substr(0, 4));
  EXPECT_EQ(small[5], 'x');
}

// A slide's reasons are its own and its thread's: another thread's failure
// on the same slide, or a failed open elsewhere, does not replace them.
TEST(LastErrorText, BelongsToTheHandleAndTheThread) {
  TempDir dir;
  const std::string path = strata::test::MakeSlide(dir, strata::test::SlideRecipe{});
  IMAGE_INFO_STRUCT handle{nullptr};
  ASSERT_TRUE(InitImageFileFunc(&handle, path.c_str()));
  EXPECT_EQ(LastErrorText(&handle), "");
  int length = -1;
  unsigned char* buffer = nullptr;
  GetImageStreamFunc(&handle, 20.0f, 99999, 0, &length, &buffer);
  ASSERT_EQ(length, 0);
  const std::string tileReason = LastErrorText(&handle);
  EXPECT_EQ(tileReason.rfind("tile at scale 20 (99999, 0): no such tile", 0), 0u) << tileReason;

  std::string otherThread;
  std::thread([&] {
    otherThread = LastErrorText(&handle);
    GetImageStreamFunc(&handle, 20.0f, 0, 88888, &length, &buffer);
  }).join();
  EXPECT_EQ(otherThread, "");
  IMAGE_INFO_STRUCT failed{nullptr};
  EXPECT_FALSE(InitImageFileFunc(&failed, dir.File("missing.ztx").c_str()));
  EXPECT_EQ(LastErrorText(&handle), tileReason);
  EXPECT_EQ(LastErrorText(nullptr), dir.File("missing.ztx") + ": no such file");

  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

}  // namespace
