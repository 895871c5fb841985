// Self-test cases: captures through the power computation and the quick read, the conversions of
// the measurement chain over sweeps of edge values, and frames of every packet with their tags.
#include "selftest.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "MCUState.h"
#include "clamp_phase_comp.h"
#include "float_exact.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"
#include "packet7.h"
#include "packet7_node.h"
#include "packet8.h"
#include "packet9.h"
#include "rxpacket13.h"
#include "rxpacket14.h"

namespace {

// One output line, built in place (no heap, no formatted printing).
class Line {
 public:
  explicit Line(const char* tag) { text(tag); }
  Line& text(const char* s) {
    while (*s != '\0') put(*s++);
    return *this;
  }
  Line& hex(uint32_t v, int digits = 8) {
    for (int i = digits - 1; i >= 0; --i) put("0123456789abcdef"[(v >> (4 * i)) & 0xFu]);
    return *this;
  }
  Line& u(const char* name, uint32_t v) { return key(name).hex(v); }
  Line& f(const char* name, float v) { return key(name).hex(std::bit_cast<uint32_t>(v)); }
  Line& b(const char* name, bool v) { return key(name).text(v ? "1" : "0"); }
  Line& s(const char* name, const char* v) { return key(name).text(v); }
  Line& bytes(const char* name, const uint8_t* p, size_t n) {
    key(name);
    for (size_t i = 0; i < n; ++i) hex(p[i], 2);
    return *this;
  }
  Line& frame(const LoRaFrameBuffer& fb) { return bytes("frame", fb.data(), fb.used_bytes()); }
  ~Line() {
    put('\n');
    selfTestWrite(buf_, n_);
  }

