"""Scripts dropped on taletab.exe, as Explorer runs it: in a console of its
own (own_console.exe makes one, under wine on a virtual X display, starts
the program alone on it, reads what it shows and presses the key the pause
waits for). Each script gets its
page beside it, named after it; nothing else named is written.

    windows_drop_test.py TALETAB_EXE OWN_CONSOLE_EXE SOURCE_DIR XVFB EMULATOR...

wine draws its windows on the display its first process found: the test
keeps a wine prefix of its own beside the program (made once) and runs its
own server on it, started with the test's display.
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

PROGRAM = sys.argv[1]
OWN_CONSOLE = sys.argv[2]
SOURCE = Path(sys.argv[3])
XVFB = sys.argv[4]
PREFIX = Path(PROGRAM).parent / "wineprefix-display"
# The emulator's own prefix, whose server has no display, is swapped for the test's.
EMULATOR = [f"WINEPREFIX={PREFIX}" if word.startswith("WINEPREFIX=") else word for word in sys.argv[5:]]

SCRIPT = (SOURCE / "examples" / "scene.txt").read_bytes()
# What the Linux program writes for the example under the name "scene.htm" (the end-to-end tests hold it to that).
SCENE_PAGE = (SOURCE / "tests" / "data" / "scene.htm").read_bytes()

CONVERTED = "変換しました：%s → %s"
PAGES_MADE = "%d個のページを作りました。"
NOT_CONVERTED = "%d個のファイルは変換できませんでした。"
DONE = "正常に完了しました。"
PRESS_A_KEY = "何かキーを押すと閉じます。"
IS_FOLDER = "”%s”はフォルダーです。"
IN_USE = "”%s”はほかのプログラムが使用中です。閉じてからもう一度どうぞ。"
IS_DOCUMENT = "”%s”はワープロの文書です。テキスト形式で保存してからドロップしてください。"
NOT_A_SCRIPT = "”%s”は脚本ファイル（テキスト）ではないので変換しません。"
EMPTY = "”%s”は空のファイルなので変換しません。"
PAGE_NOT_HTML = "変換先のファイル”%s”はＨＴＭＬファイルではないので上書きしません。"
SCRIPT_MISSING = "脚本ファイル”%s”が存在しません。"


def page_titled(title):
    """The example's page as the Linux program writes it under the given name."""
    return SCENE_PAGE.replace(b"<title>scene.htm</title>", b"<title>" + title.encode("cp932") + b"</title>")


def docx():
    """A word processor's document: a zip, as .docx and .odt files are."""
    with tempfile.TemporaryFile() as file:
        with zipfile.ZipFile(file, "w") as archive:
            archive.writestr("word/document.xml", "<w:document>一幕</w:document>")
        file.seek(0)
        return file.read()


