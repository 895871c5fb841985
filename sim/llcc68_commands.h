// The SX126x command set as the LLCC68 model answers it: opcodes by their datasheet names.
#pragma once

#include <cstdint>

namespace sim::Op {

// Operating modes.
constexpr uint8_t SetSleep = 0x84;
constexpr uint8_t SetStandby = 0x80;
constexpr uint8_t SetFs = 0xC1;
constexpr uint8_t SetTx = 0x83;
constexpr uint8_t SetRx = 0x82;
constexpr uint8_t StopTimerOnPreamble = 0x9F;
constexpr uint8_t Calibrate = 0x89;
constexpr uint8_t CalibrateImage = 0x98;
constexpr uint8_t SetRegulatorMode = 0x96;
constexpr uint8_t SetPaConfig = 0x95;
constexpr uint8_t SetRxTxFallbackMode = 0x93;
// Registers and buffer.
constexpr uint8_t WriteRegister = 0x0D;
constexpr uint8_t ReadRegister = 0x1D;
constexpr uint8_t WriteBuffer = 0x0E;
constexpr uint8_t ReadBuffer = 0x1E;
// DIO and IRQ.
constexpr uint8_t SetDioIrqParams = 0x08;
constexpr uint8_t GetIrqStatus = 0x12;
constexpr uint8_t ClearIrqStatus = 0x02;
constexpr uint8_t SetDio2AsRfSwitchCtrl = 0x9D;
// RF, modulation and packet.
constexpr uint8_t SetRfFrequency = 0x86;
constexpr uint8_t SetPacketType = 0x8A;
constexpr uint8_t GetPacketType = 0x11;
constexpr uint8_t SetTxParams = 0x8E;
constexpr uint8_t SetModulationParams = 0x8B;
constexpr uint8_t SetPacketParams = 0x8C;
constexpr uint8_t SetBufferBaseAddress = 0x8F;
constexpr uint8_t SetLoRaSymbNumTimeout = 0xA0;
// Status.
constexpr uint8_t GetStatus = 0xC0;
constexpr uint8_t GetRxBufferStatus = 0x13;
constexpr uint8_t GetPacketStatus = 0x14;
constexpr uint8_t GetRssiInst = 0x15;
constexpr uint8_t GetDeviceErrors = 0x17;
constexpr uint8_t ClearDeviceErrors = 0x07;

}  // namespace sim::Op
