// The detector's command set: frames, payload orders, packet splits, trace behaviour, results
// and the limits refused before sending.
#include "tests/link/KVTCommsTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

using namespace std::chrono_literals;

// A valid 64-byte block: bytes 0..61 from `seed`, CRC in 62..63 low byte first.
Bytes Block(uint8_t seed) {
  Bytes b(64);
  std::iota(b.begin(), b.begin() + 62, seed);
  const uint16_t crc = GetCRC16(b.data(), 62);
  b[62] = static_cast<uint8_t>(crc & 0xFF);
  b[63] = static_cast<uint8_t>(crc >> 8);
  return b;
}

Bytes Slice(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + from, b.begin() + from + count); }

// Answers every 0x81 with the next `packet` bytes of `data` and everything else with ACK.
void ServePackets(ScriptedStream& port, Bytes data, int packet) {
  auto pos = std::make_shared<size_t>(0);
  port.OnWrite = [data, packet, pos](ScriptedStream& p, const Bytes& frame) {
    if (frame == Bytes{0x81, 0x60, 0xC0}) {
      Bytes chunk(static_cast<size_t>(packet), 0xEE);
      for (int i = 0; i < packet && *pos + i < data.size(); ++i) chunk[i] = data[*pos + i];
      *pos += packet;
      p.Arrive(WithCRC(chunk));
    } else {
      p.Arrive(kAck);
    }
  };
}

TEST(KVTReadBlock, TwoPacketsOrOneGiveTheSameRecord) {
  const Bytes block = Block(3);
  for (int packet : {32, 64, 16, 2}) {
    LinkOnScript t;
    ServePackets(*t.port, block, packet);
    RKVTUnitCFG unit{};
    EXPECT_EQ(t->ReadUnitCFGData(unit, packet, 64), LINK_OK) << packet;
    EXPECT_EQ(0, std::memcmp(&unit, block.data(), 64)) << packet;
    ASSERT_EQ(t.port->Frames.size(), 1u + 64 / packet);
    EXPECT_EQ(t.port->Frames[0], (Bytes{0x5F, 0x38, 0x40}));
    EXPECT_EQ(t.port->ReadCounts[1], packet + 2 + 10) << packet;
    EXPECT_EQ(t.lines.size(), 2 * t.port->Frames.size());  // every exchange traced
  }
}

TEST(KVTReadBlock, SensorBlockIsSelectedWith50) {
  LinkOnScript t;
  const Bytes block = Block(9);
  ServePackets(*t.port, block, 32);
  RKVTSensorCFG sensor{};
  EXPECT_EQ(t->ReadSensorCFGData(sensor, 32, 64), LINK_OK);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0x50, 0x3C, 0x00}));
  EXPECT_EQ(0, std::memcmp(&sensor, block.data(), 64));
}

TEST(KVTReadBlock, ACrcErrorInTheSecondPacketLeavesTheRecordUntouched) {
  LinkOnScript t;
  const Bytes block = Block(1);
  Bytes bad = WithCRC(Slice(block, 32, 32));
  bad[33] ^= 1;
  t.port->After(1, kAck).After(2, WithCRC(Slice(block, 0, 32))).After(3, bad);
  RKVTUnitCFG unit;
  std::memset(&unit, 0xAA, sizeof unit);
  EXPECT_EQ(t->ReadUnitCFGData(unit, 32, 64), LINK_CRCERROR);
  EXPECT_EQ(t.lines.back().rfind("[READ] CRCERROR:", 0), 0u);
  for (size_t i = 0; i < sizeof unit; ++i) ASSERT_EQ(reinterpret_cast<const uint8_t*>(&unit)[i], 0xAA);
}

TEST(KVTReadBlock, ABlockWithAWrongOwnCrcIsStoredAndReported) {
  LinkOnScript t;
  Bytes block = Block(5);
  block[10] ^= 0x40;
  ServePackets(*t.port, block, 32);
  RKVTUnitCFG unit{};
  EXPECT_EQ(t->ReadUnitCFGData(unit, 32, 64), LINK_BLOCKCRC);
  EXPECT_EQ(0, std::memcmp(&unit, block.data(), 64));
}

TEST(KVTReadBlock, ANakToTheSelectStopsTheRead) {
  LinkOnScript t;
  t.port->After(1, kNak);
  RKVTSensorCFG sensor{};
  EXPECT_EQ(t->ReadSensorCFGData(sensor, 32, 64), LINK_NAK);
  EXPECT_EQ(t.port->Frames.size(), 1u);
}

