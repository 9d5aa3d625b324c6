// Crash-safe rewrites: each rewrite is killed after every one of its durable
// steps in turn; afterwards the slide reads exactly as before or exactly as
// after, never a mix, and running the rewrite again completes. Damaged,
// mismatched and unusable journals.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "strata/strata.h"
#include "strata/ztx/ztx_rewrite_journal.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace strata::test {
namespace {

using Bytes = std::vector<unsigned char>;

int killAtStep = -1;

void KillAtChosenStep(int step) {
  if (step == killAtStep) kill(getpid(), SIGKILL);
}

enum class Rewrite { kLabel, kCompress, kExpand };

struct RewriteCase {
  const char* name;
  Rewrite rewrite;
  float version;
};

class RewriteJournalTest : public ::testing::TestWithParam<RewriteCase> {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.version = GetParam().version;
    recipe.compressIndex = GetParam().rewrite == Rewrite::kExpand;
    path_ = MakeSlide(dir_, recipe);
    ASSERT_FALSE(path_.empty());
    labelPath_ = dir_.File("label.jpg");
    // A smaller label than the stored one, so that it fits its space.
    const ztx::StoredImage label = MakeLabelImage();
    WriteFileBytes(labelPath_, Bytes(label.stream.begin(), label.stream.end() - 16));
    before_ = ReadFileBytes(path_);
    ASSERT_TRUE(Run());
    after_ = ReadFileBytes(path_);
    ASSERT_NE(before_, after_);
    WriteFileBytes(path_, before_);
  }

  bool Run() const {
    switch (GetParam().rewrite) {
      case Rewrite::kLabel: return ChangeLabelInfoFunc(path_.c_str(), labelPath_.c_str());
      case Rewrite::kCompress: return CompressBlockDataInfoFunc(path_.c_str());
      case Rewrite::kExpand: return UnCompressBlockDataInfoFunc(path_.c_str());
    }
    return false;
  }

  // Runs the rewrite in a child killed after `step`; true when it was killed
  // (false when the rewrite has fewer steps and completed).
  bool RunKilledAt(int step) const {
    const pid_t child = fork();
    if (child == 0) {
      killAtStep = step;
      ztx::SetRewriteStepHookForTesting(KillAtChosenStep);
      _exit(Run() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), SIGKILL);
      return true;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return false;
  }

  std::string Journal() const { return ztx::JournalPathOf(path_); }

  TempDir dir_;
  std::string path_;
  std::string labelPath_;
  Bytes before_;
  Bytes after_;
};

bool Opens(const std::string& path) {
  IMAGE_INFO_STRUCT handle{};
  const bool opened = InitImageFileFunc(&handle, path.c_str());
  UnInitImageFileFunc(&handle);
  return opened;
}

TEST_P(RewriteJournalTest, KilledAfterAnyStepLeavesBeforeOrAfterAndARerunCompletes) {
  int killed = 0;
  for (int step = 0; step < 32; ++step) {
    WriteFileBytes(path_, before_);
    if (!RunKilledAt(step)) break;
    ++killed;
    ASSERT_TRUE(Opens(path_)) << "step " << step;
    const Bytes now = ReadFileBytes(path_);
    EXPECT_TRUE(now == before_ || now == after_) << "a mix after step " << step;
    EXPECT_FALSE(ReadFileBytes(Journal()).size() > 0) << "journal left after step " << step;
    ASSERT_TRUE(Run()) << "rerun after step " << step;
    EXPECT_EQ(ReadFileBytes(path_), after_) << "rerun after step " << step;
  }
  // Journal, rename, the slide writes (a label picture's height, width,
  // length and stream; an index's marker and bytes), sync, removal.
  EXPECT_EQ(killed, GetParam().rewrite == Rewrite::kLabel ? 8 : 6);
}

