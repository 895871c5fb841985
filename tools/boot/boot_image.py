#!/usr/bin/python3
"""Boots the real target image (orvane-node.elf) from its reset vector in an ARMv6-M emulator.

The emulated core (Unicorn, Thumb, M-class) runs the image as linked. Around it:
- memory as on the STM32G070: 128 KiB flash (the configuration page erased), 36 KiB RAM, the
  engineering bytes of system memory (unique ID, VREFINT_CAL, TS_CAL1, flash size);
- the peripheral space and the core's system control space, mapped to a recorder that keeps every
  register, logs every write in order, and answers what the hardware would: ready flags follow
  their enables (HSIRDY, LSIRDY, SWS, ADRDY, INITF, RSF, TEACK/REACK, ...), self-clearing bits
  clear (ADCAL, ADSTP, ADDIS), status registers take write-1-to-clear, the ADC converts the
  internal channels and scans into memory through DMA1 channel 1, TIM6 counts its prescaled
  clock, USART1 takes each byte written to TDR as console output and receives bytes into the
  memory of its DMA channel with an idle-line event;
- a harness that keeps time (one millisecond per slice of instructions, or until the next event
  while the core waits for an interrupt) and delivers the interrupts (SysTick, DMA1 channel 1,
  DMA1 channels 2-3, USART1, TIM6) through the exception entry and return of the architecture:
  eight words stacked on the main stack with 8-byte alignment, EXC_RETURN in LR, the handler from
  the vector table, and the frame unstacked when the handler branches to EXC_RETURN. PRIMASK and
  the NVIC enables and priorities are honoured; a priority-0 interrupt may preempt SysTick.

Used by tests/target/boot_test.py; run alone it prints the console output of a boot:
    boot_image.py IMAGE.elf [--type LINE]...
"""
import argparse
import math
import subprocess
import sys
import tempfile

from unicorn import Uc, UcError, UC_ARCH_ARM, UC_MODE_THUMB, UC_MODE_MCLASS, UC_HOOK_CODE, UC_HOOK_INTR
from unicorn.arm_const import (UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_R12,
                               UC_ARM_REG_LR, UC_ARM_REG_PC, UC_ARM_REG_SP, UC_ARM_REG_XPSR,
                               UC_ARM_REG_PRIMASK)

FLASH_BASE, FLASH_SIZE = 0x08000000, 0x20000
RAM_BASE, RAM_SIZE = 0x20000000, 0x9000
SYSMEM_BASE, SYSMEM_SIZE = 0x1FFF7000, 0x1000
UID_WORDS = (0x00350041, 0x3233510D, 0x30363738)
VREFINT_CAL = 1655  # the reference read at 3.0 V: 1.212 V x 4095 / 3.0
TS_CAL1 = 1034      # the sensor read at 30 degC and 3.0 V: 0.758 V x 4095 / 3.0
VREFINT_READ = 1504  # what the converter gives for the reference at VDDA = 3.3 V
TS_READ = 933        # the sensor at about 25 degC, VDDA = 3.3 V
CLAMP_AMPLITUDE = 400
SCAN_PERIOD_S = 4 * 173 / 2e6  # four conversions of 160.5 + 12.5 ADC clocks at 2 MHz
INSNS_PER_MS = 3000  # about 4000 cycles at 4 MHz
EXC_RETURN_THREAD = 0xFFFFFFF9
EXCP_EXCEPTION_EXIT = 8
SYSTICK = 15

# Register blocks (reference manual memory map).
TIM6, RTC, PWR, TAMP = 0x40001000, 0x40002800, 0x40007000, 0x4000B000
ADC, SPI1, USART1 = 0x40012400, 0x40013000, 0x40013800
DMA1, DMAMUX, RCC, FLASH_R = 0x40020000, 0x40020800, 0x40021000, 0x40022000
SCS = 0xE000E000
IRQ_DMA1_CH1, IRQ_DMA1_CH2_3, IRQ_TIM6, IRQ_USART1 = 9, 10, 17, 27

