// The readings the logging chart can show: a fixed table of the last 10000 points and the
// rule that scrolls the time axis. The chart only displays what this decides.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

struct RChartPoint {
  double mTime;   // seconds since the logging start; -1 for a slot never filled
  float mValue;   // the sensor value, already divided by its divisor
};

// At most the lowest and the highest point of each of columns equal slices of min..max, in time
// order, with the first and the last point always kept: the same line on a chart that many
// pixels wide, at a fraction of the points the chart must lay out for every reading.
std::vector<RChartPoint> ThinChartPoints(const std::vector<RChartPoint>& points, double min, double max,
                                         int columns);

class TChartHistory {
 public:
  static constexpr std::size_t kPoints = 10000;

  TChartHistory() { Reset(120); }
  // Empties every slot; the axis shows 0 to displayTime.
  void Reset(double displayTime);
  // Stores the newest point (the oldest drops out). True when the axis scrolled: the chart
  // then shows Visible() instead of adding the point.
  bool Add(double seconds, float value);
  // Every stored point whose time is at least AxisMin(), oldest first.
  std::vector<RChartPoint> Visible() const;

  double AxisMin() const { return FMin; }
  double AxisMax() const { return FMax; }
  double Increment() const { return FDisplayTime / 10.0; }

 private:
  // A ring: FNewest is the slot of the newest point, so a reading moves no memory.
  std::array<RChartPoint, kPoints> FSlots{};
  std::size_t FNewest = 0;
  double FDisplayTime = 120;
  double FMin = 0;
  double FMax = 120;
};