 private:
  Line& key(const char* name) {
    put(' ');
    text(name);
    put('=');
    return *this;
  }
  void put(char c) {
    if (n_ < sizeof buf_) buf_[n_++] = c;
  }
  char buf_[800];
  size_t n_ = 0;
};

float fromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

UID selfTestUid() {
  UID u;
  u.storeU24(0xABCDEF);
  return u;
}

LoRaPacketCounterU24 counter(uint32_t v) { return LoRaPacketCounterU24::fromU32(v); }

void measureLine(const char* tag, const Measure& m) {
  Line(tag)
      .u("average", static_cast<uint32_t>(m.average))
      .f("rmsRaw", m.rmsRaw)
      .f("rmsV", m.rmsV)
      .b("phaseOk", m.phaseOk)
      .f("phaseRad", m.phaseRad)
      .f("magnitude", m.magnitude)
      .f("phase", m.getPhaseRad());
}

void fullReading(const SelfTestCapture& c) {
  const bool ok = computePowerFast();
  const GState& g = gstate();
  Line("power")
      .s("case", c.name)
      .b("ok", ok)
      .f("slope", g.adc.eFieldSlopeCorrection)
      .f("currOriginal", g.currOriginal)
      .f("currCorrected", g.currCorrected)
      .f("power", g.power.estimatedPower)
      .f("pf", g.power.powerFactor);
  measureLine("  bField", g.bField);
  measureLine("  eFieldInductive", g.eFieldInductive);
  const uint16_t burden = g.chanBField.burdenResistor;
  Line("  phases")
      .f("clampShift", clampPhaseShiftRad(g.currOriginal, burden))
      .f("correctedB", clampCorrectedBPhaseRad(g.bField.phaseRad, g.currOriginal, burden))
      .f("shift", powerShiftRad(clampCorrectedBPhaseRad(g.bField.phaseRad, g.currOriginal, burden),
                                g.eFieldInductive.getPhaseRad()));
  const SplitFloat w = splitFloat6(g.power.estimatedPower, 3);
  const SplitFloat a = splitFloat6(g.currCorrected, 4);
  Line("  printed")
      .u("wInt", static_cast<uint16_t>(w.integer))
      .u("wDec", static_cast<uint32_t>(w.decimal))
      .u("aInt", static_cast<uint16_t>(a.integer))
      .u("aDec", static_cast<uint32_t>(a.decimal));
  Line("  packet7")
      .frame(LoRaPacket7::encode(LoRaPacket7::makePayload(counter(0x000102), selfTestUid(), g), selfTestKey()));
  Line("  packet3")
      .frame(LoRaPacket3::encode(LoRaPacket3::makePayload(counter(0x000103), selfTestUid(), 24.5f, g.adc.VRef,
                                                          g.power.powerFactor, g.currCorrected, false),
                                 selfTestKey()));
}

void quickReading(const SelfTestCapture& c) {
  Measure& b = setGstate().bField;
  b.reset();
  b.computeRMS();
  const float current = volt2current(b.rmsV, ClampParam::hpRes);
  Line("quick")
      .s("case", c.name)
      .u("average", static_cast<uint32_t>(b.average))
      .f("rmsRaw", b.rmsRaw)
      .f("rmsV", b.rmsV)
      .f("current", current)
      .u("mA", tou16(current));
}

void captureFrames(const SelfTestCapture& c) {
  const auto sink = [](const auto&, const LoRaFrameBuffer& frame) { Line("  capture").frame(frame); };
  (void)LoRaPacket4::encodeCaptureSeries(selfTestUid(), counter(0x000104), c.row, c.rows, selfTestKey(), sink);
  (void)LoRaPacket9::encodeCaptureSeries(selfTestUid(), counter(0x000105), c.row, c.rows, selfTestKey(), sink);
}

void captures() {
  for (unsigned i = 0; i < kSelfTestCaptureCount; ++i) {
    const SelfTestCapture& c = kSelfTestCaptures[i];
    loadCapture(c);
    if (c.quick)
      quickReading(c);
    else
      fullReading(c);
    if (i == 0 || i == 4) captureFrames(c);
  }
}

// Values where conversions and roundings change behaviour: zeros, halves, powers of two and their
// neighbours, the 16-, 24-, 32- and 63-bit limits, infinities and NaNs.
constexpr uint32_t kEdgeFloats[] = {
    0x00000000u, 0x80000000u, 0x00000001u, 0x3effffffu, 0x3f000000u, 0x3f000001u, 0x3f7fffffu, 0x3f800000u,
    0xbf800000u, 0x3fc00000u, 0x40200000u, 0x42c80000u, 0x447a0000u, 0x46fffe00u, 0x47000000u, 0x477fff00u,
    0x47800000u, 0xc7000000u, 0xc7000100u, 0x4b7fffffu, 0x4b800000u, 0x4b800001u, 0x4effffffu, 0x4f000000u,
    0xcf000000u, 0xcf000001u, 0x4f7fffffu, 0x4f800000u, 0x5effffffu, 0x5f000000u, 0xdf000000u, 0xdf000001u,
    0x7f7fffffu, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u, 0x40490fdbu, 0xc0490fdbu, 0x3dcccccdu,
};

void conversions() {
  for (uint32_t bits : kEdgeFloats) {
    const float v = fromBits(bits);
    const SplitFloat s3 = splitFloat6(v, 3);
    const SplitFloat s6 = splitFloat6(v, 6);
    Line("convert")
        .u("in", bits)
        .u("split3", static_cast<uint16_t>(s3.integer))
        .u("dec3", static_cast<uint32_t>(s3.decimal))
        .u("split6", static_cast<uint16_t>(s6.integer))
        .u("dec6", static_cast<uint32_t>(s6.decimal))
        .u("fixed4", static_cast<uint32_t>(LoRaPacket7::encodeFixed(v, 4)))
        .u("mA", tou16(v))
        .u("temp", encodeTemperatureScaled(v))
        .u("vbat", encodeVbatScaled(v))
        .u("pf", static_cast<uint8_t>(encodePfScaled(v)));
  }
  // The drift fit on ramps: exact integer sums, one conversion each, one division.
  static ADCStruct rows[ADCParam::NSAMPLES];
  constexpr int32_t kSlopes[] = {0, 3, -7, 1000, -4095};
  for (int32_t slope : kSlopes) {
    for (uint16_t i = 0; i < ADCParam::NSAMPLES; ++i)
      rows[i] = ADCStruct{0, 0, 0, static_cast<int16_t>(100 + slope * i / 16 + ((i * 37) % 11))};
    Line("slope")
        .u("k", static_cast<uint32_t>(slope))
        .f("n57", linearFitSlopeCountsPerSample(rows, 57))
        .f("n231", linearFitSlopeCountsPerSample(rows, ADCParam::NSAMPLES));
  }
}

// The integer-arithmetic float operations against the run-time library's (the chip's soft float
// here, the host's hardware there) over a pseudo-random sweep: every count must be 0.
void sweeps() {
  uint32_t x = 2463534242u;
  const auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  const auto same = [](float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) || (a != a && b != b);
  };
  uint32_t mul = 0, add = 0, fromInt = 0, fromInt64 = 0, trunc64 = 0;
  constexpr uint32_t kRounds = 200000;
  for (uint32_t i = 0; i < kRounds; ++i) {
    const uint32_t a = next();
    uint32_t b = next();
    if (i & 1) b = (b & 0x81FFFFFFu) | (a & 0x7E000000u);  // close exponents: carries, cancellation
    const float fa = fromBits(a), fb = fromBits(b);
    mul += same(fa * fb, FloatExact::mul(fa, fb)) ? 0 : 1;
    add += same(fa + fb, FloatExact::add(fa, fb)) ? 0 : 1;
    const auto w = static_cast<int32_t>(next());
    fromInt += same(static_cast<float>(w), FloatExact::fromInt(w)) ? 0 : 1;
    const auto v = static_cast<int64_t>((static_cast<uint64_t>(next()) << 32 | next()) >> (next() % 64));
    fromInt64 += same(static_cast<float>(v), FloatExact::fromInt64(v)) ? 0 : 1;
    fromInt64 += same(static_cast<float>(-v), FloatExact::fromInt64(-v)) ? 0 : 1;
    const float f = fromBits(next());
    if (std::isfinite(f) && std::fabs(f) < 9.2233715e18f)
      trunc64 += static_cast<int64_t>(f) == FloatExact::truncToInt64(f) ? 0 : 1;
  }
  // Integer division (the chip's signed division is our own): quotients and remainders summed.
  uint32_t quotients = 0, remainders = 0;
  for (uint32_t i = 0; i < kRounds; ++i) {
    const auto a = static_cast<int32_t>(next()) >> (next() % 31);
    const auto b = static_cast<int32_t>(next()) >> (next() % 31);
    if (b == 0 || (a == INT32_MIN && b == -1)) continue;
    quotients = quotients * 31u + static_cast<uint32_t>(a / b);
    remainders = remainders * 31u + static_cast<uint32_t>(a % b);
  }
  Line("division").u("quotients", quotients).u("remainders", remainders);
  // Unsigned division and remainder (the chip's routine is our own too), dividends and divisors of
  // every size.
  uint32_t uQuotients = 0, uRemainders = 0;
  for (uint32_t i = 0; i < kRounds; ++i) {
    const uint32_t a = next() >> (next() % 32);
    const uint32_t b = next() >> (next() % 32);
    if (b == 0) continue;
    uQuotients = uQuotients * 31u + a / b;
    uRemainders = uRemainders * 31u + a % b;
  }
  Line("unsigned division").u("quotients", uQuotients).u("remainders", uRemainders);
  Line("sweep")
      .u("rounds", kRounds)
      .u("mul", mul)
      .u("add", add)
      .u("fromInt", fromInt)
      .u("fromInt64", fromInt64)
      .u("truncToInt64", trunc64);
}

