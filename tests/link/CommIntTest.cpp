#include "link/CommInt.h"
#include "link/CommRate.h"
#include "link/CommTermios.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A pseudo-terminal pair: the port opens the slave, the test plays the far end on the master.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
    slave_ = ::ptsname(master_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& Slave() const { return slave_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void Send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Collects exactly n bytes from the port's side, or what came within the time allowed.
  std::vector<uint8_t> Receive(size_t n, std::chrono::milliseconds within = 2000ms) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      uint8_t buf[512];
      const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
      if (r > 0) got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

std::string MessageOf(const std::function<void()>& f, int* code = nullptr) {
  try {
    f();
  } catch (const ECommError& e) {
    if (code) *code = e.ErrorCode;
    return e.what();
  }
  return "<no error>";
}

// Waits (bounded) until the port has n bytes queued.
bool WaitQueued(TComm& port, int n) {
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (port.InQueCount() < n) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    port.WaitReadable(20000);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

termios AttrOf(const TComm& port) {
  termios t{};
  EXPECT_EQ(::tcgetattr(port.Handle(), &t), 0);
  return t;
}

int ThreadCount() {
  int n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

TEST(CommError, MessageCarriesTheCodeBetweenBlanks) {
  const ECommError e("Write error", 5);
  EXPECT_STREQ(e.what(), "Write error (Error: 5) ");
  EXPECT_EQ(e.ErrorCode, 5);
  EXPECT_EQ(e.Text(), "Write error");
  EXPECT_STREQ(ECommError("Port already assigned (open)", -1).what(), "Port already assigned (open) (Error: -1) ");
}

TEST(CommObjs, ManualAndAutoResetEvents) {
  TSimpleEvent manual;
  EXPECT_EQ(manual.WaitFor(5), TEventWaitResult::wrTimeout);
  manual.SetEvent();
  EXPECT_EQ(manual.WaitFor(0), TEventWaitResult::wrSignaled);
  EXPECT_EQ(manual.WaitFor(0), TEventWaitResult::wrSignaled);  // stays set until reset
  manual.ResetEvent();
  EXPECT_EQ(manual.WaitFor(0), TEventWaitResult::wrTimeout);

  TEvent automatic(false, true);
  EXPECT_EQ(automatic.WaitFor(0), TEventWaitResult::wrSignaled);
  EXPECT_EQ(automatic.WaitFor(0), TEventWaitResult::wrTimeout);  // the wait took it

  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    automatic.SetEvent();
  });
  EXPECT_EQ(automatic.WaitFor(TEvent::INFINITE_WAIT), TEventWaitResult::wrSignaled);
  setter.join();
}

TEST(CommProperties, DefaultsOfAClosedPort) {
  TComm port;
  EXPECT_EQ(port.DeviceName(), "Com2");
  EXPECT_EQ(port.ReadTimeout(), 1000);
  EXPECT_EQ(port.WriteTimeout(), 1000);
  EXPECT_EQ(port.ReadBufSize(), 4096);
  EXPECT_EQ(port.WriteBufSize(), 2048);
  EXPECT_EQ(port.MonitorEvents(), kAllCommEvents);
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.BaudData(), 9600);
  EXPECT_EQ(port.Parity(), paNone);
  EXPECT_EQ(port.Stopbits(), sb10);
  EXPECT_EQ(port.Databits(), da8);
  EXPECT_TRUE(port.Options().Empty());
  EXPECT_EQ(port.FlowControl(), fcDefault);
  EXPECT_EQ(port.EventChars().XonChar(), 17);
  EXPECT_EQ(port.EventChars().XoffChar(), 19);
  EXPECT_FALSE(port.Enabled());
  EXPECT_FALSE(port.CTS() || port.DSR() || port.RING() || port.RLSD());
  EXPECT_FALSE(port.CtsHold() || port.DsrHold() || port.RlsdHold() || port.XoffHold() || port.XOffSent());
  EXPECT_EQ(port.InQueCount(), -1);
  EXPECT_EQ(port.OutQueCount(), -1);
}

TEST(CommProperties, BaudRateSetsBaudDataButNotTheOtherWay) {
  TComm port;
  port.SetBaudRate(br115200);
  EXPECT_EQ(port.BaudData(), 115200);
  port.SetBaudData(57600);
  EXPECT_EQ(port.BaudRate(), br115200);
  EXPECT_EQ(port.BaudData(), 57600);
  // The rates are not in ascending order: 281250 sits before 256000.
  EXPECT_EQ(BaudRateValue(br281250), 281250);
  EXPECT_EQ(BaudRateValue(br256000), 256000);
  EXPECT_EQ(BaudRateValue(br562500), 562500);
  EXPECT_EQ(BaudRateValue(br110), 110);
}

TEST(CommOpen, AppliesRaw115200EightNoneOne) {
  PtyPair pty;
  // Leave the slave in a cooked state with software flow control, as a fresh tty has it.
  termios cooked{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &cooked), 0);
  cooked.c_iflag |= ICRNL | IXON;
  cooked.c_lflag |= ICANON | ECHO;
  cooked.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(::tcsetattr(pty.Master(), TCSANOW, &cooked), 0);

  TComm port;
  port.OpenDevice(pty.Slave());
  ASSERT_TRUE(port.Enabled());
  const termios t = AttrOf(port);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(port.BaudRate(), br115200);
}

