// A stand-in for the TMAP vendor SDK. It declares the SDK's functions with
// the SDK header's CString and tagRECT, so its exports carry the same Linux
// names as the vendor's build. It accepts only paths that contain ".TMAP",
// serves a fixed slide and a w x h top-down RGB window, and counts opens and
// closes. Built with STANDIN_SPARSE it lacks CloseTmapFile and GetROIData.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standin_control.h"
#include "strata/foreign/iviewer_sdk.h"

#define STANDIN_EXPORT __attribute__((visibility("default")))

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kOrgScale = 40;

struct Slide {
  std::string path;
  std::vector<unsigned char> window;  // the SDK keeps what it hands out
};

struct Record {
  std::vector<std::unique_ptr<Slide>> open;
  std::string lastPath;
  tagRECT lastRect = {0, 0, 0, 0};
  int lastScale = 0;
  int lastFlag = 0;
  int opens = 0;
  int closes = 0;
};

Record& State() {
  static Record record;
  return record;
}

Slide* Find(void* handle) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  for (const auto& slide : State().open) {
    if (slide.get() == handle) return slide.get();
  }
  return nullptr;
}

}  // namespace

STANDIN_EXPORT int OpenTmapFile(CString path, void*& handle) {
  standin::Count("OpenTmapFile");
  std::lock_guard<std::mutex> guard(standin::Mutex());
  ++State().opens;
  State().lastPath = path.GetString();
  handle = nullptr;
  if (std::strstr(path.GetString(), ".TMAP") == nullptr || standin::Fault("OpenTmapFile", "null")) {
    return 0;
  }
  State().open.push_back(std::make_unique<Slide>(Slide{path.GetString(), {}}));
  handle = State().open.back().get();
  return 1;
}

STANDIN_EXPORT int GetOrgScale(void* handle) {
  standin::Count("GetOrgScale");
  return Find(handle) != nullptr ? kOrgScale : 0;
}

STANDIN_EXPORT int GetWholeImgInfo(void* handle, int& width, int& height, int& third) {
  standin::Count("GetWholeImgInfo");
  if (Find(handle) == nullptr) return 0;
  width = standin::Fault("GetWholeImgInfo", "negative") ? -kWidth : kWidth;
  height = kHeight;
  third = 3;
  return 1;
}

#ifndef STANDIN_SPARSE

// Pixel (i, j) of the window at (left, top): a pattern of its position.
STANDIN_EXPORT unsigned char* GetROIData(void* handle, tagRECT* rect, int scale, int& width,
                                         int& height, int flag) {
  standin::Count("GetROIData");
  Slide* slide = Find(handle);
  {
    std::lock_guard<std::mutex> guard(standin::Mutex());
    State().lastRect = *rect;
    State().lastScale = scale;
    State().lastFlag = flag;
  }
  if (slide == nullptr || standin::Fault("GetROIData", "fail")) return nullptr;
  const int w = rect->right - rect->left;
  const int h = rect->bottom - rect->top;
  slide->window.resize(static_cast<std::size_t>(w) * h * 3);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      unsigned char* pixel = &slide->window[(static_cast<std::size_t>(j) * w + i) * 3];
      pixel[0] = static_cast<unsigned char>((rect->left + i) * 2);
      pixel[1] = static_cast<unsigned char>((rect->top + j) * 2);
      pixel[2] = static_cast<unsigned char>(i + j);
    }
  }
  width = w;
  height = h;
  if (standin::Fault("GetROIData", "oversize")) width = height = 1000;
  return slide->window.data();
}

STANDIN_EXPORT int CloseTmapFile(void* handle) {
  standin::Count("CloseTmapFile");
  std::lock_guard<std::mutex> guard(standin::Mutex());
  ++State().closes;
  auto& open = State().open;
  for (auto it = open.begin(); it != open.end(); ++it) {
    if (it->get() == handle) {
      open.erase(it);
      return 1;
    }
  }
  return 0;
}

#endif  // STANDIN_SPARSE

extern "C" STANDIN_EXPORT void StandinSdkRecord(int* opens, int* closes, int* openSlides,
                                                char* lastPath, int capacity, int rect[4],
                                                int* scale, int* flag) {
  std::lock_guard<std::mutex> guard(standin::Mutex());
  *opens = State().opens;
  *closes = State().closes;
  *openSlides = static_cast<int>(State().open.size());
  std::strncpy(lastPath, State().lastPath.c_str(), static_cast<std::size_t>(capacity - 1));
  lastPath[capacity - 1] = '\0';
  rect[0] = State().lastRect.left;
  rect[1] = State().lastRect.top;
  rect[2] = State().lastRect.right;
  rect[3] = State().lastRect.bottom;
  *scale = State().lastScale;
  *flag = State().lastFlag;
}
