// Line charts as SVG for the Vantor's pictures: one or more panels stacked over a shared x axis,
// each with its axes, ticks, unit labels, grid and legend. Plain text out, no library.
#pragma once

#include <string>
#include <vector>

namespace vantor {

struct ChartSeries {
  std::string label;
  std::string color;  // an SVG colour, e.g. "#1f77b4"
  std::vector<double> x, y;
  bool dashed = false;
  bool markers = false;  // a dot at each point (sparse data)
  // A point that is not a number breaks the line there: a gap in the data is drawn as a gap.
};

struct ChartPanel {
  std::string yLabel;  // with its unit, e.g. "current (A)"
  std::vector<ChartSeries> series;
  // Values the y axis reaches in any case (0 for a quantity that starts there), so that a steady
  // reading is not blown up into a wild curve.
  std::vector<double> yInclude = {};
};

struct Chart {
  std::string title;
  std::string xLabel;  // with its unit
  std::vector<ChartPanel> panels;
  std::vector<double> xInclude = {};  // values the x axis reaches in any case (a whole time window)
};

// Ticks of a "nice" step (1, 2 or 5 x 10^n) covering [lo, hi], about `count` of them.
std::vector<double> niceTicks(double lo, double hi, int count);
// A time axis for `spanS` seconds: the divisor that turns seconds into the unit, and the unit.
struct TimeUnit {
  double seconds;
  const char* name;
};
TimeUnit timeUnitFor(double spanS);

std::string renderSvg(const Chart& chart, int width = 960, int panelHeight = 240);

}  // namespace vantor