TEST(CommOpen, RatesWithoutATermiosConstantGoThroughTermios2) {
  PtyPair pty;
  TComm port;
  port.SetDeviceName(pty.Slave());
  port.SetBaudRate(br28800);
  port.Open();
  unsigned in = 0, out = 0;
  ASSERT_EQ(GetTermiosRate(port.Handle(), in, out), 0);
  EXPECT_EQ(out, 28800u);
  EXPECT_EQ(in, 28800u);
  port.SetBaudRate(br562500);  // applied at once while open
  ASSERT_EQ(GetTermiosRate(port.Handle(), in, out), 0);
  EXPECT_EQ(out, 562500u);
  port.SetBaudData(9600);  // and back to a rate termios knows
  EXPECT_EQ(::cfgetospeed(&static_cast<const termios&>(AttrOf(port))), static_cast<speed_t>(B9600));
}

TEST(CommOpen, RefusesWhatIsNotATerminal) {
  const std::string file = ::testing::TempDir() + "commint_regular_file";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  for (const std::string& name : {std::string("/dev/null"), file}) {
    TComm port;
    int code = 0;
    EXPECT_EQ(MessageOf([&] { port.OpenDevice(name); }, &code), "Invalid device handle, access denied (Error: -1) ")
        << name;
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(port.Enabled());
  }
  std::remove(file.c_str());
}

TEST(CommOpen, MissingDeviceReportsTheSystemError) {
  TComm port;
  int code = 0;
  EXPECT_EQ(MessageOf([&] { port.OpenDevice("/dev/beamdock-no-such-tty"); }, &code),
            "Error accessing specified device (Error: 2) ");
  EXPECT_EQ(code, ENOENT);
  EXPECT_FALSE(port.Enabled());
  // The name a port number without a device maps to opens nothing either.
  EXPECT_EQ(MessageOf([&] { port.OpenDevice(""); }, &code), "Error accessing specified device (Error: 2) ");
}

TEST(CommOpen, SecondOpenIsRefusedAndThePortStaysUsable) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  int code = 0;
  EXPECT_EQ(MessageOf([&] { port.Open(); }, &code), "Port already assigned (open) (Error: -1) ");
  EXPECT_EQ(code, -1);
  EXPECT_EQ(MessageOf([&] { port.OpenDevice(pty.Slave()); }), "Port already assigned (open) (Error: -1) ");
  ASSERT_TRUE(port.Enabled());
  EXPECT_EQ(port.Write("ok", 2), 2);
  EXPECT_EQ(pty.Receive(2), (std::vector<uint8_t>{'o', 'k'}));
}

TEST(CommOpen, TakesTheDeviceExclusively) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  int exclusive = 0;
  ASSERT_EQ(::ioctl(port.Handle(), TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0);
  if (::geteuid() != 0) {  // root may open an exclusive terminal anyway
    TComm second;
    int code = 0;
    EXPECT_EQ(MessageOf([&] { second.OpenDevice(pty.Slave()); }, &code), "Error accessing specified device (Error: 16) ");
    EXPECT_EQ(code, EBUSY);
  }
}

