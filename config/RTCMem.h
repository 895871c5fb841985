// Six small fields that must survive standby, packed in RTC backup registers 0 to 2. Every access
// is a read-modify-write of the whole register, so fields sharing a register never disturb each other.
#pragma once

#include <cstdint>
#include <type_traits>

#include "packet_counter.h"

struct RTCMemRegs {
  struct Dr0 {
    static constexpr uint32_t rtcRegister = 0;
  };
  struct Dr1 {
    static constexpr uint32_t rtcRegister = 1;
  };
  struct Dr2 {
    static constexpr uint32_t rtcRegister = 2;
  };
};

// Where each field sits: its register, bit position and width, and whether it counts (add/inc).
namespace RTCMemFields {
template <typename V, unsigned Shift, unsigned Bits, bool Counting>
struct Field {
  using Value = V;
  static constexpr unsigned shift = Shift;
  static constexpr uint32_t mask = Bits == 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1u);
  static constexpr bool counting = Counting;
};
using LoraPacketCounter = Field<LoRaPacketCounterU24, 0, 24, true>;
using StableReadCounter = Field<uint8_t, 24, 8, true>;
using TimeSinceLastLoraTX = Field<uint16_t, 0, 16, false>;
using FirstStableRawCoarseRMSCurrent = Field<uint16_t, 16, 16, false>;
using TimeSinceLastLoraRX = Field<uint16_t, 0, 16, false>;
using TxPowerDbm = Field<int8_t, 16, 8, false>;
}  // namespace RTCMemFields

class RTCMem {
 public:
  static uint32_t readReg(uint32_t index);
  static void writeReg(uint32_t index, uint32_t value);

  template <typename Reg, typename F>
  struct RegFieldCounter {
    using Value = typename F::Value;

    Value get() const { return fromRaw((readReg(Reg::rtcRegister) >> F::shift) & F::mask); }
    // Replaces the field's bits only; returns the value written.
    Value set(Value value) const {
      store(readReg(Reg::rtcRegister), toRaw(value));
      return value;
    }
    // Adds modulo the field's width (the carry out of its top bit is dropped); returns the new value.
    Value add(Value value) const requires F::counting {
      const uint32_t reg = readReg(Reg::rtcRegister);
      const uint32_t sum = (((reg >> F::shift) & F::mask) + toRaw(value)) & F::mask;
      store(reg, sum);
      return fromRaw(sum);
    }
    Value inc() const requires F::counting { return add(fromRaw(1)); }

   private:
    static void store(uint32_t reg, uint32_t raw) {
      writeReg(Reg::rtcRegister, (reg & ~(F::mask << F::shift)) | ((raw & F::mask) << F::shift));
    }
    static uint32_t toRaw(const LoRaPacketCounterU24& v) { return v.toU32(); }
    static uint32_t toRaw(uint32_t v) { return v; }
    static Value fromRaw(uint32_t raw) {
      if constexpr (std::is_same_v<Value, LoRaPacketCounterU24>) {
        return LoRaPacketCounterU24::fromU32(raw);
      } else {
        return static_cast<Value>(raw);
      }
    }
  };

  RegFieldCounter<RTCMemRegs::Dr0, RTCMemFields::LoraPacketCounter> loraPacketCounter;
  RegFieldCounter<RTCMemRegs::Dr0, RTCMemFields::StableReadCounter> stableReadCounter;
  RegFieldCounter<RTCMemRegs::Dr1, RTCMemFields::TimeSinceLastLoraTX> timeSinceLastLoraTX;
  RegFieldCounter<RTCMemRegs::Dr1, RTCMemFields::FirstStableRawCoarseRMSCurrent> firstStableRawCoarseRMSCurrent;
  RegFieldCounter<RTCMemRegs::Dr2, RTCMemFields::TimeSinceLastLoraRX> timeSinceLastLoraRX;
  RegFieldCounter<RTCMemRegs::Dr2, RTCMemFields::TxPowerDbm> txPowerDbm;
};

RTCMem& rtcMem();

// The backup-register status table on the log.
void printRTC();
