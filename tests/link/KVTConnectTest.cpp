// Connection handshake, connection check, end of connection and CloseUSB.
#include "tests/link/KVTCommsTestUtil.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdexcept>

namespace {

using namespace std::chrono_literals;

const Bytes kConnectFrame{0xB2, 0x75, 0x80};
const Bytes kKillFrame{0xB3, 0xB5, 0x41};

bool IsCheckTime(const std::string& line, int sent) {
  return std::regex_match(line, std::regex(R"(\[CHECK TIME\] \d+[.,]\d{3} \()" + std::to_string(sent) + R"(\))"));
}

TEST(KVTConnect, AcknowledgementInTheFirstReadConnectsAtOnce) {
  LinkOnScript t;
  t.port->After(1, kAck);
  EXPECT_EQ(t->ConnectKVT(1.0f), LINK_OK);
  EXPECT_EQ(t.port->Frames, (std::vector<Bytes>{kConnectFrame}));
  ASSERT_EQ(t.lines.size(), 2u);
  EXPECT_EQ(t.lines[0], "B5 B7 C1 ");
  EXPECT_TRUE(IsCheckTime(t.lines[1], 1)) << t.lines[1];
  // Purged after the loop and again between the closing delays.
  EXPECT_EQ(t.port->Purges, 2);
}

TEST(KVTConnect, EchoBeforeTheAcknowledgementIsTracedAndDropped) {
  LinkOnScript t;
  Bytes read = kConnectFrame;
  read.insert(read.end(), kAck.begin(), kAck.end());
  t.port->After(1, read);
  EXPECT_EQ(t->ConnectKVT(1.0f), LINK_OK);
  ASSERT_EQ(t.lines.size(), 3u);
  EXPECT_EQ(t.lines[0], "B2 75 80 B5 B7 C1 ");
  EXPECT_EQ(t.lines[1], "B5 B7 C1 ");
  EXPECT_TRUE(IsCheckTime(t.lines[2], 1)) << t.lines[2];
}

TEST(KVTConnect, DamagedOrShortReadsDoNotConnectAndTheNextFrameIsSent) {
  const std::vector<Bytes> firstReads{{0xB5, 0xB7, 0xC2}, {0xB5}, {0xB5, 0xB7}, {0x00, 0x01, 0x02, 0xB5, 0xB7, 0xC1}};
  for (const Bytes& first : firstReads) {
    LinkOnScript t;
    t.port->After(1, first).After(2, kAck);
    EXPECT_EQ(t->ConnectKVT(1.0f), LINK_OK) << Hex(first);
    EXPECT_EQ(t.port->Frames.size(), 2u) << Hex(first);
    ASSERT_EQ(t.lines.size(), 2u) << Hex(first);
    EXPECT_EQ(t.lines[0], "B5 B7 C1 ");
    EXPECT_TRUE(IsCheckTime(t.lines[1], 2)) << t.lines[1];
  }
}

TEST(KVTConnect, ValidEchoWithAStrayByteIsDroppedWithTheByte) {
  LinkOnScript t;
  t.port->After(1, {0xB2, 0x75, 0x80, 0xB5}).After(2, kAck);
  EXPECT_EQ(t->ConnectKVT(1.0f), LINK_OK);
  EXPECT_EQ(t.port->Frames.size(), 2u);
  ASSERT_EQ(t.lines.size(), 3u);
  EXPECT_EQ(t.lines[0], "B2 75 80 B5 ");
  EXPECT_EQ(t.lines[1], "B5 B7 C1 ");
}

TEST(KVTConnect, AnAcknowledgementSplitAcrossReadsIsNotAssembled) {
  LinkOnScript t;
  t.port->After(1, {0xB5, 0xB7}).After(2, {0xC1});
  EXPECT_EQ(t->ConnectKVT(0.1f), LINK_NOCONNECT);
  EXPECT_GE(t.port->Frames.size(), 2u);  // the second read found the C1
  ASSERT_EQ(t.lines.size(), 1u);
  EXPECT_TRUE(IsCheckTime(t.lines[0], static_cast<int>(t.port->Frames.size()))) << t.lines[0];
}

TEST(KVTConnect, ZeroTimeOutSendsNothing) {
  LinkOnScript t;
  EXPECT_EQ(t->ConnectKVT(0.0f), LINK_NOCONNECT);
  EXPECT_TRUE(t.port->Frames.empty());
  ASSERT_EQ(t.lines.size(), 1u);
  EXPECT_TRUE(t.lines[0] == "[CHECK TIME] 0.000 (0)" || t.lines[0] == "[CHECK TIME] 0,000 (0)") << t.lines[0];
}

// A locale whose only difference from POSIX is the decimal comma, built in a temporary
// folder so the test does not depend on the locales installed.
const char* CommaLocale() {
  static const bool built = [] {
    const std::string dir = testing::TempDir() + "kvt-locale";
    const std::string src = dir + "/comma.src";
    if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0) return false;
    FILE* f = std::fopen(src.c_str(), "w");
    if (!f) return false;
    std::fputs("LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\nLC_NUMERIC\ndecimal_point \"<U002C>\"\n"
               "thousands_sep \"\"\ngrouping -1\nEND LC_NUMERIC\n",
               f);
    std::fclose(f);
    const std::string cmd = "localedef -i '" + src + "' -f ANSI_X3.4-1968 '" + dir + "/xx_COMMA' >/dev/null 2>&1";
    std::system(cmd.c_str());  // warns about the categories left out, which is fine
    ::setenv("LOCPATH", dir.c_str(), 1);
    return true;
  }();
  return built ? "xx_COMMA" : nullptr;
}

