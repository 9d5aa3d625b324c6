// Crash-safe in-place rewrites of a local slide through a rollback journal.
//
// Before the first byte of the slide is overwritten, the bytes about to be
// replaced are saved to "SLIDE.ztx-journal" beside it (written under a
// temporary name, synced, then renamed, so the journal is whole or absent).
// Then the new bytes are written and synced, and the journal removed. A
// crash, kill or power loss at any point leaves either the old slide, the
// new slide, or a journal that rolls the slide back to the old one.
//
// Recovery runs before a slide is opened and before every rewrite. A journal
// that is damaged or does not match the slide (another size, ranges outside
// it) is never applied, not even in part, and is left for the user; the
// slide is then read as it is, and rewrites refuse to run.
#ifndef STRATA_ZTX_ZTX_REWRITE_JOURNAL_H_
#define STRATA_ZTX_ZTX_REWRITE_JOURNAL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace strata::ztx {

// "SLIDE.ztx-journal" for "SLIDE.ztx".
std::string JournalPathOf(const std::string& slidePath);

enum class JournalRecovery {
  kNone,      // no journal: nothing to do
  kRestored,  // an interrupted rewrite was rolled back, the journal removed
  kIgnored,   // a damaged or mismatched journal, left where it is
  kRefused,   // a valid journal, but the slide cannot be written: do not read it
};

// Rolls back an interrupted rewrite of the slide, if its journal says so.
// Says what it did through the debug output.
JournalRecovery RecoverInterruptedRewrite(const std::string& slidePath);

// New bytes for one place of the slide.
struct SlideWrite {
  std::int64_t offset = 0;
  std::vector<unsigned char> bytes;
};

// Replaces the bytes of the slide at every write's place, through the
// journal. Every place must lie inside the slide (the size never changes).
// False, with the slide unchanged, when the journal cannot be made or a
// journal is already present; false after a failed write, with the journal
// left to roll the slide back at its next open.
bool RewriteThroughJournal(const std::string& slidePath, const std::vector<SlideWrite>& writes);

// Tests stop a rewrite after each of its durable steps in turn: the hook
// runs after step 0, 1, ... (journal written, renamed, each slide write,
// slide synced, journal removed). Null removes it.
using RewriteStepHook = void (*)(int step);
void SetRewriteStepHookForTesting(RewriteStepHook hook);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_REWRITE_JOURNAL_H_
