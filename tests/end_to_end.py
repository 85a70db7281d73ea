"""End-to-end tests: the real taletab binary, run in a temporary folder, its
standard output, exit status and files compared byte for byte.

    end_to_end.py BINARY SOURCE_DIR [EMULATOR ...]

The expected console texts are written here in plain Japanese and encoded to
Shift-JIS (code page 932) with CR LF line ends, so they check the program's
escaped bytes from the outside.
"""
import atexit
import collections
import contextlib
import os
import resource
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

if sys.platform != "win32":
    import fcntl
    import pty
    import termios

BINARY = os.path.abspath(sys.argv[1])
SOURCE = Path(sys.argv[2])
EMULATOR = sys.argv[3:]
LINUX = sys.platform.startswith("linux") and not EMULATOR
WINE = bool(EMULATOR)
# Root can become another user, to whom permissions apply, and mount file systems.
ROOT = LINUX and os.geteuid() == 0
NOBODY = 65534
# A sanitized program reserves far more address space than any limit a test sets.
SANITIZED = os.environ.get("TALETAB_SANITIZED") in ("address", "thread")
# ThreadSanitizer holds a signal back until the call it arrives in returns, and
# a read from a FIFO that never ends does not return: signals go untested there.
SIGNALS_REACH_A_READ = not os.environ.get("TALETAB_SANITIZED") == "thread"

if ROOT:
    # Some runs are as another user, who may not reach the build folder: they run a copy anyone may run.
    _reachable = tempfile.mkdtemp(prefix="taletab-binary-")
    atexit.register(shutil.rmtree, _reachable, ignore_errors=True)
    os.chmod(_reachable, 0o755)
    BINARY = shutil.copy2(BINARY, _reachable)


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
PAGE_NOT_HTML = "\x1b[30;41m変換先のファイル”%s”はＨＴＭＬファイルではないので上書きしません。\n"
SCRIPT_READ_FAILED = "\x1b[30;41m脚本ファイル”%s”の読込みに失敗しました。\n"
SCRIPT_IS_FOLDER = "\x1b[30;41m”%s”はフォルダーです。\n"
DONE = sjis("正常に完了しました。\n\n")
UNREADABLE = "\x1b[37;40m読めない文字が%s個ありました。\n"
PAGE_BUSY = "\x1b[37;40m変換先のファイル”%s”を他のプログラムが使っています。しばらく待ちます。\n"
# The line after a page's failure that says why, where the cause is one a user meets.
DISK_FULL = sjis("\x1b[30;41mディスクに空きがありません。\n")
NO_PERMISSION = sjis("\x1b[30;41m書込みが許可されていません。\n")
READ_ONLY = sjis("\x1b[30;41m読込み専用のディスクです。\n")
NAME_TOO_LONG = sjis("\x1b[30;41mファイル名が長すぎます。\n")
IN_USE = sjis("\x1b[30;41m他のプログラムが使用中です。\n")
DOUBTFUL = "\x1b[37;40m文字コードは%sと判断して読みましたが、違うかもしれません。\n"
DEFAULTED = NO_PAGE_NAME + message(DEFAULT_PAGE, "permoa.htm")

SCRIPT = (SOURCE / "examples" / "scene.txt").read_bytes()
# A page the author has edited since it was made: its bytes must survive every failure.
OLD_PAGE = b"<!DOCTYPE html>\r\n<html><body>the author's edited page</body></html>\r\n"
# Longer than the new page: none of its bytes may outlast a copy into it.
LONG_OLD_PAGE = OLD_PAGE + b"<!-- " + b"-" * 4000 + b" -->\r\n"
SCENE_PAGE = (SOURCE / "tests" / "data" / "scene.htm").read_bytes()


def page_titled(title):
    """The example script's page, as written under the given name (text or bytes)."""
    return SCENE_PAGE.replace(b"<title>scene.htm</title>", b"<title>" + os.fsencode(title) + b"</title>")


def as_nobody():
    """Runs the program as an ordinary user: permissions do not hold for root."""
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


def leftovers(folder):
    """Temporary files of the program's below a folder."""
    return sorted(str(p) for p in Path(folder).rglob(".taletab-*"))


def has_loader(binary):
    """Whether a Linux program is linked dynamically: its loader makes system calls of its own before main."""
    with open(binary, "rb") as program:
        header = program.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            return True
        offset, = struct.unpack_from("<Q", header, 0x20)
        size, count = struct.unpack_from("<HH", header, 0x36)
        program.seek(offset)
        table = program.read(size * count)
    return any(struct.unpack_from("<I", table, i * size)[0] == 3 for i in range(count))  # PT_INTERP


STATIC = LINUX and not has_loader(BINARY)


def needs_root(what):
    """Skips a test that only root can run, saying so and what it does as root."""
    return unittest.skipUnless(ROOT, f"needs root: {what}")


