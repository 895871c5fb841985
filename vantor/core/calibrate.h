// Calibrations against the store: starting and cancelling one (the CLI, the dashboard, MQTT) and
// moving every open one with the frames the Vantor handles, inside each frame's transaction.
#pragma once

#include <optional>
#include <string>

#include "calibration.h"
#include "outputs.h"
#include "settings.h"
#include "store.h"

namespace vantor {

struct CalibrationRequest {
  std::string node;  // identity in hex, as for the queue
  double knownPf = 1.0;
  bool leading = false;
  int readings = kDefaultCalibrationReadings;
};

struct CalibrationOutcome {
  QueueOutcome::Status status = QueueOutcome::Status::queued;  // queued: started or cancelled
  std::string message;
  std::optional<CalibrationRecord> calibration;
};

// The request's own faults, found without a database.
std::optional<CalibrationOutcome> checkCalibration(const CalibrationRequest& request);
// Starts a calibration: its first settings queued, in one transaction.
CalibrationOutcome startCalibration(Store& store, const CalibrationRequest& request, const Outputs* outputs = nullptr);
// Cancels the node's open calibration and queues what puts the node back.
CalibrationOutcome cancelCalibration(Store& store, const std::string& node, const Outputs* outputs = nullptr);

// Inside a frame's transaction, after its writes: the frame's node's calibration takes the frame,
// and any calibration whose node stopped reporting ends. `before`: the frame's node as it was.
void followCalibrations(Store& store, const std::optional<NodeRecord>& before, Stored& stored);

// "calibrating 0x000001 against power factor 0.8 (lagging), 16 readings"
std::string startedMessage(const CalibrationRecord& c);
// "cancelled the calibration of 0x000001: cancelled; correction ... queued to put the node back"
std::string cancelledMessage(const CalibrationRecord& c);

}  // namespace vantor
