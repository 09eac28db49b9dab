// The simulated detector behind `beamdock --simulate`: the kvt-sim program, run as a child
// process. The tool holds no simulator of its own, so a computer without the beamdock-sim
// package has no way of making a detector appear.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

class TSimulatorProcess {
 public:
  TSimulatorProcess() = default;
  TSimulatorProcess(const TSimulatorProcess&) = delete;
  TSimulatorProcess& operator=(const TSimulatorProcess&) = delete;
  ~TSimulatorProcess() { Stop(); }

  // Starts kvt-sim from programDir (where the tool itself lies), else from PATH, and waits for
  // the pseudo-terminal it serves. false with the reason in error; when kvt-sim is nowhere,
  // the reason names the package to install.
  bool Start(const QString& programDir, QString& error, const QStringList& args = {}, int timeoutMs = 5000);
  void Stop();
  const std::string& DevicePath() const { return FDevice; }
  bool Running() const { return FProcess.state() != QProcess::NotRunning; }

 private:
  QProcess FProcess;
  std::string FDevice;
};

// The message for a missing simulator.
extern const char* const kSimulatorMissingText;
