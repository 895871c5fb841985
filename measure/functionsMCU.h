// Supply, reference and temperature measurements, battery state of charge, chip identity.
#pragma once

#include <array>
#include <cstdint>

#include "functions.h"
#include "tou16.h"

// Battery voltage (temperature-corrected, V) to state of charge (0..1).
extern const std::array<TablePoint, 12> VBAT_SOC_TABLE;

// Measures the internal reference against its factory word and stores the supply voltage in
// GState::adc.VRef.
void calibrateVRef();
// Chip temperature in degrees C (needs VRef).
float getTemperature();
float convertToTemperature(uint16_t adcValue);
float getStateOfCharge(float vbatV, float tempCelsius);
// The start's readings: supply reference, temperature (into GState) and state of charge (into
// MCUState), each announced on the console as the shell start has it.
void readSupplyAtStart();
// The 96-bit unique ID, word 0 first.
std::array<uint32_t, 3> readChipID();
