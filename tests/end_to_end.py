"""End-to-end tests: the real taletab binary, run in a temporary folder, its
standard output, exit status and files compared byte for byte.

    end_to_end.py BINARY SOURCE_DIR [EMULATOR ...]

The expected console texts are written here in plain Japanese and encoded to
Shift-JIS (code page 932) with CR LF line ends, so they check the program's
escaped bytes from the outside.
"""
import os
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

BINARY = os.path.abspath(sys.argv[1])
SOURCE = Path(sys.argv[2])
EMULATOR = sys.argv[3:]
LINUX = sys.platform.startswith("linux") and not EMULATOR
# A sanitized program reserves far more address space than any limit a test sets.
SANITIZED = os.environ.get("TALETAB_SANITIZED") == "1"


def sjis(text):
    return text.replace("\n", "\r\n").encode("cp932")


def message(template, name):
    """A console message with a file name (as typed, or as bytes) in its slot."""
    before, after = template.split("%s")
    return sjis(before) + os.fsencode(name) + sjis(after)


def typed(name):
    """A Japanese file name as a user gives it here. On Linux names are bytes,
    and a Japanese user's are Shift-JIS; wine reads Linux names as UTF-8 and
    hands the Windows program Unicode, which it shows in Shift-JIS too."""
    return name.encode("cp932") if LINUX else name


BANNER = sjis(
    "\n\x1b[37;40m脚本データ → ＨＴＭＬ　変換ソフト　"
    "\x1b[33mぺるもあ ver 1.03\n"
    "\t\t\t\t\t\x1b[34mFree software under the MIT License.\n\n"
    "\x1b[37m"
)
USAGE = sjis(
    "\x1b[37;40m"
    "\tよいこのただしい利用法\n"
    "\t\tTaletab.exe [Filename1] [Filename2]\n\n"
    "\t\t\t[Filename1]…変換前のファイル名を指定\n"
    "\t\t\t\t※当然「ぺるもあ」互換ファイルである事！\n\n"
    "\t\t\t[Filename2]…変換後の書込み先のファイルを指定\n"
)
NO_FILE_NAME = sjis("\x1b[30;41mファイル名を指定してください。\n")
SCRIPT_MISSING = "\x1b[30;41m脚本ファイル”%s”が存在しません。\n"
NO_PAGE_NAME = sjis("\x1b[30;41m変換先のファイル名が指定されていません。\n")
DEFAULT_PAGE = "\x1b[37;40mしょうがないので”%s”上へ書込みます。\n"
PAGE_IS_SCRIPT = "\x1b[30;41m変換先のファイル”%s”は脚本ファイルそのものです。\n"
PAGE_NOT_CREATED = "\x1b[30;41m変換先のファイル”%s”を作成できません。\n"
PAGE_WRITE_FAILED = "\x1b[30;41m変換先のファイル”%s”への書込みに失敗しました。\n"
SCRIPT_READ_FAILED = "\x1b[30;41m脚本ファイル”%s”の読込みに失敗しました。\n"
DONE = sjis("正常に完了しました。\n\n")
DEFAULTED = NO_PAGE_NAME + message(DEFAULT_PAGE, "permoa.htm")

SCRIPT = (SOURCE / "examples" / "scene.txt").read_bytes()
SCENE_PAGE = (SOURCE / "tests" / "data" / "scene.htm").read_bytes()


