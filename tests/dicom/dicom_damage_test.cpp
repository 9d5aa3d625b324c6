// Damaged and hostile DICOM series end in a clear failure: at open where the
// damage shows in the tables and headers, at the read that needs a frame
// that does not check out. Memory stays bounded whatever the file claims.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dicom/dicom_writer.h"
#include "strata/slide.h"
#include "support/hostile_input.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace strata::test {
namespace {

// Writes a damaged series into the folder; gives what to open.
using Maker = std::function<std::string(const TempDir&)>;

struct DamageCase {
  const char* name;
  Maker make;
  Status::Code code;
  const char* reason;   // part of the failure's message
  bool atRead = false;  // the open succeeds; reading level 0 fails
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

// Level 0 of the fixture pattern (5 x 4 tiles of 128), as one instance.
DicomImageRecipe Level(FrameCoding coding, const std::string& fileName = "level-0.dcm") {
  DicomImageRecipe recipe;
  recipe.fileName = fileName;
  recipe.width = 600;
  recipe.height = 400;
  recipe.rgb = ExpectedBaseImage(recipe.width, recipe.height);
  recipe.coding = coding;
  return recipe;
}

std::string Write(const TempDir& dir, const DicomImageRecipe& recipe) {
  WrittenDicom written;
  EXPECT_TRUE(WriteDicom(dir.path(), recipe, &written));
  return written.path;
}

Maker Written(std::function<void(DicomImageRecipe&)> change,
              FrameCoding coding = FrameCoding::kJpeg) {
  return [change, coding](const TempDir& dir) {
    DicomImageRecipe recipe = Level(coding);
    change(recipe);
    return Write(dir, recipe);
  };
}

// The position of `pattern` in the file, or the file's size.
std::size_t Find(const Bytes& bytes, const Bytes& pattern, std::size_t from = 0) {
  return static_cast<std::size_t>(std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                              bytes.end(), pattern.begin(), pattern.end()) -
                                  bytes.begin());
}

// A file changed after writing.
Maker Edited(FrameCoding coding, std::function<void(Bytes&)> edit) {
  return [coding, edit](const TempDir& dir) {
    const std::string path = Write(dir, Level(coding));
    Bytes bytes = ReadFileBytes(path);
    edit(bytes);
    WriteFileBytes(path, bytes);
    return path;
  };
}

// A DICOM file by hand: explicit little endian whole-slide meta
// information, then `body`.
Bytes DicomFile(const Bytes& body) {
  const auto element = [](std::uint16_t group, std::uint16_t number, const char* vr,
                          const std::string& value) {
    Bytes bytes = {
        static_cast<unsigned char>(group),        static_cast<unsigned char>(group >> 8),
        static_cast<unsigned char>(number),       static_cast<unsigned char>(number >> 8),
        static_cast<unsigned char>(vr[0]),        static_cast<unsigned char>(vr[1]),
        static_cast<unsigned char>(value.size()), static_cast<unsigned char>(value.size() >> 8)};
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
  };
  Bytes file(132, 0);
  std::copy_n("DICM", 4, file.begin() + 128);
  for (const Bytes& part :
       {element(0x0002, 0x0002, "UI", std::string("1.2.840.10008.5.1.4.1.1.77.1.6")),
        element(0x0002, 0x0010, "UI", std::string("1.2.840.10008.1.2.1\0", 20)),
        element(0x0020, 0x000E, "UI", std::string("1.2.3.4\0", 8))}) {
    file.insert(file.end(), part.begin(), part.end());
  }
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Maker Handmade(const Bytes& body) {
  return [body](const TempDir& dir) {
    const std::string path = dir.File("handmade.dcm");
    WriteFileBytes(path, DicomFile(body));
    return path;
  };
}

// An element header with a 4-byte length (OB, SQ, UT, ...).
Bytes LongHeader(std::uint16_t group, std::uint16_t number, const char* vr, std::uint32_t length) {
  return {static_cast<unsigned char>(group),
          static_cast<unsigned char>(group >> 8),
          static_cast<unsigned char>(number),
          static_cast<unsigned char>(number >> 8),
          static_cast<unsigned char>(vr[0]),
          static_cast<unsigned char>(vr[1]),
          0,
          0,
          static_cast<unsigned char>(length),
          static_cast<unsigned char>(length >> 8),
          static_cast<unsigned char>(length >> 16),
          static_cast<unsigned char>(length >> 24)};
}

const Bytes kItemUndefined = {0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF};

Bytes DeepSequences(int depth) {
  Bytes body;
  for (int level = 0; level < depth; ++level) {
    const Bytes sequence = LongHeader(0x0048, 0x0105, "SQ", 0xFFFFFFFF);
    body.insert(body.end(), sequence.begin(), sequence.end());
    body.insert(body.end(), kItemUndefined.begin(), kItemUndefined.end());
  }
  return body;
}

std::vector<DamageCase> Cases() {
  const auto frames = [](const char* count) {
    return [count](DicomImageRecipe& recipe) { recipe.numberOfFrames = count; };
  };
  return {
      {"NativeFrameCountAbovePixelData", Written(frames("21"), FrameCoding::kExplicitLittle),
       Status::Code::kDamaged, "NumberOfFrames says 21 frames of 49152 bytes"},
      {"FrameCountBelowOffsetTable", Written(frames("19")), Status::Code::kDamaged,
       "the offset table lists 20 frames, NumberOfFrames says 19"},
      {"FrameCountAboveFragments", Written([](DicomImageRecipe& recipe) {
         recipe.offsetTable = false;
         recipe.numberOfFrames = "21";
       }),
       Status::Code::kDamaged, "20 fragments for 21 frames"},
      {"FullTilingShortOfFrames", Written([](DicomImageRecipe& recipe) { recipe.frameCount = 15; }),
       Status::Code::kDamaged,
       "NumberOfFrames says 15 frames, the 5 x 4 tiles of the 600 x 400 image need 20"},
      {"FrameCountBeyondLimit", Written(frames("99999999")), Status::Code::kDamaged,
       "NumberOfFrames 99999999 is outside 1..4194304"},
      {"TruncatedJpegFrames",
       Edited(FrameCoding::kJpeg, [](Bytes& bytes) { bytes.resize(bytes.size() - 3000); }),
       Status::Code::kDamaged, "truncated"},
      {"TruncatedNativeFrames",
       Edited(FrameCoding::kExplicitLittle, [](Bytes& bytes) { bytes.resize(bytes.size() - 10); }),
       Status::Code::kDamaged, "truncated: the frames end at byte"},
      {"TruncatedHeader", Edited(FrameCoding::kJpeg, [](Bytes& bytes) { bytes.resize(700); }),
       Status::Code::kDamaged, "truncated"},
      {"OffsetTableIntoAFragment", Written([](DicomImageRecipe& recipe) {
         for (unsigned frame = 0; frame < 20; ++frame) recipe.basicOffsets.push_back(frame * 16);
       }),
       Status::Code::kDamaged, "where no fragment starts"},
      {"OffsetTablePastTheEnd", Written([](DicomImageRecipe& recipe) {
         for (unsigned frame = 0; frame < 20; ++frame) {
           recipe.basicOffsets.push_back(frame * 0x1000000u);
         }
       }),
       Status::Code::kDamaged, "past the end of the file"},
      {"OffsetTableFalling", Written([](DicomImageRecipe& recipe) {
         for (unsigned frame = 0; frame < 20; ++frame) {
           recipe.basicOffsets.push_back(frame == 0 ? 0 : 100000 - 2 * frame);
         }
       }),
       Status::Code::kDamaged, "do not rise"},
      {"FrameOffTheGrid", Written([](DicomImageRecipe& recipe) {
         recipe.sparse = true;
         recipe.positionShift = 5;
       }),
       Status::Code::kDamaged, "off the tile grid"},
      {"MissingConcatenationPart",
       [](const TempDir& dir) {
         DicomImageRecipe part = Level(FrameCoding::kJpeg, "part-1.dcm");
         part.concatenationUid = "1.2.826.0.1.3680043.10.1137.77";
         part.concatenationNumber = 1;
         part.concatenationTotal = 2;
         part.frameCount = 12;
         return Write(dir, part);
       },
       Status::Code::kDamaged, "has 1 of its 2 instances"},
      {"OnlyAssociatedImages",
       [](const TempDir& dir) {
         DicomImageRecipe label = Level(FrameCoding::kExplicitLittle, "label.dcm");
         label.flavor = "LABEL";
         return Write(dir, label);
       },
       Status::Code::kDamaged, "holds no pyramid level"},
      {"DamagedInstanceOfTheSeries",
       [](const TempDir& dir) {
         const std::string level0 = Write(dir, Level(FrameCoding::kJpeg));
         DicomImageRecipe level1 = Level(FrameCoding::kJpeg, "level-1.dcm");
         level1.width = 300;
         level1.height = 200;
         level1.rgb.resize(300 * 200 * 3);
         const std::string path = Write(dir, level1);
         // Cut inside the total pixel matrix attributes, after the series UID.
         Bytes bytes = ReadFileBytes(path);
         bytes.resize(Find(bytes, {0x48, 0x00, 0x06, 0x00}) + 6);
         WriteFileBytes(path, bytes);
         return level0;
       },
       Status::Code::kDamaged, "level-1.dcm"},
      {"TwoSeriesInOneFolder",
       [](const TempDir& dir) {
         Write(dir, Level(FrameCoding::kJpeg));
         DicomImageRecipe other = Level(FrameCoding::kJpeg, "other.dcm");
         other.seriesUid = "1.2.826.0.1.3680043.10.1137.2";
         Write(dir, other);
         return dir.path();
       },
       Status::Code::kUnsupportedFormat, "2 DICOM whole-slide series"},
      {"Jpeg2000Syntax",
       Written([](DicomImageRecipe& recipe) { recipe.transferSyntax = "1.2.840.10008.1.2.4.91"; }),
       Status::Code::kUnsupported, "transfer syntax 1.2.840.10008.1.2.4.91 (JPEG 2000)"},
      {"NotAWholeSlideImage",
       Written([](DicomImageRecipe& recipe) { recipe.sopClass = "1.2.840.10008.5.1.4.1.1.2"; }),
       Status::Code::kUnsupportedFormat, "no whole-slide image"},
      {"NoDicomMarker",
       [](const TempDir& dir) {
         WriteFileBytes(dir.File("x.dcm"), Bytes(200, 7));
         return dir.File("x.dcm");
       },
       Status::Code::kUnsupportedFormat, "no \"DICM\""},
      {"SequencesNestedTooDeep", Handmade(DeepSequences(40)), Status::Code::kDamaged,
       "nest deeper than 16"},
      {"ValuePastTheEnd", Handmade(LongHeader(0x0048, 0x0105, "UT", 0x7FFFFFF0)),
       Status::Code::kDamaged, "runs past the end of the file"},
      {"UndefinedLengthText", Handmade(LongHeader(0x0048, 0x0105, "UT", 0xFFFFFFFF)),
       Status::Code::kDamaged, "has an undefined length"},
      {"ItemOutsideASequence", Handmade(kItemUndefined), Status::Code::kDamaged,
       "stands outside a sequence"},
      {"NoValueRepresentation", Handmade({0x48, 0x00, 0x06, 0x00, 0x01, 0x02, 0x04, 0x00}),
       Status::Code::kDamaged, "has no value representation"},
      {"CorruptFrame",
       Edited(FrameCoding::kJpeg,
              [](Bytes& bytes) {
                // The fourth frame's start-of-image marker, after the pixel data tag.
                std::size_t at = Find(bytes, {0xE0, 0x7F, 0x10, 0x00});
                for (int frame = 0; frame < 4; ++frame) at = Find(bytes, {0xFF, 0xD8}, at + 1);
                bytes[at] = 0;
              }),
       Status::Code::kDamaged, "does not start like a JPEG stream", true},
  };
}

class DicomDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DicomDamageTest, FailsWithItsReason) {
  TempDir dir;
  const std::string location = GetParam().make(dir);
  std::unique_ptr<Slide> slide;
  Status status = Slide::Open(location, &slide);
  if (GetParam().atRead) {
    ASSERT_TRUE(status.ok()) << status.message();
    Image region;
    status = slide->ReadRegion(0, 0, 0, 600, 400, &region);
  }
  EXPECT_EQ(status.code(), GetParam().code) << status.message();
  EXPECT_NE(status.message().find(GetParam().reason), std::string::npos) << status.message();
}

INSTANTIATE_TEST_SUITE_P(Cases, DicomDamageTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return info.param.name;
                         });

// A file that claims millions of frames and fragments is refused without
// memory to match the claim.
TEST(DicomDamageBounds, ClaimedFramesCostNoMemory) {
  TempDir dir;
  DicomImageRecipe recipe = Level(FrameCoding::kJpeg);
  recipe.offsetTable = false;
  recipe.numberOfFrames = "4194304";
  const std::string path = Write(dir, recipe);
  Status status;
  const std::int64_t growth = PeakMemoryGrowth([&] {
    std::unique_ptr<Slide> slide;
    status = Slide::Open(path, &slide);
  });
  EXPECT_EQ(status.code(), Status::Code::kDamaged);
  EXPECT_LT(growth, 16 << 20);
}

}  // namespace
}  // namespace strata::test
