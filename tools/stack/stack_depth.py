#!/usr/bin/python3
"""Worst-case stack depth of the target image, checked against its stack reservation.

Frames: the compiler's stack usage of each of our functions as linked (-fcallgraph-info=su at the
link-time optimisation, the data of -fstack-usage with the function's linker name: the files
IMAGE.ltrans*.ci beside the image), and for the run-time
library's functions, which come without it, the frame read from their code (PUSH, SUB SP, and
stack adjustments through a literal). Calls: read from the linked image (BL, tail branches to
another function), so inlining and the library are as linked. A call through a register (BLX/BX
Rn) may reach any function whose address the image holds (in a table, a literal pool or a vector):
the tool assumes the deepest of those and names the caller. Recursion and frames of dynamic size
are named and make the depth unbounded.

The worst case adds up: the deepest path from the reset handler, then one exception frame and the
deepest handler per preemption level (SysTick at priority 3 can be preempted by the priority-0
interrupts, which do not preempt each other). An exception frame is 8 words plus 4 bytes of
alignment.

usage: stack_depth.py IMAGE.elf [--margin BYTES] [--targets FILE]
Fails (exit 1) when the worst case plus the margin exceeds the reservation (__stack_reserve_end -
__stack_reserve_start), or when a depth cannot be bounded.
"""
import argparse
import glob
import re
import subprocess
import sys

EXCEPTION_FRAME = 8 * 4 + 4
# Handlers by preemption level, lowest priority first (priorities set by the bring-up).
LEVELS = [("SysTick (priority 3)", ["SysTick_Handler", "PendSV_Handler", "SVC_Handler"]),
          ("priority 0", ["DMA1_Channel1_IRQHandler", "DMA1_Channel2_3_IRQHandler", "USART1_IRQHandler",
                          "TIM6_IRQHandler", "HardFault_Handler", "NMI_Handler", "Default_Handler"])]


def run(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True, check=True).stdout


def read_image(elf):
    syms = {}
    funcs = {}  # start -> (name, size)
    for line in run("arm-none-eabi-nm", "-S", elf).splitlines():
        p = line.split()
        if len(p) == 4 and p[2] in "tTwW":
            start, size = int(p[0], 16) & ~1, int(p[1], 16)
            funcs.setdefault(start, (p[3], size))
            syms[p[3]] = start
        elif len(p) >= 3:
            syms[p[-1]] = int(p[0], 16)
    words = {}
    for line in run("arm-none-eabi-objdump", "-s", "-j", ".isr_vector", "-j", ".text", "-j", ".rodata",
                    "-j", ".data", "-j", ".init_array", elf).splitlines():
        m = re.match(r"^ ([0-9a-f]+) ((?:[0-9a-f]{8} ?){1,4})", line)
        if m:
            base = int(m.group(1), 16)
            for i, w in enumerate(m.group(2).split()):
                words[base + 4 * i] = int.from_bytes(bytes.fromhex(w), "little")
    return syms, funcs, words


def disassemble(elf, funcs, words, estack):
    """Per function: frame bytes from its code, callees, whether it calls through a register."""
    info = {}
    current = None
    literal = {}
    by_name = {name: start for start, (name, _) in funcs.items()}
    for line in run("arm-none-eabi-objdump", "-d", "--no-show-raw-insn", elf).splitlines():
        m = re.match(r"^([0-9a-f]{8}) <(.+)>:$", line)
        if m:
            name = m.group(2)
            current = info.setdefault(name, {"frame": 0, "calls": set(), "indirect": False, "dynamic": False})
            literal = {}
            continue
        m = re.match(r"^\s+([0-9a-f]+):\s+(\S+)\s*(.*)$", line)
        if not m or current is None:
            continue
        op, args = m.group(2), m.group(3)
        if op == "push":
            current["frame"] += 4 * len(args.split("}")[0].strip("{").split(","))
        elif op == "sub" and args.startswith("sp, #"):
            current["frame"] += int(args.split("#")[1].split()[0])
        elif op == "ldr" and "[pc," in args:
            lm = re.search(r"@ \(([0-9a-f]+)", args)
            if lm:
                literal[args.split(",")[0]] = words.get(int(lm.group(1), 16))
        elif op in ("add", "sub", "mov") and re.match(r"sp, r\d+$", args.split("@")[0].strip()):
            reg = args.split(",")[1].split()[0]
            val = literal.get(reg)
            if op == "mov" and val == estack:
                pass  # the reset handler setting the initial stack pointer
            elif op == "add" and val is not None and val >= 0x80000000:
                current["frame"] += 0x100000000 - val
            elif op == "sub" and val is not None and val < 0x80000000:
                current["frame"] += val
            else:
                current["dynamic"] = True
        elif op == "bl":
            tm = re.search(r"<([^+>]+)>", args)
            if tm:
                current["calls"].add(tm.group(1))
        elif op == "blx" and not args.startswith("lr"):
            current["indirect"] = True  # (BX Rn is a return after POP {Rn} in this code)
        elif op in ("b", "b.n", "b.w") or (op.startswith("b") and op[1:3] in ("eq", "ne", "cs", "cc", "mi", "pl", "hi", "ls", "ge", "lt", "gt", "le")):
            tm = re.search(r"<([^+>]+)>", args)
            if tm and tm.group(1) in by_name and tm.group(1) != name:
                current["calls"].add(tm.group(1))  # a tail call
    return info


