// Flash memory interface: declarations arrive with the code that uses it.
#pragma once

#include "stm32g0xx_hal_def.h"