# Reset values that are not zero (reference manual register descriptions).
RESET = {
    RCC + 0x00: 0x00000500,      # RCC_CR: HSION, HSIRDY
    RCC + 0x04: 0x00004000,      # RCC_ICSCR: HSITRIM 64
    RCC + 0x0C: 0x00001000,      # RCC_PLLCFGR: PLLN 16
    RCC + 0x38: 0x00000100,      # RCC_AHBENR: FLASHEN
    RCC + 0x60: 0x0C000000,      # RCC_CSR: PINRSTF, PWRRSTF (a power-on start)
    FLASH_R + 0x00: 0x00000600,  # FLASH_ACR: ICEN, PRFTEN
    PWR + 0x00: 0x00000208,      # PWR_CR1: VOS range 1, FPD_STOP
    RTC + 0x00: 0x00002100,      # RTC_TR reset
    RTC + 0x10: 0x007F00FF,      # RTC_PRER
    RTC + 0x14: 0x0000FFFF,      # RTC_WUTR
    TIM6 + 0x2C: 0x0000FFFF,     # TIM6_ARR
    SPI1 + 0x04: 0x00000700,     # SPI_CR2: DS 8 bits
    SPI1 + 0x10: 0x00000007,     # SPI_CRCPR
    SPI1 + 0x08: 0x00000002,     # SPI_SR: TXE
    USART1 + 0x1C: 0x008000C0,   # USART_ISR: TXFE, TC, TXE
    0x50000000: 0xEBFFFFFF,      # GPIOA_MODER (PA13, PA14 serial-wire debug)
    0x50000008: 0x0C000000,      # GPIOA_OSPEEDR
    0x5000000C: 0x24000000,      # GPIOA_PUPDR
    0x50000400: 0xFFFFFFFF, 0x50000800: 0xFFFFFFFF, 0x50000C00: 0xFFFFFFFF, 0x50001400: 0xFFFFFFFF,
}