def page_titled(title):
    """The example script's page, as written under the given name (text or bytes)."""
    return SCENE_PAGE.replace(b"<title>scene.htm</title>", b"<title>" + os.fsencode(title) + b"</title>")


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = Path(self.folder.name)
        self.addCleanup(self.folder.cleanup)

    def put(self, name, data=SCRIPT):
        (self.dir / name).write_bytes(data)

    def files(self):
        """Every file below the folder, with its bytes."""
        return {
            str(p.relative_to(self.dir)).replace(os.sep, "/"): p.read_bytes()
            for p in sorted(self.dir.rglob("*"))
            if p.is_file() and not p.is_symlink()
        }

    def run_taletab(self, *args, stdin=None, before=None):
        result = subprocess.run(
            EMULATOR + [BINARY, *args], cwd=self.dir, input=stdin, capture_output=True, timeout=60,
            preexec_fn=before,
        )
        self.assertEqual(result.stderr, b"", "nothing goes to standard error")
        return result.returncode, result.stdout

    def expect(self, args, status, stdout, files, stdin=None, before=None):
        got_status, got_stdout = self.run_taletab(*args, stdin=stdin, before=before)
        self.assertEqual(got_stdout, stdout)
        self.assertEqual(got_status, status)
        self.assertEqual(self.files(), files)

    # Failures before any page is touched

    def test_no_file_name(self):
        self.expect([], 1, BANNER + NO_FILE_NAME + USAGE, {})

    def test_script_not_opened(self):
        os.mkdir(self.dir / "folder")
        for args, name in [
            (["missing.txt"], "missing.txt"),
            (["missing.txt", "page.htm"], "missing.txt"),
            (["folder"], "folder"),
            (["folder", "page.htm"], "folder"),
        ]:
            with self.subTest(args=args):
                self.expect(args, 2, BANNER + message(SCRIPT_MISSING, name) + USAGE, {})

    # Conversions

    def test_one_name_writes_the_default_page(self):
        self.put("scene.txt")
        self.expect(["scene.txt"], 0, BANNER + DEFAULTED + DONE,
                    {"scene.txt": SCRIPT, "permoa.htm": page_titled("permoa.htm")})

    def test_two_names_write_the_named_page_titled_as_typed(self):
        self.put("scene.txt")
        os.mkdir(self.dir / "out")
        self.expect(["scene.txt", "out/scene.htm"], 0, BANNER + DONE,
                    {"scene.txt": SCRIPT, "out/scene.htm": page_titled("out/scene.htm")})

    def test_more_than_two_names_act_like_one(self):
        self.put("scene.txt")
        self.expect(["scene.txt", "a.htm", "b.htm"], 0, BANNER + DEFAULTED + DONE,
                    {"scene.txt": SCRIPT, "permoa.htm": page_titled("permoa.htm")})

    def test_an_existing_page_is_replaced(self):
        self.put("scene.txt")
        self.put("page.htm", b"an older, longer page that must not survive in part" * 100)
        self.expect(["scene.txt", "page.htm"], 0, BANNER + DONE,
                    {"scene.txt": SCRIPT, "page.htm": page_titled("page.htm")})

    def test_empty_script_gives_an_empty_table(self):
        self.put("empty.txt", b"")
        self.run_taletab("empty.txt")
        self.assertEqual(self.files()["permoa.htm"], (SOURCE / "tests" / "data" / "empty_page.htm").read_bytes())

    @unittest.skipUnless(LINUX, "reads /dev/stdin")
    def test_script_from_a_pipe(self):
        self.expect(["/dev/stdin", "page.htm"], 0, BANNER + DONE, {"page.htm": page_titled("page.htm")},
                    stdin=SCRIPT)

    @unittest.skipUnless(LINUX, "makes links")
    def test_a_link_stays_a_link_to_the_replaced_page(self):
        self.put("scene.txt")
        os.mkdir(self.dir / "pages")
        self.put("pages/real.htm", b"old page")
        os.symlink("pages/real.htm", self.dir / "link.htm")
        self.expect(["scene.txt", "link.htm"], 0, BANNER + DONE,
                    {"scene.txt": SCRIPT, "pages/real.htm": page_titled("link.htm")})
        self.assertTrue((self.dir / "link.htm").is_symlink())

    @unittest.skipUnless(LINUX, "POSIX permission bits")
    def test_permission_bits(self):
        self.put("scene.txt")
        self.put("kept.htm", b"old page")
        os.chmod(self.dir / "kept.htm", 0o640)
        for name, mode in [("kept.htm", 0o640), ("new.htm", 0o644)]:
            with self.subTest(name=name):
                status, _ = self.run_taletab("scene.txt", name, before=lambda: os.umask(0o022))
                self.assertEqual(status, 0)
                self.assertEqual(stat.S_IMODE((self.dir / name).stat().st_mode), mode)

    def test_japanese_file_names(self):
        script, page = typed("表紙.txt"), typed("表紙.htm")
        with open(os.path.join(os.fsencode(self.dir), os.fsencode(script)), "wb") as file:
            file.write(SCRIPT)
        self.assertEqual(self.run_taletab(script, page), (0, BANNER + DONE))
        with open(os.path.join(os.fsencode(self.dir), os.fsencode(page)), "rb") as file:
            self.assertEqual(file.read(), page_titled("表紙.htm".encode("cp932")))
        self.assertEqual(self.run_taletab(typed("無い.txt")),
                         (2, BANNER + message(SCRIPT_MISSING, "無い.txt".encode("cp932")) + USAGE))

    # The page would be the script itself

    def test_page_that_is_the_script_is_refused(self):
        self.put("scene.txt")
        for args, stdout in [
            (["scene.txt", "./scene.txt"], message(PAGE_IS_SCRIPT, "./scene.txt")),
            (["scene.txt", "scene.txt"], message(PAGE_IS_SCRIPT, "scene.txt")),
        ]:
            with self.subTest(args=args):
                self.expect(args, 3, BANNER + stdout, {"scene.txt": SCRIPT})

    def test_script_named_like_the_default_page_is_refused(self):
        self.put("permoa.htm")
        self.expect(["permoa.htm"], 3, BANNER + DEFAULTED + message(PAGE_IS_SCRIPT, "permoa.htm"),
                    {"permoa.htm": SCRIPT})

    def test_page_hard_linked_to_the_script_is_refused(self):
        self.put("scene.txt")
        os.link(self.dir / "scene.txt", self.dir / "hard.htm")
        self.expect(["scene.txt", "hard.htm"], 3, BANNER + message(PAGE_IS_SCRIPT, "hard.htm"),
                    {"scene.txt": SCRIPT, "hard.htm": SCRIPT})

    @unittest.skipUnless(LINUX, "makes a symbolic link")
    def test_page_symlinked_to_the_script_is_refused(self):
        self.put("scene.txt")
        os.symlink("scene.txt", self.dir / "soft.htm")
        self.expect(["scene.txt", "soft.htm"], 3, BANNER + message(PAGE_IS_SCRIPT, "soft.htm"),
                    {"scene.txt": SCRIPT})

    # The page cannot be written

    def test_page_that_cannot_be_created(self):
        self.put("scene.txt")
        os.mkdir(self.dir / "folder")
        for name in ["missing/page.htm", "folder"]:
            with self.subTest(name=name):
                self.expect(["scene.txt", name], 3, BANNER + message(PAGE_NOT_CREATED, name),
                            {"scene.txt": SCRIPT})

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full (wine opens it too)")
    def test_full_disk_is_a_failure(self):
        self.put("scene.txt")
        self.expect(["scene.txt", "/dev/full"], 4, BANNER + message(PAGE_WRITE_FAILED, "/dev/full"),
                    {"scene.txt": SCRIPT})

    @unittest.skipUnless(LINUX, "limits the file size")
    def test_failed_write_leaves_the_old_page(self):
        self.put("long.txt", SCRIPT * 5000)
        self.put("page.htm", b"the author's edited page")

        def small_file_limit():
            # Writes past the limit then fail with an error instead of a signal.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))

        self.expect(["long.txt", "page.htm"], 4, BANNER + message(PAGE_WRITE_FAILED, "page.htm"),
                    {"long.txt": SCRIPT * 5000, "page.htm": b"the author's edited page"},
                    before=small_file_limit)

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_line_longer_than_memory_is_a_failure(self):
        self.put("long.txt", b"name\t" + b"x" * (96 * 1024 * 1024))
        self.put("page.htm", b"the author's edited page")

        def small_address_space():
            resource.setrlimit(resource.RLIMIT_AS, (64 * 1024 * 1024, 64 * 1024 * 1024))

        status, stdout = self.run_taletab("long.txt", "page.htm", before=small_address_space)
        self.assertEqual((status, stdout), (4, BANNER + message(SCRIPT_READ_FAILED, "long.txt")))
        self.assertEqual((self.dir / "page.htm").read_bytes(), b"the author's edited page")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["long.txt", "page.htm"])

    @unittest.skipUnless(LINUX, "reads /proc/self/mem, which opens but cannot be read from its start")
    def test_failed_read_leaves_the_old_page(self):
        self.put("page.htm", b"the author's edited page")
        self.expect(["/proc/self/mem", "page.htm"], 4, BANNER + message(SCRIPT_READ_FAILED, "/proc/self/mem"),
                    {"page.htm": b"the author's edited page"})


