#include "tests/sim/PtyPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

const Bytes kConnect = {0xB2, 0x75, 0x80};

TEST(SimHandshake, SilentUntilConnectThenAnswersUntilEnd) {
  SimRig r;
  // Commands before the connect frame get nothing.
  r.port->send({0x5F});
  EXPECT_TRUE(r.port->quiet(60));
  r.port->writeRaw(kConnect);
  EXPECT_EQ(r.port->read(3), kAck);
  EXPECT_EQ(r.sim->state(), KvtSim::State::Connected);
  EXPECT_EQ(r.x({0x5F}, 3), kAck);
  // End of connection is acknowledged, then the unit is silent again.
  EXPECT_EQ(r.x({0xB3}, 3), kAck);
  EXPECT_EQ(r.sim->state(), KvtSim::State::Silent);
  r.port->send({0x5F});
  EXPECT_TRUE(r.port->quiet(60));
}

TEST(SimHandshake, RepeatedConnectFramesGetOneAcknowledgement) {
  SimRig r;
  // A burst that queued up before the unit read it: only the last is answered.
  r.port->writeRaw({0xB2, 0x75, 0x80, 0xB2, 0x75, 0x80, 0xB2, 0x75, 0x80});
  EXPECT_EQ(r.port->read(3), kAck);
  EXPECT_TRUE(r.port->quiet(40));
}

TEST(SimHandshake, EchoPrecedesAcknowledgement) {
  KvtSim::Options o;
  o.echoHandshake = true;
  o.ignoreConnects = 2;
  SimRig r(o);
  r.port->writeRaw(kConnect);
  EXPECT_EQ(r.port->read(3), kConnect);  // ignored, but the adapter still echoes
  EXPECT_TRUE(r.port->quiet(30));
  r.port->writeRaw(kConnect);
  EXPECT_EQ(r.port->read(3), kConnect);
  r.port->writeRaw(kConnect);
  EXPECT_EQ(r.port->read(6), (Bytes{0xB2, 0x75, 0x80, 0xB5, 0xB7, 0xC1}));
  // The connection check is not echoed unless asked for. It comes after a command or a pause
  // (a connect frame soon after the acknowledgement is the host's repeat and gets no answer).
  EXPECT_EQ(r.x({0xB2}, 3, 30), Bytes{});
  std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_EQ(r.x({0xB2}, 3), kAck);
}

TEST(SimHandshake, EchoOfConnectionCheck) {
  KvtSim::Options o;
  o.echoCheck = true;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_EQ(r.x({0xB2}, 6), (Bytes{0xB2, 0x75, 0x80, 0xB5, 0xB7, 0xC1}));
}

TEST(SimHandshake, HostStyleHandshakeWithEchoAndIgnoredFrames) {
  KvtSim::Options o;
  o.echoHandshake = true;
  o.ignoreConnects = 20;
  SimRig r(o);
  bool ok = false;
  const Bytes seen = r.port->connect(2000, &ok);
  ASSERT_TRUE(ok);
  // Everything seen was echoes and the one acknowledgement.
  ASSERT_EQ(seen.size() % 3, 0u);
  size_t acks = 0;
  for (size_t i = 0; i < seen.size(); i += 3) {
    const Bytes t(seen.begin() + i, seen.begin() + i + 3);
    if (t == kAck) ++acks;
    else EXPECT_EQ(t, kConnect);
  }
  EXPECT_EQ(acks, 1u);
  EXPECT_GE(seen.size() / 3, 21u);
}

TEST(SimHandshake, SlowAnswerLeavesNoStrayAcknowledgementBehind) {
  // The host keeps repeating the connect frame while the unit takes its time; only one
  // acknowledgement may come back, or it would land in the first exchange.
  KvtSim::Options o;
  o.replyDelayMs = 15;
  SimRig r(o);
  bool ok = false;
  const Bytes seen = r.port->connect(1000, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(seen, kAck);
  const Bytes id = r.x({0xA0}, 20, 300);
  EXPECT_EQ(id.size(), 20u);
  EXPECT_TRUE(crcValid(id));
  EXPECT_TRUE(r.port->quiet(40));
}

TEST(SimHandshake, TerminalSurvivesManyOpenCloseCycles) {
  KvtSim sim;
  sim.start();
  // Taken exclusively each time, as the tool does: the flag must not outlive the close
  // (it would, on a pseudo-terminal, and refuse every later open but root's).
  for (int i = 0; i < 30; ++i) {
    PtyPort p(sim.devicePath(), true);
    bool ok = false;
    p.connect(1000, &ok);
    ASSERT_TRUE(ok) << "cycle " << i;
    EXPECT_EQ(p.exchange({0xB3}, 3), kAck);
  }
}

TEST(SimIdentity, FollowsTheConfiguration) {
  KvtSim::Options o;
  o.pid = 3;
  o.config.mUnit.mHWVersion = 7;
  o.config.mUnit.mFWVersion = 13;
  o.config.mUnit.mLifeRemaining = 0x01020304;
  std::memcpy(o.config.mUnit.mSerial, "AB12345678", 10);
  o.config.mSensor.mSensorType = 4;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  const Bytes rep = r.x({0xA0}, 20);
  ASSERT_EQ(rep.size(), 20u);
  EXPECT_TRUE(crcValid(rep));
  EXPECT_EQ(rep[0], 3);
  EXPECT_EQ(rep[1], 7);
  EXPECT_EQ(rep[2], 13);
  EXPECT_EQ(rep[3], 4);
  EXPECT_EQ((Bytes{rep.begin() + 4, rep.begin() + 8}), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(std::string(rep.begin() + 8, rep.begin() + 18), "AB12345678");

  // The sensor code can be made to disagree with the configuration.
  r.sim->modifyOptions([](KvtSim::Options& opt) { opt.identitySensor = 2; });
  EXPECT_EQ(r.x({0xA0}, 20).at(3), 2);
}

}  // namespace
