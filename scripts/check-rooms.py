#!/usr/bin/env python3
"""Checks that the rooms of src/platform include only rooms below them.

The rooms, lowest first, each with its purpose. A source file of a room may
include headers of its own room and of the rooms listed before it, never of a
room listed after it; no source file lies at the top of src/platform.
Exits 1 and names each offending include or file.
"""
import pathlib
import re
import sys

ROOMS = [
    ("base", "text conversion, safe file reads, the program's folder, the environment, windows.h"),
    ("store", "registry trees behind one interface: the types, the in-memory tree, overlays"),
    ("formats", "files that hold registries: regf hives, text registries, the per-user file"),
    ("api", "the handle-based registry API and its stand-in over stores"),
    ("images", "registry images of other machines and the files inside them"),
    ("computer", "this computer's registry: the image that stands for it, or advapi32"),
    ("icons", "icons read from program, library and icon files"),
    ("objects", "the object test: creating a class's object, in a helper process"),
]


def main() -> int:
    platform = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src/platform")
    rank = {name: index for index, (name, _) in enumerate(ROOMS)}
    include = re.compile(r'^\s*#\s*include\s+"platform/([^/"]+)/')
    problems = []
    for path in sorted(platform.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(platform)
        if len(relative.parts) == 1:
            problems.append(f"{relative}: a source file outside the rooms")
            continue
        room = relative.parts[0]
        if room not in rank:
            problems.append(f"{relative}: the room '{room}' is not in the list")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = include.match(line)
            if match and rank.get(match.group(1), len(ROOMS)) > rank[room]:
                problems.append(f"{relative}:{number}: includes the higher room '{match.group(1)}'")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
