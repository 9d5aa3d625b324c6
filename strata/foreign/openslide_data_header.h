// The header facts of a slide read through OpenSlide: its size (of level 0,
// of the scanned bounds, or of its one region), its objective power as the
// scan scale, its levels and the properties that shift and colour reads.
//
// Everything is read once by Build() and checked there: a negative or absurd
// size, bounds or region offset and a property that does not parse as a
// number fail the build instead of reaching a buffer. Afterwards the header is
// only read, so any number of threads may use it.
#ifndef STRATA_FOREIGN_OPENSLIDE_DATA_HEADER_H_
#define STRATA_FOREIGN_OPENSLIDE_DATA_HEADER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "strata/foreign/openslide_library.h"
#include "strata/foreign/openslide_pixels.h"
#include "strata/model/base_data.h"

namespace strata::foreign {

struct OpenSlideLevel {
  std::int64_t width = 0;
  std::int64_t height = 0;
  double downsample = 0.0;
};

}  // namespace strata::foreign

class COpenSlideDataHeader : public CDataHeader {
 public:
  COpenSlideDataHeader(const strata::foreign::OpenSlideLibrary& library,
                       strata::foreign::OpenSlideHandle slide);

  // Reads sizes, levels and properties from the handle; false when any of
  // them is unusable.
  bool Build();
  // Fills the header of a slide read without OpenSlide (SVS and TIFF read
  // natively, whose properties OpenSlide would report the same): level 0's
  // size, the objective power's text ("" when the slide has none) and the
  // levels. False when they are unusable, as for Build.
  bool BuildFromLevels(std::int64_t width, std::int64_t height, const std::string& objectivePower,
                       const std::vector<strata::foreign::OpenSlideLevel>& levels);

  int GetWidth() override;
  int GetHeight() override;
  // The objective power read with atoi; -1 without the property.
  int GetScanScale() override;
  int GetSpendTime() override;
  std::int64_t GetScanTime() override;
  float GetCaptureResolution() override;
  float GetVersion() override;
  int GetBlockSize() override;
  // The level count, whatever the identifier.
  int GetIntItem(int identifier) override;
  const char* GetTextItem(int identifier) override;

  // The text of "openslide.objective-power" (owned by OpenSlide), or null.
  const char* ObjectivePower() const { return objectivePower_; }
  // Levels as OpenSlide reports them, finest first; empty when the library
  // reports none or their sizes and downsamples are unusable.
  const std::vector<strata::foreign::OpenSlideLevel>& Levels() const { return levels_; }
  // The slide's extent at a level: the level's size, less what lies beyond
  // the slide's width and height (the scanned bounds of an MRXS).
  void LevelExtent(std::size_t level, std::int64_t& width, std::int64_t& height) const;
  const strata::foreign::BackgroundColour& Background() const { return background_; }
  // The offsets of "openslide.bounds-x/-y" (0 when absent).
  std::int64_t BoundsX() const { return boundsX_; }
  std::int64_t BoundsY() const { return boundsY_; }
  // The first region's offsets when the slide has exactly one region (else 0).
  std::int64_t SingleRegionX() const { return regionX_; }
  std::int64_t SingleRegionY() const { return regionY_; }

 private:
  bool ReadLevels();
  bool ReadSizeProperties();
  bool ReadOffsetProperties();
  bool ReadBackground();
  // Reads `name` as an unsigned number (base detected, as strtoul) no larger
  // than `limit`; true with *present false when the property is absent.
  bool ReadNumber(const char* name, std::int64_t limit, std::int64_t& value, bool& present) const;
  // Reads "openslide.region[0].<field>" as ReadNumber does, unless the slide
  // has a second region ("openslide.region[1].<field>" listed).
  bool ReadSingleRegionNumber(const char* field, std::int64_t limit, std::int64_t& value) const;
  bool HasProperty(const char* name) const;

  strata::foreign::OpenSlideLibrary library_;
  strata::foreign::OpenSlideHandle slide_ = nullptr;
  std::int64_t width_ = 0;
  std::int64_t height_ = 0;
  std::int64_t level0Width_ = 0;
  std::int64_t level0Height_ = 0;
  const char* objectivePower_ = nullptr;
  std::string ownedObjectivePower_;  // when no OpenSlide handle holds it
  std::vector<strata::foreign::OpenSlideLevel> levels_;
  strata::foreign::BackgroundColour background_;
  std::int64_t boundsX_ = 0;
  std::int64_t boundsY_ = 0;
  std::int64_t regionX_ = 0;
  std::int64_t regionY_ = 0;
};

class CNDPIDataHeader : public COpenSlideDataHeader {
 public:
  using COpenSlideDataHeader::COpenSlideDataHeader;
};
class CSVSDataHeader : public COpenSlideDataHeader {
 public:
  using COpenSlideDataHeader::COpenSlideDataHeader;
};
class CMIRAXDataHeader : public COpenSlideDataHeader {
 public:
  using COpenSlideDataHeader::COpenSlideDataHeader;
};
class CBIFDataHeader : public COpenSlideDataHeader {
 public:
  using COpenSlideDataHeader::COpenSlideDataHeader;
};

#endif  // STRATA_FOREIGN_OPENSLIDE_DATA_HEADER_H_
