// Probe (temporary).
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "strata/slide.h"
#include "strata/strata.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "tools/loopback/loopback_http_server.h"
#include "tools/svs_writer.h"

namespace {
using strata::test::TempDir;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(Probe, Messages) {
  TempDir dir;
  strata::test::SlideRecipe recipe;
  const std::string good = strata::test::MakeSlide(dir, recipe);
  auto bytes = strata::test::ReadFileBytes(good);
  printf("good size %zu\n", bytes.size());
  bytes.resize(5000);
  strata::test::WriteFileBytes(dir.File("cut.ztx"), bytes);
  WriteText(dir.File("notes.ztx"), "hello, this is text\n");
  WriteText(dir.File("notes.json"), "{\n  \"a\": 1}\n");
  WriteText(dir.File("bad.vms"), "[Virtual Microscope Specimen]\nNoLayers=1\n");
  strata::tools::SvsOptions options;
  options.width = 600; options.height = 400; options.aperioDescription = false; options.appMag = "";
  std::string error;
  strata::tools::WriteSvs(dir.File("plain.tif"), options,
      [](int, int, int w, int h, double, unsigned char* rgb) { std::fill(rgb, rgb + w * h * 3, 100); }, &error);
  strata::loopback::LoopbackHttpServer server([](const strata::loopback::Request&, int) {
    return strata::loopback::MakeReply(404, "Not Found", "gone");
  });
  for (const std::string& path : {dir.File("missing.ztx"), dir.path(), std::string(), dir.File("notes.json"),
                                  dir.File("cut.ztx"), dir.File("notes.ztx"), dir.File("plain.tif"),
                                  server.Url("/missing.ztx"), dir.File("bad.vms")}) {
    std::unique_ptr<strata::Slide> slide;
    const strata::Status s = strata::Slide::Open(path, &slide);
    IMAGE_INFO_STRUCT handle{nullptr};
    const bool opened = InitImageFileFunc(&handle, path.c_str());
    UnInitImageFileFunc(&handle);
    printf("%s\n  facade: %d %s\n  export: %d\n", path.c_str(), (int)s.code(), s.message().c_str(), opened);
  }
}
}  // namespace
