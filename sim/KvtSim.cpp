#include "sim/KvtSim.h"

#include "model/Checksum.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

constexpr uint32_t kMaxLife = 63072000;
constexpr auto kByteTime = std::chrono::nanoseconds(86806);  // 10 bits at 115200 baud
const std::vector<uint8_t> kConnectFrame = {0xB2, 0x75, 0x80};

bool crcOk(const uint8_t* p, size_t n) {
  if (n < 3) return false;
  const uint16_t crc = GetCRC16(p, static_cast<int>(n - 2));
  return p[n - 2] == (crc >> 8) && p[n - 1] == (crc & 0xFF);
}

std::string hexByte(int b) {
  char t[8];
  std::snprintf(t, sizeof t, "%02X", b & 0xFF);
  return t;
}

}  // namespace

// A unit some months into its life, so that a read changes what the blank window shows and
// the event log's dates and totals come out as a real unit's would.
constexpr uint32_t kDemoLife = 18 * 2628000 + 12 * 86400;  // 18 months 12 days left

KvtSim::Options::Options() {
  SetDefaultCFG(config);
  RKVTUnitCFG& u = config.mUnit;
  std::memcpy(u.mSerial, "SH24031587", sizeof u.mSerial);
  u.mHWVersion = 2;
  u.mFWVersion = 13;
  u.mLifeRemaining = kDemoLife;
  u.mAlarmCount = 3;   // the entries of the default log and their durations
  u.mAlarmTime = 75 + 30 + 400;
  u.mTestCount = 412;
  u.mTestTime = 412 * 20;
  config.mSensor.mAlarmHigh = 100;  // 10.0 ppm: the default reading's peaks reach the low alarm
  config.mSensor.mAlarmLow = 50;
  config.mSensor.mCalInterval = 180 * 86400;
  config.mSensor.mBumpInterval = 30;
  config.mSensor.mLastCal = kDemoLife + 20 * 86400;
  fillCRCs(config);
}

std::vector<KvtSim::Event> KvtSim::Options::defaultEvents() {
  // A high alarm, a bump test and a low alarm, newest last (the counter runs down), in the
  // default unit's recent past.
  return {{kDemoLife + 40 * 86400 + 3600, 75, 0x0C, 180},
          {kDemoLife + 12 * 86400 + 7200, 0x8000 | 30, 0x00, 250},
          {kDemoLife + 2 * 86400 + 5000, 400, 0x04, 60}};
}

void KvtSim::fillCRCs(RKVTCFG& cfg) { FillBlockCRCs(cfg); }

// Options built in code skip the command line's range checks; sizes out of range would
// make the frame parser or the image buffers meaningless, so they are brought into range.
void KvtSim::clampOptions(Options& o) {
  auto clamp = [](int& v, int lo, int hi) { v = std::max(lo, std::min(hi, v)); };
  clamp(o.blockPacketSize, 1, 1000);
  clamp(o.logPacketSize, 1, 1000);
  clamp(o.fwPacketSize, 1, 1020);
  clamp(o.fwPacketCount, 1, 65536);
  clamp(o.eepromSize, 0, 65536);
  clamp(o.gasDecimals, 0, 3);
  clamp(o.idleGapMs, 1, 60000);
  clamp(o.splitBytes, 0, 1 << 20);
  clamp(o.splitGapUs, 0, 1000000);
  clamp(o.replyDelayMs, 0, 60000);
  clamp(o.calTimeMs, 0, 3600000);
  clamp(o.wakeAfterMs, 0, 86400000);
  if (o.frameLogLimit < 1) o.frameLogLimit = 1;
}

KvtSim::KvtSim(Options opts) : opts_(std::move(opts)) {
  clampOptions(opts_);
  cfg_ = opts_.config;
  fillCRCs(cfg_);
  factoryCfg_ = cfg_;
  sensor_.reset(cfg_.mSensor, sensorNow());
  sensor_.setSettings(opts_.sensor, sensorNow());
  faultUsed_.assign(opts_.faults.size(), 0);
  unitCorruptLeft_ = opts_.corruptUnitCrc;
  sensorCorruptLeft_ = opts_.corruptSensorCrc;
}

KvtSim::~KvtSim() { stop(); }

void KvtSim::start() {
  std::lock_guard<std::mutex> lock(mu_);
  if (running_) return;
  auto fail = [this](const std::string& what) {
    const std::string text = what + ": " + std::strerror(errno);
    closeTerminal();
    for (int& fd : wakePipe_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
    if (notify_ >= 0) ::close(notify_);
    notify_ = -1;
    throw std::runtime_error(text);
  };
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe");
  // A host that takes the terminal exclusively (TIOCEXCL) and closes it leaves the flag set,
  // because a pseudo-terminal lives on while its master is open, and its next open fails
  // with EBUSY unless it runs as root. So the flag is cleared whenever the host closes the
  // device (watched here) and whenever it sends bytes, which also covers a close followed
  // at once by an open.
  notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  try {
    openTerminal();
  } catch (const std::runtime_error&) {
    fail("terminal");
  }
  if (!opts_.logFile.empty()) {
    logOut_ = std::fopen(opts_.logFile.c_str(), "w");
    if (!logOut_) fail("open " + opts_.logFile);
  }
  startTime_ = Clock::now();
  stopFlag_ = false;
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void KvtSim::openTerminal() {
  auto fail = [this](const std::string& what) {
    const std::string text = what + ": " + std::strerror(errno);
    closeTerminal();
    throw std::runtime_error(text);
  };
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) fail("posix_openpt");
  if (::grantpt(master_) != 0) fail("grantpt");
  if (::unlockpt(master_) != 0) fail("unlockpt");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname");
  path_ = name;
  // Our own slave descriptor keeps the terminal alive between the host's open/close
  // cycles, so the master never sees a hang-up.
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) fail("open " + path_);
  termios t{};
  if (::tcgetattr(slave_, &t) != 0) fail("tcgetattr");
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
  if (::tcsetattr(slave_, TCSANOW, &t) != 0) fail("tcsetattr");
  const int fl = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, fl | O_NONBLOCK);
  if (notify_ >= 0) ::inotify_add_watch(notify_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
  if (!opts_.linkPath.empty()) {
    ::unlink(opts_.linkPath.c_str());
    if (::symlink(path_.c_str(), opts_.linkPath.c_str()) != 0) fail("symlink " + opts_.linkPath);
  }
  in_.clear();
  expect_ = Expect::Command;
  state_ = State::Silent;
  connectsSeen_ = 0;
}