// The simulator (or anything else) keeps the slave open between operations; the next
// operation's open must not find the device still held exclusively.
TEST(CommOpen, CloseGivesTheExclusiveHoldBack) {
  PtyPair pty;
  const int keeper = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(keeper, 0);
  TComm port;
  port.OpenDevice(pty.Slave());
  port.Close();
  int exclusive = 1;
  ASSERT_EQ(::ioctl(keeper, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(keeper);
}

TEST(CommProperties, QueueAndNameSettersRefuseChangesWhileOpen) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  const std::string refused = "Port already assigned (open) (Error: -1) ";
  EXPECT_EQ(MessageOf([&] { port.SetDeviceName("/dev/other"); }), refused);
  EXPECT_EQ(MessageOf([&] { port.SetReadBufSize(128); }), refused);
  EXPECT_EQ(MessageOf([&] { port.SetWriteBufSize(128); }), refused);
  EXPECT_EQ(MessageOf([&] { port.SetMonitorEvents({evRxChar}); }), refused);
  // The value it already has is no change.
  EXPECT_NO_THROW(port.SetReadBufSize(4096));
  EXPECT_NO_THROW(port.SetDeviceName(pty.Slave()));
  EXPECT_NO_THROW(port.SetMonitorEvents(kAllCommEvents));
  EXPECT_EQ(port.ReadBufSize(), 4096);
  port.Close();
  port.SetReadBufSize(128);
  EXPECT_EQ(port.ReadBufSize(), 128);
}

TEST(CommLineSettings, FramingOfEveryParityDataAndStopSetting) {
  // A pseudo-terminal forces 8 data bits without parity, so the block is checked as built.
  const auto build = [](TParity p, TDatabits d, TStopbits st) {
    termios t{};
    TLineSettings s;
    s.Parity = p;
    s.Databits = d;
    s.Stopbits = st;
    bool custom = true;
    EXPECT_EQ(BuildLineSettings(t, s, custom), 0);
    EXPECT_FALSE(custom);
    return t.c_cflag;
  };
  const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
  EXPECT_EQ(build(paNone, da8, sb10) & parityBits, 0u);
  EXPECT_EQ(build(paOdd, da8, sb10) & parityBits, static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_EQ(build(paEven, da8, sb10) & parityBits, static_cast<tcflag_t>(PARENB));
  EXPECT_EQ(build(paMark, da8, sb10) & parityBits, static_cast<tcflag_t>(PARENB | CMSPAR | PARODD));
  EXPECT_EQ(build(paSpace, da8, sb10) & parityBits, static_cast<tcflag_t>(PARENB | CMSPAR));
  EXPECT_EQ(build(paNone, da5, sb10) & CSIZE, static_cast<tcflag_t>(CS5));
  EXPECT_EQ(build(paNone, da6, sb10) & CSIZE, static_cast<tcflag_t>(CS6));
  EXPECT_EQ(build(paNone, da7, sb20) & (CSIZE | CSTOPB), static_cast<tcflag_t>(CS7 | CSTOPB));
  EXPECT_EQ(build(paNone, da8, sb10) & (CSIZE | CSTOPB), static_cast<tcflag_t>(CS8));
  // 1.5 stop bits exist with 5-bit characters: CSTOPB with CS5.
  EXPECT_EQ(build(paNone, da5, sb15) & (CSIZE | CSTOPB), static_cast<tcflag_t>(CS5 | CSTOPB));

  termios t{};
  TLineSettings s;
  s.BaudData = 14400;
  bool custom = false;
  EXPECT_EQ(BuildLineSettings(t, s, custom), 0);
  EXPECT_TRUE(custom);
}

TEST(CommLineSettings, SettersApplyAtOnceWhileOpen) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  port.SetStopbits(sb20);
  EXPECT_NE(AttrOf(port).c_cflag & CSTOPB, 0u);
  port.SetFlowControl(fcCTS);
  EXPECT_NE(AttrOf(port).c_cflag & CRTSCTS, 0u);
  port.SetFlowControl(fcSoftware);
  EXPECT_EQ(AttrOf(port).c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(AttrOf(port).c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  port.EventChars().SetXonChar(0x01);
  port.EventChars().SetXoffChar(0x02);
  EXPECT_EQ(AttrOf(port).c_cc[VSTART], 0x01);
  EXPECT_EQ(AttrOf(port).c_cc[VSTOP], 0x02);
  port.SetOptions({coParityCheck});
  EXPECT_EQ(AttrOf(port).c_iflag & (INPCK | IGNPAR), static_cast<tcflag_t>(INPCK | IGNPAR));
  port.SetOptions({coParityCheck, coErrorChar});  // bad bytes become the (zero) error character
  EXPECT_EQ(AttrOf(port).c_iflag & (INPCK | IGNPAR), static_cast<tcflag_t>(INPCK));
}

TEST(CommLineSettings, DefaultFlowControlKeepsTheDevicesHandshakeAndEmptyOptionsClearFlags) {
  PtyPair pty;
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &before), 0);
  before.c_cflag |= CRTSCTS;
  before.c_iflag |= IXON | IXOFF | INPCK | IGNPAR;
  ASSERT_EQ(::tcsetattr(pty.Master(), TCSANOW, &before), 0);

  TComm port;
  port.SetDeviceName(pty.Slave());
  port.Open();  // fcDefault, no options
  const termios t = AttrOf(port);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR), 0u);
  port.SetFlowControl(fcNone);
  EXPECT_EQ(AttrOf(port).c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(AttrOf(port).c_iflag & (IXON | IXOFF | IXANY), 0u);
}

