// The "set" command: stages one configuration value in the live record; and the printout of
// what is provisioned.
#pragma once

#include <array>

#include "SerialCommandUtil.h"

namespace SCU {

extern const std::array<SetterEntry, 4> kSetVariableTable;

// The text after "set": variable name, value, and what follows the value.
void handleSetVariableCommand(const char* args);
// Key, identity, phase correction and the 11 clamp-mapping points of the live record.
void printProvisioningInfo();

}  // namespace SCU

void setVariableHmacHash(const char* value, const char* rest);
void setVariableUid(const char* value, const char* rest);
void setPhaseShift(const char* value, const char* rest);
void setVariableClampMapping(const char* value, const char* rest);

void cmdSet(const char* args);