TEST(KVTConnect, CheckTimeUsesTheDecimalSeparatorOfTheLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char* name = CommaLocale();
  if (!name || !std::setlocale(LC_NUMERIC, name)) GTEST_SKIP() << "no locale with a decimal comma could be made";
  LinkOnScript t;
  t.port->After(1, kAck);
  EXPECT_EQ(t->ConnectKVT(0.0f), LINK_NOCONNECT);
  EXPECT_EQ(t->ConnectKVT(1.0f), LINK_OK);
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_EQ(t.lines.size(), 3u);
  EXPECT_EQ(t.lines[0], "[CHECK TIME] 0,000 (0)");
  EXPECT_TRUE(std::regex_match(t.lines[2], std::regex(R"(\[CHECK TIME\] 0,\d{3} \(1\))"))) << t.lines[2];
}

TEST(KVTConnect, SilentDetectorRunsIntoTheTimeOutWithFramesSpacedApart) {
  LinkOnScript t;
  EXPECT_EQ(t->ConnectKVT(0.05f), LINK_NOCONNECT);
  const auto& times = t.port->WriteTimes;
  ASSERT_GE(times.size(), 2u);
  // Frames are paced, never sent back to back (the exact spacing is measured in bench/).
  EXPECT_LE(times.size(), 48u);
  // A write preempted after its deadline was taken stamps its frame late and leaves the next
  // gap short, so the spacing is checked over the whole run, not per gap.
  EXPECT_GE(times.back() - times.front(), (times.size() - 1) * 1050us - 500us);
  for (const Bytes& f : t.port->Frames) EXPECT_EQ(f, kConnectFrame);
  ASSERT_EQ(t.lines.size(), 1u);
  EXPECT_TRUE(IsCheckTime(t.lines[0], static_cast<int>(times.size()))) << t.lines[0];
}

TEST(KVTConnect, PortErrorEndsTheHandshakeAtOnceButStillPurgesAndTraces) {
  for (auto op : {ScriptedStream::Op::Write, ScriptedStream::Op::Read}) {
    LinkOnScript t;
    t.port->FailAt(op, 1, std::make_exception_ptr(std::runtime_error("Write error (Error: 5) ")));
    t.port->After(1, kAck);
    EXPECT_EQ(t->ConnectKVT(1.0f), LINK_PORTERROR);
    EXPECT_EQ(t.port->WriteTimes.size(), op == ScriptedStream::Op::Write ? 0u : 1u);
    EXPECT_EQ(t.port->Purges, 2);
    ASSERT_EQ(t.lines.size(), 1u);
    EXPECT_TRUE(IsCheckTime(t.lines[0], 1)) << t.lines[0];
  }
}

TEST(KVTConnect, IdleHookRunsDuringALongHandshakeButNotOnEveryFrame) {
  LinkOnScript t;
  int calls = 0;
  t->IdleHook = [&] { ++calls; };
  EXPECT_EQ(t->ConnectKVT(0.2f), LINK_NOCONNECT);
  EXPECT_GE(calls, 1);
  EXPECT_LE(calls, 4);  // at most one per 50 ms of a 0.2 s handshake
  EXPECT_GT(t.port->Frames.size(), static_cast<size_t>(calls) * 10);
}

