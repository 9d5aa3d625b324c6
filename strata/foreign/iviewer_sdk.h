// The types of the iViewerSDK interface for TMAP slides, as its header
// declares them, and the signatures of the functions the TMAP adapter calls.
// The SDK is C++: these declarations decide how arguments travel, so they
// must stay as they are (see CString).
#ifndef STRATA_FOREIGN_IVIEWER_SDK_H_
#define STRATA_FOREIGN_IVIEWER_SDK_H_

#include <cstring>

// The SDK's 8-bit string: exactly one member, the NUL-terminated characters.
// The user-written copy constructor and destructor make it non-trivial, so a
// CString argument travels by reference to a caller-made temporary, as with
// the SDK's own class.
class CString {
 public:
  explicit CString(const char* text) : text_(Duplicate(text)) {}
  CString(const CString& other) : text_(Duplicate(other.text_)) {}
  CString& operator=(const CString&) = delete;
  ~CString() { delete[] text_; }

  const char* GetString() const { return text_; }

 private:
  static char* Duplicate(const char* text) {
    const char* source = text == nullptr ? "" : text;
    const std::size_t size = std::strlen(source) + 1;
    char* copy = new char[size];
    std::memcpy(copy, source, size);
    return copy;
  }

  char* text_;
};

// The platform rectangle: left, top, right, bottom.
struct tagRECT {
  int left;
  int top;
  int right;
  int bottom;
};

namespace strata::iviewer {

using OpenTmapFileFn = int (*)(CString path, void*& handle);
using GetOrgScaleFn = int (*)(void* handle);
using GetWholeImgInfoFn = int (*)(void* handle, int& width, int& height, int& third);
using GetROIDataFn = unsigned char* (*)(void* handle, tagRECT* rect, int scale, int& width,
                                        int& height, int flag);
using CloseTmapFileFn = int (*)(void* handle);

// Exported names as the SDK's own build spells them; the platform's symbol
// lookup finds their Linux twins.
constexpr const char kOpenTmapFile[] = "?OpenTmapFile@@YAHVCString@@AAPAX@Z";
constexpr const char kGetOrgScale[] = "?GetOrgScale@@YAHPAX@Z";
constexpr const char kGetWholeImgInfo[] = "?GetWholeImgInfo@@YAHPAXAAH11@Z";
constexpr const char kGetROIData[] = "?GetROIData@@YAPAEPAXPAUtagRECT@@HAAH2H@Z";
constexpr const char kCloseTmapFile[] = "?CloseTmapFile@@YAHPAX@Z";

}  // namespace strata::iviewer

#endif  // STRATA_FOREIGN_IVIEWER_SDK_H_
