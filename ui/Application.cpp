#include "ui/Application.h"

#include <QCoreApplication>

void SetApplicationTitle() { QCoreApplication::setApplicationName(QStringLiteral("KVT BeamDock")); }
