#!/usr/bin/env bash
# Peak resident memory of whole conversions: a generated 1 GiB script, and a
# script of one 256 MiB line (a name, a TAB and a 256 MiB text, which must be
# held whole until its line ends). Prints one line per input.
#
#   bench/memory.sh            (inputs go to $TALETAB_BENCH_DIR, default /tmp/taletab-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${TALETAB_BENCH_DIR:-/tmp/taletab-bench}
out=${TALETAB_BENCH_OUT:-/dev/shm}
mkdir -p "$work"

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTALETAB_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null

gib=$((1024 * 1024 * 1024))
[ -s "$work/script-1g.txt" ] || build-bench/bench/generate_script 1 $gib >"$work/script-1g.txt"
line=$((256 * 1024 * 1024))
if [ ! -s "$work/line-256m.txt" ]; then
    { printf 'name\t'; head -c $line /dev/zero | tr '\0' 'x'; printf '\r\n'; } >"$work/line-256m.txt"
fi

printf '%-14s %14s %16s\n' input bytes "peak RSS (KiB)"
for input in script-1g.txt line-256m.txt; do
    peak=$( { /usr/bin/time -v build-bench/taletab "$work/$input" "$out/taletab-bench.htm" >/dev/null; } 2>&1 |
        awk -F': ' '/Maximum resident set size/ {print $2}')
    printf '%-14s %14s %16s\n' "$input" "$(stat -c %s "$work/$input")" "$peak"
    rm -f "$out/taletab-bench.htm"
done
