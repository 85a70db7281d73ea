#!/usr/bin/env python3
"""The benchmark: builds taletab in release mode, generates the inputs if
they are missing and prints one table. Each input is converted in paired
runs with the floor (a program that only reads the input and writes as many
bytes as the page has, in 128 KiB blocks); a 2 KB script is also paired with
cat copying it to a file, since start-up is the whole cost for small scripts.

    bench/run.py [--rounds N]

Inputs go to $TALETAB_BENCH_DIR (default /tmp/taletab-bench), pages to
$TALETAB_BENCH_OUT (default /dev/shm, a RAM-backed folder). Needs hyperfine,
GNU time and valgrind (Debian's hyperfine, time and valgrind).
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-bench"
WORK = Path(os.environ.get("TALETAB_BENCH_DIR", "/tmp/taletab-bench"))
OUT = Path(os.environ.get("TALETAB_BENCH_OUT", "/dev/shm"))
TALETAB = BUILD / "taletab"
GENERATE = BUILD / "bench" / "generate_script"
FLOOR = BUILD / "bench" / "floor"
KIB, MIB, GIB = 1024, 1024**2, 1024**3
CALLGRIND_LIMIT = 64 * MIB  # larger inputs take minutes under valgrind


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], check=True, **kwargs)


def build():
    run("cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DTALETAB_BENCH=ON",
        "-DBUILD_TESTING=OFF", stdout=subprocess.DEVNULL)
    run("cmake", "--build", BUILD, "-j2", stdout=subprocess.DEVNULL)


def generated(name, size):
    path = WORK / name
    if not path.exists():
        with open(path, "wb") as out:
            run(GENERATE, 1, size, stdout=out)
    return path


def utf8_form(source, name):
    """The same script saved as UTF-8, as editors save it today."""
    path = WORK / name
    if not path.exists():
        path.write_bytes(source.read_bytes().decode("cp932").encode("utf-8"))
    return path


def one_long_line(name, size):
    """A name, a TAB and a text of the given size: held whole until its line ends."""
    path = WORK / name
    if not path.exists():
        with open(path, "wb") as out:
            out.write(b"name\t")
            for _ in range(size // MIB):
                out.write(b"x" * MIB)
            out.write(b"\r\n")
    return path


def hyperfine(commands, runs, prepare=None):
    """The times of each command, from one hyperfine call that runs them in turn."""
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        args = ["hyperfine", "-N", "--runs", str(runs), "--export-json", report.name,
                "--output", str(OUT / "console.out")]
        if prepare:
            args += ["--prepare", prepare]
        run(*args, *commands, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return [result["times"] for result in json.load(open(report.name))["results"]]


def paired(command, baseline, rounds, runs_per_round, prepare=None):
    """Median seconds of the command and of the baseline, and the median of
    their ratios taken round by round, so that both meet the same machine load."""
    mine, theirs, ratios = [], [], []
    for _ in range(rounds):
        a, b = hyperfine([command, baseline], runs_per_round, prepare)
        mine.append(statistics.median(a))
        theirs.append(statistics.median(b))
        ratios.append(mine[-1] / theirs[-1])
    return statistics.median(mine), statistics.median(theirs), statistics.median(ratios)


def instructions(script, page):
    """Instructions of a whole conversion, counted by callgrind."""
    with tempfile.TemporaryDirectory() as folder:
        result = run("valgrind", "--tool=callgrind", f"--callgrind-out-file={folder}/out", TALETAB,
                     script, page, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(re.search(r"Collected : (\d+)", result.stderr).group(1))


def peak_kib(script, page):
    result = run("/usr/bin/time", "-v", TALETAB, script, page,
                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5, help="paired rounds per input (default 5)")
    rounds = parser.parse_args().rounds
    build()
    WORK.mkdir(parents=True, exist_ok=True)
    inputs = [
        ("2 KB script", generated("script-2k.txt", 2 * KIB)),
        ("16 MiB script", generated("script-16m.txt", 16 * MIB)),
        ("16 MiB UTF-8", utf8_form(generated("script-16m.txt", 16 * MIB), "script-16m-utf8.txt")),
        ("64 MiB script", generated("script-64m.txt", 64 * MIB)),
        ("1 GiB script", generated("script-1g.txt", GIB)),
        ("256 MiB line", one_long_line("line-256m.txt", 256 * MIB)),
    ]
    page, floor_page = OUT / "taletab-bench.htm", OUT / "taletab-floor.htm"
    prepare = f"rm -f {page} {floor_page}"

    print(f"{'input':<14} {'bytes':>11} {'median s':>9} {'MB/s':>7} {'floor s':>8} {'× floor':>8}"
          f" {'instr/B':>8} {'peak KiB':>9}")
    for label, script in inputs:
        size = script.stat().st_size
        run(TALETAB, script, page, stdout=subprocess.DEVNULL)
        page_size = page.stat().st_size
        small = size < MIB
        mine, floor, ratio = paired(f"{TALETAB} {script} {page}", f"{FLOOR} {script} {floor_page} {page_size}",
                                    rounds, 30 if small else 1, prepare)
        per_byte = f"{instructions(script, page) / size:.2f}" if size <= CALLGRIND_LIMIT else "-"
        print(f"{label:<14} {size:>11} {mine:>9.4f} {size / mine / 1e6:>7.0f} {floor:>8.4f} {ratio:>8.2f}"
              f" {per_byte:>8} {peak_kib(script, page):>9}", flush=True)
    for path in (page, floor_page, OUT / "console.out"):
        path.unlink(missing_ok=True)

    small = inputs[0][1]
    # hyperfine sends each command's standard output to a file: cat's copy of the script.
    mine, cat, ratio = paired(f"{TALETAB} {small} {page}", f"cat {small}", rounds, 30)
    print(f"\n2 KB script, whole process: taletab {mine * 1e3:.2f} ms, cat to a file {cat * 1e3:.2f} ms,"
          f" ratio {ratio:.2f}")
    for path in (page, OUT / "console.out"):
        path.unlink(missing_ok=True)


if __name__ == "__main__":
    main()
