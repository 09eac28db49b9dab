// Frame transport: frames, reply classification, collection, trace modes, port errors and
// the limits of the buffers, all against a scripted port.
#include "link/CommInt.h"
#include "tests/link/KVTCommsTestUtil.h"

#include "link/USBtoUART.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::exception_ptr PortError(const char* what) { return std::make_exception_ptr(std::runtime_error(what)); }

TEST(KVTFrames, RequestFramesCarryCommandPayloadAndCrcHighByteFirst) {
  LinkOnScript t;
  const uint8_t header[4] = {0x0A, 0x00, 0x00, 0x40};
  const uint8_t value[4] = {0x45, 0x23, 0x01, 0x00};
  t.port->After(1, kAck).After(2, kAck).After(3, kAck).After(4, kAck);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t->SendPacket(0, 0, header, 4, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t->SendPacket(0, 0, value, 4, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t->SendCommand(0, 0x81, 3, 0.1f), LINK_OK);
  ASSERT_EQ(t.port->Frames.size(), 4u);
  EXPECT_EQ(t.port->Frames[0], (Bytes{0x5F, 0x38, 0x40}));
  EXPECT_EQ(t.port->Frames[1], (Bytes{0x0A, 0x00, 0x00, 0x40, 0x28, 0x02}));
  EXPECT_EQ(t.port->Frames[2], (Bytes{0x45, 0x23, 0x01, 0x00, 0x56, 0xE5}));
  EXPECT_EQ(t.port->Frames[3], (Bytes{0x81, 0x60, 0xC0}));
  EXPECT_EQ(t->FSendBuf.mData, 3);
  EXPECT_EQ(t.lines[0], "[SEND] 5F 38 40 ");
  EXPECT_EQ(t.lines[2], "[SEND] 0A 00 00 40 28 02 ");
}

struct Classified {
  Bytes reply;
  uint8_t result;
  const char* line;
};

class KVTStatusReply : public ::testing::TestWithParam<Classified> {};

TEST_P(KVTStatusReply, IsClassifiedWithItsPrefix) {
  LinkOnScript t;
  t.port->After(1, GetParam().reply);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), GetParam().result);
  ASSERT_EQ(t.lines.size(), 2u);
  EXPECT_EQ(t.lines[0], "[SEND] 5F 38 40 ");
  EXPECT_EQ(t.lines[1], GetParam().line);
  EXPECT_EQ(t->FRevLog, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, KVTStatusReply,
    ::testing::Values(Classified{kAck, LINK_OK, "[READ] ACK:B5 B7 C1 "},
                      Classified{kNak, LINK_NAK, "[READ] NAK:B6 B6 81 "},
                      Classified{{0xB5, 0xB7, 0x00}, LINK_OK, "[READ] WRONGACK:B5 B7 00 "},
                      Classified{{0xB5, 0xB7, 0xFF}, LINK_OK, "[READ] WRONGACK:B5 B7 FF "},
                      Classified{{0x00, 0x00, 0x00}, LINK_NORESPONSE, "[READ] NORESPONSE:00 00 00 "},
                      Classified{{0xB2, 0x75, 0x80}, LINK_NORESPONSE, "[READ] NORESPONSE:B2 75 80 "},
                      Classified{{0x01, 0xC0, 0xC1}, LINK_ERROR, "[READ] ERROR:01 C0 C1 "},
                      Classified{{0xB5, 0xB6, 0xC1}, LINK_CRCERROR, "[READ] CRCERROR:B5 B6 C1 "},
                      Classified{{0xB6, 0xB6, 0x80}, LINK_CRCERROR, "[READ] CRCERROR:B6 B6 80 "}));

