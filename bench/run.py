#!/usr/bin/env python3
"""The benchmark: builds taletab in release mode, generates the inputs if
they are missing and prints the machine and one table.

Each input is converted in paired rounds with two floors: `floor`, a
program that only reads the input and writes as many bytes as the page has
(128 KiB blocks, one thread), and `floor --two-threads`, which reads on one
thread while it writes on another, the limit for a program on two cores.
Each round runs the three commands in a shuffled order; the ratios are taken
round by round and their median is printed. Before each timed run of a large
input the machine is brought to the same state: a short pause, then a
throwaway file of the page's size is written and deleted (on these virtual
machines memory left free for a moment is handed back to the host, which
alone can double the time of the next write).

Then: the 16 MiB script as it is and saved as UTF-8, as UTF-16 and as
EUC-JP, the four in the same paired rounds, each as a multiple of the Shift-JIS one's
time and instructions; the decoder alone on each, in memory, and on the
same characters cut again into lines all alike (bench/decode_time); the
same conversions with the other core kept busy by a second process; a 2 KB
script against cat copying it to a file, since start-up is the whole cost
for small scripts; with --scanner, the SSE2 scanner against the portable
one (a second build), idle and busy; and with --against, this build
against another taletab program (say, a build of an earlier commit) in the
same paired rounds, idle and busy, on the generated scripts and the 16 MiB
one as it is and saved as UTF-8.

    bench/run.py [--rounds N] [--sizes 64m,256m,1g] [--scanner] [--against PROGRAM]

Inputs go to $TALETAB_BENCH_DIR (default /tmp/taletab-bench), pages to
$TALETAB_BENCH_OUT (default /dev/shm, a RAM-backed folder). Needs hyperfine,
GNU time and valgrind (Debian's hyperfine, time and valgrind).
"""
import argparse
import contextlib
import json
import os
import platform
import random
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-bench"
BUILD_PORTABLE = ROOT / "build-bench-portable"
WORK = Path(os.environ.get("TALETAB_BENCH_DIR", "/tmp/taletab-bench"))
OUT = Path(os.environ.get("TALETAB_BENCH_OUT", "/dev/shm"))
TALETAB = BUILD / "taletab"
GENERATE = BUILD / "bench" / "generate_script"
FLOOR = BUILD / "bench" / "floor"
DECODE_TIME = BUILD / "bench" / "decode_time"
KIB, MIB, GIB = 1024, 1024**2, 1024**3
SIZES = {"64m": 64 * MIB, "256m": 256 * MIB, "1g": GIB}
CALLGRIND_LIMIT = 64 * MIB  # larger inputs take minutes under valgrind
PAGE, FLOOR_PAGE, SCRATCH = OUT / "taletab-bench.htm", OUT / "taletab-floor.htm", OUT / "taletab-scratch"


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], check=True, **kwargs)


def build(folder, *options):
    run("cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release", "-DTALETAB_BENCH=ON",
        "-DBUILD_TESTING=OFF", *options, stdout=subprocess.DEVNULL)
    run("cmake", "--build", folder, "-j2", stdout=subprocess.DEVNULL)


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


def utf16_form(source, name):
    """The same script saved as Notepad's "Unicode": UTF-16, little-endian, with its mark."""
    path = WORK / name
    if not path.exists():
        path.write_bytes(b"\xff\xfe" + source.read_bytes().decode("cp932").encode("utf-16-le"))
    return path


def euc_form(source, name):
    """The same script saved as EUC-JP, as older Unix and Mac editors save it."""
    path = WORK / name
    if not path.exists():
        path.write_bytes(source.read_bytes().decode("cp932").encode("euc_jp"))
    return path


def alike_form(source, name, encoding):
    """The same characters cut again into lines all alike (a name of 4, a
    TAB, a text of 46, CR LF), so that the processor foresees where each run
    of kana and kanji ends."""
    path = WORK / name
    if not path.exists():
        text = re.sub(r"[\t\r\n]", "", source.read_bytes().decode("cp932"))
        lines = [f"{text[i:i + 4]}\t{text[i + 4:i + 50]}\r\n" for i in range(0, len(text) - 49, 50)]
        path.write_bytes("".join(lines).encode(encoding))
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


