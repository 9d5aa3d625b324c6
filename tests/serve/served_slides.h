// The slides every serve test shares, written once per test program, and
// one server over them:
//   odd.ztx      1001 x 703, JPEG tiles, stored levels down to 251 x 176,
//                scanned at kScanTime
//   aperio.svs   1000 x 700 Aperio SVS (levels 1000 x 700 and 250 x 175, no
//                scan date) of the SVS writer's test pattern
//   mode1.ztx    1500 x 900, level mode 1 (half scale composed by the reader)
//   bmp.ztx      600 x 400, BMP tiles and BMP thumbnail
//   damaged.ztx  1000 x 700, the scan-level tile (256, 256) overwritten
//   g*.ztx       slides of odd sizes for the Deep Zoom geometry
//   shelf/       a served folder: deep/inner.ztx, notes.txt and escape.ztx,
//                a symbolic link to odd.ztx outside the folder
#ifndef STRATA_TESTS_SERVE_SERVED_SLIDES_H_
#define STRATA_TESTS_SERVE_SERVED_SLIDES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serve/serve_process.h"
#include "strata/strata.h"
#include "support/test_files.h"

namespace strata::test {

struct SizedSlide {
  std::string name;
  int width;
  int height;
};

class ServedSlides {
 public:
  static ServedSlides& Get();

  const TempDir& dir() const { return dir_; }
  ServeProcess& server() { return *server_; }
  int port() const { return server_->port(); }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  static const std::vector<SizedSlide>& GeometrySlides();
  static constexpr std::int64_t kScanTime = 1700000000;
  // The tile position DamagedSlide has overwritten, at its scan scale.
  static constexpr int kDamagedX = 256;
  static constexpr int kDamagedY = 256;

 private:
  ServedSlides();
  TempDir dir_;
  std::unique_ptr<ServeProcess> server_;
};

// Open slide through the C interface for the test's own expectations.
class LibrarySlide {
 public:
  explicit LibrarySlide(const std::string& path);
  ~LibrarySlide();
  bool open() const { return handle_.slide != nullptr; }
  // Stored tile bytes, empty when none.
  std::string StoredTile(float scale, int x, int y);
  // Region as JPEG (encode) or RGB pixels.
  std::string Region(float scale, int x, int y, int width, int height, bool encode);
  std::string Label();

 private:
  IMAGE_INFO_STRUCT handle_{};
};

// The server's address of a Deep Zoom tile of `slide`.
std::string TileTarget(const std::string& slide, int level, int column, int row);

// Decoded RGB pixels of a JPEG, empty when it does not decode.
std::vector<unsigned char> DecodeJpegBytes(const std::string& jpeg, int* width, int* height);

// The mean absolute difference of two pixel arrays of one size (255 when
// their sizes differ).
double MeanDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b);

}  // namespace strata::test

#endif  // STRATA_TESTS_SERVE_SERVED_SLIDES_H_
