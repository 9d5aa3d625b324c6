#include "strata/foreign/bridge_library.h"

#include <cstring>

#include "strata/model/image_buffer.h"

namespace strata::foreign {
namespace {

using InitFn = bool (*)(BridgeHandle*, const char*);
using UnInitFn = bool (*)(BridgeHandle*);
using HeaderFn = bool (*)(BridgeHandle, int*, int*, int*, float*, double*, float*, int*);
using StreamFn = unsigned char* (*)(BridgeHandle*, float, int, int, int*, unsigned char**);
using RoiFn = bool (*)(BridgeHandle, float, int, int, int, int, unsigned char**, int*, bool);
using PathImageFn = bool (*)(const char*, unsigned char**, int*, int*, int*);
using DeleteFn = bool (*)(void*);

template <typename Fn>
Fn As(void* address) {
  return reinterpret_cast<Fn>(address);
}

}  // namespace

bool BridgeLibrary::InitImageFile(BridgeHandle& handle, const char* path) {
  const auto init = As<InitFn>(Find("InitImageFileFunc"));
  return init != nullptr && init(&handle, path);
}

bool BridgeLibrary::UnInitImageFile(BridgeHandle& handle) {
  const auto uninit = As<UnInitFn>(Find("UnInitImageFileFunc"));
  return uninit != nullptr && uninit(&handle);
}

bool BridgeLibrary::GetHeaderInfo(const BridgeHandle& handle, BridgeHeaderFacts& facts) {
  const auto header = As<HeaderFn>(Find("GetHeaderInfoFunc"));
  return header != nullptr &&
         header(handle, &facts.height, &facts.width, &facts.scanScale, &facts.spendTime,
                &facts.scanTime, &facts.captureResolution, &facts.blockSize);
}

void BridgeLibrary::GetImageStream(BridgeHandle& handle, float scale, int x, int y, int& length,
                                   unsigned char*& buffer) {
  const auto stream = As<StreamFn>(Find("GetImageStreamFunc"));
  if (stream != nullptr) stream(&handle, scale, x, y, &length, &buffer);
}

bool BridgeLibrary::GetImageDataRoi(const BridgeHandle& handle, float scale, int x, int y,
                                    int width, int height, unsigned char*& buffer, int& length,
                                    bool encode) {
  const auto roi = As<RoiFn>(Find("GetImageDataRoiFunc"));
  return roi != nullptr && roi(handle, scale, x, y, width, height, &buffer, &length, encode);
}

bool BridgeLibrary::GetPathImage(const char* function, const char* path, unsigned char*& buffer,
                                 int& length, int& width, int& height) {
  const auto image = As<PathImageFn>(Find(function));
  return image != nullptr && image(path, &buffer, &length, &width, &height);
}

void BridgeLibrary::Release(unsigned char* buffer) {
  if (buffer == nullptr) return;
  const auto release = As<DeleteFn>(Find("DeleteImageDataFunc"));
  if (release != nullptr) release(buffer);
}

bool BridgeLibrary::Adopt(unsigned char* bridgeBuffer, int length, unsigned char** out) {
  unsigned char* copy = nullptr;
  if (bridgeBuffer != nullptr && length > 0) {
    copy = AllocateBuffer(static_cast<std::size_t>(length));
    if (copy != nullptr) std::memcpy(copy, bridgeBuffer, static_cast<std::size_t>(length));
  }
  Release(bridgeBuffer);
  if (copy == nullptr) return false;
  *out = copy;
  return true;
}

BridgeLibrary& DmetrixBridge() {
  static BridgeLibrary bridge("DmxBridge.dll", "STRATA_DMX_BRIDGE");
  return bridge;
}

BridgeLibrary& MoticBridge() {
  static BridgeLibrary bridge("MoxBridge.dll", "STRATA_MOX_BRIDGE");
  return bridge;
}

}  // namespace strata::foreign
