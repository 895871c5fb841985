// Flash memory interface (FLASH): wait states, unlock keys, status, page erase and double-word
// programming, option bytes.
#pragma once

#include "reg_base.h"

#define FLASH_R_BASE (AHBPERIPH_BASE + 0x2000UL)

typedef struct {
  volatile uint32_t ACR;  // access control
  uint32_t RESERVED0;
  volatile uint32_t KEYR;     // key (unlocks FLASH_CR)
  volatile uint32_t OPTKEYR;  // option key
  volatile uint32_t SR;       // status
  volatile uint32_t CR;       // control
  volatile uint32_t ECCR;     // ECC
  uint32_t RESERVED1;
  volatile uint32_t OPTR;  // option register
  uint32_t RESERVED2[2];
  volatile uint32_t WRP1AR;  // write protection area A
  volatile uint32_t WRP1BR;  // write protection area B
} FLASH_TypeDef;
REG_CHECK_OFFSET(FLASH_TypeDef, KEYR, 0x08);
REG_CHECK_OFFSET(FLASH_TypeDef, OPTKEYR, 0x0C);
REG_CHECK_OFFSET(FLASH_TypeDef, SR, 0x10);
REG_CHECK_OFFSET(FLASH_TypeDef, CR, 0x14);
REG_CHECK_OFFSET(FLASH_TypeDef, ECCR, 0x18);
REG_CHECK_OFFSET(FLASH_TypeDef, OPTR, 0x20);
REG_CHECK_OFFSET(FLASH_TypeDef, WRP1AR, 0x2C);
REG_CHECK_OFFSET(FLASH_TypeDef, WRP1BR, 0x30);

// FLASH_ACR
#define FLASH_ACR_LATENCY_Pos 0U
#define FLASH_ACR_LATENCY 0x00000007U  // wait states: 0 up to 24 MHz, 1 up to 48 MHz, 2 above
#define FLASH_ACR_PRFTEN 0x00000100U
#define FLASH_ACR_ICEN 0x00000200U
#define FLASH_ACR_ICRST 0x00000800U
#define FLASH_ACR_EMPTY 0x00010000U
#define FLASH_ACR_DBG_SWEN 0x00040000U

// FLASH_KEYR / FLASH_OPTKEYR: write the two keys in this order to unlock.
#define FLASH_KEYR_KEY1 0x45670123U
#define FLASH_KEYR_KEY2 0xCDEF89ABU
#define FLASH_OPTKEYR_OPTKEY1 0x08192A3BU
#define FLASH_OPTKEYR_OPTKEY2 0x4C5D6E7FU

// FLASH_SR (error and EOP flags are cleared by writing 1)
#define FLASH_SR_EOP 0x00000001U
#define FLASH_SR_OPERR 0x00000002U
#define FLASH_SR_PROGERR 0x00000008U
#define FLASH_SR_WRPERR 0x00000010U
#define FLASH_SR_PGAERR 0x00000020U
#define FLASH_SR_SIZERR 0x00000040U
#define FLASH_SR_PGSERR 0x00000080U
#define FLASH_SR_MISSERR 0x00000100U
#define FLASH_SR_FASTERR 0x00000200U
#define FLASH_SR_RDERR 0x00004000U
#define FLASH_SR_OPTVERR 0x00008000U
#define FLASH_SR_BSY1 0x00010000U
#define FLASH_SR_CFGBSY 0x00040000U  // FLASH_CR programming/erase configuration in use
#define FLASH_SR_ERRORS                                                                                        \
  (FLASH_SR_OPERR | FLASH_SR_PROGERR | FLASH_SR_WRPERR | FLASH_SR_PGAERR | FLASH_SR_SIZERR | FLASH_SR_PGSERR | \
   FLASH_SR_MISSERR | FLASH_SR_FASTERR | FLASH_SR_RDERR | FLASH_SR_OPTVERR)

// FLASH_CR
#define FLASH_CR_PG 0x00000001U   // programming (double word: two 32-bit writes, low word first)
#define FLASH_CR_PER 0x00000002U  // page erase
#define FLASH_CR_MER1 0x00000004U
#define FLASH_CR_PNB_Pos 3U
#define FLASH_CR_PNB 0x00001FF8U  // page number; pages 0..63 exist on this part
#define FLASH_CR_STRT 0x00010000U
#define FLASH_CR_OPTSTRT 0x00020000U
#define FLASH_CR_FSTPG 0x00040000U
#define FLASH_CR_EOPIE 0x01000000U
#define FLASH_CR_ERRIE 0x02000000U
#define FLASH_CR_RDERRIE 0x04000000U
#define FLASH_CR_OBL_LAUNCH 0x08000000U
#define FLASH_CR_SEC_PROT 0x10000000U
#define FLASH_CR_OPTLOCK 0x40000000U
#define FLASH_CR_LOCK 0x80000000U

// FLASH_ECCR
#define FLASH_ECCR_ADDR_ECC_Pos 0U
#define FLASH_ECCR_ADDR_ECC 0x00003FFFU
#define FLASH_ECCR_SYSF_ECC 0x00100000U
#define FLASH_ECCR_ECCCIE 0x01000000U
#define FLASH_ECCR_ECCC 0x40000000U
#define FLASH_ECCR_ECCD 0x80000000U

// FLASH_OPTR
#define FLASH_OPTR_RDP_Pos 0U
#define FLASH_OPTR_RDP 0x000000FFU
#define FLASH_OPTR_nRST_STOP 0x00002000U
#define FLASH_OPTR_nRST_STDBY 0x00004000U
#define FLASH_OPTR_IWDG_SW 0x00010000U
#define FLASH_OPTR_IWDG_STOP 0x00020000U
#define FLASH_OPTR_IWDG_STDBY 0x00040000U
#define FLASH_OPTR_WWDG_SW 0x00080000U
#define FLASH_OPTR_RAM_PARITY_CHECK 0x00400000U
#define FLASH_OPTR_nBOOT_SEL 0x01000000U
#define FLASH_OPTR_nBOOT1 0x02000000U
#define FLASH_OPTR_nBOOT0 0x04000000U

#define FLASH ((FLASH_TypeDef*)FLASH_R_BASE)
