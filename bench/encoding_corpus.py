#!/usr/bin/env python3
"""How well the decoder tells a script's encoding, on real Japanese text that
nobody here wrote: documents from Debian's packages, each saved as a script
in Shift-JIS, UTF-8 (with and without a byte order mark), UTF-16 (with and
without one), EUC-JP and ISO-2022-JP, and the same text in smaller pieces.
Prints the packages read, with their versions, and the figures the decoder
is held to, each beside its goal:

- whole documents and dialogue scripts (rows of a name, a TAB and a line)
  misread in each encoding;
- distinct lines of two or more Japanese characters, alone as a script, in
  Shift-JIS and in UTF-8, taken for another encoding, and distinct lines of
  other characters beyond ASCII ("Copyright © 2015") as UTF-8;
- distinct words, alone as a script, in Shift-JIS and in UTF-8, taken for
  another encoding, per 10,000;
- UTF-8 documents, and one-row scripts, with one stray byte (a cp1252 quote,
  a Latin-1 letter, a character cut short), and documents of two-byte
  characters only (Greek, Cyrillic), taken for another encoding;
- UTF-8 dialogue scripts with a shorter Shift-JIS one joined after them:
  how many are read as UTF-8, the encoding of most of their lines (the
  Shift-JIS lines are then characters that cannot be read).

The text comes from these packages, which must be installed (apt-get install
manpages-ja manpages-ja-dev debian-reference-ja maint-guide-ja edict kanjidic
skkdic unicode-cldr-core gettext); it is read where they put it and never
copied into the repository, and only from them, so the figures are the same
whatever else is installed. Builds the release program's tools first.

    bench/encoding_corpus.py [--seed N]
"""
import argparse
import gzip
import html
import random
import re
import struct
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-bench"
JUDGE = BUILD / "bench" / "judge_encodings"
LETTER = {"S": "Shift-JIS", "8": "UTF-8", "L": "UTF-16", "B": "UTF-16", "E": "EUC-JP", "J": "ISO-2022-JP"}
PACKAGES = ["manpages-ja", "manpages-ja-dev", "debian-reference-ja", "maint-guide-ja", "edict", "kanjidic", "skkdic",
            "unicode-cldr-core", "gettext"]
JAPANESE = re.compile(r"[\u3040-\u30ff\u3400-\u9fff\uff66-\uff9f]")
# Where a word ends: white space, ASCII punctuation and the Japanese marks.
WORD_BREAK = re.compile(r"[\s!-/:-@\[-`{-~\u3000-\u303f\uff01-\uff0f\uff1a-\uff20]+")


def text_of_markup(text):
    return html.unescape(re.sub(r"<[^>]*>", " ", text))


def documents():
    """(source, text) for each document of the packages."""
    for page in sorted(Path("/usr/share/man/ja").glob("man*/*.gz")):
        yield "manpages-ja", gzip.decompress(page.read_bytes()).decode("utf-8", "replace")
    for folder in ["/usr/share/doc/debian-reference-ja/docs", "/usr/share/doc/maint-guide-ja/html"]:
        for page in sorted(Path(folder).glob("*.ja.html")):
            yield Path(folder).parts[4], text_of_markup(page.read_text("utf-8", "replace"))
    # The dictionaries are one long list each: a document every 15,000 lines.
    for name, path in [("edict", "/usr/share/edict/edict"), ("kanjidic", "/usr/share/edict/kanjidic"),
                       ("skkdic", "/usr/share/skk/SKK-JISYO.L")]:
        lines = Path(path).read_bytes().decode("euc_jp", "replace").splitlines()
        for start in range(0, len(lines), 15000):
            yield name, "\n".join(lines[start:start + 15000])
    yield "unicode-cldr-core", text_of_markup(Path("/usr/share/unicode/cldr/common/main/ja.xml").read_text("utf-8"))
    # Only gettext's own catalogues: the figures must not depend on what else is installed.
    for catalogue in sorted(Path("/usr/share/locale/ja/LC_MESSAGES").glob("gettext*.mo")):
        source = subprocess.run(["msgunfmt", catalogue], capture_output=True).stdout
        # In the catalogue's own character set (gettext's are EUC-JP), as its header names it.
        charset = re.search(rb"charset=([-\w]+)", source)
        source = source.decode(charset.group(1).decode() if charset else "utf-8", "replace")
        yield "gettext", "\n".join(re.findall(r'^msgstr(?:\[\d+\])? "(.*)"$', source, re.M))


