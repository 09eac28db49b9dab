// beamdock: the configuration tool's window.
//   beamdock              against the adapter that is plugged in
//   beamdock --simulate   against the simulated detector (kvt-sim, of the beamdock-sim package)
#include "app/core/SingleInstance.h"
#include "ui/Application.h"
#include "ui/Mains.h"
#include "ui/SimulatorProcess.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  bool simulate = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--simulate") == 0) {
      simulate = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: beamdock [--simulate]\n"
                  "  --simulate  work against a simulated detector instead of a real adapter\n");
      return 0;
    }
  }

  QApplication app(argc, argv);
  SetApplicationTitle();

  TSingleInstance instance;
  if (instance.Acquire() == TSingleInstance::Result::AlreadyRunning) {
    KnockOnRunningCopy(instance.LockFile());
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("KVT BeamDock"), QString::fromLatin1(kAlreadyRunningText),
                    QMessageBox::Ok);
    FitBoxToTitle(box);
    box.exec();
    return 0;
  }

  // The simulated detector must be serving before the window's link looks for a port.
  TSimulatorProcess sim;
  if (simulate) {
    QString error;
    // A span step long enough for the sensor to settle on the span gas the operator applies.
    if (!sim.Start(QCoreApplication::applicationDirPath(), error, {"--cal-time-ms", "60000"})) {
      std::fprintf(stderr, "beamdock: %s\n", error.toLocal8Bit().constData());
      QMessageBox::critical(nullptr, QStringLiteral("KVT BeamDock"),
                            QStringLiteral("The simulated detector could not be started:\n%1").arg(error));
      return 1;
    }
    setenv("BEAMDOCK_PORT", sim.DevicePath().c_str(), 1);
  }

  TKVTIRMainForm form;
  if (simulate)
    form.MarkSimulated(sim.DevicePath(),
                       [&sim](const std::string& line, std::string& error) { return sim.Control(line, error); });
  ListenForSecondStarts(instance.LockFile(), &form);
  form.show();
  const int rc = QApplication::exec();
  return rc;
}
