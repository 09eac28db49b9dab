// beamdock: the configuration tool's window.
#include "ui/Mains.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KVT BeamDock"));
  QApplication::setApplicationDisplayName(QStringLiteral("KVT BeamDock"));
  TKVTIRMainForm form;
  form.show();
  return QApplication::exec();
}
