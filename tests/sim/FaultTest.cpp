#include "tests/sim/PtyPort.h"

#include "model/Checksum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

KvtSim::Options withFault(int target, KvtSim::FaultKind kind, int count = 0) {
  KvtSim::Options o;
  o.faults.push_back({target, kind, count});
  return o;
}

TEST(SimFaults, NakErrorAndSilenceForOneCommand) {
  {
    SimRig r(withFault(0x5F, KvtSim::FaultKind::Nak, 2));
    ASSERT_TRUE(r.connect());
    EXPECT_EQ(r.x({0x5F}, 3), kNak);
    EXPECT_EQ(r.x({0x5F}, 3), kNak);
    EXPECT_EQ(r.x({0x5F}, 3), kAck);  // only the first two
    EXPECT_EQ(r.x({0x50}, 3), kAck);  // other commands unaffected
  }
  {
    KvtSim::Options o = withFault(0x60, KvtSim::FaultKind::Error);
    o.errorStatus = 0x01;
    SimRig r(o);
    ASSERT_TRUE(r.connect());
    EXPECT_EQ(r.x({0x60}, 3), withCrc({0x01}));
    EXPECT_EQ(r.x({0x60}, 3), withCrc({0x01}));
  }
  {
    SimRig r(withFault(0xA0, KvtSim::FaultKind::Silent));
    ASSERT_TRUE(r.connect());
    r.port->send({0xA0});
    EXPECT_TRUE(r.port->quiet(60));
    EXPECT_EQ(r.x({0xB2}, 3), kAck);
  }
}

TEST(SimFaults, FaultOnAFrameWithoutCommandByte) {
  SimRig r(withFault(KvtSim::kTargetData, KvtSim::FaultKind::Nak));
  ASSERT_TRUE(r.connect());
  const RKVTCFG before = r.sim->config();
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  ASSERT_EQ(r.port->exchange({0x01, 0x00, 0x00, 0x00}, 3), kAck);
  ASSERT_EQ(r.x({0x91}, 3), kAck);
  EXPECT_EQ(r.port->exchange({0x07}, 3), kNak);
  EXPECT_EQ(r.sim->config().mUnit.mUnitFlag, before.mUnit.mUnitFlag);
}

TEST(SimFaults, FaultOnTheConnectFrame) {
  SimRig r(withFault(0xB2, KvtSim::FaultKind::Nak, 3));
  r.port->writeRaw({0xB2, 0x75, 0x80});
  EXPECT_EQ(r.port->read(3), kNak);
  bool ok = false;
  r.port->connect(1000, &ok);  // the fourth is acknowledged
  EXPECT_TRUE(ok);
}

TEST(SimFaults, EveryNthReplyHasABadCRC) {
  KvtSim::Options o;
  o.corruptCrcEvery = 3;
  SimRig r(o);
  ASSERT_TRUE(r.connect());  // reply 1
  EXPECT_TRUE(crcValid(r.x({0xA0}, 20)));   // 2
  const Bytes bad = r.x({0xA0}, 20);        // 3
  ASSERT_EQ(bad.size(), 20u);
  EXPECT_FALSE(crcValid(bad));
  EXPECT_TRUE(crcValid(r.x({0xA0}, 20)));   // 4
  EXPECT_TRUE(crcValid(r.x({0xA0}, 20)));   // 5
  EXPECT_FALSE(crcValid(r.x({0xA0}, 20)));  // 6
}

TEST(SimFaults, RepliesInPieces) {
  KvtSim::Options o;
  o.splitBytes = 1;
  o.splitGapUs = 1000;
  SimRig r(o);
  // The handshake acknowledgement stays whole: the host takes it only from a single read.
  ASSERT_TRUE(r.connect());
  r.port->flushInput();
  r.port->send({0xA0});
  std::vector<size_t> chunks;
  const Bytes rep = r.port->readChunks(20, 500, chunks);
  ASSERT_EQ(rep.size(), 20u);
  EXPECT_TRUE(crcValid(rep));
  // More than one read: the pieces came apart. How many bytes each read finds depends on how
  // soon a loaded machine lets the reader run, so only that is checked.
  EXPECT_GE(chunks.size(), 2u);
}

