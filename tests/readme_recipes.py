"""The README's shell recipes, run as a user runs them after copying them:
the function that fills in a page's placeholders, the three ways to convert
many scripts, and the conversion of a script from a classic Mac.

    readme_recipes.py BINARY SOURCE_DIR

Each recipe is read from README.md itself (the indented code block that
begins with a given line), so the README cannot drift from what is tested.
The recipes call taletab by name: the program's folder comes first on PATH.
"""
import os
import resource
import stat
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

BINARY = Path(sys.argv[1]).resolve()
SOURCE = Path(sys.argv[2]).resolve()
README = (SOURCE / "README.md").read_text(encoding="utf-8")
SCRIPT = (SOURCE / "examples" / "scene.txt").read_bytes()
SCENE_PAGE = (SOURCE / "tests" / "data" / "scene.htm").read_bytes()
NAME_HERE = "ここに名前を入れてください".encode("cp932")
MAIL_HERE = "ここにメールアドレスを入れてください".encode("cp932")
# A UTF-8 system's shell, whose messages are in English.
ENV = dict(os.environ, PATH=f"{BINARY.parent}{os.pathsep}{os.environ['PATH']}", LC_ALL="C.UTF-8")


def readme_block(first_line):
    """The README's indented code block whose first line begins with
    first_line, unindented."""
    lines = README.splitlines()
    start = next(i for i, line in enumerate(lines) if line.lstrip(" ").startswith(first_line))
    indent = lines[start][:len(lines[start]) - len(lines[start].lstrip(" "))]
    block = []
    for line in lines[start:]:
        if line and not line.startswith(indent):
            break
        block.append(line[len(indent):])
    return "\n".join(block).strip("\n") + "\n"


def page_titled(title):
    """The example's page under this name: a UTF-8 name stands in its title in Shift-JIS."""
    return SCENE_PAGE.replace(b"<title>scene.htm</title>", b"<title>" + title.encode("cp932") + b"</title>")


def filled_in(name, mail):
    """The example page with this name and address in its placeholders."""
    return SCENE_PAGE.replace(NAME_HERE, name.encode("cp932")).replace(MAIL_HERE, mail.encode("cp932"))


def run_bash(code, folder, *args, file_size_limit=None):
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
    return subprocess.run(["bash", "-c", code, "bash", *args], cwd=folder, env=ENV, capture_output=True,
                          preexec_fn=limit if file_size_limit else None)


FILL_IN_BLOCK = readme_block("# fill_in PAGE NAME MAIL:")
# The function alone, without the README's example call after it.
FILL_IN = FILL_IN_BLOCK[:FILL_IN_BLOCK.index("\n)\n") + 3] + 'fill_in "$@"\n'

# name, address, and how each must stand in the page
FILLED = [
    ("劇団ハナ&ユキ", "hanako@example.jp", "劇団ハナ&amp;ユキ", "hanako@example.jp"),
    ("A/B\\C", "a/b\\c@example.jp", "A/B\\C", "a/b\\c@example.jp"),
    # What a sed or perl replacement would expand must stay as typed.
    ("$&\\1$1 \\n%s", "$ENV{MAIL}@example.jp", "$&amp;\\1$1 \\n%s", "$ENV{MAIL}@example.jp"),
    ('<b>"花子"</b>', "a&b@example.jp", "&lt;b&gt;&quot;花子&quot;&lt;/b&gt;", "a&amp;b@example.jp"),
    ("ｶﾅ・高橋～①", "hanako@example.jp", "ｶﾅ・高橋～①", "hanako@example.jp"),
]