// Formatted text (the chip's snprintf is the firmware's own formatter): the conversions the
// firmware uses, over edge values; long holds 32 bits on the chip, so the values stay there.
void formatting() {
  const char* const intFormats[] = {"%d",  "%u",   "%02X", "%04X",  "%5d", "%4d",   "%12d", "%04u", "%03d",
                                    "%3u", "%06d", "%03u", "%+04d", "%x",  "%-6d|", "%.3d", "%.0d", "[%-5u]"};
  const char* const longFormats[] = {"%ld", "%04ld", "%12ld", "%03ld"};
  const char* const ulongFormats[] = {"%lu", "%04lu", "%06lX", "%08lX", "%05lu", "%10lu", "%02lu", "%02lX"};
  const int32_t values[] = {0, 1, -1, 42, -42, 4095, -2048, 65536, 2147483647, -2147483647 - 1, 0xABCDEF};
  // One line per value: the conversions one after the other (a text of at most 320 characters).
  char text[320];
  const auto append = [&text](size_t& n, const char* f, auto value) {
    const int r = std::snprintf(text + n, sizeof text - n, f, value);
    if (r > 0) n = n + static_cast<size_t>(r) < sizeof text ? n + static_cast<size_t>(r) : sizeof text - 1;
  };
  for (int32_t v : values) {
    size_t n = 0;
    for (const char* f : intFormats) append(n, f, v);
    Line("format").s("int", text);
    n = 0;
    for (const char* f : longFormats) append(n, f, long{v});
    for (const char* f : ulongFormats) append(n, f, static_cast<unsigned long>(static_cast<uint32_t>(v)));
    Line("format").s("long", text);
  }
  std::snprintf(text, sizeof text, "%s|%10s|%-24s|%*s|%-*s|%0*lu|%c", "LoRa", "abc", "left", 6, "star", -5, "neg", 7,
                123ul, 'k');
  Line("format").s("text", text);
  volatile size_t cut = 8;  // a short buffer, not known to the compiler
  const int whole = std::snprintf(text, cut, "%s=%05d!", "value", 42);
  Line("format").s("cut", text).u("whole", static_cast<uint32_t>(whole));
}