TEST_P(RewriteJournalTest, KilledRewriteIsRolledBackByTheNextRewrite) {
  ASSERT_TRUE(RunKilledAt(3));  // after the first slide write
  EXPECT_NE(ReadFileBytes(path_), before_);
  ASSERT_TRUE(Run());
  EXPECT_EQ(ReadFileBytes(path_), after_);
}

TEST_P(RewriteJournalTest, DamagedJournalIsNeitherAppliedNorRemoved) {
  ASSERT_TRUE(RunKilledAt(3));
  const Bytes torn = ReadFileBytes(path_);
  Bytes journal = ReadFileBytes(Journal());
  ASSERT_GT(journal.size(), 40u);
  journal[journal.size() / 2] ^= 0x40;
  WriteFileBytes(Journal(), journal);
  Opens(path_);
  EXPECT_EQ(ReadFileBytes(path_), torn);
  EXPECT_EQ(ReadFileBytes(Journal()), journal);
  // A rewrite does not replace a journal it cannot apply.
  EXPECT_FALSE(Run());
  EXPECT_EQ(ReadFileBytes(path_), torn);
}

TEST_P(RewriteJournalTest, JournalOfAnotherSizeIsNotApplied) {
  ASSERT_TRUE(RunKilledAt(3));
  Bytes torn = ReadFileBytes(path_);
  torn.push_back(0);  // the slide no longer has the size the journal was made for
  WriteFileBytes(path_, torn);
  const Bytes journal = ReadFileBytes(Journal());
  Opens(path_);
  EXPECT_EQ(ReadFileBytes(path_), torn);
  EXPECT_EQ(ReadFileBytes(Journal()), journal);
}

INSTANTIATE_TEST_SUITE_P(Rewrites, RewriteJournalTest,
                         ::testing::Values(RewriteCase{"Label13", Rewrite::kLabel, 1.3f},
                                           RewriteCase{"Label10", Rewrite::kLabel, 1.0f},
                                           RewriteCase{"Compress13", Rewrite::kCompress, 1.3f},
                                           RewriteCase{"Compress11", Rewrite::kCompress, 1.1f},
                                           RewriteCase{"Expand13", Rewrite::kExpand, 1.3f},
                                           RewriteCase{"Expand12", Rewrite::kExpand, 1.2f}),
                         [](const auto& info) { return std::string(info.param.name); });

class JournalRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = MakeSlide(dir_, SlideRecipe{});
    ASSERT_FALSE(path_.empty());
    before_ = ReadFileBytes(path_);
    const pid_t child = fork();
    if (child == 0) {
      killAtStep = 3;
      ztx::SetRewriteStepHookForTesting(KillAtChosenStep);
      _exit(CompressBlockDataInfoFunc(path_.c_str()) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(platformJournalPresent());
  }
  bool platformJournalPresent() const { return !ReadFileBytes(ztx::JournalPathOf(path_)).empty(); }

  TempDir dir_;
  std::string path_;
  Bytes before_;
};

TEST_F(JournalRecoveryTest, OpeningSaysItRestoredTheSlide) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("STRATA_DEBUG", "1", 1);
  EXPECT_EXIT(std::exit(Opens(path_) ? 0 : 1), ::testing::ExitedWithCode(0),
              "restored from .*ztx-journal");
  unsetenv("STRATA_DEBUG");
}

TEST_F(JournalRecoveryTest, SlideThatCannotBeWrittenIsNotOpened) {
  chmod(dir_.path().c_str(), 0755);
  chmod(path_.c_str(), 0644);
  const pid_t child = fork();
  if (child == 0) {
    // As another user (when root) the slide is readable but not writable.
    if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
    if (geteuid() != 0) chmod(path_.c_str(), 0444);
    _exit(Opens(path_) ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  chmod(path_.c_str(), 0644);
  EXPECT_TRUE(platformJournalPresent());
  EXPECT_NE(ReadFileBytes(path_), before_);
  ASSERT_TRUE(Opens(path_));
  EXPECT_EQ(ReadFileBytes(path_), before_);
}

}  // namespace
}  // namespace strata::test
