// Packet 9 samples as rows of the node's ADC buffer.
#pragma once

#include "adc.h"
#include "packet9.h"

namespace LoRaPacket9 {
// bFieldH the clamp value, bFieldL 0, both E-field values times 4.
inline ADCStruct decodeAdcSample(uint32_t sample) { return decodeAdcSampleAs<ADCStruct>(sample); }
}  // namespace LoRaPacket9
