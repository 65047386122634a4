#!/usr/bin/env python3
"""Checks every quoted #include of the library's sources against the layer table (DEPS.list).

A file belongs to the longest folder of the table that holds it; it may include files of its own
layer and of the layers that its section lists. Each include against the plan is reported as
file:line with the layer it reached. With --diagram README.md, the diagram between the README's
layer markers must also be the one that the table draws.

Usage: check_layers.py ROOT [--diagram README.md] [--print-diagram]
"""

import argparse
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE_SUFFIXES = {".h", ".cpp", ".inc"}
DIAGRAM_BEGIN = "<!-- layers: begin -->"
DIAGRAM_END = "<!-- layers: end -->"


def read_table(path):
    """The layers in the table's order, each with the layers it may include."""
    layers = {}
    current = None
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        section = re.fullmatch(r"\[([\w/.-]+)\]", line)
        if section:
            current = section.group(1)
            if current in layers:
                sys.exit(f"{path}:{number}: layer {current} is listed twice")
            layers[current] = []
        elif current is None:
            sys.exit(f"{path}:{number}: '{line}' stands before any [layer]")
        else:
            layers[current].append(line)
    for layer, allowed in layers.items():
        for target in allowed:
            if target not in layers:
                sys.exit(f"{path}: [{layer}] allows {target}, which is no layer of the table")
    return layers


def layer_of(relative, layers):
    """The longest layer folder that holds the path, or None."""
    best = None
    for layer in layers:
        if relative == layer or relative.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def violations(root, layers):
    found = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        relative = path.relative_to(root).as_posix()
        if relative.startswith(("build", ".git/")):
            continue
        layer = layer_of(relative, layers)
        if layer is None:
            continue
        allowed = {layer, *layers[layer]}
        lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            target = layer_of(match.group(1), layers)
            if target is not None and target not in allowed:
                found.append(
                    f"{relative}:{number}: layer {layer} may not include {match.group(1)} "
                    f"(layer {target}); it may include {', '.join(sorted(allowed))}")
    return found


def diagram(layers):
    """One line per layer, in the table's order: the layer and what it stands on."""
    width = max(len(layer) for layer in layers)
    rows = []
    for layer, allowed in layers.items():
        rows.append(f"{layer:<{width}}  ->  {', '.join(allowed) if allowed else '(nothing)'}".rstrip())
    return "\n".join(rows)


def readme_diagram(readme):
    text = readme.read_text(encoding="utf-8")
    try:
        block = text.split(DIAGRAM_BEGIN, 1)[1].split(DIAGRAM_END, 1)[0]
    except IndexError:
        sys.exit(f"{readme}: no {DIAGRAM_BEGIN} ... {DIAGRAM_END} block")
    return block.strip().removeprefix("```text").removesuffix("```").strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root", type=pathlib.Path)
    parser.add_argument("--diagram", type=pathlib.Path, help="a README whose layer diagram must match the table")
    parser.add_argument("--print-diagram", action="store_true", help="print the diagram that the table draws")
    args = parser.parse_args()

    layers = read_table(args.root / "DEPS.list")
    if args.print_diagram:
        print(diagram(layers))
        return 0
    problems = violations(args.root, layers)
    if args.diagram and readme_diagram(args.diagram) != diagram(layers):
        problems.append(f"{args.diagram}: the layer diagram is not the one DEPS.list draws; "
                        f"put this between its markers:\n{diagram(layers)}")
    for problem in problems:
        print(problem)
    print(f"layers: {len(problems)} include(s) against the plan")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
