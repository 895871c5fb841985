// Radio side of the supply switch. Until a radio driver is linked, nothing answers on the bus.
#include "MCUState.h"

bool loraSupplyBringUpRadio() { return false; }
void loraSupplyMarkRadioDown() {}
