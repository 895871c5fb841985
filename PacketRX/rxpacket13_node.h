// Packet 13 applied on the node: for this chip, to the live configuration, committed to flash.
#pragma once

#include "rxpacket13.h"

namespace LoRaRXPacket13 {

bool verifyLocalStUid(const Payload& p);
bool confirmWireHmacKeyMatchesFlash(const HmacKey& wireKey);
bool applyAssignDecoded(const Payload& p);
bool applyConfirmDecoded(const Payload& p);

}  // namespace LoRaRXPacket13
