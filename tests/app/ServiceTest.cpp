// The service buttons and the output tests against the simulated detector: the frames each
// sends, the result mapping and the hold of an output test.
#include "app/Results.h"
#include "app/Service.h"
#include "link/KVTComms.h"
#include "tests/support/FastClock.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"

#include <gtest/gtest.h>

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
  } cases[] = {
      {C::Calibration, 0, 0, E, 0, {"A0", "50", "42", "B3"}},
      {C::Calibration, 1, 0, E, APP_NOTKVT, {"A0", "B3"}},
      {C::Calibration, 0, 0x42, E, APP_ZEROCAL, {"A0", "50", "42", "B3"}},
      {C::Calibration, 0, 0x42, N, LINK_NAK, {"A0", "50", "42", "B3"}},
      {C::TurnOff, 0, 0, E, 0, {"A0", "14"}},  // no closing frame to wake it
      {C::TurnOff, 1, 0, E, APP_NOTKVT, {"A0", "B3"}},
      {C::TurnOff, 0, 0x14, E, APP_POWEROFF, {"A0", "14", "B3"}},
      // No identity asked: any product that connects takes these.
      {C::FactoryReset, 1, 0, E, 0, {"12", "B3"}},
      {C::ClearPeak, 1, 0, E, 0, {"50", "44", "B3"}},
      {C::BumpFail, 1, 0, E, 0, {"50", "45", "B3"}},
      {C::BumpPass, 1, 0x46, E, LINK_ERROR, {"50", "46", "B3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ServiceName(c.command) + " pid " + std::to_string(c.pid));
    KvtSim::Options o;
    o.pid = static_cast<uint8_t>(c.pid);
    if (c.faultOn) o.faults.push_back({c.faultOn, c.fault, 0});
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    EXPECT_EQ(RunServiceCommand(op, link, c.command), c.result);
    EXPECT_EQ(Commands(port.sim()), c.commands);
    EXPECT_EQ(op.statuses().front().text, ServiceName(c.command) + "...");
    EXPECT_EQ(op.lastStatus().text, ServiceName(c.command) + ResultText(c.result).mSuffix);
    ASSERT_EQ(op.messages().size(), c.result == 0 ? 0u : 1u);
  }
}

TEST(Service, AnOutputTestHoldsTheConnectionOnTheGivenClockWhileTheWindowPaints) {
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  TFastClock clock(50);  // 100 ms of hold in 2 ms
  Names duringHold;
  op.onPump = [&] { duringHold = Commands(port.sim()); };
  EXPECT_EQ(RunOutputTest(op, link, OutputCommand(4), 100, clock), 0);
  EXPECT_GE(op.pumps(), 1);
  EXPECT_EQ(duringHold, Names{"34"});
  EXPECT_EQ(Commands(port.sim()), (Names{"34", "B3"}));
}

}  // namespace
