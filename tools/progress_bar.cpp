#include "tools/progress_bar.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "strata/slide/system.h"

namespace strata::tools {
namespace {

constexpr double kDefaultLineSeconds = 5.0;

std::chrono::steady_clock::duration LineInterval() {
  double seconds = kDefaultLineSeconds;
  const char* given = system::EnvironmentValue("STRATA_PROGRESS_SECONDS");
  const std::string text = given == nullptr ? "" : given;
  if (!text.empty()) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() && *end == '\0' && value >= 0 && value < 3600) seconds = value;
  }
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
}

}  // namespace

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)),
      terminal_(system::IsTerminal(stderr)),
      interval_(LineInterval()),
      nextLine_(std::chrono::steady_clock::now() + interval_) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::int64_t done, std::int64_t total) {
  if (total <= 0) return;
  const int permille = static_cast<int>(done * 1000 / total);
  if (permille == lastPermille_) return;
  lastPermille_ = permille;
  if (terminal_) {
    Draw(permille, done, total);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < nextLine_) return;
  nextLine_ = now + interval_;
  PrintLine(permille, done, total);
}

void ProgressBar::Draw(int permille, std::int64_t done, std::int64_t total) {
  constexpr int kWidth = 40;
  const int filled = permille * kWidth / 1000;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%% %lld/%lld tiles", label_.c_str(), bar.c_str(),
               permille / 10, static_cast<long long>(done), static_cast<long long>(total));
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::PrintLine(int permille, std::int64_t done, std::int64_t total) {
  std::fprintf(stderr, "%s: %d%% (%lld of %lld tiles)\n", label_.c_str(), permille / 10,
               static_cast<long long>(done), static_cast<long long>(total));
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  std::fputc('\n', stderr);
  drawn_ = false;
}

}  // namespace strata::tools
