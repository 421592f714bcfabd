#!/usr/bin/env bash
# Builds the libFuzzer binary with clang (core sources and the fuzz target, with address and undefined-behaviour
# checks) and runs it: run_fuzz.sh [SECONDS [extra libFuzzer flags...]]. Work files go to fuzz/corpus-run/.
# run_fuzz.sh merge: rebuilds the committed seed corpus fuzz/seeds/ as a minimal set of inputs, at most 4 KiB each,
# that keeps the coverage of the seeds, the inputs found so far and fuzz/seeds/ itself.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mode=run
seconds=${1:-600}
[[ $seconds == merge ]] && mode=merge
shift || true

# Aggregate class template argument deduction (used by the core) needs a recent clang.
if [[ -z "${FUZZ_CXX:-}" ]]; then
    for candidate in clang++-19 clang++-18 clang++-17 clang++; do
        if command -v "$candidate" >/dev/null; then FUZZ_CXX=$candidate; break; fi
    done
fi
: "${FUZZ_CXX:?no clang++ found: apt-get install -y clang libclang-rt-dev}"

work=$here/corpus-run
mkdir -p "$work/obj" "$work/corpus" "$work/seeds" "$work/crashes"
# The opcode tables are built at compile time, past clang's default evaluation budget.
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fconstexpr-steps=100000000 -I"$root/src")

objects=()
for src in "$root"/src/peg/*.cpp "$root"/src/parser/*.cpp "$root"/src/ast/*.cpp "$here/fuzz_entry.cpp"; do
    rel=${src#"$root"/}
    obj=$work/obj/${rel//\//_}.o
    if [[ ! -f "$obj" || "$src" -nt "$obj" || -n "$(find "$root/src" -name '*.hpp' -newer "$obj" -print -quit)" ]]; then
        "$FUZZ_CXX" "${flags[@]}" -c "$src" -o "$obj"
    fi
    objects+=("$obj")
done
"$FUZZ_CXX" "${flags[@]}" "${objects[@]}" -o "$work/fuzz_entry"

python3 "$here/make_seeds.py" "$work/seeds"

if [[ $mode == merge ]]; then
    rm -rf "$work/merged"
    mkdir -p "$work/merged"
    "$work/fuzz_entry" -merge=1 -max_len=4096 "$work/merged" "$here/seeds" "$work/corpus" "$work/seeds"
    rm -rf "$here/seeds"
    mv "$work/merged" "$here/seeds"
    exit 0
fi

# The first directory receives new inputs; the others are only read.
"$work/fuzz_entry" -max_total_time="$seconds" -dict="$here/ptx.dict" -max_len=16384 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/crashes/" "$@" \
    "$work/corpus" "$work/seeds" "$here/seeds" "$here/regressions"
