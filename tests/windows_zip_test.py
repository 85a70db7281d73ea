"""The Windows download, as a writer gets it: the zip is made from the
cross build and unpacked as Explorer's すべて展開 does, into a folder named
after it, inside a folder whose name holds spaces and Japanese; the program
in it converts the example, and its page must be the Linux program's, byte
for byte. The program's resources (version, icon, manifest) are read from
the file itself.

    windows_zip_test.py BUILD_DIR SOURCE_DIR OBJDUMP BROWSER_PAGE EMULATOR...

BROWSER_PAGE is ON where the build puts the browser page in the zip.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path
from xml.etree import ElementTree

BUILD = Path(sys.argv[1])
SOURCE = Path(sys.argv[2])
OBJDUMP = sys.argv[3]
BROWSER_PAGE = sys.argv[4] == "ON"
EMULATOR = sys.argv[5:]
VERSION = re.search(r"project\(taletab VERSION (\S+)", (SOURCE / "CMakeLists.txt").read_text()).group(1)
TOP = f"taletab-{VERSION}-win64"
# What the Linux program writes for the example (the end-to-end tests hold it to that).
SCENE_PAGE = (SOURCE / "tests" / "data" / "scene.htm").read_bytes()
# Windows' own libraries: anything else would have to be shipped beside the program.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "advapi32.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resources(program):
    """The resources of a PE file: {type: [data of each, in order]}."""
    image = program.read_bytes()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    table = pe + 24 + optional_size
    for i in range(sections):
        name, _, address, _, raw = struct.unpack_from("<8sIIII", image, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            break
    else:
        return {}

    def entries(offset):
        named, numbered = struct.unpack_from("<12xHH", image, raw + offset)
        for j in range(named + numbered):
            ident, target = struct.unpack_from("<II", image, raw + offset + 16 + 8 * j)
            yield ident, target

    found = {}
    for kind, names in entries(0):
        for _, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                data_address, size = struct.unpack_from("<II", image, raw + leaf)
                start = raw + data_address - address
                found.setdefault(kind, []).append(image[start:start + size])
    return found


def version_strings(block):
    """The StringFileInfo of a version resource, {key: value}."""
    text = block.decode("utf-16-le", errors="replace")
    keys = ["CompanyName", "FileDescription", "FileVersion", "LegalCopyright", "ProductName", "ProductVersion"]
    return {key: re.search(key + r"\0+([^\0]+)", text).group(1) for key in keys if key in text}


class WindowsZip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        subprocess.run(["cpack", "-G", "ZIP", "--config", BUILD / "CPackConfig.cmake", "-B", cls.scratch.name],
                       check=True, capture_output=True)
        cls.zip = Path(cls.scratch.name) / f"{TOP}.zip"
        # すべて展開 offers a folder named after the zip.
        cls.unpacked = Path(cls.scratch.name) / "脚本 の 変換" / TOP
        with zipfile.ZipFile(cls.zip) as archive:
            archive.extractall(cls.unpacked)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_what_the_zip_holds(self):
        with zipfile.ZipFile(self.zip) as archive:
            names = sorted(archive.namelist())
        # No folder inside: unpacked, the zip is one folder, not a folder in a folder.
        expected = ["LICENSE.txt", "README_ja.txt", "scene.txt", "taletab.exe"] + (["taletab.html"] if BROWSER_PAGE else [])
        self.assertEqual(names, sorted(expected))
        self.assertLess(self.zip.stat().st_size, 1024 * 1024)
        self.assertEqual((self.unpacked / "LICENSE.txt").read_bytes(), (SOURCE / "LICENSE").read_bytes())
        self.assertEqual((self.unpacked / "scene.txt").read_bytes(), (SOURCE / "examples" / "scene.txt").read_bytes())

    def test_the_program_needs_no_dll_beside_windows_own(self):
        dump = subprocess.run([OBJDUMP, "-p", self.unpacked / "taletab.exe"], check=True, capture_output=True,
                              text=True).stdout
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)
        self.assertNotIn(".debug_info", subprocess.run([OBJDUMP, "-h", self.unpacked / "taletab.exe"], check=True,
                                                       capture_output=True, text=True).stdout, "stripped")

    def test_the_browser_page_is_the_built_one(self):
        if not BROWSER_PAGE:
            self.skipTest("the build puts no browser page in the zip (TALETAB_BROWSER_PAGE is OFF)")
        page = (self.unpacked / "taletab.html").read_bytes()
        self.assertEqual(page, (BUILD / "browser-page" / "taletab.html").read_bytes())
        self.assertIn(b"createTaletab", page)

    def test_the_guide_shows_in_notepad_on_any_windows(self):
        guide = (self.unpacked / "README_ja.txt").read_bytes()
        self.assertTrue(guide.startswith(b"\xef\xbb\xbf"), "UTF-8 with a byte order mark")
        text = guide[3:].decode("utf-8")  # strict: a byte outside UTF-8 fails here
        self.assertEqual(guide.count(b"\n"), guide.count(b"\r\n"), "every line ends in CR LF")
        # What a writer asks: each answered in its words.
        for words in ["ドロップ", "taletab.html", "メモ帳", "一太郎", "詳細情報", "実行", "Windows 10", "Windows 11",
                      "64 ビット", "削除",
                      # every message the program gives
                      "が存在しません", "はフォルダーです", "ほかのプログラムが使用中です", "はワープロの文書です",
                      "ではないので変換しません", "は空のファイルなので変換しません", "は脚本ファイルそのものです",
                      "を作成できません", "ではないので上書きしません", "への書込みに失敗しました",
                      "の読込みに失敗しました", "読めない文字が", "ファイル名を指定してください"]:
            self.assertIn(words, text)

    def test_the_program_says_what_it_is(self):
        found = resources(self.unpacked / "taletab.exe")
        self.assertEqual(len(found.get(RT_VERSION, [])), 1)
        strings = version_strings(found[RT_VERSION][0])
        self.assertEqual(strings["ProductName"], "taletab")
        self.assertEqual(strings["FileVersion"], VERSION)
        self.assertEqual(strings["ProductVersion"], VERSION)
        self.assertIn("taletab", strings["FileDescription"])
        self.assertIn("Copyright", strings["LegalCopyright"])
        # FILEVERSION in VS_FIXEDFILEINFO, after the key "VS_VERSION_INFO"
        fixed = found[RT_VERSION][0].index(struct.pack("<I", 0xFEEF04BD))
        major_minor, patch_build = struct.unpack_from("<II", found[RT_VERSION][0], fixed + 8)
        self.assertEqual([major_minor >> 16, major_minor & 0xFFFF, patch_build >> 16, patch_build & 0xFFFF],
                         [int(n) for n in VERSION.split(".")] + [0])
        self.assertTrue(found.get(RT_GROUP_ICON) and found.get(RT_ICON), "an icon")

        self.assertEqual(len(found.get(RT_MANIFEST, [])), 1)
        manifest = ElementTree.fromstring(found[RT_MANIFEST][0])
        spaces = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
                  "compatibility": "urn:schemas-microsoft-com:compatibility.v1",
                  "ws2": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
        self.assertEqual([system.get("Id") for system in manifest.iterfind(".//compatibility:supportedOS", spaces)],
                         ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])  # Windows 10 and 11
        level = manifest.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", spaces)
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        self.assertEqual(manifest.find(".//ws2:longPathAware", spaces).text, "true")

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