TEST(KVTExchange, ReplyInPiecesIsAssembledAndDecidedOnlyWhenComplete) {
  LinkOnScript t;
  const Bytes reply = WithCRC({1, 2, 3, 4, 5, 6});
  t.port->After(1, {reply.begin(), reply.begin() + 1}, 2ms)
      .After(1, {reply.begin() + 1, reply.begin() + 5}, 4ms)
      .After(1, {reply.begin() + 5, reply.end()}, 6ms);
  EXPECT_EQ(t->SendCommand(0, 0x20, 8, 0.5f), LINK_OK);
  EXPECT_EQ(t->FReadBuf.mData, 8);
  EXPECT_EQ(Bytes(t->FReadBuf.mBuf, t->FReadBuf.mBuf + 8), reply);
  EXPECT_EQ(t.lines[1], "[READ] " + Hex(reply));
  // It waited for the port instead of polling it in a loop.
  EXPECT_LE(t.port->ReadCounts.size(), 8u);
  EXPECT_GE(t.port->WaitTimeouts.size(), 1u);
}

TEST(KVTExchange, ReturnsWhenTheLastByteArrivesNotAtTheTimeOut) {
  LinkOnScript t;
  t.port->After(1, kAck, 20ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(t->SendCommand(0, 0x13, 3, 5.0f), LINK_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_FALSE(t.port->WaitTimeouts.empty());
  EXPECT_GT(t.port->WaitTimeouts[0], 4'000'000);  // waited with the time-out it was given
}

TEST(KVTExchange, ALongWaitLetsTheWindowRepaint) {
  LinkOnScript t;
  int calls = 0;
  t->IdleHook = [&] { ++calls; };
  t.port->After(1, kAck, 5ms);
  EXPECT_EQ(t->SendCommand(0, 0x13, 3, 0.5f), LINK_OK);
  EXPECT_EQ(calls, 0);  // a prompt answer is not interrupted
  EXPECT_EQ(t->SendCommand(0, 0x13, 3, 0.2f), LINK_NORESPONSE);
  EXPECT_GE(calls, 1);
  EXPECT_LE(calls, 4);
}

// A repaint that outlasts the time-out must not throw away the answer that came meanwhile.
TEST(KVTExchange, AnAnswerThatCameDuringASlowRepaintCounts) {
  const std::function<uint8_t(TComKVT&)> waits[] = {
      [](TComKVT& l) { return l.SendCommand(0, 0x13, 3, 0.1f); },
      [](TComKVT& l) { return l.ConnectKVT(0.1f); },
  };
  for (const auto& wait : waits) {
    LinkOnScript t;
    t->IdleHook = [&] {
      if (t.port->PendingPieces() == 0) t.port->Arrive(kAck);
      std::this_thread::sleep_for(150ms);
    };
    EXPECT_EQ(wait(*t.link), LINK_OK);
  }
}

TEST(KVTExchange, ExtraBytesStayInTheBufferAndTraceButNotInTheCheck) {
  LinkOnScript t;
  Bytes reply = kAck;
  reply.insert(reply.end(), {0x11, 0x22});
  t.port->After(1, reply);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t->FReadBuf.mData, 5);
  EXPECT_EQ(t.lines[1], "[READ] ACK:B5 B7 C1 11 22 ");
}

TEST(KVTExchange, StatusBytesOfDataRepliesAreNotInterpreted) {
  LinkOnScript t;
  const Bytes reply = WithCRC({0xB6, 1, 2, 3, 4, 5});
  t.port->After(1, reply);
  EXPECT_EQ(t->SendCommand(0, 0x20, 8, 0.1f), LINK_OK);
  EXPECT_EQ(t.lines[1], "[READ] " + Hex(reply));
}

// The damaged-ACK leniency is for 3-byte status replies only: a data reply that happens to
// begin like an ACK and fails its CRC is damaged data, never a success.
TEST(KVTExchange, ADataReplyThatLooksLikeAnAckButFailsItsCrcIsACrcError) {
  LinkOnScript t;
  Bytes reply = WithCRC({0xB5, 0xB7, 0xC1, 4, 5, 6});
  reply.back() ^= 0x01;
  t.port->After(1, reply);
  EXPECT_EQ(t->SendCommand(0, 0x20, 8, 0.1f), LINK_CRCERROR);
  EXPECT_EQ(t.lines[1], "[READ] CRCERROR:" + Hex(reply));
}

TEST(KVTExchange, ConsecutiveRequestsAreAtLeastOneMillisecondApart) {
  LinkOnScript t;
  for (int n = 1; n <= 5; ++n) t.port->After(n, kAck);
  for (int n = 0; n < 5; ++n) EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
  ASSERT_EQ(t.port->WriteTimes.size(), 5u);
  for (size_t i = 1; i < t.port->WriteTimes.size(); ++i)
    EXPECT_GE(t.port->WriteTimes[i] - t.port->WriteTimes[i - 1], 1ms) << "between requests " << i << " and " << i + 1;
}

TEST(KVTExchange, NakWhenDataIsExpectedRunsIntoTheTimeOut) {
  LinkOnScript t;
  t.port->After(1, kNak);
  EXPECT_EQ(t->SendCommand(0, 0xA0, 20, 0.05f), LINK_NORESPONSE);
  EXPECT_EQ(t->FReadBuf.mData, 3);
  EXPECT_EQ(t.lines[1], "[READ] B6 B6 81 ");
}

TEST(KVTExchange, NothingReceivedGivesNoResponseAndABareReadLine) {
  LinkOnScript t;
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.02f), LINK_NORESPONSE);
  EXPECT_EQ(t.lines, (std::vector<std::string>{"[SEND] 5F 38 40 ", "[READ] "}));
  EXPECT_LE(t.times[0], t.times[1]);
}