def limited_address_space(size):
    """To run before the program: leaves it `size` bytes of address space."""
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (size, size))


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

    def run_taletab(self, *args, stdin=None, before=None, env=None):
        result = subprocess.run(
            EMULATOR + [BINARY, *args], cwd=self.dir, input=stdin, capture_output=True, timeout=60,
            preexec_fn=before, env=env,
        )
        self.assertEqual(result.stderr, b"", "nothing goes to standard error")
        return result.returncode, result.stdout

    def expect(self, args, status, stdout, files, stdin=None, before=None, env=None):
        got_status, got_stdout = self.run_taletab(*args, stdin=stdin, before=before, env=env)
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
        ]:
            with self.subTest(args=args):
                self.expect(args, 2, BANNER + message(SCRIPT_MISSING, name) + USAGE, {})
        # The same message and status, and a line that says what the name is.
        for args in [["folder"], ["folder", "page.htm"]]:
            with self.subTest(args=args):
                self.expect(args, 2, BANNER + message(SCRIPT_MISSING, "folder") + message(SCRIPT_IS_FOLDER, "folder")
                            + USAGE, {})

    def test_help_is_the_usage_screen(self):
        for option in ["/?", "-h", "--help"]:
            with self.subTest(option):
                self.expect([option], 0, BANNER + USAGE, {})
        # Beside another name it is a file name as any other.
        self.put("scene.txt")
        self.expect(["scene.txt", "-h"], 0, BANNER + DONE, {"scene.txt": SCRIPT, "-h": page_titled("-h")})

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
        self.put("page.htm", b"<html>" + b"an older, longer page that must not survive in part" * 100)
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
        self.put("pages/real.htm", OLD_PAGE)
        os.symlink("pages/real.htm", self.dir / "link.htm")
        self.expect(["scene.txt", "link.htm"], 0, BANNER + DONE,
                    {"scene.txt": SCRIPT, "pages/real.htm": page_titled("link.htm")})
        self.assertTrue((self.dir / "link.htm").is_symlink())

    @unittest.skipUnless(LINUX, "POSIX permission bits")
    def test_permission_bits(self):
        self.put("scene.txt")
        self.put("kept.htm", OLD_PAGE)
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

    # A file that is not a page is never replaced

    def test_a_file_that_is_not_a_page_is_refused(self):
        for label, args, files in [
            ("a second script", ["act1.txt", "act2.txt"], {"act1.txt": SCRIPT, "act2.txt": SCRIPT}),
            ("the page named first", ["scene.htm", "scene.txt"], {"scene.htm": OLD_PAGE, "scene.txt": SCRIPT}),
            ("text that names a tag later", ["scene.txt", "page.htm"],
             {"scene.txt": SCRIPT, "page.htm": b"notes: <html> goes first"}),
            ("a tag cut short", ["scene.txt", "page.htm"], {"scene.txt": SCRIPT, "page.htm": b"  <htm"}),
            ("a byte order mark, then text", ["scene.txt", "page.htm"],
             {"scene.txt": SCRIPT, "page.htm": b"\xef\xbb\xbfplain text"}),
            ("white space only", ["scene.txt", "page.htm"], {"scene.txt": SCRIPT, "page.htm": b" \r\n\t"}),
        ]:
            with self.subTest(label):
                for name, data in files.items():
                    self.put(name, data)
                self.expect(args, 3, BANNER + message(PAGE_NOT_HTML, args[1]), files)
                for name in files:
                    os.remove(self.dir / name)

    def test_a_script_named_like_the_default_page_is_not_replaced(self):
        self.put("scene.txt")
        self.put("permoa.htm", b"another script\tkept")
        self.expect(["scene.txt"], 3, BANNER + DEFAULTED + message(PAGE_NOT_HTML, "permoa.htm"),
                    {"scene.txt": SCRIPT, "permoa.htm": b"another script\tkept"})

    def test_a_page_or_an_empty_file_is_replaced(self):
        self.put("scene.txt")
        for label, old in [
            ("a byte order mark and a doctype", b"\xef\xbb\xbf<!DOCTYPE html>\r\n<html><body>old"),
            ("white space and an upper-case tag", b"\r\n \t\f<HTML lang=ja>old"),
            ("a lower-case doctype", b"<!doctype html><title>old</title>"),
            ("an XHTML page, its doctype over lines",
             b'<?xml version="1.0"?>\n<!DOCTYPE html\n     PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN"\n'
             b'     "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">\n<html>old'),
            ("an empty file", b""),
        ]:
            with self.subTest(label):
                self.put("page.htm", old)
                self.expect(["scene.txt", "page.htm"], 0, BANNER + DONE,
                            {"scene.txt": SCRIPT, "page.htm": page_titled("page.htm")})

    # Who may replace a page

    @needs_root("runs the program as another user")
    def test_a_page_the_user_may_not_write_is_refused(self):
        self.put("scene.txt")
        os.chmod(self.dir, 0o1777)  # a shared folder, like /tmp
        for label, owner, mode in [("a read-only page", NOBODY, 0o444), ("another user's page", 0, 0o644)]:
            with self.subTest(label):
                self.put("page.htm", OLD_PAGE)
                os.chown(self.dir / "page.htm", owner, owner)
                os.chmod(self.dir / "page.htm", mode)
                self.expect(["scene.txt", "page.htm"], 3,
                            BANNER + message(PAGE_NOT_CREATED, "page.htm") + NO_PERMISSION,
                            {"scene.txt": SCRIPT, "page.htm": OLD_PAGE}, before=as_nobody)
                status = (self.dir / "page.htm").stat()
                self.assertEqual((status.st_uid, stat.S_IMODE(status.st_mode)), (owner, mode))
        os.chmod(self.dir, 0o755)
        with self.subTest("a new page in a folder the user may not write"):
            self.expect(["scene.txt", "new.htm"], 3, BANNER + message(PAGE_NOT_CREATED, "new.htm") + NO_PERMISSION,
                        {"scene.txt": SCRIPT, "page.htm": OLD_PAGE}, before=as_nobody)

    @needs_root("root writes what its permission bits forbid")
    def test_root_replaces_a_read_only_page(self):
        self.put("scene.txt")
        self.put("page.htm", OLD_PAGE)
        os.chown(self.dir / "page.htm", NOBODY, NOBODY)
        os.chmod(self.dir / "page.htm", 0o444)
        self.expect(["scene.txt", "page.htm"], 0, BANNER + DONE,
                    {"scene.txt": SCRIPT, "page.htm": page_titled("page.htm")})
        status = (self.dir / "page.htm").stat()
        self.assertEqual((status.st_uid, status.st_gid, stat.S_IMODE(status.st_mode)), (NOBODY, NOBODY, 0o444),
                         "the page keeps its owner, group and mode")

    # Where a rename would change the page, the new page is copied into it

    def copy_in_cases(self):
        """(label, setup, user) for pages that a renamed new file could not be:
        each setup shapes the page.htm it is given and returns, as a function,
        the check of what must still hold of it afterwards."""

        def hard_linked():
            os.link(self.dir / "page.htm", self.dir / "other.htm")
            return lambda: self.assertEqual((self.dir / "other.htm").read_bytes(),
                                            (self.dir / "page.htm").read_bytes())

        def access_list():
            subprocess.run(["setfacl", "-m", "u:nobody:rw", self.dir / "page.htm"], check=True)
            return lambda: self.assertIn(b"user:nobody:rw-", subprocess.run(
                ["getfacl", "-p", self.dir / "page.htm"], check=True, capture_output=True).stdout)

        def another_users_page():
            os.chmod(self.dir, 0o777)  # without the sticky bit, which would refuse the rename
            os.chmod(self.dir / "page.htm", 0o666)
            return lambda: self.assertEqual((self.dir / "page.htm").stat().st_uid, 0)

        def folder_not_writable():
            os.chmod(self.dir / "page.htm", 0o666)
            return lambda: None

        cases = [("a hard-linked page", hard_linked, None)]
        if ROOT:
            cases += [("an access list", access_list, None),
                      ("another user's page in a folder all may write", another_users_page, as_nobody),
                      ("a folder the user may not write", folder_not_writable, as_nobody)]
        return cases

    def prepare_copy_in(self, setup):
        """Makes the page and its folder for one copy-in case; returns the
        check of what must hold afterwards and the program's environment,
        whose TMPDIR is a folder of the test's, open to every user."""
        for name in os.listdir(self.dir):
            os.remove(self.dir / name)  # the folder's files from the case before
        os.chmod(self.dir, 0o755)
        self.put("page.htm", LONG_OLD_PAGE)
        holds = setup()
        return holds, dict(os.environ, TMPDIR=self.scratch_folder())

    def scratch_folder(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        os.chmod(folder.name, 0o1777)
        return folder.name

    @unittest.skipUnless(LINUX, "POSIX links, access lists and permissions")
    def test_a_page_that_a_rename_would_change_is_copied_into(self):
        for label, setup, user in self.copy_in_cases():
            with self.subTest(label):
                holds, env = self.prepare_copy_in(setup)
                inode = (self.dir / "page.htm").stat().st_ino
                scene = self.scratch_folder() + "/scene.txt"
                Path(scene).write_bytes(SCRIPT)
                self.assertEqual(self.run_taletab(scene, "page.htm", before=user, env=env), (0, BANNER + DONE))
                self.assertEqual((self.dir / "page.htm").read_bytes(), page_titled("page.htm"))
                self.assertEqual((self.dir / "page.htm").stat().st_ino, inode, "the page is the same file")
                holds()
                self.assertEqual(leftovers(self.dir) + leftovers(env["TMPDIR"]), [])

    @unittest.skipUnless(LINUX, "POSIX links, access lists and permissions")
    def test_a_failure_before_the_copy_leaves_the_old_page(self):
        def small_file_limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))

        for label, setup, user in self.copy_in_cases():
            for fault in ["a read error", "a file-size limit"]:
                with self.subTest(label, fault=fault):
                    _, env = self.prepare_copy_in(setup)
                    if fault == "a read error":
                        script, stdout, limit = "/proc/self/mem", message(SCRIPT_READ_FAILED, "/proc/self/mem"), None
                    else:
                        script, stdout, limit = env["TMPDIR"] + "/long.txt", message(PAGE_WRITE_FAILED, "page.htm"), \
                            small_file_limit
                        Path(script).write_bytes(SCRIPT * 5000)
                    steps = [step for step in (limit, user) if step]
                    status, got = self.run_taletab(script, "page.htm", before=lambda: [step() for step in steps],
                                                   env=env)
                    self.assertEqual((status, got), (4, BANNER + stdout))
                    self.assertEqual((self.dir / "page.htm").read_bytes(), LONG_OLD_PAGE)
                    self.assertEqual(leftovers(self.dir) + leftovers(env["TMPDIR"]), [])

    @needs_root("mounts a small file system")
    def test_a_file_system_out_of_inodes_takes_the_page_by_copy(self):
        self.put("scene.txt")
        full = self.dir / "full"
        full.mkdir()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,nr_inodes=3", "tmpfs", full],
                          capture_output=True).returncode != 0:
            self.skipTest("mount is not permitted here")
        self.addCleanup(subprocess.run, ["umount", full], check=True)
        (full / "page.htm").write_bytes(OLD_PAGE)
        for _ in range(3):  # every inode taken: the folder takes no new file
            try:
                (full / f"filler{_}").write_bytes(b"")
            except OSError:
                break
        env = dict(os.environ, TMPDIR=self.scratch_folder())
        inode = (full / "page.htm").stat().st_ino
        self.assertEqual(self.run_taletab("scene.txt", "full/page.htm", env=env), (0, BANNER + DONE))
        self.assertEqual((full / "page.htm").read_bytes(), page_titled("full/page.htm"))
        self.assertEqual((full / "page.htm").stat().st_ino, inode)
        self.assertEqual(self.run_taletab("scene.txt", "full/new.htm", env=env),
                         (3, BANNER + message(PAGE_NOT_CREATED, "full/new.htm") + DISK_FULL))
        self.assertEqual(leftovers(self.dir) + leftovers(env["TMPDIR"]), [])

    @needs_root("bind-mounts a file")
    def test_a_bind_mounted_page_is_copied_into(self):
        self.put("scene.txt")
        self.put("source.htm", OLD_PAGE)
        self.put("page.htm", b"")
        if subprocess.run(["mount", "--bind", self.dir / "source.htm", self.dir / "page.htm"],
                          capture_output=True).returncode != 0:
            self.skipTest("mount is not permitted here")
        self.addCleanup(subprocess.run, ["umount", self.dir / "page.htm"], check=True)
        # The rename fails (EBUSY): the page is copied in through the mount instead.
        self.assertEqual(self.run_taletab("scene.txt", "page.htm"), (0, BANNER + DONE))
        self.assertEqual((self.dir / "source.htm").read_bytes(), page_titled("page.htm"))
        self.assertEqual(leftovers(self.dir), [])

    # The page and its directory, held from the moment they are examined

    def fresh_directory(self, owner=None):
        """Empties the test's directory and gives it to `owner` (a root run's), if given."""
        for name in os.listdir(self.dir):
            path = self.dir / name
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path)
            else:
                path.unlink()
        if owner is not None:
            os.chown(self.dir, owner, owner)
        os.chmod(self.dir, 0o755)

    @contextlib.contextmanager
    def held_run(self, page, before=None, env=None):
        """Runs the program on a FIFO script that goes on until the block
        ends, and yields the process once its temporary file exists in the
        test's directory; the status and output are then in self.outcome."""
        fifo = self.dir / "script.fifo"
        os.mkfifo(fifo)
        os.chmod(fifo, 0o666)
        writer = os.open(fifo, os.O_RDWR)  # held open: the program waits for the rest of the script
        process = None
        try:
            os.write(writer, SCRIPT)
            process = subprocess.Popen([BINARY, "script.fifo", page], cwd=self.dir, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, preexec_fn=before, env=env)
            for _ in range(1000):
                if leftovers(self.dir) or process.poll() is not None:
                    break
                time.sleep(0.01)
            self.assertNotEqual(leftovers(self.dir), [], "the temporary file was made")
            yield process
        finally:
            os.close(writer)
            if process:
                stdout, stderr = process.communicate(timeout=60)
                self.outcome = (process.returncode, stdout, stderr)
            os.remove(fifo)

    SECRET = b"root's own\n"

    def root_only_file(self):
        """A file only root may read or write, outside the test's directory, holding SECRET."""
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        secret = Path(directory.name) / "secret"
        secret.write_bytes(self.SECRET)
        os.chmod(secret, 0o600)
        return secret

    @needs_root("a root run in a directory another user owns")
    def test_a_name_swapped_for_a_link_while_the_run_is_held_is_never_followed(self):
        secret = self.root_only_file()
        for swapped in ["the page", "the temporary file"]:
            with self.subTest(swapped):
                self.fresh_directory(owner=NOBODY)
                self.put("page.htm", LONG_OLD_PAGE)
                os.link(self.dir / "page.htm", self.dir / "other.htm")  # copied into, at the end of the run
                for name in ["page.htm", "other.htm"]:
                    os.chown(self.dir / name, NOBODY, NOBODY)
                with self.held_run("page.htm"):
                    victim = self.dir / "page.htm" if swapped == "the page" else Path(leftovers(self.dir)[0])
                    # The directory's owner puts a link to root's file in the name's place.
                    subprocess.run(["sh", "-c", 'rm -f "$1" && ln -s "$2" "$1"', "sh", victim, secret],
                                   preexec_fn=as_nobody, check=True)
                self.assertEqual(self.outcome, (0, BANNER + DONE, b""))
                self.assertEqual(secret.read_bytes(), self.SECRET)
                # The page taken over is the file examined, which the other link still reaches.
                self.assertEqual((self.dir / "other.htm").read_bytes(), page_titled("page.htm"))
                self.assertEqual(leftovers(self.dir), [])

    @unittest.skipUnless(LINUX, "POSIX permissions")
    def test_the_temporary_file_is_private_until_it_takes_the_name(self):
        def linked():
            os.link(self.dir / "page.htm", self.dir / "other.htm")

        def another_users():
            os.chmod(self.dir, 0o777)

        cases = [("renamed", lambda: None, None), ("copied into", linked, None)]
        if ROOT:
            cases.append(("another user's page, copied into", another_users, as_nobody))
        for label, setup, user in cases:
            with self.subTest(label):
                self.fresh_directory()
                self.put("page.htm", OLD_PAGE)
                os.chmod(self.dir / "page.htm", 0o666)
                setup()
                with self.held_run("page.htm", before=user):
                    made = os.stat(leftovers(self.dir)[0])
                    self.assertEqual(stat.S_IMODE(made.st_mode), 0o600)
                    self.assertEqual(made.st_uid, NOBODY if user else os.geteuid())
                self.assertEqual(self.outcome, (0, BANNER + DONE, b""))
                self.assertEqual((self.dir / "page.htm").read_bytes(), page_titled("page.htm"))
                self.assertEqual(stat.S_IMODE((self.dir / "page.htm").stat().st_mode), 0o666)
                self.assertEqual(leftovers(self.dir), [])

    # strace holds the run at its n-th call of a kind, counted in the static program: a dynamically
    # linked one's loader makes calls of its own first.
    @needs_root("runs as another user")
    @unittest.skipUnless(STATIC and shutil.which("strace"), "held by strace, which counts the static program's calls")
    def test_the_temporary_file_stays_private_while_it_is_copied_into_another_users_page(self):
        # Another user's page that others may write: the temporary file must not let them
        # write into the new page, nor read it, while its bytes are copied in.
        os.chmod(self.dir, 0o777)
        self.put("page.htm", OLD_PAGE)
        os.chmod(self.dir / "page.htm", 0o606)
        scene = self.scratch_folder() + "/scene.txt"
        Path(scene).write_bytes(SCRIPT)
        # The copy's first read is the run's second pread (the first reads the page's head):
        # strace holds the run there for a moment.
        process = subprocess.Popen(
            ["strace", "-qq", "-o", "/dev/null", "-e", "trace=pread64", "-e",
             "inject=pread64:delay_enter=1500000:when=2", BINARY, scene, "page.htm"],
            cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=as_nobody)
        for _ in range(1000):
            if leftovers(self.dir) or process.poll() is not None:
                break
            time.sleep(0.005)
        modes = [stat.S_IMODE(os.stat(name).st_mode) for name in leftovers(self.dir)]
        stdout, stderr = process.communicate(timeout=60)
        self.assertEqual((process.returncode, stdout, stderr), (0, BANNER + DONE, b""))
        self.assertEqual(modes, [0o600])
        self.assertEqual((self.dir / "page.htm").read_bytes(), page_titled("page.htm"))
        self.assertEqual(stat.S_IMODE((self.dir / "page.htm").stat().st_mode), 0o606)

    @unittest.skipUnless(LINUX and shutil.which("setfacl"), "access lists")
    def test_a_new_page_gets_the_mode_any_new_file_gets_there(self):
        self.put("scene.txt")
        previous = os.umask(0o022)
        self.addCleanup(os.umask, previous)
        for label, default_list in [("the umask", None), ("a default access list", "u::rw,g::r,o::-,u:nobody:rw"),
                                    ("a default access list of 70 entries",
                                     "u::rw,g::r,o::-," + ",".join(f"u:{20000 + n}:r" for n in range(70)))]:
            with self.subTest(label):
                directory = self.dir / label.replace(" ", "-")
                directory.mkdir()
                if default_list:
                    subprocess.run(["setfacl", "-d", "-m", default_list, directory], check=True)
                (directory / "touched.htm").write_bytes(b"")  # made as any program makes a file
                self.assertEqual(self.run_taletab("scene.txt", f"{directory.name}/page.htm",
                                                  before=lambda: os.umask(0o022)), (0, BANNER + DONE))

                def access(name):
                    return subprocess.run(["getfacl", "-c", "-p", directory / name], check=True,
                                          capture_output=True).stdout

                self.assertEqual(access("page.htm"), access("touched.htm"))
                self.assertEqual(stat.S_IMODE((directory / "page.htm").stat().st_mode),
                                 stat.S_IMODE((directory / "touched.htm").stat().st_mode))

    def mount_small(self, name, options):
        """Mounts a tmpfs below the test's directory, or skips the test."""
        mount_point = self.dir / name
        mount_point.mkdir()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", mount_point],
                          capture_output=True).returncode != 0:
            self.skipTest("mount is not permitted here")
        self.addCleanup(subprocess.run, ["umount", mount_point], check=True)
        return mount_point

    @needs_root("mounts a small file system")
    def test_a_copy_the_disk_has_no_room_for_leaves_the_old_page(self):
        # No inode left for a temporary file beside the page: it is made in TMPDIR, then copied in.
        small = self.mount_small("small", "size=512k,nr_inodes=4")
        (small / "page.htm").write_bytes(LONG_OLD_PAGE)
        os.link(small / "page.htm", small / "other.htm")
        for number in range(4):
            try:
                (small / f"filler{number}").write_bytes(b"")
            except OSError:
                break
        self.put("long.txt", SCRIPT * 400)  # a page of about 1.5 MB
        env = dict(os.environ, TMPDIR=self.scratch_folder())
        self.assertEqual(self.run_taletab("long.txt", "small/page.htm", env=env),
                         (4, BANNER + message(PAGE_WRITE_FAILED, "small/page.htm") + DISK_FULL))
        self.assertEqual((small / "page.htm").read_bytes(), LONG_OLD_PAGE)
        self.assertEqual(leftovers(self.dir) + leftovers(env["TMPDIR"]), [])

    @unittest.skipUnless(LINUX, "FIFOs and file locks")
    def test_two_runs_copy_into_one_page_one_after_the_other(self):
        self.put("page.htm", OLD_PAGE)
        os.link(self.dir / "page.htm", self.dir / "other.htm")
        other_script = sjis("ハルカ\tまた明日。\n")
        self.put("other.txt", other_script)
        with self.held_run("page.htm"):
            second = subprocess.Popen([BINARY, "other.txt", "page.htm"], cwd=self.dir, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE)
            time.sleep(0.5)
            self.assertIsNone(second.poll(), "the second run waits for the first to end")
        self.assertEqual(second.communicate(timeout=60), (BANNER + message(PAGE_BUSY, "page.htm") + DONE, b""))
        self.assertEqual(self.outcome, (0, BANNER + DONE, b""))
        expected = tempfile.TemporaryDirectory()
        self.addCleanup(expected.cleanup)
        (Path(expected.name) / "other.txt").write_bytes(other_script)
        subprocess.run([BINARY, "other.txt", "page.htm"], cwd=expected.name, capture_output=True, check=True)
        self.assertEqual((self.dir / "page.htm").read_bytes(), (Path(expected.name) / "page.htm").read_bytes())
        self.assertEqual(leftovers(self.dir), [])

    @unittest.skipUnless(LINUX, "file locks")
    def test_many_runs_into_one_page_each_get_their_page_or_fail(self):
        """Twenty runs at once into one page, renamed over or copied into: the
        page is that of the last run to succeed; a run that waited too long
        fails and says so; none says it succeeded while its page was lost.
        Each run converts long enough (a page of 2 MB, synced) that the next
        one ends well after the one before it let go of the page."""
        runs = 20
        for number in range(runs):
            self.put(f"{number}.txt", sjis(f"ハルカ\t{number}番目の台詞。\n") * 20000)
        busy = message(PAGE_BUSY, "page.htm")
        for linked in [False, True]:
            with self.subTest(linked=linked):
                self.put("page.htm", OLD_PAGE)
                if linked:
                    os.link(self.dir / "page.htm", self.dir / "other.htm")
                processes = {number: subprocess.Popen([BINARY, f"{number}.txt", "page.htm"], cwd=self.dir,
                                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                             for number in range(runs)}
                ended = []  # the runs found ended at each look (their output fits in a pipe's buffer)
                while sum(map(len, ended)) < runs:
                    done = {n for n, process in processes.items() if process.poll() is not None}
                    ended.append(done - set().union(*ended))
                    time.sleep(0.001)
                for number, process in processes.items():
                    stdout, stderr = process.communicate(timeout=60)
                    self.assertEqual(stderr, b"")
                    if process.returncode == 0:
                        self.assertIn(stdout, [BANNER + DONE, BANNER + busy + DONE])
                    else:
                        self.assertEqual((process.returncode, stdout), (
                            3, BANNER + busy + message(PAGE_NOT_CREATED, "page.htm") + IN_USE))
                last = next(({n for n in group if processes[n].returncode == 0} for group in reversed(ended)
                             if any(processes[n].returncode == 0 for n in group)), set())
                page = (self.dir / "page.htm").read_bytes()
                first_text = b'<td valign="top">'
                found = int(page.split(first_text, 1)[1].split(sjis("番"), 1)[0]) if first_text in page else None
                self.assertIn(found, last, "the page is that of a run among the last to succeed")
                expected = Path(self.scratch_folder())
                subprocess.run([BINARY, self.dir / f"{found}.txt", "page.htm"], cwd=expected, capture_output=True,
                               check=True)
                self.assertEqual(page, (expected / "page.htm").read_bytes())
                self.assertEqual(leftovers(self.dir), [])
                for name in ["page.htm", "other.htm"]:
                    (self.dir / name).unlink(missing_ok=True)

    @unittest.skipUnless(LINUX and shutil.which("flock"), "flock(1)")
    def test_a_page_another_program_holds_is_refused_after_a_short_wait(self):
        self.put("scene.txt")
        self.put("page.htm", OLD_PAGE)
        os.chmod(self.dir, 0o755)
        # Any user who may read the page may hold it: another user, where the tests run as root.
        holder = subprocess.Popen(["flock", "-s", "page.htm", "sleep", "120"], cwd=self.dir,
                                  preexec_fn=as_nobody if ROOT else None)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        with open(self.dir / "page.htm", "rb") as page:
            for _ in range(1000):
                try:
                    fcntl.flock(page, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    fcntl.flock(page, fcntl.LOCK_UN)
                    time.sleep(0.01)
                except BlockingIOError:
                    break
        started = time.monotonic()
        self.expect(["scene.txt", "page.htm"], 3,
                    BANNER + message(PAGE_BUSY, "page.htm") + message(PAGE_NOT_CREATED, "page.htm") + IN_USE,
                    {"scene.txt": SCRIPT, "page.htm": OLD_PAGE})
        self.assertLess(time.monotonic() - started, 30, "the wait is short")
        self.assertEqual(leftovers(self.dir), [])
        # Standard output that is the page gets no word of the wait, nor of the refusal.
        with open(self.dir / "page.htm", "ab") as page:
            result = subprocess.run(EMULATOR + [BINARY, "scene.txt", "page.htm"], cwd=self.dir, stdout=page,
                                    stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((result.returncode, result.stderr, (self.dir / "page.htm").read_bytes()), (3, b"", OLD_PAGE))

    @unittest.skipUnless(LINUX, "/dev/stdout, FIFOs and sockets")
    def test_standard_output_of_any_kind_that_is_the_page_gets_the_page_alone(self):
        self.put("scene.txt")
        with self.subTest("a pipe"):
            result = subprocess.run([BINARY, "scene.txt", "/dev/stdout"], cwd=self.dir, capture_output=True,
                                    timeout=60)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (0, page_titled("/dev/stdout"), b""))
        with self.subTest("a socket"):
            ours, theirs = socket.socketpair()
            with ours, theirs:
                process = subprocess.Popen([BINARY, "scene.txt", "/dev/stdout"], cwd=self.dir, stdout=theirs,
                                           stderr=subprocess.PIPE)
                theirs.close()
                got = b""
                while chunk := ours.recv(65536):
                    got += chunk
                self.assertEqual((process.wait(timeout=60), got, process.stderr.read()),
                                 (0, page_titled("/dev/stdout"), b""))
                process.stderr.close()
        with self.subTest("a FIFO named as the page"):
            os.mkfifo(self.dir / "page.fifo")
            reader = os.open(self.dir / "page.fifo", os.O_RDONLY | os.O_NONBLOCK)
            writer = os.open(self.dir / "page.fifo", os.O_WRONLY)
            process = subprocess.Popen([BINARY, "scene.txt", "page.fifo"], cwd=self.dir, stdout=writer,
                                       stderr=subprocess.PIPE)
            os.close(writer)
            os.set_blocking(reader, True)
            got = b""
            while chunk := os.read(reader, 65536):
                got += chunk
            os.close(reader)
            self.assertEqual((process.wait(timeout=60), got, process.stderr.read()),
                             (0, page_titled("page.fifo"), b""))
            process.stderr.close()

    @unittest.skipUnless(LINUX or WINE, "/proc")
    def test_a_page_on_a_pseudo_file_system_is_refused_before_converting(self):
        # A kernel setting reports size 0 and reads as text: it is never taken for an empty page. The
        # Windows program, which knows no such files, finds them not empty by reading them.
        self.put("scene.txt")
        sleeper = subprocess.Popen(["sleep", "120"])
        self.addCleanup(sleeper.wait)
        self.addCleanup(sleeper.kill)
        setting = Path(f"/proc/{sleeper.pid}/comm")
        refusal = PAGE_NOT_HTML if WINE else PAGE_NOT_CREATED
        for label, target in [("another process's name", setting), ("the run's own name", "/proc/self/comm")]:
            with self.subTest(label):
                (self.dir / "page.htm").unlink(missing_ok=True)
                os.symlink(target, self.dir / "page.htm")
                self.expect(["scene.txt", "page.htm"], 3, BANNER + message(refusal, "page.htm"),
                            {"scene.txt": SCRIPT})
        self.assertEqual(setting.read_bytes(), b"sleep\n")

    @unittest.skipUnless(LINUX, "symbolic links, a file-size limit and signals")
    def test_a_link_to_no_file_gets_the_page_whole_or_not_at_all(self):
        def small_file_limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))

        self.put("scene.txt")
        self.put("long.txt", SCRIPT * 5000)
        os.symlink("made.htm", self.dir / "page.htm")
        self.assertEqual(self.run_taletab("long.txt", "page.htm", before=small_file_limit),
                         (4, BANNER + message(PAGE_WRITE_FAILED, "page.htm")))
        self.assertFalse((self.dir / "made.htm").exists())
        if SIGNALS_REACH_A_READ:
            status, stdout = self.end_by_signal("page.htm", signal.SIGINT)
            self.assertEqual((status, stdout), (-signal.SIGINT, BANNER))
            self.assertFalse((self.dir / "made.htm").exists())
        self.assertEqual(leftovers(self.dir), [])
        self.assertEqual(self.run_taletab("scene.txt", "page.htm"), (0, BANNER + DONE))
        self.assertEqual(os.readlink(self.dir / "page.htm"), "made.htm")
        self.assertEqual((self.dir / "made.htm").read_bytes(), page_titled("page.htm"))

    @unittest.skipUnless(LINUX, "/dev/urandom and FIFOs")
    def test_reading_stops_at_the_scripts_end(self):
        # Random bytes hold a 0x1A early on: nothing after it is read. What came before may be
        # said to be read in an encoding that may be wrong.
        self.assertIn(self.run_taletab("/dev/urandom", "page.htm"),
                      [(0, BANNER + DONE)] + [(0, BANNER + message(DOUBTFUL, e) + DONE) for e in ("Shift-JIS", "UTF-8", "EUC-JP")])
        # A pipe whose writer never closes it, after the 0x1A.
        fifo = self.dir / "script.fifo"
        os.mkfifo(fifo)
        writer = os.open(fifo, os.O_RDWR)
        try:
            os.write(writer, SCRIPT + b"\x1a" + SCRIPT)
            self.assertEqual(self.run_taletab("script.fifo", "page.htm"), (0, BANNER + DONE))
        finally:
            os.close(writer)
        self.assertEqual((self.dir / "page.htm").read_bytes(), page_titled("page.htm"))

    @needs_root("mounts a small file system")
    def test_a_full_disk_ends_a_script_that_never_ends(self):
        small = self.mount_small("small", "size=256k")
        endless = subprocess.Popen(["yes", "name\ttext"], stdout=subprocess.PIPE)
        self.addCleanup(endless.wait)
        self.addCleanup(endless.kill)
        result = subprocess.run([BINARY, "/dev/stdin", "small/page.htm"], cwd=self.dir, stdin=endless.stdout,
                                capture_output=True, timeout=60)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (4, BANNER + message(PAGE_WRITE_FAILED, "small/page.htm") + DISK_FULL, b""))
        self.assertEqual(os.listdir(small), [])

    @needs_root("runs as another user")
    def test_a_page_the_user_may_write_but_not_read(self):
        for linked in [False, True]:
            with self.subTest(linked=linked):
                self.fresh_directory(owner=NOBODY)
                scene = self.scratch_folder() + "/scene.txt"
                Path(scene).write_bytes(SCRIPT)
                self.put("page.htm", b"")
                os.chown(self.dir / "page.htm", NOBODY, NOBODY)
                os.chmod(self.dir / "page.htm", 0o266)
                if linked:
                    os.link(self.dir / "page.htm", self.dir / "other.htm")
                self.assertEqual(self.run_taletab(scene, "page.htm", before=as_nobody), (0, BANNER + DONE))
                self.assertEqual((self.dir / "page.htm").read_bytes(), page_titled("page.htm"))
                self.assertEqual(stat.S_IMODE((self.dir / "page.htm").stat().st_mode), 0o266)
                self.assertEqual(leftovers(self.dir), [])

    @unittest.skipUnless(LINUX, "/dev/stdout")
    def test_no_message_goes_into_a_page_that_is_standard_output(self):
        self.put("scene.txt")
        for linked in [False, True]:
            with self.subTest(linked=linked):
                self.put("out.htm", OLD_PAGE)
                if linked:
                    os.link(self.dir / "out.htm", self.dir / "other.htm")
                with open(self.dir / "out.htm", "r+b") as out:
                    result = subprocess.run([BINARY, "scene.txt", "/dev/stdout"], cwd=self.dir, stdout=out,
                                            stderr=subprocess.PIPE, timeout=60)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual((self.dir / "out.htm").read_bytes(), page_titled("/dev/stdout"))

    @needs_root("a root run in a directory another user owns")
    @unittest.skipUnless(STATIC and shutil.which("strace"), "held by strace, which counts the static program's calls")
    def test_a_device_swapped_for_a_link_before_it_is_opened_is_not_written(self):
        secret = self.root_only_file()
        self.fresh_directory(owner=NOBODY)
        self.put("scene.txt")
        os.mkfifo(self.dir / "page.htm")
        os.chown(self.dir / "page.htm", NOBODY, NOBODY)
        # The page is the run's second openat, after the script: strace holds the run there.
        process = subprocess.Popen(
            ["strace", "-qq", "-o", "/dev/null", "-e", "trace=openat", "-e",
             "inject=openat:delay_enter=1500000:when=2", BINARY, "scene.txt", "page.htm"],
            cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        held = None
        for _ in range(1000):
            children = Path(f"/proc/{process.pid}/task/{process.pid}/children").read_text().split()
            if children and Path(f"/proc/{children[0]}/fd/3").exists() and \
                    Path(f"/proc/{children[0]}/syscall").read_text().split()[0] == "257":
                held = children[0]
                break
            time.sleep(0.005)
        self.assertIsNotNone(held, "the run was held before it opened the page")
        # The directory's owner puts a link to root's file in the pipe's place.
        subprocess.run(["sh", "-c", 'rm -f page.htm && ln -s "$1" page.htm', "sh", secret], cwd=self.dir,
                       preexec_fn=as_nobody, check=True)
        stdout, stderr = process.communicate(timeout=60)
        self.assertEqual((process.returncode, stdout, stderr), (3, BANNER + message(PAGE_NOT_CREATED, "page.htm"), b""))
        self.assertEqual(secret.read_bytes(), self.SECRET)

    @needs_root("attaches a loop device")
    @unittest.skipUnless(shutil.which("losetup"), "needs losetup")
    def test_a_disk_is_no_page(self):
        self.put("scene.txt")
        image = Path(self.scratch_folder()) / "disk.img"
        data = b"a disk's bytes\n" * 4096
        image.write_bytes(data)
        attached = subprocess.run(["losetup", "-f", "--show", image], capture_output=True, text=True)
        if attached.returncode != 0:
            self.skipTest("no loop device here")
        device = attached.stdout.strip()
        self.addCleanup(subprocess.run, ["losetup", "-d", device], check=True)
        self.assertEqual(self.run_taletab("scene.txt", device), (3, BANNER + message(PAGE_NOT_CREATED, device)))
        subprocess.run(["losetup", "-d", device], check=True)
        self.assertEqual(image.read_bytes(), data)
        subprocess.run(["losetup", "-f", "--show", image], capture_output=True)  # for the cleanup

    @needs_root("mounts a file system with file flags")
    @unittest.skipUnless(shutil.which("mkfs.ext4"), "needs mkfs.ext4")
    def test_file_flags(self):
        self.put("scene.txt")
        image = Path(self.scratch_folder()) / "ext4.img"
        with open(image, "wb") as out:
            out.truncate(8 * 1024 * 1024)
        subprocess.run(["mkfs.ext4", "-q", "-F", image], check=True)
        flagged = self.dir / "flagged"
        flagged.mkdir()
        if subprocess.run(["mount", "-o", "loop", image, flagged], capture_output=True).returncode != 0:
            self.skipTest("loop mounts are not permitted here")
        self.addCleanup(subprocess.run, ["umount", flagged], check=True)
        for flag, refused in [("a", True), ("i", True), ("d", False), ("A", False)]:
            with self.subTest(flag=flag):
                page = flagged / f"{flag}.htm"
                page.write_bytes(OLD_PAGE)
                subprocess.run(["chattr", f"+{flag}", page], check=True)
                self.addCleanup(subprocess.run, ["chattr", f"-{flag}", page])
                name = f"flagged/{flag}.htm"
                if refused:
                    self.assertEqual(self.run_taletab("scene.txt", name),
                                     (3, BANNER + message(PAGE_NOT_CREATED, name) + NO_PERMISSION))
                    self.assertEqual(page.read_bytes(), OLD_PAGE)
                else:
                    self.assertEqual(self.run_taletab("scene.txt", name), (0, BANNER + DONE))
                    self.assertEqual(page.read_bytes(), page_titled(name))
                flags = subprocess.run(["lsattr", "-d", page], check=True, capture_output=True, text=True).stdout
                self.assertIn(flag, flags.split()[0], "the flag is kept")
                self.assertEqual(leftovers(flagged), [])

    # Signals and a lost standard output

    @unittest.skipUnless(sys.platform.startswith("linux"), "signals and FIFOs (wine turns SIGINT into Ctrl-C)")
    @unittest.skipUnless(SIGNALS_REACH_A_READ, "ThreadSanitizer holds signals during a blocked read")
    def test_a_signal_removes_the_temporary_file(self):
        self.put("alone.htm", OLD_PAGE)
        self.put("linked.htm", OLD_PAGE)
        os.link(self.dir / "linked.htm", self.dir / "other.htm")
        # Windows has only Ctrl-C to catch; wine's default handler then exits with 0.
        signals = [signal.SIGINT] if WINE else [
            signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGALRM, signal.SIGUSR1,
            signal.SIGUSR2, signal.SIGVTALRM, signal.SIGPROF, signal.SIGXCPU, signal.SIGABRT, signal.SIGPOLL,
            signal.SIGRTMIN, signal.SIGRTMAX]
        # Renamed over, copied into, made new.
        for page in ["alone.htm", "linked.htm", "new.htm"]:
            for signal_number in signals:
                with self.subTest(page=page, signal=signal_number.name):
                    status, stdout = self.end_by_signal(page, signal_number)
                    if not WINE:
                        self.assertEqual(status, -signal_number, "ended by that signal")
                    self.assertEqual(stdout, BANNER, "the banner came before the conversion")
                    self.assertEqual(self.files(),
                                     {"alone.htm": OLD_PAGE, "linked.htm": OLD_PAGE, "other.htm": OLD_PAGE})

    def end_by_signal(self, page, signal_number):
        """Runs the program on a FIFO script that never ends, sends the signal
        once the temporary file exists; returns the status and output."""
        fifo = self.dir / "script.fifo"
        os.mkfifo(fifo)
        writer = os.open(fifo, os.O_RDWR)  # held open: the program waits for the rest of the script
        try:
            os.write(writer, SCRIPT)
            process = subprocess.Popen(
                EMULATOR + [BINARY, "script.fifo", page], cwd=self.dir, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
            for _ in range(1000):
                if leftovers(self.dir) or process.poll() is not None:
                    break
                time.sleep(0.01)
            self.assertNotEqual(leftovers(self.dir), [], "the temporary file was made")
            process.send_signal(signal_number)
            stdout, stderr = process.communicate(timeout=60)
        finally:
            os.close(writer)
            os.remove(fifo)
        self.assertEqual(stderr, b"")
        return process.returncode, stdout

    @unittest.skipUnless(LINUX, "closes a descriptor")
    def test_standard_output_closed_or_a_broken_pipe(self):
        self.put("scene.txt")
        read_end, write_end = os.pipe()
        os.close(read_end)
        self.addCleanup(os.close, write_end)
        for label, stdout, before in [
            ("closed", subprocess.DEVNULL, lambda: os.close(1)),
            ("closed with standard input", subprocess.DEVNULL, lambda: (os.close(0), os.close(1))),
            ("a broken pipe", write_end, None),
        ]:
            with self.subTest(label):
                result = subprocess.run([BINARY, "scene.txt", "page.htm"], cwd=self.dir, stdout=stdout,
                                        stderr=subprocess.PIPE, preexec_fn=before, pass_fds=[write_end])
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(self.files(), {"scene.txt": SCRIPT, "page.htm": page_titled("page.htm")})

    # Windows page names, under wine

    @unittest.skipUnless(WINE, "Windows names and attributes: the Windows program under wine")
    def test_windows_page_names(self):
        self.put("scene.txt")
        deep = "/".join(["d" * 99] * 3)  # a folder name of 299 characters, past MAX_PATH
        os.makedirs(self.dir / deep)
        absolute = "\\\\?\\Z:" + str(self.dir).replace("/", "\\") + "\\page.htm"
        # (label, name as typed, the page's file or None, whether it exists before, status, message)
        for label, name, file, existing, status, stdout in [
            ("an existing page in a long folder", deep + "/page.htm", deep + "/page.htm", True, 0, DONE),
            ("a new page in a long folder", deep + "/new.htm", deep + "/new.htm", False, 0, DONE),
            (r"a \\?\ name", absolute, "page.htm", True, 0, DONE),
            (r"a \\.\ name", absolute.replace("?", ".", 1), "page.htm", True, 0, DONE),
            ("a drive-relative name", "Z:page.htm", "page.htm", True, 0, DONE),
            ("the null device", "NUL", None, False, 0, DONE),
            ("the null device with an extension", "nul.htm", None, False, 0, DONE),
            ("a name with ?", "a?b.htm", None, False, 3, message(PAGE_NOT_CREATED, "a?b.htm")),
            ("a name with |", "a|b.htm", None, False, 3, message(PAGE_NOT_CREATED, "a|b.htm")),
        ]:
            with self.subTest(label):
                if existing:
                    self.put(file, OLD_PAGE)
                files = {"scene.txt": SCRIPT}
                if file:
                    files[file] = page_titled(name)
                self.expect(["scene.txt", name], status, BANNER + stdout, files)
                if file:
                    os.remove(self.dir / file)

    @unittest.skipUnless(WINE, "Windows names and attributes: the Windows program under wine")
    def test_windows_failures_leave_the_old_page(self):
        absolute = "\\\\?\\Z:" + str(self.dir).replace("/", "\\") + "\\page.htm"
        self.put("page.htm", OLD_PAGE)
        self.expect(["/proc/self/mem", absolute], 4, BANNER + message(SCRIPT_READ_FAILED, "/proc/self/mem"),
                    {"page.htm": OLD_PAGE})
        self.put("scene.txt")
        os.chmod(self.dir / "page.htm", 0o444)  # wine's read-only attribute
        self.expect(["scene.txt", "page.htm"], 3, BANNER + message(PAGE_NOT_CREATED, "page.htm") + NO_PERMISSION,
                    {"scene.txt": SCRIPT, "page.htm": OLD_PAGE})

    @unittest.skipUnless(WINE, "Windows names and attributes: the Windows program under wine")
    def test_windows_page_keeps_its_attributes_and_links(self):
        self.put("scene.txt")
        self.put("page.htm", OLD_PAGE)
        self.put("linked.htm", OLD_PAGE)
        os.link(self.dir / "linked.htm", self.dir / "other.htm")
        subprocess.run(EMULATOR + ["cmd", "/c", "attrib", "+s", "page.htm"], cwd=self.dir, check=True,
                       capture_output=True)
        for name in ["page.htm", "linked.htm"]:
            self.assertEqual(self.run_taletab("scene.txt", name), (0, BANNER + DONE))
        attributes = subprocess.run(EMULATOR + ["cmd", "/c", "attrib", "page.htm"], cwd=self.dir, check=True,
                                    capture_output=True).stdout
        self.assertIn(b"S", attributes.split(b"Z:")[0], "the system attribute is kept")
        self.assertEqual(self.files(), {"scene.txt": SCRIPT, "page.htm": page_titled("page.htm"),
                                        "linked.htm": page_titled("linked.htm"),
                                        "other.htm": page_titled("linked.htm")})

    # The page cannot be written

    def test_page_that_cannot_be_created(self):
        self.put("scene.txt")
        os.mkdir(self.dir / "folder")
        for name in ["missing/page.htm", "folder"]:
            with self.subTest(name=name):
                self.expect(["scene.txt", name], 3, BANNER + message(PAGE_NOT_CREATED, name),
                            {"scene.txt": SCRIPT})

    @unittest.skipUnless(sys.platform.startswith("linux"), "a FIFO as the script")
    def test_a_name_no_file_can_have_is_refused_before_the_script_is_read(self):
        # The script is a FIFO that never ends: the run returns only where it does not read it.
        fifo = self.dir / "script.fifo"
        os.mkfifo(fifo)
        writer = os.open(fifo, os.O_RDWR)
        self.addCleanup(os.close, writer)
        os.write(writer, SCRIPT)
        scripts = [("script.fifo", None)]
        if LINUX and not SANITIZED:
            # Read, /dev/zero would be one line that grows until the memory (limited here) runs out.
            scripts.append(("/dev/zero", limited_address_space(256 * 1024 * 1024)))
        for script, before in scripts:
            for label, name, cause in [("an empty name", "", b""),
                                       ("a name of 300 bytes", "p" * 296 + ".htm", NAME_TOO_LONG),
                                       ("a folder's name", "new/", b"")]:
                with self.subTest(label, script=script):
                    result = subprocess.run(EMULATOR + [BINARY, script, name], cwd=self.dir, capture_output=True,
                                            timeout=10, preexec_fn=before)
                    self.assertEqual((result.returncode, result.stdout, result.stderr),
                                     (3, BANNER + message(PAGE_NOT_CREATED, name) + cause, b""))
        os.set_blocking(writer, False)
        self.assertEqual(os.read(writer, len(SCRIPT) + 1), SCRIPT, "not a byte of the script was read")
        self.assertEqual(os.listdir(self.dir), ["script.fifo"])

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full (wine opens it too)")
    def test_full_disk_is_a_failure(self):
        self.put("scene.txt")
        self.expect(["scene.txt", "/dev/full"], 4, BANNER + message(PAGE_WRITE_FAILED, "/dev/full") + DISK_FULL,
                    {"scene.txt": SCRIPT})

    def test_the_cause_a_user_meets_is_said(self):
        self.put("scene.txt")
        self.put("long.txt", SCRIPT * 400)  # a page of about 1.5 MB
        too_long = "n" * 300 + ".htm"
        self.expect(["scene.txt", too_long], 3, BANNER + message(PAGE_NOT_CREATED, too_long) + NAME_TOO_LONG,
                    {"scene.txt": SCRIPT, "long.txt": SCRIPT * 400})
        if not ROOT:
            return
        small = self.mount_small("small", "size=256k")
        self.expect(["long.txt", "small/page.htm"], 4,
                    BANNER + message(PAGE_WRITE_FAILED, "small/page.htm") + DISK_FULL,
                    {"scene.txt": SCRIPT, "long.txt": SCRIPT * 400})
        read_only = self.mount_small("read-only", "ro")
        self.expect(["scene.txt", "read-only/page.htm"], 3,
                    BANNER + message(PAGE_NOT_CREATED, "read-only/page.htm") + READ_ONLY,
                    {"scene.txt": SCRIPT, "long.txt": SCRIPT * 400})
        self.assertEqual(os.listdir(small) + os.listdir(read_only), [])

    @unittest.skipUnless(LINUX, "limits the file size")
    def test_failed_write_leaves_the_old_page(self):
        self.put("long.txt", SCRIPT * 5000)
        self.put("page.htm", OLD_PAGE)

        def small_file_limit():
            # The program itself turns the signal this sends into a failed write.
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))

        self.expect(["long.txt", "page.htm"], 4, BANNER + message(PAGE_WRITE_FAILED, "page.htm"),
                    {"long.txt": SCRIPT * 5000, "page.htm": OLD_PAGE},
                    before=small_file_limit)

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_line_longer_than_memory_is_a_failure(self):
        script = b"name\t" + b"x" * (96 * 1024 * 1024)
        self.put("long.txt", script)
        self.put("page.htm", OLD_PAGE)
        self.expect(["long.txt", "page.htm"], 4, BANNER + message(SCRIPT_READ_FAILED, "long.txt"),
                    {"long.txt": script, "page.htm": OLD_PAGE}, before=limited_address_space(64 * 1024 * 1024))

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_running_out_of_memory_anywhere_is_a_failed_read(self):
        """Address-space limits in steps, up to one the program needs no more
        than: each run either converts or ends with the read-failed message,
        never a crash, a word on standard error or a temporary file left.
        Limits too small for the C library to start the program (it prints
        nothing then) are passed over."""
        self.put("scene.txt")
        failed = 0
        for limit in range(1024 * 1024, 32 * 1024 * 1024, 64 * 1024):
            self.put("page.htm", OLD_PAGE)
            result = subprocess.run(
                [BINARY, "scene.txt", "page.htm"], cwd=self.dir, capture_output=True, timeout=60,
                preexec_fn=limited_address_space(limit))
            if result.stdout == b"":
                continue
            outcome = (limit, result.returncode, result.stdout, result.stderr, sorted(self.files()))
            if result.returncode == 0:
                break
            failed += 1
            self.assertEqual(outcome, (limit, 4, BANNER + message(SCRIPT_READ_FAILED, "scene.txt"), b"",
                                       ["page.htm", "scene.txt"]))
            self.assertEqual((self.dir / "page.htm").read_bytes(), OLD_PAGE)
        self.assertEqual(outcome[1:4], (0, BANNER + DONE, b""), "the largest limit converts")
        self.assertGreater(failed, 0, "some limit let the program start but not finish")

    @unittest.skipUnless(LINUX, "reads /proc/self/mem, which opens but cannot be read from its start")
    def test_failed_read_leaves_the_old_page(self):
        self.put("page.htm", OLD_PAGE)
        self.expect(["/proc/self/mem", "page.htm"], 4, BANNER + message(SCRIPT_READ_FAILED, "/proc/self/mem"),
                    {"page.htm": OLD_PAGE})


