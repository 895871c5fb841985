// Faults the Vantor can be told to show, for tests of the node's side: answering after the node's
// window has closed, staying silent, flipping a bit of each frame, or replaying its last packet 14.
// Each may be limited to a span of virtual time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

enum class FaultKind { late, silent, corrupt, replay };

struct Fault {
  FaultKind kind;
  uint64_t fromMs = 0;
  uint64_t toMs = UINT64_MAX;  // exclusive
};

// "KIND" or "KIND@FROM_MS-TO_MS" (virtual time of the world clock, end exclusive).
bool parseFault(const std::string& text, Fault& out, std::string& error);

class FaultPlan {
 public:
  FaultPlan() = default;
  explicit FaultPlan(std::vector<Fault> faults) : faults_(std::move(faults)) {}
  bool active(FaultKind kind, uint64_t nowUs) const;

 private:
  std::vector<Fault> faults_;
};

}  // namespace vantor
