// Radio side of the supply switch: after power-on the handler configures the chip; after
// power-off it must configure it again on next use.
#include "MCUState.h"
#include "llcc68handler.h"

bool loraSupplyBringUpRadio() { return llcc68HandlerInstance().ensureInit(); }
void loraSupplyMarkRadioDown() { llcc68HandlerInstance().markPoweredOff(); }