TEST(KVTExchange, ZeroTimeOutWritesButNeverReads) {
  LinkOnScript t;
  t.port->After(0, kAck);  // already waiting, and purged anyway
  t.port->After(1, kAck);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.0f), LINK_NORESPONSE);
  EXPECT_EQ(t.port->Frames.size(), 1u);
  EXPECT_TRUE(t.port->ReadCounts.empty());
  EXPECT_EQ(t->FRevLog, "[READ] ");
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, -1.0f), LINK_NORESPONSE);
  EXPECT_TRUE(t.port->ReadCounts.empty());
}

TEST(KVTExchange, EarlierBytesArePurgedBeforeTheWrite) {
  LinkOnScript t;
  t.port->After(0, {0xB6, 0xB6, 0x81});
  t.port->After(1, kAck);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t.port->Purges, 1);
}

TEST(KVTExchange, ReadsAskForTheReplyPlusTenBytes) {
  LinkOnScript t;
  t.port->After(1, WithCRC(Bytes(32, 7)));
  EXPECT_EQ(t->SendCommand(0, 0x81, 34, 0.1f), LINK_OK);
  ASSERT_FALSE(t.port->ReadCounts.empty());
  EXPECT_EQ(t.port->ReadCounts[0], 44);
}

TEST(KVTTraceModes, ModeZeroRaisesModeOneBuildsModeTwoLeavesTheRequestOut) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kAck).After(3, kAck);
  EXPECT_EQ(t->SendCommand(1, 0x70, 3, 0.1f), LINK_OK);
  EXPECT_TRUE(t.lines.empty());
  EXPECT_EQ(t->FSendLog, "[SEND] 70 E4 01 ");
  EXPECT_EQ(t->FRevLog, "[READ] ACK:B5 B7 C1 ");
  RKVTLogRead rec;
  EXPECT_FALSE(rec.mOK);
  t->GetLogRead(rec);
  EXPECT_TRUE(rec.mOK);
  EXPECT_EQ(rec.mSendLog, "[SEND] 70 E4 01 ");
  EXPECT_EQ(rec.mRevLog, "[READ] ACK:B5 B7 C1 ");
  EXPECT_EQ(rec.mSendTime, t->FSendTime);
  EXPECT_EQ(rec.mRevTime, t->FRevTime);

  EXPECT_EQ(t->SendCommand(2, 0x70, 3, 0.1f), LINK_OK);
  EXPECT_TRUE(t.lines.empty());
  EXPECT_EQ(t->FSendLog, "");
  EXPECT_EQ(t->FRevLog, "[READ] ACK:B5 B7 C1 ");

  EXPECT_EQ(t->SendCommand(0, 0x70, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t.lines.size(), 2u);
  EXPECT_EQ(t.times[0], t->FSendTime);
  EXPECT_EQ(t.times[1], t->FRevTime);
}