class Chip:
    """The register recorder and the behaviour of the peripherals the firmware waits on."""

    def __init__(self, uc):
        self.uc = uc
        self.regs = dict(RESET)
        self.writes = []       # (address, value) in order
        self.console = bytearray()
        self.pending = set()   # exception numbers
        self.ms = 0
        self.tim6_sub = 0
        self.adc_channel_values = {12: TS_READ, 13: VREFINT_READ}
        self.rx_size = 0
        self.at_first_output = None  # (registers, number of writes) when the first byte goes out
        self.taken = []  # exception numbers in the order they were entered
        # Peripherals made to never answer: "adc" (no calibration, ready, stop or disable ever
        # completes), "adc-stop" (a stop or disable never completes), "rtc-wakeup" (the wake-up
        # timer never becomes writable).
        self.silent = set()

    # -- register file ----------------------------------------------------------------------
    def get(self, addr):
        return self.regs.get(addr, 0)

    def put(self, addr, value):
        self.regs[addr] = value & 0xFFFFFFFF

    def set_bits(self, addr, bits):
        self.put(addr, self.get(addr) | bits)

    def clear_bits(self, addr, bits):
        self.put(addr, self.get(addr) & ~bits)

    def irq_enabled(self, irq):
        return (self.get(SCS + 0x100) >> irq) & 1

    # -- reads: stored value, with the live flags ---------------------------------------------
    def read(self, addr, size):
        word = addr & ~3
        v = self.get(word)
        if word == RCC + 0x00:  # RCC_CR: ready flags follow their enables
            v = (v & ~((1 << 10) | (1 << 17) | (1 << 25))) | ((v >> 8 & 1) << 10) | ((v >> 16 & 1) << 17) | \
                ((v >> 24 & 1) << 25)
        elif word == RCC + 0x08:  # RCC_CFGR: SWS follows SW
            v = (v & ~(7 << 3)) | ((v & 7) << 3)
        elif word == RCC + 0x60:  # RCC_CSR: LSIRDY follows LSION
            v = (v & ~2) | ((v & 1) << 1)
        elif word == RCC + 0x5C:  # RCC_BDCR: LSERDY follows LSEON
            v = (v & ~2) | ((v & 1) << 1)
        elif word == RTC + 0x0C:  # RTC_ICSR: INITF follows INIT; shadows synchronised; WUT writable
            v = (v & ~((1 << 6) | (1 << 2))) | ((v >> 7 & 1) << 6) | (1 << 5) | \
                (0 if "rtc-wakeup" in self.silent else 1 << 2)
        elif word == ADC + 0x08 and "adc" not in self.silent:  # ADC_CR: calibration, stop, disable at once
            v &= ~((1 << 31) | (0 if "adc-stop" in self.silent else (1 << 4) | (1 << 1)))
        elif word == ADC + 0x40:  # ADC_DR: reading the data clears EOC
            self.clear_bits(ADC + 0x00, 1 << 2)
        elif word == USART1 + 0x1C:  # USART_ISR: transmitter always ready; TEACK/REACK follow TE/RE
            cr1 = self.get(USART1)
            v |= 0xC0 | (1 << 23)
            v = (v & ~(3 << 21)) | ((cr1 >> 3 & 1) << 21) | ((cr1 >> 2 & 1) << 22)
        elif word == SPI1 + 0x08:  # SPI_SR: transmit buffer empty, nothing in flight
            v = (v | 2) & ~((1 << 7) | (3 << 11))
        elif word == SCS + 0x010:  # SYST_CSR: COUNTFLAG clears on read
            self.clear_bits(word, 1 << 16)
        shift = (addr & 3) * 8
        return (v >> shift) & ((1 << (8 * size)) - 1)

    # -- writes ---------------------------------------------------------------------------------
    def write(self, addr, size, value):
        word = addr & ~3
        if size < 4:  # byte and half-word stores land in their lane of the word
            shift = (addr & 3) * 8
            mask = ((1 << (8 * size)) - 1) << shift
            value = (self.get(word) & ~mask) | ((value << shift) & mask)
        self.writes.append((word, value))
        if word in (ADC + 0x00, DMA1 + 0x04, USART1 + 0x20, RTC + 0x5C):  # write 1 to clear
            target = {ADC + 0x00: ADC + 0x00, DMA1 + 0x04: DMA1 + 0x00, USART1 + 0x20: USART1 + 0x1C,
                      RTC + 0x5C: RTC + 0x50}[word]
            self.clear_bits(target, value)
            return
        if word == TIM6 + 0x10:  # TIM6_SR: write 0 to clear
            self.put(word, self.get(word) & value)
            return
        if word == USART1 + 0x28:  # USART_TDR: one byte on the line
            if self.at_first_output is None:  # the bring-up is over when the console first speaks
                self.at_first_output = (dict(self.regs), len(self.writes) - 1)
            self.console.append(value & 0xFF)
            return
        if word == RCC + 0x60 and value & (1 << 23):  # RMVF clears the reset flags
            value &= 0x00FFFFFF & ~(1 << 23)
        if word == SCS + 0x100:  # NVIC_ISER
            self.set_bits(word, value)
            return
        if word == SCS + 0x180:  # NVIC_ICER
            self.clear_bits(SCS + 0x100, value)
            return
        if word == SCS + 0x200:  # NVIC_ISPR
            for i in range(32):
                if value >> i & 1:
                    self.pending.add(16 + i)
            return
        if word == SCS + 0x280:  # NVIC_ICPR
            self.pending -= {16 + i for i in range(32) if value >> i & 1}
            return
        if word == SCS + 0xD0C and (value >> 16) == 0x05FA and value & 4:
            raise SystemReset()
        if word == SCS + 0x018:  # SYST_CVR: any write clears it
            value = 0
        if word == TIM6 + 0x14 and value & 1:  # TIM6_EGR UG: reload, update flag unless URS
            self.put(TIM6 + 0x24, 0)
            self.tim6_sub = 0
            if not self.get(TIM6) & 4:
                self.set_bits(TIM6 + 0x10, 1)
            return
        if word == DMA1 + 0x1C and value & 1 and not self.get(word) & 1:
            self.rx_size = self.get(DMA1 + 0x20)  # channel 2 started: the size of its buffer
        if word == ADC + 0x08:  # ADC_CR: ADCAL, ADSTP, ADSTART, ADDIS, ADEN are cleared by the converter only
            value |= self.get(word) & 0x80000017
        self.put(word, value)
        if word == ADC + 0x08:
            self.adc_control(value)
        elif word in (ADC + 0x28, ADC + 0x0C):  # channel selection or scan order: configured
            self.set_bits(ADC + 0x00, 1 << 13)  # CCRDY

    # -- ADC and its DMA channel --------------------------------------------------------------
    def adc_control(self, value):
        isr = ADC + 0x00
        if "adc" in self.silent:
            return
        if value & (1 << 31):  # ADCAL: done at once, calibration factor in DR
            self.put(ADC + 0x40, 0x40)
            self.set_bits(isr, 1 << 11)
        if value & 1:
            self.set_bits(isr, 1)  # ADRDY
        if value & 2 and "adc-stop" not in self.silent:  # ADDIS
            self.clear_bits(ADC + 0x08, 3)
        if value & (1 << 4) and "adc-stop" not in self.silent:  # ADSTP
            self.clear_bits(ADC + 0x08, (1 << 2) | (1 << 4))
        if value & (1 << 2):  # ADSTART
            self.adc_convert()

    def adc_convert(self):
        chsel = self.get(ADC + 0x28)
        channels = [c for c in range(19) if chsel >> c & 1]
        if self.get(ADC + 0x0C) & 4:  # SCANDIR backward
            channels.reverse()
        values = [self.adc_channel_values.get(c, 2048) for c in channels] or [0]
        cfgr1 = self.get(ADC + 0x0C)
        ccr1 = self.get(DMA1 + 0x08)
        if cfgr1 & 1 and ccr1 & 1:  # DMAEN and channel 1 on: the whole transfer into memory
            count = self.get(DMA1 + 0x0C)
            dst = self.get(DMA1 + 0x14)
            data = b"".join(self.scan_value(channels, i).to_bytes(2, "little") for i in range(count))
            self.uc.mem_write(dst, data)
            self.put(DMA1 + 0x0C, 0)
            self.set_bits(DMA1 + 0x00, 0b1111)  # GIF1 TCIF1 HTIF1 (TEIF1 masked below)
            self.clear_bits(DMA1 + 0x00, 0b1000)
            self.put(ADC + 0x40, self.scan_value(channels, count - 1))
            self.set_bits(ADC + 0x00, (1 << 2) | (1 << 3))
            if ccr1 & 0b0110:
                self.pending.add(16 + IRQ_DMA1_CH1)
        else:
            self.put(ADC + 0x40, values[-1])
            self.set_bits(ADC + 0x00, (1 << 2) | (1 << 3))  # EOC, EOS
            if not cfgr1 & (1 << 13):
                self.clear_bits(ADC + 0x08, 1 << 2)  # single conversion: ADSTART clears

    def scan_value(self, channels, i):
        """Conversion i of a scan: the first channel of the sequence (the clamp's high side)
        carries a 50 Hz sine of CLAMP_AMPLITUDE counts about mid-scale, one scan every 346 us;
        every other channel sits at mid-scale."""
        row, slot = divmod(i, len(channels))
        if slot != 0:
            return 2048
        return 2048 + round(CLAMP_AMPLITUDE * math.sin(2 * math.pi * 50 * SCAN_PERIOD_S * row))

    # -- USART1 receive through DMA1 channel 2 -------------------------------------------------
    def receive(self, data):
        """Bytes on the receive line, taken by the DMA channel; then the line goes idle."""
        ccr = self.get(DMA1 + 0x1C)
        if not (ccr & 1 and self.get(USART1 + 0x08) & (1 << 6)):
            return False
        count = self.get(DMA1 + 0x20)
        n = min(len(data), count)
        self.uc.mem_write(self.get(DMA1 + 0x28) + self.rx_size - count, bytes(data[:n]))
        self.put(DMA1 + 0x20, count - n)
        self.set_bits(USART1 + 0x1C, 1 << 4)  # IDLE
        if self.get(USART1) & (1 << 4):
            self.pending.add(16 + IRQ_USART1)
        return True

    # -- time -------------------------------------------------------------------------------------
    def tick_ms(self):
        self.ms += 1
        csr = self.get(SCS + 0x010)
        if csr & 1:
            self.set_bits(SCS + 0x010, 1 << 16)
            if csr & 2:
                self.pending.add(SYSTICK)
        if self.get(TIM6) & 1:  # CEN
            psc = self.get(TIM6 + 0x28) + 1
            self.tim6_sub += 4000  # timer clock cycles in a millisecond at 4 MHz
            steps, self.tim6_sub = divmod(self.tim6_sub, psc)
            cnt = self.get(TIM6 + 0x24) + steps
            arr = self.get(TIM6 + 0x2C)
            if arr and cnt > arr:
                cnt %= arr + 1
                self.set_bits(TIM6 + 0x10, 1)
            self.put(TIM6 + 0x24, cnt)
            if self.get(TIM6 + 0x10) & 1 and self.get(TIM6 + 0x0C) & 1:
                self.pending.add(16 + IRQ_TIM6)

    def priority(self, exc):
        if exc == SYSTICK:
            return self.get(SCS + 0xD20) >> 30
        irq = exc - 16
        return (self.get(SCS + 0x400 + 4 * (irq // 4)) >> (8 * (irq % 4) + 6)) & 3

    def deliverable(self, exc):
        return exc == SYSTICK or self.irq_enabled(exc - 16)


class SystemReset(Exception):
    """The firmware asked for a system reset (AIRCR SYSRESETREQ)."""


class Board:
    def __init__(self, elf):
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            subprocess.run(["arm-none-eabi-objcopy", "-O", "binary", elf, f.name], check=True)
            image = open(f.name, "rb").read()
        uc = self.uc = Uc(UC_ARCH_ARM, UC_MODE_THUMB | UC_MODE_MCLASS)
        uc.mem_map(FLASH_BASE, FLASH_SIZE)
        uc.mem_write(FLASH_BASE, image + b"\xff" * (FLASH_SIZE - len(image)))  # erased beyond the image
        uc.mem_map(RAM_BASE, RAM_SIZE)
        uc.mem_map(SYSMEM_BASE, SYSMEM_SIZE)
        uc.mem_write(0x1FFF7590, b"".join(w.to_bytes(4, "little") for w in UID_WORDS))
        uc.mem_write(0x1FFF75A8, TS_CAL1.to_bytes(2, "little") + VREFINT_CAL.to_bytes(2, "little"))
        uc.mem_write(0x1FFF75E0, (128).to_bytes(2, "little"))
        self.chip = Chip(uc)
        for base, size in ((0x40000000, 0x30000), (0x50000000, 0x2000), (0xE0000000, 0x100000)):
            uc.mmio_map(base, size, self._read, base, self._write, base)
        # WFI would halt the emulated core for good (nothing here wakes it): each one is stepped
        # over, and the harness lets time pass until an interrupt is pending.
        self.asleep = False
        self.resume_at = None
        for line in subprocess.run(["arm-none-eabi-objdump", "-d", elf], capture_output=True, text=True,
                                   check=True).stdout.splitlines():
            parts = line.split("\t")
            if len(parts) >= 3 and parts[2].strip() == "wfi":
                addr = int(parts[0].strip().rstrip(":"), 16)
                uc.hook_add(UC_HOOK_CODE, self._wfi, None, addr, addr)
            elif len(parts) >= 3 and parts[2].strip() == "cpsie":
                # Interrupts unmasked: a pending one is taken before the next instruction.
                addr = int(parts[0].strip().rstrip(":"), 16) + 2
                uc.hook_add(UC_HOOK_CODE, self._unmasked, None, addr, addr)
        self.active = []  # exceptions being handled, innermost last
        self.exit_pending = False
        self.reset_requested = False
        self.steps = 0
        uc.hook_add(UC_HOOK_INTR, self._intr)
        self.vector = lambda n: int.from_bytes(uc.mem_read(FLASH_BASE + 4 * n, 4), "little")
        uc.reg_write(UC_ARM_REG_SP, self.vector(0))
        self.pc = self.vector(1)

    def _read(self, uc, offset, size, base):
        return self.chip.read(base + offset, size)

    def _write(self, uc, offset, size, value, base):
        # An exception cannot cross the emulator's memory callback: a reset request stops the run
        # here and run_until raises it.
        try:
            self.chip.write(base + offset, size, value)
        except SystemReset:
            self.reset_requested = True
            uc.emu_stop()

    def _wfi(self, uc, address, size, _):
        self.asleep = True
        self.wake_at = address + size
        uc.emu_stop()

    def _unmasked(self, uc, address, size, _):
        if self._ready():
            self.resume_at = address
            uc.emu_stop()

    def _intr(self, uc, intno, _):
        if intno == EXCP_EXCEPTION_EXIT:
            self.exit_pending = True
        else:
            self.fault = intno
        uc.emu_stop()

    # -- exception entry and return --------------------------------------------------------------
    def enter(self, exc):
        uc = self.uc
        sp = uc.reg_read(UC_ARM_REG_SP)
        xpsr = uc.reg_read(UC_ARM_REG_XPSR)
        aligned = sp & 4
        sp = (sp - (4 if aligned else 0)) - 32
        frame = [uc.reg_read(r) for r in (UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3,
                                          UC_ARM_REG_R12, UC_ARM_REG_LR)]
        frame += [self.pc & ~1, (xpsr & ~(1 << 9)) | (1 << 9 if aligned else 0) | (1 << 24)]
        uc.mem_write(sp, b"".join(w.to_bytes(4, "little") for w in frame))
        uc.reg_write(UC_ARM_REG_SP, sp)
        uc.reg_write(UC_ARM_REG_LR, EXC_RETURN_THREAD)
        self.active.append(exc)
        self.chip.pending.discard(exc)
        self.chip.taken.append(exc)
        self.pc = self.vector(exc)

    def leave(self):
        uc = self.uc
        sp = uc.reg_read(UC_ARM_REG_SP)
        frame = [int.from_bytes(uc.mem_read(sp + 4 * i, 4), "little") for i in range(8)]
        for reg, v in zip((UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_R12,
                           UC_ARM_REG_LR), frame):
            uc.reg_write(reg, v)
        uc.reg_write(UC_ARM_REG_SP, sp + 32 + (4 if frame[7] & (1 << 9) else 0))
        uc.reg_write(UC_ARM_REG_XPSR, frame[7] & ~(1 << 9))
        self.active.pop()
        self.pc = frame[6] | 1

    def maybe_interrupt(self):
        chip = self.chip
        if self.uc.reg_read(UC_ARM_REG_PRIMASK) & 1:
            return
        ready = [e for e in chip.pending if chip.deliverable(e)]
        if not ready:
            return
        exc = min(ready, key=lambda e: (chip.priority(e), e))
        if self.active and chip.priority(exc) >= chip.priority(self.active[-1]):
            return  # no preemption by equal or lower priority
        self.enter(exc)

    # -- running ----------------------------------------------------------------------------------

    def run_until(self, done, limit_ms=20000):
        """Runs slices of a millisecond until done(chip) or the time limit."""
        uc = self.uc
        self.fault = None
        while not done(self.chip):
            if self.chip.ms > limit_ms:
                raise RuntimeError(f"no result within {limit_ms} ms of emulated time; console so far:\n"
                                   + self.chip.console.decode(errors="replace"))
            self.maybe_interrupt()
            try:
                uc.emu_start(self.pc | 1, 0xFFFFFFFF, count=INSNS_PER_MS)
            except UcError as e:
                raise RuntimeError(f"emulation stopped at {uc.reg_read(UC_ARM_REG_PC):#x}: {e}")
            self.pc = uc.reg_read(UC_ARM_REG_PC)
            if self.reset_requested:
                raise SystemReset()
            if self.resume_at is not None:
                self.pc, self.resume_at = self.resume_at | 1, None
                continue
            if self.exit_pending:
                self.exit_pending = False
                self.leave()
                continue
            if self.fault is not None:
                raise RuntimeError(f"exception {self.fault} at {self.pc:#x}")
            if self.asleep:  # until an interrupt is pending (taken or not, as PRIMASK says)
                self.asleep = False
                self.pc = self.wake_at | 1
                while not self._ready():
                    self.chip.tick_ms()
                    if self.chip.ms > limit_ms:
                        break
            else:
                self.chip.tick_ms()

    def _ready(self):
        return any(self.chip.deliverable(e) for e in self.chip.pending)

    def type_line(self, line):
        return self.chip.receive(line.encode())


def console_lines(chip):
    return chip.console.decode(errors="replace").replace("\r\n", "\n").split("\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("elf")
    ap.add_argument("--type", action="append", default=[])
    args = ap.parse_args()
    board = Board(args.elf)
    board.run_until(lambda chip: b"\nready" in chip.console and chip.console.endswith(b"\n") and
                    b"note:" in chip.console.split(b"\nready")[-1])
    for line in args.type:
        mark = len(board.chip.console)
        board.type_line(line + "\r\n")
        board.run_until(lambda chip: b"\nok: " in chip.console[mark:] or b"\nerr: " in chip.console[mark:])
        if line.startswith("sample"):  # the reading runs after the answer, from the main loop
            board.run_until(lambda chip: b"phase corr (rad)" in chip.console[mark:] and chip.console.endswith(b"\n"))
    sys.stdout.write(board.chip.console.decode(errors="replace"))


if __name__ == "__main__":
    main()
