// The order in which the node talks on the radio: one production transmission cycle, the
// provisioning handshake, and the senders of every uplink (the shell also calls them one by one).
#pragma once

#include "packet17.h"

// Counter advanced, debug group when due, packet 3 (as packet 5 with a receive window when one is
// due), radio supply on for the cycle and off after it.
void loraBlock();
// Packet 10 and a 10 s window until an assign (skipped for a valid configuration) and then a
// confirm have been applied; returns true when done. Leaves the radio supply on.
bool loraProvision();
// The same handshake with at most maxAttempts attempts in all (0: no limit); false when they ran out
// before the confirm. The unattended build must not listen for a receiving node forever, and
// pauses before each attempt for pauseMs(attempts made so far) ms with the radio asleep (none
// without it), so that nodes that ask at the same moment do not keep asking together.
bool loraProvisionWithin(uint16_t maxAttempts, uint32_t (*pauseMs)(uint16_t attemptsMade) = nullptr);

void sendPacket3(bool openRX);
void sendPacket4();
void sendPacket7();
void sendPacket8();
void sendPacket9();
void sendPacket10();
// The answer to a remote setting; the only frame with its own counter value (one above the cycle's).
void sendPacket17(bool ok, LoRaPacket17::Reason reason);
// The same under the identity and key the setting came under (a failed commit may have reloaded
// the live record since).
void sendPacket17(bool ok, LoRaPacket17::Reason reason, const UID& uid, const HMAC::Key& key);
