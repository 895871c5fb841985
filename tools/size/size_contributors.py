#!/usr/bin/python3
"""The biggest contributors to the target image's flash and RAM.

Our code is optimised as a whole at link time, so the linker's map shows one object for it: each
function and object is attributed to its source file through the image's debug information
(nm -l), the run-time library members through the map's archive list.

usage: size_contributors.py IMAGE.elf IMAGE.map [--top N]
"""
import argparse
import collections
import os
import re
import subprocess


def library_members(map_path):
    """{symbol: 'libX.a: member.o'} for the archive members the map lists as linked."""
    owner = {}
    text = open(map_path).read()
    body = text.split("Linker script and memory map", 1)[-1]
    current = None
    for line in body.splitlines():
        m = re.match(r"^ \S+\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S+)$", line) or \
            re.match(r"^\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S+)$", line)
        if m:
            lib = re.match(r".*/(lib[\w+-]+\.a)\((.+)\)$", m.group(1))
            current = f"{lib.group(1)}: {lib.group(2)}" if lib else None
            continue
        s = re.match(r"^\s+0x[0-9a-f]+\s+(\S+)$", line)
        if s and current:
            owner[s.group(1)] = current
    return owner


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("elf")
    ap.add_argument("map")
    ap.add_argument("--top", type=int, default=20)
    args = ap.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    owners = library_members(args.map)
    flash, ram = collections.Counter(), collections.Counter()
    out = subprocess.run(["arm-none-eabi-nm", "-S", "-l", args.elf], capture_output=True, text=True,
                         check=True).stdout
    for line in out.splitlines():
        parts = line.split("\t")
        head = parts[0].split()
        if len(head) != 4:
            continue
        addr, size, kind, name = int(head[0], 16), int(head[1], 16), head[2], head[3]
        where = parts[1].rsplit(":", 1)[0] if len(parts) > 1 else owners.get(name, "(no source: " + name + ")")
        if "/newlib/" in where or "/libgcc/" in where:  # a run-time library source, by its file
            where = ("C library: " if "/newlib/" in where else "libgcc: ") + os.path.basename(where)
        elif where.startswith("/"):
            where = os.path.relpath(where, root)
        if addr >= 0x20000000:
            ram[where] += size
            if kind in "dD":
                flash[where] += size  # initial values
        else:
            flash[where] += size
    print(f"flash by source ({sum(flash.values())} bytes in sized symbols; the rest is literal pools, "
          f"strings merged by the linker and alignment):")
    for where, size in flash.most_common(args.top):
        print(f"  {size:6d}  {where}")
    print("RAM by source (the stack reservation not included):")
    for where, size in ram.most_common(6):
        print(f"  {size:6d}  {where}")


if __name__ == "__main__":
    main()