void KvtSim::closeTerminal() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
  if (!opts_.linkPath.empty()) ::unlink(opts_.linkPath.c_str());
  out_.clear();
}

void KvtSim::unplug() {
  std::unique_lock<std::mutex> lock(mu_);
  if (!running_) return;
  // The serving thread may be waiting on the master: it closes it itself.
  unplugAsked_ = true;
  const char c = 1;
  [[maybe_unused]] auto n = ::write(wakePipe_[1], &c, 1);
  cv_.wait(lock, [this] { return !unplugAsked_ || stopFlag_; });
}

void KvtSim::replug() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!running_ || master_ >= 0 || unplugAsked_) return;
  openTerminal();
  const char c = 1;
  [[maybe_unused]] auto n = ::write(wakePipe_[1], &c, 1);
}

bool KvtSim::plugged() const {
  std::lock_guard<std::mutex> lock(mu_);
  return master_ >= 0 && !unplugAsked_;
}

void KvtSim::stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!running_) return;
    stopFlag_ = true;
    const char c = 1;
    [[maybe_unused]] auto n = ::write(wakePipe_[1], &c, 1);
  }
  cv_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> lock(mu_);
  running_ = false;
  unplugAsked_ = false;
  closeTerminal();
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
  if (notify_ >= 0) ::close(notify_);
  wakePipe_[0] = wakePipe_[1] = notify_ = -1;
  if (logOut_) std::fclose(logOut_);
  logOut_ = nullptr;
}

std::string KvtSim::devicePath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return path_;
}

std::vector<KvtSim::Frame> KvtSim::received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {rxLog_.begin(), rxLog_.end()};
}

std::vector<KvtSim::Frame> KvtSim::sent() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {txLog_.begin(), txLog_.end()};
}

void KvtSim::clearFrames() {
  std::lock_guard<std::mutex> lock(mu_);
  rxLog_.clear();
  txLog_.clear();
}

RKVTCFG KvtSim::config() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cfg_;
}

void KvtSim::setConfig(const RKVTCFG& cfg) {
  std::lock_guard<std::mutex> lock(mu_);
  cfg_ = cfg;
  storeConfig();
}

RKVTIdenty KvtSim::identity() const {
  std::lock_guard<std::mutex> lock(mu_);
  return makeIdentity();
}

// The identity follows the configuration, as the unit builds it from its own blocks.
RKVTIdenty KvtSim::makeIdentity() const {
  RKVTIdenty id{};
  id.mPID = opts_.pid;
  id.mHW = cfg_.mUnit.mHWVersion;
  id.mSW = cfg_.mUnit.mFWVersion;
  id.mSensor = opts_.identitySensor >= 0 ? static_cast<uint8_t>(opts_.identitySensor)
                                         : cfg_.mSensor.mSensorType;
  id.mLife = cfg_.mUnit.mLifeRemaining;
  std::memcpy(id.mSerial, cfg_.mUnit.mSerial, sizeof id.mSerial);
  return id;
}

std::vector<KvtSim::Event> KvtSim::events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return opts_.events;
}

void KvtSim::setEvents(const std::vector<Event>& events) {
  std::lock_guard<std::mutex> lock(mu_);
  opts_.events = events;
}

std::vector<uint8_t> KvtSim::eepromImage() const {
  std::lock_guard<std::mutex> lock(mu_);
  return buildEeprom();
}

KvtSim::State KvtSim::state() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

void KvtSim::wake() {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_ == State::Off || state_ == State::Hibernating) {
    state_ = State::Silent;
    connectsSeen_ = 0;
  }
}

bool KvtSim::calibrating() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calRunning_ && Clock::now() < calEnd_;
}

std::vector<uint8_t> KvtSim::firmwareImage() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fwImage_;
}

int KvtSim::firmwareRuns() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fwRuns_;
}

uint8_t KvtSim::lastOutput() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lastOutput_;
}

