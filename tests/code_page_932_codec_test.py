#!/usr/bin/env python3
"""Holds the program's code page 932 table against Python's cp932 codec:
every code point from 0 to 0x10FFFF encoded, every one- and two-byte sequence
decoded, through code_page_932_dump (run through an emulator where given).

    code_page_932_codec_test.py DUMP_PROGRAM [EMULATOR...]
"""
import os
import subprocess
import sys
import tempfile

# What the program adds to the codec's encoder (tools/make_cp932_table.py says why).
ADDITIONS = {0x2014: b"\x81\x5c"}


def expected():
    lines = set()
    for code_point in range(0x110000):
        form = ADDITIONS.get(code_point)
        if form is None:
            try:
                form = chr(code_point).encode("cp932")
            except UnicodeEncodeError:
                continue
        lines.add(f"E {code_point:04X} {form.hex().upper()}")
    for first in range(256):
        sequences = [bytes([first])] + [bytes([first, second]) for second in range(256)]
        for data in sequences:
            try:
                text = data.decode("cp932")
            except UnicodeDecodeError:
                continue
            if len(text) == 1:
                lines.add(f"D {data.hex().upper()} {ord(text):04X}")
    return lines


def main():
    program, emulator = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory() as folder:
        dump = os.path.join(folder, "dump.txt")
        subprocess.run([*emulator, program, dump], check=True)
        with open(dump, encoding="ascii") as file:
            actual = set(file.read().splitlines())
    wanted = expected()
    missing, extra = sorted(wanted - actual), sorted(actual - wanted)
    for label, lines in (("missing (the codec has it, the table not)", missing),
                         ("wrong or extra (the table has it, the codec not)", extra)):
        if lines:
            print(f"{len(lines)} {label}, the first: {lines[:10]}")
    # The additions and the JIS-style characters, named so that a change to them reads plainly.
    for line in ("E 2014 815C", "E 301C 8160", "E 2016 8161", "E 2212 817C", "E 00A2 8191",
                 "E 00A3 8192", "E 00AC 81CA", "D 815C 2015", "D 8160 FF5E"):
        if line not in actual:
            print(f"not in the table: {line}")
            missing.append(line)
    print(f"{len(actual)} lines compared")
    return 1 if missing or extra else 0


if __name__ == "__main__":
    sys.exit(main())
