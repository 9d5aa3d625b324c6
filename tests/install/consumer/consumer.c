/* A program built against an installed Strata, as C (through pkg-config) and
 * as C++ (through find_package). Prints the versions it sees and the size of
 * the slide given, so that the caller can compare them with what it expects. */
#include <stdio.h>

#include <strata/strata.h>
#include <strata/version.h>

int main(int argc, char** argv) {
  IMAGE_INFO_STRUCT slide = {0};
  int height = 0, width = 0, scale = 0, block = 0;
  float spend = 0.0f, resolution = 0.0f, version = 0.0f;
  double when = 0.0;
  if (argc != 2) return 2;
  if (GetDllVersionFunc(&version) != STRATA_DLL_VERSION) return 3;
  if (!InitImageFileFunc(&slide, argv[1])) {
    char why[512];
    GetLastErrorTextFunc(NULL, why, (int)sizeof why);
    fprintf(stderr, "%s\n", why);
    return 4;
  }
  GetHeaderInfoFunc(slide, &height, &width, &scale, &spend, &when, &resolution, &block);
  UnInitImageFileFunc(&slide);
  printf("%s %.1f %d x %d\n", STRATA_VERSION_STRING, version, width, height);
  return 0;
}
