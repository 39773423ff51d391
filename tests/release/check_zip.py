#!/usr/bin/env python3
"""Checks the release zip against what it promises a player.

    check_zip.py ZIP SHIPPED_DIR SOURCE_DIR VERSION

- the six files, in this order, and nothing else;
- corvane.dll and corvane-check.exe are the shipped (and tested) builds, byte for byte;
- the text files have Windows line ends throughout;
- aimingSets.dat is the repository's sample and LICENSE.txt its licence, line ends aside;
- README.txt is the README's part for players as plain text: every heading of that part, no
  markup, nothing of the developers' part;
- CHANGELOG.txt has the entry of this version;
- every entry is dated noon of that version's release date in CHANGELOG.md, so the same sources
  always give the same zip and a player sees the release's date on every file.
"""
import re
import sys
import zipfile

NAMES = ["corvane.dll", "corvane-check.exe", "aimingSets.dat", "README.txt", "LICENSE.txt",
         "CHANGELOG.txt"]
TEXT_NAMES = NAMES[2:]
PART = re.compile(r"<!-- README\.txt -->(.*?)<!-- /README\.txt -->", re.S)


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def unix_lines(data):
    return data.replace(b"\r\n", b"\n")


def main(zip_path, shipped_dir, source_dir, version):
    faults = []
    with zipfile.ZipFile(zip_path) as archive:
        names = archive.namelist()
        if names != NAMES:
            faults.append(f"entries {names}, expected {NAMES}")
        files = {name: archive.read(name) for name in names}
        dates = {entry.filename: entry.date_time for entry in archive.infolist()}

    released = re.search(r"^## \[" + re.escape(version) + r"\] - (\d{4})-(\d\d)-(\d\d)\s*$",
                         read(f"{source_dir}/CHANGELOG.md", "r"), re.M)
    if not released:
        faults.append(f"CHANGELOG.md has no entry for {version}")
    else:
        stamp = tuple(int(part) for part in released.groups()) + (12, 0, 0)
        for name, date in dates.items():
            if date != stamp:
                faults.append(f"{name} is dated {date}, not the release's {stamp}")

    for name in ["corvane.dll", "corvane-check.exe"]:
        if files.get(name) != read(f"{shipped_dir}/{name}"):
            faults.append(f"{name} is not the shipped build in {shipped_dir}")

    for name in TEXT_NAMES:
        data = files.get(name, b"")
        lone = data.replace(b"\r\n", b"").count(b"\n") + data.replace(b"\r\n", b"").count(b"\r")
        if b"\r\n" not in data or lone:
            faults.append(f"{name}: {lone} line ends that are not CR LF")

    for name, source in [("aimingSets.dat", "aimingSets.dat"), ("LICENSE.txt", "LICENSE")]:
        if unix_lines(files.get(name, b"")) != unix_lines(read(f"{source_dir}/{source}")):
            faults.append(f"{name} differs from {source} in more than its line ends")

    readme = unix_lines(files.get("README.txt", b"")).decode("utf-8")
    player_part = "".join(PART.findall(read(f"{source_dir}/README.md", "r")))
    for heading in re.findall(r"^#+\s+(.*)$", player_part, re.M):
        plain = heading.replace("`", "").replace("**", "")
        if not re.search(r"^" + re.escape(plain) + r"$", readme, re.M):
            faults.append(f"README.txt lacks the heading {plain!r}")
    for markup in ["](", "**", "`", "<!--", "./dev"]:
        if markup in readme:
            faults.append(f"README.txt holds {markup!r}: markup or the developers' part")

    changelog = files.get("CHANGELOG.txt", b"").decode("utf-8")
    if not re.search(r"^\[" + re.escape(version) + r"\] - \d{4}-\d\d-\d\d\r$", changelog, re.M):
        faults.append(f"CHANGELOG.txt has no entry for {version}")

    for fault in faults:
        print(fault)
    if not faults:
        print(f"{zip_path}: {len(names)} files as promised")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
