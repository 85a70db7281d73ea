"""The Windows download, as a writer gets it: the zip is made from the
cross build, unpacked under wine into a folder whose name holds spaces and
Japanese, and the program in it converts the example; its page must be the
Linux program's, byte for byte.

    windows_zip_test.py BUILD_DIR SOURCE_DIR OBJDUMP EMULATOR...
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

BUILD = Path(sys.argv[1])
SOURCE = Path(sys.argv[2])
OBJDUMP = sys.argv[3]
EMULATOR = sys.argv[4:]
VERSION = re.search(r"project\(taletab VERSION (\S+)", (SOURCE / "CMakeLists.txt").read_text()).group(1)
TOP = f"taletab-{VERSION}-win64"
# What the Linux program writes for the example (the end-to-end tests hold it to that).
SCENE_PAGE = (SOURCE / "tests" / "data" / "scene.htm").read_bytes()
# Windows' own libraries: anything else would have to be shipped beside the program.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "advapi32.dll"}


class WindowsZip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        subprocess.run(["cpack", "-G", "ZIP", "--config", BUILD / "CPackConfig.cmake", "-B", cls.scratch.name],
                       check=True, capture_output=True)
        cls.zip = Path(cls.scratch.name) / f"{TOP}.zip"
        cls.folder = Path(cls.scratch.name) / "脚本 の 変換"
        with zipfile.ZipFile(cls.zip) as archive:
            archive.extractall(cls.folder)
        cls.unpacked = cls.folder / TOP

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_what_the_zip_holds(self):
        with zipfile.ZipFile(self.zip) as archive:
            names = sorted(archive.namelist())
        self.assertEqual(names, [f"{TOP}/{name}" for name in ["LICENSE", "README_ja.txt", "scene.txt", "taletab.exe"]])
        self.assertLess(self.zip.stat().st_size, 1024 * 1024)
        self.assertEqual((self.unpacked / "scene.txt").read_bytes(), (SOURCE / "examples" / "scene.txt").read_bytes())

    def test_the_program_needs_no_dll_beside_windows_own(self):
        dump = subprocess.run([OBJDUMP, "-p", self.unpacked / "taletab.exe"], check=True, capture_output=True,
                              text=True).stdout
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)
        self.assertNotIn(".debug_info", subprocess.run([OBJDUMP, "-h", self.unpacked / "taletab.exe"], check=True,
                                                       capture_output=True, text=True).stdout, "stripped")

    def test_the_guide_shows_in_notepad(self):
        guide = (self.unpacked / "README_ja.txt").read_bytes()
        text = guide.decode("cp932")  # strict: a byte outside Shift-JIS fails here
        self.assertIn("ドラッグ＆ドロップ", text)
        self.assertEqual(guide.count(b"\n"), guide.count(b"\r\n"), "every line ends in CR LF")

    def run_unpacked(self, *command):
        return subprocess.run(EMULATOR + list(command), cwd=self.unpacked, capture_output=True, timeout=120)

    def test_the_unpacked_program_writes_the_linux_programs_page(self):
        # Run as it is named in the folder, and through cmd with its output redirected to a file,
        # as a batch file would: the same page and the same bytes on standard output.
        direct = self.run_unpacked("taletab.exe", "scene.txt", "scene.htm")
        self.assertEqual((direct.returncode, direct.stderr), (0, b""))
        self.assertEqual((self.unpacked / "scene.htm").read_bytes(), SCENE_PAGE)
        through_cmd = self.run_unpacked("cmd", "/c", "taletab.exe scene.txt scene.htm > console.txt")
        self.assertEqual(through_cmd.returncode, 0)
        self.assertEqual((self.unpacked / "console.txt").read_bytes(), direct.stdout)
        self.assertEqual((self.unpacked / "scene.htm").read_bytes(), SCENE_PAGE)

    def test_scripts_as_notepad_saves_them(self):
        text = (self.unpacked / "scene.txt").read_bytes().decode("cp932")
        for saved_as, script in [("ANSI", text.encode("cp932")),
                                 ("UTF-8", b"\xef\xbb\xbf" + text.encode("utf-8")),
                                 ("Unicode", b"\xff\xfe" + text.encode("utf-16-le")),
                                 ("Unicode big endian", b"\xfe\xff" + text.encode("utf-16-be"))]:
            with self.subTest(saved_as):
                (self.unpacked / "saved.txt").write_bytes(script)
                run = self.run_unpacked("taletab.exe", "saved.txt", "scene.htm")
                self.assertEqual((run.returncode, run.stderr), (0, b""))
                self.assertEqual((self.unpacked / "scene.htm").read_bytes(), SCENE_PAGE)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
