// A C++ program built against an installed Strata through the slide façade:
// prints the slide's format, size and level count, and the alpha of one
// region pixel inside and one outside the slide.
#include <strata/slide.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::unique_ptr<strata::Slide> slide;
  const strata::Status opened = strata::Slide::Open(argv[1], &slide);
  if (!opened.ok()) {
    std::fprintf(stderr, "%s\n", opened.message().c_str());
    return 4;
  }
  strata::Image region;
  const auto& facts = slide->Facts();
  if (!slide->ReadRegion(0, facts.width - 1, 0, 2, 1, &region).ok()) return 5;
  std::printf("%s %lld x %lld, %zu levels, alpha %d %d\n", facts.format.c_str(),
              static_cast<long long>(facts.width), static_cast<long long>(facts.height),
              slide->Levels().size(), region.pixels[3], region.pixels[7]);
  return 0;
}
