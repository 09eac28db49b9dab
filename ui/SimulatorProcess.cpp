#include "ui/SimulatorProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  // The control FIFO: in the user's runtime folder, named for this window.
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  const QString control = QDir(runtime).filePath(QStringLiteral("kvt-sim-%1.control").arg(::getpid()));
  FProcess.start(program, QStringList(args) << QStringLiteral("--control") << control, QIODevice::ReadOnly);
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
  FControl = control.toStdString();
  return true;
}

bool TSimulatorProcess::Control(const std::string& line, std::string& error) const {
  // Non-blocking: a simulator that has gone leaves no reader, and the window must not hang.
  const int fd = FControl.empty() ? -1 : ::open(FControl.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = FControl.empty() ? "the simulated detector is not running" : FControl + ": " + std::strerror(errno);
    return false;
  }
  const std::string text = line + "\n";
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (!ok) error = FControl + ": " + std::strerror(errno);
  ::close(fd);
  return ok;
}

void TSimulatorProcess::Stop() {
  FDevice.clear();
  FControl.clear();
  if (FProcess.state() == QProcess::NotRunning) return;
  FProcess.terminate();
  if (!FProcess.waitForFinished(3000)) {
    FProcess.kill();
    FProcess.waitForFinished(1000);
  }
}
