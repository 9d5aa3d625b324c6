#include "slide/slide_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

#include "dicom/dicom_writer.h"
#include "standins/synthetic_slide.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/platform/dynamic_library.h"
#include "support/slide_fixtures.h"
#include "support/standin_libraries.h"
#include "support/test_files.h"
#include "tiff/tiff_reference.h"
#include "tools/loopback/nginx_server.h"
#include "tools/ndpi_writer.h"

namespace strata::test {
namespace {

// Every fixture of the program lives here and goes with it.
const TempDir& Folder() {
  static const TempDir folder;
  return folder;
}

std::string Ztx(SlideRecipe recipe, const std::string& name) {
  static std::map<std::string, std::string> made;
  auto found = made.find(name);
  if (found == made.end()) {
    recipe.fileName = name;
    found = made.emplace(name, MakeSlide(Folder(), recipe)).first;
  }
  return found->second;
}

SlideRecipe Version(float version) {
  SlideRecipe recipe;
  recipe.version = version;
  return recipe;
}

std::string Ztx10() { return Ztx(Version(1.0f), "v10.ztx"); }
std::string Ztx13() { return Ztx(Version(1.3f), "v13.ztx"); }
std::string Ztx20() { return Ztx(Version(2.0f), "v20.ztx"); }
std::string ZtxCompressedIndex() {
  SlideRecipe recipe;
  recipe.compressIndex = true;
  return Ztx(recipe, "compressed.ztx");
}
std::string ZtxBmp() {
  SlideRecipe recipe = Version(2.0f);
  recipe.encoding = ztx::TileEncoding::kBmp;
  recipe.width = 1001;  // odd: halving rounds
  recipe.height = 703;
  return Ztx(recipe, "bmp.ztx");
}

// The 1.3 slide served by a loopback nginx that stops with the program.
std::string ZtxOverHttp() {
  static TempDir root;
  static const std::unique_ptr<loopback::NginxServer> server = [] {
    auto started = std::make_unique<loopback::NginxServer>(root.path());
    EXPECT_TRUE(started->started()) << started->failure();
    return started;
  }();
  static const std::string url = [] {
    MakeSlide(root, Version(1.3f));
    return server->Url("slide.ztx");
  }();
  return url;
}

TiffRecipe SvsRecipe() { return TiffRecipes().front(); }  // labelled, with a profile
std::string Svs() { return TiffSlidePath(SvsRecipe()); }

std::string GenericTiff() {
  static const std::string path = [] {
    tools::SvsOptions options;
    options.width = 1500;
    options.height = 1100;
    options.levelFactor = 2;
    options.aperioDescription = false;
    options.appMag.clear();
    options.mpp.clear();
    options.thumbnailSide = 0;
    return WriteTiffSlide(Folder(), {"generic.tif", options});
  }();
  return path;
}

std::string Ndpi() {
  static const std::string path = [] {
    tools::NdpiOptions options;
    options.width = 1600;
    options.height = 1200;
    options.macro = tools::FramedPicture(320, 120, 90, 160, 210);
    const std::string written = Folder().File("slide.ndpi");
    std::string error;
    EXPECT_TRUE(tools::WriteNdpi(written, options, tools::FillSvsTestPattern, &error)) << error;
    return written;
  }();
  return path;
}

// The stand-ins read no file, but a slide path must name one.
std::string EmptyFile(const std::string& name) {
  const std::string path = Folder().File(name);
  WriteFileBytes(path, {});
  return path;
}
std::string StandinMrxs() { return EmptyFile("standin.mrxs"); }
std::string StandinBif() { return EmptyFile("standin.bif"); }
std::string Dmetrix() { return EmptyFile("case.dmetrix"); }
std::string Motic() { return EmptyFile("case.mds"); }
std::string Tmap() { return EmptyFile("case.TMAP"); }

const WrittenSlide& Dicom() {
  static const WrittenSlide written = [] {
    const std::string folder = Folder().File("dicom");
    std::filesystem::create_directory(folder);
    return WriteDicomSlide(folder, DicomSlideRecipe{});
  }();
  return written;
}
std::string DicomFolder() {
  Dicom();
  return Folder().File("dicom");
}

// The stand-in's layouts of two OpenSlide formats: MRXS with its scanned
// bounds and a background colour, BIF with levels four times apart.
std::string StandinScript(const std::vector<std::string>& properties,
                          const std::vector<SlideLevel>& levels, int tile,
                          const std::vector<std::string>& images) {
  std::string script;
  for (const std::string& property : properties) script += "prop." + property + "\n";
  script += "prop.openslide.level-count=" + std::to_string(levels.size()) + "\n";
  for (std::size_t n = 0; n < levels.size(); ++n) {
    const SlideLevel& level = levels[n];
    char line[64];
    std::snprintf(line, sizeof line, "level=%ld,%ld,%g\n", static_cast<long>(level.width),
                  static_cast<long>(level.height), level.downsample);
    script += line;
    const std::string prefix = "prop.openslide.level[" + std::to_string(n) + "].";
    script += prefix + "width=" + std::to_string(level.width) + "\n";
    script += prefix + "height=" + std::to_string(level.height) + "\n";
    std::snprintf(line, sizeof line, "downsample=%g\n", level.downsample);
    script += prefix + line;
    script += prefix + "tile-width=" + std::to_string(tile) + "\n";
    script += prefix + "tile-height=" + std::to_string(tile) + "\n";
  }
  for (const std::string& image : images) script += "image." + image + "\n";
  return script;
}

const std::string& MrxsScript() {
  static const std::string script = StandinScript(
      {"openslide.vendor=mirax", "openslide.objective-power=20", "openslide.mpp-x=0.25",
       "openslide.mpp-y=0.25", "openslide.bounds-x=100", "openslide.bounds-y=60",
       "openslide.bounds-width=700", "openslide.bounds-height=500",
       "openslide.background-color=F0E0D0", "mirax.GENERAL.SLIDE_VERSION=01.03"},
      {{1000, 800, 1}, {500, 400, 2}, {250, 200, 4}, {125, 100, 8}}, 256,
      {"label=60,40", "macro=120,80"});
  return script;
}

const std::string& BifScript() {
  static const std::string script = StandinScript(
      {"openslide.vendor=ventana", "openslide.objective-power=40", "ventana.ScanRes=0.25"},
      {{1200, 900, 1}, {300, 225, 4}, {75, 56, 16}}, 128, {"thumbnail=64,48"});
  return script;
}

// Points the library at the OpenSlide stand-in and scripts it, for an open.
class ScriptedStandin {
 public:
  explicit ScriptedStandin(const std::string& script)
      : module_(platform::LoadModule(STANDIN_OPENSLIDE)),
        library_("STRATA_OPENSLIDE_LIBRARY", STANDIN_OPENSLIDE) {
    using ScriptFunction = void (*)(const char*);
    const auto set =
        reinterpret_cast<ScriptFunction>(platform::FindSymbol(module_, "openslide_standin_script"));
    EXPECT_NE(set, nullptr);
    if (set != nullptr) set(script.c_str());
  }

