#!/usr/bin/python3
"""The real image boots on the emulated core (tools/boot/boot_image.py) and configures the chip
as the reference manual's registers say it must be for this board.

Checked: the console text of the start (banner, build identity, "ready") written byte by byte to
USART1_TDR; the register state when the console first speaks (the end of the bring-up) against
values written here from the STM32G0x0 reference manual's register descriptions (RM0454) and the
board's bring-up (clock tree, flash latency, every pin of the pin table, DMA channels and their
requests, ADC, RTC, SPI1, USART1, TIM6, SysTick, interrupt priorities and enables); lines typed
into the receive path (USART1 receiving through DMA1 channel 2, idle-line interrupt) and their
answers, including a reading that runs on TIM6 and the ADC's DMA completion interrupts.

usage: boot_test.py IMAGE.elf BUILD_META_HEADER
"""
import math
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "boot"))
import boot_image  # noqa: E402

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)


def bits(pin, width, value):
    return value << (pin * width)


# -- the pin table of the board, as GPIO register values --------------------------------------
INPUT, OUTPUT, ALTERNATE, ANALOG = 0, 1, 2, 3
NO_PULL, PULL_UP = 0, 1
# Port A: PA0-PA4 ADC inputs (analog), PA5-PA7 SPI1 (AF0), PA8 radio supply (output), PA9/PA10
# USART1 (AF1, PA10 pulled up), PA11/PA12/PA15 radio DIO inputs, PA13/PA14 serial-wire debug
# (their reset state: AF, pull-up / pull-down, very high speed on PA13).
PORTS = {
    "A": (0x50000000, {0: ANALOG, 1: ANALOG, 2: ANALOG, 3: ANALOG, 4: ANALOG, 5: ALTERNATE, 6: ALTERNATE,
                       7: ALTERNATE, 8: OUTPUT, 9: ALTERNATE, 10: ALTERNATE, 11: INPUT, 12: INPUT,
                       13: ALTERNATE, 14: ALTERNATE, 15: INPUT}),
    # Port B: PB0, PB2, PB5, PB6, PB7, PB10 outputs; PB11 (radio BUSY) input; the rest analog.
    # PB1 leaves the GPIO bring-up as an output driven low, then the ADC's set-up makes it the
    # analog input of channel 9 (the inductive pick-up), which a driven pin would short.
    "B": (0x50000400, {0: OUTPUT, 1: ANALOG, 2: OUTPUT, 3: ANALOG, 4: ANALOG, 5: OUTPUT, 6: OUTPUT, 7: OUTPUT,
                       8: ANALOG, 9: ANALOG, 10: OUTPUT, 11: INPUT, 12: ANALOG, 13: ANALOG, 14: ANALOG,
                       15: ANALOG}),
    "C": (0x50000800, {p: ANALOG for p in range(16)}),
    # Port D: PD0-PD2 analog, PD3 the provisioning button (input).
    "D": (0x50000C00, {0: ANALOG, 1: ANALOG, 2: ANALOG, 3: INPUT, **{p: ANALOG for p in range(4, 16)}}),
    "F": (0x50001400, {p: ANALOG for p in range(16)}),
}
PULLS = {"A": {10: PULL_UP, 13: PULL_UP, 14: 2}}
# OSPEEDR: "low speed" is 01 (00 is very low); set where a pin is configured as an output or an
# alternate function (PB1 keeps the speed of its output days); PA13 keeps its reset 11.
LOW_SPEED = {"A": [5, 6, 7, 8, 9, 10], "B": [0, 1, 2, 5, 6, 7, 10]}
ALTERNATE_FUNCTIONS = {"A": {5: 0, 6: 0, 7: 0, 9: 1, 10: 1}}
DRIVEN_LOW = {"A": [8], "B": [0, 1, 2, 6, 7, 10]}


