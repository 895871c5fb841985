// The Vantor's pictures of a node.
#include "plots.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "ADCParam.h"
#include "activity.h"
#include "fundamental_fit.h"
#include "store.h"
#include "uplink_decode.h"

namespace vantor {

namespace {

constexpr double kAssumedMainsV = 230.0;  // the node's power figure assumes it too
constexpr const char* kClampColour = "#1f77b4";
constexpr const char* kEFieldColour = "#2ca02c";
constexpr const char* kECapColour = "#9467bd";
constexpr const char* kFitColour = "#d62728";
constexpr const char* kMeasuredColour = "#ff7f0e";

std::string fitLabel(const Fundamental& f) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "50 Hz fit: mean %.1f, amplitude %.1f counts", f.mean, f.amplitude());
  return buf;
}

// A channel of the capture with its fitted fundamental drawn over it.
ChartPanel channelPanel(const std::string& yLabel, ChartSeries raw, const std::vector<double>& tS) {
  ChartPanel panel{yLabel, {}};
  Fundamental f;
  const bool fitted = fitFundamental(tS, raw.y, ADCParam::AC_FREQ_HZ, f);
  panel.series.push_back(std::move(raw));
  if (fitted) {
    ChartSeries fit{fitLabel(f), kFitColour, {}, {}, true};
    for (double t : tS) {
      fit.x.push_back(t * 1e3);
      fit.y.push_back(f.at(t));
    }
    panel.series.push_back(std::move(fit));
  }
  return panel;
}

double number(const nlohmann::json& fields, const char* key) {
  const auto it = fields.find(key);
  return it != fields.end() && it->is_number() ? it->get<double>() : NAN;
}

}  // namespace

bool captureChart(Store& registry, uint32_t uid, Chart& out, std::string& why) {
  const std::optional<CaptureRecord> cap = registry.lastCompleteCapture(uid);
  if (!cap) {
    why = "no complete capture from " + uidText(uid) + " yet";
    return false;
  }
  const std::vector<CaptureSample> rows = registry.captureRows(cap->id);
  // Each row is one scan of the four channels; rows follow each other at the scan period.
  std::vector<double> tS;
  ChartSeries clamp{"clamp, bFieldH - bFieldL", kClampColour, {}, {}};
  ChartSeries eInd{"E-field, inductive", kEFieldColour, {}, {}};
  ChartSeries eCap{"E-field, capacitive", kECapColour, {}, {}};
  for (const CaptureSample& s : rows) {
    const double t = s.row * static_cast<double>(ADCParam::TIME_PER_FULL_SCAN_S);
    tS.push_back(t);
    clamp.x.push_back(t * 1e3);
    clamp.y.push_back(s.bField);
    eInd.x.push_back(t * 1e3);
    eInd.y.push_back(s.eFieldInd);
    if (s.eFieldCap) {
      eCap.x.push_back(t * 1e3);
      eCap.y.push_back(*s.eFieldCap);
    }
  }
  char title[128];
  std::snprintf(title, sizeof title, "Capture of node %s: packet %d, counter %" PRIu32 ", %zu rows at t = %.3f s",
                uidText(uid).c_str(), int{cap->code}, cap->counter, rows.size(),
                static_cast<double>(cap->lastUs) / 1e6);
  out = Chart{title, "time from the first scan (ms)", {}};
  out.panels.push_back(channelPanel("clamp (ADC counts)", clamp, tS));
  ChartPanel e = channelPanel("E-field (ADC counts)", eInd, tS);
  if (!eCap.x.empty()) e.series.push_back(eCap);
  out.panels.push_back(e);
  return true;
}

