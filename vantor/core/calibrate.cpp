// Calibrations against the store: start, cancel, and the steps the frames bring.
#include "calibrate.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "activity.h"
#include "decide.h"
#include "uplink_decode.h"

namespace vantor {

namespace {

using Status = QueueOutcome::Status;

CalibrationOutcome outcome(Status status, std::string message) {
  CalibrationOutcome o;
  o.status = status;
  o.message = std::move(message);
  return o;
}

// What the node holds now, as far as the Vantor knows: the correction of its latest packet 7 or 8
// or of a phase setting it took since; the debug rate of the last one it took (a node as it comes
// has 100).
NodeSettingsBefore settingsBefore(Store& store, uint32_t uid) {
  NodeSettingsBefore b;
  uint64_t phaseAt = 0;
  if (const std::optional<UplinkRecord> u = store.lastAccepted(uid, {7, 8})) {
    const nlohmann::json& f = u->code == 8 ? u->fields : u->fields.value("power", nlohmann::json::object());
    if (f.contains("phase_correction_rad") && f["phase_correction_rad"].is_number()) {
      b.phaseRad = f["phase_correction_rad"].get<float>();
      phaseAt = u->tUs;
    }
  }
  for (const QueueItem& q : store.queue(uid)) {
    if (q.state != "done") continue;
    if (q.op == LoRaRXPacket14::Op::SET_PhaseShift && q.sentUs && *q.sentUs >= phaseAt) {
      b.phaseRad = std::bit_cast<float>(q.args[7]);
      phaseAt = *q.sentUs;
    }
    if (q.op == LoRaRXPacket14::Op::SET_txDebugPacketRate) b.debugRate = static_cast<int>(q.args[0] & 0xFFFFu);
  }
  return b;
}

// The calibration's settings as they stand.
std::vector<QueueItem> itemsOf(Store& store, const CalibrationRecord& c) {
  std::vector<QueueItem> out;
  for (const QueueItem& q : store.queue(c.uid)) {
    if (std::find(c.items.begin(), c.items.end(), q.id) != c.items.end()) out.push_back(q);
  }
  return out;
}

// Queues the step's settings, stores the calibration (and on the node, once done) and hands both on.
void apply(Store& store, CalibrationStep& step, uint64_t now, Stored& stored) {
  if (!step.changed) return;
  CalibrationRecord& c = step.after;
  for (const std::vector<std::string>& words : step.settings) {
    QueueRequest r;
    r.node = uidText(c.uid);
    r.words = words;
    const QueueOutcome o = addSetting(store, r, now);
    if (o.status != Status::queued) throw DbError("calibration of " + r.node + ": " + o.message);
    c.items.push_back(o.item.id);
    stored.items.push_back(o.item);
  }
  if (c.id == 0) {
    c.id = store.addCalibration(c);
  } else {
    store.updateCalibration(c);
  }
  if (c.state == "done" && c.correctionRad && c.spreadRad) {
    store.setNodeCalibration(c.uid,
                             NodeCalibration{now, c.knownPf, c.leading, *c.correctionRad, *c.spreadRad, c.readings});
    stored.node = store.nodeByUid(c.uid);
  }
  stored.calibrations.push_back(c);
}

bool stoppedReporting(const NodeRecord& node, uint64_t now) {
  return node.lastSeenUs && *node.lastSeenUs < now && std::strcmp(activityOf(node, now).name, "inactive") == 0;
}

std::string silenceReason(const NodeRecord& node, uint64_t now) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "the node stopped reporting: nothing heard for %.0f s (last at %.3f s)",
                static_cast<double>(now - *node.lastSeenUs) / 1e6, static_cast<double>(*node.lastSeenUs) / 1e6);
  return buf;
}

template <typename Change>
CalibrationOutcome inTransaction(Store& store, const Outputs* outputs, Change change) {
  Store::Transaction tx(store);
  Stored stored;
  stored.nowUs = store.nowUs();
  CalibrationOutcome out = change(stored);
  if (out.status != Status::queued) return out;
  if (outputs != nullptr) outputs->staged(stored, store);
  tx.commit();
  if (outputs != nullptr) outputs->committed(stored);
  return out;
}

}  // namespace