TEST(SimFaults, AdapterEchoesEvenWhileTheUnitIsOff) {
  KvtSim::Options o;
  o.echoHandshake = true;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x14}, 3, 500), kAck);
  r.port->writeRaw({0xB2, 0x75, 0x80});
  EXPECT_EQ(r.port->read(3), (Bytes{0xB2, 0x75, 0x80}));
  EXPECT_TRUE(r.port->quiet(30));
  EXPECT_EQ(r.sim->received().back().what, "B2 (off)");
}

// Lower bounds only: the emulated line can be slower than asked, never faster.
TEST(SimFaults, WireTimeAndReplyDelayTakeAtLeastTheirTime) {
  KvtSim::Options o;
  o.wireTime = true;
  o.blockPacketSize = 64;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x5F}, 3), kAck);
  auto t0 = Clock::now();
  EXPECT_EQ(r.x({0x81}, 66).size(), 66u);
  EXPECT_GE(Clock::now() - t0, std::chrono::microseconds(66 * 86));

  r.sim->modifyOptions([](KvtSim::Options& opt) {
    opt.wireTime = false;
    opt.replyDelayMs = 40;
  });
  t0 = Clock::now();
  EXPECT_EQ(r.x({0xB2}, 3), kAck);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(40));
}

TEST(SimFraming, GarbageBeforeAFrameIsSkipped) {
  SimRig r;
  ASSERT_TRUE(r.connect());
  r.port->flushInput();
  r.port->writeRaw({0x00, 0x13, 0x5F, 0x38, 0x40});
  EXPECT_EQ(r.port->read(3), kAck);
  const auto rx = r.sim->received();
  ASSERT_GE(rx.size(), 2u);
  EXPECT_EQ(rx[rx.size() - 2].what, "junk");
  EXPECT_EQ(rx[rx.size() - 2].bytes, (Bytes{0x00, 0x13}));
  EXPECT_EQ(rx.back().bytes, (Bytes{0x5F, 0x38, 0x40}));
}

TEST(SimFraming, UnfinishedFrameIsDroppedAfterTheIdleGap) {
  KvtSim::Options o;
  o.idleGapMs = 5;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  r.port->writeRaw({0x5F, 0x38});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const Bytes id = r.x({0xA0}, 20);
  EXPECT_EQ(id.size(), 20u);
  EXPECT_TRUE(crcValid(id));
}

TEST(SimFraming, CommandInsteadOfAnnouncedPayloadIsTaken) {
  KvtSim::Options o;
  o.idleGapMs = 5;
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x70}, 3), kAck);
  // The host gave up and starts over with a command where a 6-byte header was due.
  EXPECT_EQ(r.x({0x5F}, 3, 200), kAck);
  EXPECT_EQ(r.x({0x81}, 34).size(), 34u);
}

TEST(SimFrameLog, EveryFrameInBothDirectionsAndInTheFile) {
  KvtSim::Options o;
  o.echoHandshake = true;
  o.logFile = ::testing::TempDir() + "sim_frames.log";
  SimRig r(o);
  ASSERT_TRUE(r.connect());
  ASSERT_EQ(r.x({0x5F}, 3), kAck);
  r.sim->stop();
  const auto rx = r.sim->received(), tx = r.sim->sent();
  ASSERT_GE(rx.size(), 2u);
  EXPECT_TRUE(rx.front().received);
  EXPECT_EQ(rx.front().bytes, (Bytes{0xB2, 0x75, 0x80}));
  EXPECT_EQ(rx.back().what, "5F");
  ASSERT_GE(tx.size(), 3u);
  EXPECT_FALSE(tx.front().received);
  EXPECT_EQ(tx.front().what, "echo");
  EXPECT_EQ(tx.back().bytes, kAck);
  EXPECT_EQ(tx.back().what, "ACK");

  std::ifstream f(o.logFile);
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string text = ss.str();
  EXPECT_NE(text.find("RX B2 75 80"), std::string::npos);
  EXPECT_NE(text.find("TX B5 B7 C1"), std::string::npos);
  EXPECT_NE(text.find("RX 5F 38 40"), std::string::npos);
  std::remove(o.logFile.c_str());
}

