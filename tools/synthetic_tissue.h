// A synthetic stained-tissue slide: pink and purple stained regions with
// nuclei on near-white glass, deterministic for a seed. Tiles of it compress
// like real scans (tens of KB per 256-pixel JPEG tile at quality 90).
#ifndef STRATA_TOOLS_SYNTHETIC_TISSUE_H_
#define STRATA_TOOLS_SYNTHETIC_TISSUE_H_

#include <cstdint>
#include <vector>

namespace strata::tools {

class SyntheticTissue {
 public:
  SyntheticTissue(int width, int height, std::uint32_t seed);

  int width() const { return width_; }
  int height() const { return height_; }

  // Fills `rows` rows from `top` at full detail (width * 3 RGB bytes each),
  // on every processor.
  bool FillRows(int top, int rows, unsigned char* rgb) const;

  // The whole slide at a reduced size, without per-pixel detail.
  std::vector<unsigned char> Overview(int width, int height) const;

 private:
  struct Stain {
    double tissue;  // 0 glass .. 1 tissue
    double purple;  // 0 eosin pink .. 1 haematoxylin purple
  };

  // `fine` adds the smallest stain variation, which an overview cannot show.
  Stain StainAt(double x, double y, bool fine = true) const;
  void FillRow(int y, unsigned char* rgb) const;
  void Shade(const Stain& stain, int noise, unsigned char* rgb) const;
  double NucleusCover(int x, int y, double tissue) const;

  int width_;
  int height_;
  std::uint32_t seed_;
};

// A slide-label picture: a white card with a barcode and a coloured block,
// drawn from the seed.
std::vector<unsigned char> RenderLabelPicture(int width, int height, std::uint32_t seed);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_SYNTHETIC_TISSUE_H_