void KvtSim::modifyOptions(const std::function<void(Options&)>& change) {
  std::lock_guard<std::mutex> lock(mu_);
  const int unitBefore = opts_.corruptUnitCrc, sensorBefore = opts_.corruptSensorCrc;
  const std::vector<Fault> faultsBefore = opts_.faults;
  change(opts_);
  clampOptions(opts_);
  sensor_.setSettings(opts_.sensor, sensorNow());
  // A changed fault list starts counting afresh.
  bool same = faultsBefore.size() == opts_.faults.size();
  for (size_t i = 0; same && i < faultsBefore.size(); ++i)
    same = faultsBefore[i].target == opts_.faults[i].target && faultsBefore[i].kind == opts_.faults[i].kind &&
           faultsBefore[i].count == opts_.faults[i].count;
  if (!same) faultUsed_.assign(opts_.faults.size(), 0);
  if (opts_.corruptUnitCrc != unitBefore) unitCorruptLeft_ = opts_.corruptUnitCrc;
  if (opts_.corruptSensorCrc != sensorBefore) sensorCorruptLeft_ = opts_.corruptSensorCrc;
}

// ---- serving loop ----

void KvtSim::run() {
  // A wire's bytes leave on time: the default timer slack would make each paced byte, and so
  // the end of every reply, some 50 us late.
  if (opts_.wireTime) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  std::unique_lock<std::mutex> lock(mu_);
  uint8_t buf[4096];
  while (!stopFlag_) {
    int timeout = -1;
    const auto now = Clock::now();
    auto consider = [&](Clock::time_point t) {
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - now).count();
      const int v = ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 60000));
      if (timeout < 0 || v < timeout) timeout = v;
    };
    if (!in_.empty()) consider(lastByte_ + std::chrono::milliseconds(opts_.idleGapMs));
    if ((state_ == State::Off || state_ == State::Hibernating) && opts_.wakeAfterMs > 0)
      consider(offSince_ + std::chrono::milliseconds(opts_.wakeAfterMs));
    if (awayAt_ != Clock::time_point{}) consider(awayAt_);
    if (backAt_ != Clock::time_point{}) consider(backAt_);
    pollfd fds[3] = {{master_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}, {notify_, POLLIN, 0}};
    lock.unlock();
    const int rc = ::poll(fds, notify_ >= 0 ? 3 : 2, timeout);
    lock.lock();
    if (stopFlag_) break;
    if (unplugAsked_) {
      unplugAsked_ = false;
      closeTerminal();
      cv_.notify_all();
    }
    if (rc > 0 && (fds[1].revents & POLLIN)) {
      char drain[64];
      while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
      }
    }
    if (rc < 0 && errno != EINTR) {
      sleepUntil(lock, Clock::now() + std::chrono::milliseconds(10));
      continue;
    }
    const auto t = Clock::now();
    if (rc > 0 && notify_ >= 0 && (fds[2].revents & POLLIN)) {
      alignas(inotify_event) char ev[4096];
      while (::read(notify_, ev, sizeof ev) > 0) {
      }
      if (slave_ >= 0) ::ioctl(slave_, TIOCNXCL);
    }
    if (master_ < 0) continue;  // pulled out: nothing to serve until replug()
    if (rc > 0 && (fds[0].revents & POLLIN)) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        in_.insert(in_.end(), buf, buf + n);
        lastByte_ = t;
        ::ioctl(slave_, TIOCNXCL);
      }
    } else if (rc > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
      // Should not happen while we hold the slave open; never spin on it.
      sleepUntil(lock, t + std::chrono::milliseconds(10));
    }
    if ((state_ == State::Off || state_ == State::Hibernating) && opts_.wakeAfterMs > 0 &&
        t >= offSince_ + std::chrono::milliseconds(opts_.wakeAfterMs)) {
      state_ = State::Silent;
      connectsSeen_ = 0;
    }
    if (awayAt_ != Clock::time_point{} && t >= awayAt_) {
      awayAt_ = {};
      present_ = false;
      if (opts_.backAfterMs > 0 && unit_ < opts_.units) backAt_ = t + std::chrono::milliseconds(opts_.backAfterMs);
    }
    if (backAt_ != Clock::time_point{} && t >= backAt_) {
      backAt_ = {};
      nextUnit();
    }
    processInput(t);
    flushOutput(lock);
  }
}

void KvtSim::nextUnit() {
  ++unit_;
  cfg_ = opts_.config;
  // The serial's trailing digits count up, carrying into the digits before them.
  for (int i = static_cast<int>(sizeof cfg_.mUnit.mSerial) - 1, add = unit_ - 1; i >= 0 && add > 0; --i) {
    char& c = cfg_.mUnit.mSerial[i];
    if (c < '0' || c > '9') break;
    const int v = c - '0' + add;
    c = static_cast<char>('0' + v % 10);
    add = v / 10;
  }
  storeConfig();
  factoryCfg_ = cfg_;
  sensor_.reset(cfg_.mSensor, sensorNow());
  present_ = true;
  state_ = State::Silent;
  connectsSeen_ = 0;
}

void KvtSim::takeAway() {
  std::lock_guard<std::mutex> lock(mu_);
  present_ = false;
  awayAt_ = backAt_ = {};
}

void KvtSim::putBack(bool next) {
  std::lock_guard<std::mutex> lock(mu_);
  awayAt_ = backAt_ = {};
  if (next) {
    nextUnit();
  } else {
    present_ = true;
    state_ = State::Silent;
    connectsSeen_ = 0;
  }
}

bool KvtSim::present() const {
  std::lock_guard<std::mutex> lock(mu_);
  return present_;
}

int KvtSim::unitNumber() const {
  std::lock_guard<std::mutex> lock(mu_);
  return unit_;
}

