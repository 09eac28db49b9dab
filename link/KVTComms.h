// TComKVT: the one link object. Frames with CRC-16, reply classification, the connect
// handshake and the detector's command set. Every operation returns a one-byte result code.
#pragma once

#include "link/ByteStream.h"
#include "link/LinkLimits.h"
#include "link/ResultCodes.h"
#include "link/USBtoUART.h"
#include "model/Records.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using TDateTime = std::chrono::system_clock::time_point;

class TComKVT;

// Trace handler: (Sender, rNow, sLog).
using TOnKVTEvent = std::function<void(TComKVT* Sender, TDateTime rNow, const std::string& sLog)>;

// The reason behind the last LINK_PORTERROR: the port's own text and its errno (-1 when the
// port gave none, 0 before the first error).
struct RPortError {
  std::string mText;
  int mErrno = 0;
};

struct RKVTLogRead {
  TDateTime mSendTime{};
  std::string mSendLog;
  TDateTime mRevTime{};
  std::string mRevLog;
  bool mOK = false;
};

class TComKVT {
 public:
  // Create: owns a TComm on termios unless a stream is given (tests pass a scripted one).
  explicit TComKVT(std::unique_ptr<TByteStream> stream = nullptr);
  ~TComKVT();  // Free
  TComKVT(const TComKVT&) = delete;
  TComKVT& operator=(const TComKVT&) = delete;

  void ComOpen(int nPort);  // a number of Ports(); port errors (ECommError) reach the caller
  void ComClose();
  // Discovery's port numbers of this link.
  TPortTable& Ports() { return FPorts; }
  // The device node the last ComOpen went to, also when it failed and after the close; empty
  // before the first.
  const std::string& PortDevice() const { return FPortDevice; }

  uint8_t OpenUSB(float rTimeOut);
  // The closing "[CHECK TIME] s.mmm (n)" line takes its decimal separator from the C
  // locale (localeconv()->decimal_point), so the program must have called
  // setlocale(LC_ALL, "") for the user's separator to show (QApplication does it).
  uint8_t ConnectKVT(float rTimeOut);
  uint8_t ConnectKVTCheck();
  uint8_t KillKVT();
  // Sends KillKVT (once more if it fails) after 0x00, 0x92, 0xB0, 0xB1, 0xB2, 0xC0 and
  // LINK_LIMIT or LINK_LOGSIZE, the codes that follow an answer from the detector; then closes the port.
  void CloseUSB(uint8_t nStatus);

  uint8_t ReadUnitCFGData(RKVTUnitCFG& mData, uint16_t nPacket, uint16_t nSize);
  uint8_t ReadSensorCFGData(RKVTSensorCFG& mData, uint16_t nPacket, uint16_t nSize);
  uint8_t WriteCFGData(const RComKVTReadBuf& mBuf, uint16_t nAddress, uint16_t nSize);
  uint8_t WriteCFGTimeData(uint32_t nTime);
  uint8_t RequireIdenty(RKVTIdenty& mData);
  // What the detector answered to RequireIdenty in this connection (null before it did), and
  // whether it was asked at all, so that nobody asks twice in one connection.
  const RKVTIdenty* ConnectionIdentity() const { return FIdentityAnswered ? &FIdentity : nullptr; }
  bool IdentityAsked() const { return FIdentityAsked; }
  uint8_t RequireSensor(RKVTSensor& mData, uint8_t nMode);
  uint8_t SendHibernate();

