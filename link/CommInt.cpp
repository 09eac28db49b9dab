#include "link/CommInt.h"

#include "link/CommRate.h"
#include "link/CommTermios.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAlreadyOpen = "Port already assigned (open)";
constexpr const char* kNotOpen = "Port not open, unable to complete operation";
constexpr const char* kLineSettings = "Error updating DataControlBlock";

// How often the event thread looks at what poll() cannot wait for: modem lines and error
// counters, the transmit queue after a write, and the receive queue while unread bytes sit.
constexpr int kEventPollMs = 10;

uint32_t EventBit(TCommEventType e) { return 1u << static_cast<unsigned>(e); }

speed_t StandardSpeed(int rate) {
  switch (rate) {
    case 110: return B110;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    default: return B0;
  }
}

struct LineCounters {
  bool valid = false;
  serial_icounter_struct c{};
};

LineCounters ReadCounters(int fd) {
  LineCounters r;
  r.valid = ::ioctl(fd, TIOCGICOUNT, &r.c) == 0;
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

ECommError::ECommError(const std::string& text, int code)
    : std::runtime_error(text + " (Error: " + std::to_string(code) + ") "), ErrorCode(code), FText(text) {}

int BaudRateValue(TBaudrate rate) {
  static constexpr int values[] = {110,   200,   300,   600,   1200,  2400,   4800,   9600,   10400,  14400,
                                   19200, 28800, 38400, 56000, 57600, 115200, 128000, 281250, 256000, 562500};
  return values[static_cast<int>(rate)];
}

// ---------------------------------------------------------------------------------------------

void TCommEventChars::Assign(const TCommEventChars& Source) {
  FXonChar = Source.FXonChar;
  FXoffChar = Source.FXoffChar;
  FErrorChar = Source.FErrorChar;
  FEofChar = Source.FEofChar;
  FEvtChar = Source.FEvtChar;
}

void TCommEventChars::Changed() {
  if (FOwner != nullptr && FOwner->Enabled()) FOwner->ApplyLineSettings();
}

void TCommEventChars::SetXonChar(uint8_t c) { FXonChar = c; Changed(); }
void TCommEventChars::SetXoffChar(uint8_t c) { FXoffChar = c; Changed(); }
void TCommEventChars::SetErrorChar(uint8_t c) { FErrorChar = c; Changed(); }
void TCommEventChars::SetEofChar(uint8_t c) { FEofChar = c; Changed(); }
void TCommEventChars::SetEvtChar(uint8_t c) { FEvtChar = c; Changed(); }

// ---------------------------------------------------------------------------------------------

struct TCommEventThread::State {
  int fd = -1;  // our own duplicate of the device descriptor
  uint32_t mask = 0;
  TCommEvent onSignal;
  TCommDispatcher dispatch;
  TSimpleEvent wake;  // Stop and NotifyWritten
  std::atomic<bool> stop{false};
  std::atomic<bool> written{false};
  std::thread thread;
  std::atomic<TCommEventThread*> owner{nullptr};  // cleared before the owner goes away

  ~State() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

void RunEventThread(std::shared_ptr<TCommEventThread::State> s) {
  // One step above the others, so line events are not starved; without the right to raise
  // it the thread simply runs at normal priority.
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice - 1);

  const uint32_t modemEvents = EventBit(evCts) | EventBit(evDsr) | EventBit(evRing) | EventBit(evRlsd);
  const uint32_t counterEvents = EventBit(evBreak) | EventBit(evError);
  const bool wantRx = (s->mask & EventBit(evRxChar)) != 0;
  const bool wantTx = (s->mask & EventBit(evTxEmpty)) != 0;

  LineCounters counters = ReadCounters(s->fd);
  int modem = 0;
  const bool haveModem = ::ioctl(s->fd, TIOCMGET, &modem) == 0;
  const bool watchLines = ((s->mask & modemEvents) != 0 && (haveModem || counters.valid)) ||
                          ((s->mask & counterEvents) != 0 && counters.valid);

  bool rxArmed = true;  // wait in poll() for the next byte
  int rxSeen = 0;       // queue count already reported
  bool txPending = false;
  bool hungUp = false;

  while (!s->stop.load()) {
    const bool periodic = !hungUp && (watchLines || (wantRx && !rxArmed) || (wantTx && txPending));
    pollfd p[2] = {{s->wake.Handle(), POLLIN, 0}, {s->fd, 0, 0}};
    if (wantRx && rxArmed) p[1].events = POLLIN;
    // poll() reports a hang-up whatever was asked for, so a hung-up device leaves the set.
    const int rc = ::poll(p, hungUp ? 1 : 2, periodic ? kEventPollMs : -1);
    if (rc < 0 && errno != EINTR) break;
    if (s->stop.load()) break;
    if (p[0].revents & POLLIN) {
      s->wake.ResetEvent();
      if (s->written.exchange(false)) txPending = true;
    }
    if (p[1].revents & POLLNVAL) break;
    // A hung-up device (unplugged bridge, closed pseudo-terminal master) stays readable for ever;
    // the reader finds out from its next read, the thread just stops watching.
    if (p[1].revents & (POLLHUP | POLLERR)) hungUp = true;

    uint32_t status = 0;
    if (wantRx && !hungUp) {
      int queued = 0;
      if (::ioctl(s->fd, FIONREAD, &queued) == 0) {
        if (queued == 0) {
          rxArmed = true;
          rxSeen = 0;
        } else if (rxArmed || queued > rxSeen) {
          status |= EventBit(evRxChar);
          rxArmed = false;
          rxSeen = queued;
        } else {
          rxSeen = queued;  // the reader took some; report only growth from here
        }
      }
    }
    if (wantTx && txPending) {
      int outq = 0;
      if (::ioctl(s->fd, TIOCOUTQ, &outq) == 0 && outq == 0) {
        status |= EventBit(evTxEmpty);
        txPending = false;
      }
    }
    if (watchLines && !hungUp) {
      const LineCounters now = ReadCounters(s->fd);
      if (now.valid && counters.valid) {
        if (now.c.cts != counters.c.cts) status |= EventBit(evCts);
        if (now.c.dsr != counters.c.dsr) status |= EventBit(evDsr);
        if (now.c.rng != counters.c.rng) status |= EventBit(evRing);
        if (now.c.dcd != counters.c.dcd) status |= EventBit(evRlsd);
        if (now.c.brk != counters.c.brk) status |= EventBit(evBreak);
        if (now.c.frame != counters.c.frame || now.c.overrun != counters.c.overrun ||
            now.c.parity != counters.c.parity || now.c.buf_overrun != counters.c.buf_overrun)
          status |= EventBit(evError);
        counters = now;
      } else if (haveModem) {
        int lines = 0;
        if (::ioctl(s->fd, TIOCMGET, &lines) == 0) {
          const int changed = lines ^ modem;
          if (changed & TIOCM_CTS) status |= EventBit(evCts);
          if (changed & TIOCM_DSR) status |= EventBit(evDsr);
          if ((changed & TIOCM_RNG) && (lines & TIOCM_RNG)) status |= EventBit(evRing);
          if (changed & TIOCM_CD) status |= EventBit(evRlsd);
          modem = lines;
        }
      }
    }
    status &= s->mask;
    if (status != 0 && !s->stop.load()) {
      auto state = s;
      auto task = [state, status] {
        if (state->onSignal && !state->stop.load()) state->onSignal(state->owner, status);
      };
      if (s->dispatch)
        s->dispatch(task);
      else
        task();
    }
  }
  // A task still queued somewhere must not keep the device open (and exclusively taken).
  ::close(s->fd);
  s->fd = -1;
}

}  // namespace