TEST(SimOptions, CommandLineBuildsOptions) {
  KvtSim::Options o;
  std::string err;
  ASSERT_TRUE(KvtSim::parseArgs({"--serial", "AB12", "--allow-suspend", "--pid=2", "--block-packet", "64",
                                 "--nak", "0x5F:2", "--silent", "packet", "--error", "header:1",
                                 "--error-status", "0x7E", "--gas", "-20,5,1000", "--corrupt-unit-crc",
                                 "--corrupt-sensor-crc=3", "--echo", "--wire-time", "--split", "2"},
                                o, err))
      << err;
  EXPECT_EQ(std::string(o.config.mUnit.mSerial, 10), "AB12000000");
  EXPECT_EQ(o.config.mUnit.mAllowSuspend, 0x80);
  EXPECT_EQ(o.pid, 2);
  EXPECT_EQ(o.blockPacketSize, 64);
  ASSERT_EQ(o.faults.size(), 3u);
  EXPECT_EQ(o.faults[0].target, 0x5F);
  EXPECT_EQ(o.faults[0].count, 2);
  EXPECT_EQ(o.faults[1].target, KvtSim::kTargetPacket);
  EXPECT_EQ(o.faults[1].kind, KvtSim::FaultKind::Silent);
  EXPECT_EQ(o.faults[2].kind, KvtSim::FaultKind::Error);
  EXPECT_EQ(o.errorStatus, 0x7E);
  EXPECT_EQ(o.gasCenter, -20);
  EXPECT_EQ(o.gasAmplitude, 5);
  EXPECT_EQ(o.gasPeriodMs, 1000);
  EXPECT_EQ(o.corruptUnitCrc, -1);
  EXPECT_EQ(o.corruptSensorCrc, 3);
  EXPECT_TRUE(o.echoHandshake && o.wireTime);
  EXPECT_EQ(o.splitBytes, 2);
  // The serial number changed, so the stored CRC follows it.
  EXPECT_TRUE(BlockCRCValid(reinterpret_cast<const uint8_t*>(&o.config.mUnit)));
}

TEST(SimOptions, MainStyleArgvSkipsTheProgramName) {
  const char* argv[] = {"kvt-sim", "--log-packet", "16", "--help"};
  KvtSim::Options o;
  std::string err;
  bool help = false;
  ASSERT_TRUE(KvtSim::parseArgs(4, argv, o, err, &help)) << err;
  EXPECT_EQ(o.logPacketSize, 16);
  EXPECT_TRUE(help);
}

TEST(SimOptions, BadValuesAreRefusedWithAReason) {
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--block-packet", "0"},
                                             {"--block-packet"},
                                             {"--pid", "256"},
                                             {"--nak", "bogus"},
                                             {"--nak", "0x5F:0"},
                                             {"--serial", "12345678901"},
                                             {"--event", "1,2,3"},
                                             {"--decimals", "4"},
                                             {"--frobnicate"}}) {
    KvtSim::Options o;
    std::string err;
    EXPECT_FALSE(KvtSim::parseArgs(bad, o, err)) << bad[0];
    EXPECT_FALSE(err.empty()) << bad[0];
  }
}

TEST(SimOptions, EveryOptionInTheHelpIsUnderstood) {
  const std::string help = KvtSim::helpText();
  std::set<std::string> names;
  const std::regex opt("(--[a-z][a-z-]*)");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), opt); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1]);
  EXPECT_GE(names.size(), 50u);
  for (const std::string& n : names) {
    KvtSim::Options o;
    std::string err;
    bool help = false;
    KvtSim::parseArgs({n, "1"}, o, err, &help);
    EXPECT_NE(err, "unknown option " + n) << n;
  }
}

}  // namespace