def machine():
    cpuinfo = Path("/proc/cpuinfo").read_text()
    model = re.search(r"^model name\s*:\s*(.*)$", cpuinfo, re.M)
    memory = re.search(r"^MemTotal:\s*(\d+)", Path("/proc/meminfo").read_text(), re.M)
    compiler = re.search(r"CMAKE_CXX_COMPILER:\w+=(.*)", (BUILD / "CMakeCache.txt").read_text()).group(1)
    version = run(compiler, "--version", stdout=subprocess.PIPE, text=True).stdout.splitlines()[0]
    flags = re.search(r"^flags\s*:\s*(.*)$", cpuinfo, re.M)
    # The vector extensions a compiler or library may choose between at run time.
    vectors = [f for f in ("sse2", "avx2", "avx512f") if flags and f in flags.group(1).split()]
    # A virtual machine's model name may say no more than the maker: the family and model numbers tell its generation.
    family = re.search(r"^cpu family\s*:\s*(\d+)$", cpuinfo, re.M)
    number = re.search(r"^model\s*:\s*(\d+)$", cpuinfo, re.M)
    generation = f" family {family.group(1)} model {number.group(1)}" if family and number else ""
    return (f"{model.group(1) if model else platform.machine()}{generation}"
            f" ({' '.join(vectors) or 'no x86 vector flags'}),"
            f" {os.cpu_count()} cores, {int(memory.group(1)) / MIB:.0f} GiB; Linux {platform.release()}; {version}")


def load():
    """The load averages over 1, 5 and 15 minutes: other work on the machine skews every figure."""
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def settle_command(page_size):
    """Run before each timed run of a large input: see the module's comment."""
    return (f"sh -c 'sleep 0.3; head -c {page_size} /dev/zero > {SCRATCH}; "
            f"rm -f {SCRATCH} {PAGE} {FLOOR_PAGE}'")


