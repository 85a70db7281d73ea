"""The browser page's conversion gives the very bytes the program writes:
every kind of script the end-to-end tests use and generated scripts, in Shift-JIS, UTF-8 and UTF-16, each converted by the
program and by the page's own code (convert.js and the WebAssembly module)
under node, and the pages compared byte for byte; the fuzzer's corpus too.

    same_bytes_test.py PROGRAM NODE MODULE GENERATOR SOURCE_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

PROGRAM, NODE, MODULE, GENERATOR = (os.path.abspath(a) for a in sys.argv[1:5])
SOURCE = Path(sys.argv[5])
HARNESS = Path(__file__).with_name("convert_files.js")
SCENE = (SOURCE / "examples" / "scene.txt").read_bytes()
UTF8_BOM, UTF16LE_BOM, UTF16BE_BOM = b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff"
AUTHOR_PLACEHOLDER = "ここに名前を入れてください".encode("cp932")
ADDRESS_PLACEHOLDER = "ここにメールアドレスを入れてください".encode("cp932")


def unicode_of(shift_jis):
    return shift_jis.decode("cp932")


def page_text(text, escape=False):
    """Text as the page holds it: Shift-JIS, a character it lacks as "&#x…;"."""
    out = b""
    for c in text:
        if escape and c in '&<>"':
            out += {"&": b"&amp;", "<": b"&lt;", ">": b"&gt;", '"': b"&quot;"}[c]
            continue
        try:
            out += c.encode("cp932")
        except UnicodeEncodeError:
            out += b"&#x%X;" % ord(c)
    return out


def scripts():
    """Name, bytes: the scripts whose pages must be the same."""
    utf8 = unicode_of(SCENE).encode("utf-8")
    lines = (SCENE * 10).splitlines(keepends=True)
    later = [line.decode("cp932").encode("utf-8") for line in lines]
    later[len(later) // 2] = b"\xff" + later[len(later) // 2]
    pairless = "\ud83d".encode("utf-16-le", "surrogatepass")
    cases = [
        ("example", SCENE),
        ("example in UTF-8", utf8),
        ("example in UTF-8 with the mark", UTF8_BOM + utf8),
        ("example in UTF-16", UTF16LE_BOM + unicode_of(SCENE).encode("utf-16-le")),
        ("example in big-endian UTF-16", UTF16BE_BOM + unicode_of(SCENE).encode("utf-16-be")),
        ("example 2000 times", SCENE * 2000),
        ("example 2000 times in UTF-8", UTF8_BOM + utf8 * 2000),
        ("example 2000 times in UTF-16", UTF16LE_BOM + unicode_of(SCENE * 2000).encode("utf-16-le")),
        ("characters without a Shift-JIS form", "ハルカ\t好き♡😀\r\n".encode("utf-8")),
        ("an invalid byte far on in UTF-8", b"".join(later)),
        ("lone surrogates in UTF-16", UTF16LE_BOM + ("a\t".encode("utf-16-le") + pairless + "\r\n".encode("utf-16-le")) * 2),
        ("a Latin-1 byte first", b"\xe9\nA\t\xe3\x81\x82\n"),
        ("Shift-JIS bytes that begin no character", b"\x82\xa0\t\xff\x80\r\n"),
        ("ended by 0x1A", SCENE + b"\x1a" + b"\xffnot read\r\n" * 100),
        ("LF line ends, no last line end", SCENE.replace(b"\r\n", b"\n").rstrip(b"\n")),
        ("markup, two TABs, empty lines", b"<b>A&amp;B</b>\t<i>x</i>\ty\r\n\r\n\t\r\nheading only\r\n"),
        ("only a 0x1A", b"\x1a"),
        # Judged by products of counts that pass 2^32 in 32-bit arithmetic (wasm's size_t).
        ("counts past 32 bits in the encoding's judgement", b"x\t\xdc\xa1" + b"\xc3\xa1" * 32767 + b"\r\n"),
        ("example in EUC-JP", unicode_of(SCENE).encode("euc_jp")),
        ("example in ISO-2022-JP", unicode_of(SCENE).encode("iso2022_jp")),
        ("example in UTF-16 without the mark", unicode_of(SCENE).encode("utf-16-le")),
        ("text typed on a Mac", "ハ\u309aルカ\tか\u3099う\u3099\r\n".encode("utf-8")),
        ("UTF-8 files joined with a Shift-JIS one", utf8 * 3 + SCENE),
    ]
    # The scripts of the fuzzer's corpus: each input's bytes after the five that steer the fuzzer.
    cases += [(f"fuzzer's {path.name}", path.read_bytes()[5:]) for path in sorted((SOURCE / "tests" / "fuzz" / "corpus").iterdir())]
    return cases


class SameBytes(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="taletab-web-"))
        self.addCleanup(shutil.rmtree, self.folder)
        self.count = 0

    def path(self, suffix):
        self.count += 1
        return str(self.folder / f"{self.count}{suffix}")

    def in_node(self, jobs):
        jobs_file = self.path(".json")
        Path(jobs_file).write_text(json.dumps(jobs))
        run = subprocess.run([NODE, str(HARNESS), MODULE, GENERATOR, jobs_file], capture_output=True, timeout=600)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        return json.loads(run.stdout)

    def by_program(self, script, title):
        """The page the program writes for the script under the name `title`."""
        folder = Path(self.path(""))
        folder.mkdir()
        (folder / "script.txt").write_bytes(script)
        run = subprocess.run([PROGRAM, "script.txt", title.encode()], cwd=folder, capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout.decode("cp932", errors="replace"))
        return (folder / title).read_bytes()

    def converted(self, cases):
        """The page and what the page says, for each (script, details) in node."""
        jobs = []
        for script, details in cases:
            path = self.path(".txt")
            Path(path).write_bytes(script)
            jobs.append({"convert": {"script": path, **details}, "out": self.path(".htm")})
        said = self.in_node(jobs)
        for job, s in zip(jobs, said):
            s["out"] = job["out"]
        return [(Path(job["out"]).read_bytes() if "error" not in s else None, s) for job, s in zip(jobs, said)]

    def test_every_script_gives_the_programs_page(self):
        cases = scripts()
        # The generated scripts of the benchmark, in each encoding.
        generated = []
        for seed, size in [(1, 3_000_000), (2, 1_000_000), (3, 1_000_000), (4, 1_000_000)]:
            out = self.path(".txt")
            generated.append(out)
            self.in_node([{"generate": {"seed": seed, "size": size}, "out": out}])
        scripts_of = [Path(p).read_bytes() for p in generated]
        self.assertTrue(all(len(s) > 900_000 for s in scripts_of))
        cases += [
            ("generated", scripts_of[0]),
            ("generated in UTF-8", unicode_of(scripts_of[1]).encode("utf-8")),
            ("generated in UTF-16", UTF16LE_BOM + unicode_of(scripts_of[2]).encode("utf-16-le")),
            ("generated in big-endian UTF-16", UTF16BE_BOM + unicode_of(scripts_of[3]).encode("utf-16-be")),
        ]
        # The file's own blocks, and blocks cut anywhere: inside characters, marks and line ends.
        runs = [(label, script, {"title": "scene.htm"}) for label, script in cases]
        for chunk in [1, 7, 4093]:
            runs += [(f"{label}, blocks of {chunk}", script, {"title": "scene.htm", "chunk": chunk})
                     for label, script in cases if len(script) < 300_000 or chunk > 1]
        # The page kept in Blobs or in buffers (as where it is written to a file part by part), in parts
        # small enough that the head and the foot, cut off the rows, span several.
        for buffers, part in [(True, 7), (False, 7), (True, 65536), (False, 65536)]:
            runs += [(f"{label}, in {'buffers' if buffers else 'Blobs'} of {part}", script,
                      {"title": "scene.htm", "keeping": {"buffers": buffers, "partBytes": part}})
                     for label, script in cases if len(script) < 300_000 or part > 7]
        pages = self.converted([(script, details) for _, script, details in runs])
        expected = {}
        for (label, script, details), (page, said) in zip(runs, pages):
            with self.subTest(label):
                if said.get("error") == "binary":
                    # Refused as the page refuses any file with a NUL byte early on, outside UTF-16.
                    self.assertIn(b"\0", script[:8192])
                    self.assertFalse(script.startswith((UTF16LE_BOM, UTF16BE_BOM)))
                    continue
                if script not in expected:
                    expected[script] = self.by_program(script, "scene.htm")
                self.assertEqual(page, expected[script])
                self.assertEqual(said["type"], "text/html;charset=shift_jis")

    def test_titles_as_the_program_writes_typed_names(self):
        titles = ["台本😀.htm", 'a&b<c>"\'.htm', "第一幕 ～下書き～.html", "ｶﾀｶﾅ①.htm"]
        pages = self.converted([(SCENE, {"title": title}) for title in titles])
        for title, (page, _) in zip(titles, pages):
            with self.subTest(title):
                self.assertEqual(page, self.by_program(SCENE, title))

    def test_author_and_address_fill_the_placeholders_escaped(self):
        plain = self.by_program(SCENE, "scene.htm")
        self.assertEqual(plain.count(AUTHOR_PLACEHOLDER), 2)
        self.assertEqual(plain.count(ADDRESS_PLACEHOLDER), 1)
        for author, address in [
            ('森 & "ハルカ" <劇団>', "haruka<at>example.jp"),
            ("Ann 😀 ♡", ""),
            ("", 'a"b@例え.jp'),
        ]:
            with self.subTest(author=author, address=address):
                [(page, _)] = self.converted([(SCENE, {"title": "scene.htm", "author": author, "address": address})])
                expected = plain
                if author:
                    expected = expected.replace(AUTHOR_PLACEHOLDER, page_text(author, escape=True))
                if address:
                    expected = expected.replace(ADDRESS_PLACEHOLDER, page_text(address, escape=True))
                self.assertEqual(page, expected)

    def test_what_the_page_says_about_the_script(self):
        rows = SCENE.count(b"\n")
        pairless = "\ud83d".encode("utf-16-le", "surrogatepass")
        for label, script, said in [
            ("Shift-JIS", SCENE, {"encoding": "Shift-JIS", "rows": rows, "unreadable": 0}),
            ("UTF-8", unicode_of(SCENE).encode("utf-8"), {"encoding": "UTF-8", "rows": rows, "unreadable": 0}),
            ("UTF-16", UTF16BE_BOM + unicode_of(SCENE).encode("utf-16-be"), {"encoding": "UTF-16", "rows": rows, "unreadable": 0}),
            ("unreadable", UTF16LE_BOM + ("a\t".encode("utf-16-le") + pairless + "\n".encode("utf-16-le")) * 3,
             {"encoding": "UTF-16", "rows": 3, "unreadable": 3}),
            ("empty", b"", {"error": "empty"}),
            ("a NUL byte among the first", b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + SCENE, {"error": "binary"}),
            ("a NUL byte the last of those looked at", (SCENE * 30)[:8191] + b"\x00" + SCENE, {"error": "binary"}),
            ("a NUL byte further on is the script's", (SCENE * 30)[:8192] + b"\x00" + SCENE, None),
            ("NUL bytes in UTF-16", UTF16LE_BOM + unicode_of(SCENE).encode("utf-16-le"), {"encoding": "UTF-16"}),
        ]:
            with self.subTest(label):
                [(page, got)] = self.converted([(script, {"title": "scene.htm"})])
                if said is None:
                    self.assertEqual(page, self.by_program(script, "scene.htm"))
                    continue
                self.assertEqual({k: got[k] for k in said}, said)
                self.assertEqual(page is None, "error" in said)


if __name__ == "__main__":
    if not os.path.exists(PROGRAM):
        sys.exit(f"{PROGRAM} is missing: build the program first (cmake -S . -B build && cmake --build build)")
    unittest.main(argv=sys.argv[:1], verbosity=2)
