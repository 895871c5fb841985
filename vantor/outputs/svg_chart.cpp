// SVG line charts of the Vantor's pictures.
#include "svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vantor {

namespace {

constexpr int kMarginLeft = 90;
constexpr int kMarginRight = 30;
constexpr int kTitleHeight = 58;
constexpr int kPanelGap = 44;
constexpr int kAxisBottom = 50;

std::string esc(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// A tick label: as few digits as the step needs.
std::string tickText(double v, double step) {
  if (std::fabs(v) < step * 1e-9) v = 0;
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", std::min(decimals, 6), v);
  return buf;
}

struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // A range that can be drawn: empty gives [0, 1], a single value a band around it.
  void settle() {
    if (!(lo <= hi)) {
      lo = 0;
      hi = 1;
    } else if (lo == hi) {
      const double pad = lo == 0 ? 1 : std::fabs(lo) * 0.1;
      lo -= pad;
      hi += pad;
    }
  }
};

}  // namespace

std::vector<double> niceTicks(double lo, double hi, int count) {
  std::vector<double> ticks;
  if (!(hi > lo) || count < 1) return ticks;
  const double raw = (hi - lo) / count;
  double mag = std::pow(10.0, std::floor(std::log10(raw)));
  static constexpr double kSteps[] = {1.0, 2.0, 5.0, 10.0};
  int k = 0;
  while (k < 3 && kSteps[k] * mag < raw) ++k;
  // The smallest nice step not below the raw one, smaller again while it leaves fewer than two
  // ticks (an axis needs two to be read).
  for (;;) {
    const double step = kSteps[k] * mag;
    ticks.clear();
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step) ticks.push_back(t);
    if (ticks.size() >= 2) return ticks;
    if (k == 0) {
      k = 3;
      mag /= 10;
    }
    --k;
  }
}

TimeUnit timeUnitFor(double spanS) {
  if (spanS > 2 * 86400) return {86400, "days"};
  if (spanS > 2 * 3600) return {3600, "h"};
  if (spanS > 120) return {60, "min"};
  if (spanS >= 2) return {1, "s"};
  return {1e-3, "ms"};
}

