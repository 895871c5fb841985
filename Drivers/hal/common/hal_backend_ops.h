// The seam between the hardware layer's common part and its backends. The common part holds the
// public HAL_* functions: their argument checks and handle states, and the way an interrupt's
// event ends a transfer and reaches the callbacks. Each backend provides the operations below (the
// part that differs: registers, or the simulated board's devices) and reports its interrupts'
// events through the common functions at the end. Private to Drivers/hal.
#pragma once

#include "hal_call_cost.h"  // the backend's: halCallBegins(), called as a call that acts on a device begins
#include "stm32g0xx_hal.h"

// --- UART ---------------------------------------------------------------------------------------

// Sets the USART up from huart->Init and enables it; HAL_ERROR for settings it cannot take,
// HAL_TIMEOUT when it does not acknowledge.
HAL_StatusTypeDef halUartConfigure(UART_HandleTypeDef* huart);
// Stops any reception and disables the USART (the handle is de-initialised).
void halUartShutDown(UART_HandleTypeDef* huart);
// What halUartChangeFifo changes.
enum class HalUartFifo { kTxThreshold, kRxThreshold, kDisable };
// Changes a FIFO setting of an initialised USART (the handle is BUSY meanwhile).
void halUartChangeFifo(UART_HandleTypeDef* huart, HalUartFifo change, uint32_t threshold);
// Sends size bytes, blocking, within timeoutMs (HAL_MAX_DELAY: no bound); HAL_TIMEOUT when cut.
HAL_StatusTypeDef halUartSend(UART_HandleTypeDef* huart, const uint8_t* data, uint16_t size, uint32_t timeoutMs);
// Starts a receive-to-idle transfer of up to size bytes into data on hdmarx; HAL_ERROR when the
// DMA channel cannot start.
HAL_StatusTypeDef halUartStartReceiveToIdle(UART_HandleTypeDef* huart, uint8_t* data, uint16_t size);
// Stops a reception without any event.
void halUartStopReceive(UART_HandleTypeDef* huart);
// Stops a running reception: its interrupts, its DMA requests and its channel.
void halUartStopReception(UART_HandleTypeDef* huart);

// Reported by the backends' interrupt code. An event of a running reception: half buffer (the
// reception goes on), full buffer or idle line (it has ended, the backend has stopped it); count
// bytes are in the buffer. The handle is READY again before the callback, which may start the
// next reception.
void halUartReceptionEvent(UART_HandleTypeDef* huart, HAL_UART_RxEventTypeTypeDef type, uint16_t count);
// A line or DMA error (HAL_UART_ERROR_* bits) ends the reception: it is stopped here
// (halUartStopReception) and the error callback follows.
void halUartReceptionError(UART_HandleTypeDef* huart, uint32_t code);
// Hangs the reception's events on its DMA channel: half buffer, full buffer (the reception ends,
// normal mode) and transfer error.
void halUartHookReceptionDma(DMA_HandleTypeDef* hdma);

// --- SPI ----------------------------------------------------------------------------------------

// Sets the SPI up from hspi->Init (8-bit frames).
void halSpiConfigure(SPI_HandleTypeDef* hspi);
// Disables the SPI (the handle is de-initialised).
void halSpiDisable(SPI_HandleTypeDef* hspi);
// Clocks size bytes out of tx (or of rx itself when tx is null) and stores what comes back in rx
// when it is not null, within timeoutMs; HAL_TIMEOUT when cut, HAL_ERROR when the selected device
// refuses the transfer.
HAL_StatusTypeDef halSpiExchange(SPI_HandleTypeDef* hspi, const uint8_t* tx, uint8_t* rx, uint16_t size,
                                 uint32_t timeoutMs);

// --- TIM ----------------------------------------------------------------------------------------

// Whether the board has this timer.
bool halTimExists(const TIM_TypeDef* tim);
// Loads prescaler, auto-reload and its preload from htim->Init through an update, whose flag is
// then cleared; the counter starts from zero.
void halTimConfigure(TIM_HandleTypeDef* htim);
// Starts counting with the update interrupt enabled, or stops both.
void halTimStart(TIM_HandleTypeDef* htim);
void halTimStop(TIM_HandleTypeDef* htim);
// Sets the trigger output (TRGO) source.
void halTimSetTrigger(TIM_HandleTypeDef* htim, uint32_t masterOutputTrigger);
// Takes a pending update interrupt: clears its flag and tells whether there was one.
bool halTimTakeUpdate(TIM_HandleTypeDef* htim);

// --- ADC ----------------------------------------------------------------------------------------

// Reported by the backends: the regular conversions asked for are done (polled, or moved by the
// DMA): end of conversion, and READY again unless the converter runs continuously.
void halAdcConversionsDone(ADC_HandleTypeDef* hadc);
// Hangs a capture's events on the converter's DMA channel (hadc->DMA_Handle), as a backend starts
// it: end of transfer (the conversions are done, HAL_ADC_ConvCpltCallback follows) and transfer
// error (HAL_ADC_STATE_ERROR_DMA); no half-transfer event.
void halAdcHookDma(ADC_HandleTypeDef* hadc);
