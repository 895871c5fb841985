// DMA1 channels with their DMAMUX request lines. A driver initialises a channel with
// HAL_DMA_Init, sets the handle's callbacks, starts a transfer with HAL_DMA_Start_IT, and its
// interrupt handler passes the channel interrupt to HAL_DMA_IRQHandler, which calls them.
// The console reception (channel 2) installs its callbacks in the UART driver; the ADC
// capture (channel 1) installs its own the same way.
#include "hal_backend.h"

namespace {

// DMA channel number 1..7 of a handle; 0 for a pointer that is no channel.
uint32_t channelNumber(const DMA_HandleTypeDef* hdma) {
  for (uint32_t i = 0; i < DMA_CHANNEL_COUNT; ++i) {
    if (hdma->Instance == &DMA1->CH[i]) return i + 1U;
  }
  return 0U;
}

constexpr uint32_t kConfigBits = DMA_CCR_DIR | DMA_CCR_CIRC | DMA_CCR_PINC | DMA_CCR_MINC | DMA_CCR_PSIZE |
                                 DMA_CCR_MSIZE | DMA_CCR_PL | DMA_CCR_MEM2MEM;
constexpr uint32_t kInterruptBits = DMA_CCR_TCIE | DMA_CCR_HTIE | DMA_CCR_TEIE;

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_DMA_Init(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return HAL_ERROR;
  const uint32_t ch = channelNumber(hdma);
  if (ch == 0U) return HAL_ERROR;
  DMA_Channel_TypeDef* channel = hdma->Instance;
  regClear(channel->CCR, DMA_CCR_EN);
  const DMA_InitTypeDef& init = hdma->Init;
  const uint32_t config = init.Direction | init.PeriphInc | init.MemInc | init.PeriphDataAlignment |
                          init.MemDataAlignment | init.Mode | init.Priority;
  regModify(channel->CCR, kConfigBits | kInterruptBits, config & kConfigBits);
  DMAMUX1->CxCR[ch - 1U] = (init.Request << DMAMUX_CxCR_DMAREQ_ID_Pos) & DMAMUX_CxCR_DMAREQ_ID;
  DMAMUX1->CFR = DMAMUX_CFR_CSOF(ch - 1U);
  DMA1->IFCR = DMA_IFCR_CGIF(ch);
  hdma->ErrorCode = HAL_DMA_ERROR_NONE;
  hdma->Lock = HAL_UNLOCKED;
  hdma->State = HAL_DMA_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DMA_DeInit(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return HAL_ERROR;
  const uint32_t ch = channelNumber(hdma);
  if (ch == 0U) return HAL_ERROR;
  DMA_Channel_TypeDef* channel = hdma->Instance;
  channel->CCR = 0U;
  channel->CNDTR = 0U;
  channel->CPAR = 0U;
  channel->CMAR = 0U;
  DMA1->IFCR = DMA_IFCR_CGIF(ch);
  DMAMUX1->CxCR[ch - 1U] = 0U;
  DMAMUX1->CFR = DMAMUX_CFR_CSOF(ch - 1U);
  hdma->XferCpltCallback = nullptr;
  hdma->XferHalfCpltCallback = nullptr;
  hdma->XferErrorCallback = nullptr;
  hdma->XferAbortCallback = nullptr;
  hdma->ErrorCode = HAL_DMA_ERROR_NONE;
  hdma->Lock = HAL_UNLOCKED;
  hdma->State = HAL_DMA_STATE_RESET;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DMA_Start_IT(DMA_HandleTypeDef* hdma, uint32_t srcAddress, uint32_t dstAddress,
                                   uint32_t dataLength) {
  if (hdma == nullptr || dataLength == 0U || dataLength > DMA_CNDTR_NDT) return HAL_ERROR;
  const uint32_t ch = channelNumber(hdma);
  if (ch == 0U) return HAL_ERROR;
  if (hdma->State != HAL_DMA_STATE_READY) return HAL_BUSY;
  hdma->State = HAL_DMA_STATE_BUSY;
  hdma->ErrorCode = HAL_DMA_ERROR_NONE;

  DMA_Channel_TypeDef* channel = hdma->Instance;
  regClear(channel->CCR, DMA_CCR_EN);  // address and count registers are writable only while off
  DMA1->IFCR = DMA_IFCR_CGIF(ch);
  channel->CNDTR = dataLength;
  if ((channel->CCR & DMA_CCR_DIR) != 0U) {  // memory to peripheral
    channel->CPAR = dstAddress;
    channel->CMAR = srcAddress;
  } else {
    channel->CPAR = srcAddress;
    channel->CMAR = dstAddress;
  }
  uint32_t interrupts = DMA_CCR_TCIE | DMA_CCR_TEIE;
  if (hdma->XferHalfCpltCallback != nullptr) interrupts |= DMA_CCR_HTIE;
  regModify(channel->CCR, kInterruptBits, interrupts);
  regSet(channel->CCR, DMA_CCR_EN);
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DMA_Abort(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return HAL_ERROR;
  const uint32_t ch = channelNumber(hdma);
  if (ch == 0U) return HAL_ERROR;
  regClear(hdma->Instance->CCR, kInterruptBits | DMA_CCR_EN);
  DMA1->IFCR = DMA_IFCR_CGIF(ch);
  DMAMUX1->CFR = DMAMUX_CFR_CSOF(ch - 1U);
  hdma->State = HAL_DMA_STATE_READY;
  return HAL_OK;
}

// Half transfer, transfer complete and transfer error of one channel. A transfer in normal
// mode ends at transfer complete (the handle is READY again before its callback runs, so the
// callback may start the next one); a transfer error stops the channel.
void HAL_DMA_IRQHandler(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return;
  const uint32_t ch = channelNumber(hdma);
  if (ch == 0U) return;
  DMA_Channel_TypeDef* channel = hdma->Instance;
  const uint32_t flags = DMA1->ISR;
  const uint32_t ccr = channel->CCR;
  const bool circular = (ccr & DMA_CCR_CIRC) != 0U;

  if ((flags & DMA_ISR_HTIF(ch)) != 0U && (ccr & DMA_CCR_HTIE) != 0U) {
    if (!circular) regClear(channel->CCR, DMA_CCR_HTIE);
    DMA1->IFCR = DMA_IFCR_CHTIF(ch);
    if (hdma->XferHalfCpltCallback != nullptr) hdma->XferHalfCpltCallback(hdma);
  } else if ((flags & DMA_ISR_TCIF(ch)) != 0U && (ccr & DMA_CCR_TCIE) != 0U) {
    if (!circular) {
      regClear(channel->CCR, kInterruptBits);
      hdma->State = HAL_DMA_STATE_READY;
    }
    DMA1->IFCR = DMA_IFCR_CTCIF(ch);
    if (hdma->XferCpltCallback != nullptr) hdma->XferCpltCallback(hdma);
  } else if ((flags & DMA_ISR_TEIF(ch)) != 0U && (ccr & DMA_CCR_TEIE) != 0U) {
    regClear(channel->CCR, kInterruptBits | DMA_CCR_EN);
    DMA1->IFCR = DMA_IFCR_CGIF(ch);
    hdma->ErrorCode = HAL_DMA_ERROR_TE;
    hdma->State = HAL_DMA_STATE_READY;
    if (hdma->XferErrorCallback != nullptr) hdma->XferErrorCallback(hdma);
  }
}

}  // extern "C"
