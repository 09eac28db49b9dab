// beamdock: the configuration tool's window.
//   beamdock              against the adapter that is plugged in
//   beamdock --simulate   against a simulated detector started inside this process
#include "app/SingleInstance.h"
#include "sim/KvtSim.h"
#include "ui/Application.h"
#include "ui/Mains.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

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
  std::unique_ptr<KvtSim> sim;
  if (simulate) {
    try {
      sim = std::make_unique<KvtSim>();
      sim->start();
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, QStringLiteral("KVT BeamDock"),
                            QStringLiteral("The simulated detector could not be started:\n%1")
                                .arg(QString::fromLocal8Bit(e.what())));
      return 1;
    }
    setenv("BEAMDOCK_PORT", sim->devicePath().c_str(), 1);
  }

  TKVTIRMainForm form;
  if (sim) form.MarkSimulated(sim->devicePath());
  ListenForSecondStarts(instance.LockFile(), &form);
  form.show();
  const int rc = QApplication::exec();
  if (sim) sim->stop();
  return rc;
}