def expected_registers():
    """(name, address, mask, value)"""
    e = []
    for port, (base, modes) in PORTS.items():
        e.append((f"GPIO{port}_MODER", base + 0x00, 0xFFFFFFFF, sum(bits(p, 2, m) for p, m in modes.items())))
        e.append((f"GPIO{port}_OTYPER push-pull", base + 0x04, 0xFFFF, 0))
        speed = sum(bits(p, 2, 1) for p in LOW_SPEED.get(port, [])) + (bits(13, 2, 3) if port == "A" else 0)
        e.append((f"GPIO{port}_OSPEEDR", base + 0x08, 0xFFFFFFFF, speed))
        e.append((f"GPIO{port}_PUPDR", base + 0x0C, 0xFFFFFFFF,
                  sum(bits(p, 2, v) for p, v in PULLS.get(port, {}).items())))
        for pin in DRIVEN_LOW.get(port, []):
            e.append((f"GPIO{port}_ODR pin {pin} low", base + 0x14, 1 << pin, 0))
        afs = ALTERNATE_FUNCTIONS.get(port, {})
        e.append((f"GPIO{port}_AFRL", base + 0x20, 0xFFFFFFFF, sum(bits(p, 4, a) for p, a in afs.items() if p < 8)))
        e.append((f"GPIO{port}_AFRH", base + 0x24, 0xFFFFFFFF,
                  sum(bits(p - 8, 4, a) for p, a in afs.items() if p >= 8)))
    RCC, FLASH, PWR = 0x40021000, 0x40022000, 0x40007000
    e += [
        # Clock tree: HSI16 on, divided by 4 (HSIDIV = 010); HSE and PLL off; HSITRIM at its
        # default 64; SYSCLK = HSISYS (SW = 000), AHB and APB undivided; LSI on; flash latency 0.
        ("RCC_CR HSION, HSIDIV /4, HSE and PLL off", RCC + 0x00, (1 << 8) | (7 << 11) | (1 << 16) | (1 << 24),
         (1 << 8) | (2 << 11)),
        ("RCC_ICSCR HSITRIM 64", RCC + 0x04, 0x7F << 8, 64 << 8),
        ("RCC_CFGR SW HSISYS, HPRE /1, PPRE /1", RCC + 0x08, 0x7 | (0xF << 8) | (0x7 << 12), 0),
        ("RCC_CSR LSION", RCC + 0x60, 1, 1),
        ("FLASH_ACR LATENCY 0", FLASH + 0x00, 0x7, 0),
        ("PWR_CR1 VOS range 1", PWR + 0x00, 3 << 9, 1 << 9),
        # Clocks of what the board uses: GPIO A, B, C, D, F; DMA1; PWR, RTC APB, TIM6; SYSCFG,
        # SPI1, USART1, ADC. USART1 kernel clock = PCLK (USART1SEL = 00).
        ("RCC_IOPENR GPIOA..D, GPIOF", RCC + 0x34, 0x2F, 0x2F),
        ("RCC_AHBENR DMA1EN", RCC + 0x38, 1, 1),
        ("RCC_APBENR1 PWREN, RTCAPBEN, TIM6EN", RCC + 0x3C, (1 << 28) | (1 << 10) | (1 << 4),
         (1 << 28) | (1 << 10) | (1 << 4)),
        ("RCC_APBENR2 SYSCFGEN, SPI1EN, USART1EN, ADCEN", RCC + 0x40, 1 | (1 << 12) | (1 << 14) | (1 << 20),
         1 | (1 << 12) | (1 << 14) | (1 << 20)),
        ("RCC_CCIPR USART1SEL PCLK", RCC + 0x54, 0x3, 0),
        # RTC clocked by LSI and enabled; 24-hour format, output off, prescalers 127 and 255.
        ("RCC_BDCR RTCSEL LSI, RTCEN", RCC + 0x5C, (3 << 8) | (1 << 15), (2 << 8) | (1 << 15)),
        ("RTC_PRER PREDIV_A 127, PREDIV_S 255", 0x40002810, 0x007F7FFF, (127 << 16) | 255),
        # RTC_CR: FMT 0 (24 h), OSEL 00 and COE 0 (no output), POL 0 (high), TAMPALRM_TYPE 1
        # (open drain), TAMPALRM_PU 0, OUT2EN 0 (no remap).
        ("RTC_CR", 0x40002818, (1 << 6) | (3 << 21) | (1 << 23) | (1 << 20) | (1 << 30) | (1 << 29) | (1 << 31),
         1 << 30),
        # DMA1 channel 1: ADC, peripheral to memory, memory increment, 16/16 bits, normal, low
        # priority. Channel 2: USART1 receive, memory increment, 8/8 bits, normal, high priority,
        # running (the console's receive-to-idle) from USART1_RDR.
        ("DMA1_CCR1 ADC channel settings", 0x40020008, 0x7FF0, (1 << 7) | (1 << 8) | (1 << 10)),
        ("DMAMUX_C0CR request ADC (5)", 0x40020800, 0x7F, 5),
        ("DMA1_CCR2 USART1 receive settings", 0x4002001C, 0x7FF0, (1 << 7) | (2 << 12)),
        ("DMA1_CCR2 EN", 0x4002001C, 1, 1),
        ("DMA1_CPAR2 USART1_RDR", 0x40020024, 0xFFFFFFFF, 0x40013824),
        ("DMAMUX_C1CR request USART1_RX (50)", 0x40020804, 0x7F, 50),
        # ADC: clock PCLK/2 (CKMODE = 01), 12 bits right-aligned, forward scan, continuous, no
        # discontinuous mode, software trigger, one-shot DMA, overrun keeps the old data, no
        # auto-wait or auto-off, oversampling off, high trigger frequency; SMP1 = 160.5 cycles
        # (111), SMP2 = 1.5 cycles (000), channel 0 on SMP1; regulator on.
        ("ADC_CFGR1", 0x4001240C, 0x0021FFFF, 1 << 13),
        ("ADC_CFGR2 CKMODE PCLK/2, LFTRIG off, OVSE off", 0x40012410, (3 << 30) | (1 << 29) | 1, 1 << 30),
        ("ADC_SMPR SMP1 160.5, SMP2 1.5, channel 0 on SMP1", 0x40012414, 0x77 | (1 << 8), 0x7),
        ("ADC_CHSELR channel 0", 0x40012428, 0x7FFFF, 1),
        ("ADC_CR ADVREGEN", 0x40012408, 1 << 28, 1 << 28),
        # SPI1: master, 2 lines, CPOL 0, CPHA 0, software NSS (SSM, SSI), baud /32 (BR = 100),
        # MSB first, CRC off, 8-bit data (DS = 0111) with an 8-bit receive threshold, Motorola
        # frame (TI off), NSS pulse on; CRC polynomial 7.
        ("SPI1_CR1", 0x40013000, 0xFFBF, (1 << 2) | (4 << 3) | (1 << 8) | (1 << 9)),
        ("SPI1_CR2", 0x40013004, 0x1F1F, (7 << 8) | (1 << 12) | (1 << 3)),
        ("SPI1_CRCPR 7", 0x40013010, 0xFFFF, 7),
        # USART1: 115200 baud from 4 MHz with 16x oversampling: BRR = 4000000 / 115200 = 34.7,
        # rounded 35; 8 data bits, no parity, 1 stop bit, transmit and receive, FIFO off,
        # three-sample bit detection, no flow control, FIFO thresholds 1/8, prescaler /1;
        # receiving by DMA.
        ("USART1_BRR 35", 0x4001380C, 0xFFFF, 35),
        ("USART1_CR1 8N1, TE, RE, UE, FIFO off, OVER8 0", 0x40013800,
         (1 << 28) | (1 << 12) | (1 << 15) | (1 << 10) | (1 << 29) | 0xD, 0xD),
        ("USART1_CR2 1 stop bit", 0x40013804, 3 << 12, 0),
        ("USART1_CR3 thresholds 1/8, three samples, no flow control, DMAR", 0x40013808,
         (7 << 29) | (7 << 25) | (1 << 11) | (3 << 8) | (1 << 6), 1 << 6),
        ("USART1_PRESC /1", 0x4001382C, 0xF, 0),
        # TIM6: 1 kHz count at 4 MHz (PSC = 4 MHz / 1 kHz - 1 = 3999), period 0 for the delay
        # timer, no auto-reload preload, TRGO reset.
        ("TIM6_PSC 3999", 0x40001028, 0xFFFF, 3999),
        ("TIM6_ARR 0", 0x4000102C, 0xFFFF, 0),
        ("TIM6_CR1 ARPE off", 0x40001000, 1 << 7, 0),
        ("TIM6_CR2 MMS reset", 0x40001004, 7 << 4, 0),
        # Interrupts: DMA1 channel 1 (9), DMA1 channels 2-3 (10), TIM6 (17), USART1 (27) enabled,
        # nothing else (not the RTC); all four at priority 0; SysTick at priority 3 (top two
        # bits of its byte), 1 ms at 4 MHz (reload 3999), processor clock, interrupt on.
        ("NVIC_ISER", 0xE000E100, 0xFFFFFFFF, (1 << 9) | (1 << 10) | (1 << 17) | (1 << 27)),
        ("NVIC_IPR2 IRQ 9, 10 priority 0", 0xE000E408, 0x00FFFF00, 0),
        ("NVIC_IPR4 IRQ 17 priority 0", 0xE000E410, 0x0000FF00, 0),
        ("NVIC_IPR6 IRQ 27 priority 0", 0xE000E418, 0xFF000000, 0),
        ("SCB_SHPR3 SysTick priority 3", 0xE000ED20, 0xFF000000, 0xC0000000),
        ("SYST_RVR 3999", 0xE000E014, 0xFFFFFF, 3999),
        ("SYST_CSR ENABLE, TICKINT, CLKSOURCE", 0xE000E010, 0x7, 0x7),
    ]
    return e