class Drop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A display of the tests' own: wine gives a new console a window only where there is one.
        read_end, write_end = os.pipe()
        cls.xvfb = subprocess.Popen([XVFB, "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp"], pass_fds=[write_end], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            cls.env = dict(os.environ, DISPLAY=":" + display.readline().strip(), WINEDEBUG="-all",
                           WINEPREFIX=str(PREFIX))
        Path(cls.env["WINEPREFIX"]).mkdir(exist_ok=True)
        # The server stays, holding what it was given: no pipe of the test's.
        quiet = dict(env=cls.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        subprocess.run(EMULATOR + ["wineboot", "-i"], check=True, **quiet)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        cls.xvfb.terminate()
        cls.xvfb.wait()

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = Path(folder.name) / "脚本 フォルダー"
        self.dir.mkdir()

    def files(self):
        return {str(p.relative_to(self.dir)): p.read_bytes() for p in self.dir.rglob("*") if p.is_file()}

    def drop(self, *names, hold=None):
        """Drops the files named on the program, as Explorer does: full names, and
        the program's own folder as the current one. Returns the status and what the
        console showed, its colour sequences (which wine shows as text) left out."""
        def windows(name):
            return "Z:" + str(self.dir / name).replace("/", "\\")

        held = ["--hold", windows(hold)] if hold else []
        run = subprocess.run(EMULATOR + [OWN_CONSOLE] + held + [PROGRAM] + [windows(name) for name in names],
                             cwd=Path(PROGRAM).parent, env=self.env,
                             capture_output=True, timeout=300)
        rows = run.stdout.decode("utf-8").splitlines()
        self.assertRegex(rows[-1], r"^status \d+$")
        # A row is a screen line; a longer line goes on in the next row.
        shown = re.sub(r"\x1b\[[0-9;]*m", "", "".join(rows[:-1]))
        self.assertIn(PRESS_A_KEY, shown, "the pause")
        self.assertNotIn("変換先のファイル名が指定されていません", shown)
        return run.returncode, shown

    def expect_screen(self, shown, *lines):
        # What follows the banner, whose first rows wine's console now and then leaves blank.
        self.assertTrue(shown.endswith("".join(lines) + PRESS_A_KEY), shown)

    def test_two_drops_one_after_the_other_keep_both_pages(self):
        for name in ["一幕.txt", "二幕.txt"]:
            (self.dir / name).write_bytes(SCRIPT)
        for name in ["一幕", "二幕"]:
            status, shown = self.drop(name + ".txt")
            self.assertEqual(status, 0)
            self.expect_screen(shown, CONVERTED % (name + ".txt", name + ".htm"), PAGES_MADE % 1, DONE)
        self.assertEqual(self.files(), {"一幕.txt": SCRIPT, "二幕.txt": SCRIPT, "一幕.htm": page_titled("一幕.htm"),
                                        "二幕.htm": page_titled("二幕.htm")})

    def test_many_scripts_at_once_each_get_their_page(self):
        for names in [["一幕.txt", "二幕.txt"], ["序.txt", "a b.txt", "終幕.TXT"]]:
            with self.subTest(names=names):
                for name in names:
                    (self.dir / name).write_bytes(SCRIPT)
                status, shown = self.drop(*names)
                self.assertEqual(status, 0)
                pages = [Path(name).stem + ".htm" for name in names]
                self.expect_screen(shown, *[CONVERTED % pair for pair in zip(names, pages)], PAGES_MADE % len(names),
                                   DONE)
                for page in pages:
                    self.assertEqual((self.dir / page).read_bytes(), page_titled(page))
                for name in names:
                    self.assertEqual((self.dir / name).read_bytes(), SCRIPT)

    def test_a_script_deep_in_folders(self):
        # Its full name is longer than the 260 characters a Windows name once had.
        deep = Path(*[f"第{i}稿のフォルダー-abcdefghijklmnopqrstuvwxyz" for i in range(8)])
        (self.dir / deep).mkdir(parents=True)
        (self.dir / deep / "一幕.txt").write_bytes(SCRIPT)
        self.assertGreater(len(str(self.dir / deep / "一幕.txt")), 300)
        status, shown = self.drop(deep / "一幕.txt")
        self.assertEqual(status, 0)
        self.expect_screen(shown, CONVERTED % ("一幕.txt", "一幕.htm"), PAGES_MADE % 1, DONE)
        self.assertEqual((self.dir / deep / "一幕.htm").read_bytes(), page_titled("一幕.htm"))

    def test_files_that_are_no_script_get_their_message_and_the_others_go_on(self):
        # A fresh 新しいテキスト ドキュメント.txt is empty: it was once taken for the page.
        before = {"一幕.txt": SCRIPT, "新しいテキスト ドキュメント.txt": b"", "台本.docx": docx(),
                  "絵.txt": b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", "前の.htm": page_titled("前の.htm"),
                  "二幕.txt": SCRIPT, "二幕.htm": b"not a page: the author's notes\r\n"}
        for name, data in before.items():
            (self.dir / name).write_bytes(data)
        (self.dir / "幕間").mkdir()
        dropped = ["新しいテキスト ドキュメント.txt", "一幕.txt", "幕間", "台本.docx", "絵.txt", "前の.htm", "二幕.txt",
                   "無い.txt"]
        status, shown = self.drop(*dropped)
        self.assertEqual(status, 3)  # the worst: a page that may not be replaced
        self.expect_screen(shown, EMPTY % dropped[0], CONVERTED % ("一幕.txt", "一幕.htm"), IS_FOLDER % "幕間",
                           IS_DOCUMENT % "台本.docx", NOT_A_SCRIPT % "絵.txt", NOT_A_SCRIPT % "前の.htm",
                           PAGE_NOT_HTML % "二幕.htm", SCRIPT_MISSING % "無い.txt", PAGES_MADE % 1, NOT_CONVERTED % 7)
        self.assertEqual(self.files(), dict(before, **{"一幕.htm": page_titled("一幕.htm")}))

    def test_a_script_in_use_by_another_program(self):
        (self.dir / "一幕.txt").write_bytes(SCRIPT)
        status, shown = self.drop("一幕.txt", hold="一幕.txt")
        self.assertEqual(status, 2)
        self.expect_screen(shown, IN_USE % "一幕.txt", PAGES_MADE % 0, NOT_CONVERTED % 1)
        self.assertEqual(self.files(), {"一幕.txt": SCRIPT})

    def test_double_clicked_with_nothing_dropped(self):
        status, shown = self.drop()
        self.assertEqual(status, 1)
        version = re.search(r"project\(taletab VERSION (\S+)", (SOURCE / "CMakeLists.txt").read_text()).group(1)
        self.expect_screen(shown, "脚本ファイルを、この taletab.exe のアイコンの上にドロップしてください。",
                           "何個でもまとめてドロップできます。ページは脚本と同じフォルダーに、名前の最後を .htm にしてできます。",
                           "ブラウザーで変換するには、同じフォルダーの taletab.html を開いてください。",
                           "使い方は、同じフォルダーの README_ja.txt に書いてあります。", f"taletab {version}")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