TEST(CommLineSettings, WhatTermiosCannotExpressIsRefused) {
  PtyPair pty;
  const std::string refused = "Error updating DataControlBlock (Error: 22) ";
  struct Case {
    const char* what;
    std::function<void(TComm&)> set;
  } cases[] = {
      {"4 data bits", [](TComm& p) { p.SetDatabits(da4); }},
      {"DSR/DTR handshake", [](TComm& p) { p.SetFlowControl(fcDTR); }},
      {"1.5 stop bits with 8 data bits", [](TComm& p) { p.SetStopbits(sb15); }},
      {"2 stop bits with 5 data bits", [](TComm& p) { p.SetDatabits(da5); p.SetStopbits(sb20); }},
      {"DSR sensitivity", [](TComm& p) { p.SetOptions({coDsrSensitivity}); }},
      {"null stripping", [](TComm& p) { p.SetOptions({coNullStrip}); }},
      {"error character other than 0", [](TComm& p) { p.EventChars().SetErrorChar('?'); p.SetOptions({coErrorChar}); }},
      {"no rate", [](TComm& p) { p.SetBaudData(0); }},
  };
  for (const Case& c : cases) {
    TComm port;
    port.OpenDevice(pty.Slave());
    EXPECT_EQ(MessageOf([&] { c.set(port); }), refused) << c.what;
    EXPECT_TRUE(port.Enabled()) << c.what;
  }
  TComm port;
  port.OpenDevice(pty.Slave());
  port.SetDatabits(da5);
  EXPECT_NO_THROW(port.SetStopbits(sb15));
}

TEST(CommOpen, LaterStepFailureLeavesOpenButOpenDeviceCleansUp) {
  PtyPair pty;
  {
    TComm port;
    port.SetDeviceName(pty.Slave());
    port.SetDatabits(da4);
    EXPECT_EQ(MessageOf([&] { port.Open(); }), "Error updating DataControlBlock (Error: 22) ");
    EXPECT_TRUE(port.Enabled());  // Close releases it
    port.Close();
    EXPECT_FALSE(port.Enabled());
  }
  TComm port;
  port.SetReadBufSize(0);
  EXPECT_EQ(MessageOf([&] { port.OpenDevice(pty.Slave()); }), "Error initializing Read/Write Buffers (Error: 22) ");
  EXPECT_FALSE(port.Enabled());
  port.SetReadBufSize(128);
  EXPECT_NO_THROW(port.OpenDevice(pty.Slave()));
}