const char* KvtSim::kindName(Expect kind) {
  switch (kind) {
    case Expect::Header: return "header";
    case Expect::WindowData: return "data";
    case Expect::LifeValue: return "time";
    case Expect::FwPacket: return "packet";
    case Expect::Command: break;
  }
  return "command";
}

int KvtSim::expectedLength() const {
  switch (expect_) {
    case Expect::Header: return 6;
    case Expect::WindowData: return windowSize_ + 2;
    case Expect::LifeValue: return 6;
    case Expect::FwPacket: return opts_.fwPacketSize + 2;
    case Expect::Command: break;
  }
  return 3;
}

// Frames carry no length: a command frame is its byte and a CRC; a frame without a command
// byte is expected only right after the command that announced it, with the length that
// command implies. A frame whose CRC fails is resynchronised by sliding one byte; an
// unfinished frame left idle for idleGapMs is dropped (or, when it is a command frame the
// host sent after giving up on a payload, taken as that command).
void KvtSim::processInput(Clock::time_point now) {
  frameTime_ = now;
  while (!in_.empty() && !stopFlag_) {
    const size_t need = static_cast<size_t>(expectedLength());
    if (in_.size() < need) {
      if (now - lastByte_ >= std::chrono::milliseconds(opts_.idleGapMs)) {
        if (expect_ != Expect::Command && in_.size() >= 3 && crcOk(in_.data(), 3)) {
          expect_ = Expect::Command;
          windowSet_ = false;
          continue;
        }
        junk_.insert(junk_.end(), in_.begin(), in_.end());
        in_.clear();
        expect_ = Expect::Command;
        logFrame(true, {}, "");  // flushes the junk
      }
      return;
    }
    if (crcOk(in_.data(), need)) {
      std::vector<uint8_t> frame(in_.begin(), in_.begin() + static_cast<long>(need));
      in_.erase(in_.begin(), in_.begin() + static_cast<long>(need));
      handleFrame(frame, expect_);
      continue;
    }
    if (expect_ == Expect::Command) {
      junk_.push_back(in_.front());
      in_.erase(in_.begin());
      continue;
    }
    if (crcOk(in_.data(), 3)) {  // the host gave up on the payload and sent a command
      expect_ = Expect::Command;
      windowSet_ = false;
      continue;
    }
    // A payload damaged on the way: refuse it so that the host sends it again.
    std::vector<uint8_t> frame(in_.begin(), in_.begin() + static_cast<long>(need));
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(need));
    logFrame(true, frame, std::string("bad ") + kindName(expect_));
    expect_ = Expect::Command;
    windowSet_ = false;
    nak();
  }
}

void KvtSim::handleFrame(const std::vector<uint8_t>& frame, Expect kind) {
  if (!present_) {  // no detector at the adapter: nobody hears the frame
    logFrame(true, frame, kind == Expect::Command ? hexByte(frame[0]) + " (away)" : "(away)");
    state_ = State::Silent;
    expect_ = Expect::Command;
    return;
  }
  if (kind == Expect::Command) {
    std::string label = hexByte(frame[0]);
    if (state_ == State::Off) label += " (off)";
    else if (state_ == State::Hibernating) label += " (hibernating)";
    else if (state_ == State::Silent && frame[0] != 0xB2) label += " (not connected)";
    logFrame(true, frame, label);
    handleCommand(frame[0]);
    return;
  }
  logFrame(true, frame, kindName(kind));
  expect_ = Expect::Command;
  handlePayload(std::vector<uint8_t>(frame.begin(), frame.end() - 2), kind);
}

bool KvtSim::applyFault(int target, int packet) {
  for (size_t i = 0; i < opts_.faults.size(); ++i) {
    const Fault& f = opts_.faults[i];
    if (f.target != target || (f.packet >= 0 && f.packet != packet)) continue;
    if (f.count > 0 && faultUsed_[i] >= f.count) continue;
    ++faultUsed_[i];
    switch (f.kind) {
      case FaultKind::Nak: nak(); break;
      case FaultKind::Error: errorReply(); break;
      case FaultKind::Silent: break;
      case FaultKind::BadCrc:
        corruptNext_ = true;
        return false;  // answered as usual, then damaged on the way out
      case FaultKind::Hangup:
        logFrame(false, {}, "hang-up");
        closeTerminal();
        break;
    }
    return true;
  }
  return false;
}

