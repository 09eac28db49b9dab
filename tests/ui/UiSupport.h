// Shared by the window tests: a main window started in its own temporary folder with a
// given settings file, whose boxes are answered by a script.
#pragma once

#include "tests/support/ScriptedOperator.h"
#include "tests/support/TempDir.h"
#include "ui/Mains.h"
#include "ui/NumberBoxes.h"

#include <QApplication>
#include <QtTest>

#include <memory>
#include <string>

inline constexpr const char* kFactoryIni = "[Environment]\r\nModeEntry=MRW_TQP__\r\n";

struct TestWindow {
  explicit TestWindow(const std::string& ini = {}, bool show = true) {
    if (!ini.empty()) dir.write("BEAMDOCK.INI", ini);
    Start(show);
  }

  // A new window on the same folder, as the next start of the program would see it.
  void Restart(bool show = true) {
    form.reset();
    Start(show);
  }

  void Start(bool show) {
    form = std::make_unique<TKVTIRMainForm>(dir.path());
    form->SetOperator(&op);
    if (show) {
      form->show();
      QCoreApplication::processEvents();
    }
  }

  template <class T>
  T* Find(const char* name) const {
    T* w = form->findChild<T*>(QLatin1String(name));
    if (!w) qWarning("no control %s", name);
    return w;
  }

  TempDir dir;
  ScriptedOperator op;
  std::unique_ptr<TKVTIRMainForm> form;
};