def indirect_targets(path, address_taken, init_array):
    """{(caller, parent or None): set of targets}"""
    spec = {}
    for line in open(path):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        head, targets = line.split(":", 1)
        m = re.match(r"^([^\[]+)(?:\[(.+)\])?$", head.strip())
        found = set()
        for t in targets.split():
            if t == "@init_array":
                found |= init_array
            elif t.startswith("/"):
                found |= {f for f in address_taken if re.search(t.strip("/"), f)}
            elif t in address_taken:
                found.add(t)
        spec[(m.group(1), m.group(2))] = found
    return spec


def lookup(spec, name, parent):
    """The targets listed for a caller (exact name, or a /regular expression/ over names)."""
    for key in ((name, parent), (name, None)):
        if key in spec:
            return spec[key]
    for (caller, context), targets in spec.items():
        if caller.startswith("/") and re.search(caller.strip("/"), name) and context in (None, parent):
            return targets
    return None


def compiler_frames(elf):
    frames, dynamic = {}, set()
    paths = glob.glob(f"{elf}.ltrans*.ci")
    if not paths:
        raise SystemExit(f"stack_depth: no {elf}.ltrans*.ci (link with -flto -fcallgraph-info=su)")
    for path in paths:
        for m in re.finditer(r'node: \{ title: "([^"]+)" label: "[^"]*\\n(\d+) bytes \(([^)]*)\)"', open(path).read()):
            name = m.group(1).rsplit(":", 1)[-1]
            frames[name] = max(frames.get(name, 0), int(m.group(2)))
            if "dynamic" in m.group(3) and "bounded" not in m.group(3):
                dynamic.add(name)
    return frames, dynamic


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("elf")
    ap.add_argument("--margin", type=int, default=512)
    ap.add_argument("--targets", default=__file__.rsplit("/", 1)[0] + "/indirect_targets.txt")
    args = ap.parse_args()
    syms, funcs, words = read_image(args.elf)
    info = disassemble(args.elf, funcs, words, syms["_estack"])
    cframes, cdynamic = compiler_frames(args.elf)
    starts = {start: name for start, (name, _) in funcs.items()}
    sections = {}
    for line in run("arm-none-eabi-objdump", "-h", args.elf).splitlines():
        p = line.split()
        if len(p) >= 4 and p[0].isdigit():
            sections[p[1]] = (int(p[3], 16), int(p[2], 16))

    def inside(section):
        start, size = sections.get(section, (0, 0))
        return {a for a in words if start <= a < start + size}

    vectors = inside(".isr_vector")  # reached by exceptions only
    init = inside(".init_array")
    address_taken = {starts[w & ~1] for a, w in words.items() if w & 1 and (w & ~1) in starts and a not in vectors}
    init_array = {starts[words[a] & ~1] for a in init if (words[a] & ~1) in starts}
    spec = indirect_targets(args.targets, address_taken, init_array)

    def frame(name):
        return cframes.get(name, info.get(name, {}).get("frame", 0))

    memo, stack_names, problems = {}, [], []

    def depth(name, parent=None):
        key = (name, parent) if (name, parent) in spec else name
        if key in memo:
            return memo[key]
        if key in stack_names:
            names = [k if isinstance(k, str) else k[0] for k in stack_names[stack_names.index(key):]]
            problems.append("recursion: " + " -> ".join(names + [name]))
            return 0, [name]
        stack_names.append(key)
        fi = info.get(name, {"calls": set(), "indirect": False, "dynamic": False})
        if (name in cdynamic) if name in cframes else fi["dynamic"]:
            problems.append(f"frame of dynamic size: {name}")
        best, path = 0, []
        callees = set(fi["calls"])
        if fi["indirect"]:
            targets = lookup(spec, name, parent)
            if targets is None:
                problems.append(f"call through a register not listed in {args.targets}: {name}")
            else:
                callees |= targets
        for c in sorted(callees):
            if c == name:
                continue
            d, p = depth(c, name)
            if d > best:
                best, path = d, p
        stack_names.pop()
        memo[key] = (frame(name) + best, [name] + path)
        return memo[key]

    main_depth, main_path = depth("Reset_Handler")
    total = main_depth
    report = [f"thread (from Reset_Handler): {main_depth} bytes"]
    report += [f"    {frame(n):5d}  {n}" for n in main_path]
    for level, handlers in LEVELS:
        best = max(((depth(h)[0], h) for h in handlers if h in info), default=(0, None))
        total += EXCEPTION_FRAME + best[0]
        report.append(f"{level}: exception frame {EXCEPTION_FRAME} + {best[1]} {best[0]} bytes")
        report += [f"    {frame(n):5d}  {n}" for n in depth(best[1])[1]] if best[1] else []
    reserve = syms["__stack_reserve_end"] - syms["__stack_reserve_start"]
    indirect = sorted(n for n, fi in info.items() if fi["indirect"] and n in memo)
    report.append("calls through a register (targets as listed in " + args.targets.rsplit("/", 1)[-1] + "): " +
                  (", ".join(indirect) or "none"))
    for p in sorted(set(problems)):
        report.append("unbounded: " + p)
    report.append(f"worst case {total} bytes of the {reserve} reserved; margin asked {args.margin}, "
                  f"left {reserve - total}")
    print("\n".join(report))
    if problems or total + args.margin > reserve:
        print("stack_depth: the worst case does not fit the reservation with the margin, or is unbounded")
        sys.exit(1)


if __name__ == "__main__":
    main()