void KvtSim::handleCommand(uint8_t cmd) {
  const auto now = Clock::now();
  const bool burst = cmd == 0xB2 && in_.size() >= 3 &&
                     std::equal(kConnectFrame.begin(), kConnectFrame.end(), in_.begin());
  // Connect frames the host sent before it saw our acknowledgement (it repeats them about
  // every millisecond) are not answered again: a second acknowledgement would arrive in
  // the middle of its first exchange. They come with no other command between, soon after
  // the answered one, however late a loaded machine lets us read them; a connect check
  // comes after a command or a pause, and after kConnectRepeat a repeat is answered again
  // so that a host whose acknowledgement was lost is never shut out.
  constexpr auto kConnectRepeat = std::chrono::milliseconds(20);
  const bool stale = cmd == 0xB2 && connectAnswered_ && frameTime_ - connectAnsweredAt_ < kConnectRepeat;
  if (cmd != 0xB2) connectAnswered_ = false;
  if (state_ == State::Off || state_ == State::Hibernating) {
    // The adapter echoes even when the unit does not listen.
    if (cmd == 0xB2 && opts_.echoHandshake) queueRaw(kConnectFrame, "echo");
    return;
  }
  if (state_ == State::Silent) {
    if (cmd != 0xB2) return;  // a detector not connected stays silent
    ++connectsSeen_;
    if (opts_.echoHandshake) queueRaw(kConnectFrame, "echo");
    if (connectsSeen_ <= opts_.ignoreConnects) return;
    // Connect frames that queued up while we were busy get one answer, to the last of
    // them, so no stray acknowledgements trail into the first exchange.
    if (burst || stale) return;
    if (applyFault(0xB2)) return;
    ack();
    out_.back().whole = true;
    connectAnswered_ = true, connectAnsweredAt_ = frameTime_;
    state_ = State::Connected;
    source_ = Source::None;
    windowSet_ = sensorSelected_ = upgrading_ = false;
    return;
  }

  // Connected.
  if (cmd == 0xB2 && opts_.echoCheck) queueRaw(kConnectFrame, "echo");
  if (cmd == 0xB2 && (burst || stale)) return;
  if (cmd != 0xB2 && cmd != 0xB3 && applyFault(kTargetAny)) return;
  if (applyFault(cmd)) return;
  if (cmd != 0x91 && cmd != 0x81) windowSet_ = false;

  const auto handler = commandHandlers().find(cmd);
  if (handler == commandHandlers().end()) {
    nak();
    return;
  }
  (this->*handler->second)(cmd, now);
}

void KvtSim::selectRead(Source s, std::vector<uint8_t> data, int packet) {
  source_ = s;
  readData_ = std::move(data);
  readPos_ = 0;
  readPacket_ = packet;
}

std::vector<uint8_t> KvtSim::blockBytes(const void* block, int setting, int& left) {
  std::vector<uint8_t> b(static_cast<const uint8_t*>(block), static_cast<const uint8_t*>(block) + 64);
  if (setting < 0 || left > 0) {
    b[62] ^= 0xFF;
    if (left > 0) --left;
  }
  return b;
}

const std::map<uint8_t, KvtSim::CommandHandler>& KvtSim::commandHandlers() {
  static const std::map<uint8_t, CommandHandler> handlers = {
      {0xB2, &KvtSim::onConnectCheck},
      {0xB3, &KvtSim::onDisconnect},
      {0xA0, &KvtSim::onIdentity},
      {0x5F, &KvtSim::onSelectUnit},
      {0x50, &KvtSim::onSelectSensor},
      {0x60, &KvtSim::onSelectLog},
      {0xA1, &KvtSim::onLogSize},
      {0x81, &KvtSim::onNextPacket},
      {0x70, &KvtSim::onWriteHeader},
      {0x91, &KvtSim::onWriteData},
      {0x93, &KvtSim::onSamePacket},
      {0x71, &KvtSim::onWriteLife},
      {0x20, &KvtSim::onReading},
      {0x21, &KvtSim::onReading},
      {0x22, &KvtSim::onReading},
      {0x17, &KvtSim::onHibernate},
      {0x14, &KvtSim::onPowerDown},
      {0x12, &KvtSim::onFactoryReset},
      {0x13, &KvtSim::onLogReset},
      {0x10, &KvtSim::onUpgradeStart},
      {0x11, &KvtSim::onUpgradeRun},
      {0x40, &KvtSim::onSensorAction},
      {0x41, &KvtSim::onSensorAction},
      {0x42, &KvtSim::onSensorAction},
      {0x43, &KvtSim::onSensorAction},
      {0x44, &KvtSim::onSensorAction},
      {0x45, &KvtSim::onSensorAction},
      {0x46, &KvtSim::onSensorAction},
      {0x30, &KvtSim::onOutput},
      {0x31, &KvtSim::onOutput},
      {0x32, &KvtSim::onOutput},
      {0x34, &KvtSim::onOutput},
  };
  return handlers;
}

void KvtSim::onConnectCheck(uint8_t, Clock::time_point) {
  ack();
  connectAnswered_ = true, connectAnsweredAt_ = frameTime_;
}

void KvtSim::onDisconnect(uint8_t, Clock::time_point) {
  ack();
  state_ = State::Silent;
  connectsSeen_ = 0;
  if (wroteThisConnection_ && opts_.awayAfterMs > 0)
    awayAt_ = frameTime_ + std::chrono::milliseconds(opts_.awayAfterMs);
  wroteThisConnection_ = false;
}

void KvtSim::onIdentity(uint8_t, Clock::time_point) {
  const RKVTIdenty id = makeIdentity();
  const auto* p = reinterpret_cast<const uint8_t*>(&id);
  reply({p, p + sizeof id}, "identity");
}

void KvtSim::onSelectUnit(uint8_t, Clock::time_point) {
  ack();
  sensorSelected_ = false;
  selectRead(Source::Unit, blockBytes(&cfg_.mUnit, opts_.corruptUnitCrc, unitCorruptLeft_),
             opts_.blockPacketSize);
}

void KvtSim::onSelectSensor(uint8_t, Clock::time_point) {
  ack();
  sensorSelected_ = true;
  selectRead(Source::Sensor, blockBytes(&cfg_.mSensor, opts_.corruptSensorCrc, sensorCorruptLeft_),
             opts_.blockPacketSize);
}

void KvtSim::onSelectLog(uint8_t, Clock::time_point) {
  ack();
  sensorSelected_ = false;
  selectRead(Source::Log, logBytes(), opts_.logPacketSize);
}

