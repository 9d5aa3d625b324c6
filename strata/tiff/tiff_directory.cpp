#include "strata/tiff/tiff_directory.h"

#include <cstring>

namespace strata::tiff {

const char* const kTextFieldNames[9] = {"ImageDescription", "Make",         "Model",
                                        "Software",         "DateTime",     "Artist",
                                        "HostComputer",     "Copyright",    "DocumentName"};

namespace {

const ttag_t kTextFieldTags[9] = {TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,        TIFFTAG_MODEL,
                                  TIFFTAG_SOFTWARE,         TIFFTAG_DATETIME,    TIFFTAG_ARTIST,
                                  TIFFTAG_HOSTCOMPUTER,     TIFFTAG_COPYRIGHT,   TIFFTAG_DOCUMENTNAME};

std::string Where(const TiffDirectory& directory) {
  return "TIFF directory " + std::to_string(directory.index);
}

// A counted binary field (JPEGTables, ICC profile) as bytes.
std::string BinaryField(TIFF* tiff, ttag_t tag) {
  std::uint32_t count = 0;
  void* data = nullptr;
  if (TIFFGetField(tiff, tag, &count, &data) != 1 || data == nullptr) return std::string();
  return std::string(static_cast<const char*>(data), count);
}

void ReadTexts(TIFF* tiff, TiffDirectory& directory) {
  for (int n = 0; n < 9; ++n) {
    const char* text = nullptr;
    if (TIFFGetField(tiff, kTextFieldTags[n], &text) == 1 && text != nullptr) {
      directory.texts[kTextFieldNames[n]] = text;
    }
  }
  const auto found = directory.texts.find("ImageDescription");
  if (found != directory.texts.end()) directory.description = found->second;
  float number = 0;
  if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &number) == 1) directory.xResolution = number;
  if (TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &number) == 1) directory.yResolution = number;
  if (TIFFGetField(tiff, TIFFTAG_XPOSITION, &number) == 1) directory.xPosition = number;
  if (TIFFGetField(tiff, TIFFTAG_YPOSITION, &number) == 1) directory.yPosition = number;
  // The unit is reported with libtiff's default (inches) when absent.
  std::uint16_t unit = 0;
  if (TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit) == 1) {
    directory.resolutionUnit = unit;
  }
}

void ReadSampleLayout(TIFF* tiff, TiffDirectory& directory) {
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &directory.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &directory.height);
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &directory.compression);
  directory.hasPhotometric = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &directory.photometric) == 1;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &directory.bitsPerSample);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &directory.samplesPerPixel);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &directory.planarConfig);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &directory.sampleFormat);
  std::uint16_t extraCount = 0;
  std::uint16_t* extra = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1) {
    directory.extraSamples = extraCount;
  }
  // Only the LZW and deflate codecs know the predictor field.
  const std::uint16_t c = directory.compression;
  if (c == COMPRESSION_LZW || c == COMPRESSION_ADOBE_DEFLATE || c == COMPRESSION_DEFLATE) {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PREDICTOR, &directory.predictor);
  }
  directory.codecConfigured = TIFFIsCODECConfigured(c) != 0;
  std::uint32_t subfile = 0;
  if (TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfile) == 1) directory.subfileType = subfile;
  std::uint32_t xmpCount = 0;
  void* xmp = nullptr;
  directory.hasXmp = TIFFGetField(tiff, TIFFTAG_XMLPACKET, &xmpCount, &xmp) == 1 && xmpCount > 0;
  if (c == COMPRESSION_JPEG) directory.jpegTables = BinaryField(tiff, TIFFTAG_JPEGTABLES);
  directory.iccProfile = BinaryField(tiff, TIFFTAG_ICCPROFILE);
}