TEST(KVTReadBlock, SizesThatDoNotGiveExactlyOneBlockAreRefusedUnsent) {
  const std::pair<uint16_t, uint16_t> bad[] = {{0, 64}, {1, 64}, {32, 62}, {24, 64}, {32, 128}, {64, 0}, {128, 64}};
  for (auto [packet, size] : bad) {
    LinkOnScript t;
    RKVTUnitCFG unit;
    std::memset(&unit, 0x5A, sizeof unit);
    EXPECT_EQ(t->ReadUnitCFGData(unit, packet, size), LINK_LIMIT) << packet << "/" << size;
    RKVTSensorCFG sensor{};
    EXPECT_EQ(t->ReadSensorCFGData(sensor, packet, size), LINK_LIMIT);
    EXPECT_TRUE(t.port->Frames.empty());
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&unit)[0], 0x5A);
    ASSERT_EQ(t.lines.size(), 2u);
    EXPECT_EQ(t.lines[0].rfind("[LIMIT] ", 0), 0u);
  }
}

RComKVTReadBuf Image() {
  RComKVTReadBuf image{};
  image.mData = 128;
  for (int i = 0; i < 128; ++i) image.mBuf[i] = static_cast<uint8_t>(0x80 + i);
  return image;
}

TEST(KVTWriteCFG, SendsAnnounceHeaderCommandAndDataAndTracesAtTheEnd) {
  LinkOnScript t;
  t.port->OnWrite = [](ScriptedStream& p, const Bytes&) { p.Arrive(kAck); };
  const RComKVTReadBuf image = Image();
  EXPECT_EQ(t->WriteCFGData(image, 64, 10), LINK_OK);
  Bytes data(image.mBuf + 64, image.mBuf + 74);
  const std::vector<Bytes> frames{
      {0x70, 0xE4, 0x01}, {0x0A, 0x00, 0x00, 0x40, 0x28, 0x02}, {0x91, 0xAC, 0xC1}, WithCRC(data)};
  EXPECT_EQ(t.port->Frames, frames);
  ASSERT_EQ(t.lines.size(), 8u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t.lines[2 * i], "[SEND] " + Hex(frames[i]));
    EXPECT_EQ(t.lines[2 * i + 1], "[READ] ACK:B5 B7 C1 ");
  }
  for (size_t n : t.framesAtLine) EXPECT_EQ(n, 4u);  // nothing raised before the last step
}

TEST(KVTWriteCFG, HeaderCarriesSizeZeroAndAddressHighLow) {
  LinkOnScript t;
  t.port->OnWrite = [](ScriptedStream& p, const Bytes&) { p.Arrive(kAck); };
  EXPECT_EQ(t->WriteCFGData(Image(), 0x78, 8), LINK_OK);
  EXPECT_EQ(Slice(t.port->Frames[1], 0, 4), (Bytes{0x08, 0x00, 0x00, 0x78}));
  EXPECT_EQ(t.port->Frames[3].size(), 10u);
}

TEST(KVTWriteCFG, ANakToTheAnnounceSendsNothingMoreAndRaisesTwoLines) {
  LinkOnScript t;
  t.port->After(1, kNak);
  EXPECT_EQ(t->WriteCFGData(Image(), 0, 8), LINK_NAK);
  EXPECT_EQ(t.port->Frames.size(), 1u);
  EXPECT_EQ(t.lines, (std::vector<std::string>{"[SEND] 70 E4 01 ", "[READ] NAK:B6 B6 81 "}));
}

TEST(KVTWriteCFG, AFailedDataStepStillReportsEveryStepMade) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kAck).After(3, kAck).After(4, WithCRC({0x07}));
  EXPECT_EQ(t->WriteCFGData(Image(), 0, 8), LINK_ERROR);
  ASSERT_EQ(t.lines.size(), 8u);
  EXPECT_EQ(t.lines[7], "[READ] ERROR:" + Hex(WithCRC({0x07})));
}