  // The whole log the detector reports, in packets of nReadPacket bytes, cut to the reported
  // size; a size beyond link_limits::kMaxLogBytes is refused with LINK_LOGSIZE before the first
  // packet. After a failed packet log holds the packets read so far.
  uint8_t LoadLog(std::vector<uint8_t>& log, int nReadPacket);
  uint8_t LogReset();
  uint8_t UpgradeStart();
  uint8_t UpgradeData(uint8_t nPointer, const RComKVTReadBuf& mBuf);
  uint8_t UpgradeExecute();
  uint8_t ResetUnit();
  uint8_t FactoryReset();
  uint8_t SensorCalibration(uint8_t nCom);
  uint8_t ReadEEPROMData(RComKVTReadBuf& mBuf, uint16_t nPacket, uint16_t nStart, uint16_t nMax);
  // The same into a caller's buffer of nCapacity bytes, the count in nData: the EEPROM dump
  // reads the whole 1024 bytes it shows, one packet more than an RComKVTReadBuf holds.
  uint8_t ReadEEPROMData(uint8_t* aBuf, int nCapacity, int32_t& nData, uint16_t nPacket, uint16_t nStart,
                         uint16_t nMax);
  uint8_t AVOn(uint8_t nCom);

  bool Enabled() const;
  // The open port's device has gone away (adapter pulled out).
  bool PortLost() { return Enabled() && RSCom->HungUp(); }
  TByteStream& Stream() { return *RSCom; }

  // Called during long waits (the handshake) so a window can repaint.
  std::function<void()> IdleHook;
  // Called once, right after the next frame (a connect frame or a request) is written: work
  // that must not hold that frame back starts while the detector answers it. Empty: nothing.
  void AfterNextWrite(std::function<void()> fn) { FAfterWrite = std::move(fn); }
  // While the handshake runs: the seconds of its time that are left (what a window shows as
  // "trying"); below zero at any other time.
  double ConnectSecondsLeft() const { return FConnectLeft; }

  // The pause that ends every exchange and the spacing of the handshake's requests: a detector
  // needs both. Only a harness whose far end is scripted sets them to zero.
  float FExchangePauseMs = 1.0f;
  std::chrono::nanoseconds FConnectSpacing{1'050'000};

  // Why the last LINK_LIMIT was returned (empty until the first refusal).
  const std::string& LastRefusal() const { return FRefusal; }
  // Why the port last failed in this connection (empty until a port error; a handshake clears it).
  const RPortError& LastPortError() const { return FPortError; }

  TOnKVTEvent FOnKVTEvent;
  int FDefPort = 0;
  RComKVTReadBuf FReadBuf{};
  RComKVTReadBuf FSendBuf{};
  TDateTime FSendTime{};
  std::string FSendLog;
  TDateTime FRevTime{};
  std::string FRevLog;

  // Primitives (public so tests can exercise them directly).
  uint8_t SendCommand(uint8_t nLog, uint8_t nCom, int nRevSize, float rTimeOut);
  uint8_t SendPacket(uint8_t nLog, uint8_t nCom, const uint8_t* aData, int nCount, int nRevSize, float rTimeOut);
  uint8_t SendReceive(uint8_t nLog, int nRevSize, float rTimeOut);
  void GetLogRead(RKVTLogRead& mLog) const;
  void Delay(float rMSec);

 private:
  std::function<void()> FAfterWrite;
  void Written();
  uint8_t Refuse(const std::string& why);
  double FConnectLeft = -1.0;
  // Runs one call on the port: true when it returned, false with its reason kept in
  // FPortError when it raised. The one place where a port error becomes a result.
  template <typename TCall>
  bool PortCall(TCall&& call) const;
  // A port error no result can carry (closing, asking whether open) still shows in the trace.
  void TracePortError(const char* during);
  void RaiseTrace(TDateTime rNow, const std::string& sLog);
  void RaiseLogReads(const RKVTLogRead* logs, int count, bool withSendLines);
  void CallIdleHook();
  template <typename TBlock>
  uint8_t ReadCFGBlock(uint8_t nSelect, TBlock& mData, uint16_t nPacket, uint16_t nSize, const char* name);

  std::unique_ptr<TByteStream> RSCom;
  TPortTable FPorts;
  std::string FPortDevice;
  RKVTIdenty FIdentity{};  // of this connection
  bool FIdentityAsked = false, FIdentityAnswered = false;
  std::string FRefusal;
  mutable RPortError FPortError;
  // Lines a failing trace handler lost, told by the next line that gets through.
  int FLostTraceLines = 0;
  std::string FLostTraceWhy;
};
