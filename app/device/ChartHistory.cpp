#include "app/device/ChartHistory.h"

#include <cmath>

std::vector<RChartPoint> ThinChartPoints(const std::vector<RChartPoint>& points, double min, double max,
                                         int columns) {
  if (columns <= 0 || points.size() <= 2 * static_cast<std::size_t>(columns) || max <= min) return points;
  std::vector<RChartPoint> out;
  out.reserve(2 * static_cast<std::size_t>(columns) + 2);
  const double width = (max - min) / columns;
  std::size_t i = 0;
  while (i < points.size()) {
    // One column: the points up to its right edge.
    const double edge = min + (std::floor((points[i].mTime - min) / width) + 1) * width;
    std::size_t lo = i, hi = i, end = i;
    for (; end < points.size() && (end == i || points[end].mTime < edge); ++end) {
      if (points[end].mValue < points[lo].mValue) lo = end;
      if (points[end].mValue > points[hi].mValue) hi = end;
    }
    if (i == 0 && lo != 0 && hi != 0) out.push_back(points[0]);
    out.push_back(points[std::min(lo, hi)]);
    if (lo != hi) out.push_back(points[std::max(lo, hi)]);
    if (end == points.size() && std::max(lo, hi) != end - 1) out.push_back(points[end - 1]);
    i = end;
  }
  return out;
}

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
