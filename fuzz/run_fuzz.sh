#!/usr/bin/env bash
# Builds the libFuzzer binary through CMake (the ZORVANE_LIBFUZZER build: clang, address and undefined-behaviour
# checks, the core's debug checks) and runs it: run_fuzz.sh [SECONDS [extra libFuzzer flags...]].
# run_fuzz.sh merge: rebuilds the committed seed corpus fuzz/seeds/ as a minimal set of inputs, at most 4 KiB each,
# that keeps the coverage of the seeds, the inputs found so far and fuzz/seeds/ itself.
# Work files (the build, found inputs, crashes) go to $ZORVANE_FUZZ_WORK, by default fuzz/corpus-run/.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mode=run
seconds=${1:-600}
[[ $seconds == merge ]] && mode=merge
shift || true

# libFuzzer's runtime comes with a clang of the same version (libclang-rt-N-dev); the newest one installed is taken.
if [[ -z "${FUZZ_CXX:-}" ]]; then
    for candidate in clang++-19 clang++-18 clang++-17 clang++; do
        if command -v "$candidate" >/dev/null; then FUZZ_CXX=$candidate; break; fi
    done
fi
: "${FUZZ_CXX:?no clang++ found: apt-get install -y clang libclang-rt-dev}"

work=${ZORVANE_FUZZ_WORK:-$here/corpus-run}
build=$work/build
mkdir -p "$work/corpus" "$work/seeds" "$work/crashes"

generator=()
[[ -z "${CMAKE_GENERATOR:-}" ]] && command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$FUZZ_CXX" \
    -DZORVANE_LIBFUZZER=ON -DZORVANE_SANITIZE=ON -DZORVANE_DEBUG_CHECKS=ON -DZORVANE_PYTHON_MODULE=OFF
cmake --build "$build" --target fuzz_entry -j "${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
fuzzer=$build/fuzz/fuzz_entry

python3 "$here/make_seeds.py" "$work/seeds"

if [[ $mode == merge ]]; then
    rm -rf "$work/merged"
    mkdir -p "$work/merged"
    "$fuzzer" -merge=1 -max_len=4096 "$work/merged" "$here/seeds" "$work/corpus" "$work/seeds"
    rm -rf "$here/seeds"
    mv "$work/merged" "$here/seeds"
    exit 0
fi

# The first directory receives new inputs; the others are only read.
"$fuzzer" -max_total_time="$seconds" -dict="$here/ptx.dict" -max_len=16384 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/crashes/" "$@" \
    "$work/corpus" "$work/seeds" "$here/seeds" "$here/regressions"
