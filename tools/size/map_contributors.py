#!/usr/bin/python3
"""Flash and RAM of the target image by contributor, from the linker's map file.

usage: map_contributors.py IMAGE.map [--top N]
Prints the input files (our objects by source, library members by library) that put the most
bytes into flash (code, read-only data, initial values of data) and into RAM (data, bss).
"""
import argparse
import collections
import re

FLASH_SECTIONS = (".text", ".rodata", ".isr_vector", ".ARM", ".init_array", ".preinit_array", ".data")
RAM_SECTIONS = (".data", ".bss")


def contributors(map_path):
    flash, ram = collections.Counter(), collections.Counter()
    text = open(map_path).read()
    body = text.split("Linker script and memory map", 1)[-1]
    pending = None
    for line in body.splitlines():
        m = re.match(r"^ (\.[\w.$-]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)", line)
        if not m:
            m2 = re.match(r"^ (\.[\w.$-]+)$", line)
            pending = m2.group(1) if m2 else (pending if re.match(r"^\s+0x", line) else None)
            m = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)", line) if pending else None
            if not m:
                continue
            section, addr, size, origin = pending, int(m.group(1), 16), int(m.group(2), 16), m.group(3)
            pending = None
        else:
            section, addr, size, origin = m.group(1), int(m.group(2), 16), int(m.group(3), 16), m.group(4)
        if size == 0 or addr == 0:
            continue
        name = origin
        lib = re.match(r".*/(lib[\w+-]+\.a)\((.+)\)$", origin)
        if lib:
            name = f"{lib.group(1)}: {lib.group(2)}"
        else:
            name = re.sub(r".*CMakeFiles/[^/]+\.dir/", "", name).replace(".obj", "")
        if section.startswith(FLASH_SECTIONS) and addr < 0x20000000:
            flash[name] += size
        if section.startswith(RAM_SECTIONS):
            ram[name] += size
            if section.startswith(".data"):
                flash[name] += size
    return flash, ram


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("map")
    ap.add_argument("--top", type=int, default=25)
    args = ap.parse_args()
    flash, ram = contributors(args.map)
    print(f"flash by contributor (of {sum(flash.values())} bytes placed):")
    for name, size in flash.most_common(args.top):
        print(f"  {size:6d}  {name}")
    print(f"RAM by contributor (of {sum(ram.values())} bytes, stack reservation not included):")
    for name, size in ram.most_common(8):
        print(f"  {size:6d}  {name}")


if __name__ == "__main__":
    main()
