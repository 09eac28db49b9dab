// A fake serial port for link tests. It records every Write as one frame and hands out
// reply pieces that the test scripts in advance ("after the 2nd write, these bytes") or
// computes from each frame (OnWrite). One Read never returns bytes of two pieces, so a
// piece is exactly what one read of the link finds; a piece larger than the read's count
// is handed out over several reads.
//
// Time is real but short: a piece may arrive some microseconds after its write, WaitReadable
// returns the moment a piece is due, and a wait with nothing due sleeps its whole time-out,
// so the link's time-outs behave as on a port (keep scripted time-outs small).
//
//   auto stream = std::make_unique<ScriptedStream>();
//   ScriptedStream& port = *stream;
//   TComKVT link(std::move(stream));
//   port.After(1, {0xB5, 0xB7, 0xC1});           // ACK to the first frame
//   EXPECT_EQ(link.SendCommand(0, 0x5F, 3, 0.1f), LINK_OK);
//   EXPECT_EQ(port.Frames[0], (ScriptedStream::Bytes{0x5F, 0x38, 0x40}));
#pragma once

#include "link/ByteStream.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class ScriptedStream : public TByteStream {
 public:
  using Bytes = std::vector<uint8_t>;
  using Clock = std::chrono::steady_clock;

  enum class Op { Open, Close, Write, Read, Purge, Wait };

  // The port starts open (as after ComOpen) unless told otherwise.
  explicit ScriptedStream(bool open = true) : FOpen(open) {}

  // After the nWrite-th Write (counted from 1), `bytes` arrive `delay` later. nWrite 0 means
  // they are there from the start (and a purge discards them). Pieces for the same write
  // arrive in the order given.
  ScriptedStream& After(int nWrite, Bytes bytes, std::chrono::microseconds delay = std::chrono::microseconds(0));
  // Called after every Write with its frame; may call Arrive to answer it.
  std::function<void(ScriptedStream&, const Bytes& frame)> OnWrite;
  // `bytes` arrive `delay` from now.
  void Arrive(Bytes bytes, std::chrono::microseconds delay = std::chrono::microseconds(0));

  // The nth call (counted from 1) of `op` raises `error` instead of doing its work.
  void FailAt(Op op, int n, std::exception_ptr error);
  // Every call of `op` from the nth on raises `error`.
  void FailFrom(Op op, int n, std::exception_ptr error);

  // What the link did.
  std::vector<Bytes> Frames;              // one per Write call
  std::vector<Clock::time_point> WriteTimes;
  std::vector<int> ReadCounts;            // the count asked by every Read call
  std::vector<long> WaitTimeouts;         // the time-out of every WaitReadable call
  std::string Device;                     // the last name given to OpenDevice
  int Opens = 0, Closes = 0, Purges = 0;

  // Bytes of pieces that have arrived and were not read or purged yet.
  int ArrivedBytes() const;
  // Pieces not read yet, arrived or not (scripted for a later write included).
  int PendingPieces() const;

  // TByteStream
  void OpenDevice(const std::string& device) override;
  void Close() override;
  bool Enabled() const override { return FOpen; }
  int Write(const void* buf, int count) override;
  int Read(void* buf, int count) override;
  void PurgeIn() override;
  bool WaitReadable(long timeoutUs) override;

 private:
  struct TPiece {
    Clock::time_point mAt;
    Bytes mBytes;
    size_t mUsed = 0;
  };
  struct TScripted {
    int mAfterWrite;
    std::chrono::microseconds mDelay;
    Bytes mBytes;
  };
  void MaybeFail(Op op);

  bool FOpen;
  std::deque<TScripted> FScript;  // waiting for their write
  std::deque<TPiece> FInFlight;   // in arrival order
  std::map<Op, int> FCalls;
  std::map<std::pair<Op, int>, std::exception_ptr> FFailAt;
  std::map<Op, std::pair<int, std::exception_ptr>> FFailFrom;
};