void tags() {
  const HMAC::Key key{0x03020100u, 0x07060504u};
  uint8_t msg[64];
  for (uint8_t i = 0; i < sizeof msg; ++i) msg[i] = i;
  for (size_t n : {0u, 1u, 3u, 4u, 7u, 8u, 15u, 16u, 63u, 64u})
    Line("tag").u("n", static_cast<uint32_t>(n)).u("tag", HMAC::compute(key, msg, n));
}

void uplinkFrames() {
  const HMAC::Key key = selfTestKey();
  const UID uid = selfTestUid();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct P3 {
    float t, v, pf, a;
    bool rx;
  };
  constexpr P3 kP3[] = {
      {24.5f, 3.3f, 0.8f, 10.0f, false}, {-30.0f, 2.4f, -1.2f, 70.0f, true}, {60.1f, 3.9f, 0.005f, 0.0005f, false}};
  for (const P3& p : kP3)
    Line("packet3").frame(
        LoRaPacket3::encode(LoRaPacket3::makePayload(counter(0xFFFFFF), uid, p.t, p.v, p.pf, p.a, p.rx), key));
  Line("packet3").frame(LoRaPacket3::encode(LoRaPacket3::makePayload(counter(7), uid, nan, nan, nan, nan, false), key));
  Line("packet3").frame(LoRaPacket3::encode(LoRaPacket3::makePayload(counter(8), uid, inf, -inf, inf, inf, true), key));

  const std::array<uint32_t, 3> stUid{0x00350041u, 0x3233510Du, 0x30363738u};
  ClampMapping mapping = kDefaultClampMapping;
  mapping[3].output = -1.5f;
  Line("packet8").frame(
      LoRaPacket8::encode(LoRaPacket8::makePayloadWithBuild(counter(0x123456), uid, stUid, -0.0303f, 0.125f, mapping,
                                                            "1a2b3c4d", "2024-05-06 07:08:09"),
                          key));
  Line("packet8").frame(LoRaPacket8::encode(
      LoRaPacket8::makePayloadWithBuild(counter(1), uid, stUid, nan, -inf, kDefaultClampMapping, "0123456789", ""),
      key));

  for (uint16_t tag : {LoRaPacket10::kPhaseTagNone, LoRaPacket10::kPhaseTagAssign, LoRaPacket10::kPhaseTagConfirm})
    Line("packet10")
        .frame(LoRaPacket10::encode(
            LoRaPacket10::makePayload(counter(0x0A0B0C), uid, LoRaPacket10::packStUidBytes(stUid), tag), key));
  for (uint8_t r = 0; r <= static_cast<uint8_t>(LoRaPacket17::Reason::CommitFailed); ++r)
    Line("packet17")
        .frame(LoRaPacket17::encode(
            LoRaPacket17::makePayload(counter(0x000200u + r), uid, r == 2, static_cast<LoRaPacket17::Reason>(r)), key));
}