std::string startedMessage(const CalibrationRecord& c) {
  return "calibrating " + uidText(c.uid) + " against " + loadText(c.knownPf, c.leading) + ", " +
         std::to_string(c.readings) + " readings: " + c.message;
}

std::string cancelledMessage(const CalibrationRecord& c) {
  return "cancelled the calibration of " + uidText(c.uid) + ": " + c.message;
}

std::optional<CalibrationOutcome> checkCalibration(const CalibrationRequest& r) {
  if (!parseUid(r.node)) {
    return outcome(Status::badRequest, "bad node '" + r.node + "': an identity in hex, 0x000001 to 0xFFFFFF");
  }
  if (std::optional<std::string> bad = checkCalibrationRequest(r.knownPf, r.readings)) {
    return outcome(Status::badRequest, *bad);
  }
  return std::nullopt;
}

CalibrationOutcome startCalibration(Store& store, const CalibrationRequest& r, const Outputs* outputs) {
  if (std::optional<CalibrationOutcome> bad = checkCalibration(r)) return *bad;
  const uint32_t uid = *parseUid(r.node);
  return inTransaction(store, outputs, [&](Stored& stored) {
    if (!store.nodeByUid(uid)) return outcome(Status::refused, "no node " + uidText(uid) + " in the registry");
    if (std::optional<CalibrationRecord> open = store.latestCalibration(uid); open && open->open()) {
      return outcome(Status::refused,
                     "a calibration of " + uidText(uid) + " is in progress (" + open->state + "): cancel it first");
    }
    CalibrationStep step;
    step.after = newCalibration(uid, r.knownPf, r.leading, r.readings, settingsBefore(store, uid), stored.nowUs);
    step.settings = startSettings();
    step.changed = true;
    apply(store, step, stored.nowUs, stored);
    CalibrationOutcome o = outcome(Status::queued, startedMessage(step.after));
    o.calibration = step.after;
    return o;
  });
}

CalibrationOutcome cancelCalibration(Store& store, const std::string& node, const Outputs* outputs) {
  const std::optional<uint32_t> uid = parseUid(node);
  if (!uid) return outcome(Status::badRequest, "bad node '" + node + "': an identity in hex, 0x000001 to 0xFFFFFF");
  return inTransaction(store, outputs, [&](Stored& stored) {
    if (!store.nodeByUid(*uid)) return outcome(Status::refused, "no node " + uidText(*uid) + " in the registry");
    const std::optional<CalibrationRecord> open = store.latestCalibration(*uid);
    if (!open || !open->open()) {
      return outcome(Status::refused, "no calibration of " + uidText(*uid) + " in progress");
    }
    CalibrationStep step = endCalibration(*open, "cancelled", "cancelled", stored.nowUs);
    apply(store, step, stored.nowUs, stored);
    CalibrationOutcome o =
        outcome(Status::queued, "cancelled the calibration of " + uidText(*uid) + ": " + step.after.message);
    o.calibration = step.after;
    return o;
  });
}

void followCalibrations(Store& store, const std::optional<NodeRecord>& before, Stored& stored) {
  const uint64_t now = stored.nowUs;
  const UplinkRecord* u = stored.uplink ? &*stored.uplink : nullptr;
  for (const CalibrationRecord& c : store.openCalibrations()) {
    CalibrationStep step;
    if (u != nullptr && u->uid == c.uid && u->verdict == kAccepted) {
      // A node heard again after a silence that ended its calibration is put back.
      if (before && stoppedReporting(*before, now)) {
        step = endCalibration(c, "failed", silenceReason(*before, now), now);
      } else {
        step = stepCalibration(c, *u, itemsOf(store, c), now);
      }
    } else if (const std::optional<NodeRecord> node = store.nodeByUid(c.uid); node && stoppedReporting(*node, now)) {
      step = endCalibration(c, "failed", silenceReason(*node, now), now);
    }
    apply(store, step, now, stored);
  }
}

}  // namespace vantor
