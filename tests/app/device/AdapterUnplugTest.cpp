// The adapter pulled out in the middle of an operation and while logging, then plugged in
// again: told at once (logging within a second) as a port error, without burning the CPU
// while it waits, and working again on the same link without a restart.
#include "app/device/DeviceSession.h"
#include "app/device/Logging.h"
#include "app/core/Results.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "tests/support/NullView.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

TEST(AdapterUnplug, ToldAsAPortErrorQuietlyAndWorksAgainWhenBack) {
  ProgramState kept;
  DeviceCFG = RDeviceCFG{};
  DeviceCFG.mConnectTime = 500;
  // Slow polls and checks: only the watch on the port can tell the unplug within a second.
  DeviceCFG.mLogInterval = 5, DeviceCFG.mLogConnectTime = 1500;
  TempDir dir;
  KvtSim::Options o;
  o.linkPath = dir.path() + "ttyBeamDock";
  o.faults = {{0x50, KvtSim::FaultKind::Hangup, 1}};  // pulled out in the middle of a read
  SimPort port(o);
  ScopedEnv named("BEAMDOCK_PORT", o.linkPath);
  TComKVT link;  // one link for the whole test, as the window keeps one

  struct Step {
    const char* what;
    bool plugged;           // plug the adapter in before the step
    uint8_t readResult;     // Read Device's result
    bool openErrorBox;      // the device is missing: the box of a port that cannot be opened
  } steps[] = {{"pulled out during the read", true, LINK_PORTERROR, false},
               {"still out", false, LINK_PORTERROR, true},
               {"back", true, LINK_OK, false}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.plugged) port.sim().replug();
    ScriptedOperator op;
    TDeviceSession session;
    const auto start = Clock::now();
    EXPECT_EQ(session.ReadDevice(op, link).mCode, s.readResult);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(op.lastStatus().text, kReadDeviceName + std::string(ResultText(s.readResult).mSuffix));
    ASSERT_EQ(op.messages().size(), s.readResult ? 1u : 0u);
    if (s.readResult) {
      // The box of a missing device names it; the cut-off read has the table's text, then why.
      const std::string text = op.messages()[0].text;
      const std::string cutOff = ResultText(s.readResult).mMessage + std::string("\rPort error: ");
      EXPECT_TRUE(s.openErrorBox ? text.find(o.linkPath) != std::string::npos : text.rfind(cutOff, 0) == 0) << text;
    }
  }

  // Logging: pulled out after the first reading (the first poll comes at once), plugged in
  // again, logging once more.
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ScriptedOperator op;
    TNullView view;
    TSteadyRunClock clock;
    TLoggingRun logging(link, op, view, clock);
    Clock::time_point pulled{};
    double cpuAtPull = 0;
    logging.OnReading = [&](const RReadingSet&) {
      if (run == 0 && view.readings == 1) {
        port.sim().unplug();
        pulled = Clock::now(), cpuAtPull = CpuSeconds();
      }
      if (run == 1) logging.Stop();
    };
    const uint8_t code = logging.RunLogging("");
    if (run == 0) {
      const double waited = std::chrono::duration<double>(Clock::now() - pulled).count();
      EXPECT_EQ(code, LINK_PORTERROR);
      EXPECT_LT(waited, 1.0);
      EXPECT_LT((CpuSeconds() - cpuAtPull) / waited, 0.2);
      ASSERT_EQ(op.messages().size(), 1u);
      EXPECT_EQ(op.messages()[0].caption, "BEAMDOCK Error");
      port.sim().replug();
    } else {
      EXPECT_EQ(code, LINK_OK);
      EXPECT_TRUE(op.messages().empty());
    }
  }
}

}  // namespace
