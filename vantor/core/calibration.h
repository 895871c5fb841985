// Commissioning a node's phase correction from the Vantor, pure: the steps of the bench procedure
// (a start value, N phase shifts from packet 7, the correction, a check) taken as the node's
// frames arrive. What goes in is the calibration as stored, one frame and the state of the
// settings it queued; what comes out is the calibration after it and the settings to queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store.h"

namespace vantor {

// The start value: well outside the automatic band (|c| <= 0.01 rad) whatever the node holds.
inline constexpr float kCalibrationStartRad = 0.5f;
// The debug-packet rate that brings packet 7 in every transmission cycle.
inline constexpr int kCalibrationDebugRate = 0;
// A node's debug-packet rate as it comes, restored when the Vantor never set another.
inline constexpr int kNodeDefaultDebugRate = 100;
inline constexpr int kDefaultCalibrationReadings = 16;
inline constexpr int kMinCalibrationReadings = 4;
inline constexpr int kMaxCalibrationReadings = 256;
// The reported power factor must come within this of the known one.
inline constexpr double kCalibrationPfTolerance = 0.03;
// Readings of the power factor averaged for that check.
inline constexpr int kVerifyReadings = 2;
// Shifts scattering more than this (standard deviation) come from a load that was not steady.
inline constexpr double kMaxShiftSpreadRad = 0.1;
// The automatic band of the node's correction and the value just outside it.
inline constexpr double kAutomaticBandRad = 0.01;
inline constexpr double kOutsideAutomaticRad = 0.0101;

// What the node held before: put back when the calibration does not finish.
struct NodeSettingsBefore {
  float phaseRad = 0.0f;  // 0: automatic, a node as it comes
  int debugRate = kNodeDefaultDebugRate;
};

// The calibration asked for, checked: a usage error text, or nothing.
std::optional<std::string> checkCalibrationRequest(double knownPf, int readings);

// A new calibration of a node and the settings it queues first (the start value, the debug rate).
CalibrationRecord newCalibration(uint32_t uid, double knownPf, bool leading, int readings,
                                 const NodeSettingsBefore& before, uint64_t nowUs);
std::vector<std::vector<std::string>> startSettings();

struct CalibrationStep {
  CalibrationRecord after;
  std::vector<std::vector<std::string>> settings;  // to queue, in order, as `vantor queue add` words
  bool changed = false;
};

// One accepted frame of the calibrating node. items: the settings the calibration queued, as they
// stand after the frame (their ids are in the record's `items`).
CalibrationStep stepCalibration(const CalibrationRecord& c, const UplinkRecord& frame,
                                const std::vector<QueueItem>& items, uint64_t nowUs);
// Ends it without a result (cancelled, or the node stopped reporting): the node is put back as it
// was.
CalibrationStep endCalibration(const CalibrationRecord& c, const std::string& state, const std::string& reason,
                               uint64_t nowUs);

// The correction from the start value, the shifts and the known load: start + mean shift +
// acos(PF) for a lagging load (- for a leading one), within -pi..pi and outside the automatic band.
double correctionFor(double startRad, double meanShiftRad, double knownPf, bool leading);
// The circular mean of angles (shifts near +-pi do not cancel) and their spread about it.
double meanAngle(const std::vector<double>& rad);
double angleSpread(const std::vector<double>& rad, double mean);

// "power factor 0.80 (lagging)", "power factor 1.00" (a resistive load neither leads nor lags).
std::string loadText(double knownPf, bool leading);

// "setting up", "collecting 3/16", ... the line the CLI, the API and the dashboard show.
std::string calibrationSummary(const CalibrationRecord& c);

}  // namespace vantor