def written_in_order(writes, address, values):
    """True when the register took these values in this order (other writes between allowed)."""
    seen = [v for a, v in writes if a == address]
    i = 0
    for v in seen:
        if i < len(values) and v == values[i]:
            i += 1
    return i == len(values)


def lines_of(data):
    return data.decode(errors="replace").replace("\r", "").split("\n")


def main():
    elf, meta = sys.argv[1], sys.argv[2]
    identity = dict(re.findall(r'#define (BUILD_\w+) "([^"]*)"', open(meta).read()))
    board = boot_image.Board(elf)
    chip = board.chip
    board.run_until(lambda c: b"\nready" in c.console and b"\nnote:" in c.console.split(b"\nready")[-1] and
                    c.console.endswith(b"\n"))

    # The start on the console, in order.
    boot = lines_of(chip.console)
    want = ["=== Orvane demo shell ===",
            f"git rev: {identity['BUILD_GIT_REVISION']}  dirty: {identity['BUILD_GIT_DIRTY']}  "
            f"built: {identity['BUILD_TIMESTAMP']}",
            "ready"]
    at = [boot.index(w) if w in boot else -1 for w in want]
    check(all(i >= 0 for i in at) and at == sorted(at), f"start lines {want} in order; got:\n" + "\n".join(boot))
    check("Reset cause: PWRRSTF (power-on/brownout reset)" in boot, "a power-on start reported as such")
    check("VRef Calibration, read 1504 (0x05E0) VDDA estimated at (3301) mV" in boot,
          "supply from the reference: 3000 mV x 1655 / 1504 = 3301 mV")

    # The bring-up, as the registers stood when the console first spoke.
    registers, nwrites = chip.at_first_output
    for name, address, mask, value in expected_registers():
        got = registers.get(address, boot_image.RESET.get(address, 0))
        check(got & mask == value, f"{name}: {got & mask:#010x}, expected {value:#010x} (mask {mask:#010x})")
    writes = chip.writes[:nwrites]
    check(written_in_order(writes, 0x40001028, [0, 3999]), "TIM6_PSC: 0 (TIM6 set-up), then 3999 (delay timer)")
    check(written_in_order(writes, 0x4000102C, [0xFFFF, 0]), "TIM6_ARR: 65535 (TIM6 set-up), then 0 (delay timer)")
    check(written_in_order(writes, 0xE000E014, [15999, 3999]),
          "SysTick reload: 1 ms at the 16 MHz reset clock, then at 4 MHz")
    check(written_in_order(writes, 0x40002824, [0xCA, 0x53]), "RTC_WPR unlocked with its two keys")

    # Lines through the receive path, answers through the transmit register.
    def typed(line, until):
        mark = len(chip.console)
        check(board.type_line(line + "\r\n"), f"'{line}' taken by the receive DMA")
        board.run_until(lambda c: until(c.console[mark:]))
        return lines_of(chip.console[mark:])

    help_text = boot[boot.index("ready") + 1:]
    help_text = help_text[:next(i for i, l in enumerate(help_text) if l.startswith("note:")) + 1]
    reply = typed("help", lambda out: b"\nok: help" in out)
    framed = ["#" * 26, "> help"]
    check(reply[:2] == framed, f"'help' echoed between rules; got {reply[:3]}")
    body = [l for l in reply[2:] if l]
    check(body[:len(help_text)] == help_text and body[len(help_text)] == "ok: help",
          "'help' answers the command list of the start, then 'ok: help'")

    reply = typed("print vref", lambda out: b"\nok: print" in out)
    check("  VRef (V)                 |         3.301" in reply, f"'print vref' shows 3.301 V; got {reply}")

    taken_before = len(chip.taken)
    reply = typed("sample hp", lambda out: b"phase corr (rad)" in out and out.endswith(b"\n"))
    check("ok: sample hp" in reply, "'sample hp' accepted")
    # Hand computation: a sine of 400 counts RMS 400 / sqrt(2) = 282.84, plus 0.5; in volts at
    # 3.3012 V full scale, through 20 ohm and the 1000:1 clamp: 11.418 A.
    expected_a = (400 / math.sqrt(2) + 0.5) / 4096 * (3.0 * 1655 / 1504) / 20 * 1000
    current = [l for l in reply if l.startswith("  current raw (A)")]
    got_a = float(current[0].split("|")[1]) if current else float("nan")
    check(abs(got_a - expected_a) < 0.02, f"clamp current {got_a} A, expected {expected_a:.3f} A within 0.02 A")
    taken = chip.taken[taken_before:]
    check(16 + 17 in taken and 16 + 9 in taken, "the reading woke on TIM6 and on the ADC's DMA completion")

    print(f"boot_test: {len(expected_registers())} register checks, console start and 3 commands; "
          f"{chip.ms} ms emulated, exceptions taken {len(chip.taken)}")
    for f in FAILURES:
        print("FAIL:", f)
    sys.exit(1 if FAILURES else 0)


if __name__ == "__main__":
    main()
