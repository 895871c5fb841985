// DMA1 channels and their DMAMUX requests on the simulated board's DMA model: set-up from the
// handle, transfers into host memory, and the channel interrupt that calls the handle's callbacks
// (half transfer, transfer complete, transfer error), as on the chip.
#include "board.h"
#include "dma_model.h"
#include "hal_dma_channel.h"

namespace {

constexpr uint32_t kConfigBits = DMA_MEMORY_TO_PERIPH | DMA_CIRCULAR | DMA_PINC_ENABLE | DMA_MINC_ENABLE |
                                 DMA_PDATAALIGN_WORD | DMA_PDATAALIGN_HALFWORD | DMA_MDATAALIGN_WORD |
                                 DMA_MDATAALIGN_HALFWORD | DMA_PRIORITY_VERY_HIGH;

sim::Dma& model() { return sim::board().dma1(); }

// DMA channel number 1..7 of a handle; 0 for a pointer that is no channel.
int channelNumber(const DMA_HandleTypeDef* hdma) {
  const int n = hdma->Instance != nullptr ? hdma->Instance->index : 0;
  return n >= 1 && n <= sim::Dma::kChannels ? n : 0;
}

}  // namespace

HAL_StatusTypeDef simDmaStart(DMA_HandleTypeDef* hdma, uintptr_t memory, uint32_t length) {
  const int n = channelNumber(hdma);
  if (n == 0 || length == 0 || length > 0xFFFFu) return HAL_ERROR;
  sim::Dma& dma = model();
  dma.setControl(n, dma.channel(n).control & ~(sim::Dma::kEnable | sim::Dma::kInterrupts));
  dma.clearFlags(sim::Dma::flags(n, sim::Dma::kGlobalFlag));
  dma.setCount(n, length);
  dma.channel(n).memoryAddress = memory;
  uint32_t interrupts = sim::Dma::kTransferCompleteInterrupt | sim::Dma::kTransferErrorInterrupt;
  if (hdma->XferHalfCpltCallback != nullptr) interrupts |= sim::Dma::kHalfTransferInterrupt;
  hdma->State = HAL_DMA_STATE_BUSY;
  dma.setControl(n, dma.channel(n).control | interrupts | sim::Dma::kEnable);
  return HAL_OK;
}

void simDmaAbort(DMA_HandleTypeDef* hdma) {
  const int n = channelNumber(hdma);
  if (n == 0) return;
  sim::Dma& dma = model();
  dma.setControl(n, dma.channel(n).control & ~(sim::Dma::kEnable | sim::Dma::kInterrupts));
  dma.clearFlags(sim::Dma::flags(n, sim::Dma::kGlobalFlag));
  hdma->State = HAL_DMA_STATE_READY;
}

uint32_t simDmaRemaining(const DMA_HandleTypeDef* hdma) {
  const int n = channelNumber(hdma);
  return n == 0 ? 0 : model().channel(n).count;
}

extern "C" {

HAL_StatusTypeDef HAL_DMA_Init(DMA_HandleTypeDef* hdma) {
  sim::board().halCall();
  if (hdma == nullptr) return HAL_ERROR;
  if (const int n = channelNumber(hdma)) {
    const DMA_InitTypeDef& init = hdma->Init;
    model().setControl(n, (init.Direction | init.PeriphInc | init.MemInc | init.PeriphDataAlignment |
                           init.MemDataAlignment | init.Mode | init.Priority) &
                              kConfigBits);
    model().setRequest(n, static_cast<uint8_t>(init.Request));
    model().clearFlags(sim::Dma::flags(n, sim::Dma::kGlobalFlag));
  }
  hdma->State = HAL_DMA_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DMA_DeInit(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return HAL_ERROR;
  if (const int n = channelNumber(hdma)) {
    model().setControl(n, 0);
    model().setCount(n, 0);
    model().setRequest(n, 0);
    model().clearFlags(sim::Dma::flags(n, sim::Dma::kGlobalFlag));
  }
  hdma->State = HAL_DMA_STATE_RESET;
  return HAL_OK;
}

// One event per interrupt, half transfer first; a transfer in normal mode ends at transfer complete
// (the handle is READY again before its callback runs, so the callback may start the next one).
void HAL_DMA_IRQHandler(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return;
  const int n = channelNumber(hdma);
  if (n == 0) return;
  sim::Dma& dma = model();
  const uint32_t flags = dma.status() >> (4 * (n - 1));
  const uint32_t control = dma.channel(n).control;
  const bool circular = (control & DMA_CIRCULAR) != 0;
  if ((flags & sim::Dma::kHalfFlag) != 0 && (control & sim::Dma::kHalfTransferInterrupt) != 0) {
    if (!circular) dma.setControl(n, control & ~sim::Dma::kHalfTransferInterrupt);
    dma.clearFlags(sim::Dma::flags(n, sim::Dma::kHalfFlag));
    if (hdma->XferHalfCpltCallback != nullptr) hdma->XferHalfCpltCallback(hdma);
  } else if ((flags & sim::Dma::kCompleteFlag) != 0 && (control & sim::Dma::kTransferCompleteInterrupt) != 0) {
    if (!circular) {
      dma.setControl(n, control & ~sim::Dma::kInterrupts);
      hdma->State = HAL_DMA_STATE_READY;
    }
    dma.clearFlags(sim::Dma::flags(n, sim::Dma::kCompleteFlag));
    if (hdma->XferCpltCallback != nullptr) hdma->XferCpltCallback(hdma);
  } else if ((flags & sim::Dma::kErrorFlag) != 0 && (control & sim::Dma::kTransferErrorInterrupt) != 0) {
    dma.setControl(n, control & ~(sim::Dma::kInterrupts | sim::Dma::kEnable));
    dma.clearFlags(sim::Dma::flags(n, sim::Dma::kGlobalFlag));
    hdma->State = HAL_DMA_STATE_READY;
    if (hdma->XferErrorCallback != nullptr) hdma->XferErrorCallback(hdma);
  }
}

}  // extern "C"
