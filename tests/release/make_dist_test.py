#!/usr/bin/env python3
"""What cmake/make_dist.py makes of the README, the changelog and the text files: a table of
markdown lines and the plain text a player reads in Notepad, and the parts it refuses."""
import os
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "cmake"))
import make_dist  # noqa: E402


class plain_text(unittest.TestCase):
    CASES = [
        ("heading 1 underlined", "# corvane", "corvane\n=======\n"),
        ("heading 2 underlined", "## The `log`", "The log\n-------\n"),
        ("heading 3 as it is", "### Added", "Added\n"),
        ("bold and emphasis", "Press **X**, *then* Z", "Press X, then Z\n"),
        ("what stands in backticks stays", "`*.dat`, `*x*` and `**y**`", "*.dat, *x* and **y**\n"),
        ("link into the repository: the words", "see [settings](docs/settings.md).",
         "see settings.\n"),
        ("web link keeps its address", "[Keep](https://keepachangelog.com/)",
         "Keep (https://keepachangelog.com/)\n"),
        ("an asterisk between blanks stays", "2 * 3", "2 * 3\n"),
        ("code block indented, fences gone", "```sh\n./x a\n```", "    ./x a\n"),
        ("comment lines gone", "a\n<!-- note -->\nb", "a\nb\n"),
        ("table as a list under its headings", "| symptom | cause |\n|---|---|\n| a | b |\n| c | d |",
         "- a\n  cause: b\n- c\n  cause: d\n"),
        ("long table cell wrapped and indented", "| s | c |\n|---|---|\n| x | " + "word " * 30 + "|",
         "- x\n  c: " + "word " * 17 + "word\n  " + "word " * 11 + "word\n"),
        ("blank runs squeezed, end trimmed", "a\n\n\n\nb\n\n", "a\n\nb\n"),
    ]

    def test_markdown_becomes_plain_text(self):
        for name, markdown, expected in self.CASES:
            with self.subTest(name):
                self.assertEqual(make_dist.plain_text(markdown), expected)


class parts_and_files(unittest.TestCase):
    def test_the_player_part_is_every_marked_part_in_order(self):
        readme = ("<!-- README.txt -->\n# A\none\n<!-- /README.txt -->\n## Developers\nno\n"
                  "<!-- README.txt -->\n## B\ntwo\n<!-- /README.txt -->\n")
        self.assertEqual(make_dist.player_part(readme, "README.md"), "# A\none\n\n## B\ntwo\n")

    def test_a_readme_without_markers_is_refused(self):
        with self.assertRaises(SystemExit):
            make_dist.player_part("# A\n", "README.md")

    def test_windows_line_ends_whatever_the_input_had(self):
        for text in ["a\nb\n", "a\r\nb\r\n", "a\r\nb\n"]:
            with self.subTest(repr(text)):
                self.assertEqual(make_dist.windows_lines(text), b"a\r\nb\r\n")

    def test_the_release_date_comes_from_the_version_entry(self):
        with tempfile.NamedTemporaryFile("w", suffix=".md", delete=False) as f:
            f.write("# Changelog\n\n## [1.1.0] - 2027-02-03\n\n## [1.0.0] - 2026-12-10\n")
        try:
            self.assertEqual(make_dist.release_date(f.name, "1.0.0"), (2026, 12, 10, 12, 0, 0))
            with self.assertRaises(SystemExit):
                make_dist.release_date(f.name, "1.0")
        finally:
            os.unlink(f.name)


class zip_entries(unittest.TestCase):
    def test_every_entry_carries_the_release_date_of_the_changelog(self):
        with tempfile.TemporaryDirectory() as folder:
            changelog = os.path.join(folder, "CHANGELOG.md")
            with open(changelog, "w") as f:
                f.write("# Changelog\n\n## [2.3.4] - 2027-05-06\n\nA release.\n")
            text = os.path.join(folder, "a.txt")
            with open(text, "w") as f:
                f.write("one\ntwo\n")
            out = os.path.join(folder, "out.zip")
            make_dist.main(["make_dist.py", out, "2.3.4", changelog, f"a.txt={text}:text",
                            f"b.bin={text}:binary", f"CHANGELOG.txt={changelog}:markdown"])
            with zipfile.ZipFile(out) as archive:
                entries = archive.infolist()
                self.assertEqual([e.filename for e in entries], ["a.txt", "b.bin", "CHANGELOG.txt"])
                for entry in entries:
                    with self.subTest(entry.filename):
                        self.assertEqual(entry.date_time, (2027, 5, 6, 12, 0, 0))
                self.assertEqual(archive.read("a.txt"), b"one\r\ntwo\r\n")


if __name__ == "__main__":
    unittest.main()
