#include "tests/support/KillDrill.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

// A writer killed at any moment leaves the settings file and a .cfg file whole: the old
// values or the new ones, never a mix, an empty file or a lost section, and no temporary
// files pile up. (The long drill is
// bench_CrashSafetyBench.)
TEST(CrashSafety, KilledWritersLeaveTheOldOrTheNewFile) {
  for (const auto drill : {kill_drill::Settings, kill_drill::CfgSave}) {
    TempDir dir;
    const RKillDrill r = drill(6, dir.path());
    EXPECT_EQ(r.intact, r.rounds) << r.firstProblem;
    EXPECT_EQ(r.leftovers, 0);  // the next good write clears what the killed writers left
  }
}
