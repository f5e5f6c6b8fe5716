#!/usr/bin/env python3
"""What a stripped qz-setup.exe is made of, from the linker's map of the same link.

Usage: size-breakdown.py MAP EXE [RUNTIME_FLOOR_EXE [NO_STREAMS_EXE]] > breakdown.json

Every input section in the map is given to one part: the project's own code
and data (its objects, less the standard templates instantiated in them), the
standard templates instantiated in the project's objects, each runtime library
(libstdc++, libgcc, the MinGW-w64 CRT, winpthreads), the resources, and what
the linker makes itself (import tables, base relocations, headers, alignment).
Sizes are the bytes each takes in the file; the parts add up to the file size.
The floors, when given, are weighed beside it: an empty program with the same
runtime (its streams started) and imports, and one that uses strings,
containers and exceptions but no streams. Prints a JSON object; the text
report is made by bench-report.py.
"""
import json
import os
import re
import subprocess
import sys
from collections import defaultdict

FILE_ALIGN = 0x200
ENTRY = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
OUTPUT = re.compile(r"^(\.\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+))?")
# A standard template instantiated in a project object: its section is named
# after its mangled name, which starts in namespace std.
STD_TEMPLATE = re.compile(r"\$_ZN?K?(St|Sa|Ss|Sb|Si|So|Sd|NSt|NKSt|NSt7__cxx11|9__gnu_cxx|N9__gnu_cxx)")

RUNTIME_PARTS = [
    ("libstdc++", re.compile(r"libstdc\+\+\.a")),
    ("libgcc", re.compile(r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o")),
    ("winpthreads", re.compile(r"libwinpthread\.a|libpthread\.a")),
    ("MinGW-w64 CRT", re.compile(r"libmingw32\.a|libmingwex\.a|libmoldname\.a|crt2u?\.o|libmsvcrt\.a|"
                                 r"libucrt\w*\.a|libmingwthrd\.a")),
]


def part_of(section, source):
    if source == "dll stuff" or source.startswith("*"):
        return "linker"
    base = os.path.basename(source)
    for name, pattern in RUNTIME_PARTS:
        if pattern.search(base):
            return "runtime: " + name
    if re.search(r"\.res\)?$", base) or section.startswith(".rsrc"):
        return "resources"
    if re.search(r"lib(kernel32|user32|shell32|ole32|advapi32|gdi32|msi|psapi|version|comctl32)\.a", base):
        return "linker"  # import stubs and tables
    if STD_TEMPLATE.search(section):
        return "project: standard templates instantiated"
    return "project: own code and data"


def member(source):
    """libstdc++.a(locale-inst.o) from a full path, for the list of the largest members."""
    return os.path.basename(source.split("(")[0]) + ("(" + source.split("(", 1)[1] if "(" in source else "")


def read_map(path):
    """Output sections with their size, and the input entries (section, size, source) in each."""
    sections, current, pending = {}, None, None
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            line = line.rstrip("\n")
            match = OUTPUT.match(line)
            if match and not line.startswith(" "):
                current = match.group(1)
                size = int(match.group(3), 16) if match.group(3) else None
                sections[current] = {"size": size, "entries": []}
                pending = None
                continue
            if current is None:
                continue
            if line.startswith(" *fill*"):
                continue
            if pending:
                cont = CONTINUED.match(line)
                pending_name, pending = pending, None
                if cont:
                    sections[current]["entries"].append((pending_name, int(cont.group(2), 16), cont.group(3)))
                    continue
            entry = ENTRY.match(line)
            if entry and not entry.group(1).startswith("0x") and not entry.group(1).startswith("*"):
                sections[current]["entries"].append((entry.group(1), int(entry.group(3), 16), entry.group(4)))
                continue
            name = NAME_ONLY.match(line)
            if name and not name.group(1).startswith("*"):
                pending = name.group(1)
    return sections


def file_sections(exe):
    """Name -> (raw size in the file) of the sections objdump lists, and the header size."""
    out = subprocess.run(["objdump", "-h", exe], check=True, capture_output=True, text=True).stdout
    raw, first = {}, None
    for line in out.splitlines():
        fields = line.split()
        if len(fields) >= 7 and fields[0].isdigit():
            name, size, offset = fields[1], int(fields[2], 16), int(fields[5], 16)
            if offset:
                raw[name] = (size + FILE_ALIGN - 1) // FILE_ALIGN * FILE_ALIGN
                first = offset if first is None else min(first, offset)
    return raw, first or 0


def main():
    map_path, exe = sys.argv[1], sys.argv[2]
    floor = sys.argv[3] if len(sys.argv) > 3 else None
    no_streams = sys.argv[4] if len(sys.argv) > 4 else None
    total = os.path.getsize(exe)
    sections = read_map(map_path)
    raw, headers = file_sections(exe)
    parts, members = defaultdict(int), defaultdict(int)
    by_section = {}
    for name, size in raw.items():
        # objdump shortens names to 8 characters (.eh_fram): find the map's section.
        mapped = next((s for s in sections if s[:8] == name[:8]), None)
        entries = sections[mapped]["entries"] if mapped else []
        counted = 0
        for section, length, source in entries:
            part = part_of(section, source)
            parts[part] += length
            counted += length
            if part.startswith("runtime") or part.startswith("project"):
                members[member(source)] += length
        # What the entries leave of the section's room in the file: alignment.
        parts["linker"] += size - counted
        by_section[mapped or name] = size
    parts["linker"] += headers
    accounted = sum(parts.values())
    parts["linker"] += total - accounted  # anything past the last section
    result = {
        "exe": exe,
        "bytes": total,
        "sections": by_section,
        "parts": dict(sorted(parts.items(), key=lambda kv: -kv[1])),
        "largest_members": dict(sorted(members.items(), key=lambda kv: -kv[1])[:15]),
    }
    if floor and os.path.exists(floor):
        result["runtime_floor_bytes"] = os.path.getsize(floor)
    if no_streams and os.path.exists(no_streams):
        result["no_streams_bytes"] = os.path.getsize(no_streams)
    json.dump(result, sys.stdout, indent=2)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