TEST(KVTWriteCFG, RangesOutsideTheImageAreRefusedUnsent) {
  const std::pair<uint16_t, uint16_t> bad[] = {{0, 0}, {64, 0}, {120, 9}, {0, 129}, {0xFFFF, 8}, {128, 1}, {0, 255}};
  for (auto [address, size] : bad) {
    LinkOnScript t;
    EXPECT_EQ(t->WriteCFGData(Image(), address, size), LINK_LIMIT) << address << "+" << size;
    EXPECT_TRUE(t.port->Frames.empty());
    ASSERT_EQ(t.lines.size(), 1u);
    EXPECT_EQ(t.lines[0].rfind("[LIMIT] ", 0), 0u);
  }
  LinkOnScript edge;
  edge.port->OnWrite = [](ScriptedStream& p, const Bytes&) { p.Arrive(kAck); };
  EXPECT_EQ(edge->WriteCFGData(Image(), 0, 128), LINK_OK);
  EXPECT_EQ(edge.port->Frames[3].size(), 130u);
}

TEST(KVTWriteTime, SendsTheValueLowByteFirst) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kAck);
  EXPECT_EQ(t->WriteCFGTimeData(0x00012345), LINK_OK);
  EXPECT_EQ(t.port->Frames, (std::vector<Bytes>{{0x71, 0x24, 0xC0}, {0x45, 0x23, 0x01, 0x00, 0x56, 0xE5}}));
  ASSERT_EQ(t.lines.size(), 4u);
  for (size_t n : t.framesAtLine) EXPECT_EQ(n, 2u);

  LinkOnScript nak;
  nak.port->After(1, kNak);
  EXPECT_EQ(nak->WriteCFGTimeData(1), LINK_NAK);
  EXPECT_EQ(nak.lines.size(), 2u);
}

TEST(KVTIdentity, IdentityBytesAreCopiedUnchanged) {
  LinkOnScript t;
  const Bytes id{0x92, 0x13, 0x15, 0x01, 0x00, 0x2F, 0xC2, 0x03, 'S', 'H', '1', '2', '3', '4', '5', '6', '7', '8'};
  t.port->After(1, WithCRC(id));
  RKVTIdenty identity{};
  EXPECT_EQ(t->RequireIdenty(identity), LINK_OK);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0xA0, 0x78, 0x00}));
  EXPECT_EQ(identity.mPID, 0x92);
  EXPECT_EQ(uint32_t{identity.mLife}, 0x03C22F00u);
  EXPECT_EQ(0, std::memcmp(identity.mSerial, "SH12345678", 10));
}

TEST(KVTIdentity, AStatusInsteadOfDataIsNoResponseAndLeavesTheRecord) {
  LinkOnScript t;
  t.port->After(1, kNak);
  RKVTIdenty identity{};
  identity.mPID = 0x42;
  EXPECT_EQ(t->RequireIdenty(identity), LINK_NORESPONSE);
  EXPECT_EQ(identity.mPID, 0x42);
}

TEST(KVTSensorReading, ModesSendTheirCommandAndCopyTheReading) {
  const Bytes frames[] = {{0x20, 0xD8, 0x01}, {0x21, 0x18, 0xC0}, {0x22, 0x19, 0x80}};
  for (uint8_t mode = 0; mode < 3; ++mode) {
    LinkOnScript t;
    t.port->After(1, WithCRC({0x34, 0x12, 0x78, 0x56, 0x83, 0x01}));
    RKVTSensor reading{};
    EXPECT_EQ(t->RequireSensor(reading, mode), LINK_OK);
    EXPECT_EQ(t.port->Frames[0], frames[mode]);
    EXPECT_EQ(uint16_t{reading.mSensor}, 0x1234);
    EXPECT_EQ(uint16_t{reading.mPeak}, 0x5678);
    EXPECT_EQ(reading.mHistory, 0x83);
  }
  LinkOnScript t;
  RKVTSensor reading{};
  EXPECT_EQ(t->RequireSensor(reading, 3), LINK_LIMIT);
  EXPECT_TRUE(t.port->Frames.empty());
}

TEST(KVTLog, ReadsWholePacketsUpToTheReportedSize) {
  LinkOnScript t;
  Bytes log(96);
  std::iota(log.begin(), log.end(), 1);
  t.port->After(1, kAck).After(2, WithCRC({0x5A, 0x00, 0x00, 0x00}));
  for (int i = 0; i < 3; ++i) t.port->After(3 + i, WithCRC(Slice(log, 32 * i, 32)));
  std::vector<uint8_t> got{1, 2, 3};
  EXPECT_EQ(t->LoadLog(got, 32), LINK_OK);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0x60, 0x28, 0x00}));
  EXPECT_EQ(t.port->Frames[1], (Bytes{0xA1, 0xB8, 0xC1}));
  EXPECT_EQ(WithCRC({0x5A, 0x00, 0x00, 0x00}), (Bytes{0x5A, 0x00, 0x00, 0x00, 0xD8, 0x12}));
  EXPECT_EQ(t.port->Frames.size(), 5u);
  EXPECT_EQ(got, Slice(log, 0, 90));  // cut to the reported size
}