class FillIn(unittest.TestCase):
    def setUp(self):
        self.folder = Path(self.enterContext(tempfile.TemporaryDirectory()))
        self.page = self.folder / "scene.htm"
        self.page.write_bytes(SCENE_PAGE)

    def fill_in(self, name, mail, file_size_limit=None):
        return run_bash(FILL_IN, self.folder, "scene.htm", name, mail, file_size_limit=file_size_limit)

    def assert_refused(self, result, old_page, why):
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(why, result.stderr.decode())
        self.assertEqual(self.page.read_bytes(), old_page, "the page stays as it was")
        self.assertEqual(os.listdir(self.folder), ["scene.htm"], "nothing left behind")

    def test_the_readme_example(self):
        result = run_bash(FILL_IN_BLOCK, self.folder)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(self.page.read_bytes(), filled_in("劇団ハナ&amp;ユキ", "hanako@example.jp"))

    def test_names_and_addresses_are_written_as_typed(self):
        for name, mail, name_in_page, mail_in_page in FILLED:
            with self.subTest(name=name, mail=mail):
                self.page.write_bytes(SCENE_PAGE)
                result = self.fill_in(name, mail)
                self.assertEqual(result.returncode, 0, result.stderr.decode())
                self.assertEqual(self.page.read_bytes(), filled_in(name_in_page, mail_in_page))
                self.assertEqual(os.listdir(self.folder), ["scene.htm"])

    def test_the_page_keeps_its_permission_bits(self):
        self.page.chmod(0o640)
        self.assertEqual(self.fill_in("山田花子", "hanako@example.jp").returncode, 0)
        self.assertEqual(stat.S_IMODE(self.page.stat().st_mode), 0o640)

    def test_a_character_outside_shift_jis_is_refused(self):
        for name, mail in [("𠮷田", "yoshida@example.jp"), ("吉田", "𠮷@example.jp"), ("Ä😀", "a@example.jp")]:
            with self.subTest(name=name, mail=mail):
                self.assert_refused(self.fill_in(name, mail), SCENE_PAGE, "Shift-JIS cannot hold")

    def test_a_page_that_cannot_be_written_whole_is_left_as_it_was(self):
        # The new page is cut off at 1 KiB: the write fails part-way.
        self.assert_refused(self.fill_in("山田花子", "hanako@example.jp", file_size_limit=1024), SCENE_PAGE,
                            "File size limit exceeded")

    def test_a_page_without_the_placeholders_as_written_is_refused(self):
        filled = filled_in("山田", "yamada@example.jp")
        # A script line holding the placeholder's words would get the name too.
        quoting = SCENE_PAGE.replace(b"</table>", b"<tr><td>" + NAME_HERE + b"</td></tr></table>")
        for label, page in [("already filled in", filled), ("placeholder in the script", quoting), ("empty", b"")]:
            with self.subTest(label):
                self.page.write_bytes(page)
                self.assert_refused(self.fill_in("山田花子", "hanako@example.jp"), page,
                                    "does not hold the placeholders")


class ManyScripts(unittest.TestCase):
    """Each recipe turns every NAME.txt in the folder into NAME.htm, titled NAME.htm."""

    def convert(self, recipe, scripts, run=lambda code, folder: run_bash(code, folder)):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            for script in scripts:
                (folder / f"{script}.txt").write_bytes(SCRIPT)
            result = run(recipe, folder)
            self.assertEqual(result.returncode, 0, result.stdout.decode() + result.stderr.decode())
            self.assertEqual(result.stdout, b"", "taletab's texts go to /dev/null; no script failed")
            pages = {page.name: page.read_bytes() for page in folder.glob("*.htm")}
        self.assertEqual(pages, {f"{script}.htm": page_titled(f"{script}.htm") for script in scripts})

    def test_a_loop(self):
        self.convert(readme_block("for script in *.txt; do"), ["act1", "act 2", "第三幕"])

    def test_xargs(self):
        self.convert(readme_block("printf '%s\\0' *.txt | xargs -0 -n1 -P2 sh -c"), ["act1", "act 2", "第三幕"])

    def test_make(self):
        def make(makefile, folder):
            (folder / "Makefile").write_text(makefile)
            return subprocess.run(["make", "-s", "-j2"], cwd=folder, env=ENV, capture_output=True)
        self.convert(readme_block(".PHONY: pages"), ["act1", "act2", "act3"], run=make)


class ClassicMac(unittest.TestCase):
    def test_cr_line_ends_become_rows(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            (folder / "mac-script.txt").write_bytes(SCRIPT.replace(b"\r\n", b"\r"))
            result = run_bash(readme_block("tr '\\r' '\\n' < mac-script.txt > script.txt"), folder)
            self.assertEqual(result.returncode, 0, result.stderr.decode())
            self.assertEqual((folder / "script.htm").read_bytes(), page_titled("script.htm"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