def two_byte_documents():
    """Greek and Cyrillic text: UTF-8 whose characters are all two bytes long."""
    for language in ["el", "ru", "uk", "bg", "sr"]:
        text = text_of_markup(Path(f"/usr/share/unicode/cldr/common/main/{language}.xml").read_text("utf-8"))
        yield language, "\n".join(line.strip() for line in text.splitlines() if line.strip())


def as_script(text):
    """A script's lines, CR LF, as a writer's editor saves them."""
    return "\r\n".join(line.rstrip() for line in text.splitlines()) + "\r\n"


def shift_jis(text):
    return text.encode("cp932", "ignore")


# Each form a script may be saved in, and the encoding the decoder must take it for.
FORMS = [
    ("Shift-JIS", shift_jis, "Shift-JIS"),
    ("UTF-8", lambda t: t.encode(), "UTF-8"),
    ("UTF-8 with the mark", lambda t: b"\xef\xbb\xbf" + t.encode(), "UTF-8"),
    ("UTF-16 with the mark", lambda t: b"\xff\xfe" + t.encode("utf-16-le"), "UTF-16"),
    ("UTF-16 without a mark", lambda t: t.encode("utf-16-le"), "UTF-16"),
    ("EUC-JP", lambda t: t.encode("euc_jp", "ignore"), "EUC-JP"),
    ("ISO-2022-JP", lambda t: t.encode("iso2022_jp", "ignore"), "ISO-2022-JP"),
]


def packages():
    """Each package read, with its installed version."""
    query = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Version}\n", *PACKAGES], capture_output=True,
                           text=True, check=True).stdout
    return query.split("\n")[:-1]


def dialogue(lines, words, chance):
    """A dialogue script: a few rows, each a short name, a TAB and a line."""
    names = [chance.choice(words)[:6] for _ in range(chance.randint(2, 4))]
    return "".join(f"{chance.choice(names)}\t{chance.choice(lines)}\r\n" for _ in range(chance.randint(3, 20)))


def judged(scripts):
    """The encoding the decoder takes each script to be in."""
    records = b"".join(struct.pack("<I", len(script)) + script for script in scripts)
    letters = subprocess.run([JUDGE], input=records, capture_output=True, check=True).stdout.decode()
    assert len(letters) == len(scripts)
    return [LETTER[letter] for letter in letters]


def misread(scripts, expected):
    return sum(1 for encoding in judged(scripts) if encoding != expected)