TEST(KVTConnect, CheckAndKillAreTracedStatusExchanges) {
  LinkOnScript t;
  t.port->After(1, kAck).After(2, kConnectFrame).After(3, kAck);
  EXPECT_EQ(t->ConnectKVTCheck(), LINK_OK);
  EXPECT_EQ(t->ConnectKVTCheck(), LINK_NORESPONSE);  // the adapter's echo is no answer
  EXPECT_EQ(t->KillKVT(), LINK_OK);
  EXPECT_EQ(t.port->Frames, (std::vector<Bytes>{kConnectFrame, kConnectFrame, kKillFrame}));
  ASSERT_EQ(t.lines.size(), 6u);
  EXPECT_EQ(t.lines[3], "[READ] NORESPONSE:B2 75 80 ");
  EXPECT_EQ(t.lines[4], "[SEND] B3 B5 41 ");
}

class KVTCloseUSB : public ::testing::TestWithParam<std::pair<uint8_t, bool>> {};

TEST_P(KVTCloseUSB, EndsTheConnectionOnlyAfterAnAnswer) {
  LinkOnScript t;
  t.port->After(1, kAck);
  t->CloseUSB(GetParam().first);
  if (GetParam().second)
    EXPECT_EQ(t.port->Frames, (std::vector<Bytes>{kKillFrame}));
  else
    EXPECT_TRUE(t.port->Frames.empty());
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(t.port->Closes, 1);
}

INSTANTIATE_TEST_SUITE_P(Statuses, KVTCloseUSB,
                         ::testing::Values(std::pair<uint8_t, bool>{0x00, true}, std::pair<uint8_t, bool>{0x92, true},
                                           std::pair<uint8_t, bool>{0xB0, true}, std::pair<uint8_t, bool>{0xB1, true},
                                           std::pair<uint8_t, bool>{0xB2, true}, std::pair<uint8_t, bool>{0xC0, true},
                                           std::pair<uint8_t, bool>{LINK_LIMIT, true},
                                           std::pair<uint8_t, bool>{0xA0, false}, std::pair<uint8_t, bool>{0xA1, false},
                                           std::pair<uint8_t, bool>{0xA2, false}, std::pair<uint8_t, bool>{0x94, false},
                                           std::pair<uint8_t, bool>{0xC3, false}, std::pair<uint8_t, bool>{0x01, false},
                                           std::pair<uint8_t, bool>{0xFF, false}));

TEST(KVTCloseUSBRetry, AFailedKillIsSentExactlyOnceMore) {
  LinkOnScript t;
  t.port->After(1, kNak).After(2, kNak);
  t->CloseUSB(0);
  EXPECT_EQ(t.port->Frames, (std::vector<Bytes>{kKillFrame, kKillFrame}));
  EXPECT_FALSE(t->Enabled());

  LinkOnScript second;
  second.port->After(1, kNak).After(2, kAck);
  second->CloseUSB(0xB2);
  EXPECT_EQ(second.port->Frames.size(), 2u);
}

TEST(KVTOpenUSB, FindsTheNamedPortOpensItAndConnects) {
  auto stream = std::make_unique<ScriptedStream>(false);
  ScriptedStream& port = *stream;
  TComKVT link(std::move(stream));
  ::setenv("BEAMDOCK_PORT", "/dev/pts/beamdock-test", 1);
  port.After(1, kAck);
  EXPECT_EQ(link.OpenUSB(1.0f), LINK_OK);
  EXPECT_EQ(port.Device, "/dev/pts/beamdock-test");
  EXPECT_TRUE(link.Enabled());
  EXPECT_EQ(port.Frames, (std::vector<Bytes>{kConnectFrame}));
  link.CloseUSB(0xA2);
  ::unsetenv("BEAMDOCK_PORT");
}

TEST(KVTOpenUSB, OpenErrorsReachTheCallerAndNothingIsSent) {
  auto stream = std::make_unique<ScriptedStream>(false);
  ScriptedStream& port = *stream;
  TComKVT link(std::move(stream));
  ::setenv("BEAMDOCK_PORT", "/dev/pts/beamdock-test", 1);
  port.FailAt(ScriptedStream::Op::Open, 1,
              std::make_exception_ptr(std::runtime_error("Error accessing specified device (Error: 2) ")));
  EXPECT_THROW(link.OpenUSB(1.0f), std::runtime_error);
  EXPECT_TRUE(port.Frames.empty());
  EXPECT_FALSE(link.Enabled());
  ::unsetenv("BEAMDOCK_PORT");
}

}  // namespace
