// The service buttons and the output tests against the simulated detector: the frames each
// sends, the result mapping and the hold of an output test.
#include "app/core/Results.h"
#include "app/device/Service.h"
#include "app/records/ServiceRecords.h"
#include "app/core/Settings.h"
#include "link/KVTComms.h"
#include "tests/support/FastClock.h"
#include "tests/support/ProgramState.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Names = std::vector<std::string>;

// Commands the detector received after the handshake, in order.
Names Commands(const KvtSim& sim) {
  Names out;
  for (const KvtSim::Frame& f : sim.received())
    if (f.what != "B2") out.push_back(f.what);
  return out;
}

TEST(Service, EachButtonSendsItsCommandsAndMapsItsResult) {
  using C = TServiceCommand;
  const KvtSim::FaultKind E = KvtSim::FaultKind::Error, N = KvtSim::FaultKind::Nak;
  struct Case {
    C command;
    int pid, faultOn;
    KvtSim::FaultKind fault;
    uint8_t result;
    Names commands;
    double gas = 0;  // at the sensor before the zero; above the dead zone, the operator says No
  } cases[] = {
      // The calibration zeroes first: the sensor block's dead zone and a reading before it.
      {C::Calibration, 0, 0, E, 0, {"A0", "50", "81", "81", "20", "50", "42", "B3"}},
      {C::Calibration, 1, 0, E, APP_NOTKVT, {"A0", "B3"}},
      {C::Calibration, 0, 0x42, E, APP_ZEROCAL, {"A0", "50", "81", "81", "20", "50", "42", "B3"}},
      {C::Calibration, 0, 0x42, N, LINK_NAK, {"A0", "50", "81", "81", "20", "50", "42", "B3"}},
      {C::Calibration, 0, 0, E, APP_ZEROINGAS, {"A0", "50", "81", "81", "20", "B3"}, 6.7},
      {C::TurnOff, 0, 0, E, 0, {"A0", "14"}},  // no closing frame to wake it
      {C::TurnOff, 1, 0, E, APP_NOTKVT, {"A0", "B3"}},
      {C::TurnOff, 0, 0x14, E, APP_POWEROFF, {"A0", "14", "B3"}},
      // No identity asked: any product that connects takes these.
      // The identity is asked after the command, for the record.
      {C::FactoryReset, 1, 0, E, 0, {"12", "A0", "B3"}},
      {C::ClearPeak, 1, 0, E, 0, {"50", "44", "A0", "B3"}},
      {C::BumpFail, 1, 0, E, 0, {"50", "45", "A0", "B3"}},
      {C::BumpPass, 1, 0x46, E, LINK_ERROR, {"50", "46", "A0", "B3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ServiceName(c.command) + " pid " + std::to_string(c.pid));
    KvtSim::Options o;
    o.pid = static_cast<uint8_t>(c.pid);
    if (c.faultOn) o.faults.push_back({c.faultOn, c.fault, 0});
    o.sensor.t90Ms = 0;
    SimPort port(o);
    port.sim().applyGas(c.gas);
    TComKVT link;
    ScriptedOperator op;
    if (c.gas > 0) op.answer(false);
    EXPECT_EQ(RunServiceCommand(op, link, c.command), c.result);
    EXPECT_EQ(Commands(port.sim()), c.commands);
    EXPECT_EQ(op.statuses().front().text, ServiceName(c.command) + "...");
    EXPECT_EQ(op.lastStatus().text, ServiceName(c.command) + ResultText(c.result).mSuffix);
    ASSERT_EQ(op.messages().size(), c.result == 0 ? 0u : 1u);
    if (c.gas > 0) {
      ASSERT_EQ(op.questions().size(), 1u);
      EXPECT_NE(op.questions()[0].text.find("The detector reads 6.7"), std::string::npos);
    }
  }
}

TEST(Service, AnOutputTestHoldsTheConnectionOnTheGivenClockWhileTheWindowPaints) {
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  TFastClock clock(50);  // 100 ms of hold in 2 ms
  Names duringHold;
  op.onPump = [&] {
    const Names now = Commands(port.sim());
    if (now.empty() || now.back() != "B3") duringHold = now;  // the status after the close pumps too
  };
  EXPECT_EQ(RunOutputTest(op, link, OutputCommand(4), 100, clock), 0);
  EXPECT_EQ(duringHold, (Names{"34", "A0"}));
  EXPECT_EQ(op.lastStatus().text, "Vibrator... OK");
  EXPECT_EQ(Commands(port.sim()), (Names{"34", "A0", "B3"}));
}

// Identify on one detector, then another in the window: the bump is the second one's.
TEST(Service, ARecordNamesTheDetectorOfItsOwnConnection) {
  ProgramState kept;  // LoadSettings sets all of it
  TempDir dir;
  AppDir = dir.path();
  LoadSettings(AppDir);
  KvtSim::Options a, b;
  std::memcpy(a.config.mUnit.mSerial, "HXA0000001", 10);
  std::memcpy(b.config.mUnit.mSerial, "HXB0000002", 10);
  KvtSim::fillCRCs(a.config);
  KvtSim::fillCRCs(b.config);
  TComKVT link;
  ScriptedOperator op;
  {
    SimPort first(a);
    EXPECT_EQ(RunIdentifyButton(op, link), 0);
  }
  SimPort second(b);
  EXPECT_EQ(RunServiceCommand(op, link, TServiceCommand::BumpPass), 0);
  EXPECT_EQ(RunServiceCommand(op, link, TServiceCommand::BumpFail), 0);
  {
    // The detector refuses the output: it was reached, so it is on record, as unknown.
    KvtSim::Options nak = b;
    nak.faults.push_back({0x34, KvtSim::FaultKind::Nak, 0});
    SimPort third(nak);
    TFastClock clock(50);
    EXPECT_EQ(RunOutputTest(op, link, OutputCommand(4), 100, clock), LINK_NAK);
  }
  const std::vector<RServiceRecord> records =
      TRecordStore(dir.path() + "BEAMDOCK.DB", TRecordStore::TMode::Read).History("");
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].mSerial, "");
  EXPECT_EQ(records[0].Detail("detector").rfind("unknown", 0), 0u) << records[0].mDetails;
  EXPECT_EQ(records[0].mPort.rfind("no adapter /dev/pts/", 0), 0u) << records[0].mPort;
  EXPECT_EQ(records[2].mSerial, "HXB0000002");
  EXPECT_EQ(records[2].mResult, "PASS");
  EXPECT_EQ(records[2].Detail("verdict"), "hand");  // nothing measured: the operator's word
  EXPECT_EQ(records[2].Detail("note"), "verdict given by hand, no reading recorded");
  EXPECT_EQ(records[1].mResult, "FAIL");  // the detector failed its bump
  EXPECT_EQ(records[1].mPort.rfind("no adapter /dev/pts/", 0), 0u) << records[1].mPort;
  EXPECT_FALSE(records[1].mAdapter);
}

}  // namespace