TEST(KVTTraceModes, WithoutAHandlerTheExchangeIsTheSame) {
  LinkOnScript t(false);
  t.port->After(1, kNak);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_NAK);
  EXPECT_EQ(t->FRevLog, "[READ] NAK:B6 B6 81 ");
}

TEST(KVTTraceModes, AThrowingHandlerDoesNotChangeTheResult) {
  LinkOnScript t;
  t->FOnKVTEvent = [](TComKVT*, TDateTime, const std::string&) { throw std::runtime_error("memo full"); };
  t.port->After(1, kAck).After(2, kAck);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
  // Once the handler works again, the first line it gets says what it missed.
  std::vector<std::string> lines;
  t->FOnKVTEvent = [&](TComKVT*, TDateTime, const std::string& sLog) { lines.push_back(sLog); };
  EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
  EXPECT_EQ(lines, (std::vector<std::string>{"[TRACE] 2 line(s) lost: memo full", "[SEND] 5F 38 40 ",
                                             "[READ] ACK:B5 B7 C1 "}));
}

TEST(KVTPortErrors, AreCaughtInsideTheExchangeAsPortErrorWithTheirReasonKept) {
  const std::exception_ptr port = std::make_exception_ptr(ECommError("Read error (Error: 5) ", 5));
  for (auto op : {ScriptedStream::Op::Write, ScriptedStream::Op::Read, ScriptedStream::Op::Purge,
                  ScriptedStream::Op::Wait}) {
    LinkOnScript t;
    t.port->FailAt(op, 1, port);
    t.port->After(1, {0xB5, 0xB7}, 5ms);  // make sure the collection waits at least once
    t.port->After(1, {0xC1}, 10ms);
    EXPECT_EQ(t->SendCommand(0, 0x5F, 3, 0.1f), LINK_PORTERROR) << static_cast<int>(op);
    EXPECT_EQ(t.lines, (std::vector<std::string>{"[SEND] 5F 38 40 ", "[READ] ",
                                                 "[PORT] exchange: Read error (Error: 5)  (errno 5)"}));
    EXPECT_EQ(t->LastPortError().mText, "Read error (Error: 5) ");
    EXPECT_EQ(t->LastPortError().mErrno, 5);
  }
  // Errors no result can carry: a failing close and a failing handshake write still leave
  // their reason, the first under the trace.
  LinkOnScript t;
  t.port->FailAt(ScriptedStream::Op::Close, 1, PortError("Close error"));
  t->ComClose();
  EXPECT_EQ(t.lines, (std::vector<std::string>{"[PORT] ComClose: Close error (errno -1)"}));
  t.port->FailFrom(ScriptedStream::Op::Write, 1, port);
  EXPECT_EQ(t->ConnectKVT(0.01f), LINK_PORTERROR);
  EXPECT_EQ(t->LastPortError().mErrno, 5);
}

TEST(KVTBuffers, ALongReplyIsCollectedInChunksUpToTheBuffer) {
  LinkOnScript t;
  Bytes data(598);
  std::iota(data.begin(), data.end(), 0);
  const Bytes reply = WithCRC(data);
  t.port->After(1, {reply.begin(), reply.begin() + 300}).After(1, {reply.begin() + 300, reply.end()}, 2ms);
  EXPECT_EQ(t->SendCommand(0, 0x81, 600, 0.2f), LINK_OK);
  EXPECT_EQ(t->FReadBuf.mData, 600);
  EXPECT_EQ(Bytes(t->FReadBuf.mBuf, t->FReadBuf.mBuf + 600), reply);
  for (int n : t.port->ReadCounts) EXPECT_LE(n, 256);
}

TEST(KVTBuffers, AFloodingDetectorNeverWritesPastTheBuffer) {
  LinkOnScript t;
  t.port->After(1, Bytes(5000, 0x55));
  EXPECT_EQ(t->SendCommand(0, 0x81, 1020, 0.2f), LINK_CRCERROR);
  EXPECT_LE(t->FReadBuf.mData, 1024);
  int asked = 0;
  for (int n : t.port->ReadCounts) {
    EXPECT_LE(n, 256);
    asked += n;
  }
  EXPECT_LE(asked, 1024);

  LinkOnScript full;
  full.port->After(1, Bytes(5000, 0x55));
  EXPECT_EQ(full->SendCommand(0, 0x81, 1024, 0.2f), LINK_CRCERROR);
  EXPECT_EQ(full->FReadBuf.mData, 1024);
}