bool telemetryChart(Store& registry, uint32_t uid, Chart& out, std::string& why, const TelemetryView& view) {
  const std::vector<UplinkRecord> frames = registry.uplinks(uid, 1000000);
  const uint64_t fromUs = view.spanUs ? view.nowUs - std::min(view.nowUs, *view.spanUs) : 0;
  struct Point {
    double tS, current, pf, supply;
  };
  std::vector<Point> telemetry;
  std::vector<std::pair<double, double>> measuredW;  // packet 7: the node's own power figure
  for (const UplinkRecord& u : frames) {
    if (!u.tagOk || u.tUs < fromUs) continue;
    const double t = static_cast<double>(u.tUs) / 1e6;
    if (u.code == 3 || u.code == 5) {
      telemetry.push_back(
          {t, number(u.fields, "current_a"), number(u.fields, "power_factor"), number(u.fields, "supply_v")});
    } else if (u.code == 7 && u.fields.contains("power")) {
      measuredW.emplace_back(t, number(u.fields["power"], "power_w"));
    }
  }
  if (telemetry.empty()) {
    why = "no telemetry from " + uidText(uid) + (view.spanUs ? " in this window" : " yet");
    return false;
  }
  // A window is drawn whole and ends at the Vantor's clock; every frame starts at the first.
  const double t0 = view.spanUs ? static_cast<double>(view.nowUs) / 1e6 : telemetry.front().tS;
  const double spanS = view.spanUs ? static_cast<double>(*view.spanUs) / 1e6 : telemetry.back().tS - t0;
  const TimeUnit unit = timeUnitFor(spanS);
  auto x = [&](double t) { return (t - t0) / unit.seconds; };
  // Silent for longer than this, the node was inactive: no line across.
  double gapS = INFINITY;
  if (view.gaps) {
    const std::optional<NodeRecord> node = registry.nodeByUid(uid);
    gapS = signOfLifeS() + 1.5 * (node ? node->expectedIntervalS : NodeRecord{}.expectedIntervalS);
  }
  ChartSeries current{"current (packet 3)", kClampColour, {}, {}, false, true};
  ChartSeries power{"230 V x current x power factor (packet 3)", kEFieldColour, {}, {}, false, true};
  ChartSeries pf{"power factor (packet 3)", kECapColour, {}, {}, false, true};
  ChartSeries supply{"supply (packet 3)", kMeasuredColour, {}, {}, false, true};
  const auto add = [&](double t, double c, double w, double f, double v) {
    for (auto [series, y] : {std::pair{&current, c}, {&power, w}, {&pf, f}, {&supply, v}}) {
      series->x.push_back(x(t));
      series->y.push_back(y);
    }
  };
  for (size_t i = 0; i < telemetry.size(); ++i) {
    const Point& p = telemetry[i];
    if (i > 0 && p.tS - telemetry[i - 1].tS > gapS) add(p.tS, NAN, NAN, NAN, NAN);
    add(p.tS, p.current, kAssumedMainsV * p.current * p.pf, p.pf, p.supply);
  }
  ChartPanel powerPanel{"active power (W)", {power}, {0.0}};
  if (!measuredW.empty()) {
    ChartSeries measured{"measured (packet 7)", kMeasuredColour, {}, {}, true, true};
    for (const auto& [t, w] : measuredW) {
      if (!view.spanUs && t < t0) continue;
      measured.x.push_back(x(t));
      measured.y.push_back(w);
    }
    if (!measured.x.empty()) powerPanel.series.push_back(measured);
  }
  char title[160];
  char xLabel[80];
  if (view.spanUs) {
    std::snprintf(title, sizeof title, "Telemetry of node %s: %zu frames in the last %.0f %s", uidText(uid).c_str(),
                  telemetry.size(), spanS / unit.seconds, unit.name);
    std::snprintf(xLabel, sizeof xLabel, "virtual time before the latest frame heard (%s)", unit.name);
  } else {
    std::snprintf(title, sizeof title, "Telemetry of node %s: %zu frames from t = %.0f s", uidText(uid).c_str(),
                  telemetry.size(), t0);
    std::snprintf(xLabel, sizeof xLabel, "virtual time since the first frame (%s)", unit.name);
  }
  out = Chart{title,
              xLabel,
              {ChartPanel{"current (A)", {current}, {0.0}}, powerPanel, ChartPanel{"power factor", {pf}, {0.0, 1.0}}}};
  if (view.supply) out.panels.push_back(ChartPanel{"supply (V)", {supply}});
  if (view.spanUs) out.xInclude = {-spanS / unit.seconds, 0.0};
  return true;
}

}  // namespace vantor
