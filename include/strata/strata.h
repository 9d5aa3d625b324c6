/*
 * Strata: whole-slide image reader, flat C interface.
 *
 * A caller opens a slide into an IMAGE_INFO_STRUCT handle, asks for header
 * facts, tiles, regions and associated images, releases every buffer the
 * library hands out with DeleteImageDataFunc, and closes the handle with
 * UnInitImageFileFunc. Every function reports success as true and never lets
 * an exception escape.
 *
 * Ownership: the handle belongs to the caller; the slide behind it belongs to
 * the library until UnInitImageFileFunc. Every buffer delivered through an
 * unsigned char** output belongs to the caller and is released with
 * DeleteImageDataFunc, independent of the handle. Texts from
 * GetImageChannelIdentifierFunc belong to the slide.
 *
 * The tile functions that return unsigned char* (GetImageStreamFunc,
 * GetImageRGBDataStreamFunc, GetLUTImage, GetImageStreamManyPassagewayFunc,
 * GetLUTImageManyPassageway) always return NULL: their result is *buffer and
 * *length.
 *
 * This header compiles as C99 and as C++.
 */
#ifndef STRATA_STRATA_H_
#define STRATA_STRATA_H_

#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "strata/export.h"

#ifdef __cplusplus
class CDataFile;
extern "C" {
#endif

/* The caller-held slide handle: one pointer, null when no slide is open. */
typedef struct IMAGE_INFO_STRUCT {
#ifdef __cplusplus
  CDataFile* slide;
#else
  void* slide;
#endif
} IMAGE_INFO_STRUCT;

/* Opening and closing. */
STRATA_API bool InitImageFileFunc(IMAGE_INFO_STRUCT* handle, const char* path);
STRATA_API bool InitImageFileFuncAsBlock(IMAGE_INFO_STRUCT* handle, const char* path, int left,
                                         int top, int right, int bottom, float scale);
STRATA_API bool UnInitImageFileFunc(IMAGE_INFO_STRUCT* handle);
STRATA_API bool DeleteImageDataFunc(void* data);
STRATA_API float GetDllVersionFunc(float* version);

/* Header facts. GetHeaderInfoFunc delivers height before width. */
STRATA_API bool GetHeaderInfoFunc(IMAGE_INFO_STRUCT handle, int* height, int* width, int* scanScale,
                                  float* spendTime, double* scanTime, float* captureResolution,
                                  int* blockSize);
STRATA_API bool GetVersionInfoFunc(IMAGE_INFO_STRUCT* handle, float* version);
STRATA_API bool GetScanTimeDurationFunc(IMAGE_INFO_STRUCT* handle, int* year, int* month, int* day,
                                        int* hour, int* minute, int* second, int* hoursTaken,
                                        int* minutesTaken, int* secondsTaken);
/* serial must hold the whole text; CImageOperationManager offers a bounded form. */
STRATA_API bool GetMachineSerialNumFunc(IMAGE_INFO_STRUCT* handle, char* serial);
STRATA_API bool GetScanLevelInfoFunc(IMAGE_INFO_STRUCT* handle, int* first, int* second);
STRATA_API bool GetImageChannelIdentifierFunc(IMAGE_INFO_STRUCT* handle, int* channelCount,
                                              char** id1, char** id2, char** id3, char** id4,
                                              char** id5, char** id6);

/* Tiles. For ZTX slides GetImageStreamFunc copies the stored tile into the
 * caller's buffer at *buffer and sets *length (0 when there is no tile). When
 * *buffer is null it only reports the stored length, so that a caller can size
 * its buffer first. A tile of a level the file does not store (level modes 1
 * and 2) is composed as a 256 x 256 JPEG and delivered the same way: the size
 * query reports its length, and the fetch copies it into the caller's buffer,
 * which must hold that length. *buffer itself is never replaced or cleared;
 * when the tile cannot be composed *length is 0 and the buffer is untouched.
 * GetImageRGBDataStreamFunc delivers pixels in a new buffer at *buffer. A
 * buffer the caller passes in (it must come from this library and hold the
 * stored tile) is used for the stream and then FREED by the call: the caller
 * must not use or release it again, only the new *buffer.
 * GetLUTImage and GetImageStreamManyPassagewayFunc (and their variant) free a
 * caller buffer at *buffer likewise and deliver a new one; only an unchanged
 * stream (neutral adjustment) is copied into the caller's buffer instead. */
STRATA_API unsigned char* GetImageStreamFunc(IMAGE_INFO_STRUCT* handle, float scale, int x, int y,
                                             int* length, unsigned char** buffer);
STRATA_API unsigned char* GetImageRGBDataStreamFunc(IMAGE_INFO_STRUCT* handle, float scale, int x,
                                                    int y, int* length, int* width, int* height,
                                                    unsigned char** buffer);
STRATA_API unsigned char* GetLUTImage(IMAGE_INFO_STRUCT* handle, float scale, int x, int y,
                                      int* length, unsigned char** buffer, float p1, float p2,
                                      float p3, float p4, float p5, float p6);

/* Regions. */
STRATA_API bool GetImageDataRoiFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width,
                                    int height, unsigned char** out, int* length, bool flag);