TEST(CommTransfer, EveryByteValuePassesBothWaysUnchanged) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);  // includes CR, LF, XON, XOFF, ^C, ^D

  EXPECT_EQ(port.Write(all.data(), 256), 256);
  EXPECT_EQ(pty.Receive(256), all);

  pty.Send(all);
  ASSERT_TRUE(WaitQueued(port, 256));
  std::vector<uint8_t> got(300);
  EXPECT_EQ(port.Read(got.data(), 300), 256);
  got.resize(256);
  EXPECT_EQ(got, all);
}

TEST(CommTransfer, ReadReturnsAtOnceWithWhatIsThere) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  uint8_t buf[16];
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);  // nothing waiting: 0, not a wait of ReadTimeout
  EXPECT_EQ(port.Read(buf, 0), 0);

  pty.Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  ASSERT_TRUE(WaitQueued(port, 10));
  EXPECT_EQ(port.Read(buf, 4), 4);  // more waiting than asked for: Count, the rest stays
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[3], 4);
  EXPECT_EQ(port.InQueCount(), 6);
  EXPECT_EQ(port.Read(buf, sizeof buf), 6);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);
}

TEST(CommTransfer, WaitReadableWakesForAByteAndTimesOutWithout) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  EXPECT_FALSE(port.WaitReadable(20000));

  std::thread far([&] {
    std::this_thread::sleep_for(30ms);
    pty.Send({0xB5});
  });
  EXPECT_TRUE(port.WaitReadable(5000000));
  far.join();
  uint8_t b = 0;
  EXPECT_EQ(port.Read(&b, 1), 1);
  EXPECT_EQ(b, 0xB5);
  EXPECT_FALSE(port.WaitReadable(0));

  port.Close();
  EXPECT_FALSE(port.WaitReadable(1000));  // closed: no wait at all
}

TEST(CommTransfer, PurgeInDropsWhatWasReceived) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  pty.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(WaitQueued(port, 5));
  port.PurgeIn();
  EXPECT_EQ(port.InQueCount(), 0);
  uint8_t buf[8];
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);
  pty.Send({9});  // the port still receives after a purge
  ASSERT_TRUE(WaitQueued(port, 1));
  EXPECT_EQ(port.Read(buf, sizeof buf), 1);
  EXPECT_EQ(buf[0], 9);
}

TEST(CommTransfer, WriteGivesUpAfterWriteTimeoutWhileOutputIsHeld) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  port.SetWriteTimeout(50);
  port.SetXONState(false);  // as if XOFF had come in
  EXPECT_TRUE(port.XoffHold());
  const uint8_t frame[3] = {0xB2, 0x75, 0x80};
  EXPECT_EQ(port.Write(frame, 3), -1);
  port.SetXONState(true);
  EXPECT_FALSE(port.XoffHold());
  EXPECT_EQ(port.Write(frame, 3), 3);
  EXPECT_EQ(pty.Receive(3), (std::vector<uint8_t>{0xB2, 0x75, 0x80}));
}

TEST(CommTransfer, WritesFromTwoThreadsDoNotInterleave) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  port.SetWriteTimeout(5000);
  // Large enough that the pseudo-terminal takes each block in several pieces.
  const std::vector<uint8_t> a(20000, 'a'), b(20000, 'b');
  std::vector<uint8_t> got;
  std::thread reader([&] { got = pty.Receive(a.size() + b.size(), 10000ms); });
  std::thread wa([&] { EXPECT_EQ(port.Write(a.data(), static_cast<int>(a.size())), 20000); });
  std::thread wb([&] { EXPECT_EQ(port.Write(b.data(), static_cast<int>(b.size())), 20000); });
  wa.join();
  wb.join();
  reader.join();
  ASSERT_EQ(got.size(), 40000u);
  int runs = 1;
  for (size_t i = 1; i < got.size(); ++i) runs += got[i] != got[i - 1];
  EXPECT_EQ(runs, 2);
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(CommTransfer, HangUpOfTheFarEndIsAReadError) {
  PtyPair pty;
  TComm port;
  port.OnRxChar = [](TCustomComm*, int) {};  // so the event thread watches the line too
  port.OpenDevice(pty.Slave());
  pty.CloseMaster();  // like a bridge pulled out of its socket
  // The event thread must not spin on a line that stays hung up.
  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(CpuSeconds() - cpuBefore, 0.15);
  EXPECT_TRUE(port.WaitReadable(1000000));
  uint8_t b;
  int code = 0;
  EXPECT_EQ(MessageOf([&] { port.Read(&b, 1); }, &code), "Read error (Error: 5) ");
  EXPECT_EQ(code, EIO);
  port.Close();
  EXPECT_FALSE(port.Enabled());
}

