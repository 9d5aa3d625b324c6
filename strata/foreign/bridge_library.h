// A bridge library for DMETRIX or MDS slides: loaded at run time on the first
// load of its format and kept for the rest of the process. A bridge exports
// functions under the names of this library's own exports; each is looked up
// at its call, and a missing library or function makes the call yield false,
// 0 or null.
#ifndef STRATA_FOREIGN_BRIDGE_LIBRARY_H_
#define STRATA_FOREIGN_BRIDGE_LIBRARY_H_

#include "strata/foreign/lazy_module.h"

namespace strata::foreign {

// The bridge's slide handle, laid out as IMAGE_INFO_STRUCT (one pointer).
struct BridgeHandle {
  void* slide = nullptr;
};

// Header facts as the bridge's "GetHeaderInfoFunc" reports them.
struct BridgeHeaderFacts {
  int height = 0;
  int width = 0;
  int scanScale = 0;
  float spendTime = 0.0f;
  double scanTime = 0.0;
  float captureResolution = 0.0f;
  int blockSize = 0;
};

class BridgeLibrary {
 public:
  BridgeLibrary(const char* logicalName, const char* overrideVariable)
      : module_(logicalName, overrideVariable) {}

  bool Load() { return module_.Load(); }
  bool IsLoaded() const { return module_.IsLoaded(); }

  // "InitImageFileFunc": true when the bridge opened the path into `handle`.
  bool InitImageFile(BridgeHandle& handle, const char* path);
  // "UnInitImageFileFunc".
  bool UnInitImageFile(BridgeHandle& handle);
  // "GetHeaderInfoFunc".
  bool GetHeaderInfo(const BridgeHandle& handle, BridgeHeaderFacts& facts);
  // "GetImageStreamFunc": the bridge's buffer and length (not yet copied).
  void GetImageStream(BridgeHandle& handle, float scale, int x, int y, int& length,
                      unsigned char*& buffer);
  // "GetImageDataRoiFunc".
  bool GetImageDataRoi(const BridgeHandle& handle, float scale, int x, int y, int width, int height,
                       unsigned char*& buffer, int& length, bool encode);
  // A path-based associated image ("GetLableInfoPathFunc" and the like).
  bool GetPathImage(const char* function, const char* path, unsigned char*& buffer, int& length,
                    int& width, int& height);
  // Returns a buffer to the bridge's "DeleteImageDataFunc"; null is ignored.
  void Release(unsigned char* buffer);

  // The copy rule: `length` bytes of the bridge's buffer into a new library
  // buffer at *out, the bridge's buffer returned to the bridge. Any bridge
  // buffer goes back exactly once, also when nothing is copied. False, with
  // *out untouched, when there is nothing to copy (length not positive,
  // null buffer) or memory is short.
  bool Adopt(unsigned char* bridgeBuffer, int length, unsigned char** out);

 private:
  void* Find(const char* function) const { return module_.Find(function); }

  LazyModule module_;
};

// The DMETRIX bridge ("DmxBridge.dll", STRATA_DMX_BRIDGE) and the MDS bridge
// ("MoxBridge.dll", STRATA_MOX_BRIDGE).
BridgeLibrary& DmetrixBridge();
BridgeLibrary& MoticBridge();

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_BRIDGE_LIBRARY_H_