TEST(KVTBuffers, RequestsAndRepliesOutsideTheBufferAreRefusedUnsent) {
  LinkOnScript t;
  std::vector<uint8_t> payload(1024, 0);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 2, 0.1f), LINK_LIMIT);
  EXPECT_EQ(t->SendCommand(0, 0x5F, 1025, 0.1f), LINK_LIMIT);
  EXPECT_EQ(t->SendPacket(0, 0x91, payload.data(), 1022, 3, 0.1f), LINK_LIMIT);
  EXPECT_EQ(t->SendPacket(0, 0, payload.data(), 1023, 3, 0.1f), LINK_LIMIT);
  EXPECT_EQ(t->SendPacket(0, 0, nullptr, 4, 3, 0.1f), LINK_LIMIT);
  EXPECT_EQ(t->SendPacket(0, 0, payload.data(), -1, 3, 0.1f), LINK_LIMIT);
  EXPECT_TRUE(t.port->Frames.empty());
  ASSERT_EQ(t.lines.size(), 6u);
  EXPECT_EQ(t.lines[0].rfind("[LIMIT] ", 0), 0u);
  EXPECT_FALSE(t->LastRefusal().empty());

  t.port->After(1, kAck).After(2, kAck);
  EXPECT_EQ(t->SendPacket(0, 0x91, payload.data(), 1021, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t.port->Frames[0].size(), 1024u);
  EXPECT_EQ(t->SendPacket(0, 0, payload.data(), 1022, 3, 0.1f), LINK_OK);
  EXPECT_EQ(t.port->Frames[1].size(), 1024u);
}

TEST(KVTDelay, WaitsAtLeastItsTime) {
  LinkOnScript t;
  for (float ms : {0.3f, 1.0f, 4.0f}) {
    const auto start = std::chrono::steady_clock::now();
    t->Delay(ms);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took.count(), ms);
  }
  const auto start = std::chrono::steady_clock::now();
  t->Delay(0);
  t->Delay(-5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(KVTPort, ComOpenOpensOnceAndItsErrorsReachTheCaller) {
  auto stream = std::make_unique<ScriptedStream>(false);
  ScriptedStream& port = *stream;
  TComKVT link(std::move(stream));
  EXPECT_FALSE(link.Enabled());
  ::setenv("BEAMDOCK_PORT", "/dev/pts/beamdock-open", 1);
  int number = 0;
  ASSERT_EQ(FindComPort(link.Ports(), 0, number), 0);
  ::unsetenv("BEAMDOCK_PORT");
  port.FailAt(ScriptedStream::Op::Open, 1, PortError("Error accessing specified device (Error: 2) "));
  EXPECT_THROW(link.ComOpen(number), std::runtime_error);
  EXPECT_FALSE(link.Enabled());
  EXPECT_EQ(link.PortDevice(), "/dev/pts/beamdock-open");  // what an error names
  link.ComOpen(number);
  EXPECT_TRUE(link.Enabled());
  EXPECT_EQ(port.Device, "/dev/pts/beamdock-open");
  link.ComOpen(number);
  EXPECT_EQ(port.Opens, 2);
  link.ComClose();
  link.ComClose();
  EXPECT_EQ(port.Closes, 1);
  EXPECT_FALSE(link.Enabled());
}

TEST(KVTPort, AFailingCloseNeverEscapesTheLink) {
  {
    LinkOnScript t;
    t.port->FailFrom(ScriptedStream::Op::Close, 1, PortError("Close error"));
    t.port->After(1, kAck);
    EXPECT_NO_THROW(t->CloseUSB(0));
    EXPECT_EQ(t.port->Frames.size(), 1u);
  }
  LinkOnScript t;
  t.port->FailFrom(ScriptedStream::Op::Close, 1, PortError("Close error"));
  // The destructor closes the port too; reaching the end of the test is the check.
}

}  // namespace
