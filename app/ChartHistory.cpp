#include "app/ChartHistory.h"

void TChartHistory::Reset(double displayTime) {
  FSlots.fill({-1.0, 0.0f});
  FNewest = 0;
  FDisplayTime = displayTime;
  FMin = 0;
  FMax = displayTime;
}

bool TChartHistory::Add(double seconds, float value) {
  FNewest = (FNewest + 1) % kPoints;
  FSlots[FNewest] = {seconds, value};
  if (seconds <= FMax) return false;
  const double step = Increment();
  if (step <= 0) {
    FMax = seconds;
  } else {
    while (FMax < seconds) FMax += step;
  }
  FMin = FMax - FDisplayTime;
  return true;
}

std::vector<RChartPoint> TChartHistory::Visible() const {
  std::vector<RChartPoint> out;
  for (std::size_t i = 1; i <= kPoints; ++i) {
    const RChartPoint& p = FSlots[(FNewest + i) % kPoints];
    if (p.mTime >= 0 && p.mTime >= FMin) out.push_back(p);
  }
  return out;
}
