#include "ui/SimulatorProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/prctl.h>

#include <csignal>

const char* const kSimulatorMissingText =
    "The simulated detector (kvt-sim) is not installed. It comes with the beamdock-sim package: "
    "sudo apt install beamdock-sim";

bool TSimulatorProcess::Start(const QString& programDir, QString& error, const QStringList& args, int timeoutMs) {
  Stop();
  QString program = QDir(programDir).filePath(QStringLiteral("kvt-sim"));
  if (!QFileInfo(program).isExecutable()) program = QStandardPaths::findExecutable(QStringLiteral("kvt-sim"));
  if (program.isEmpty()) {
    error = QString::fromLatin1(kSimulatorMissingText);
    return false;
  }
  // A window that dies without its destructor must not leave a detector behind.
  FProcess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  FProcess.start(program, args, QIODevice::ReadOnly);
  if (!FProcess.waitForStarted(timeoutMs)) {
    error = program + QStringLiteral(": ") + FProcess.errorString();
    return false;
  }
  // Its first line is the terminal's path.
  while (!FProcess.canReadLine() && FProcess.state() == QProcess::Running && FProcess.waitForReadyRead(timeoutMs)) {
  }
  const QString line = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
  if (!line.startsWith(QStringLiteral("/dev/"))) {
    error = program + QStringLiteral(" did not start serving") +
            (FProcess.state() == QProcess::Running ? QString() : QStringLiteral(" (it ended)"));
    Stop();
    return false;
  }
  FDevice = line.toStdString();
  return true;
}

void TSimulatorProcess::Stop() {
  FDevice.clear();
  if (FProcess.state() == QProcess::NotRunning) return;
  FProcess.terminate();
  if (!FProcess.waitForFinished(3000)) {
    FProcess.kill();
    FProcess.waitForFinished(1000);
  }
}
