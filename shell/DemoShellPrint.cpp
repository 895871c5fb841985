// Targets of "print" that show measurements and the provisioned identity.
#include "DemoShell.h"
#include "SerialSetters.h"

void printProv(const char*) { SCU::printProvisioningInfo(); }
