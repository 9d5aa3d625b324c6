// A DICOM instance behind an HTTP server (on loopback, answering ranges)
// opens alone and reads exactly as the same file read locally; a truncated
// one fails at open although the server tells no size.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dicom/dicom_writer.h"
#include "strata/slide.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "tools/loopback/loopback_http_server.h"

namespace strata::test {
namespace {

using loopback::LoopbackHttpServer;
using loopback::RangeReply;
using loopback::Request;

class DicomHttpTest : public ::testing::TestWithParam<FrameCoding> {
 protected:
  // Writes one level of the pattern and serves its bytes, cut to `keep`.
  std::string Serve(std::size_t cut = 0, const std::string& flavor = "VOLUME") {
    DicomImageRecipe recipe;
    recipe.width = 600;
    recipe.height = 400;
    recipe.rgb = ExpectedBaseImage(recipe.width, recipe.height);
    recipe.coding = GetParam();
    recipe.flavor = flavor;
    recipe.iccProfile = "profile!";  // even: DCMTK pads odd values
    EXPECT_TRUE(WriteDicom(dir_.path(), recipe, &written_));
    const std::vector<unsigned char> bytes = ReadFileBytes(written_.path);
    object_.assign(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(cut));
    server_ = std::make_unique<LoopbackHttpServer>(
        [this](const Request& request, int) { return RangeReply(object_, request); });
    // A neighbour on disk that a URL must not pick up.
    DicomImageRecipe label = recipe;
    label.fileName = "label.dcm";
    label.flavor = "LABEL";
    WrittenDicom unused;
    EXPECT_TRUE(WriteDicom(dir_.path(), label, &unused));
    return server_->Url("/slides/image.dcm");
  }

  TempDir dir_;
  WrittenDicom written_;
  std::string object_;
  std::unique_ptr<LoopbackHttpServer> server_;
};

TEST_P(DicomHttpTest, ReadsAsTheLocalFile) {
  const std::string url = Serve();
  std::unique_ptr<Slide> remote;
  std::unique_ptr<Slide> local;
  const Status opened = Slide::Open(url, &remote);
  ASSERT_TRUE(opened.ok()) << opened.message();
  ASSERT_TRUE(Slide::Open(written_.path, &local).ok());
  EXPECT_EQ(remote->Facts().format, "dicom");
  EXPECT_EQ(remote->Properties(), local->Properties());
  EXPECT_EQ(remote->IccProfile(), "profile!");
  EXPECT_TRUE(remote->AssociatedImageNames().empty());
  Image near;
  Image far;
  ASSERT_TRUE(remote->ReadRegion(0, 100, 50, 400, 300, &far).ok());
  ASSERT_TRUE(local->ReadRegion(0, 100, 50, 400, 300, &near).ok());
  EXPECT_TRUE(far.pixels == near.pixels);
  Tile tile;
  ASSERT_TRUE(remote->ReadTile(0, 4, 3, &tile).ok());
  EXPECT_TRUE(tile.bytes == written_.frames.back());
}

TEST_P(DicomHttpTest, TruncatedInstanceFailsAtOpen) {
  const std::string url = Serve(100);
  std::unique_ptr<Slide> remote;
  const Status opened = Slide::Open(url, &remote);
  EXPECT_EQ(opened.code(), Status::Code::kDamaged);
  EXPECT_NE(opened.message().find("truncated"), std::string::npos) << opened.message();
}

TEST_P(DicomHttpTest, LabelAloneIsNoSlide) {
  const std::string url = Serve(0, "LABEL");
  std::unique_ptr<Slide> remote;
  const Status opened = Slide::Open(url, &remote);
  EXPECT_NE(opened.message().find("holds no pyramid level"), std::string::npos) << opened.message();
}

INSTANTIATE_TEST_SUITE_P(Codings, DicomHttpTest,
                         ::testing::Values(FrameCoding::kJpeg, FrameCoding::kExplicitLittle),
                         [](const ::testing::TestParamInfo<FrameCoding>& info) {
                           return info.param == FrameCoding::kJpeg ? "Jpeg" : "Uncompressed";
                         });

}  // namespace
}  // namespace strata::test
