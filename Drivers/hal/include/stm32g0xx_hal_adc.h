// Analog-to-digital converter: declarations arrive with the code that uses it.
#pragma once

#include "stm32g0xx_hal_def.h"

typedef struct __ADC_HandleTypeDef ADC_HandleTypeDef;
