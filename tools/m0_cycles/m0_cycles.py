#!/usr/bin/python3
"""Instruction and cycle counts of the firmware's cases on the Cortex-M0+ (ARMv6-M, zero flash wait
states at 4 MHz).

Runs a test image built for QEMU's micro:bit layout (tests/target: the cycle-count image) in an
ARMv6-M emulator (Unicorn, Thumb, M-class) from its reset vector, with semihosting for its output
and exit. Between cycleCaseBegin(name) and cycleCaseEnd() every executed instruction is counted and
weighted with its Cortex-M0+ timing: 1 cycle for data processing and MULS (single-cycle multiplier),
2 for loads and stores, 1+N for PUSH/POP/LDM/STM (3+N for a POP that loads PC),
2 for taken branches, 3 for BL, 2 for BX/BLX; an untaken conditional branch costs 1. A case counts
the instructions after cycleCaseBegin returns up to the call of cycleCaseEnd (the call included).

usage: m0_cycles.py IMAGE.elf [--profile] [--max CASE_PREFIX=CYCLES ...]
                              [--qemu-cross-check CASE_PREFIX]
  --profile            the functions that take the most cycles, per case
  --max                fail (exit 1) when the case's estimated cycles exceed the bound
  --qemu-cross-check   count the same case's instructions in QEMU (one instruction per block, an
                       execution trace) and fail unless both emulators agree exactly
Needs arm-none-eabi-objcopy and -nm on PATH.
"""
import argparse
import bisect
import os
import subprocess
import sys
import tempfile

from unicorn import Uc, UcError, UC_ARCH_ARM, UC_MODE_THUMB, UC_MODE_MCLASS, UC_HOOK_CODE, UC_HOOK_INTR
from unicorn.arm_const import UC_ARM_REG_PC, UC_ARM_REG_SP, UC_ARM_REG_R0, UC_ARM_REG_R1

FLASH = (0x00000000, 0x40000)
RAM = (0x20000000, 0x4000)
SYS_OPEN, SYS_WRITE, SYS_EXIT = 0x01, 0x05, 0x18
APPLICATION_EXIT = 0x20026


def symbols(elf):
    out = subprocess.run(["arm-none-eabi-nm", "-C", "-S", elf], capture_output=True, text=True, check=True).stdout
    addr, funcs = {}, []
    for line in out.splitlines():
        parts = line.split(maxsplit=3)
        if len(parts) == 3:
            addr[parts[2]] = int(parts[0], 16)
        elif len(parts) == 4:
            addr[parts[3]] = int(parts[0], 16)
            if parts[2] in "tTwW":
                funcs.append((int(parts[0], 16) & ~1, int(parts[1], 16), parts[3]))
    funcs.sort()
    return addr, funcs


def cycles_of(hw, taken):
    """Cortex-M0+ cycles of one Thumb instruction with first halfword hw."""
    if (hw >> 11) == 0b11110:  # BL (32-bit)
        return 3
    if (hw & 0xF000) == 0xD000:  # conditional branch
        return 2 if taken else 1
    if (hw & 0xF800) == 0xE000:  # unconditional branch
        return 2
    if (hw & 0xFF00) == 0x4700:  # BX / BLX
        return 2
    if (hw & 0xFE00) in (0xB400, 0xBC00):  # PUSH / POP
        n = bin(hw & 0x1FF).count("1")
        pc_loaded = (hw & 0xFE00) == 0xBC00 and (hw & 0x100)
        return 1 + n + (1 if pc_loaded else 0)  # POP {.., pc}: 3 + N
    if (hw & 0xF000) == 0xC000:  # LDM / STM
        return 1 + bin(hw & 0xFF).count("1")
    if (hw & 0xF000) in (0x5000, 0x6000, 0x7000, 0x8000, 0x9000) or (hw & 0xF800) == 0x4800:
        return 2  # loads and stores (register, immediate, SP-relative, literal)
    if (hw & 0xFF87) == 0x4687:  # MOV pc, Rm
        return 2
    return 1


