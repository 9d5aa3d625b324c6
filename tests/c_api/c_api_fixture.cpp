// Writes the slide the C interface test opens: the standard 1000 x 700
// fixture, made with the project's writer.
// usage: c_api_fixture <slide.ztx>
#include <cstdio>
#include <string>

#include "strata/ztx/ztx_writer.h"
#include "support/slide_fixtures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: c_api_fixture <slide.ztx>\n");
    return 2;
  }
  const strata::test::SlideRecipe recipe;
  strata::ztx::ZtxWriter writer(strata::test::OptionsFor(recipe));
  std::string error;
  if (!writer.Write(argv[1], recipe.width, recipe.height,
                    strata::test::PatternRowSource(recipe.width), &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  return 0;
}
