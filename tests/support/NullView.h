// A view for the long runs that shows nothing and counts the readings, for tests that look at
// what a run did to the detector and the operator rather than at its display.
#pragma once

#include "app/device/Calibration.h"
#include "app/device/Firmware.h"
#include "app/device/Logging.h"

struct TNullView : TLoggingView, TCalView, TFirmwareView {
  int readings = 0;
  void ShowReading(const RReadingTexts&) override { ++readings; }
  void ChartReset(double, double, double) override {}
  void ChartAdd(const RChartPoint&) override {}
  void ChartScroll(double, double, const std::vector<RChartPoint>&) override {}
  void ShowCalLabel(const std::string&, TLabelColour) override {}
  void CalButtons(bool) override {}
  void LoggingButtons(bool) override {}
  void CalProgress(int, int) override {}
  void DataLogError(const std::string&) override {}
  bool BatteryTicked() override { return true; }
  bool TemperatureTicked() override { return true; }
  void CalText(int, const std::string&, TCalColour) override {}
  void CalRunning(bool) override {}
  void ShowProgress(int, int, int, int) override {}
};
