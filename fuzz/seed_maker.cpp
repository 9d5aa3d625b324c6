// Writes the seed corpora of every fuzz target with the project's own ZTX
// writer: small slides of every version, plain and compressed, JPEG and BMP,
// multi-channel and with skipped levels, and the streams and responses cut
// from them. Usage: fuzz_seed_maker OUTPUT_FOLDER
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/ztx/ztx_writer.h"
#include "tools/svs_writer.h"

namespace {

using Bytes = std::vector<unsigned char>;
using strata::ztx::ZtxLayout;
using strata::ztx::ZtxWriterOptions;

// Small enough for fast runs, large enough for several levels of tiles.
constexpr int kJpegWidth = 128;
constexpr int kJpegHeight = 96;
constexpr int kBmpWidth = 64;
constexpr int kBmpHeight = 48;
constexpr std::size_t kMaxExportsSeed = 1u << 16;

Bytes Pixels(int width, int height) {
  Bytes pixels(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<unsigned char>(i * 7 % 251);
  return pixels;
}

Bytes Jpeg(int width, int height, int components) {
  const Bytes pixels = Pixels(width, height);
  unsigned char* stream = nullptr;
  int length = 0;
  if (!strata::EncodeJpegWithQuality(pixels.data(), width, height, components, 50, &stream,
                                     length)) {
    return {};
  }
  Bytes bytes(stream, stream + length);
  strata::ReleaseBuffer(stream);
  return bytes;
}

Bytes Bmp(int width, int height) {
  const Bytes pixels = Pixels(width, height);
  unsigned char* stream = nullptr;
  int length = 0;
  if (!strata::EncodeBmp24(pixels.data(), width, height, &stream, length)) return {};
  Bytes bytes(stream, stream + length);
  strata::ReleaseBuffer(stream);
  return bytes;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Save(const std::string& folder, const std::string& name, const Bytes& bytes) {
  mkdir(folder.c_str(), 0755);
  std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

struct SlideSeed {
  std::string name;
  ZtxWriterOptions options;
};

std::vector<SlideSeed> SlideSeeds() {
  std::vector<SlideSeed> seeds;
  for (float version : {1.0f, 1.1f, 1.2f, 1.3f, 1.7f, 2.0f}) {
    for (int variant = 0; variant < 4; ++variant) {
      const bool compressed = variant & 1;
      const bool bmp = variant & 2;
      if (version < 1.05f && (compressed || bmp)) continue;  // 68-byte entries, 256 tiles
      ZtxWriterOptions options;
      options.version = version;
      options.compressIndex = compressed;
      options.encoding = bmp ? strata::ztx::TileEncoding::kBmp : strata::ztx::TileEncoding::kJpeg;
      options.jpegQuality = 40;
      options.blockSize = version < 1.05f ? 256 : (bmp ? 16 : 64);
      options.smallestLevel = options.blockSize;
      options.threads = 1;
      options.label = {Jpeg(24, 12, 3), 24, 12, true};
      options.preview = {Jpeg(32, 16, 3), 32, 16, true};
      if (version > 1.05f) options.thumbnail = {Jpeg(25, 19, 3), 25, 19, true};
      if (version > 1.15f) {
        options.items = {strata::ztx::PropertyItem::Text(1, "SN-1"),
                         strata::ztx::PropertyItem::Int(33, 0)};
      }
      char name[64];
      std::snprintf(name, sizeof name, "v%.1f%s%s.ztx", static_cast<double>(version),
                    compressed ? "-compressed" : "", bmp ? "-bmp" : "");
      seeds.push_back({name, options});
    }
  }
  ZtxWriterOptions plain13;
  for (const SlideSeed& seed : seeds) {
    if (seed.name == "v1.3.ztx") plain13 = seed.options;
  }
  SlideSeed channels{"channels.ztx", plain13};
  channels.options.channelCount = 3;
  seeds.push_back(channels);
  SlideSeed skipped{"skipped-levels.ztx", plain13};
  skipped.options.items = {strata::ztx::PropertyItem::Int(33, 1)};
  skipped.options.levelMode = 1;
  seeds.push_back(skipped);
  return seeds;
}

Bytes Prefixed(std::initializer_list<unsigned char> prefix, const Bytes& bytes) {
  Bytes out(prefix);
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

void WriteHttpSeeds(const std::string& folder) {
  const std::string body(100, 'z');
  const std::vector<std::string> responses = {
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/1000\r\nContent-Length: "
      "100\r\n\r\n" +
          body,
      "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + body,
      "HTTP/1.1 206 Partial Content\r\nContent-Length: 50\r\n\r\n" + body.substr(0, 50),
      "HTTP/1.1 206 Partial Content\r\nTransfer-Encoding: chunked\r\n\r\n64\r\n" + body +
          "\r\n0\r\n\r\n",
      "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 503 Service Unavailable\r\n\r\n",
      "HTTP/1.0 206 Partial Content\r\n\r\n" + body + body,
      "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/other.ztx\r\nContent-Length: 0\r\n\r\n"};
  int index = 0;
  for (const std::string& response : responses) {
    Save(folder, "response-" + std::to_string(index++), Prefixed({0, 0, 0, 100}, Text(response)));
  }
}

}  // namespace

// Small SVS and pyramidal TIFF files in every tile coding the native reader
// reads, classic and BigTIFF.
bool WriteTiffSeeds(const std::string& folder, const std::string& scratch) {
  using strata::tools::SvsTileCoding;
  struct TiffSeed {
    const char* name;
    SvsTileCoding coding;
    bool aperio;
    bool big;
  };
  const TiffSeed seeds[] = {{"ycbcr.svs", SvsTileCoding::kJpegYcbcr, true, false},
                            {"rgb-jpeg.tif", SvsTileCoding::kJpegRgb, false, true},
                            {"deflate.tif", SvsTileCoding::kDeflate, false, false},
                            {"lzw.svs", SvsTileCoding::kLzw, true, true},
                            {"raw.tif", SvsTileCoding::kUncompressed, false, false}};
  for (const TiffSeed& seed : seeds) {
    strata::tools::SvsOptions options;
    options.width = 100;
    options.height = 70;
    options.tileSize = 32;
    options.quality = 50;
    options.coding = seed.coding;
    options.aperioDescription = seed.aperio;
    options.bigTiff = seed.big;
    options.horizontalPredictor = seed.coding == SvsTileCoding::kDeflate;
    options.thumbnailSide = 24;
    options.label = strata::tools::FramedPicture(20, 12, 200, 180, 40);
    std::string error;
    if (!strata::tools::WriteSvs(scratch, options, strata::tools::FillSvsTestPattern, &error)) {
      std::fprintf(stderr, "fuzz_seed_maker: %s: %s\n", seed.name, error.c_str());
      return false;
    }
    Save(folder, seed.name, ReadAll(scratch));
  }
  std::remove(scratch.c_str());
  return true;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_maker OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string root = argv[1];
  mkdir(root.c_str(), 0755);
  const std::string scratch = root + "/scratch.ztx";
  for (const SlideSeed& seed : SlideSeeds()) {
    ZtxLayout layout;
    std::string error;
    const bool bmp = seed.options.encoding == strata::ztx::TileEncoding::kBmp;
    const int width = bmp ? kBmpWidth : kJpegWidth;
    const int height = bmp ? kBmpHeight : kJpegHeight;
    const Bytes pixels = Pixels(width, height);
    if (!strata::ztx::ZtxWriter(seed.options)
             .WritePixels(scratch, width, height, pixels.data(), &error, &layout)) {
      std::fprintf(stderr, "fuzz_seed_maker: %s: %s\n", seed.name.c_str(), error.c_str());
      return 1;
    }
    const Bytes file = ReadAll(scratch);
    for (const char* target : {"header", "index", "sections"})
      Save(root + "/" + target, seed.name, file);
    if (file.size() <= kMaxExportsSeed) Save(root + "/exports", seed.name, file);
    const strata::ztx::WrittenTile& tile = layout.tiles.front();
    const auto start = file.begin() + layout.indexOffset + tile.offset;
    const Bytes stream(start, start + tile.length);
    if (seed.options.channelCount > 0) {
      Save(root + "/channel_streams", seed.name, Prefixed({0x07}, stream));
      Save(root + "/channel_streams", seed.name + "-two", Prefixed({0x12}, stream));
    } else if (seed.options.encoding == strata::ztx::TileEncoding::kBmp) {
      Save(root + "/bmp", seed.name, stream);
    } else {
      Save(root + "/jpeg", seed.name, stream);
    }
  }
  std::remove(scratch.c_str());
  Save(root + "/jpeg", "grey.jpg", Jpeg(40, 24, 1));
  Save(root + "/jpeg", "colour64.jpg", Jpeg(64, 64, 3));
  Save(root + "/bmp", "small.bmp", Bmp(7, 5));
  Save(root + "/channel_streams", "grey-pair", Prefixed({0x03}, [] {
         Bytes two = Jpeg(16, 16, 1);
         const Bytes second = Jpeg(16, 16, 1);
         two.insert(two.end(), second.begin(), second.end());
         return two;
       }()));
  WriteHttpSeeds(root + "/http_response");
  return WriteTiffSeeds(root + "/tiff", root + "/scratch.svs") ? 0 : 1;
}
