// Fault texts of --vantor-fault and the plan that says which faults apply at a given time.
#include "faults.h"

#include <cstdlib>

namespace vantor {

namespace {

bool parseMs(const std::string& text, uint64_t& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 15) return false;
  out = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

bool parseFault(const std::string& text, Fault& out, std::string& error) {
  const size_t at = text.find('@');
  const std::string kind = text.substr(0, at);
  Fault f{FaultKind::late};
  if (kind == "late") {
    f.kind = FaultKind::late;
  } else if (kind == "silent") {
    f.kind = FaultKind::silent;
  } else if (kind == "corrupt") {
    f.kind = FaultKind::corrupt;
  } else if (kind == "replay") {
    f.kind = FaultKind::replay;
  } else {
    error = "unknown Vantor fault '" + kind + "' (late, silent, corrupt or replay, optionally @FROM_MS-TO_MS)";
    return false;
  }
  if (at != std::string::npos) {
    const std::string span = text.substr(at + 1);
    const size_t dash = span.find('-');
    if (dash == std::string::npos || !parseMs(span.substr(0, dash), f.fromMs) ||
        !parseMs(span.substr(dash + 1), f.toMs) || f.toMs <= f.fromMs) {
      error = "Vantor fault '" + text + "': the span is @FROM_MS-TO_MS with FROM_MS < TO_MS";
      return false;
    }
  }
  out = f;
  return true;
}

bool FaultPlan::active(FaultKind kind, uint64_t nowUs) const {
  const uint64_t ms = nowUs / 1000;
  for (const Fault& f : faults_) {
    if (f.kind == kind && ms >= f.fromMs && ms < f.toMs) return true;
  }
  return false;
}

}  // namespace vantor
