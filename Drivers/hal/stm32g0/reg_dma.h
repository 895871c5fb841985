// Direct memory access controller (DMA1, channels 1..7) and its request multiplexer (DMAMUX1).
// DMA channel n is fed by DMAMUX channel n - 1, whose request ID selects the peripheral.
#pragma once

#include "reg_base.h"

#define DMA1_BASE (AHBPERIPH_BASE + 0x0000UL)
#define DMAMUX1_BASE (AHBPERIPH_BASE + 0x0800UL)

// ---- DMA ----
typedef struct {
  volatile uint32_t CCR;    // channel configuration
  volatile uint32_t CNDTR;  // number of data to transfer (counts down)
  volatile uint32_t CPAR;   // peripheral address
  volatile uint32_t CMAR;   // memory address
  uint32_t RESERVED;
} DMA_Channel_TypeDef;
REG_CHECK_OFFSET(DMA_Channel_TypeDef, CNDTR, 0x04);
REG_CHECK_OFFSET(DMA_Channel_TypeDef, CPAR, 0x08);
REG_CHECK_OFFSET(DMA_Channel_TypeDef, CMAR, 0x0C);

#define DMA_CHANNEL_COUNT 7U

typedef struct {
  volatile uint32_t ISR;                      // interrupt status
  volatile uint32_t IFCR;                     // interrupt flag clear
  DMA_Channel_TypeDef CH[DMA_CHANNEL_COUNT];  // channel n at CH[n - 1]
} DMA_TypeDef;
REG_CHECK_OFFSET(DMA_TypeDef, IFCR, 0x04);
REG_CHECK_OFFSET(DMA_TypeDef, CH, 0x08);
REG_CHECK_OFFSET(DMA_TypeDef, CH[1], 0x1C);
REG_CHECK_OFFSET(DMA_TypeDef, CH[6], 0x80);

// DMA_ISR / DMA_IFCR: four flags per channel, channel = 1..7
#define DMA_ISR_GIF(ch) (0x1U << (4U * ((ch)-1U)))    // global
#define DMA_ISR_TCIF(ch) (0x2U << (4U * ((ch)-1U)))   // transfer complete
#define DMA_ISR_HTIF(ch) (0x4U << (4U * ((ch)-1U)))   // half transfer
#define DMA_ISR_TEIF(ch) (0x8U << (4U * ((ch)-1U)))   // transfer error
#define DMA_IFCR_CGIF(ch) (0x1U << (4U * ((ch)-1U)))  // clears all four flags of the channel
#define DMA_IFCR_CTCIF(ch) (0x2U << (4U * ((ch)-1U)))
#define DMA_IFCR_CHTIF(ch) (0x4U << (4U * ((ch)-1U)))
#define DMA_IFCR_CTEIF(ch) (0x8U << (4U * ((ch)-1U)))

// DMA_CCRx (writable only while EN = 0, except the interrupt enables)
#define DMA_CCR_EN 0x00000001U
#define DMA_CCR_TCIE 0x00000002U
#define DMA_CCR_HTIE 0x00000004U
#define DMA_CCR_TEIE 0x00000008U
#define DMA_CCR_DIR 0x00000010U  // 0: peripheral to memory, 1: memory to peripheral
#define DMA_CCR_CIRC 0x00000020U
#define DMA_CCR_PINC 0x00000040U
#define DMA_CCR_MINC 0x00000080U
#define DMA_CCR_PSIZE_Pos 8U
#define DMA_CCR_PSIZE 0x00000300U  // 00: 8, 01: 16, 10: 32 bits
#define DMA_CCR_MSIZE_Pos 10U
#define DMA_CCR_MSIZE 0x00000C00U
#define DMA_CCR_PL_Pos 12U
#define DMA_CCR_PL 0x00003000U  // 00: low .. 11: very high
#define DMA_CCR_MEM2MEM 0x00004000U