void KvtSim::onLogSize(uint8_t, Clock::time_point) {
  const uint32_t size = opts_.logSizeOverride >= 0 ? static_cast<uint32_t>(opts_.logSizeOverride)
                                                   : static_cast<uint32_t>(logBytes().size());
  reply({static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16),
         static_cast<uint8_t>(size >> 24)},
        "log size");
}

void KvtSim::onNextPacket(uint8_t, Clock::time_point) {
  if (source_ == Source::None || readPacket_ <= 0) {
    nak();
    return;
  }
  std::vector<uint8_t> packet(static_cast<size_t>(readPacket_), 0xFF);
  for (int i = 0; i < readPacket_; ++i)
    if (readPos_ + i < readData_.size()) packet[i] = readData_[readPos_ + i];
  readPos_ += static_cast<size_t>(readPacket_);
  reply(std::move(packet), "packet");
}

void KvtSim::onWriteHeader(uint8_t, Clock::time_point) {
  ack();
  sensorSelected_ = false;
  source_ = Source::None;
  expect_ = Expect::Header;
}

void KvtSim::onWriteData(uint8_t, Clock::time_point) {
  if (windowSet_) {
    if (windowAddr_ + windowSize_ > static_cast<int>(sizeof(RKVTCFG))) {
      windowSet_ = false;
      nak();
      return;
    }
    ack();
    expect_ = Expect::WindowData;
  } else if (upgrading_ && static_cast<size_t>(fwNext_) < fwGot_.size()) {
    ack();
    fwSlot_ = fwNext_;
    expect_ = Expect::FwPacket;
  } else {
    nak();
  }
}

// 0x93: the same firmware slice again.
void KvtSim::onSamePacket(uint8_t, Clock::time_point) {
  if (upgrading_ && fwSlot_ >= 0) {
    ack();
    expect_ = Expect::FwPacket;
  } else {
    nak();
  }
}

void KvtSim::onWriteLife(uint8_t, Clock::time_point) {
  ack();
  expect_ = Expect::LifeValue;
}

void KvtSim::onReading(uint8_t cmd, Clock::time_point now) {
  reply(readingRecord(cmd - 0x20, now), "reading");
}

void KvtSim::onHibernate(uint8_t, Clock::time_point now) {
  if (cfg_.mUnit.mAllowSuspend == 0x80) {
    ack();
    state_ = State::Hibernating;
    offSince_ = now;
    opts_.events.clear();  // hibernation clears the event log
  } else {
    errorReply();
  }
}

void KvtSim::onPowerDown(uint8_t, Clock::time_point now) {
  ack();
  state_ = State::Off;
  offSince_ = now;
}

void KvtSim::onFactoryReset(uint8_t, Clock::time_point) {
  ack();
  cfg_ = factoryCfg_;
  calRunning_ = calFailedBit_ = bumpFailedBit_ = peakValid_ = false;
}

void KvtSim::onLogReset(uint8_t, Clock::time_point) {
  ack();
  opts_.events.clear();
}

void KvtSim::onUpgradeStart(uint8_t, Clock::time_point) {
  ack();
  upgrading_ = true;
  fwImage_.assign(static_cast<size_t>(opts_.fwPacketSize) * static_cast<size_t>(opts_.fwPacketCount), 0xFF);
  fwGot_.assign(static_cast<size_t>(opts_.fwPacketCount), false);
  fwNext_ = 0;
  fwSlot_ = -1;
}

void KvtSim::onUpgradeRun(uint8_t, Clock::time_point) {
  bool good = upgrading_ && fwImage_.size() > 7;
  for (bool got : fwGot_) good = good && got;
  if (good) {
    uint16_t crc = 0;
    for (size_t i = 2; i < fwImage_.size(); ++i) crc = UpdateCRC16(crc, fwImage_[i]);
    good = crc == (fwImage_[0] | (fwImage_[1] << 8));
  }
  upgrading_ = false;
  if (!good) {
    nak();
    return;
  }
  ack();
  ++fwRuns_;
  cfg_.mUnit.mFWVersion = fwImage_[3];  // the new program reports its own version
  storeConfig();
}

void KvtSim::onSensorAction(uint8_t cmd, Clock::time_point now) {
  if (!sensorSelected_) {  // actions go to the sensor selected by 0x50
    nak();
    return;
  }
  ack();
  if (cmd == 0x40 || cmd == 0x42) sensorZero();  // the zero is taken at once, the span at the end
  spanGasStep(cmd);
  if (cmd == 0x40) {
    calRunning_ = false;
    calFailedBit_ = false;
  } else if (cmd == 0x41 || cmd == 0x42) {
    calRunning_ = !opts_.calNeverStart;
    calFailedBit_ = false;
    calEnd_ = now + std::chrono::milliseconds(opts_.calTimeMs);
  } else if (cmd == 0x43) {
    calRunning_ = false;
  } else if (cmd == 0x44) {
    peakValid_ = false;
  } else if (cmd == 0x45) {
    bumpFailedBit_ = true;
  } else {
    bumpFailedBit_ = false;
  }
}

void KvtSim::onOutput(uint8_t cmd, Clock::time_point) {
  ack();
  lastOutput_ = cmd;
}

