// Setters of the "set" command and the provisioning printout. Nothing here writes flash:
// values are staged in the live record and "save" commits them.
#include "SerialSetters.h"

#include "Debug.h"
#include "DemoShellFormat.h"
#include "DeviceConfig.h"
#include "SerialTokenizer.h"
#include "gstate.h"
#include "uid.h"

namespace {

constexpr size_t kValueBufSize = 96;

// The value of "set": a double-quoted string, or every character up to the next blank.
// A value longer than the buffer is refused rather than cut, so that its tail can never be
// taken for the next argument.
const char* parseValueToken(const char* text, char* out, size_t size) {
  const char* p = SCU::skipWs(text);
  if (*p == '"') return SCU::parseToken(p, out, size);
  size_t n = 0;
  while (*p != '\0' && !SCU::isBlank(*p)) {
    if (n + 1 >= size) return nullptr;
    out[n++] = *p++;
  }
  if (n == 0) return nullptr;
  out[n] = '\0';
  return p;
}

bool onlyBlanks(const char* text) { return *SCU::skipWs(text) == '\0'; }

// A fixed-point number with at most 5 decimals, scaled back to a float.
float fromScaled5(int32_t scaled) { return static_cast<float>(scaled) * 0.00001f; }

}  // namespace

namespace SCU {

const std::array<SetterEntry, 4> kSetVariableTable = {{
    {"hmacHash", setVariableHmacHash},
    {"uid", setVariableUid},
    {"phase", setPhaseShift},
    {"clampMapping", setVariableClampMapping},
}};

void handleSetVariableCommand(const char* args) {
  char name[kTokenBufSize];
  const char* p = parseToken(args, name, sizeof name);
  if (p == nullptr) {
    print("err: setVariable name");
    return;
  }
  char value[kValueBufSize];
  p = parseValueToken(p, value, sizeof value);
  if (p == nullptr) {
    print("err: setVariable value");
    return;
  }
  const SetterEntry* entry = findByName(kSetVariableTable, name, &SetterEntry::variableName);
  if (entry == nullptr) {
    print("err: unknown variable");
    return;
  }
  entry->handler(value, skipWs(p));
}

void printProvisioningInfo() {
  const FlashConfig& config = gstate().config;
  printV2("\n ************** \n    Current Provisioning:");
  char key[2 * sizeof config.hmacKey + 1] = {};
  appendHexBytes(key, 0, sizeof key, config.hmacKey.data(), static_cast<unsigned>(config.hmacKey.size()), false);
  printV2("HMAC key (hex): %s\n", key);
  debugV2Uid(config.uid, true);
  const ShellFmt::SplitText phase = ShellFmt::split(config.inductive50HzPhaseCorrection, 4);
  printV2("Phase correction: %s.%04lu rad\n", phase.integer, phase.decimal);
  for (unsigned i = 0; i < config.clampMapping.size(); ++i) {
    const ShellFmt::SplitText in = ShellFmt::split(config.clampMapping[i].input, 5);
    const ShellFmt::SplitText out = ShellFmt::split(config.clampMapping[i].output, 5);
    printV2("clampMapping[%u]: in=%s.%05lu out=%s.%05lu", i, in.integer, in.decimal, out.integer, out.decimal);
  }
}

}  // namespace SCU

// Text after the value is ignored ("set uid 12 34" stages 0x12): scripts rely on it.
void setVariableHmacHash(const char* value, const char*) {
  std::array<uint8_t, 16> key{};
  if (!SCU::parseHexBytes(value, key.data(), key.size())) {
    print("err: hmacHash needs 32 hex digits (128 bits)");
    return;
  }
  flash().hmacKey.setTemp(key);
  print("ok: hmacHash staged");
}

void setVariableUid(const char* value, const char*) {
  uint32_t uid = 0;
  if (!parseHexU24(value, uid)) {
    print("err: uid needs 1..6 hex digits (24-bit value)");
    return;
  }
  DeviceConfig::configRef().uid.storeU24(uid);
  print("ok: uid staged");
}

void setPhaseShift(const char* value, const char*) {
  const char* end = nullptr;
  int32_t scaled = 0;
  if (!SCU::parseFixedScaled5(value, &end, &scaled) || *end != '\0') {
    print("err: phase needs fixed-point rad (max 5 decimal)");
    return;
  }
  DeviceConfig::configRef().inductive50HzPhaseCorrection = fromScaled5(scaled);
  print("ok: phase staged");
}

void setVariableClampMapping(const char* value, const char* rest) {
  static constexpr const char* kUsage = "err: clampMapping needs <index 0..9> <in> <out> (max 5 decimal)";
  // As strtol would read it (a "-0" is index 0).
  const SCU::DecimalText d = SCU::scanDecimal(value);
  const long index = static_cast<long>(d.magnitude);
  if (d.end == value || d.overflow || (d.negative && d.magnitude != 0) || index > 9 || !onlyBlanks(d.end)) {
    print(kUsage);
    return;
  }
  int32_t in = 0;
  int32_t out = 0;
  const char* p = rest;
  if (*p == '\0' || !SCU::parseFixedScaled5(p, &p, &in) || !SCU::isBlank(*p) ||
      !SCU::parseFixedScaled5(SCU::skipWs(p), &p, &out) || !onlyBlanks(p)) {
    print(kUsage);
    return;
  }
  ClampMapping mapping = flash().clampMapping.get();
  mapping[static_cast<size_t>(index)] = TablePoint{fromScaled5(in), fromScaled5(out)};
  flash().clampMapping.setTemp(mapping);
  const ShellFmt::SplitText inText = ShellFmt::split(mapping[static_cast<size_t>(index)].input, 5);
  const ShellFmt::SplitText outText = ShellFmt::split(mapping[static_cast<size_t>(index)].output, 5);
  printV2("ok: clampMapping[%u] staged = (%s.%05lu, %s.%05lu)\n", static_cast<unsigned>(index), inText.integer,
          inText.decimal, outText.integer, outText.decimal);
}

void cmdSet(const char* args) {
  char name[SCU::kTokenBufSize];
  const char* rest = SCU::parseToken(args, name, sizeof name);
  if (rest == nullptr) {
    print("err: set needs <var> <value> (phase|uid|hmacHash|clampMapping)");
    return;
  }
  if (onlyBlanks(rest)) {
    printV2("err: set %s needs a value", name);
    return;
  }
  SCU::handleSetVariableCommand(args);
}
