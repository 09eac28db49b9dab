#include "ui/WindowClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

TRunClock::TimePoint TWindowRunClock::Now() {
  const auto real = std::chrono::steady_clock::now();
  if (FSpeed == 1.0) return real;
  return AfterSeconds(FOrigin, SecondsBetween(FOrigin, real) * FSpeed);
}

void TWindowRunClock::WaitUntil(TimePoint deadline) {
  const double seconds = SecondsBetween(Now(), deadline) / FSpeed;
  if (FWoken || seconds <= 0) {
    // Even a run that is behind lets the window take its clicks once per pass.
    FWoken = false;
    QCoreApplication::processEvents();
    return;
  }
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(static_cast<int>(std::ceil(seconds * 1000.0)));
  FLoop = &loop;
  loop.exec();
  FLoop = nullptr;
  FWoken = false;
}

void TWindowRunClock::Wake() {
  FWoken = true;
  if (FLoop) FLoop->quit();
}
