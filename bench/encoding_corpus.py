#!/usr/bin/env python3
"""How well the decoder tells a script's encoding, on real Japanese text that
nobody here wrote: documents from Debian's packages, each saved as a script
in Shift-JIS, UTF-8 and UTF-8 with a byte order mark, and the same text in
smaller pieces. Prints the figures the decoder is held to:

- whole documents misread, either way;
- distinct lines of two or more Japanese characters, alone as a Shift-JIS
  script, taken for UTF-8 (and as UTF-8, taken for Shift-JIS), and distinct
  lines of other characters beyond ASCII ("Copyright © 2015") as UTF-8,
  taken for Shift-JIS;
- distinct words, alone as a Shift-JIS script, taken for UTF-8, per 100,000;
- UTF-8 documents with one stray byte (a cp1252 quote, a Latin-1 letter, a
  character cut short) or with only two-byte characters (Greek, Cyrillic),
  taken for Shift-JIS.

The text comes from these packages, which must be installed (apt-get install
manpages-ja manpages-ja-dev debian-reference-ja maint-guide-ja edict kanjidic
skkdic unicode-cldr-core gettext); it is read where they put it and never
copied into the repository. Builds the release program's tools first.

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
LETTER = {"S": "Shift-JIS", "8": "UTF-8", "L": "UTF-16", "B": "UTF-16"}
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
    for catalogue in sorted(Path("/usr/share/locale/ja/LC_MESSAGES").glob("*.mo")):
        source = subprocess.run(["msgunfmt", catalogue], capture_output=True).stdout.decode("utf-8", "replace")
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
    print(f"{len(texts)} documents, {len(lines)} distinct lines of two or more Japanese characters,"
          f" {len(words)} distinct Japanese words\n")

    figures = []
    figures.append(("documents in Shift-JIS taken for UTF-8", misread([shift_jis(t) for t in texts], "Shift-JIS"),
                    len(texts)))
    figures.append(("documents in UTF-8 taken for Shift-JIS", misread([t.encode() for t in texts], "UTF-8"),
                    len(texts)))
    figures.append(("documents in UTF-8 with the mark taken for Shift-JIS",
                    misread([b"\xef\xbb\xbf" + t.encode() for t in texts], "UTF-8"), len(texts)))
    sorted_lines = sorted(lines)
    figures.append(("lines in Shift-JIS taken for UTF-8",
                    misread([shift_jis(line) for line in sorted_lines if shift_jis(line)], "Shift-JIS"),
                    len(sorted_lines)))
    figures.append(("lines in UTF-8 taken for Shift-JIS",
                    misread([line.encode() for line in sorted_lines], "UTF-8"), len(sorted_lines)))
    sorted_foreign = sorted(foreign)
    figures.append(("lines with no Japanese but other characters, in UTF-8, taken for Shift-JIS",
                    misread([line.encode() for line in sorted_foreign], "UTF-8"), len(sorted_foreign)))
    sorted_words = sorted(words)
    wrong_words = misread([shift_jis(word) for word in sorted_words if shift_jis(word)], "Shift-JIS")
    figures.append(("words in Shift-JIS taken for UTF-8", wrong_words, len(sorted_words)))
    figures.append(("documents in UTF-8 with one stray byte taken for Shift-JIS",
                    misread([with_stray_byte(t.encode(), chance) for t in texts], "UTF-8"), len(texts)))
    two_byte = [as_script(text) for _, text in two_byte_documents()]
    figures.append(("documents of two-byte characters only taken for Shift-JIS",
                    misread([t.encode() for t in two_byte], "UTF-8"), len(two_byte)))

    print("| what | misread | of |")
    print("|---|---:|---:|")
    for label, wrong, total in figures:
        print(f"| {label} | {wrong} | {total} |")
    print(f"\nwords misread per 100,000: {wrong_words * 100000 / max(1, len(sorted_words)):.1f}")


if __name__ == "__main__":
    sys.exit(main())
