// The board record: peripheral handles, pin map of the board revision, radio settings,
// state of charge, reset and wake-up causes, and the compile-time option toggles.
#pragma once

#include <cstdint>

#include "llcc68_driver.h"
#include "packet_counter.h"
#include "stm32g0xx_hal.h"

enum class DPinDir : uint8_t { Output = 0, Input = 1 };
enum class DPinPull : uint8_t { None = 0, Down = 1, Up = 2 };

struct PinH {
  GPIO_TypeDef* bus = nullptr;  // null: every operation on the pin is a no-op
  uint16_t pinN = 0;
};

struct DPinCfg {
  DPinDir dir = DPinDir::Output;
  DPinPull pull = DPinPull::Down;
  GPIO_PinState defaultLevel = GPIO_PIN_RESET;
};

struct DPinH {
  PinH h;
  DPinCfg cfg;

  void init() const;
  void setOn() const;
  void setOff() const;
  bool read() const;
};

// The radio's supply switch; switching it on brings the radio up.
struct LoraSupplyPin {
  DPinH pin_;
  // Returns false when the radio did not initialise.
  bool setOn() const;
  void setOff() const;
};

// The analogue front end: its supply and two gain-select lines.
struct Stage1 {
  struct PGA {
    DPinH s0;
    DPinH s1;
  } pga;
  DPinH psu;
  void setOn() const;
  void setOff() const;
};

namespace detail {

struct PinLayout {
  struct Adc {
    uint32_t bFieldHP, bFieldLP, bFieldLow, eField, eRef, dbg1, eCap, scanCh4Hp, scanCh4Lp;
  } adc;
  struct Debug {
    DPinH _1, _2, _3, _4;
  } dbg;
  struct Lora {
    DPinH cs, reset, busy, ant1, ant2, dio1, dio2, dio3;
    void initGpioInputs() const;
  } lora;
  struct Switch {
    Stage1 stage1;
    DPinH optoHP, optoLP;
    LoraSupplyPin lora;
  } switch_;
  struct Button {
    DPinH provisioning;
  } button;
};

struct PinR10 : PinLayout {
  PinR10();
};
// Board revision 6.1: same layout; its pin assignments are not used by this build.
struct PinR61 : PinLayout {
  PinR61();
};

}  // namespace detail

struct ClampParam {
  static constexpr uint16_t hpRes = 20;
  static constexpr uint16_t lpRes = 270;
  static constexpr float clampReductionRate = 1000.0f;
};

struct MCUState {
  enum class HwRevision : uint8_t { R6_1 = 0, R10 = 1 };
  static constexpr HwRevision boardRevision = HwRevision::R10;
  static constexpr uint16_t hwRevision = 10;
  using Pin = detail::PinR10;

  struct PacketOpt {
    bool send;
    bool debug;
    bool notify;
  };
  struct Options {
    static constexpr bool enableHP = true;
    static constexpr bool enableLP = false;
    struct Lora {
      static constexpr bool enable = true;
      static constexpr PacketOpt packet3{true, false, true};
      static constexpr bool txDebugPacket = true;
      static constexpr bool txPacket4 = true;
      static constexpr bool debugPacket4 = false;
      static constexpr bool notifyPacket4 = true;
      static constexpr PacketOpt packet7{true, false, true};
      static constexpr bool notifyPacket7 = false;
      static constexpr bool txPacket8DoubleSend = false;
      static constexpr bool packet8Debug = false;
      static constexpr bool txPacket9 = false;
      static constexpr bool txPacket15 = false;
      static constexpr bool packet15Debug = false;
      static constexpr bool enableDynamicPower = false;
      static constexpr bool forceListen = false;
    };
  };

  // Radio modulation and frequency of the node, and the counter of the frame being built.
  struct Lora : llcc68_mod_params_lora_s {
    static constexpr llcc68_mod_params_lora_t modParams{LLCC68_LORA_SF7, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0};
    static constexpr int16_t channelBusyRssiDbm = -95;
    static constexpr int16_t channelBusySampleTimeMs = 5;

    Lora() : llcc68_mod_params_lora_s(modParams) {}

    uint32_t freq = 868000000;
    uint8_t rTime = LLCC68_RAMP_40_US;
    LoRaPacketCounterU24 currentPackedNum{};
  };

  UART_HandleTypeDef* hlpuart1 = nullptr;
  ADC_HandleTypeDef* hadc1 = nullptr;
  RTC_HandleTypeDef* hrtc = nullptr;
  ClampParam clampParam;
  float SoC = 0.0f;
  volatile bool adcReady = false;
  Lora lora;
  Pin pin;
  uint32_t resetCause = 0;
  uint32_t bootCause = 0;

  static void make();
};

// The radio side of the supply switch: bring the radio up after power-on (false if it did
// not initialise) and forget its state after power-off.
bool loraSupplyBringUpRadio();
void loraSupplyMarkRadioDown();

const MCUState& mcustate();
MCUState& setMCUGstate();