 private:
  platform::ModuleHandle module_;
  ScopedEnvironment library_;
};

// The route's settings, for as long as a slide is opened or detected.
struct RouteSettings {
  explicit RouteSettings(const SlideCase& c) {
    if (c.route == Route::kOpenSlideFallback) {
      nativeOff = std::make_unique<ScopedEnvironment>("STRATA_NATIVE_TIFF", "0");
    } else if (c.route == Route::kOpenSlideStandin) {
      standin = std::make_unique<ScriptedStandin>(c.name == "mrxs-standin" ? MrxsScript()
                                                                           : BifScript());
    } else if (c.route == Route::kBridgeStandin) {
      UseStandinLibraries();
    }
  }
  std::unique_ptr<ScopedEnvironment> nativeOff;
  std::unique_ptr<ScriptedStandin> standin;
};

const std::vector<std::string> kZtxKeys = {"ztx.version", "ztx.scan-scale", "ztx.block-size",
                                           "ztx.tile-count"};
const std::vector<std::string> kZtxImages = {"label", "macro", "thumbnail"};
const std::vector<std::string> kSvsKeys = {"aperio.AppMag", "aperio.MPP", "tiff.Make",
                                           "openslide.mpp-x", "openslide.objective-power"};
// The bridges report no keys of their own: the common ones come from the facts.
const std::vector<std::string> kBridgeKeys = {"openslide.objective-power", "openslide.mpp-x"};
const std::vector<std::string> kBridgeImages = {"label", "macro", "thumbnail"};
constexpr double kJpegTolerance = 2.5;
const char* const kStandinPaints =
    "the stand-in paints every position, inside the slide or not";
const char* const kTmapWindow =
    "the TMAP adapter asks the SDK for one fixed 100 x 100 window, whatever the tile";

// Window (levelX, levelY, w, h) of a level image, transparent outside it.
Rgba Window(const Rgba& level, std::int64_t width, std::int64_t height, std::int64_t left,
            std::int64_t top, int w, int h) {
  Rgba out(static_cast<std::size_t>(w) * h * 4, 0);
  for (int j = 0; j < h; ++j) {
    const std::int64_t y = top + j;
    if (y < 0 || y >= height) continue;
    for (int i = 0; i < w; ++i) {
      const std::int64_t x = left + i;
      if (x < 0 || x >= width) continue;
      std::memcpy(&out[(static_cast<std::size_t>(j) * w + i) * 4],
                  &level[(static_cast<std::size_t>(y) * width + x) * 4], 4);
    }
  }
  return out;
}

Rgba Opaque(const std::vector<unsigned char>& rgb) {
  Rgba rgba;
  rgba.reserve(rgb.size() / 3 * 4);
  for (std::size_t n = 0; n < rgb.size(); n += 3) {
    rgba.insert(rgba.end(), {rgb[n], rgb[n + 1], rgb[n + 2], 255});
  }
  return rgba;
}

// What Debian's OpenSlide paints, unpremultiplied as its Python binding does.
Rgba OpenSlideRegion(const std::string& path, int level, std::int64_t x, std::int64_t y, int w,
                     int h) {
  const ReferenceSlide reference(path);
  EXPECT_TRUE(reference.ok()) << path;
  Rgba rgba;
  for (const std::uint32_t pixel : reference.Argb(level, x, y, w, h)) {
    const std::uint32_t a = pixel >> 24;
    for (const int shift : {16, 8, 0}) {
      const std::uint32_t premultiplied = (pixel >> shift) & 0xFF;
      rgba.push_back(static_cast<unsigned char>(a == 0 ? 0 : premultiplied * 255 / a));
    }
    rgba.push_back(static_cast<unsigned char>(a));
  }
  return rgba;
}

// The stand-in's colours of level-0 position (X, Y): red (3X + Y) % 251,
// green (X + 5Y) % 253, blue 40 * level + 7.
Rgba StandinRegion(const SlideLevel& info, int level, std::int64_t x, std::int64_t y, int w,
                   int h) {
  Rgba rgba;
  for (int j = 0; j < h; ++j) {
    const std::int64_t levelY = y + static_cast<std::int64_t>(j * info.downsample);
    for (int i = 0; i < w; ++i) {
      const std::int64_t levelX = x + static_cast<std::int64_t>(i * info.downsample);
      rgba.insert(rgba.end(), {static_cast<unsigned char>((3 * levelX + levelY) % 251),
                               static_cast<unsigned char>((levelX + 5 * levelY) % 253),
                               static_cast<unsigned char>(40 * level + 7), 255});
    }
  }
  return rgba;
}

const standin::SlideFacts& BridgeSlide(const SlideCase& c) {
  return c.name == "dmetrix" ? standin::kDmetrixSlide : standin::kMoticSlide;
}

// A whole level of the row's written picture, RGBA.
Rgba WrittenLevel(const SlideCase& c, const Slide& slide, int level) {
  const SlideLevel& info = slide.Levels()[static_cast<std::size_t>(level)];
  switch (c.reference) {
    case Reference::kWrittenPyramid: {
      int w = 0, h = 0;
      const Rgba rgba = Opaque(ExpectedLevelImage(static_cast<int>(slide.Facts().width),
                                                  static_cast<int>(slide.Facts().height), level,
                                                  &w, &h));
      EXPECT_EQ(w, info.width);
      EXPECT_EQ(h, info.height);
      return rgba;
    }
    case Reference::kWrittenDicom:
      return ExpectedLevelRgba(Dicom(), static_cast<std::size_t>(level));
    case Reference::kBridgePattern:
      return Opaque(standin::LevelWindow(BridgeSlide(c), static_cast<int>(info.downsample), 0, 0,
                                         static_cast<int>(info.width),
                                         static_cast<int>(info.height)));
    default:
      return {};
  }
}

Image RgbImage(int width, int height, std::vector<unsigned char> pixels) {
  Image image;
  image.width = width;
  image.height = height;
  image.channels = 3;
  image.pixels.assign(pixels.begin(), pixels.end());
  return image;
}

Image DecodedJpeg(const std::vector<unsigned char>& stream) {
  int w = 0, h = 0;
  const PixelBuffer pixels(DecodeJpeg(stream.data(), static_cast<int>(stream.size()), w, h));
  if (pixels == nullptr) return {};
  return RgbImage(w, h, std::vector<unsigned char>(pixels.get(), pixels.get() + w * h * 3));
}

}  // namespace

const std::vector<SlideCase>& SlideCases() {
  static const std::vector<SlideCase> cases = {
      {"ztx-1.0", Ztx10, Route::kDirect, "ztx", "ztx", kZtxKeys, kZtxImages, "",
       Reference::kWrittenPyramid, kJpegTolerance},
      {"ztx-1.3", Ztx13, Route::kDirect, "ztx", "ztx", kZtxKeys, kZtxImages, "",
       Reference::kWrittenPyramid, kJpegTolerance},
      {"ztx-2.0", Ztx20, Route::kDirect, "ztx", "ztx", kZtxKeys, kZtxImages, "",
       Reference::kWrittenPyramid, kJpegTolerance},
      {"ztx-compressed-index", ZtxCompressedIndex, Route::kDirect, "ztx", "ztx", kZtxKeys,
       kZtxImages, "", Reference::kWrittenPyramid, kJpegTolerance},
      {"ztx-bmp", ZtxBmp, Route::kDirect, "ztx", "ztx", kZtxKeys, kZtxImages, "",
       Reference::kWrittenPyramid},
      {"ztx-http", ZtxOverHttp, Route::kDirect, "ztx", "ztx", kZtxKeys, kZtxImages, "",
       Reference::kWrittenPyramid, kJpegTolerance},
      {"svs-native", Svs, Route::kDirect, "aperio", "aperio", kSvsKeys, {"label", "macro", "thumbnail"},
       SvsRecipe().options.iccProfile, Reference::kOpenSlide},
      {"svs-openslide", Svs, Route::kOpenSlideFallback, "aperio", "aperio", kSvsKeys,
       {"label", "macro", "thumbnail"}, SvsRecipe().options.iccProfile, Reference::kOpenSlide},
      {"ndpi-openslide", Ndpi, Route::kDirect, "hamamatsu", "hamamatsu",
       {"hamamatsu.SourceLens", "openslide.objective-power"}, {"macro"}, "",
       Reference::kOpenSlide},
      {"generic-tiff-native", GenericTiff, Route::kDirect, "generic-tiff", "generic-tiff",
       {"tiff.ResolutionUnit"}, {}, "", Reference::kOpenSlide},
      {"generic-tiff-openslide", GenericTiff, Route::kOpenSlideFallback, "generic-tiff",
       "generic-tiff", {"tiff.ResolutionUnit"}, {}, "", Reference::kOpenSlide},
      {"mrxs-standin", StandinMrxs, Route::kOpenSlideStandin, "mirax", "",
       {"mirax.GENERAL.SLIDE_VERSION", "openslide.bounds-x", "openslide.background-color"},
       {"label", "macro"}, "", Reference::kOpenSlideStandin, 0, nullptr, kStandinPaints},
      {"bif-standin", StandinBif, Route::kOpenSlideStandin, "ventana", "",
       {"ventana.ScanRes", "openslide.objective-power"}, {"thumbnail"}, "",
       Reference::kOpenSlideStandin, 0, nullptr, kStandinPaints},
      {"dmetrix", Dmetrix, Route::kBridgeStandin, "dmetrix", "", kBridgeKeys, kBridgeImages, "",
       Reference::kBridgePattern},
      {"motic", Motic, Route::kBridgeStandin, "motic", "", kBridgeKeys, kBridgeImages, "",
       Reference::kBridgePattern},
      {"tmap", Tmap, Route::kBridgeStandin, "tmap", "", {"openslide.objective-power"}, {}, "",
       Reference::kNone, 0, kTmapWindow},
      {"dicom", DicomFolder, Route::kDirect, "dicom", "dicom", {"dicom.PatientName"},
       {"label", "macro", "thumbnail"}, DicomSlideRecipe{}.iccProfile, Reference::kWrittenDicom},
  };
  return cases;
}

std::unique_ptr<Slide> OpenCase(const SlideCase& c) {
  const std::string location = c.make();
  const RouteSettings settings(c);
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(location, &slide);
  EXPECT_TRUE(opened.ok()) << c.name << ": " << opened.message();
  return slide;
}

std::string DetectCase(const SlideCase& c) {
  const std::string location = c.make();
  const RouteSettings settings(c);
  return Slide::DetectFormat(location);
}

Rgba ExpectedRegion(const SlideCase& c, const Slide& slide, int level, std::int64_t x,
                    std::int64_t y, int w, int h) {
  const SlideLevel& info = slide.Levels()[static_cast<std::size_t>(level)];
  switch (c.reference) {
    case Reference::kOpenSlide:
      return OpenSlideRegion(c.make(), level, x, y, w, h);
    case Reference::kOpenSlideStandin:
      return StandinRegion(info, level, x, y, w, h);
    case Reference::kNone:
      return {};
    default:
      // Levels of these rows are whole powers of two apart.
      return Window(WrittenLevel(c, slide, level), info.width, info.height,
                    static_cast<std::int64_t>(std::floor(x / info.downsample)),
                    static_cast<std::int64_t>(std::floor(y / info.downsample)), w, h);
  }
}

Image ExpectedAssociatedImage(const SlideCase& c, const std::string& name) {
  switch (c.reference) {
    case Reference::kOpenSlide:
      return ReferenceSlide(c.make()).AssociatedImage(name);
    case Reference::kOpenSlideStandin: {
      // One colour: blue 20 per letter of the name.
      const std::string script = c.name == "mrxs-standin" ? MrxsScript() : BifScript();
      const std::size_t at = script.find("image." + name + "=");
      int w = 0, h = 0;
      std::sscanf(script.c_str() + at + name.size() + 7, "%d,%d", &w, &h);
      std::vector<unsigned char> rgb;
      for (int n = 0; n < w * h; ++n) {
        rgb.insert(rgb.end(), {0, 0, static_cast<unsigned char>(name.size() * 20)});
      }
      return RgbImage(w, h, rgb);
    }
    case Reference::kBridgePattern: {
      // The DMETRIX adapter shows white 256 x 256 labels and composes its
      // thumbnail; the MDS bridge hands out its own pictures.
      if (c.name == "dmetrix") {
        return name == "thumbnail" ? Image{}
                                   : RgbImage(256, 256, std::vector<unsigned char>(256 * 256 * 3, 255));
      }
      const int kind = name == "label" ? 0 : name == "macro" ? 1 : 2;
      const int w = standin::kAssociatedSizes[kind][0];
      const int h = standin::kAssociatedSizes[kind][1];
      std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
      for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
          standin::AssociatedPixel(kind, i, j, &rgb[(static_cast<std::size_t>(j) * w + i) * 3]);
        }
      }
      return RgbImage(w, h, rgb);
    }
    case Reference::kWrittenPyramid:
      if (name == "label") return DecodedJpeg(MakeLabelImage().stream);
      if (name == "macro") return DecodedJpeg(MakePreviewImage().stream);
      return {};
    case Reference::kWrittenDicom:
      if (name == "label") return RgbImage(Dicom().labelWidth, Dicom().labelHeight, Dicom().label);
      return {};
    default:
      return {};
  }
}

std::vector<SlideLevel> ReferenceLevels(const SlideCase& c) {
  return ReferenceSlide(c.make()).Levels();
}

std::map<std::string, std::string> ReferenceProperties(const SlideCase& c) {
  return ReferenceSlide(c.make()).Properties();
}

}  // namespace strata::test
