#!/usr/bin/env bash
# Counts the machine instructions the native parser spends on a few MB of real PTX, per function, under callgrind.
#
# usage: benchmarks/profile_core.sh [SIZE_MB] [--lines] [--at-most N]    (default 4 MiB; results in
#        build-profile/callgrind/)
# The tables count per function, inlined code included in its caller. --lines also profiles the binary with its
# debug information and writes every source line's count to lines.txt. --at-most N fails (exit status 1) when the
# parser spends more than N instructions per input byte, as CI does.
# Environment: BUILD_DIR (default build-profile), PYTHON (default python3), CORPUS (default ../shared/corpus/real).
# Callgrind counts instructions, so its figures do not depend on the load of the machine; they are 50 to 100 times
# slower to get than a timed run. Only parse_program is counted: reading the file and freeing the tree are left out.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
size_mb=4
lines=no
at_most=
usage="usage: $0 [SIZE_MB] [--lines] [--at-most N]"
while [[ $# -gt 0 ]]; do
    case $1 in
        --lines) lines=yes ;;
        --at-most) [[ $# -ge 2 ]] || { echo "$usage" >&2; exit 2; }; at_most=$2; shift ;;
        -*) echo "$usage" >&2; exit 2 ;;
        *) size_mb=$1 ;;
    esac
    shift
done
build=${BUILD_DIR:-$repo/build-profile}
python=${PYTHON:-python3}
out=$build/callgrind
corpus_args=()
if [[ -n ${CORPUS:-} ]]; then corpus_args=(--corpus "$CORPUS"); fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    # Optimised as for a release, with symbols so that inlined code is attributed to its lines.
    generator=()
    if command -v ninja >/dev/null; then generator=(-G Ninja); fi
    cmake -S "$repo" -B "$build" "${generator[@]}" -DZORVANE_TOOLS=ON -DZORVANE_PYTHON_MODULE=OFF \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
fi
cmake --build "$build" --target bench_core -j1 >/dev/null
bench_core=$build/benchmarks/bench_core

mkdir -p "$out"
"$python" "$repo/benchmarks/inputs.py" "${corpus_args[@]}" --bench-core "$bench_core" --size-mb "$size_mb" \
    --write "$out/input.ptx"
"$bench_core" "$out/input.ptx" 1 | tail -n 2

# Without debug information callgrind groups by function alone; with it, the code inlined from each header would
# make an entry of its own.
objcopy --strip-debug "$bench_core" "$out/bench_core.nodebug"
profile() {  # binary, output file
    valgrind --tool=callgrind --callgrind-out-file="$2" --toggle-collect='zorvane::parser::parse_program*' \
        "$1" "$out/input.ptx" 1 2>>"$out/valgrind.log" >/dev/null
}
: >"$out/valgrind.log"
profile "$out/bench_core.nodebug" "$out/callgrind.out"
callgrind_annotate --inclusive=yes "$out/callgrind.out" 2>/dev/null >"$out/inclusive.txt"
callgrind_annotate "$out/callgrind.out" 2>/dev/null >"$out/self.txt"
if [[ $lines == yes ]]; then
    profile "$bench_core" "$out/callgrind-lines.out"
    callgrind_annotate --auto=yes "$out/callgrind-lines.out" 2>/dev/null >"$out/lines.txt"
fi

# The tables as printed: the top 15 entries, without the start-up frames, object names and "???:" (no source file).
top15() {
    sed -n '/^Ir/,$p' "$1" | grep -v -e 'libc-start' -e 'below main' -e 'ld-linux' | grep -E '^ *[0-9,]+ \(' |
        sed -n '2,16p' | sed -e 's/ \[[^]]*\]$//' -e 's/???://' | cut -c1-180
}
total=$(sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' "$out/self.txt")
echo
echo "== inclusive (a function with everything it calls), of $total =="
top15 "$out/inclusive.txt"
echo
echo "== self (a function's own instructions) =="
top15 "$out/self.txt"
echo
echo
echo "full listings: $out/inclusive.txt, $out/self.txt; callgrind_annotate or kcachegrind read $out/callgrind.out"
if [[ $lines == yes ]]; then echo "per source line: $out/lines.txt"; fi
awk -v total="${total//,/}" -v bytes="$(stat -c %s "$out/input.ptx")" -v at_most="$at_most" 'BEGIN {
    printf "parse_program: %.1f instructions per input byte (target: at most 12%s)\n", total / bytes,
           at_most == "" ? "" : "; this run fails above " at_most
    exit at_most != "" && total / bytes > at_most + 0 }'
