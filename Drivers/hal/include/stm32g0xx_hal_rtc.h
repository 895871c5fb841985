// Real-time clock and backup registers: declarations arrive with the code that uses them.
#pragma once

#include "stm32g0xx_hal_def.h"

typedef struct __RTC_HandleTypeDef RTC_HandleTypeDef;
