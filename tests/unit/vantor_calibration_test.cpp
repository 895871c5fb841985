// The remote calibration's steps, pure: the correction from start value, shifts and known load,
// the angles' mean across +-pi, and the way from the start value to done, failed or put back.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "calibration.h"

namespace vantor {
namespace {

using Words = std::vector<std::vector<std::string>>;

TEST(CalibrationCorrection, FromStartShiftAndLoad) {
  struct Case {
    double start, meanShift, pf;
    bool leading;
    double expected;  // by hand
  } cases[] = {
      {0.5, -0.527, 1.0, false, -0.027},                          // the README's bench example
      {0.5, -1.0, 0.5, false, 0.5 - 1.0 + std::numbers::pi / 3},  // acos(0.5) = pi/3, lagging adds it
      {0.5, 0.2, 0.5, true, 0.5 + 0.2 - std::numbers::pi / 3},    // leading takes it off
      {0.5, 3.0, 1.0, false, 3.5 - 2 * std::numbers::pi},         // wrapped into -pi..pi
      {0.5, -0.505, 1.0, false, -0.0101},                         // -0.005: automatic, so just outside
      {0.5, -0.5, 1.0, false, 0.0101},                            // exactly 0 goes to the positive side
      {0.5, -0.49, 1.0, false, 0.0101},                           // +0.01 is still automatic
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(correctionFor(c.start, c.meanShift, c.pf, c.leading), c.expected, 1e-9)
        << c.start << " " << c.meanShift << " " << c.pf;
  }
}

TEST(CalibrationCorrection, AnglesAveragedAcrossPi) {
  const std::vector<double> across{3.1, -3.1};
  EXPECT_NEAR(std::fabs(meanAngle(across)), std::numbers::pi, 1e-12);
  const double d = std::numbers::pi - 3.1;
  EXPECT_NEAR(angleSpread(across, meanAngle(across)), std::sqrt(2 * d * d), 1e-9);
  EXPECT_NEAR(meanAngle({-1.0, -1.2}), -1.1, 1e-9);
  EXPECT_EQ(angleSpread({-1.0}, -1.0), 0.0);
}

TEST(CalibrationRequest, Checked) {
  EXPECT_FALSE(checkCalibrationRequest(1.0, 16));
  EXPECT_FALSE(checkCalibrationRequest(0.01, 4));
  EXPECT_TRUE(checkCalibrationRequest(0.0, 16));
  EXPECT_TRUE(checkCalibrationRequest(1.0001, 16));
  EXPECT_TRUE(checkCalibrationRequest(std::nan(""), 16));
  EXPECT_TRUE(checkCalibrationRequest(1.0, 3));
  EXPECT_TRUE(checkCalibrationRequest(1.0, 257));
}

// A calibration of node 1 against PF 0.8 from 4 readings; the node held 0.25 rad and debug rate 7.
class CalibrationSteps : public ::testing::Test {
 public:
  CalibrationRecord c = newCalibration(1, 0.8, false, 4, NodeSettingsBefore{0.25f, 7}, 0);
  std::vector<QueueItem> items;

