#!/usr/bin/env python3
"""Checks that product code keeps its layers: each folder includes only folders below it.

Reads the #include "folder/..." lines of core/, gui/ and cli/. Folders on one line of LAYERS are
peers and may not include each other; a folder may include any folder on an earlier line of its own
library or of a library it builds on. Exit status 1 lists every include that breaks the order, and
any cycle between folders.
"""
import os
import re
import sys

# Bottom to top. (library, folders)
LAYERS = [
    ("core", ["fileio", "image"]),
    ("core", ["video"]),
    ("core", ["output", "selector"]),
    ("gui", ["framework"]),
    ("gui", ["doc", "dialogs"]),
    ("gui", ["view"]),
    ("gui", ["app"]),
]
# Programs: they may include any folder of the libraries they link, and nothing includes them.
PROGRAMS = {"cli": "core"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')


def main(root):
    rank, library = {}, {}
    for i, (lib, folders) in enumerate(LAYERS):
        for f in folders:
            rank[f], library[f] = i, lib
    edges, problems = {}, []
    sources = []
    for top in ("core", "gui"):
        for folder in sorted(os.listdir(os.path.join(root, top))):
            path = os.path.join(root, top, folder)
            if not os.path.isdir(path):
                continue
            if folder not in rank or library[folder] != top:
                problems.append(f"{top}/{folder}: folder missing from the layer list in {sys.argv[0]}")
                continue
            sources += [(folder, os.path.join(path, n)) for n in sorted(os.listdir(path))]
    for prog in PROGRAMS:
        path = os.path.join(root, prog)
        sources += [(prog, os.path.join(path, n)) for n in sorted(os.listdir(path))]

    for folder, path in sources:
        if not path.endswith((".h", ".cpp", ".def")):
            continue
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m or m.group(1) == folder:
                    continue
                target = m.group(1)
                where = f"{os.path.relpath(path, root)}:{number}"
                edges.setdefault(folder, set()).add(target)
                if target in PROGRAMS:
                    problems.append(f"{where}: includes the program folder {target}/")
                elif target not in rank:
                    continue  # not one of ours (a system or toolkit header with a slash)
                elif folder in PROGRAMS:
                    if library[target] != PROGRAMS[folder]:
                        problems.append(f"{where}: {folder}/ links only {PROGRAMS[folder]}, not {target}/")
                elif library[folder] == "core" and library[target] != "core":
                    problems.append(f"{where}: core/{folder} includes gui/{target}")
                elif rank[target] >= rank[folder]:
                    problems.append(f"{where}: {folder}/ includes {target}/, which is not below it")

    # Any cycle between folders, found by depth-first search.
    state = {}

    def visit(node, stack):
        state[node] = 1
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                problems.append("include cycle: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, stack + [nxt])
        state[node] = 2

    for node in sorted(edges):
        if node not in state:
            visit(node, [node])

    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"layers: {len(sources)} files, {sum(len(v) for v in edges.values())} folder dependencies, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
