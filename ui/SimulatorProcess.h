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
  // One line to kvt-sim's control channel (a FIFO it makes at the start), for example
  // "gas 25"; false with the reason when it cannot be written.
  bool Control(const std::string& line, std::string& error) const;
  const std::string& ControlPath() const { return FControl; }
  bool Running() const { return FProcess.state() != QProcess::NotRunning; }

 private:
  QProcess FProcess;
  std::string FDevice;
  std::string FControl;
};

// The message for a missing simulator.
extern const char* const kSimulatorMissingText;
