#!/usr/bin/env python3
"""The firmware's module graph: printed, written as Graphviz, and checked.

    check_modules.py SOURCE_DIR MANIFEST NOTE DOT

MANIFEST is written by the build (cmake/modules.cmake): which files each module owns and which
modules it declares it uses. Fails when a file includes a header of a module its own module does
not declare, when a module declares one whose headers it never includes, or when the declared graph
has a circle that NOTE (docs/modules.md) does not name.
"""
import re
import sys
from collections import defaultdict
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# A named circle in the note: a list item that starts with its modules in bold, "- **a, b**".
NAMED = re.compile(r"^- \*\*([A-Za-z0-9_, ]+)\*\*", re.M)


def read_manifest(path):
    files, deps, order = defaultdict(list), defaultdict(set), []
    for line in Path(path).read_text().splitlines():
        kind, module, value = line.split("\t")
        if kind == "module":
            order.append(module)
        elif kind == "file":
            files[module].append(value)
        elif kind == "depends":
            deps[module].add(value)
    return order, files, deps


def circles(order, deps):
    """Strongly connected components of more than one module (Tarjan)."""
    index, low, stack, on, result, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(deps.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = set()
            while True:
                w = stack.pop()
                on.discard(w)
                comp.add(w)
                if w == v:
                    break
            if len(comp) > 1:
                result.append(frozenset(comp))

    for v in order:
        if v not in index:
            visit(v)
    return result


def main():
    src, manifest, note, dot = (Path(a) for a in sys.argv[1:5])
    order, files, deps = read_manifest(manifest)
    owner = {}
    errors = []
    for module in order:
        for f in files[module]:
            if f.endswith(".h"):
                name = Path(f).name
                if name in owner:
                    errors.append(f"{name} belongs to both {owner[name]} and {module}")
                owner[name] = module

    for module in order:
        uses = set()
        for f in files[module]:
            for header in INCLUDE.findall((src / f).read_text()):
                used = owner.get(Path(header).name)
                if used and used != module:
                    uses.add(used)
                    if used not in deps[module]:
                        errors.append(f"{f} includes {header} of module {used}, which {module} does not declare")
        # A dependency nobody includes would only widen the graph and hide a circle's cause.
        for unused in sorted(deps[module] - uses):
            errors.append(f"{module} declares {unused} but includes none of its headers")

    named = {frozenset(m.strip() for m in found.split(",")) for found in NAMED.findall(note.read_text())}
    found = circles(order, deps)
    for c in found:
        if c not in named:
            errors.append("circle not named in the note: " + ", ".join(sorted(c)))
    for c in named - set(found):
        print("note: the named circle " + ", ".join(sorted(c)) + " no longer exists")

    print("firmware modules (module -> modules it uses):")
    for module in order:
        print(f"  {module:12s} -> {' '.join(sorted(deps[module])) or '-'}")
    for c in found:
        print("  circle: " + ", ".join(sorted(c)))
    lines = ["digraph modules {", "  rankdir=BT;"]
    lines += [f'  "{m}" -> "{d}";' for m in order for d in sorted(deps[m])]
    lines.append("}")
    dot.write_text("\n".join(lines) + "\n")

    for e in errors:
        print("error: " + e, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