TEST(KVTLog, AFailedPacketKeepsTheBytesSoFar) {
  LinkOnScript t;
  Bytes bad = WithCRC(Bytes(32, 2));
  bad.back() ^= 0xFF;
  t.port->After(1, kAck).After(2, WithCRC({64, 0, 0, 0})).After(3, WithCRC(Bytes(32, 1))).After(4, bad);
  std::vector<uint8_t> got;
  EXPECT_EQ(t->LoadLog(got, 32), LINK_CRCERROR);
  EXPECT_EQ(got.size(), 32u);
}

// Any length a detector may keep is read whole; one beyond the bound is refused before the
// first packet, as are packet sizes the frame cannot carry.
TEST(KVTLog, TheWholeLogUpToTheBoundAndNothingBeyond) {
  struct Case {
    int32_t size;
    int packet;
    uint8_t code;
    size_t bytes;
  };
  const int bound = link_limits::kMaxLogBytes;
  const Case cases[] = {{-1, 32, LINK_OK, 0},           {0, 32, LINK_OK, 0},
                        {1025, 32, LINK_OK, 1025},      {13509, 32, LINK_OK, 13509},  // 1,500 entries and the end mark
                        {bound, 32, LINK_OK, size_t(bound)}, {bound - 5, 1000, LINK_LOGSIZE, 0},
                        {bound + 1, 32, LINK_LOGSIZE, 0}, {INT32_MAX, 32, LINK_LOGSIZE, 0},
                        {INT32_MIN, 32, LINK_OK, 0}};
  for (const Case& c : cases) {
    LinkOnScript t;
    uint8_t le[4];
    std::memcpy(le, &c.size, 4);
    Bytes content(static_cast<size_t>(bound) + 1000);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7);
    ServePackets(*t.port, content, c.packet);
    auto serve = t.port->OnWrite;
    t.port->OnWrite = [serve, le](ScriptedStream& p, const Bytes& frame) {
      if (frame == Bytes{0xA1, 0xB8, 0xC1})
        p.Arrive(WithCRC({le[0], le[1], le[2], le[3]}));
      else
        serve(p, frame);
    };
    std::vector<uint8_t> got;
    EXPECT_EQ(t->LoadLog(got, c.packet), c.code) << c.size << "/" << c.packet;
    ASSERT_EQ(got.size(), c.bytes) << c.size;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin())) << c.size;
    if (c.bytes == 0) EXPECT_EQ(t.port->Frames.size(), 2u) << c.size;
    if (c.code == LINK_LOGSIZE) EXPECT_EQ(t.lines.back().rfind("[LIMIT] ", 0), 0u);
  }
  LinkOnScript t;
  std::vector<uint8_t> got;
  EXPECT_EQ(t->LoadLog(got, 0), LINK_LIMIT);
  EXPECT_EQ(t->LoadLog(got, 1), LINK_LIMIT);
  EXPECT_EQ(t->LoadLog(got, 1023), LINK_LIMIT);
}

struct Simple {
  uint8_t (TComKVT::*op)();
  Bytes frame;
  long timeoutUs;
};

TEST(KVTSimpleCommands, SendTheirFrameWithTheirTimeOut) {
  const Simple cases[] = {{&TComKVT::LogReset, {0x13, 0xCD, 0x41}, 500000},
                          {&TComKVT::UpgradeStart, {0x10, 0xCC, 0x01}, 100000},
                          {&TComKVT::UpgradeExecute, {0x11, 0x0C, 0xC0}, 500000},
                          {&TComKVT::ResetUnit, {0x14, 0x0F, 0x00}, 500000},
                          {&TComKVT::FactoryReset, {0x12, 0x0D, 0x80}, 500000},
                          {&TComKVT::SendHibernate, {0x17, 0x0E, 0x40}, 100000},
                          {&TComKVT::ConnectKVTCheck, {0xB2, 0x75, 0x80}, 100000},
                          {&TComKVT::KillKVT, {0xB3, 0xB5, 0x41}, 100000}};
  for (const Simple& c : cases) {
    LinkOnScript t;
    t.port->After(1, kAck, 20ms);
    EXPECT_EQ(((*t.link).*c.op)(), LINK_OK) << Hex(c.frame);
    EXPECT_EQ(t.port->Frames, std::vector<Bytes>{c.frame});
    ASSERT_FALSE(t.port->WaitTimeouts.empty()) << Hex(c.frame);
    EXPECT_GT(t.port->WaitTimeouts[0], c.timeoutUs - 20000) << Hex(c.frame);
    EXPECT_LE(t.port->WaitTimeouts[0], c.timeoutUs + 1) << Hex(c.frame);
    EXPECT_EQ(t.lines.size(), 2u);
  }
}

