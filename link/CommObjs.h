// Small synchronisation objects of the serial port: an fd owner, an event that can be polled
// together with a device (eventfd), and a critical section.
#pragma once

#include <mutex>
#include <string>

// Owns one file descriptor; closes it when destroyed.
class THandleObject {
 public:
  THandleObject() = default;
  virtual ~THandleObject();
  THandleObject(const THandleObject&) = delete;
  THandleObject& operator=(const THandleObject&) = delete;

  int Handle() const { return FHandle; }
  int LastError() const { return FError; }

 protected:
  int FHandle = -1;
  int FError = 0;  // last errno
};

enum class TEventWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An event on an eventfd, so a thread can wait for it and a device in one poll().
// Events are unnamed on this platform; a name is accepted and ignored.
class TEvent : public THandleObject {
 public:
  TEvent(bool ManualReset, bool InitialState, const std::string& Name = {});
  // Timeout in ms; INFINITE_WAIT waits without limit. An auto-reset event is reset by the
  // wait that sees it signalled.
  TEventWaitResult WaitFor(unsigned Timeout);
  void SetEvent();
  void ResetEvent();

  static constexpr unsigned INFINITE_WAIT = 0xFFFFFFFFu;

 private:
  bool FManualReset;
};

// Manual reset, initially not signalled.
class TSimpleEvent : public TEvent {
 public:
  TSimpleEvent() : TEvent(true, false) {}
};

class TCriticalSection {
 public:
  void Acquire() { FMutex.lock(); }
  void Release() { FMutex.unlock(); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  // BasicLockable, for std::lock_guard.
  void lock() { Acquire(); }
  void unlock() { Release(); }

 private:
  std::mutex FMutex;
};