TCommEventThread::TCommEventThread(int CommHandle, TCommEventTypes Events, TCommEvent OnSignal,
                                   TCommDispatcher Dispatch)
    : FState(std::make_shared<State>()) {
  FState->fd = ::fcntl(CommHandle, F_DUPFD_CLOEXEC, 0);
  if (FState->fd < 0) throw ECommError("Error creating event thread", errno);
  FState->mask = Events.Mask();
  FState->onSignal = std::move(OnSignal);
  FState->dispatch = std::move(Dispatch);
  FState->owner = this;
  FState->thread = std::thread(RunEventThread, FState);
}

TCommEventThread::~TCommEventThread() {
  Stop();
  FState->owner = nullptr;
  if (FState->thread.joinable()) {
    // A handler that closes the port runs on this very thread: it cannot join itself, so it
    // lets the thread run out; the thread holds the state (and its descriptor) until then.
    if (FState->thread.get_id() == std::this_thread::get_id())
      FState->thread.detach();
    else
      FState->thread.join();
  }
}

void TCommEventThread::Stop() {
  FState->stop.store(true);
  FState->wake.SetEvent();
}

void TCommEventThread::NotifyWritten() {
  if ((FState->mask & EventBit(evTxEmpty)) == 0) return;
  FState->written.store(true);
  FState->wake.SetEvent();
}