class LargePages(unittest.TestCase):
    """A page of many blocks, which are written on a thread of their own while
    the script is converted, and faults in it: the run fails as with a small
    page, no thread keeps it alive, and the old page stays as it was."""

    setUp, put, files, run_taletab, expect = (EndToEnd.setUp, EndToEnd.put, EndToEnd.files,
                                              EndToEnd.run_taletab, EndToEnd.expect)
    LONG = SCRIPT * 5000  # a page of about 7.6 MB: some 30 blocks
    OLD = b"the author's edited page"

    def setUp_pages(self, script):
        self.put("long.txt", script)
        self.put("page.htm", self.OLD)

    def test_large_page_is_written_whole(self):
        self.setUp_pages(self.LONG)
        self.expect(["long.txt", "page.htm"], 0, BANNER + DONE, {"long.txt": self.LONG, "page.htm": self.long_page()})

    @unittest.skipUnless(LINUX, "limits the file size")
    def test_failed_write_part_way(self):
        # In the first block (written before the thread starts), the second, and far on.
        for limit in [65536, 300 * 1024, 5 * 1024 * 1024]:
            with self.subTest(limit=limit):
                self.setUp_pages(self.LONG)

                def file_limit():
                    # Writes past the limit then fail with an error instead of a signal.
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

                self.expect(["long.txt", "page.htm"], 4, BANNER + message(PAGE_WRITE_FAILED, "page.htm"),
                            {"long.txt": self.LONG, "page.htm": self.OLD}, before=file_limit)

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_failed_read_part_way(self):
        # Some 30 blocks of page are written before a line too long for the memory there is.
        script = self.LONG + b"name\t" + b"x" * (96 * 1024 * 1024)
        self.setUp_pages(script)

        def small_address_space():
            resource.setrlimit(resource.RLIMIT_AS, (64 * 1024 * 1024, 64 * 1024 * 1024))

        status, stdout = self.run_taletab("long.txt", "page.htm", before=small_address_space)
        self.assertEqual((status, stdout), (4, BANNER + message(SCRIPT_READ_FAILED, "long.txt")))
        self.assertEqual((self.dir / "page.htm").read_bytes(), self.OLD)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["long.txt", "page.htm"])

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_page_written_whole_where_no_thread_can_start(self):
        # Too little address space for a thread's stack: every block is written on the one thread.
        self.setUp_pages(self.LONG)

        def no_room_for_a_thread():
            resource.setrlimit(resource.RLIMIT_AS, (8 * 1024 * 1024, 8 * 1024 * 1024))

        status, stdout = self.run_taletab("long.txt", "page.htm", before=no_room_for_a_thread)
        self.assertEqual((status, stdout), (0, BANNER + DONE))
        self.assertEqual(self.files(), {"long.txt": self.LONG, "page.htm": self.long_page()})

    def long_page(self):
        """The page of LONG: the example's head and foot around its rows 5000 times."""
        head_end = SCENE_PAGE.index(b"\t\t<tr>")
        foot_start = SCENE_PAGE.rindex(b"\t</table>")
        head = SCENE_PAGE[:head_end].replace(b"<title>scene.htm</title>", b"<title>page.htm</title>")
        return head + SCENE_PAGE[head_end:foot_start] * 5000 + SCENE_PAGE[foot_start:]


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
