// What a call into the hardware layer costs besides its work: the simulated board charges each
// call that acts on a device its time (hal_core.cpp).
#pragma once

void halCallBegins();