void KvtSim::handlePayload(const std::vector<uint8_t>& p, Expect kind) {
  switch (kind) {
    case Expect::Header:
      if (applyFault(kTargetHeader)) return;
      if (p[0] == 0 || p[1] != 0) {  // size 1..255, second byte reserved as 0
        nak();
        return;
      }
      windowSize_ = p[0];
      windowAddr_ = (p[2] << 8) | p[3];
      windowSet_ = true;
      // The same window serves an EEPROM read: 0x81 then delivers packets of its size.
      source_ = Source::Eeprom;
      readData_ = buildEeprom();
      readPos_ = static_cast<size_t>(windowAddr_);
      readPacket_ = windowSize_;
      ack();
      return;
    case Expect::WindowData:
      windowSet_ = false;
      if (applyFault(kTargetData)) return;
      wroteThisConnection_ = true;
      if (unit_ != opts_.loseWritesUnit) {
        std::memcpy(reinterpret_cast<uint8_t*>(&cfg_) + windowAddr_, p.data(), p.size());
        storeConfig();
      }
      ack();
      return;
    case Expect::LifeValue: {
      if (applyFault(kTargetTime)) return;
      const uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
      if (v > kMaxLife) {
        nak();
        return;
      }
      cfg_.mUnit.mLifeRemaining = v;
      storeConfig();
      ack();
      return;
    }
    case Expect::FwPacket:
      if (applyFault(kTargetPacket, fwSlot_)) return;
      // The image was sized when the upgrade started; packet sizes changed since do not fit.
      if (!upgrading_ || fwSlot_ < 0 || static_cast<size_t>(fwSlot_) >= fwGot_.size() ||
          (static_cast<size_t>(fwSlot_) + 1) * p.size() > fwImage_.size() ||
          fwImage_.size() != p.size() * fwGot_.size()) {
        nak();
        return;
      }
      std::memcpy(fwImage_.data() + static_cast<size_t>(fwSlot_) * p.size(), p.data(), p.size());
      fwGot_[static_cast<size_t>(fwSlot_)] = true;
      fwNext_ = fwSlot_ + 1;
      ack();
      return;
    case Expect::Command:
      return;
  }
}

void KvtSim::storeConfig() { fillCRCs(cfg_); }

std::vector<uint8_t> KvtSim::logBytes() const {
  std::vector<uint8_t> out;
  for (const Event& e : opts_.events) {
    RKVTEvent r{};
    r.mStartEvent = e.start;
    r.mDurationEvent = e.duration;
    r.mAlarmStatusFlag = e.flags;
    r.mSensorReading = e.reading;
    const auto* p = reinterpret_cast<const uint8_t*>(&r);
    out.insert(out.end(), p, p + sizeof r);
  }
  out.insert(out.end(), sizeof(RKVTEvent), 0xFF);  // empty log space after the last entry
  return out;
}

std::vector<uint8_t> KvtSim::buildEeprom() const {
  const size_t size = static_cast<size_t>(opts_.eepromSize);
  if (!opts_.eeprom.empty()) {
    std::vector<uint8_t> e = opts_.eeprom;
    e.resize(size, 0xFF);
    return e;
  }
  std::vector<uint8_t> e(size, 0xFF);
  for (size_t i = 0; i < 10 && 16 + i < size; ++i) e[16 + i] = static_cast<uint8_t>(cfg_.mUnit.mSerial[i]);
  if (size > 31) {
    e[30] = static_cast<uint8_t>(opts_.eepromTimeStep);
    e[31] = static_cast<uint8_t>(opts_.eepromTimeStep >> 8);
  }
  // 433 logged values in tenths: a slow wave that dips below zero.
  for (int i = 0; i < 433; ++i) {
    const size_t a = 128 + 2 * static_cast<size_t>(i);
    if (a + 1 >= size) break;
    const int v = static_cast<int>(std::lround(120.0 * std::sin(i * 2.0 * M_PI / 144.0) + 40.0));
    const auto w = static_cast<uint16_t>(v);
    e[a] = static_cast<uint8_t>(w);
    e[a + 1] = static_cast<uint8_t>(w >> 8);
  }
  return e;
}

void KvtSim::finishCalibration(Clock::time_point now) {
  if (!calRunning_ || now < calEnd_ || opts_.calNeverEnd) return;
  calRunning_ = false;
  calFailedBit_ = opts_.calFail || !sensorSpan();
  if (!calFailedBit_) {
    cfg_.mSensor.mLastCal = cfg_.mUnit.mLifeRemaining;
    storeConfig();
  }
}

