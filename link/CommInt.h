// TComm: one serial device on termios. Immediate-return reads, bounded writes, purges, line
// settings, modem lines and an event thread that reports line events through a dispatcher.
#pragma once

#include "link/ByteStream.h"
#include "link/CommObjs.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

// Raised by the port. what() is the text followed by " (Error: <code>) ".
class ECommError : public std::runtime_error {
 public:
  ECommError(const std::string& text, int code);
  const std::string& Text() const { return FText; }
  int ErrorCode;

 private:
  std::string FText;
};

enum TBaudrate {
  br110, br200, br300, br600, br1200, br2400, br4800, br9600, br10400, br14400, br19200, br28800,
  br38400, br56000, br57600, br115200, br128000, br281250, br256000, br562500
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits { sb10, sb15, sb20 };
enum TDatabits { da4, da5, da6, da7, da8 };
enum TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };

// The number in the name.
int BaudRateValue(TBaudrate rate);

// A set of one of the enumerations above, as a bit mask (bit n = enumerator n).
template <typename E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> items) {
    for (E e : items) FBits |= Bit(e);
  }
  static constexpr TEnumSet FromMask(uint32_t bits) {
    TEnumSet s;
    s.FBits = bits;
    return s;
  }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr void Include(E e) { FBits |= Bit(e); }
  constexpr void Exclude(E e) { FBits &= ~Bit(e); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint32_t Mask() const { return FBits; }
  friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.FBits == b.FBits; }

 private:
  static constexpr uint32_t Bit(E e) { return 1u << static_cast<unsigned>(e); }
  uint32_t FBits = 0;
};

using TCommOptions = TEnumSet<TCommOption>;
using TCommEventTypes = TEnumSet<TCommEventType>;

inline constexpr TCommEventTypes kAllCommEvents{evBreak, evCts,    evDsr,    evError,  evRing,
                                                evRlsd,  evRxChar, evRxFlag, evTxEmpty};

// Error bits handed to OnError.
constexpr int ceRxOver = 0x0001;    // the driver's receive buffer overflowed
constexpr int ceOverrun = 0x0002;   // the UART lost a byte
constexpr int ceRxParity = 0x0004;  // parity error
constexpr int ceFrame = 0x0008;     // framing error
constexpr int ceBreak = 0x0010;     // break received

class TCustomComm;
class TCommEventThread;

using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
using TCommErrorEvent = std::function<void(TCustomComm* Sender, int Errors)>;
using TCommRxCharEvent = std::function<void(TCustomComm* Sender, int Count)>;
// Status: bit n set for TCommEventType n.
using TCommEvent = std::function<void(TCommEventThread* Sender, uint32_t Status)>;
// Runs a task on the thread that owns the port (a window moves it to its own thread). The
// default runs it at once on the event thread. A dispatcher that queues must not block the
// event thread waiting for a thread that may itself be inside Close.
using TCommDispatcher = std::function<void(std::function<void()>)>;

class TCommEventChars {
 public:
  explicit TCommEventChars(TCustomComm* AOwner) : FOwner(AOwner) {}
  // Copies the five characters without re-applying the owner's settings.
  void Assign(const TCommEventChars& Source);

  uint8_t XonChar() const { return FXonChar; }
  uint8_t XoffChar() const { return FXoffChar; }
  uint8_t ErrorChar() const { return FErrorChar; }
  uint8_t EofChar() const { return FEofChar; }
  uint8_t EvtChar() const { return FEvtChar; }
  // Each re-applies the owner's line settings when the owner is open.
  void SetXonChar(uint8_t c);
  void SetXoffChar(uint8_t c);
  void SetErrorChar(uint8_t c);
  void SetEofChar(uint8_t c);
  void SetEvtChar(uint8_t c);

 private:
  void Changed();
  TCustomComm* FOwner;
  uint8_t FXonChar = 17;
  uint8_t FXoffChar = 19;
  uint8_t FErrorChar = 0;
  uint8_t FEofChar = 0;
  uint8_t FEvtChar = 0;
};

// Waits for line events on its own duplicate of the device descriptor, so closing the port
// can never pull the descriptor from under it. It never reads or writes data: the bytes belong
// to the reader. Destroying it stops and joins the thread.
class TCommEventThread {
 public:
  TCommEventThread(int CommHandle, TCommEventTypes Events, TCommEvent OnSignal, TCommDispatcher Dispatch);
  ~TCommEventThread();
  TCommEventThread(const TCommEventThread&) = delete;
  TCommEventThread& operator=(const TCommEventThread&) = delete;

  void Stop();
  // Tells the thread bytes were handed to the driver, so it watches for the transmit queue
  // to run empty.
  void NotifyWritten();

  struct State;

 private:
  std::shared_ptr<State> FState;
};

class TCustomComm : public TByteStream {
 public:
  TCustomComm();
  ~TCustomComm() override;
  TCustomComm(const TCustomComm&) = delete;
  TCustomComm& operator=(const TCustomComm&) = delete;

  void Open();
  void Close() override;
  bool Enabled() const override { return FHandle >= 0; }
  int Handle() const { return FHandle; }