// ---------------------------------------------------------------------------------------------

struct TCustomComm::Guard {
  std::recursive_mutex m;
  bool alive = true;
};

TCustomComm::TCustomComm() : FEventChars(std::make_unique<TCommEventChars>(this)) {}

TCustomComm::~TCustomComm() { Close(); }

void TCustomComm::CheckClosed() const {
  if (Enabled()) throw ECommError(kAlreadyOpen, -1);
}

int TCustomComm::CreateHandle() {
  // Non-blocking so open() never waits for carrier; exclusive so no second program talks to
  // the detector in between.
  const int fd = ::open(FDeviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw ECommError("Error accessing specified device", errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
    ::close(fd);
    throw ECommError("Invalid device handle, access denied", -1);
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    throw ECommError("Error accessing specified device", err);
  }
  return fd;
}

void TCustomComm::Open() {
  CheckClosed();
  FHandle = CreateHandle();
  FXoffHeld = false;
  FCountersValid = false;
  // The steps below leave the device open when they fail; Close releases it.
  FGuard = std::make_shared<Guard>();
  // Events that come in while Open still sets the device up wait until it is done.
  std::lock_guard setup(FGuard->m);
  std::weak_ptr<Guard> weak = FGuard;
  auto onSignal = [this, weak](TCommEventThread*, uint32_t status) {
    auto guard = weak.lock();
    if (!guard) return;
    std::lock_guard lock(guard->m);
    if (guard->alive) HandleEvents(status);
  };
  // Only what some handler will see is watched; with none assigned (the link assigns none)
  // there is no thread: one that only sleeps until Close costs every connection its start
  // and its join.
  TCommEventTypes watched = FMonitorEvents;
  const std::pair<TCommEventType, bool> handlers[] = {
      {evBreak, bool(OnBreak)}, {evCts, bool(OnCts)},       {evDsr, bool(OnDsr)},
      {evError, bool(OnError)}, {evRing, bool(OnRing)},     {evRlsd, bool(OnRlsd)},
      {evRxChar, bool(OnRxChar)}, {evRxFlag, bool(OnRxFlag)}, {evTxEmpty, bool(OnTxEmpty)}};
  for (const auto& [event, assigned] : handlers)
    if (!assigned) watched.Exclude(event);
  if (!watched.Empty()) FEventThread = std::make_unique<TCommEventThread>(FHandle, watched, onSignal, FDispatch);
  ApplyTimeouts();
  ApplyLineSettings();
  ApplyBufferSizes();
}

void TCustomComm::OpenDevice(const std::string& device) {
  CheckClosed();
  SetDeviceName(device);
  SetBaudRate(br115200);
  SetParity(paNone);
  SetStopbits(sb10);
  SetDatabits(da8);
  // A fresh tty has XON/XOFF on; it would swallow 0x11 and 0x13 out of binary frames.
  SetFlowControl(fcNone);
  SetOptions({});
  try {
    Open();
  } catch (...) {
    Close();  // the port was closed on entry, so whatever is open now is ours
    throw;
  }
}

void TCustomComm::Close() {
  if (!Enabled()) return;
  // First make sure no handler runs any more (one that is running may still Read, so the
  // critical section is not held yet); then nothing on the event thread calls into us.
  if (FGuard) {
    std::lock_guard g(FGuard->m);
    FGuard->alive = false;
  }
  std::lock_guard lock(FCriticalSection);
  FEventThread.reset();  // stopped and joined before the descriptor goes
  DrainOutput();
  ::tcflush(FHandle, TCIOFLUSH);
  // A pseudo-terminal keeps the exclusive hold after our close while its other side is
  // open, which would refuse the next operation's open; give it back explicitly.
  ::ioctl(FHandle, TIOCNXCL);
  ::close(FHandle);
  FHandle = -1;
  FGuard.reset();
}

void TCustomComm::DrainOutput() {
  // Bytes write() accepted may still sit in the driver; give them up to WriteTimeout to leave
  // before the queues are cleared, so the last frame of an exchange is not thrown away.
  const auto deadline = Clock::now() + std::chrono::milliseconds(FWriteTimeout > 0 ? FWriteTimeout : 0);
  for (;;) {
    int outq = 0;
    if (::ioctl(FHandle, TIOCOUTQ, &outq) != 0 || outq <= 0) return;
    if (Clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TCustomComm::ApplyTimeouts() {
  // VMIN 0 / VTIME 0: a read returns at once with what the driver holds.
  termios t{};
  if (::tcgetattr(FHandle, &t) != 0) throw ECommError("Error updating CommTimeouts", errno);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(FHandle, TCSANOW, &t) != 0) throw ECommError("Error updating CommTimeouts", errno);
}

void TCustomComm::ApplyBufferSizes() {
  // The tty layer's queues have fixed sizes; all there is to check is that the request makes sense.
  if (FReadBufSize <= 0 || FWriteBufSize <= 0) throw ECommError("Error initializing Read/Write Buffers", EINVAL);
}

int BuildLineSettings(termios& t, const TLineSettings& s, bool& customRate) {
  // Raw byte transport: no line editing, echo, signals, CR/LF mapping or output processing.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;

  if (s.BaudData <= 0) return EINVAL;
  const speed_t speed = StandardSpeed(s.BaudData);
  customRate = speed == B0;
  // A rate termios has no constant for follows through termios2; B38400 only stands in.
  ::cfsetispeed(&t, customRate ? B38400 : speed);
  ::cfsetospeed(&t, customRate ? B38400 : speed);

  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (s.Parity) {
    case paNone: break;
    case paOdd: t.c_cflag |= PARENB | PARODD; break;
    case paEven: t.c_cflag |= PARENB; break;
    case paMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
  }

  t.c_cflag &= ~CSIZE;
  switch (s.Databits) {
    case da4: return EINVAL;  // no UART driver here sends 4-bit characters
    case da5: t.c_cflag |= CS5; break;
    case da6: t.c_cflag |= CS6; break;
    case da7: t.c_cflag |= CS7; break;
    case da8: t.c_cflag |= CS8; break;
  }

  // CSTOPB means 2 stop bits, and 1.5 with 5-bit characters. So 1.5 exists only with 5 data
  // bits and 2 only with 6 to 8.
  switch (s.Stopbits) {
    case sb10: t.c_cflag &= ~CSTOPB; break;
    case sb15:
      if (s.Databits != da5) return EINVAL;
      t.c_cflag |= CSTOPB;
      break;
    case sb20:
      if (s.Databits == da5) return EINVAL;
      t.c_cflag |= CSTOPB;
      break;
  }

  t.c_cc[VSTART] = s.XonChar;
  t.c_cc[VSTOP] = s.XoffChar;
  // EofChar: raw mode never looks for an end-of-file character. EvtChar: the event thread does
  // not look at the bytes. The XON/XOFF limits of the tty layer are fixed.

  switch (s.FlowControl) {
    case fcNone: t.c_cflag &= ~CRTSCTS; t.c_iflag &= ~(IXON | IXOFF | IXANY); break;
    case fcCTS: t.c_cflag |= CRTSCTS; t.c_iflag &= ~(IXON | IXOFF | IXANY); break;
    case fcDTR: return EINVAL;  // termios has no DSR/DTR handshake
    case fcSoftware: t.c_cflag &= ~CRTSCTS; t.c_iflag |= IXON | IXOFF; break;
    case fcDefault: break;
  }

  // Parity checking: a byte with a parity error becomes ErrorChar (the tty layer can only make
  // it a zero byte) or, without coErrorChar, is dropped.
  t.c_iflag &= ~(INPCK | IGNPAR);
  if (s.Options.Contains(coParityCheck)) {
    t.c_iflag |= INPCK;
    if (!s.Options.Contains(coErrorChar)) t.c_iflag |= IGNPAR;
  }
  if (s.Options.Contains(coErrorChar) && s.ErrorChar != 0) return EINVAL;
  if (s.Options.Contains(coDsrSensitivity)) return EINVAL;
  if (s.Options.Contains(coNullStrip)) return EINVAL;
  // coIgnoreXOff: the tty layer keeps sending after it sent XOFF, with or without the flag.
  return 0;
}

void TCustomComm::ApplyLineSettings() {
  if (!Enabled()) return;
  termios t{};
  if (::tcgetattr(FHandle, &t) != 0) throw ECommError(kLineSettings, errno);
  TLineSettings s;
  s.BaudData = FBaudData;
  s.Parity = FParity;
  s.Stopbits = FStopbits;
  s.Databits = FDatabits;
  s.FlowControl = FFlowControl;
  s.Options = FOptions;
  s.XonChar = FEventChars->XonChar();
  s.XoffChar = FEventChars->XoffChar();
  s.ErrorChar = FEventChars->ErrorChar();
  bool customRate = false;
  if (const int err = BuildLineSettings(t, s, customRate); err != 0) throw ECommError(kLineSettings, err);
  if (::tcsetattr(FHandle, TCSANOW, &t) != 0) throw ECommError(kLineSettings, errno);
  if (customRate) {
    const int err = SetTermiosRate(FHandle, static_cast<unsigned>(FBaudData));
    if (err != 0) throw ECommError(kLineSettings, err);
  }
}

// ---------------------------------------------------------------------------------------------

int TCustomComm::Write(const void* Buf, int Count) {
  std::lock_guard lock(FCriticalSection);
  if (Count <= 0) return 0;
  const auto* p = static_cast<const uint8_t*>(Buf);
  const auto deadline = Clock::now() + std::chrono::milliseconds(FWriteTimeout > 0 ? FWriteTimeout : 0);
  int done = 0;
  while (done < Count) {
    const ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(Count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) throw ECommError("Write error", errno);
    // The driver's queue is full: wait for room, but not past WriteTimeout.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return -1;
    pollfd pf{FHandle, POLLOUT, 0};
    if (::poll(&pf, 1, static_cast<int>(left)) < 0 && errno != EINTR) throw ECommError("Write error", errno);
  }
  if (FEventThread) FEventThread->NotifyWritten();
  return done;
}

int TCustomComm::Read(void* Buf, int Count) {
  std::lock_guard lock(FCriticalSection);
  if (Count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(FHandle, Buf, static_cast<size_t>(Count));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      // With VMIN and VTIME 0 an empty queue and a hung-up line (bridge unplugged, far end
      // gone) both read as 0; only poll tells them apart. A hang-up is the port failing.
      pollfd p{FHandle, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) throw ECommError("Read error", EIO);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    throw ECommError("Read error", errno);
  }
}

bool TCustomComm::WaitReadable(long timeoutUs) {
  if (!Enabled()) return false;
  const auto deadline = Clock::now() + std::chrono::microseconds(timeoutUs > 0 ? timeoutUs : 0);
  pollfd p{FHandle, POLLIN, 0};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    const long long ns = left > 0 ? left : 0;
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    const int rc = ::ppoll(&p, 1, &ts, nullptr);
    if (rc < 0 && errno == EINTR) continue;
    // A hang-up counts as readable so the next Read reports the error instead of a silent wait.
    return rc > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
}

bool TCustomComm::HungUp() {
  if (!Enabled()) return false;
  pollfd p{FHandle, 0, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void TCustomComm::PurgeIn() {
  if (Enabled()) ::tcflush(FHandle, TCIFLUSH);
}

void TCustomComm::PurgeOut() {
  if (Enabled()) ::tcflush(FHandle, TCOFLUSH);
}

int TCustomComm::InQueCount() {
  if (!Enabled()) return -1;
  int n = 0;
  return ::ioctl(FHandle, FIONREAD, &n) == 0 ? n : -1;
}

int TCustomComm::OutQueCount() {
  if (!Enabled()) return -1;
  int n = 0;
  return ::ioctl(FHandle, TIOCOUTQ, &n) == 0 ? n : -1;
}

// ---------------------------------------------------------------------------------------------

void TCustomComm::EscapeComm(unsigned long Request, int Arg) {
  if (!Enabled()) throw ECommError(kNotOpen, -1);
  int rc;
  if (Request == TIOCMBIS || Request == TIOCMBIC)
    rc = ::ioctl(FHandle, Request, &Arg);
  else
    rc = ::ioctl(FHandle, Request);
  if (rc != 0) throw ECommError("EscapeCommFunction failure", errno);
}

void TCustomComm::SetDTRState(bool State) { EscapeComm(State ? TIOCMBIS : TIOCMBIC, TIOCM_DTR); }

void TCustomComm::SetRTSState(bool State) { EscapeComm(State ? TIOCMBIS : TIOCMBIC, TIOCM_RTS); }

void TCustomComm::SetBREAKState(bool State) {
  EscapeComm(State ? TIOCSBRK : TIOCCBRK, 0);
  ::tcflush(FHandle, TCIOFLUSH);
}

void TCustomComm::SetXONState(bool State) {
  if (!Enabled()) throw ECommError(kNotOpen, -1);
  if (::tcflow(FHandle, State ? TCOON : TCOOFF) != 0) throw ECommError("EscapeCommFunction failure", errno);
  FXoffHeld = !State;
}

bool TCustomComm::GetModemState(int Index) const {
  if (!Enabled()) return false;
  int lines = 0;
  if (::ioctl(FHandle, TIOCMGET, &lines) != 0) return false;
  switch (Index) {
    case 1: return (lines & TIOCM_CTS) != 0;
    case 2: return (lines & TIOCM_DSR) != 0;
    case 3: return (lines & TIOCM_RNG) != 0;
    case 4: return (lines & TIOCM_CD) != 0;
    default: return false;
  }
}

bool TCustomComm::GetHoldState(int Index) const {
  if (!Enabled()) return false;
  switch (Index) {
    case 1: {  // waiting for CTS: hardware handshake on and the line low
      termios t{};
      if (::tcgetattr(FHandle, &t) != 0 || (t.c_cflag & CRTSCTS) == 0) return false;
      return !GetModemState(1);
    }
    case 4: return FXoffHeld;  // output suspended as if XOFF had been received
    // There is no DSR or RLSD handshake here, and the tty layer does not tell whether it sent XOFF.
    default: return false;
  }
}

int TCustomComm::ReadLineErrors() {
  const LineCounters now = ReadCounters(FHandle);
  if (!now.valid) return 0;
  Counters c{now.c.frame, now.c.overrun, now.c.parity, now.c.brk, now.c.buf_overrun};
  int errors = 0;
  if (FCountersValid) {
    if (c.buf_overrun != FLastCounters.buf_overrun) errors |= ceRxOver;
    if (c.overrun != FLastCounters.overrun) errors |= ceOverrun;
    if (c.parity != FLastCounters.parity) errors |= ceRxParity;
    if (c.frame != FLastCounters.frame) errors |= ceFrame;
    if (c.brk != FLastCounters.brk) errors |= ceBreak;
  }
  FLastCounters = c;
  FCountersValid = true;
  return errors;
}

void TCustomComm::HandleEvents(uint32_t Status) {
  if (FHandle < 0) return;
  const int errors = ReadLineErrors();
  auto has = [Status](TCommEventType e) { return (Status & EventBit(e)) != 0; };
  if (has(evBreak) && OnBreak) OnBreak(this);
  if (has(evCts) && OnCts) OnCts(this);
  if (has(evDsr) && OnDsr) OnDsr(this);
  if (has(evError) && OnError) OnError(this, errors);
  if (has(evRing) && OnRing) OnRing(this);
  if (has(evRlsd) && OnRlsd) OnRlsd(this);
  if (has(evRxChar) && OnRxChar) {
    const int count = InQueCount();
    if (count > 0) OnRxChar(this, count);
  }
  if (has(evRxFlag) && OnRxFlag) OnRxFlag(this);
  if (has(evTxEmpty) && OnTxEmpty) OnTxEmpty(this);
}

// ---------------------------------------------------------------------------------------------

void TCustomComm::SetDeviceName(const std::string& Value) {
  if (Value == FDeviceName) return;
  CheckClosed();
  FDeviceName = Value;
}

void TCustomComm::SetReadBufSize(int Value) {
  if (Value == FReadBufSize) return;
  CheckClosed();
  FReadBufSize = Value;
}

void TCustomComm::SetWriteBufSize(int Value) {
  if (Value == FWriteBufSize) return;
  CheckClosed();
  FWriteBufSize = Value;
}

void TCustomComm::SetMonitorEvents(TCommEventTypes Value) {
  if (Value == FMonitorEvents) return;
  CheckClosed();
  FMonitorEvents = Value;
}

void TCustomComm::SetBaudRate(TBaudrate Value) {
  if (Value == FBaudRate) return;
  FBaudRate = Value;
  FBaudData = BaudRateValue(Value);
  ApplyLineSettings();
}

void TCustomComm::SetBaudData(int Value) {
  if (Value == FBaudData) return;
  FBaudData = Value;
  ApplyLineSettings();
}

void TCustomComm::SetParity(TParity Value) {
  if (Value == FParity) return;
  FParity = Value;
  ApplyLineSettings();
}

void TCustomComm::SetStopbits(TStopbits Value) {
  if (Value == FStopbits) return;
  FStopbits = Value;
  ApplyLineSettings();
}

void TCustomComm::SetDatabits(TDatabits Value) {
  if (Value == FDatabits) return;
  FDatabits = Value;
  ApplyLineSettings();
}

void TCustomComm::SetOptions(TCommOptions Value) {
  if (Value == FOptions) return;
  FOptions = Value;
  ApplyLineSettings();
}

void TCustomComm::SetFlowControl(TFlowControl Value) {
  if (Value == FFlowControl) return;
  FFlowControl = Value;
  ApplyLineSettings();
}

void TCustomComm::SetEventChars(const TCommEventChars& Value) {
  FEventChars->Assign(Value);
  ApplyLineSettings();
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TByteStream> MakeSerialPort() {
  auto port = std::make_unique<TComm>();
  port->SetReadTimeout(10);
  port->SetReadBufSize(128);
  return port;
}