class FileNamesShown(unittest.TestCase):
    """A file name in the console texts and the page title: Unicode names
    (UTF-8 on Linux, the command line's UTF-16 on Windows) in Shift-JIS,
    a character without a Shift-JIS form as "?" in the texts and as a
    character reference in the title; other bytes as typed. The file is
    written under the name as typed."""

    # label, name as typed (bytes: Linux only), shown in the console texts, in the title
    NAMES = [
        ("ASCII", "scene.htm", b"scene.htm", b"scene.htm"),
        ("Japanese", "台本.htm", "台本.htm".encode("cp932"), "台本.htm".encode("cp932")),
        ("Japanese in Shift-JIS bytes", "台本.htm".encode("cp932"), "台本.htm".encode("cp932"),
         "台本.htm".encode("cp932")),
        ("an emoji", "顔😀.htm", "顔?.htm".encode("cp932"), "顔&#x1F600;.htm".encode("cp932")),
        ("A with diaeresis", "Ä.htm", b"?.htm", b"&#xC4;.htm"),
        ("JIS-style wave dash", "〜.htm", "～.htm".encode("cp932"), "～.htm".encode("cp932")),
    ]

    def run_in(self, folder, *args):
        result = subprocess.run(EMULATOR + [BINARY, *args], cwd=folder, capture_output=True, timeout=60)
        return result.returncode, result.stdout

    def test_messages_and_page_title(self):
        for label, typed, shown, title in self.NAMES:
            if isinstance(typed, bytes) and not LINUX:
                continue  # wine hands a Windows program only names that are UTF-8 on Linux
            typed = os.fsencode(typed)
            with self.subTest(label), tempfile.TemporaryDirectory() as folder:
                self.assertEqual(self.run_in(folder, typed), (2, BANNER + message(SCRIPT_MISSING, shown) + USAGE))
                (Path(folder) / "scene.txt").write_bytes(SCRIPT)
                self.assertEqual(self.run_in(folder, b"scene.txt", b"missing/" + typed),
                                 (3, BANNER + message(PAGE_NOT_CREATED, b"missing/" + shown)))
                self.assertEqual(self.run_in(folder, b"scene.txt", typed), (0, BANNER + DONE))
                with open(os.path.join(os.fsencode(folder), typed), "rb") as page:
                    self.assertEqual(page.read(), page_titled(title))


