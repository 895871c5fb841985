// What a received frame means for the node: addressing, the downlink decoders, the answer to a
// remote setting, the flags of the provisioning handshake, and receive windows that stay open a
// little longer after each handled frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "llcc68handler.h"

enum class LoraProvisionPhaseAck : uint8_t { None = 0, Assign = 1, Confirm = 2 };

// True when the frame was for this node and consumed (applied, acknowledged or refused with an answer).
bool handleLoraRawPayload(const uint8_t* data, size_t len);
// One window of listenTimeMs, then one more of 500 ms after each handled frame, at most 8 more.
LoraListenResult loraListen(uint16_t listenTimeMs);

void setLoraProvisioningActive(bool active);
bool isLoraProvisioningActive();
void clearLoraProvisionAck();
bool loraProvisionAssignReceived();
bool loraProvisionConfirmReceived();