std::vector<uint8_t> KvtSim::readingRecord(int mode, Clock::time_point now) {
  RKVTSensor r{};
  if (mode == 0) {
    finishCalibration(now);
    int v;
    if (opts_.overRange) {
      v = 0x7FFF;
    } else if (!opts_.timetable) {
      v = sensorReading();
    } else {
      const double t = std::chrono::duration<double, std::milli>(now - startTime_).count();
      const double period = opts_.gasPeriodMs > 0 ? opts_.gasPeriodMs : 1;
      v = opts_.gasCenter + static_cast<int>(std::lround(opts_.gasAmplitude * std::sin(2.0 * M_PI * t / period)));
    }
    spanGasAfterReading();
    if (!peakValid_ || v > peak_) peak_ = v;
    peakValid_ = true;
    const int dec = opts_.gasDecimals & 3;
    int scale = 1;
    for (int i = 0; i < dec; ++i) scale *= 10;
    const long tenths = static_cast<long>(v) * 10 / scale;
    uint8_t alarm = opts_.alarmBits;
    if (opts_.overRange || tenths >= cfg_.mSensor.mAlarmLow) alarm |= 0x04;
    if (opts_.overRange || tenths >= cfg_.mSensor.mAlarmHigh) alarm |= 0x08;
    r.mSensor = static_cast<uint16_t>(v);
    r.mPeak = static_cast<uint16_t>(peak_);
    r.mHistory = static_cast<uint8_t>(dec | (opts_.historyBits & 0x7C) | (calFailedBit_ ? 0x08 : 0) |
                                      (bumpFailedBit_ ? 0x10 : 0) | (calRunning_ ? 0x80 : 0));
    r.mAlarm = alarm;
  } else if (mode == 1) {
    r.mSensor = static_cast<uint16_t>(opts_.tempValue);
    r.mPeak = static_cast<uint16_t>(opts_.tempAdc);
    r.mHistory = static_cast<uint8_t>(opts_.tempDecimals & 3);
  } else {
    r.mSensor = static_cast<uint16_t>(opts_.batteryValue);
    r.mPeak = static_cast<uint16_t>(opts_.batteryAdc);
    r.mHistory = static_cast<uint8_t>(opts_.batteryDecimals & 3);
  }
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return {p, p + sizeof r};
}

// ---- sending ----

void KvtSim::reply(std::vector<uint8_t> data, const char* what) {
  const uint16_t crc = GetCRC16(data.data(), static_cast<int>(data.size()));
  data.push_back(static_cast<uint8_t>(crc >> 8));
  data.push_back(static_cast<uint8_t>(crc & 0xFF));
  ++repliesSent_;
  std::string label = what;
  if (corruptNext_) {
    // The CRC's first byte: a damaged last byte of an acknowledgement still counts as one.
    corruptNext_ = false;
    data[data.size() - 2] ^= 0xFF;
    label += " (bad CRC)";
  } else if (opts_.corruptCrcEvery > 0 && repliesSent_ % opts_.corruptCrcEvery == 0) {
    data.back() ^= 0xFF;
    label += " (bad CRC)";
  }
  out_.push_back({std::move(data), label});
}

void KvtSim::replyStatus(uint8_t status) {
  const char* what = status == 0xB5 ? "ACK" : status == 0xB6 ? "NAK" : "ERROR";
  reply({status}, what);
}

void KvtSim::queueRaw(std::vector<uint8_t> bytes, const char* what) {
  out_.push_back({std::move(bytes), what, true});
}

bool KvtSim::sleepUntil(std::unique_lock<std::mutex>& lock, Clock::time_point t) {
  return !cv_.wait_until(lock, t, [this] { return stopFlag_; });
}

void KvtSim::flushOutput(std::unique_lock<std::mutex>& lock) {
  std::vector<Pending> pending;
  pending.swap(out_);
  for (Pending& p : pending) {
    if (p.what != "echo" && opts_.replyDelayMs > 0 &&
        !sleepUntil(lock, Clock::now() + std::chrono::milliseconds(opts_.replyDelayMs)))
      return;
    logFrame(false, p.bytes, p.what);
    // The handshake takes an acknowledgement only when it arrives whole within one read, so
    // splitting it would make every connection fail rather than test reply assembly.
    const size_t piece =
        opts_.splitBytes > 0 && !p.whole ? static_cast<size_t>(opts_.splitBytes) : p.bytes.size();
    auto next = Clock::now();
    for (size_t off = 0; off < p.bytes.size(); off += piece) {
      const size_t len = std::min(piece, p.bytes.size() - off);
      if (off > 0 && opts_.splitGapUs > 0) {
        next = std::max(next, Clock::now()) + std::chrono::microseconds(opts_.splitGapUs);
        if (!sleepUntil(lock, next)) return;
      }
      if (opts_.wireTime) {
        // One byte at a time, each when its ten bits would have left the wire.
        for (size_t i = 0; i < len; ++i) {
          next += kByteTime;
          if (next > Clock::now() && !sleepUntil(lock, next)) return;
          [[maybe_unused]] auto n = ::write(master_, &p.bytes[off + i], 1);
        }
      } else {
        // Bytes nobody reads are lost once the terminal's queue is full, as on a wire.
        [[maybe_unused]] auto n = ::write(master_, &p.bytes[off], len);
      }
    }
  }
}

void KvtSim::logFrame(bool rx, const std::vector<uint8_t>& bytes, const std::string& what) {
  auto add = [this](bool isRx, const std::vector<uint8_t>& b, const std::string& w) {
    Frame f{isRx, b, Clock::now(), w};
    auto& log = isRx ? rxLog_ : txLog_;
    log.push_back(f);
    while (log.size() > opts_.frameLogLimit && !log.empty()) log.pop_front();
    if (logOut_) {
      const double t = std::chrono::duration<double>(f.time - startTime_).count();
      std::string line;
      for (uint8_t c : b) line += hexByte(c) + " ";
      std::fprintf(logOut_, "%11.6f %s %-48s; %s\n", t, isRx ? "RX" : "TX", line.c_str(), w.c_str());
      std::fflush(logOut_);
    }
  };
  if (!junk_.empty()) {
    std::vector<uint8_t> j;
    j.swap(junk_);
    add(true, j, "junk");
  }
  if (!bytes.empty() || !what.empty()) add(rx, bytes, what);
}