TEST(CommTransfer, ClosedPortOperations) {
  TComm port;
  uint8_t b = 0;
  EXPECT_EQ(MessageOf([&] { port.Write(&b, 1); }), "Write error (Error: 9) ");
  EXPECT_EQ(MessageOf([&] { port.Read(&b, 1); }), "Read error (Error: 9) ");
  EXPECT_NO_THROW(port.PurgeIn());
  EXPECT_NO_THROW(port.PurgeOut());
  EXPECT_NO_THROW(port.Close());
  const std::string notOpen = "Port not open, unable to complete operation (Error: -1) ";
  EXPECT_EQ(MessageOf([&] { port.SetDTRState(true); }), notOpen);
  EXPECT_EQ(MessageOf([&] { port.SetRTSState(false); }), notOpen);
  EXPECT_EQ(MessageOf([&] { port.SetBREAKState(true); }), notOpen);
  EXPECT_EQ(MessageOf([&] { port.SetXONState(true); }), notOpen);
}

TEST(CommModemLines, PseudoTerminalHasNoModemLines) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  int code = 0;
  // The pseudo-terminal driver has no modem control: the system's refusal comes through.
  EXPECT_EQ(MessageOf([&] { port.SetDTRState(true); }, &code), "EscapeCommFunction failure (Error: 25) ");
  EXPECT_EQ(code, ENOTTY);
  EXPECT_FALSE(port.CTS());
  EXPECT_FALSE(port.CtsHold());
}

TEST(CommModemLines, BreakClearsBothQueues) {
  PtyPair pty;
  TComm port;
  port.OpenDevice(pty.Slave());
  pty.Send({1, 2, 3});
  ASSERT_TRUE(WaitQueued(port, 3));
  port.SetBREAKState(true);
  EXPECT_EQ(port.InQueCount(), 0);
  port.SetBREAKState(false);
}

TEST(CommEventChars, AssignCopiesAllFive) {
  TComm a, b;
  a.EventChars().SetXonChar(1);
  a.EventChars().SetXoffChar(2);
  a.EventChars().SetErrorChar(3);
  a.EventChars().SetEofChar(4);
  a.EventChars().SetEvtChar(5);
  b.EventChars().Assign(a.EventChars());
  EXPECT_EQ(b.EventChars().XonChar(), 1);
  EXPECT_EQ(b.EventChars().XoffChar(), 2);
  EXPECT_EQ(b.EventChars().ErrorChar(), 3);
  EXPECT_EQ(b.EventChars().EofChar(), 4);
  EXPECT_EQ(b.EventChars().EvtChar(), 5);
}

// A dispatcher like a window's: tasks queue up and run when the owner's thread gets to them.
class QueueDispatcher {
 public:
  TCommDispatcher Get() {
    return [this](std::function<void()> task) {
      std::lock_guard lock(m_);
      tasks_.push_back(std::move(task));
      cv_.notify_all();
    };
  }
  bool WaitTask(std::chrono::milliseconds within = 2000ms) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, within, [&] { return !tasks_.empty(); });
  }
  void RunAll() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard lock(m_);
      tasks.swap(tasks_);
    }
    for (auto& t : tasks) t();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

TEST(CommEventThread, ReportsReceivedBytesThroughTheDispatcherWithoutTakingThem) {
  PtyPair pty;
  QueueDispatcher dispatcher;
  TComm port;
  std::vector<int> counts;
  port.OnRxChar = [&](TCustomComm* sender, int count) {
    EXPECT_EQ(sender, &port);
    counts.push_back(count);
  };
  port.SetDispatcher(dispatcher.Get());
  port.OpenDevice(pty.Slave());

  pty.Send({0x10, 0x20, 0x30});
  ASSERT_TRUE(WaitQueued(port, 3));
  ASSERT_TRUE(dispatcher.WaitTask());
  dispatcher.RunAll();  // on this thread, as a window would
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.front(), 3);

  uint8_t buf[8];
  ASSERT_EQ(port.Read(buf, sizeof buf), 3);  // the thread left the bytes for the reader
  EXPECT_EQ(buf[0], 0x10);
  EXPECT_EQ(buf[2], 0x30);
}