  void SetUp() override {
    c.id = 1;
    queued(startSettings());
  }
  void queued(const Words& words) {
    for (const auto& w : words) {
      QueueItem q;
      q.id = static_cast<int64_t>(items.size()) + 1;
      q.setting = w[0];
      q.value = w[1];
      q.state = "pending";
      items.push_back(q);
      c.items.push_back(q.id);
    }
  }
  void answered(int64_t id, const std::string& state, const std::string& reason = "Applied") {
    items[static_cast<size_t>(id - 1)].state = state;
    items[static_cast<size_t>(id - 1)].reason = reason;
  }
  static UplinkRecord packet7(double correction, double shift, bool phaseOk = true) {
    UplinkRecord u;
    u.code = 7;
    u.verdict = "accepted";
    u.fields["power"] = {
        {"phase_correction_rad", correction}, {"shift_rad", shift}, {"b_phase_ok", true}, {"e_ind_phase_ok", phaseOk}};
    return u;
  }
  static UplinkRecord telemetry(double pf) {
    UplinkRecord u;
    u.code = 5;
    u.verdict = "accepted";
    u.fields["power_factor"] = pf;
    return u;
  }
  // One frame: the record moves on and its settings are queued.
  CalibrationStep step(const UplinkRecord& u) {
    CalibrationStep s = stepCalibration(c, u, items, 1);
    c = s.after;
    queued(s.settings);
    return s;
  }
  void collect(const std::vector<double>& shifts) {
    answered(1, "done");
    answered(2, "done");
    for (double s : shifts) step(packet7(0.5, s));
  }
};

TEST_F(CalibrationSteps, StartValueShiftsCorrectionCheckDone) {
  EXPECT_FALSE(step(telemetry(0.99)).changed);  // nothing answered yet
  answered(1, "done");
  answered(2, "done", "Unchanged");
  step(telemetry(0.99));
  EXPECT_EQ(c.state, "collecting");
  // Only a packet 7 taken with the start value and both phases valid is a shift.
  step(packet7(0.0, -0.9));
  step(packet7(0.5, -0.9, false));
  EXPECT_TRUE(c.shifts.empty());
  for (double s : {-1.16, -1.17, -1.15}) step(packet7(0.5, s));
  EXPECT_EQ(c.state, "collecting");
  const CalibrationStep last = step(packet7(0.5, -1.18));
  EXPECT_EQ(c.state, "correcting");
  const double corr = 0.5 - 1.165 + std::acos(0.8);
  ASSERT_TRUE(c.correctionRad);
  EXPECT_NEAR(*c.correctionRad, corr, 1e-9);
  ASSERT_EQ(last.settings.size(), 2u);
  EXPECT_EQ(last.settings[0][0], "phase");
  EXPECT_NEAR(std::stod(last.settings[0][1]), corr, 1e-6);
  EXPECT_EQ(last.settings[1], (std::vector<std::string>{"debug-rate", "7"}));
  step(telemetry(0.79));  // the correction is not on the node yet
  EXPECT_TRUE(c.checks.empty());
  answered(3, "done");
  step(telemetry(0.79));
  EXPECT_EQ(c.state, "verifying");
  EXPECT_TRUE(c.checks.empty());  // the frame that brought the answer was measured before it
  step(telemetry(0.79));
  step(telemetry(0.82));
  EXPECT_EQ(c.state, "done");
  EXPECT_EQ(c.checks, (std::vector<double>{0.79, 0.82}));
}

TEST_F(CalibrationSteps, EndsPuttingTheNodeBack) {
  struct Case {
    const char* what;
    std::function<void(CalibrationSteps&)> run;
    const char* state;
    const char* reasonStart;
    Words settings;  // queued by the end
  } cases[] = {
      {"start value refused",
       [](CalibrationSteps& t) {
         t.answered(1, "failed", "RejectedValue");
         t.step(telemetry(1));
       },
       "failed",
       "the node refused phase 0.5 (RejectedValue)",
       {{"phase", "0.25"}, {"debug-rate", "7"}}},
      {"debug rate expired",
       [](CalibrationSteps& t) {
         t.answered(1, "done");
         t.answered(2, "expired");
         t.step(telemetry(1));
       },
       "failed",
       "the node never took debug-rate 0 (expired)",
       {{"phase", "0.25"}, {"debug-rate", "7"}}},
      {"unsteady load",
       [](CalibrationSteps& t) {
         t.collect({-1.0, -1.3, -0.9, -1.2});
       },
       "failed",
       "the phase shifts scatter by",
       {{"phase", "0.25"}, {"debug-rate", "7"}}},
      {"check fails",
       [](CalibrationSteps& t) {
         t.collect({-1.16, -1.17, -1.15, -1.18});
         t.answered(3, "done");
         for (double pf : {0.9, 0.74, 0.76, 0.8}) t.step(telemetry(pf));
       },
       "failed",
       "the node reports power factor 0.75, not 0.80 within 0.03",
       {{"phase", "0.25"}}},
      {"cancelled while collecting",
       [](CalibrationSteps& t) {
         t.collect({-1.16});
         t.c = endCalibration(t.c, "cancelled", "cancelled", 2).after;
       },
       "cancelled",
       "cancelled; correction 0.25 rad and debug rate 7 queued",
       {}},
  };
  for (const Case& k : cases) {
    c = newCalibration(1, 0.8, false, 4, NodeSettingsBefore{0.25f, 7}, 0);
    items.clear();
    queued(startSettings());
    const size_t before = items.size();
    k.run(*this);
    EXPECT_EQ(c.state, k.state) << k.what;
    EXPECT_EQ(c.message.rfind(k.reasonStart, 0), 0u) << k.what << ": " << c.message;
    if (!k.settings.empty()) {
      Words tail;
      for (size_t i = items.size() - k.settings.size(); i < items.size(); ++i) {
        tail.push_back({items[i].setting, items[i].value});
      }
      EXPECT_EQ(tail, k.settings) << k.what;
      EXPECT_GT(items.size(), before) << k.what;
    }
    EXPECT_TRUE(c.restored) << k.what;
    EXPECT_FALSE(c.open()) << k.what;
  }
}

}  // namespace
}  // namespace vantor
