// What the link needs of a serial port. TComm implements it on a real terminal; tests
// drive the link with a scripted stream that hands out given reply pieces.
#pragma once

#include <string>

class TByteStream {
 public:
  virtual ~TByteStream() = default;
  // Opens the device at 115200 baud, 8 data bits, no parity, 1 stop bit.
  // Failures raise ECommError with the port's own texts.
  virtual void OpenDevice(const std::string& device) = 0;
  virtual void Close() = 0;
  virtual bool Enabled() const = 0;
  // Returns the bytes written, or -1 when the wait for completion ran out. Raises on error.
  virtual int Write(const void* buf, int count) = 0;
  // Returns at once with what has arrived (0..count), or -1. Raises on error.
  virtual int Read(void* buf, int count) = 0;
  virtual void PurgeIn() = 0;
  // Blocks until a byte can be read or timeoutUs microseconds pass; true when readable.
  // This is what keeps reply collection from spinning.
  virtual bool WaitReadable(long timeoutUs) = 0;
  // True once the device has gone away (adapter pulled out); asks nothing of the line, so a
  // run that holds the port between exchanges can watch it without sending.
  virtual bool HungUp() { return false; }
};

#include <memory>

// The real serial port (TComm on termios), set up as the link wants it: reads complete within
// 10 ms, a 128-byte receive queue. Defined with TComm.
std::unique_ptr<TByteStream> MakeSerialPort();