TEST(CommEventThread, IsJoinedAtCloseAndLateTasksDoNothing) {
  PtyPair pty;
  const int threadsBefore = ThreadCount();
  QueueDispatcher dispatcher;
  TComm port;
  int calls = 0;
  port.OnRxChar = [&](TCustomComm*, int) { ++calls; };
  port.SetDispatcher(dispatcher.Get());
  port.OpenDevice(pty.Slave());
  EXPECT_EQ(ThreadCount(), threadsBefore + 1);
  pty.Send({1});
  ASSERT_TRUE(dispatcher.WaitTask());
  port.Close();
  EXPECT_EQ(ThreadCount(), threadsBefore);
  dispatcher.RunAll();  // handed over before Close, run after it: the port is gone
  EXPECT_EQ(calls, 0);
}

TEST(CommEventThread, WatchesOnlyMonitoredEventsThatHaveAHandler) {
  PtyPair pty;
  QueueDispatcher dispatcher;
  {
    TComm port;  // no handlers, like the link's port
    port.SetDispatcher(dispatcher.Get());
    port.OpenDevice(pty.Slave());
    pty.Send({1});
    EXPECT_EQ(port.Write("x", 1), 1);
    EXPECT_FALSE(dispatcher.WaitTask(50ms));
  }
  TComm port;
  port.OnRxChar = [](TCustomComm*, int) {};
  port.SetMonitorEvents({evTxEmpty});  // a handler, but the event is not monitored
  port.SetDispatcher(dispatcher.Get());
  port.OpenDevice(pty.Slave());
  pty.Send({1});
  EXPECT_FALSE(dispatcher.WaitTask(50ms));
}

TEST(CommEventThread, DefaultDispatcherRunsHandlersOnTheEventThread) {
  PtyPair pty;
  TComm port;
  std::mutex m;
  std::condition_variable cv;
  bool rx = false, txEmpty = false;
  std::thread::id rxThread;
  port.OnRxChar = [&](TCustomComm*, int) {
    std::lock_guard lock(m);
    rx = true;
    rxThread = std::this_thread::get_id();
    cv.notify_all();
  };
  port.OnTxEmpty = [&](TCustomComm*) {
    std::lock_guard lock(m);
    txEmpty = true;
    cv.notify_all();
  };
  port.OpenDevice(pty.Slave());
  pty.Send({7});
  EXPECT_EQ(port.Write("x", 1), 1);
  std::unique_lock lock(m);
  EXPECT_TRUE(cv.wait_for(lock, 2s, [&] { return rx && txEmpty; }));
  EXPECT_NE(rxThread, std::this_thread::get_id());
}

TEST(CommEventThread, AHandlerMayCloseThePort) {
  PtyPair pty;
  TComm port;
  std::atomic<bool> entered{false}, closed{false};
  port.OnRxChar = [&](TCustomComm* sender, int) {
    if (entered.exchange(true)) return;  // once: the port is opened again below
    sender->Close();
    closed = true;
  };
  port.OpenDevice(pty.Slave());
  pty.Send({1});
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!closed && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(port.Enabled());
  port.OpenDevice(pty.Slave());  // and it opens again afterwards
  EXPECT_TRUE(port.Enabled());
}

TEST(CommFactory, SerialPortForTheLink) {
  auto stream = MakeSerialPort();
  auto* port = dynamic_cast<TComm*>(stream.get());
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->ReadTimeout(), 10);
  EXPECT_EQ(port->ReadBufSize(), 128);
  PtyPair pty;
  stream->OpenDevice(pty.Slave());
  EXPECT_TRUE(stream->Enabled());
  EXPECT_EQ(stream->Write("\xA0", 1), 1);
  EXPECT_EQ(pty.Receive(1), (std::vector<uint8_t>{0xA0}));
  stream->Close();
  EXPECT_FALSE(stream->Enabled());
}

}  // namespace
