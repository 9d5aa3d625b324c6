#include "tools/progress_bar.h"

#include <cstdio>
#include <utility>

#include "strata/platform/terminal.h"

namespace strata::tools {

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)), enabled_(platform::IsTerminal(stderr)) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::int64_t done, std::int64_t total) {
  if (!enabled_ || total <= 0) return;
  const int permille = static_cast<int>(done * 1000 / total);
  if (permille == lastPermille_) return;
  lastPermille_ = permille;
  constexpr int kWidth = 40;
  const int filled = permille * kWidth / 1000;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%% %lld/%lld tiles", label_.c_str(), bar.c_str(),
               permille / 10, static_cast<long long>(done), static_cast<long long>(total));
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  std::fputc('\n', stderr);
  drawn_ = false;
}

}  // namespace strata::tools
