// The OpenSlide C interface, loaded at run time and never linked.
//
// The library is the file named by the environment variable
// STRATA_OPENSLIDE_LIBRARY, else the platform's file for the logical name
// "libAltSlide.dll" (Debian's libopenslide.so.0). A file is loaded on first
// use and stays loaded for the life of the process. Every call looks its
// function up by name at that moment; when the library or the name is
// missing the call returns its default (null, 0, 0.0 or -1) and does nothing
// else, so outputs should be initialised by the caller.
//
// A binding is a plain value: the slide keeps the one it was opened with, so
// its handle is always closed by the library that made it. The calls may run
// on several threads at once (OpenSlide handles allow concurrent reads).
#ifndef STRATA_FOREIGN_OPENSLIDE_LIBRARY_H_
#define STRATA_FOREIGN_OPENSLIDE_LIBRARY_H_

#include <cstdint>

namespace strata::foreign {

// An open OpenSlide slide (openslide_t*), opaque to Strata.
using OpenSlideHandle = void*;

class OpenSlideLibrary {
 public:
  // The binding of the library chosen as above (loading it if needed).
  static OpenSlideLibrary Current();
  // The file name Current() loads.
  static const char* FileName();

  // A binding to no library: every call returns its default.
  OpenSlideLibrary() = default;

  bool Loaded() const { return module_ != nullptr; }

  OpenSlideHandle Open(const char* path) const;  // null
  void Close(OpenSlideHandle slide) const;
  std::int32_t LevelCount(OpenSlideHandle slide) const;  // 0
  void Level0Dimensions(OpenSlideHandle slide, std::int64_t* w, std::int64_t* h) const;
  void LevelDimensions(OpenSlideHandle slide, std::int32_t level, std::int64_t* w,
                       std::int64_t* h) const;
  double LevelDownsample(OpenSlideHandle slide, std::int32_t level) const;              // 0.0
  std::int32_t BestLevelForDownsample(OpenSlideHandle slide, double downsample) const;  // -1
  const char* PropertyValue(OpenSlideHandle slide, const char* name) const;             // null
  const char* const* AssociatedImageNames(OpenSlideHandle slide) const;                 // null
  void AssociatedImageDimensions(OpenSlideHandle slide, const char* name, std::int64_t* w,
                                 std::int64_t* h) const;
  // The two reads report whether the library has the function: without it
  // nothing is written to `dest`.
  bool ReadAssociatedImage(OpenSlideHandle slide, const char* name, std::uint32_t* dest) const;
  bool ReadRegion(OpenSlideHandle slide, std::uint32_t* dest, std::int64_t x, std::int64_t y,
                  std::int32_t level, std::int64_t w, std::int64_t h) const;
  // Every property name of the slide, null-terminated; null without them.
  const char* const* PropertyNames(OpenSlideHandle slide) const;
  // The vendor OpenSlide recognises in the file ("aperio", ...), or null.
  const char* DetectVendor(const char* path) const;
  // The library's version text, or null.
  const char* Version() const;
  // The slide's error text once a call has failed (OpenSlide keeps it); null
  // while all is well or when the library lacks the function.
  const char* Error(OpenSlideHandle slide) const;

 private:
  explicit OpenSlideLibrary(void* module) : module_(module) {}
  void* Find(const char* name) const;

  void* module_ = nullptr;
};

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_OPENSLIDE_LIBRARY_H_
