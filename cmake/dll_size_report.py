#!/usr/bin/env python3
"""What makes the DLL large, from the linker's map (the release writes build/release/corvane.map):
the bytes by section and by part, then the bytes each linked object brings into the image,
largest first, and for an archive member the file and symbol that pulled it in. Given the
shipped file too, also what each of its sections takes of the file (headers and the 512-byte
alignment of each section included, so the figures add up to the file's size).

    dll_size_report.py build/release/corvane.map [COUNT [build/release/shipped/corvane.dll]]
"""
import collections
import re
import subprocess
import sys

# The parts of the image, each a pattern of the objects it is made of; the first that matches
# names an object's part.
PARTS = [
    ("the module's own code", r"\.ltrans\.o$|\.cpp\.obj$"),
    ("the error classes and their strings",
     r"libstdc\+\+\.a\((cow-)?(stdexcept|string-inst)\.o|sso_string\.o|functexcept\.o|snprintf_lite\.o"),
    ("conforming scanf and printf",
     r"libmingwex\.a\(.*(mingw_|gdtoa|dtoa|strtod|strtof|strtopx|strto[iu]max|misc|gethex|hexnan|"
     r"hd_init|sum\.o|strnlen|wcsnlen)|libmsvcrt\.a\(.*(mbrtowc|wcrtomb|mb_cur_max|lc_locale)"),
    ("the unwinder", r"libgcc_eh\.a"),
    ("exception and allocation support", r"libstdc\+\+\.a|libgcc\.a\(gthr"),
]
OTHER_PART = "start-up, imports, resource and the rest"


def part_of(origin):
    for name, pattern in PARTS:
        if re.search(pattern, origin):
            return name
    return OTHER_PART


def file_bytes_by_section(dll):
    """Each section's share of the file: from its file offset to the next one's."""
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-h", dll], check=True,
                          capture_output=True, text=True).stdout
    starts = sorted((int(offset, 16), name) for name, offset in
                    re.findall(r"^\s*\d+ (\S+)\s+\S+\s+\S+\s+\S+\s+([0-9a-f]+)", dump, re.M)
                    if int(offset, 16))
    with open(dll, "rb") as f:
        end = len(f.read())
    shares = [("headers", starts[0][0])]
    shares += [(name, following - offset) for (offset, name), (following, _) in
               zip(starts, starts[1:] + [(end, None)])]
    return shares, end


def short(path):
    return re.sub(r"^.*/", "", path)


def main(map_path, count=25, dll=None):
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

    if dll:
        shares, end = file_bytes_by_section(dll)
        print(f"file bytes by section ({end} in all): " +
              ", ".join(f"{name} {size}" for name, size in shares))
    print("bytes by section: " + ", ".join(f"{name} {size}" for name, size in
                                            sections.most_common() if size >= 1024))
    parts = collections.Counter()
    for origin, size in sizes.items():
        parts[part_of(origin)] += size
    print("bytes by part: " + ", ".join(f"{name} {size}" for name, size in parts.most_common()))
    for origin, size in sizes.most_common(int(count)):
        why = reasons.get(origin, "")
        print(f"{size:8}  {origin}" + (f"\n          pulled in by {why}" if why else ""))


if __name__ == "__main__":
    main(*sys.argv[1:])
