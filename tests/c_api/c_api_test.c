/* The C interface from a plain C99 program: the header compiles as C, the
 * exports link, and the basic open/close contract holds. */
#include <stdio.h>
#include <string.h>

#include <strata/strata.h>

static int failures = 0;

static void check(int condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

static void check_version(void) {
  float version = -1.0f;
  float returned = GetDllVersionFunc(&version);
  check(returned == 2.0f, "GetDllVersionFunc returns 2.0");
  check(version == 2.0f, "GetDllVersionFunc stores 2.0");
}

static void check_missing_slide(void) {
  static const char reason[] = "/nonexistent-strata-folder/missing.ztx: no such file";
  char text[sizeof reason + 8];
  IMAGE_INFO_STRUCT handle;
  handle.slide = NULL;
  check(!InitImageFileFunc(&handle, "/nonexistent-strata-folder/missing.ztx"),
        "opening a missing slide fails");
  check(handle.slide == NULL, "the handle stays empty");
  check(GetLastErrorTextFunc(&handle, text, (int)sizeof text) == (int)strlen(reason),
        "GetLastErrorTextFunc returns the reason's length");
  check(strcmp(text, reason) == 0, "GetLastErrorTextFunc says the file is missing");
  check(UnInitImageFileFunc(&handle), "closing an empty handle succeeds");
  check(!DeleteImageDataFunc(NULL), "DeleteImageDataFunc(NULL) fails");
}

static void check_empty_handle(void) {
  IMAGE_INFO_STRUCT handle;
  int height = -1, width = -1, scale = -1, block = -1;
  float spend = -1.0f, resolution = -1.0f;
  double when = -1.0;
  unsigned char* data = (unsigned char*)&handle;
  int length = -1, image_width = -1, image_height = -1;
  handle.slide = NULL;
  check(!GetHeaderInfoFunc(handle, &height, &width, &scale, &spend, &when, &resolution, &block),
        "header facts of an empty handle fail");
  check(height == -1 && width == -1, "header outputs untouched");
  check(!GetLableInfoFunc(handle, &data, &length, &image_width, &image_height),
        "label of an empty handle fails");
  check(data == NULL && length == 0 && image_width == 0 && image_height == 0,
        "label outputs cleared");
}

/* A file named like a slide of a format without block support opens as a
 * block (nothing is loaded) but not fully. */
static void check_block_open(void) {
  const char* path = "c_api_probe.svs";
  IMAGE_INFO_STRUCT handle;
  FILE* file = fopen(path, "wb");
  handle.slide = NULL;
  check(file != NULL, "probe file created");
  if (file == NULL) return;
  fputs("not a slide", file);
  fclose(file);
  check(!InitImageFileFunc(&handle, path), "full open of the probe fails");
  check(InitImageFileFuncAsBlock(&handle, path, 0, 0, 0, 0, 0.0f), "block open succeeds");
  check(handle.slide != NULL, "the handle holds the slide");
  check(UnInitImageFileFunc(&handle), "closing succeeds");
  check(handle.slide == NULL, "the handle is empty again");
  remove(path);
}

/* The fixture slide written before this test: 1000 x 700 at scan scale 20,
 * 256-pixel JPEG tiles. */
static void check_real_slide(const char* path) {
  static unsigned char tile[256 * 256 * 3];
  IMAGE_INFO_STRUCT handle;
  int height = 0, width = 0, scale = 0, block = 0, length = 0;
  int image_width = 0, image_height = 0;
  float spend = 0.0f, resolution = 0.0f, version = 0.0f;
  double when = 0.0;
  unsigned char* buffer = tile;
  unsigned char* region = NULL;
  unsigned char* label = NULL;
  handle.slide = NULL;
  check(InitImageFileFunc(&handle, path), "the fixture slide opens");
  if (handle.slide == NULL) return;
  check(GetHeaderInfoFunc(handle, &height, &width, &scale, &spend, &when, &resolution, &block),
        "header facts of the fixture");
  check(height == 700 && width == 1000, "height comes before width");
  check(scale == 20 && block == 256, "scan scale and tile size");
  check(GetVersionInfoFunc(&handle, &version) && version > 1.29f && version < 1.31f, "version 1.3");
  check(GetImageStreamFunc(&handle, 20.0f, 0, 0, &length, &buffer) == NULL,
        "tile streams arrive through the buffer, not the result");
  check(length > 2 && buffer == tile && tile[0] == 0xFF && tile[1] == 0xD8,
        "the first tile is a JPEG stream in the caller's buffer");
  check(GetImageDataRoiFunc(handle, 20.0f, 10, 10, 40, 30, &region, &length, false),
        "a region is composed");
  check(region != NULL && length == 40 * 30 * 3, "region size");
  check(DeleteImageDataFunc(region), "the region is released");
  check(GetLableInfoFunc(handle, &label, &length, &image_width, &image_height),
        "the label is handed out");
  check(label != NULL && length > 0 && image_width > 0 && image_height > 0, "label outputs");
  check(DeleteImageDataFunc(label), "the label is released");
  check(UnInitImageFileFunc(&handle), "the slide closes");
  check(handle.slide == NULL, "the handle is empty after closing");
  check(InitImageFileFuncAsBlock(&handle, path, 0, 0, 0, 0, 0.0f), "header-only block open");
  check(UnInitImageFileFunc(&handle), "the block-opened slide closes");
}

int main(int argc, char** argv) {
  check_version();
  check_missing_slide();
  check_empty_handle();
  check_block_open();
  if (argc > 1) check_real_slide(argv[1]);
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("c_api: all checks passed\n");
  return 0;
}