class Run:
    def __init__(self, elf, profile):
        self.addr, self.funcs = symbols(elf)
        self.starts = [f[0] for f in self.funcs]
        self.profile = profile
        self.cases = []  # (name, instructions, cycles, {function: cycles})
        self.output = []
        self.exit_reason = None
        with tempfile.NamedTemporaryFile(suffix=".bin") as binf:
            subprocess.run(["arm-none-eabi-objcopy", "-O", "binary", elf, binf.name], check=True)
            image = open(binf.name, "rb").read()
        self.uc = Uc(UC_ARCH_ARM, UC_MODE_THUMB | UC_MODE_MCLASS)
        self.uc.mem_map(*FLASH)
        self.uc.mem_write(FLASH[0], image)
        self.uc.mem_map(*RAM)
        self.begin = self.addr["cycleCaseBegin"] & ~1
        self.end = self.addr["cycleCaseEnd"] & ~1

    def function_of(self, pc):
        i = bisect.bisect_right(self.starts, pc) - 1
        if i >= 0 and pc < self.funcs[i][0] + max(self.funcs[i][1], 2):
            return self.funcs[i][2]
        return "?"

    def c_string(self, at):
        data = bytes(self.uc.mem_read(at, 128))
        return data.split(b"\0", 1)[0].decode()

    def run(self):
        uc = self.uc
        sp = int.from_bytes(uc.mem_read(0, 4), "little")
        pc = int.from_bytes(uc.mem_read(4, 4), "little")
        uc.reg_write(UC_ARM_REG_SP, sp)
        state = {"case": None, "prev": None, "insns": 0, "cycles": 0, "fn": {}}

        def count(uc_, address, size, _):
            prev = state["prev"]
            if prev is not None:
                paddr, phw, psize = prev
                c = cycles_of(phw, address != paddr + psize)
                state["insns"] += 1
                state["cycles"] += c
                if self.profile:
                    name = self.function_of(paddr)
                    state["fn"][name] = state["fn"].get(name, 0) + c
            if address == self.end:
                self.cases.append((state["case"], state["insns"], state["cycles"], state["fn"]))
                state["case"] = None
                state["prev"] = None
                return
            if address == self.begin:
                state.update(case=self.c_string(uc_.reg_read(UC_ARM_REG_R0)), insns=0, cycles=0, fn={}, prev=None)
                return
            if state["case"] is not None:
                hw = int.from_bytes(uc_.mem_read(address, 2), "little")
                state["prev"] = (address, hw, size)

        def semihost(uc_, intno, _):
            pc_ = uc_.reg_read(UC_ARM_REG_PC)
            op, arg = uc_.reg_read(UC_ARM_REG_R0), uc_.reg_read(UC_ARM_REG_R1)
            if op == SYS_OPEN:
                uc_.reg_write(UC_ARM_REG_R0, 1)
            elif op == SYS_WRITE:
                _, ptr, n = (int.from_bytes(uc_.mem_read(arg + 4 * i, 4), "little") for i in range(3))
                self.output.append(bytes(uc_.mem_read(ptr, n)).decode(errors="replace"))
                uc_.reg_write(UC_ARM_REG_R0, 0)
            elif op == SYS_EXIT:
                self.exit_reason = arg
                uc_.emu_stop()
                return
            uc_.reg_write(UC_ARM_REG_PC, (pc_ + 2) | 1)

        # Counting hook: only inside a case, from the instruction after cycleCaseBegin's return.
        uc.hook_add(UC_HOOK_CODE, count)
        uc.hook_add(UC_HOOK_INTR, semihost)
        try:
            uc.emu_start(pc | 1, 0xFFFFFFFF, count=200_000_000)
        except UcError as e:
            raise SystemExit(f"m0_cycles: emulation stopped: {e} at {uc.reg_read(UC_ARM_REG_PC):#x}")
        if self.exit_reason != APPLICATION_EXIT:
            raise SystemExit(f"m0_cycles: the image did not exit cleanly (reason {self.exit_reason})")


def qemu_instructions(elf, begin, end, case_index):
    """Instructions of the case_index-th case counted from QEMU's execution trace."""
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "trace.log")
        subprocess.run(["qemu-system-arm", "-M", "microbit", "-display", "none", "-monitor", "none", "-serial",
                        "null", "-icount", "shift=0", "-singlestep", "-d", "exec,nochain", "-D", log,
                        "-semihosting-config", "enable=on,target=native", "-kernel", elf],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen, start = -1, None
        with open(log) as f:
            for i, line in enumerate(f):
                if not line.startswith("Trace"):
                    continue
                pc = int(line.split("[", 1)[1].split("/", 2)[1], 16)
                if pc == begin:
                    seen += 1
                    if seen == case_index:
                        start = i
                elif pc == end and start is not None:
                    return i - start - 1  # the lines strictly between, less cycleCaseBegin's return
    raise SystemExit("m0_cycles: the case was not found in QEMU's trace")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("elf")
    ap.add_argument("--profile", action="store_true")
    ap.add_argument("--max", action="append", default=[])
    ap.add_argument("--qemu-cross-check")
    args = ap.parse_args()
    run = Run(args.elf, args.profile)
    run.run()
    failed = False
    print(f"{'case':48} {'instructions':>12} {'cycles':>10} {'ms at 4 MHz':>11}")
    for name, insns, cycles, fns in run.cases:
        print(f"{name:48} {insns:12d} {cycles:10d} {cycles / 4e3:11.2f}")
        if args.profile:
            for fn, c in sorted(fns.items(), key=lambda kv: -kv[1])[:12]:
                print(f"    {c:9d}  {fn}")
    for bound in args.max:
        prefix, limit = bound.rsplit("=", 1)
        hits = [c for c in run.cases if c[0].startswith(prefix)]
        if not hits:
            print(f"m0_cycles: no case '{prefix}'")
            failed = True
        for name, _, cycles, _ in hits:
            if cycles > int(limit):
                print(f"m0_cycles: '{name}' takes {cycles} cycles, more than its bound of {limit}")
                failed = True
    if args.qemu_cross_check:
        index = next((i for i, c in enumerate(run.cases) if c[0].startswith(args.qemu_cross_check)), None)
        if index is None:
            raise SystemExit(f"m0_cycles: no case '{args.qemu_cross_check}'")
        q = qemu_instructions(args.elf, run.begin, run.end, index)
        u = run.cases[index][1]
        print(f"cross-check '{run.cases[index][0]}': Unicorn {u} instructions, QEMU {q}")
        failed |= q != u
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
