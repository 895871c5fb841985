// The calibration's steps: start value, shifts, correction, check; and putting a node back.
#include "calibration.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "uplink_decode.h"

namespace vantor {

namespace {

constexpr double kPi = std::numbers::pi;
// Packet 7 carries the correction in four decimals: the start value as it reads back.
constexpr double kSameCorrectionRad = 1.5e-4;

std::string number(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::vector<std::string> phaseWords(double rad) { return {"phase", floatText(static_cast<float>(rad))}; }
std::vector<std::string> rateWords(int rate) { return {"debug-rate", std::to_string(rate)}; }

const QueueItem* itemById(const std::vector<QueueItem>& items, int64_t id) {
  for (const QueueItem& q : items) {
    if (q.id == id) return &q;
  }
  return nullptr;
}

// Every one of these items answered Applied or Unchanged: true; one refused or expired: its
// words in `why`; some still on their way: nothing.
std::optional<bool> settled(const std::vector<QueueItem>& items, const std::vector<int64_t>& ids, std::string& why) {
  bool all = true;
  for (int64_t id : ids) {
    const QueueItem* q = itemById(items, id);
    if (q == nullptr) {
      why = "setting #" + std::to_string(id) + " is no longer queued";
      return false;
    }
    if (q->state == "done") continue;
    if (q->state == "failed" || q->state == "expired") {
      why = "the node " + std::string(q->state == "failed" ? "refused " : "never took ") + q->setting + " " + q->value +
            (q->state == "failed" ? " (" + q->reason + ")" : " (expired)");
      return false;
    }
    all = false;
  }
  if (!all) return std::nullopt;
  return true;
}

std::optional<double> numberAt(const nlohmann::json& j, const char* a, const char* b = nullptr) {
  const nlohmann::json* v = &j;
  for (const char* k : {a, b}) {
    if (k == nullptr) break;
    if (!v->is_object() || !v->contains(k)) return std::nullopt;
    v = &(*v)[k];
  }
  if (!v->is_number()) return std::nullopt;
  return v->get<double>();
}

bool flag(const nlohmann::json& j, const char* group, const char* key) {
  return j.contains(group) && j[group].contains(key) && j[group][key].is_boolean() && j[group][key].get<bool>();
}

}  // namespace

std::optional<std::string> checkCalibrationRequest(double knownPf, int readings) {
  if (!(knownPf > 0.0 && knownPf <= 1.0)) return "known-pf takes the load's power factor, above 0 and at most 1";
  if (readings < kMinCalibrationReadings || readings > kMaxCalibrationReadings) {
    return "readings takes " + std::to_string(kMinCalibrationReadings) + ".." +
           std::to_string(kMaxCalibrationReadings) + " (default " + std::to_string(kDefaultCalibrationReadings) + ")";
  }
  return std::nullopt;
}

CalibrationRecord newCalibration(uint32_t uid, double knownPf, bool leading, int readings,
                                 const NodeSettingsBefore& before, uint64_t nowUs) {
  CalibrationRecord c;
  c.uid = uid;
  c.knownPf = knownPf;
  c.leading = leading;
  c.readings = readings;
  c.state = "setting-up";
  c.message = "start value " + floatText(kCalibrationStartRad) + " rad and debug rate " +
              std::to_string(kCalibrationDebugRate) + " queued for the node's next receive window";
  c.startRad = kCalibrationStartRad;
  c.previousRad = before.phaseRad;
  c.restoreRate = before.debugRate;
  c.startedUs = nowUs;
  c.updatedUs = nowUs;
  return c;
}

std::vector<std::vector<std::string>> startSettings() {
  return {phaseWords(kCalibrationStartRad), rateWords(kCalibrationDebugRate)};
}

double meanAngle(const std::vector<double>& rad) {
  double s = 0, c = 0;
  for (double a : rad) {
    s += std::sin(a);
    c += std::cos(a);
  }
  return std::atan2(s, c);
}

double angleSpread(const std::vector<double>& rad, double mean) {
  if (rad.size() < 2) return 0;
  double sum = 0;
  for (double a : rad) {
    const double d = std::remainder(a - mean, 2 * kPi);
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(rad.size() - 1));
}

double correctionFor(double startRad, double meanShiftRad, double knownPf, bool leading) {
  const double angle = std::acos(knownPf);
  double c = std::remainder(startRad + meanShiftRad + (leading ? -angle : angle), 2 * kPi);
  // The node reads |c| <= 0.01 as "automatic", in single precision as it holds it: just outside,
  // on the same side.
  if (std::fabs(static_cast<float>(c)) <= static_cast<float>(kAutomaticBandRad))
    c = c < 0 ? -kOutsideAutomaticRad : kOutsideAutomaticRad;
  return c;
}

CalibrationStep endCalibration(const CalibrationRecord& c, const std::string& state, const std::string& reason,
                               uint64_t nowUs) {
  CalibrationStep s;
  s.after = c;
  s.changed = true;
  s.after.state = state;
  s.after.updatedUs = nowUs;
  // The node goes back to what it held: the correction always (the start value or a new one may be
  // on it), the debug rate unless that is back already.
  s.settings.push_back(phaseWords(c.previousRad));
  if (!c.restored) s.settings.push_back(rateWords(c.restoreRate));
  s.after.restored = true;
  s.after.message = reason + "; correction " + floatText(c.previousRad) + " rad and debug rate " +
                    std::to_string(c.restoreRate) + " queued to put the node back";
  return s;
}

CalibrationStep stepCalibration(const CalibrationRecord& c, const UplinkRecord& u, const std::vector<QueueItem>& items,
                                uint64_t nowUs) {
  CalibrationStep s;
  s.after = c;
  CalibrationRecord& a = s.after;
  std::string why;
  const auto fail = [&](const std::string& reason) {
    s = endCalibration(c, "failed", reason, nowUs);
    return s;
  };
  const auto moved = [&](std::string message) {
    a.message = std::move(message);
    a.updatedUs = nowUs;
    s.changed = true;
  };
  if (!c.open() || u.verdict != "accepted") return s;

  if (c.state == "setting-up" || c.state == "collecting") {
    const std::vector<int64_t> first(c.items.begin(), c.items.begin() + std::min<size_t>(2, c.items.size()));
    const std::optional<bool> ok = settled(items, first, why);
    if (ok && !*ok) return fail(why);
    if (ok && c.state == "setting-up") {
      a.state = "collecting";
      moved("the node took the start value: collecting " + std::to_string(c.readings) + " phase shifts");
    }
    // A packet 7 measured with the start value, both phases valid, is one shift.
    const std::optional<double> correction = numberAt(u.fields, "power", "phase_correction_rad");
    const std::optional<double> shift = numberAt(u.fields, "power", "shift_rad");
    if (u.code == 7 && correction && shift && std::fabs(*correction - c.startRad) < kSameCorrectionRad &&
        flag(u.fields, "power", "b_phase_ok") && flag(u.fields, "power", "e_ind_phase_ok")) {
      a.shifts.push_back(*shift);
      moved("collecting: " + std::to_string(a.shifts.size()) + " of " + std::to_string(c.readings) +
            " phase shifts, the last " + number(*shift, 4) + " rad");
    }
    if (static_cast<int>(a.shifts.size()) >= c.readings) {
      const double mean = meanAngle(a.shifts);
      const double spread = angleSpread(a.shifts, mean);
      a.meanShiftRad = mean;
      a.spreadRad = spread;
      if (spread > kMaxShiftSpreadRad) {
        return fail("the phase shifts scatter by " + number(spread, 3) + " rad (more than " +
                    number(kMaxShiftSpreadRad, 1) + "): the load was not steady");
      }
      const double corr = correctionFor(c.startRad, mean, c.knownPf, c.leading);
      a.correctionRad = corr;
      a.state = "correcting";
      a.restored = true;
      s.settings.push_back(phaseWords(corr));
      s.settings.push_back(rateWords(c.restoreRate));
      moved("mean shift " + number(mean, 4) + " rad (spread " + number(spread, 4) + "): correction " +
            floatText(static_cast<float>(corr)) + " rad and debug rate " + std::to_string(c.restoreRate) + " queued");
    }
    return s;
  }

  if (c.state == "correcting") {
    // The correction travels as the third item: once the node took it, its readings show it.
    const std::vector<int64_t> third(c.items.begin() + std::min<size_t>(2, c.items.size()),
                                     c.items.begin() + std::min<size_t>(3, c.items.size()));
    const std::optional<bool> ok = settled(items, third, why);
    if (ok && !*ok) return fail(why);
    if (ok) {
      a.state = "verifying";
      moved("the node took the correction: checking its next " + std::to_string(kVerifyReadings) +
            " power factors against " + number(c.knownPf, 2));
    }
    return s;
  }

  // verifying: the power factor of each later telemetry frame.
  const std::optional<double> pf = numberAt(u.fields, "power_factor");
  if ((u.code != 3 && u.code != 5) || !pf) return s;
  a.checks.push_back(*pf);
  moved("checking: power factor " + number(*pf, 2) + " (" + std::to_string(a.checks.size()) + " of " +
        std::to_string(kVerifyReadings) + ")");
  if (static_cast<int>(a.checks.size()) < kVerifyReadings) return s;
  double sum = 0;
  for (double p : a.checks) sum += p;
  const double mean = sum / static_cast<double>(a.checks.size());
  if (std::fabs(mean - c.knownPf) > kCalibrationPfTolerance) {
    return fail("the node reports power factor " + number(mean, 2) + ", not " + number(c.knownPf, 2) + " within " +
                number(kCalibrationPfTolerance, 2));
  }
  a.state = "done";
  moved("calibrated: correction " + floatText(static_cast<float>(*c.correctionRad)) + " rad, power factor " +
        number(mean, 2) + " against " + number(c.knownPf, 2));
  return s;
}

std::string loadText(double knownPf, bool leading) {
  return "power factor " + number(knownPf, 2) + (knownPf >= 1.0 ? "" : leading ? " (leading)" : " (lagging)");
}

std::string calibrationSummary(const CalibrationRecord& c) { return c.state + ": " + c.message; }

}  // namespace vantor
