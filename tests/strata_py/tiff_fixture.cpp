// Writes the TIFF-based fixture slides of the strata package tests with the
// tools' writers: an Aperio SVS, a Hamamatsu NDPI, or a plain tiled TIFF
// (no objective power), all of the writers' test pattern; optionally with
// an ICC profile in the first directory, or with one tile made unreadable.
//
// usage: tiff_fixture svs|ndpi|tiff OUT WIDTH HEIGHT [options]
//   --level-factor F   each level F times smaller (default 4)
//   --tile N           tile edge (svs, tiff; default 256)
//   --images           label and macro images (svs)
//   --icc FILE         the bytes of FILE as the first directory's ICC profile
//   --damage-tile N    tile N of level 0 no longer decodes (svs, tiff)
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/ndpi_writer.h"
#include "tools/svs_writer.h"

namespace {

using strata::tools::FillSvsTestPattern;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "tiff_fixture: %s\n", why.c_str());
  std::exit(1);
}

struct Arguments {
  std::string kind;
  std::string path;
  int width = 0;
  int height = 0;
  int levelFactor = 4;
  int tile = 256;
  bool images = false;
  std::string icc;
  int damagedTile = -1;
};

Arguments Parse(int argc, char** argv) {
  if (argc < 5) Fail("usage: tiff_fixture svs|ndpi|tiff OUT WIDTH HEIGHT [options]");
  Arguments a;
  a.kind = argv[1];
  a.path = argv[2];
  a.width = std::atoi(argv[3]);
  a.height = std::atoi(argv[4]);
  for (int i = 5; i < argc; ++i) {
    const std::string option = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(option + " wants a value");
      return argv[++i];
    };
    if (option == "--level-factor") {
      a.levelFactor = std::atoi(value().c_str());
    } else if (option == "--tile") {
      a.tile = std::atoi(value().c_str());
    } else if (option == "--images") {
      a.images = true;
    } else if (option == "--icc") {
      a.icc = value();
    } else if (option == "--damage-tile") {
      a.damagedTile = std::atoi(value().c_str());
    } else {
      Fail("unknown option " + option);
    }
  }
  return a;
}

void Write(const Arguments& a) {
  std::string error;
  if (a.kind == "ndpi") {
    strata::tools::NdpiOptions options;
    options.width = a.width;
    options.height = a.height;
    options.levelFactor = a.levelFactor;
    if (!strata::tools::WriteNdpi(a.path, options, FillSvsTestPattern, &error)) Fail(error);
    return;
  }
  if (a.kind != "svs" && a.kind != "tiff") Fail("unknown kind " + a.kind);
  strata::tools::SvsOptions options;
  options.width = a.width;
  options.height = a.height;
  options.levelFactor = a.levelFactor;
  options.tileSize = a.tile;
  if (a.kind == "tiff") {
    options.aperioDescription = false;
    options.appMag.clear();
    options.mpp.clear();
    options.thumbnailSide = 0;
  }
  if (a.images) {
    options.label = strata::tools::FramedPicture(300, 150, 235, 225, 140);
    options.macro = strata::tools::FramedPicture(500, 180, 150, 110, 170);
  }
  if (!strata::tools::WriteSvs(a.path, options, FillSvsTestPattern, &error)) Fail(error);
}

// libtiff rewrites the first directory, with the profile, at the file's end.
void AddProfile(const std::string& path, const std::string& profileFile) {
  std::ifstream in(profileFile, std::ios::binary);
  const std::vector<char> profile((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (profile.empty()) Fail("no profile in " + profileFile);
  TIFF* tiff = TIFFOpen(path.c_str(), "r+");
  if (tiff == nullptr) Fail("cannot reopen " + path);
  const bool written =
      TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(profile.size()),
                   profile.data()) == 1 &&
      TIFFRewriteDirectory(tiff) == 1;
  TIFFClose(tiff);
  if (!written) Fail("cannot add the profile to " + path);
}

// The tile's first bytes (its JPEG start marker) become zeros.
void DamageTile(const std::string& path, int tile) {
  std::uint64_t offset = 0, size = 0;
  if (!strata::tools::FindTiffTile(path, 0, tile, offset, size) || size < 4) {
    Fail("no tile " + std::to_string(tile) + " in " + path);
  }
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(offset));
  const char zeros[4] = {0, 0, 0, 0};
  file.write(zeros, sizeof zeros);
  if (!file) Fail("cannot damage " + path);
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments a = Parse(argc, argv);
  Write(a);
  if (!a.icc.empty()) AddProfile(a.path, a.icc);
  if (a.damagedTile >= 0) DamageTile(a.path, a.damagedTile);
  return 0;
}