TEST(KVTUpgrade, ASuccessfulPacketLeavesNoTrace) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kAck);
  RComKVTReadBuf packet{};
  packet.mData = 128;
  for (int i = 0; i < 128; ++i) packet.mBuf[i] = static_cast<uint8_t>(i * 3);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(t->UpgradeData(3, packet), LINK_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4ms);  // the pause after the packet
  ASSERT_EQ(t.port->Frames.size(), 2u);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0x93, 0x6D, 0x40}));
  EXPECT_EQ(t.port->Frames[1], WithCRC(Bytes(packet.mBuf, packet.mBuf + 128)));
  EXPECT_TRUE(t.lines.empty());
  EXPECT_EQ(t->FSendLog, "");  // the packet is never put in the trace
}

TEST(KVTUpgrade, ARefusedPacketShowsTheCommandExchangeAndThePacketsAnswer) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kNak);
  RComKVTReadBuf packet{};
  packet.mData = 16;
  EXPECT_EQ(t->UpgradeData(1, packet), LINK_NAK);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0x91, 0xAC, 0xC1}));
  EXPECT_EQ(t.lines, (std::vector<std::string>{"[SEND] 91 AC C1 ", "[READ] ACK:B5 B7 C1 ", "[READ] NAK:B6 B6 81 "}));

  LinkOnScript first;
  first.port->After(1, kNak);
  EXPECT_EQ(first->UpgradeData(1, packet), LINK_NAK);
  EXPECT_EQ(first.port->Frames.size(), 1u);
  EXPECT_EQ(first.lines.size(), 2u);
}

TEST(KVTUpgrade, PointersAndPacketSizesOutsideTheLimitsAreRefused) {
  LinkOnScript t;
  RComKVTReadBuf packet{};
  packet.mData = 128;
  EXPECT_EQ(t->UpgradeData(2, packet), LINK_LIMIT);
  EXPECT_EQ(t->UpgradeData(0, packet), LINK_LIMIT);
  packet.mData = 0;
  EXPECT_EQ(t->UpgradeData(1, packet), LINK_LIMIT);
  packet.mData = 1023;
  EXPECT_EQ(t->UpgradeData(1, packet), LINK_LIMIT);
  packet.mData = -5;
  EXPECT_EQ(t->UpgradeData(1, packet), LINK_LIMIT);
  EXPECT_TRUE(t.port->Frames.empty());
}

TEST(KVTCalibration, SelectsTheSensorFirstThenSendsTheAction) {
  for (uint8_t action = 0x40; action <= 0x46; ++action) {
    LinkOnScript t;
    t.port->After(1, kAck).After(2, kAck, 20ms);
    EXPECT_EQ(t->SensorCalibration(action), LINK_OK);
    ASSERT_EQ(t.port->Frames.size(), 2u);
    EXPECT_EQ(t.port->Frames[0], (Bytes{0x50, 0x3C, 0x00}));
    EXPECT_EQ(t.port->Frames[1], WithCRC({action}));
    EXPECT_GT(t.port->WaitTimeouts.back(), 400000);  // the action has the long time-out
  }
  LinkOnScript zero;
  zero.port->After(1, kAck).After(2, kAck);
  zero->SensorCalibration(0x40);
  EXPECT_EQ(zero.port->Frames[1], (Bytes{0x40, 0xF0, 0x01}));

  LinkOnScript nak;
  nak.port->After(1, kNak);
  EXPECT_EQ(nak->SensorCalibration(0x41), LINK_NAK);
  EXPECT_EQ(nak.port->Frames.size(), 1u);

  LinkOnScript negative;
  negative.port->After(1, kAck).After(2, WithCRC({0x01}));
  EXPECT_EQ(negative->SensorCalibration(0x42), LINK_ERROR);

  LinkOnScript bad;
  EXPECT_EQ(bad->SensorCalibration(0x47), LINK_LIMIT);
  EXPECT_EQ(bad->SensorCalibration(0x3F), LINK_LIMIT);
  EXPECT_TRUE(bad.port->Frames.empty());
}

