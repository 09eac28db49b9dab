// The service buttons and the output tests against the simulated detector: the frames each
// sends, the result mapping and the hold of an output test.
#include "app/Operation.h"
#include "app/Results.h"
#include "app/Service.h"
#include "link/KVTComms.h"
#include "model/DeviceUtils.h"
#include "model/SensorTypes.h"
#include "tests/support/ScriptedOperator.h"
#include "tests/support/SimPort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Commands the detector received after the handshake, in order.
std::vector<std::string> Commands(const KvtSim& sim) {
  std::vector<std::string> out;
  for (const KvtSim::Frame& f : sim.received())
    if (f.what != "B2") out.push_back(f.what);
  return out;
}

TEST(Service, EachButtonSendsItsCommandsAndMapsItsResult) {
  using C = TServiceCommand;
  using KvtFault = KvtSim::Fault;
  const KvtFault none{0, KvtSim::FaultKind::Nak, 0};
  struct Case {
    C command;
    int pid;
    KvtFault fault;
    uint8_t result;
    std::vector<std::string> commands;
    std::string status;
  } cases[] = {
      {C::Calibration, 0, none, 0, {"A0", "50", "42", "B3"}, "Calibration... OK"},
      {C::Calibration, 1, none, APP_NOTKVT, {"A0", "B3"}, "Calibration... FAIL"},
      {C::Calibration, 0, {0x42, KvtSim::FaultKind::Error, 0}, APP_ZEROCAL, {"A0", "50", "42", "B3"}, ""},
      {C::Calibration, 0, {0x42, KvtSim::FaultKind::Nak, 0}, LINK_NAK, {"A0", "50", "42", "B3"}, ""},
      // A switched-off detector gets no closing frame.
      {C::TurnOff, 0, none, 0, {"A0", "14"}, "Power Down... OK"},
      {C::TurnOff, 1, none, APP_NOTKVT, {"A0", "B3"}, ""},
      {C::TurnOff, 0, {0x14, KvtSim::FaultKind::Error, 0}, APP_POWEROFF, {"A0", "14", "B3"}, ""},
      // No identity asked: any product that connects takes them.
      {C::FactoryReset, 1, none, 0, {"12", "B3"}, "Fatory Reset... OK"},
      {C::ClearPeak, 1, none, 0, {"50", "44", "B3"}, "Clear Peak... OK"},
      {C::BumpFail, 1, none, 0, {"50", "45", "B3"}, "Send Bump Fail... OK"},
      {C::BumpPass, 1, {0x46, KvtSim::FaultKind::Error, 0}, LINK_ERROR, {"50", "46", "B3"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ServiceName(c.command) + " pid " + std::to_string(c.pid));
    KvtSim::Options o;
    o.pid = static_cast<uint8_t>(c.pid);
    if (c.fault.target) o.faults.push_back(c.fault);
    SimPort port(o);
    TComKVT link;
    ScriptedOperator op;
    EXPECT_EQ(RunServiceCommand(op, link, c.command), c.result);
    EXPECT_EQ(Commands(port.sim()), c.commands);
    EXPECT_EQ(op.statuses().front().text, ServiceName(c.command) + "...");
    if (!c.status.empty()) {
      EXPECT_EQ(op.lastStatus().text, c.status);
    }
    ASSERT_EQ(op.messages().size(), c.result == 0 ? 0u : 1u);
    if (c.result != 0) {
      EXPECT_EQ(op.messages()[0].text, ResultText(c.result).mMessage);
    }
  }
}

TEST(Service, AnOutputTestHoldsTheConnectionOnTheGivenClockWhileTheWindowPaints) {
  SimPort port;
  TComKVT link;
  ScriptedOperator op;
  auto now = std::chrono::steady_clock::now();
  const auto start = now;
  std::vector<std::string> duringHold;
  bool secondOperation = true;
  op.onPump = [&] {
    duringHold = Commands(port.sim());
    secondOperation = TOperationGuard().Acquired();
    now += std::chrono::milliseconds(30);
  };
  TOperationGuard guard;
  EXPECT_EQ(RunOutputTest(op, link, OutputCommand(4), 100, [&] { return now; }), 0);
  EXPECT_EQ(op.pumps(), 4);  // 0, 30, 60, 90 ms still hold; 120 closes
  EXPECT_EQ(now - start, std::chrono::milliseconds(120));
  EXPECT_EQ(duringHold, (std::vector<std::string>{"34"}));
  EXPECT_FALSE(secondOperation);
  EXPECT_EQ(Commands(port.sim()), (std::vector<std::string>{"34", "B3"}));
  EXPECT_EQ(port.sim().lastOutput(), 0x34);
  EXPECT_TRUE(op.statuses().empty());

  // A refused output closes at once and shows nothing.
  port.sim().clearFrames();
  port.sim().modifyOptions([](KvtSim::Options& o) { o.faults.push_back({0x30, KvtSim::FaultKind::Nak, 0}); });
  EXPECT_EQ(RunOutputTest(op, link, OutputCommand(1), 100, [&] { return now; }), LINK_NAK);
  EXPECT_EQ(op.pumps(), 4);
  EXPECT_EQ(Commands(port.sim()), (std::vector<std::string>{"30", "B3"}));
  EXPECT_TRUE(op.messages().empty());
}

}  // namespace