// DMA_CNDTRx
#define DMA_CNDTR_NDT 0x0000FFFFU

// ---- DMAMUX ----
typedef struct {
  volatile uint32_t CxCR[DMA_CHANNEL_COUNT];  // C0CR..C6CR: request line of DMA channel 1..7
  uint32_t RESERVED0[25];
  volatile uint32_t CSR;  // channel status (synchronisation overrun)
  volatile uint32_t CFR;  // channel clear flag
  uint32_t RESERVED1[30];
  volatile uint32_t RGxCR[4];  // RG0CR..RG3CR: request generators
  uint32_t RESERVED2[12];
  volatile uint32_t RGSR;   // request generator status
  volatile uint32_t RGCFR;  // request generator clear flag
} DMAMUX_TypeDef;
REG_CHECK_OFFSET(DMAMUX_TypeDef, CxCR[6], 0x18);
REG_CHECK_OFFSET(DMAMUX_TypeDef, CSR, 0x80);
REG_CHECK_OFFSET(DMAMUX_TypeDef, CFR, 0x84);
REG_CHECK_OFFSET(DMAMUX_TypeDef, RGxCR, 0x100);
REG_CHECK_OFFSET(DMAMUX_TypeDef, RGSR, 0x140);
REG_CHECK_OFFSET(DMAMUX_TypeDef, RGCFR, 0x144);

// DMAMUX_CxCR
#define DMAMUX_CxCR_DMAREQ_ID_Pos 0U
#define DMAMUX_CxCR_DMAREQ_ID 0x0000007FU  // request ID (DMA_REQUEST_xxx)
#define DMAMUX_CxCR_SOIE 0x00000100U
#define DMAMUX_CxCR_EGE 0x00000200U
#define DMAMUX_CxCR_SE 0x00010000U
#define DMAMUX_CxCR_SPOL_Pos 17U
#define DMAMUX_CxCR_SPOL 0x00060000U
#define DMAMUX_CxCR_NBREQ_Pos 19U
#define DMAMUX_CxCR_NBREQ 0x00F80000U
#define DMAMUX_CxCR_SYNC_ID_Pos 24U
#define DMAMUX_CxCR_SYNC_ID 0x1F000000U

// DMAMUX_CSR / DMAMUX_CFR, mux channel = 0..6
#define DMAMUX_CSR_SOF(muxch) (1U << (muxch))
#define DMAMUX_CFR_CSOF(muxch) (1U << (muxch))

// DMAMUX_RGxCR
#define DMAMUX_RGxCR_SIG_ID_Pos 0U
#define DMAMUX_RGxCR_SIG_ID 0x0000001FU
#define DMAMUX_RGxCR_OIE 0x00000100U
#define DMAMUX_RGxCR_GE 0x00010000U
#define DMAMUX_RGxCR_GPOL_Pos 17U
#define DMAMUX_RGxCR_GPOL 0x00060000U
#define DMAMUX_RGxCR_GNBREQ_Pos 19U
#define DMAMUX_RGxCR_GNBREQ 0x00F80000U

// DMAMUX_RGSR / DMAMUX_RGCFR, generator = 0..3
#define DMAMUX_RGSR_OF(gen) (1U << (gen))
#define DMAMUX_RGCFR_COF(gen) (1U << (gen))

#define DMA1 ((DMA_TypeDef*)DMA1_BASE)
#define DMA1_Channel1 (&DMA1->CH[0])
#define DMA1_Channel2 (&DMA1->CH[1])
#define DMA1_Channel3 (&DMA1->CH[2])
#define DMA1_Channel4 (&DMA1->CH[3])
#define DMA1_Channel5 (&DMA1->CH[4])
#define DMA1_Channel6 (&DMA1->CH[5])
#define DMA1_Channel7 (&DMA1->CH[6])
#define DMAMUX1 ((DMAMUX_TypeDef*)DMAMUX1_BASE)
