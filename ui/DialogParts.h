// Parts the sensor dialogs (calibration, bump test) build their rows from, so they look alike.
#pragma once

#include "ui/Label3dB.h"

#include <QLabel>

// A white, lightly bordered value a run writes into (a result, a reading, a time).
inline TLabel3DBorder* DialogValueLabel(const char* name) {
  auto* l = new TLabel3DBorder;
  l->setObjectName(name);
  l->SetBorderStyle(TLabel3DBorder::bsLight);
  l->SetVerticalAlign(TLabel3DBorder::vaCenter);
  l->SetColor(Qt::white);
  l->SetShowAccelChar(false);
  l->setFixedHeight(24);
  return l;
}

// The caption of such a row, of one width in every dialog.
inline QLabel* DialogRowLabel(const char* text) {
  auto* l = new QLabel(text);
  l->setFixedWidth(90);
  return l;
}
