// Basic timer (TIM6): declarations arrive with the code that uses it.
#pragma once

#include "stm32g0xx_hal_def.h"

typedef struct __TIM_HandleTypeDef TIM_HandleTypeDef;