  // TByteStream: sets 115200 8N1 without flow control, then opens. A failure after the device
  // was opened closes it again, so the link never holds a half set-up port.
  void OpenDevice(const std::string& device) override;
  int Write(const void* Buf, int Count) override;
  int Read(void* Buf, int Count) override;
  void PurgeIn() override;
  bool WaitReadable(long timeoutUs) override;
  bool HungUp() override;

  void PurgeOut();
  int InQueCount();
  int OutQueCount();

  void SetDTRState(bool State);
  void SetRTSState(bool State);
  void SetBREAKState(bool State);
  void SetXONState(bool State);

  // Modem lines; false while closed or where the device cannot report them.
  bool CTS() const { return GetModemState(1); }
  bool DSR() const { return GetModemState(2); }
  bool RING() const { return GetModemState(3); }
  bool RLSD() const { return GetModemState(4); }
  // Transmit hold flags; false while closed.
  bool CtsHold() const { return GetHoldState(1); }
  bool DsrHold() const { return GetHoldState(2); }
  bool RlsdHold() const { return GetHoldState(3); }
  bool XoffHold() const { return GetHoldState(4); }
  bool XOffSent() const { return GetHoldState(5); }

  // Properties. Setters of DeviceName, MonitorEvents, ReadBufSize and WriteBufSize refuse a
  // different value while open; the line setters apply at once while open.
  const std::string& DeviceName() const { return FDeviceName; }
  void SetDeviceName(const std::string& Value);
  int ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int Value) { FReadTimeout = Value; }
  int WriteTimeout() const { return FWriteTimeout; }
  void SetWriteTimeout(int Value) { FWriteTimeout = Value; }
  int ReadBufSize() const { return FReadBufSize; }
  void SetReadBufSize(int Value);
  int WriteBufSize() const { return FWriteBufSize; }
  void SetWriteBufSize(int Value);
  TCommEventTypes MonitorEvents() const { return FMonitorEvents; }
  void SetMonitorEvents(TCommEventTypes Value);
  TBaudrate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudrate Value);
  int BaudData() const { return FBaudData; }
  void SetBaudData(int Value);
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value);
  TStopbits Stopbits() const { return FStopbits; }
  void SetStopbits(TStopbits Value);
  TDatabits Databits() const { return FDatabits; }
  void SetDatabits(TDatabits Value);
  TCommOptions Options() const { return FOptions; }
  void SetOptions(TCommOptions Value);
  TFlowControl FlowControl() const { return FFlowControl; }
  void SetFlowControl(TFlowControl Value);
  TCommEventChars& EventChars() { return *FEventChars; }
  void SetEventChars(const TCommEventChars& Value);

  // Where event handlers run; installed before Open.
  void SetDispatcher(TCommDispatcher Dispatch) { FDispatch = std::move(Dispatch); }

  // Line event handlers, run through the dispatcher. Assign them before Open: the event thread
  // watches only the monitored events that have a handler at Open.
  TNotifyEvent OnBreak, OnCts, OnDsr;
  TCommErrorEvent OnError;
  TNotifyEvent OnRing, OnRlsd;
  TCommRxCharEvent OnRxChar;
  TNotifyEvent OnRxFlag, OnTxEmpty;

  // Re-applies the line settings to the open device (used by the setters and EventChars).
  void ApplyLineSettings();

 protected:
  // Opens DeviceName and returns the descriptor; a descendant may open something else.
  virtual int CreateHandle();
  void HandleEvents(uint32_t Status);

 private:
  void CheckClosed() const;
  void ApplyTimeouts();
  void ApplyBufferSizes();
  void EscapeComm(unsigned long Request, int Arg);
  bool GetModemState(int Index) const;
  bool GetHoldState(int Index) const;
  int ReadLineErrors();
  void DrainOutput();

  int FHandle = -1;
  std::string FDeviceName = "Com2";
  TCriticalSection FCriticalSection;
  int FReadTimeout = 1000;
  int FWriteTimeout = 1000;
  int FReadBufSize = 4096;
  int FWriteBufSize = 2048;
  TCommEventTypes FMonitorEvents = kAllCommEvents;
  TBaudrate FBaudRate = br9600;
  int FBaudData = 9600;
  TParity FParity = paNone;
  TStopbits FStopbits = sb10;
  TDatabits FDatabits = da8;
  std::unique_ptr<TCommEventThread> FEventThread;
  std::unique_ptr<TCommEventChars> FEventChars;
  TCommOptions FOptions{};
  TFlowControl FFlowControl = fcDefault;
  TCommDispatcher FDispatch;
  bool FXoffHeld = false;  // output suspended by SetXONState(false)

  // Line error counters at the last HandleEvents, to report only new errors.
  struct Counters {
    int frame = 0, overrun = 0, parity = 0, brk = 0, buf_overrun = 0;
  } FLastCounters;
  bool FCountersValid = false;

  // Lets a queued event task find out that the port it was meant for has closed.
  struct Guard;
  std::shared_ptr<Guard> FGuard;
};

// The component as the rest of the system uses it. C++ has no published section: everything
// TCustomComm offers is public already.
class TComm : public TCustomComm {
 public:
  using TCustomComm::TCustomComm;
  // Closed here already, so no handler still running on the event thread meets a half
  // destroyed object.
  ~TComm() override { Close(); }
};
