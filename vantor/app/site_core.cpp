// The shared core of `vantor listen`: a lock around the Vantor, and the site's profile.
#include "site_core.h"

#include "settings.h"
#include "uplink_decode.h"

namespace vantor {

std::optional<Answer> SiteCore::heard(const HeardFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<Answer> answer = vantor_.heard(frame);
  if (answer) queueProfile(*answer);
  return answer;
}

std::vector<std::optional<Answer>> SiteCore::heardAll(const std::vector<HeardFrame>& frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::optional<Answer>> answers;
  while (answers.size() < frames.size()) {
    std::vector<std::optional<Answer>> run =
        vantor_.heardRun(frames, answers.size(), [this](const Answer& a) { return queuesProfile(a); });
    if (run.back()) queueProfile(*run.back());
    for (std::optional<Answer>& a : run) answers.push_back(std::move(a));
  }
  return answers;
}

void SiteCore::refused(const Answer& answer, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  vantor_.refused(answer, reason);
}

// A node given its identity (or confirmed under one it held) with nothing queued for it gets the
// settings, in the same instant as that answer, so a run repeats. Queued at the assign, they also
// reach a node whose confirm was lost and which the Vantor confirms by its first frame under the
// assigned key: that frame's receive window carries the first of them.
bool SiteCore::queuesProfile(const Answer& a) const {
  return !settings_.empty() && (a.what == "assign" || a.what == "confirm") && a.frame.size() >= 4;
}

void SiteCore::queueProfile(const Answer& a) {
  if (!queuesProfile(a)) return;
  const uint32_t uid = a.frame[1] | (a.frame[2] << 8) | (static_cast<uint32_t>(a.frame[3]) << 16);
  Store& store = vantor_.store();
  if (!store.queue(uid).empty()) return;
  for (const std::vector<std::string>& words : settings_) {
    (void)queueSetting(store, QueueRequest{uidText(uid), words}, &vantor_.outputs());
  }
}

}  // namespace vantor
