#!/usr/bin/env python3
"""Checks that the front end's folders stand one above the other.

src/ui holds one folder per part of the front end. A file may include headers of its own
folder and of the folders below it, never of a folder above it or beside it:

    app -> main -> login, profile, options -> core -> include -> process

and no two source units (a .cpp with its .h) may include each other, directly or round
a longer circle. Prints one line per offending include and exits 1 when there is one.

    check_ui_includes.py [SRC_UI_DIR]
"""

import os
import re
import sys

# Rank of each folder; a file may include a header whose folder ranks lower, or its own.
RANKS = {
    "process": 0,
    "include": 1,
    "core": 2,
    "login": 3,
    "profile": 3,
    "options": 3,
    "main": 4,
    "app": 5,
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = (".cpp", ".h", ".c", "")


def folder_of(root, path):
    rel = os.path.relpath(path, root)
    return rel.split(os.sep)[0]


def collect(root):
    """Every source file under root, and a map from header name to its paths."""
    files = []
    headers = {}
    for dirpath, _dirs, names in os.walk(root):
        for name in names:
            path = os.path.join(dirpath, name)
            if not name.endswith((".cpp", ".h", ".c")) and name != "UIConstants":
                continue
            files.append(path)
            if name.endswith(".h") or name == "UIConstants":
                headers.setdefault(name, []).append(path)
    return sorted(files), headers


def unit_of(path):
    base, ext = os.path.splitext(path)
    return base if ext in (".cpp", ".h", ".c") else path


def circles(graph):
    """The groups of units that reach each other through includes (Tarjan's strongly
    connected components with more than one member), each sorted."""
    index = {}
    low = {}
    on_stack = set()
    stack = []
    groups = []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return sorted(groups)


def main(argv):
    root = os.path.abspath(argv[1] if len(argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", "..", "src", "ui"))
    files, headers = collect(root)
    problems = []
    graph = {}
    for path in files:
        folder = folder_of(root, path)
        if folder not in RANKS:
            problems.append(f"{os.path.relpath(path, root)}: a source outside the part folders")
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for name in INCLUDE.findall(text):
            base = os.path.basename(name)
            targets = headers.get(base, [])
            if not targets:
                continue  # a platform, generated or system header
            if len(targets) > 1:
                problems.append(f"{os.path.relpath(path, root)}: \"{name}\" names "
                                f"{len(targets)} headers")
                continue
            target = targets[0]
            tfolder = folder_of(root, target)
            if tfolder != folder and RANKS[tfolder] >= RANKS[folder]:
                problems.append(f"{os.path.relpath(path, root)}: includes "
                                f"{os.path.relpath(target, root)} ({folder} may not include "
                                f"{tfolder})")
            src, dst = unit_of(path), unit_of(target)
            if src != dst:
                graph.setdefault(src, set()).add(dst)
    for group in circles(graph):
        problems.append("include circle among: " +
                        ", ".join(os.path.relpath(u, root) for u in group))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