void downlinkFrames() {
  const HMAC::Key key = selfTestKey();
  const UID uid = selfTestUid();
  LoRaRXPacket13::HmacKey newKey{};
  for (uint8_t i = 0; i < newKey.size(); ++i) newKey[i] = static_cast<uint8_t>(0xA0 + 3 * i);
  const LoRaPacket10::StUid stUid = LoRaPacket10::packStUidBytes({0x00350041u, 0x3233510Du, 0x30363738u});
  for (uint16_t phase : {LoRaPacket10::kPhaseTagAssign, LoRaPacket10::kPhaseTagConfirm}) {
    const LoRaFrameBuffer wire =
        LoRaRXPacket13::encode(LoRaRXPacket13::makePayload(counter(0x000300), uid, stUid, phase, newKey), key);
    LoRaRXPacket13::Payload p{};
    const auto fail = LoRaRXPacket13::decodeWithKey(p, wire.data(), wire.used_bytes(), key);
    uint8_t corrupt[LoRaRXPacket13::WIRE_MAX_BYTES];
    std::memcpy(corrupt, wire.data(), sizeof corrupt);
    corrupt[40] ^= 0x01;
    LoRaRXPacket13::Payload q{};
    Line("packet13")
        .frame(wire)
        .u("fail", static_cast<uint8_t>(fail))
        .b("local", LoRaRXPacket13::verifyLocalStUid(p, stUid))
        .u("corrupted", static_cast<uint8_t>(LoRaRXPacket13::decodeWithKey(q, corrupt, sizeof corrupt, key)));
  }
  struct Op14 {
    LoRaRXPacket14::Op op;
    uint32_t arg0;
    uint32_t arg7;
  };
  constexpr Op14 kOps[] = {
      {LoRaRXPacket14::Op::DBG1_TOGGLE, 0, 0},
      {LoRaRXPacket14::Op::SET_PhaseShift, 0, 0xbcf5c28fu},
      {LoRaRXPacket14::Op::SET_txDebugPacketRate, 12, 0},
      {LoRaRXPacket14::Op::SET_SleepForceRX, 0x42f00000u, 1},
      {LoRaRXPacket14::Op::SET_TxPowerDbm, 0xfffffff6u, 0},
      {static_cast<LoRaRXPacket14::Op>(9), 1, 2},
  };
  for (const Op14& o : kOps) {
    LoRaRXPacket14::Args args{};
    args[0] = o.arg0;
    args[7] = o.arg7;
    const LoRaFrameBuffer wire =
        LoRaRXPacket14::encode(LoRaRXPacket14::makePayload(counter(0x000400), uid, o.op, args), key);
    LoRaRXPacket14::Payload p{};
    const bool ok = LoRaRXPacket14::decodeWithKey(p, wire.data(), wire.used_bytes(), key);
    uint8_t corrupt[LoRaRXPacket14::WIRE_MAX_BYTES];
    std::memcpy(corrupt, wire.data(), sizeof corrupt);
    corrupt[LoRaRXPacket14::WIRE_MAX_BYTES - 1] ^= 0x80;
    LoRaRXPacket14::Payload q{};
    Line("packet14")
        .frame(wire)
        .b("decoded", ok)
        .b("copies", LoRaRXPacket14::verifyFecCopies(p))
        .b("supported", LoRaRXPacket14::isSupportedOpcode(p.opcode))
        .b("corruptedTag", LoRaRXPacket14::decodeWithKey(q, corrupt, sizeof corrupt, key));
  }
}

}  // namespace

HMAC::Key selfTestKey() {
  uint8_t bytes[HMAC::KEY_BYTES];
  for (uint8_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(0x10 + i);
  return HMAC::keyFromBytes(bytes);
}

void loadCapture(const SelfTestCapture& c) {
  GState::make();
  GState& g = setGstate();
  g.config.inductive50HzPhaseCorrection = fromBits(c.phaseCorrectionBits);
  g.adc.VRef = fromBits(c.vRefBits);
  g.chanBField.burdenResistor = c.burdenResistor;
  for (uint16_t i = 0; i < c.rows; ++i) g.adc.buf[i] = c.row[i];
  g.adc.buf.size2use = c.rows;
}

void runSelfTest() {
  captures();
  conversions();
  sweeps();
  formatting();
  tags();
  uplinkFrames();
  downlinkFrames();
  Line("end");
}