def utf8(shift_jis):
    """The same console text as a UTF-8 terminal gets it."""
    return shift_jis.decode("cp932").encode("utf-8")


def utf8_message(template, name):
    return template.replace("%s", name).replace("\n", "\r\n").encode("utf-8")


@unittest.skipUnless(LINUX, "needs a pseudo-terminal")
class OnATerminal(unittest.TestCase):
    """Standard output a terminal: the texts in UTF-8 where the locale's
    character set is UTF-8, else in Shift-JIS; either way the colours are
    reset at the end. The terminal passes bytes through unprocessed, so
    what it reads is exactly what the program wrote."""

    RESET = b"\x1b[0m"
    UTF8 = {"LANG": "C.UTF-8"}

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        (Path(self.folder.name) / "scene.txt").write_bytes(SCRIPT)

    def on_terminal(self, args, locale, while_running=lambda process: None):
        """Runs taletab with standard output on a new pseudo-terminal and the
        locale variables given; its status and every byte the terminal got."""
        env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_CTYPE", "LANG")}
        env.update(locale)
        controller, terminal = pty.openpty()
        attributes = termios.tcgetattr(terminal)
        attributes[1] &= ~termios.OPOST
        termios.tcsetattr(terminal, termios.TCSANOW, attributes)
        with subprocess.Popen([BINARY, *args], cwd=self.folder.name, env=env, stdin=subprocess.DEVNULL,
                              stdout=terminal, stderr=subprocess.PIPE) as process:
            os.close(terminal)
            while_running(process)
            shown = b""
            # Once the program, the terminal's last user, has closed it, reading fails (EIO).
            while select.select([controller], [], [], 60)[0]:
                try:
                    chunk = os.read(controller, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                shown += chunk
            os.close(controller)
            self.assertEqual(process.stderr.read(), b"", "nothing goes to standard error")
            return process.wait(timeout=60), shown

    def test_utf8_terminal(self):
        missing = "無い😀.txt"
        for label, args, expected in [
            ("success", [b"scene.txt", "台本.htm".encode()], (0, utf8(BANNER + DONE))),
            ("default page", [b"scene.txt"], (0, utf8(BANNER + DEFAULTED + DONE))),
            ("missing script, named as typed", [missing.encode()],
             (2, utf8(BANNER) + utf8_message(SCRIPT_MISSING, missing) + utf8(USAGE))),
            ("a Shift-JIS name read as Shift-JIS", ["無い.txt".encode("cp932")],
             (2, utf8(BANNER) + utf8_message(SCRIPT_MISSING, "無い.txt") + utf8(USAGE))),
            ("usage screen", [], (1, utf8(BANNER + NO_FILE_NAME + USAGE))),
            ("page not created", [b"scene.txt", b"missing/page.htm"],
             (3, utf8(BANNER) + utf8_message(PAGE_NOT_CREATED, "missing/page.htm"))),
            ("page not written", [b"scene.txt", b"/dev/full"],
             (4, utf8(BANNER) + utf8_message(PAGE_WRITE_FAILED, "/dev/full") + utf8(DISK_FULL))),
        ]:
            with self.subTest(label):
                status, shown = expected
                self.assertEqual(self.on_terminal(args, self.UTF8), (status, shown + self.RESET))

    @unittest.skipUnless(SIGNALS_REACH_A_READ, "ThreadSanitizer holds signals during a blocked read")
    def test_a_run_ended_by_a_signal_resets_the_colours_too(self):
        folder = Path(self.folder.name)
        os.mkfifo(folder / "script.fifo")
        writer = os.open(folder / "script.fifo", os.O_RDWR)  # held open: the run waits for more script
        self.addCleanup(os.close, writer)
        os.write(writer, SCRIPT)

        def signal_once_converting(process):
            for _ in range(1000):
                if leftovers(folder) or process.poll() is not None:
                    break
                time.sleep(0.01)
            process.send_signal(signal.SIGINT)

        self.assertEqual(self.on_terminal([b"script.fifo", b"page.htm"], self.UTF8, signal_once_converting),
                         (-signal.SIGINT, utf8(BANNER) + self.RESET))
        self.assertEqual(sorted(os.listdir(folder)), ["scene.txt", "script.fifo"])

    def test_other_terminals_get_shift_jis(self):
        self.assertEqual(self.on_terminal([b"scene.txt", b"page.htm"], {"LC_ALL": "C"}),
                         (0, BANNER + DONE + self.RESET))
        self.assertEqual(self.on_terminal(["無い😀.txt".encode()], {"LC_ALL": "C"}),
                         (2, BANNER + message(SCRIPT_MISSING, "無い?.txt".encode("cp932")) + USAGE + self.RESET))

    def test_locale_variables_in_the_c_librarys_order(self):
        for locale, is_utf8 in [
            ({"LANG": "ja_JP.UTF-8"}, True),  # not installed here: the name tells all the same
            ({"LC_CTYPE": "en_US.utf8"}, True),
            ({"LC_ALL": "de_DE.UTF-8@euro"}, True),
            ({}, False),
            ({"LANG": "ja_JP.eucJP"}, False),
            ({"LANG": "ja_JP"}, False),
            ({"LC_ALL": "C", "LANG": "ja_JP.UTF-8"}, False),
            ({"LC_CTYPE": "ja_JP.SJIS", "LANG": "C.UTF-8"}, False),
            ({"LC_ALL": "", "LC_CTYPE": "ja_JP.UTF-8", "LANG": "C"}, True),  # empty counts as unset
        ]:
            with self.subTest(locale=locale):
                shown = BANNER + NO_FILE_NAME + USAGE
                self.assertEqual(self.on_terminal([], locale), (1, (utf8(shown) if is_utf8 else shown) + self.RESET))

    def test_a_names_control_characters_are_shown_escaped(self):
        # Would retitle the window, clear the screen and the line, then paint a success over the refusal.
        hostile = "\x1b]0;owned\x07\x1b[2J\x1b[2K\r正常に完了しました。"
        escaped = "\\x1b]0;owned\\x07\\x1b[2J\\x1b[2K\\x0d正常に完了しました。"
        c1 = "\x9b2J\x85.htm"  # CSI and NEL, in UTF-8
        shift_jis = {"LC_ALL": "C"}
        for label, args, locale, expected in [
            ("a missing script, UTF-8", [hostile.encode()], self.UTF8,
             (2, utf8(BANNER) + utf8_message(SCRIPT_MISSING, escaped) + utf8(USAGE))),
            ("a missing script typed in Shift-JIS, UTF-8", [hostile.encode("cp932")], self.UTF8,
             (2, utf8(BANNER) + utf8_message(SCRIPT_MISSING, escaped) + utf8(USAGE))),
            ("a missing script, Shift-JIS", [hostile.encode()], shift_jis,
             (2, BANNER + message(SCRIPT_MISSING, escaped.encode("cp932")) + USAGE)),
            ("a missing script typed in Shift-JIS, Shift-JIS", [hostile.encode("cp932")], shift_jis,
             (2, BANNER + message(SCRIPT_MISSING, escaped.encode("cp932")) + USAGE)),
            ("a page not created", [b"scene.txt", b"missing/" + hostile.encode()], self.UTF8,
             (3, utf8(BANNER) + utf8_message(PAGE_NOT_CREATED, "missing/" + escaped))),
            ("C1 controls", [b"scene.txt", b"missing/" + c1.encode()], self.UTF8,
             (3, utf8(BANNER) + utf8_message(PAGE_NOT_CREATED, "missing/\\xc2\\x9b2J\\xc2\\x85.htm"))),
        ]:
            with self.subTest(label):
                status, shown = expected
                self.assertEqual(self.on_terminal(args, locale), (status, shown + self.RESET))
        # Redirected, the name keeps its bytes.
        result = subprocess.run([BINARY, hostile.encode()], cwd=self.folder.name, capture_output=True,
                                env={**os.environ, **self.UTF8})
        self.assertEqual((result.returncode, result.stdout),
                         (2, BANNER + message(SCRIPT_MISSING, hostile.encode("cp932")) + USAGE))

    def test_redirected_output_stays_shift_jis(self):
        result = subprocess.run([BINARY, "無い😀.txt"], cwd=self.folder.name, capture_output=True,
                                env={**os.environ, **self.UTF8})
        self.assertEqual((result.returncode, result.stdout),
                         (2, BANNER + message(SCRIPT_MISSING, "無い?.txt".encode("cp932")) + USAGE))



class Utf8Scripts(unittest.TestCase):
    """A script saved as UTF-8 or UTF-16 gives the page the same script gives in Shift-JIS."""

    BOM = b"\xef\xbb\xbf"
    # The folder and the run as above, without running those tests again.
    setUp, put, files, run_taletab, expect = (EndToEnd.setUp, EndToEnd.put, EndToEnd.files,
                                              EndToEnd.run_taletab, EndToEnd.expect)

    def page_of(self, script, name, unreadable=0, doubtful=""):
        """The page of the script; the run says how many characters could not be read, and
        in which encoding a script that may be in another was read."""
        self.put(name, script)
        said = message(UNREADABLE, str(unreadable)) if unreadable else b""
        said += message(DOUBTFUL, doubtful) if doubtful else b""
        self.assertEqual(self.run_taletab(name, "page.htm"), (0, BANNER + said + DONE))
        return (self.dir / "page.htm").read_bytes()

    def test_the_page_is_the_shift_jis_page(self):
        utf8 = SCRIPT.decode("cp932").encode("utf-8")
        # Long enough for several of the program's blocks, cut inside characters.
        long_page = self.page_of(SCRIPT * 2000, "long-sjis.txt")
        for label, script, expected in [
            ("example", utf8, page_titled("page.htm")),
            ("example with the mark", self.BOM + utf8, page_titled("page.htm")),
            ("long", utf8 * 2000, long_page),
            ("long with the mark", self.BOM + utf8 * 2000, long_page),
            # Notepad's "Unicode", and big-endian UTF-16
            ("UTF-16", b"\xff\xfe" + SCRIPT.decode("cp932").encode("utf-16-le"), page_titled("page.htm")),
            ("long UTF-16", b"\xff\xfe" + (SCRIPT * 2000).decode("cp932").encode("utf-16-le"), long_page),
            ("big-endian UTF-16", b"\xfe\xff" + SCRIPT.decode("cp932").encode("utf-16-be"), page_titled("page.htm")),
        ]:
            with self.subTest(script=label):
                self.assertEqual(self.page_of(script, "utf8.txt"), expected)

    def test_characters_without_a_shift_jis_form_become_references(self):
        script = "ハルカ\t好き♡😀\r\n".encode("utf-8")
        self.assertEqual(self.page_of(script, "utf8.txt"),
                         self.page_of("ハルカ\t好き&#x2661;&#x1F600;\r\n".encode("cp932"), "sjis.txt"))

    def test_an_invalid_byte_later_on_becomes_a_replacement_character(self):
        lines = (SCRIPT * 10).splitlines(keepends=True)
        later = len(lines) // 2  # well past the bytes that decide the encoding
        utf8 = [line.decode("cp932").encode("utf-8") for line in lines]
        utf8[later] = b"\xff" + utf8[later]
        sjis = list(lines)
        sjis[later] = b"&#xFFFD;" + sjis[later]
        self.assertEqual(self.page_of(b"".join(utf8), "utf8.txt", unreadable=1),
                         self.page_of(b"".join(sjis), "sjis.txt"))

    def test_characters_that_cannot_be_read_are_counted(self):
        pairless = "\ud83d".encode("utf-16-le", "surrogatepass")  # the first half of 😀 alone
        for label, script, sjis, count in [
            ("UTF-16 with lone surrogates", b"\xff\xfe" + ("a\t".encode("utf-16-le") + pairless + "\r\n".encode("utf-16-le")) * 2,
             b"a\t&#xFFFD;\r\na\t&#xFFFD;\r\n", 2),
            ("UTF-8 with stray bytes", self.BOM + "あ\t\x92い\r\n".encode("utf-8").replace(b"\xc2\x92", b"\x92") + b"\xe9\r\n",
             "あ\t&#xFFFD;い\r\n&#xFFFD;\r\n".encode("cp932"), 2),
            ("UTF-8 without the mark, a Latin-1 byte first", b"\xe9\nA\t\xe3\x81\x82\n",
             "&#xFFFD;\nA\tあ\n".encode("cp932"), 1),
            # A Shift-JIS script's bytes pass as they are, whatever they are: nothing is said.
            ("Shift-JIS with bytes no character begins with", b"\x82\xa0\t\xff\x80\r\n", b"\x82\xa0\t\xff\x80\r\n", 0),
        ]:
            with self.subTest(label):
                # One character and a stray byte: a thin decision, said to be so.
                doubtful = "UTF-8" if label.endswith("a Latin-1 byte first") else ""
                self.assertEqual(self.page_of(script, "script.txt", unreadable=count, doubtful=doubtful),
                                 self.page_of(sjis, "sjis.txt"))

    def test_other_japanese_encodings_give_the_shift_jis_page(self):
        text = SCRIPT.decode("cp932")
        for label, script in [
            ("EUC-JP", text.encode("euc_jp")),
            ("ISO-2022-JP", text.encode("iso2022_jp")),
            ("UTF-16 without a mark", text.encode("utf-16-le")),
            ("big-endian UTF-16 without a mark", text.encode("utf-16-be")),
        ]:
            with self.subTest(label):
                self.assertEqual(self.page_of(script, "script.txt"), page_titled("page.htm"))
        # Three UTF-8 scripts and a Shift-JIS one joined: read as UTF-8, the Shift-JIS lines' characters
        # unreadable, and the run says the encoding may be wrong.
        joined = text.encode() * 3 + SCRIPT
        self.put("joined.txt", joined)
        status, said = self.run_taletab("joined.txt", "page.htm")
        self.assertEqual(status, 0)
        self.assertTrue(said.startswith(BANNER + sjis("\x1b[37;40m読めない文字が")), said)
        self.assertTrue(said.endswith(message(DOUBTFUL, "UTF-8") + DONE), said)
        self.assertIn(SCRIPT.splitlines()[0].split(b"\t")[-1], (self.dir / "page.htm").read_bytes())

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_last_line_too_long_to_convert_is_a_failure(self):
        # The reader holds this line's Shift-JIS form, 50 MiB: more than there is.
        script = self.BOM + b"name\t" + "あ".encode("utf-8") * (25 * 1024 * 1024)
        self.put("long.txt", script)
        self.put("page.htm", OLD_PAGE)
        self.expect(["long.txt", "page.htm"], 4, BANNER + message(SCRIPT_READ_FAILED, "long.txt"),
                    {"long.txt": script, "page.htm": OLD_PAGE}, before=limited_address_space(48 * 1024 * 1024))


class LargePages(unittest.TestCase):
    """A page of many blocks, which are written on a thread of their own while
    the script is converted, and faults in it: the run fails as with a small
    page, no thread keeps it alive, and the old page stays as it was."""

    setUp, put, files, run_taletab, expect = (EndToEnd.setUp, EndToEnd.put, EndToEnd.files,
                                              EndToEnd.run_taletab, EndToEnd.expect)
    LONG = SCRIPT * 5000  # a page of about 7.6 MB: some 30 blocks
    OLD = OLD_PAGE

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
        self.expect(["long.txt", "page.htm"], 4, BANNER + message(SCRIPT_READ_FAILED, "long.txt"),
                    {"long.txt": script, "page.htm": self.OLD}, before=limited_address_space(64 * 1024 * 1024))

    @unittest.skipUnless(LINUX and not SANITIZED, "limits the address space")
    def test_page_written_whole_where_no_thread_can_start(self):
        # Too little address space for a thread's stack: every block is written on the one thread.
        self.setUp_pages(self.LONG)
        self.expect(["long.txt", "page.htm"], 0, BANNER + DONE, {"long.txt": self.LONG, "page.htm": self.long_page()},
                    before=limited_address_space(8 * 1024 * 1024))

    def long_page(self):
        """The page of LONG: the example's head and foot around its rows 5000 times."""
        head_end = SCENE_PAGE.index(b"\t\t<tr>")
        foot_start = SCENE_PAGE.rindex(b"\t</table>")
        head = SCENE_PAGE[:head_end].replace(b"<title>scene.htm</title>", b"<title>page.htm</title>")
        return head + SCENE_PAGE[head_end:foot_start] * 5000 + SCENE_PAGE[foot_start:]


if __name__ == "__main__":
    outcome = unittest.main(argv=sys.argv[:1], verbosity=2, exit=False).result
    # The cases left out, counted by reason: those that need root, say, when an ordinary user runs them.
    reasons = collections.Counter(reason for _, reason in outcome.skipped)
    for reason, count in sorted(reasons.items()):
        print(f"skipped {count}: {reason}", file=sys.stderr)
    sys.exit(0 if outcome.wasSuccessful() else 1)