def hyperfine(commands, runs, prepare):
    """Wall, user and system seconds of each command, from one hyperfine call
    that runs them in turn."""
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        run("hyperfine", "-N", "--runs", runs, "--export-json", report.name, "--output", OUT / "console.out",
            "--prepare", prepare, *commands, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        results = json.load(open(report.name))["results"]
    # hyperfine gives each run's wall time but only the mean user and system times.
    return [{"times": statistics.median(r["times"]), "user": r["user"], "system": r["system"]} for r in results]


def paired(commands, rounds, runs, prepare):
    """Each command's results, round by round; the commands of a round run in a shuffled order."""
    results = {label: [] for label in commands}
    for _ in range(rounds):
        order = random.sample(list(commands), len(commands))
        for label, result in zip(order, hyperfine([commands[label] for label in order], runs, prepare)):
            results[label].append(result)
    return results


def median(results, label, key="times"):
    return statistics.median(r[key] for r in results[label])


def ratio(results, label, baseline):
    return statistics.median(a["times"] / b["times"] for a, b in zip(results[label], results[baseline]))


def best_on_two_cores(results):
    """The least "× 2-thread floor" the run's own processor time allows: its
    user and system time spread evenly over both cores, with neither ever idle."""
    return statistics.median((a["user"] + a["system"]) / 2 / b["times"]
                             for a, b in zip(results["taletab"], results["floor2"]))


def instructions(script):
    """Instructions of a whole conversion, counted by callgrind."""
    with tempfile.TemporaryDirectory() as folder:
        result = run("valgrind", "--tool=callgrind", f"--callgrind-out-file={folder}/out", TALETAB,
                     script, PAGE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return sum(int(n) for n in re.findall(r"Collected : (\d+)", result.stderr))


def peak_kib(script):
    result = run("/usr/bin/time", "-v", TALETAB, script, PAGE,
                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))


def page_size(script):
    run(TALETAB, script, PAGE, stdout=subprocess.DEVNULL)
    return PAGE.stat().st_size


def conversions(script, rounds, extra=None):
    """taletab and both floors (and any extra commands) in paired rounds."""
    size = page_size(script)
    commands = {
        "taletab": f"{TALETAB} {script} {PAGE}",
        "floor": f"{FLOOR} {script} {FLOOR_PAGE} {size}",
        "floor2": f"{FLOOR} --two-threads {script} {FLOOR_PAGE} {size}",
        **(extra or {}),
    }
    return paired(commands, rounds, 1, settle_command(size))


def twins_table(twins, counted, rounds):
    """The same script in each encoding, in the same paired rounds, against
    the first (Shift-JIS): the twins give the same page, so their times
    differ only by the conversion on the way."""
    print("\nThe 16 MiB script saved four ways, in the same paired rounds:\n")
    print("| input | bytes | median s | × Shift-JIS twin | user s | instr/B | instructions × twin | peak KiB |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    commands = {label: f"{TALETAB} {script} {PAGE}" for label, script in twins}
    shift_jis_label, shift_jis = twins[0]
    r = paired(commands, rounds, 1, settle_command(page_size(shift_jis)))
    for label, script in twins:
        size = script.stat().st_size
        print(f"| {label} | {size} | {median(r, label):.4f} | {ratio(r, label, shift_jis_label):.2f}"
              f" | {median(r, label, 'user'):.3f} | {counted[script] / size:.2f}"
              f" | {counted[script] / counted[shift_jis]:.2f} | {peak_kib(script)} |", flush=True)
    return median(r, shift_jis_label)


def decoder_table(groups, twin_seconds):
    """The decoder alone on each script, in memory: what reading it into
    Shift-JIS costs beyond reading the same lines saved as Shift-JIS (each
    group's first), as a share of the Shift-JIS twin's whole run. A UTF-8
    script within 1.3 times the twin leaves 0.3 for that and for reading its
    extra bytes."""
    print("\nThe decoder alone, in memory, taking turns, best of 15 rounds (bench/decode_time):\n")
    print("| input | bytes | ms | ms beyond its Shift-JIS form | share of the twin's whole run |")
    print("|---|---:|---:|---:|---:|")
    scripts = [script for group in groups for _, script in group]
    # Held to one core: a move to the other in mid-run costs the decoder what it had learnt of the script.
    first_core = min(os.sched_getaffinity(0))
    lines = run(DECODE_TIME, *scripts, stdout=subprocess.PIPE, text=True,
                preexec_fn=lambda: os.sched_setaffinity(0, {first_core})).stdout.splitlines()
    milliseconds = iter(float(line.split()[-2]) for line in lines)
    for group in groups:
        timed = [(label, script, next(milliseconds)) for label, script in group]
        shift_jis = timed[0][2]
        for label, script, ms in timed:
            beyond = ms - shift_jis
            print(f"| {label} | {script.stat().st_size} | {ms:.2f} | {beyond:.2f}"
                  f" | {beyond / 1e3 / twin_seconds:.2f} |")


@contextlib.contextmanager
def other_core_busy():
    """A second process that keeps a core busy with work of its own."""
    spinner = subprocess.Popen([sys.executable, "-c", "while True: pass"])
    try:
        yield
    finally:
        spinner.kill()
        spinner.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=7, help="paired rounds per input (default 7)")
    parser.add_argument("--sizes", default="64m,256m,1g", help="generated scripts to convert (default 64m,256m,1g)")
    parser.add_argument("--scanner", action="store_true", help="also pair the SSE2 scanner with the portable one")
    parser.add_argument("--against", metavar="PROGRAM", help="also pair this build with another taletab program")
    args = parser.parse_args()
    rounds = args.rounds
    build(BUILD)
    WORK.mkdir(parents=True, exist_ok=True)
    scripts = [(f"{name[:-1]} {name[-1].upper()}iB script", generated(f"script-{name}.txt", SIZES[name]))
               for name in args.sizes.split(",")]
    small = generated("script-2k.txt", 2 * KIB)
    # Scripts saved as UTF-8 and UTF-16 are converted to Shift-JIS on the way, beside their Shift-JIS
    # twin; small enough for callgrind.
    twin = generated("script-16m.txt", 16 * MIB)
    sixteen = [("16 MiB script, Shift-JIS", twin), ("16 MiB script, UTF-8", utf8_form(twin, "script-16m-utf8.txt")),
               ("16 MiB script, UTF-16", utf16_form(twin, "script-16m-utf16.txt")),
               ("16 MiB script, EUC-JP", euc_form(twin, "script-16m-euc.txt"))]
    counted = {script: instructions(script) for _, script in sixteen}
    print(f"Machine: {machine()}; load average {load()}\n")

    print("| input | bytes | median s | MB/s | floor s | × floor | 2-thread floor s | × 2-thread floor"
          " | best on 2 cores | user s | sys s | instr/B | peak KiB |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for label, script in sixteen + scripts + [("256 MiB line", one_long_line("line-256m.txt", 256 * MIB))]:
        size = script.stat().st_size
        r = conversions(script, rounds)
        count = counted.get(script) or (instructions(script) if size <= CALLGRIND_LIMIT else None)
        per_byte = f"{count / size:.2f}" if count else "-"
        print(f"| {label} | {size} | {median(r, 'taletab'):.4f} | {size / median(r, 'taletab') / 1e6:.0f}"
              f" | {median(r, 'floor'):.4f} | {ratio(r, 'taletab', 'floor'):.2f}"
              f" | {median(r, 'floor2'):.4f} | {ratio(r, 'taletab', 'floor2'):.2f} | {best_on_two_cores(r):.2f}"
              f" | {median(r, 'taletab', 'user'):.3f} | {median(r, 'taletab', 'system'):.3f}"
              f" | {per_byte} | {peak_kib(script)} |", flush=True)

    twin_seconds = twins_table(sixteen, counted, rounds)
    alike = [("16 MiB script in lines all alike, Shift-JIS", alike_form(twin, "script-16m-alike.txt", "cp932")),
             ("16 MiB script in lines all alike, UTF-8", alike_form(twin, "script-16m-alike-utf8.txt", "utf-8"))]
    decoder_table([sixteen, alike], twin_seconds)

    print("\nWith the other core kept busy by a second process:\n")
    print("| input | median s | floor s | × floor | × 2-thread floor |")
    print("|---|---:|---:|---:|---:|")
    for label, script in scripts:
        with other_core_busy():
            r = conversions(script, rounds)
        print(f"| {label} | {median(r, 'taletab'):.4f} | {median(r, 'floor'):.4f}"
              f" | {ratio(r, 'taletab', 'floor'):.2f} | {ratio(r, 'taletab', 'floor2'):.2f} |", flush=True)

    # hyperfine sends each command's standard output to a file: cat's copy of the script.
    r = paired({"taletab": f"{TALETAB} {small} {PAGE}", "cat": f"cat {small}"}, rounds, 30,
               f"rm -f {PAGE}")
    print(f"\n2 KB script ({small.stat().st_size} bytes), whole process: taletab {median(r, 'taletab') * 1e3:.2f} ms,"
          f" cat to a file {median(r, 'cat') * 1e3:.2f} ms, ratio {ratio(r, 'taletab', 'cat'):.2f};"
          f" {instructions(small) / small.stat().st_size:.0f} instructions per byte, peak {peak_kib(small)} KiB")

    if args.scanner:
        build(BUILD_PORTABLE, "-DTALETAB_PORTABLE_SCANNER=ON")
        label, script = scripts[-1]  # the longest runs vary the least
        portable = {"portable": f"{BUILD_PORTABLE / 'taletab'} {script} {PAGE}"}
        print(f"\nSSE2 scanner against the portable one ({label}), time ratio:")
        idle = conversions(script, rounds, portable)
        with other_core_busy():
            busy = conversions(script, rounds, portable)
        print(f"idle {ratio(idle, 'taletab', 'portable'):.2f}, busy {ratio(busy, 'taletab', 'portable'):.2f}")

    if args.against:
        other = Path(args.against).resolve()
        print(f"\nThis build against {other}:\n")
        print("| input | median s | other's median s | × floor | other's × floor | time ratio"
              " | busy: median s | other's median s | × floor | other's × floor | time ratio |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for label, script in scripts + sixteen[:2]:
            extra = {"other": f"{other} {script} {PAGE}"}
            idle = conversions(script, rounds, extra)
            with other_core_busy():
                busy = conversions(script, rounds, extra)
            print(f"| {label}" + "".join(f" | {median(r, 'taletab'):.4f} | {median(r, 'other'):.4f}"
                                         f" | {ratio(r, 'taletab', 'floor'):.2f} | {ratio(r, 'other', 'floor'):.2f}"
                                         f" | {ratio(r, 'taletab', 'other'):.2f}" for r in (idle, busy)) + " |",
                  flush=True)

    print(f"\nLoad average at the end: {load()}")
    for path in (PAGE, FLOOR_PAGE, SCRATCH, OUT / "console.out"):
        path.unlink(missing_ok=True)


if __name__ == "__main__":
    main()