STRATA_API bool GetImageDataMaxFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width,
                                    int height, unsigned char** out, int* length, bool flag);
STRATA_API bool ISCanGetMaxFunc(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int width,
                                int height);

/* Multi-channel slides. */
STRATA_API bool GetImageDataRoiManyPassagewayFunc(IMAGE_INFO_STRUCT handle, float scale, int x,
                                                  int y, int width, int height, unsigned char** out,
                                                  int* length, bool flag, bool c1, bool c2, bool c3,
                                                  bool c4, bool c5, bool c6);
STRATA_API unsigned char* GetImageStreamManyPassagewayFunc(IMAGE_INFO_STRUCT* handle, float scale,
                                                           int x, int y, int* length,
                                                           unsigned char** buffer, bool c1, bool c2,
                                                           bool c3, bool c4, bool c5, bool c6);
STRATA_API unsigned char* GetLUTImageManyPassageway(IMAGE_INFO_STRUCT* handle, float scale, int x,
                                                    int y, int* length, unsigned char** buffer,
                                                    float p1, float p2, float p3, float p4,
                                                    float p5, float p6, bool c1, bool c2, bool c3,
                                                    bool c4, bool c5, bool c6);

/* Associated images, by handle and by path. */
STRATA_API bool GetLableInfoFunc(IMAGE_INFO_STRUCT handle, unsigned char** data, int* length,
                                 int* width, int* height);
STRATA_API bool GetPriviewInfoFunc(IMAGE_INFO_STRUCT handle, unsigned char** data, int* length,
                                   int* width, int* height);
STRATA_API bool GetThumnailImageFunc(IMAGE_INFO_STRUCT handle, unsigned char** data, int* length,
                                     int* width, int* height);
STRATA_API bool GetLableInfoPathFunc(const char* path, unsigned char** data, int* length,
                                     int* width, int* height);
STRATA_API bool GetPriviewInfoPathFunc(const char* path, unsigned char** data, int* length,
                                       int* width, int* height);
STRATA_API bool GetThumnailImagePathFunc(const char* path, unsigned char** data, int* length,
                                         int* width, int* height);
STRATA_API bool GetThumnailImageOnlyPathFunc(const char* path, unsigned char** data, int* length,
                                             int* width, int* height);

/* Why a call failed, as one short line that starts with what failed
 * ("/data/a.ztx: no such file", "tile at scale 20 (0, 0): HTTP status 503").
 * With a handle that holds a slide: the last failure of a call on that slide
 * made by the calling thread. With a null or empty handle (a failed open
 * leaves it empty): the calling thread's last failure of any call.
 * Copies at most capacity - 1 bytes and a terminating zero into text (when
 * text is not null and capacity > 0) and returns the reason's whole length
 * without the terminator, so a result >= capacity asks for a larger buffer;
 * 0 when there is no failure to tell. A later success does not clear the
 * reason; closing the handle drops the slide's reasons. */
STRATA_API int GetLastErrorTextFunc(const IMAGE_INFO_STRUCT* handle, char* text, int capacity);

/* In-place maintenance of local ZTX files. */
STRATA_API bool ChangeLabelInfoFunc(const char* slidePath, const char* labelPath);
STRATA_API bool CompressBlockDataInfoFunc(const char* slidePath);
STRATA_API bool UnCompressBlockDataInfoFunc(const char* slidePath);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* STRATA_STRATA_H_ */
