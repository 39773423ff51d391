#!/usr/bin/env python3
"""Writes the release zip a player downloads.

    make_dist.py OUT.zip VERSION CHANGELOG.md NAME=PATH:TREATMENT...

Entries are stored in the order given, all dated noon of the release date that CHANGELOG.md
gives for VERSION ("## [1.0.0] - 2026-12-10"), so the same inputs always give the same bytes
and a player sees the release's date on every file.

Treatments:
  binary        the file as it is
  text          Windows line ends (CR LF)
  markdown      turned into plain text, Windows line ends
  player_part   only the parts between "<!-- README.txt -->" and "<!-- /README.txt -->",
                turned into plain text, Windows line ends (the README's part for players)
"""
import os
import re
import sys
import textwrap
import zipfile

PART_BEGIN = "<!-- README.txt -->"
PART_END = "<!-- /README.txt -->"
TABLE_SEPARATOR = re.compile(r"^\s*\|?(\s*:?-{3,}:?\s*\|)+\s*(:?-{3,}:?\s*)?$")


def release_date(changelog_path, version):
    with open(changelog_path, encoding="utf-8") as f:
        found = re.search(r"^## \[" + re.escape(version) + r"\] - (\d{4})-(\d\d)-(\d\d)\s*$",
                          f.read(), flags=re.M)
    if not found:
        raise SystemExit(f"{changelog_path}: no entry \"## [{version}] - YYYY-MM-DD\"")
    return tuple(int(part) for part in found.groups()) + (12, 0, 0)


def windows_lines(text):
    return "\r\n".join(text.replace("\r\n", "\n").split("\n")).encode("utf-8")


def player_part(markdown, path):
    parts = re.findall(re.escape(PART_BEGIN) + r"\n?(.*?)" + re.escape(PART_END), markdown,
                       flags=re.S)
    if not parts:
        raise SystemExit(f"{path}: no part between {PART_BEGIN} and {PART_END}")
    return "\n".join(part.rstrip("\n") + "\n" for part in parts)


def inline_plain(line):
    """One line without its inline markup; what stands in backticks is kept as written."""
    pieces = line.split("`")
    for i in range(0, len(pieces), 2):  # outside backticks
        piece = pieces[i]
        piece = re.sub(r"\[([^\]]+)\]\((https?://[^)]+)\)", r"\1 (\2)", piece)  # web: keep address
        piece = re.sub(r"\[([^\]]+)\]\([^)]*\)", r"\1", piece)  # into the repository: the words
        piece = re.sub(r"\*\*(.+?)\*\*", r"\1", piece)
        piece = re.sub(r"(?<![\w*])\*(?!\s)(.+?)(?<!\s)\*(?![\w*])", r"\1", piece)
        pieces[i] = piece
    return "".join(pieces)


def table_rows(lines):
    """A markdown table as a list: each row's first cell, then its other cells, each under its
    column's heading, wrapped to fit a text editor's window."""
    rows = [[inline_plain(cell.strip()) for cell in line.strip().strip("|").split("|")]
            for line in lines if not TABLE_SEPARATOR.match(line)]
    headings, out = rows[0], []
    for row in rows[1:]:
        out.append("- " + row[0])
        for heading, cell in zip(headings[1:], row[1:]):
            out.extend(textwrap.wrap(f"{heading}: {cell}", width=96, initial_indent="  ",
                                     subsequent_indent="  "))
    return out


def plain_text(markdown):
    """Markdown as a player reads it in Notepad: no markup, headings underlined, code indented,
    tables as lists."""
    out, table = [], []
    in_code = False
    for line in markdown.replace("\r\n", "\n").split("\n"):
        if not in_code and line.lstrip().startswith("|"):
            table.append(line)
            continue
        if table:
            out.extend(table_rows(table))
            table = []
        if line.startswith("```"):
            in_code = not in_code
            continue
        if in_code:
            out.append("    " + line)
            continue
        if line.strip().startswith("<!--") and line.strip().endswith("-->"):
            continue
        heading = re.match(r"^(#{1,6})\s+(.*)$", line)
        if heading:
            title = inline_plain(heading.group(2))
            out.append(title)
            if len(heading.group(1)) <= 2:
                out.append(("=" if len(heading.group(1)) == 1 else "-") * len(title))
            continue
        out.append(inline_plain(line))
    if table:
        out.extend(table_rows(table))
    while out and out[-1] == "":
        out.pop()
    text = "\n".join(out) + "\n"
    return re.sub(r"\n{3,}", "\n\n", text)


def entry_bytes(path, treatment):
    if treatment == "binary":
        with open(path, "rb") as f:
            return f.read()
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if treatment == "text":
        return windows_lines(text)
    if treatment == "markdown":
        return windows_lines(plain_text(text))
    if treatment == "player_part":
        return windows_lines(plain_text(player_part(text, path)))
    raise SystemExit(f"unknown treatment {treatment!r} for {path}")


def main(argv):
    if len(argv) < 5:
        raise SystemExit(__doc__)
    out, version, changelog, wanted = argv[1], argv[2], argv[3], argv[4:]
    stamp = release_date(changelog, version)
    entries = []
    for entry in wanted:
        name, _, rest = entry.partition("=")
        path, _, treatment = rest.rpartition(":")
        entries.append((name, entry_bytes(path, treatment)))
    temporary = out + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # made for Windows: no Unix permissions in the entry
            archive.writestr(info, data, compresslevel=9)
    os.replace(temporary, out)


if __name__ == "__main__":
    main(sys.argv)
