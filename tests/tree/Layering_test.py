#!/usr/bin/env python3
"""Fails when a source folder includes a header of a folder above it.

The order of each program's folders is the order of add_subdirectory() in its CMakeLists.txt,
bottom first, so the check and the build read one list. A program above the tool may use the
tool's layers up to the ceiling named below, and never another program's folders.
"""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = "OrvFlashPuc"
# The highest tool layer each other program may include; the card libraries also share the
# card makers' API declarations, which they implement.
CEILINGS = {"OrvCanSim": "canlink", "OrvCardLibs": "canlink", "OrvBusLog": "canlink",
            "OrvUpdate": "image"}
SHARED_HEADERS = {"OrvCardLibs": {"pccard/CanApi.h", "pccard/NiCanApi.h"}}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_order(program):
    """The program's folders, bottom first, as its CMakeLists.txt adds them."""
    cmake_file = os.path.join(ROOT, program, "CMakeLists.txt")
    if not os.path.exists(cmake_file):
        return []
    with open(cmake_file) as cmake:
        return [m.group(1) for m in re.finditer(r"^add_subdirectory\((\w+)\)", cmake.read(), re.M)]


def sources(folder):
    for base, _, names in os.walk(os.path.join(ROOT, folder)):
        for name in names:
            if name.endswith((".h", ".cpp")):
                yield os.path.join(base, name)


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as source:
        return INCLUDE.findall(source.read())


def allowed(program, part, header, tool_layers):
    """Whether a file in program/part/ may include header ("layer/X.h" or "Program/part/X.h")."""
    top, _, rest = header.partition("/")
    if top in tool_layers:
        ceiling = part if program == TOOL else CEILINGS[program]
        return tool_layers.index(top) <= tool_layers.index(ceiling) \
            or header in SHARED_HEADERS.get(program, ())
    if top.startswith("Orv"):
        parts = folder_order(program)
        used = rest.split("/")[0]
        return top == program and (part not in parts or used not in parts
                                   or parts.index(used) <= parts.index(part))
    return True


def violations():
    tool_layers = folder_order(TOOL)
    programs = [TOOL] + sorted(p for p in CEILINGS if os.path.isdir(os.path.join(ROOT, p)))
    for program in programs:
        for path in sources(program):
            relative = os.path.relpath(path, os.path.join(ROOT, program))
            part = relative.split(os.sep)[0] if os.sep in relative else ""
            for header in includes(path):
                if not allowed(program, part, header, tool_layers):
                    yield "%s includes %s" % (os.path.relpath(path, ROOT), header)


def main():
    found = list(violations())
    for line in found:
        print("above its layer: " + line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