Status ReadTileTable(TiffClient& client, TiffDirectory& directory) {
  TIFF* tiff = client.Handle();
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &directory.tileWidth);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &directory.tileHeight);
  if (directory.tileWidth == 0 || directory.tileHeight == 0 ||
      directory.tileWidth > kMaxTileSide || directory.tileHeight > kMaxTileSide) {
    return Status::Damaged(Where(directory) + " has tiles of " +
                           std::to_string(directory.tileWidth) + " x " +
                           std::to_string(directory.tileHeight) + " pixels");
  }
  const std::uint64_t tiles = directory.TilesAcross() * directory.TilesDown();
  if (tiles == 0 || tiles > kMaxTilesPerImage) {
    return Status::Damaged(Where(directory) + " claims " + std::to_string(tiles) + " tiles");
  }
  // Every tile needs an offset and a byte count of at least 4 bytes each.
  if (client.SourceSize() >= 0 && tiles * 8 > static_cast<std::uint64_t>(client.SourceSize())) {
    return Status::Damaged(Where(directory) + " claims " + std::to_string(tiles) +
                           " tiles, more than the file can hold");
  }
  if (TIFFNumberOfTiles(tiff) != tiles) {
    return Status::Damaged(Where(directory) + ": libtiff counts " +
                           std::to_string(TIFFNumberOfTiles(tiff)) + " tiles, not " +
                           std::to_string(tiles));
  }
  std::uint64_t* offsets = nullptr;
  std::uint64_t* counts = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_TILEOFFSETS, &offsets) != 1 ||
      TIFFGetField(tiff, TIFFTAG_TILEBYTECOUNTS, &counts) != 1 || offsets == nullptr ||
      counts == nullptr) {
    return Status::Damaged(Where(directory) + " has no readable tile offsets or byte counts" +
                           (client.LastError().empty() ? "" : ": " + client.LastError()));
  }
  directory.tileOffsets.assign(offsets, offsets + tiles);
  directory.tileByteCounts.assign(counts, counts + tiles);
  return Status::Ok();
}

}  // namespace

Status ReadTiffDirectories(TiffClient& client, std::vector<TiffDirectory>* directories) {
  directories->clear();
  TIFF* tiff = client.Handle();
  client.ClearError();
  if (!TIFFSetDirectory(tiff, 0)) {
    return Status::Damaged("the first TIFF directory cannot be read: " + client.LastError());
  }
  std::uint64_t tiles = 0;
  do {
    if (static_cast<int>(directories->size()) >= kMaxDirectories) {
      return Status::Damaged("more than " + std::to_string(kMaxDirectories) +
                             " TIFF directories");
    }
    TiffDirectory directory;
    directory.index = static_cast<int>(directories->size());
    ReadSampleLayout(tiff, directory);
    ReadTexts(tiff, directory);
    directory.tiled = TIFFIsTiled(tiff) != 0;
    if (directory.tiled) {
      const Status table = ReadTileTable(client, directory);
      if (!table.ok()) return table;
      // Directories may share one table: the copies are what is bounded.
      tiles += directory.tileOffsets.size();
      if (tiles > kMaxTilesPerFile) {
        return Status::Damaged("the TIFF directories claim more than " +
                               std::to_string(kMaxTilesPerFile) + " tiles in all");
      }
    }
    if (!client.LastError().empty()) {
      return Status::Damaged(Where(directory) + ": " + client.LastError());
    }
    directories->push_back(std::move(directory));
  } while (TIFFReadDirectory(tiff));
  // The chain ends quietly; anything libtiff complained about is damage,
  // and so is a chain that goes on where libtiff stopped (a loop).
  if (!client.LastError().empty()) {
    return Status::Damaged("TIFF directory " + std::to_string(directories->size()) + ": " +
                           client.LastError());
  }
  if (!TIFFLastDirectory(tiff)) {
    return Status::Damaged("the chain of TIFF directories loops or breaks after directory " +
                           std::to_string(directories->size() - 1));
  }
  return Status::Ok();
}

}  // namespace strata::tiff
