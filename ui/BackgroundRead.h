// A read that may wait on the site server runs on a thread of its own, and its result reaches
// the window's thread through the event queue, so the window stays responsive meanwhile. One
// read at a time. The owner's end waits for a read that still runs (the server's time-outs bound
// it) and its result is dropped with the owner.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <thread>

class TBackgroundRead {
 public:
  TBackgroundRead() = default;
  TBackgroundRead(const TBackgroundRead&) = delete;
  TBackgroundRead& operator=(const TBackgroundRead&) = delete;
  ~TBackgroundRead() { Join(); }

  bool Busy() const { return FBusy; }  // on the owner's thread only

  // work runs on the read's thread and must not throw; done(result) runs on context's thread.
  template <class R>
  void Start(QObject* context, std::function<R()> work, std::function<void(R)> done) {
    Join();
    FBusy = true;
    FThread = std::thread([this, context, work = std::move(work), done = std::move(done)]() mutable {
      auto result = std::make_shared<R>(work());
      QMetaObject::invokeMethod(
          context,
          [this, done = std::move(done), result] {
            FBusy = false;
            done(std::move(*result));
          },
          Qt::QueuedConnection);
    });
  }

 private:
  void Join() {
    if (FThread.joinable()) FThread.join();
  }
  bool FBusy = false;
  std::thread FThread;
};