TEST(KVTEEPROM, DefaultsRead31PacketsAndMarkTheEndWithFF) {
  LinkOnScript t;
  Bytes eeprom(1024);
  std::iota(eeprom.begin(), eeprom.end(), 0);
  ServePackets(*t.port, eeprom, 32);
  RComKVTReadBuf buf{};
  EXPECT_EQ(t->ReadEEPROMData(buf, 32, 0, 1024), LINK_OK);
  ASSERT_EQ(t.port->Frames.size(), 33u);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0x70, 0xE4, 0x01}));
  EXPECT_EQ(t.port->Frames[1], (Bytes{0x20, 0x00, 0x00, 0x00, 0xC0, 0x0B}));
  EXPECT_EQ(buf.mData, 992);
  EXPECT_EQ(Bytes(buf.mBuf, buf.mBuf + 992), Slice(eeprom, 0, 992));
  EXPECT_EQ(Bytes(buf.mBuf + 992, buf.mBuf + 1024), Bytes(32, 0xFF));
}

TEST(KVTEEPROM, HeaderCarriesPacketAndStartAndASmallMaxReadsOnePacket) {
  for (uint16_t max : {0, 16, 32, 64}) {
    LinkOnScript t;
    ServePackets(*t.port, Bytes(64, 0x33), 32);
    RComKVTReadBuf buf{};
    EXPECT_EQ(t->ReadEEPROMData(buf, 32, 0x1234, max), LINK_OK) << max;
    EXPECT_EQ(Slice(t.port->Frames[1], 0, 4), (Bytes{0x20, 0x00, 0x12, 0x34}));
    EXPECT_EQ(t.port->Frames.size(), 3u) << max;
    EXPECT_EQ(buf.mData, 32);
  }
}

TEST(KVTEEPROM, ReadsThatDoNotLeaveRoomForTheFFPacketAreRefused) {
  struct Case {
    uint16_t packet, max;
    bool fits;
  };
  const Case cases[] = {{32, 1024, true},  {64, 1024, true}, {32, 1025, false}, {32, 1056, false},
                        {100, 1024, false}, {0, 64, false}, {1, 16, false},  {256, 512, false},  {255, 500, true}};
  for (const Case& c : cases) {
    LinkOnScript t;
    ServePackets(*t.port, Bytes(1024, 0x44), c.packet);
    RComKVTReadBuf buf{};
    buf.mData = 9;
    EXPECT_EQ(t->ReadEEPROMData(buf, c.packet, 0, c.max), c.fits ? LINK_OK : LINK_LIMIT) << c.packet << "/" << c.max;
    if (!c.fits) {
      EXPECT_TRUE(t.port->Frames.empty());
      EXPECT_EQ(buf.mData, 0);
    } else {
      EXPECT_LE(buf.mData + c.packet, 1024);
    }
  }
}

TEST(KVTEEPROM, AFailedPacketEndsTheReadWithTheBytesSoFar) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kAck).After(3, WithCRC(Bytes(32, 1)));
  RComKVTReadBuf buf{};
  EXPECT_EQ(t->ReadEEPROMData(buf, 32, 0, 1024), LINK_NORESPONSE);
  EXPECT_EQ(buf.mData, 32);
}

TEST(KVTOutputs, EachOutputHasItsCommandAndOthersAreRefused) {
  const std::pair<uint8_t, Bytes> outputs[] = {
      {0x30, {0x30, 0x14, 0x00}}, {0x31, {0x31, 0xD4, 0xC1}}, {0x32, {0x32, 0xD5, 0x81}}, {0x34, {0x34, 0xD7, 0x01}}};
  for (const auto& [com, frame] : outputs) {
    LinkOnScript t;
    t.port->After(1, kAck);
    EXPECT_EQ(t->AVOn(com), LINK_OK);
    EXPECT_EQ(t.port->Frames, std::vector<Bytes>{frame});
  }
  LinkOnScript t;
  EXPECT_EQ(t->AVOn(0x33), LINK_LIMIT);
  EXPECT_TRUE(t.port->Frames.empty());
}

}  // namespace
