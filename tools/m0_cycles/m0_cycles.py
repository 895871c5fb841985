#!/usr/bin/python3
"""Cycle estimate of a harness run on the Cortex-M0+ (ARMv6-M, zero flash wait states at 4 MHz).

Emulates the target build of tools/m0_cycles/power_harness.cpp instruction by instruction (unicorn,
Thumb, M-class) and counts the instructions executed between benchMarker(1) and benchMarker(2),
weighting each with its Cortex-M0+ timing: 1 cycle for data processing and MUL (single-cycle
multiplier), 2 for loads/stores, 1+N for push/pop/ldm/stm (+1 when PC is loaded), 2 for taken
branches, 3 for BL, 2 for BX/BLX. Untaken conditional branches cost 1.

usage: m0_cycles.py harness.elf   (needs arm-none-eabi-objcopy and -nm on PATH)
"""
import subprocess
import sys
import tempfile
from collections import Counter

from unicorn import Uc, UC_ARCH_ARM, UC_MODE_THUMB, UC_MODE_MCLASS, UC_HOOK_CODE
from unicorn.arm_const import UC_ARM_REG_PC, UC_ARM_REG_SP, UC_ARM_REG_R0

BASE = 0x08000000
STACK_TOP = 0x20009000


def symbols(elf):
    out = subprocess.run(["arm-none-eabi-nm", "-C", elf], capture_output=True, text=True, check=True).stdout
    syms = {}
    for line in out.splitlines():
        parts = line.split(maxsplit=2)
        if len(parts) == 3:
            syms[parts[2]] = int(parts[0], 16)
    return syms


def function_ranges(elf):
    out = subprocess.run(["arm-none-eabi-nm", "-C", "-S", "--size-sort", elf], capture_output=True, text=True,
                         check=True).stdout
    ranges = []
    for line in out.splitlines():
        parts = line.split(maxsplit=3)
        if len(parts) == 4 and parts[2] in "tTwW":
            ranges.append((int(parts[0], 16), int(parts[1], 16), parts[3]))
    return ranges


def cycles_of(hw, hw2, pc_next_taken):
    """Cycles of one Thumb instruction (first halfword hw, second hw2 for 32-bit)."""
    top5 = hw >> 11
    if top5 in (0b11110,):  # BL (32-bit)
        return 3
    if (hw & 0xF000) == 0xD000:  # conditional branch
        return 2 if pc_next_taken else 1
    if (hw & 0xF800) == 0xE000:  # unconditional branch
        return 2
    if (hw & 0xFF00) == 0x4700:  # BX / BLX
        return 2
    if (hw & 0xFE00) in (0xB400, 0xBC00):  # PUSH / POP
        n = bin(hw & 0x1FF).count("1")
        pc_loaded = (hw & 0xFE00) == 0xBC00 and (hw & 0x100)
        return 1 + n + (1 if pc_loaded else 0)
    if (hw & 0xF000) == 0xC000:  # LDM / STM
        return 1 + bin(hw & 0xFF).count("1")
    if (hw & 0xF000) in (0x5000, 0x6000, 0x7000, 0x8000, 0x9000) or (hw & 0xF800) == 0x4800:
        return 2  # loads and stores (register, immediate, SP-relative, literal)
    if (hw & 0xFF87) == 0x4687:  # MOV pc, Rm
        return 2
    return 1


def main(elf):
    syms = symbols(elf)
    with tempfile.NamedTemporaryFile(suffix=".bin") as binf:
        subprocess.run(["arm-none-eabi-objcopy", "-O", "binary", elf, binf.name], check=True)
        image = open(binf.name, "rb").read()
    uc = Uc(UC_ARCH_ARM, UC_MODE_THUMB | UC_MODE_MCLASS)
    uc.mem_map(BASE, 0x40000)
    uc.mem_write(BASE, image)
    uc.mem_map(0x20000000, 0x10000)
    uc.reg_write(UC_ARM_REG_SP, STACK_TOP)
    marker = syms["benchMarker"] & ~1
    ranges = function_ranges(elf)
    state = {"on": False, "cycles": 0, "insns": 0, "prev": None}
    per_fn = Counter()

    def fn_of(addr):
        for start, size, name in ranges:
            if start <= addr < start + size:
                return name
        return "?"

    def hook(uc_, addr, size, _):
        prev = state["prev"]
        if prev is not None and state["on"]:
            paddr, phw, phw2, psize = prev
            taken = addr != paddr + psize
            c = cycles_of(phw, phw2, taken)
            state["cycles"] += c
            state["insns"] += 1
            per_fn[fn_of(paddr)] += c
        if addr == marker:
            which = uc_.reg_read(UC_ARM_REG_R0)
            state["on"] = which == 1
        hw = int.from_bytes(uc_.mem_read(addr, 2), "little")
        hw2 = int.from_bytes(uc_.mem_read(addr + 2, 2), "little") if size == 4 else 0
        state["prev"] = (addr, hw, hw2, size)

    uc.hook_add(UC_HOOK_CODE, hook)
    try:
        uc.emu_start(syms["_start"] | 1, 0, count=50_000_000)
    except Exception as e:  # the bkpt ends the run
        if "UC_ERR_EXCEPTION" not in str(e) and "INTNO" not in str(e):
            print("emulation stopped:", e)
    print(f"instructions {state['insns']}, cycles {state['cycles']}, "
          f"{state['cycles'] / 4e3:.1f} ms at 4 MHz")
    for name, c in per_fn.most_common(14):
        print(f"  {c:9d}  {name}")


if __name__ == "__main__":
    main(sys.argv[1])