std::string renderSvg(const Chart& chart, int width, int panelHeight) {
  const int panels = static_cast<int>(chart.panels.size());
  const int height = kTitleHeight + panels * panelHeight + (panels - 1) * kPanelGap + kAxisBottom;
  const int plotW = width - kMarginLeft - kMarginRight;
  Range xr;
  for (const ChartPanel& p : chart.panels) {
    for (const ChartSeries& s : p.series) {
      for (double x : s.x) xr.add(x);
    }
  }
  for (double x : chart.xInclude) xr.add(x);
  xr.settle();
  const std::vector<double> xticks = niceTicks(xr.lo, xr.hi, 8);
  const double xstep = xticks.size() > 1 ? xticks[1] - xticks[0] : 1;
  auto px = [&](double x) { return kMarginLeft + (x - xr.lo) / (xr.hi - xr.lo) * plotW; };

  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text class=\"title\" x=\"" + std::to_string(width / 2) +
         "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\">" + esc(chart.title) + "</text>\n";

  for (int i = 0; i < panels; ++i) {
    const ChartPanel& panel = chart.panels[static_cast<size_t>(i)];
    const double top = kTitleHeight + i * (panelHeight + kPanelGap);
    const double bottom = top + panelHeight;
    Range yr;
    for (const ChartSeries& s : panel.series) {
      for (double y : s.y) yr.add(y);
    }
    for (double y : panel.yInclude) yr.add(y);
    yr.settle();
    const double pad = (yr.hi - yr.lo) * 0.05;
    yr.lo -= pad;
    yr.hi += pad;
    const std::vector<double> yticks = niceTicks(yr.lo, yr.hi, 5);
    const double ystep = yticks.size() > 1 ? yticks[1] - yticks[0] : 1;
    auto py = [&](double y) { return bottom - (y - yr.lo) / (yr.hi - yr.lo) * panelHeight; };

    svg += "<g class=\"panel\" data-y-label=\"" + esc(panel.yLabel) + "\">\n";
    svg += "<rect x=\"" + std::to_string(kMarginLeft) + "\" y=\"" + num(top) + "\" width=\"" + std::to_string(plotW) +
           "\" height=\"" + std::to_string(panelHeight) + "\" fill=\"none\" stroke=\"black\"/>\n";
    svg += "<g class=\"y-axis\">\n";
    for (double t : yticks) {
      svg += "<line x1=\"" + std::to_string(kMarginLeft) + "\" x2=\"" + std::to_string(kMarginLeft + plotW) +
             "\" y1=\"" + num(py(t)) + "\" y2=\"" + num(py(t)) + "\" stroke=\"#dddddd\"/>\n";
      svg += "<text class=\"tick\" x=\"" + std::to_string(kMarginLeft - 6) + "\" y=\"" + num(py(t) + 4) +
             "\" text-anchor=\"end\">" + tickText(t, ystep) + "</text>\n";
    }
    svg += "<text class=\"axis-label\" transform=\"translate(18," + num((top + bottom) / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + esc(panel.yLabel) + "</text>\n</g>\n";
    svg += "<g class=\"x-axis\">\n";
    for (double t : xticks) {
      svg += "<line x1=\"" + num(px(t)) + "\" x2=\"" + num(px(t)) + "\" y1=\"" + num(top) + "\" y2=\"" + num(bottom) +
             "\" stroke=\"#eeeeee\"/>\n";
      svg += "<text class=\"tick\" x=\"" + num(px(t)) + "\" y=\"" + num(bottom + 16) + "\" text-anchor=\"middle\">" +
             tickText(t, xstep) + "</text>\n";
    }
    svg += "</g>\n";
    for (const ChartSeries& s : panel.series) {
      std::string lines, dots;
      std::string points;
      size_t drawn = 0;
      const auto endLine = [&] {
        if (!points.empty()) {
          lines += "<polyline fill=\"none\" stroke=\"" + s.color + "\" stroke-width=\"1.5\"" +
                   (s.dashed ? " stroke-dasharray=\"6 3\"" : "") + " points=\"" + points + "\"/>\n";
        }
        points.clear();
      };
      for (size_t k = 0; k < s.x.size() && k < s.y.size(); ++k) {
        if (!std::isfinite(s.x[k]) || !std::isfinite(s.y[k])) {
          endLine();
          continue;
        }
        ++drawn;
        points += num(px(s.x[k])) + "," + num(py(s.y[k])) + " ";
        if (s.markers) {
          dots += "<circle cx=\"" + num(px(s.x[k])) + "\" cy=\"" + num(py(s.y[k])) + "\" r=\"2.5\" fill=\"" + s.color +
                  "\"/>\n";
        }
      }
      endLine();
      svg += "<g class=\"series\" data-label=\"" + esc(s.label) + "\" data-points=\"" + std::to_string(drawn) +
             "\">\n" + dots + lines + "</g>\n";
    }
    // Legend in a row above the panel, so it never hides data.
    double lx = kMarginLeft;
    const double ly = top - 8;
    svg += "<g class=\"legend\">\n";
    for (const ChartSeries& s : panel.series) {
      svg += "<line x1=\"" + num(lx) + "\" x2=\"" + num(lx + 26) + "\" y1=\"" + num(ly - 4) + "\" y2=\"" + num(ly - 4) +
             "\" stroke=\"" + s.color + "\" stroke-width=\"2\"" + (s.dashed ? " stroke-dasharray=\"6 3\"" : "") +
             "/>\n";
      svg +=
          "<text class=\"legend-entry\" x=\"" + num(lx + 32) + "\" y=\"" + num(ly) + "\">" + esc(s.label) + "</text>\n";
      lx += 48 + 7.0 * static_cast<double>(s.label.size());
    }
    svg += "</g>\n</g>\n";
  }
  svg += "<text class=\"axis-label x-label\" x=\"" + std::to_string(kMarginLeft + plotW / 2) + "\" y=\"" +
         std::to_string(height - 10) + "\" text-anchor=\"middle\">" + esc(chart.xLabel) + "</text>\n";
  svg += "</svg>\n";
  return svg;
}

}  // namespace vantor