def with_stray_byte(utf8, chance):
    """The UTF-8 bytes with one byte that is no UTF-8 put at a line's start, a line's end or inside a line."""
    stray = chance.choice([b"\x92", b"\xe9", "あ".encode("utf-8")[:2], "’".encode("cp1252")])
    at = chance.randrange(len(utf8) + 1)
    while at > 0 and at < len(utf8) and 0x80 <= utf8[at] < 0xC0:
        at -= 1  # not inside a character: the stray byte stands alone
    return utf8[:at] + stray + utf8[at:]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    chance = random.Random(args.seed)
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DTALETAB_BENCH=ON",
                    "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "judge_encodings"], check=True,
                   stdout=subprocess.DEVNULL)
    english = Path("/usr/share/common-licenses/GPL-3").read_text()

    texts, lines, words, foreign = [], set(), set(), set()
    for source, text in documents():
        if not JAPANESE.search(text):
            continue
        # Some scripts begin with a stretch of English, as a title page or a licence would.
        if chance.random() < 0.25:
            start = chance.randrange(len(english) - 300)
            text = english[start:start + chance.choice([300, 3000, 30000])] + "\n" + text
        texts.append(as_script(text))
        for line in text.splitlines():
            line = line.strip()
            if len(JAPANESE.findall(line)) >= 2:
                lines.add(line)
            elif not line.isascii() and not JAPANESE.search(line):
                foreign.add(line)  # "Copyright © 2015", "µs", "{ $width } × { $height }"
            words.update(word for word in WORD_BREAK.split(line) if JAPANESE.search(word))
    print("Packages read:", ", ".join(packages()))
    print(f"{len(texts)} documents, {len(lines)} distinct lines of two or more Japanese characters,"
          f" {len(words)} distinct Japanese words\n")

    sorted_lines, sorted_words, sorted_foreign = sorted(lines), sorted(words), sorted(foreign)
    dialogues = [dialogue(sorted_lines, sorted_words, chance) for _ in range(1000)]

    # (what, misread, of, most misread allowed)
    figures = []
    for label, encode, expected in FORMS:
        figures.append((f"documents in {label} misread", misread([encode(t) for t in texts], expected), len(texts), 0))
        figures.append((f"dialogue scripts in {label} misread", misread([encode(t) for t in dialogues], expected),
                        len(dialogues), 0))
    figures.append(("lines in Shift-JIS taken for another encoding",
                    misread([shift_jis(line) for line in sorted_lines if shift_jis(line)], "Shift-JIS"),
                    len(sorted_lines), None))
    figures.append(("lines in UTF-8 taken for another encoding",
                    misread([line.encode() for line in sorted_lines], "UTF-8"), len(sorted_lines), None))
    figures.append(("lines with no Japanese but other characters, in UTF-8, taken for another encoding",
                    misread([line.encode() for line in sorted_foreign], "UTF-8"), len(sorted_foreign), None))
    word_scripts = [shift_jis(word) for word in sorted_words if shift_jis(word)]
    figures.append(("words in Shift-JIS taken for another encoding", misread(word_scripts, "Shift-JIS"),
                    len(word_scripts), len(word_scripts) // 10000))
    figures.append(("words in UTF-8 taken for another encoding",
                    misread([word.encode() for word in sorted_words], "UTF-8"), len(sorted_words),
                    len(sorted_words) // 10000))
    figures.append(("documents in UTF-8 with one stray byte misread",
                    misread([with_stray_byte(t.encode(), chance) for t in texts], "UTF-8"), len(texts), 0))
    one_rows = [f"{chance.choice(sorted_words)[:6]}\t{line}\r\n" for line in chance.sample(sorted_lines, 3000)]
    figures.append(("one-row scripts in UTF-8 with one stray byte misread",
                    misread([with_stray_byte(t.encode(), chance) for t in one_rows], "UTF-8"), len(one_rows),
                    len(one_rows) // 100))
    two_byte = [as_script(text) for _, text in two_byte_documents()]
    figures.append(("documents of two-byte characters only misread",
                    misread([t.encode() for t in two_byte], "UTF-8"), len(two_byte), 0))
    # Three dialogue scripts in UTF-8 and one in Shift-JIS joined after them, where fewer of the rows are
    # Shift-JIS (the scripts' lengths differ): read as UTF-8, the encoding of most lines.
    joined = [b"".join(d.encode() for d in dialogues[i:i + 3]) + shift_jis(dialogues[i + 3])
              for i in range(0, len(dialogues) - 3, 4)
              if dialogues[i + 3].count("\n") < sum(d.count("\n") for d in dialogues[i:i + 3])]
    figures.append(("UTF-8 dialogue scripts with a shorter Shift-JIS one joined, not read as UTF-8",
                    misread(joined, "UTF-8"), len(joined), 0))

    print("| what | misread | of | goal |")
    print("|---|---:|---:|---|")
    for label, wrong, total, most in figures:
        goal = "" if most is None else f"at most {most}: {'met' if wrong <= most else 'NOT MET'}"
        print(f"| {label} | {wrong} | {total} | {goal} |")
    for label, wrong, total, _ in figures:
        if label.startswith("words"):
            print(f"\n{label}, per 10,000: {wrong * 10000 / max(1, total):.2f} (goal: at most 1)")


if __name__ == "__main__":
    sys.exit(main())
