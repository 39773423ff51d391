#!/usr/bin/env python3
"""What makes the DLL large, from the linker's map (the release writes build/release/corvane.map):
the bytes each linked object brings into the image, largest first, and for an archive member
the file and symbol that pulled it in.

    dll_size_report.py build/release/corvane.map [COUNT]
"""
import collections
import re
import sys


def short(path):
    return re.sub(r"^.*/", "", path)


def main(map_path, count=25):
    text = open(map_path, encoding="utf-8", errors="replace").read()
    head, _, rest = text.partition("Discarded input sections")
    _, _, layout = rest.partition("Linker script and memory map")

    # "archive(member)\n    by_file (symbol)": why each archive member is in.
    reasons = {}
    lines = head.splitlines()
    for line, following in zip(lines, lines[1:]):
        if re.match(r"^\S.*\(.*\)$", line) and following.startswith(" "):
            reasons[short(line)] = short(following.strip())

    sizes = collections.Counter()
    sections = collections.Counter()
    pending = None
    for line in layout.splitlines():
        named = re.match(r"^ (\.[\w.$~]+)\s*$", line)
        if named:
            pending = named.group(1)
            continue
        entry = re.match(r"^ (\.[\w.$~]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if entry:
            section, address, size, origin = entry.groups()
        else:
            entry = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if not (entry and pending):
                pending = None
                continue
            section, (address, size, origin) = pending, entry.groups()
        pending = None
        if section.startswith(".debug") or int(address, 16) == 0:
            continue
        sizes[short(origin)] += int(size, 16)
        sections[re.match(r"\.[A-Za-z_]*", section).group(0)] += int(size, 16)

    print("bytes by section: " + ", ".join(f"{name} {size}" for name, size in
                                            sections.most_common() if size >= 1024))
    for origin, size in sizes.most_common(int(count)):
        why = reasons.get(origin, "")
        print(f"{size:8}  {origin}" + (f"\n          pulled in by {why}" if why else ""))


if __name__ == "__main__":
    main(*sys.argv[1:])
