#!/usr/bin/env python3
"""The same-run ratios and the targets of a run, from the pyperf JSON files of bench.py and memory.py.

    python benchmarks/report.py bench.json [memory.json]

Figures named "... [baseline]" are those of the build given to --baseline: the targets are shown for both builds,
and each figure of the module is set against the baseline's. Ratios are of mean processor times.
"""

import math
import statistics
import sys

import pyperf

from inputs import BASELINE, DECLARATIONS, FORMS, LIBRARIES


def value(f: dict, name: str) -> float:
    """The mean time of one call (not of one inner loop), or for memory the bytes over the text's."""
    meta = f[name].get_metadata()
    return f[name].mean() * meta.get("inner_loops", 1) / (meta["bytes"] if meta["unit"] == "byte" else 1)


def speed(f: dict, name: str) -> float:
    return f[name].get_metadata()["bytes"] / 1e6 / value(f, name)  # MB/s


def ratio(name: str, other: str):
    return lambda f: value(f, name) / value(f, other)


def over_fastest_library(f: dict, form: str) -> float:
    return value(f, "whole job") / min(value(f, f"{x}, {form}") for x in LIBRARIES.values() if f"{x}, {form}" in f)


def memory(f: dict, case=None) -> float:
    """The larger of the resident peak and the least address space over the text, of a case or of the worst."""
    names = [f"memory: {case}, {kind}" for kind in ("resident", "address space")] if case else f
    return max(value(f, name) for name in names if name.startswith("memory: "))


# Each target: what it says, its figure for a build, and its limit, a least where it says "at least" and else a most.
# A speed is a yardstick's time over the figure's. Earlier targets that still say something are kept.
TARGETS = [
    ("parse_ptx at least 3x the speed of str.splitlines()", ratio("str.splitlines()", "parse_ptx"), 3.0),
    ("parse_ptx at least 10x the speed of one re.findall pass", ratio("re.findall, one tokenising pass", "parse_ptx"),
     10.0),
    ("native core at least 1,500 MB/s", lambda f: speed(f, "bench_core"), 1500.0),
    ("native core at least 4x the speed of str.splitlines()", ratio("str.splitlines()", "bench_core"), 4.0),
    ("a fault on the last line at most 3x the faultless parse",
     ratio("parse_ptx, a fault on the last line", "parse_ptx"), 3.0),
    ("parse_instruction at most 1.5x line.split()", ratio("parse_instruction, each line", "line.split(), each line"),
     1.5),
    ("functions[0].name at most 1% of parse_ptx, on a fresh tree or not",
     lambda f: max(ratio(f"functions[0].name, {tree}", "parse_ptx")(f) for tree in ("fresh tree", "tree read before")),
     0.01),
    ("opcode histogram at most 1.5x the same over tuples", ratio("opcode histogram", "opcode histogram, tuples"), 1.5),
    ("register count at most 2.5x the same over tuples", ratio("register count", "register count, tuples"), 2.5),
    ("whole job at most 2x the loop over tuples", ratio("whole job", "whole job, tuples"), 2.0),
    ("whole job at most 1.5x the loop over tuples (aim)", ratio("whole job", "whole job, tuples"), 1.5),
    *((f"whole job at most 0.8x the fastest library, {form} form", lambda f, form=form: over_fastest_library(f, form),
       0.8) for form in FORMS),
    (f"first get_instruction, {DECLARATIONS:,} declarations after each kernel, at most 10x without",
     ratio(f"get_instruction, first calls, 32 kernels {DECLARATIONS:,} declarations after each",
           "get_instruction, first calls, 32 kernels alone"), 10.0),
    ("memory of a parse of compiler output at most 1.0x its text", lambda f: memory(f, "compiler output, parse"), 1.0),
    ("memory of every case measured at most 5x its text", memory, 5.0),
]


def print_machine(benches: dict, builds: dict) -> None:
    runs = [run.get_metadata() for bench in benches.values() for run in bench.get_runs()]
    loads = [run["load_avg_1min"] for run in runs if "load_avg_1min" in run]
    print(f"\nmachine: {runs[0].get('cpu_model_name', 'unknown CPU')}, {runs[0].get('cpu_count', '?')} cores, Python "
          f"{runs[0].get('python_version', '')}; load average (1 minute) as each worker started: "
          + (f"{min(loads):.2f} to {max(loads):.2f}, mean {statistics.mean(loads):.2f}" if loads else "unknown"))
    for label, f in builds.items():
        speeds = [f"{name} {speed(f, name):,.0f} MB/s" for name in ("parse_ptx", "bench_core") if name in f]
        print(f"throughput, {label}: {', '.join(speeds) or '-'}")


def print_libraries(f: dict, label: str) -> None:
    if "whole job" not in f or not any(f"{x}, {form}" in f for x in LIBRARIES.values() for form in FORMS):
        return
    print(f"\nthe whole job, ns per instruction{label}: zorvane parses the PTX, each library the JSON")
    print(f"  {'the JSON holds':<58}{'zorvane':>9}" + "".join(f"{name.split()[0]:>14}" for name in LIBRARIES.values()))
    for form, holds in FORMS.items():
        cells = [f.get(f"{name}, {form}") for name in LIBRARIES.values()]
        print(f"  {holds:<58}{f['whole job'].mean() * 1e9:>9,.0f}"
              + "".join(f"{bench.mean() * 1e9:>14,.0f}" if bench else f"{'-':>14}" for bench in cells))


def print_targets(builds: dict) -> None:
    print("\ntargets" + (f" ({', then '.join(builds)})" if len(builds) > 1 else ""))
    for target, figure, limit in TARGETS:
        verdicts = ""
        for f in builds.values():
            try:
                got = figure(f)
            except (KeyError, ValueError):  # a figure that this run did not measure
                verdicts += f"{'-':>9} {'':<12}"
                continue
            met = got >= limit if "at least" in target else got <= limit
            number = f"{got:,.2f}" if abs(got) >= 0.1 or got == 0 else f"{got:.2g}"  # not 0.00 for a small figure
            verdicts += f"{number:>9} {'met' if met else 'NOT met':<12}"
        print(f"  {verdicts}{target}")


def print_comparison(benches: dict) -> None:
    """Each figure of the module against the baseline's. Each worker process is one sample (its values share its
    state): a difference counts where Welch's t of the processes' means exceeds 2.5, about 95% for four each."""
    pairs = [(name, benches[name], benches[name + BASELINE]) for name in benches if name + BASELINE in benches]
    if pairs:
        print("\nthis build against the baseline: the time of this build over the baseline's, in the same run")
    for name, ours, base in pairs:
        a, b = ([statistics.mean(run.values) for run in bench.get_runs() if run.values] for bench in (ours, base))
        verdict = "memory" if ours.get_unit() == "byte" else "one process each: not judged"
        if len(a) > 1 and len(b) > 1:
            error = math.sqrt(statistics.variance(a) / len(a) + statistics.variance(b) / len(b))
            differs = abs(statistics.mean(a) - statistics.mean(b)) > 2.5 * error
            verdict = ("faster" if statistics.mean(a) < statistics.mean(b) else "SLOWER") if differs else "same"
        print(f"  {statistics.mean(a) / statistics.mean(b):>6.3f}x  {verdict:<8} {name}")


def main(paths: list[str]) -> int:
    benches = {bench.get_name(): bench for path in paths for bench in pyperf.BenchmarkSuite.load(path)}
    builds = {"this build": {name: bench for name, bench in benches.items() if not name.endswith(BASELINE)}}
    if any(name.endswith(BASELINE) for name in benches):  # the yardsticks, timed once, serve both builds
        builds["the baseline"] = {name.removesuffix(BASELINE): bench for name, bench in benches.items()
                                  if name.endswith(BASELINE) or bench.get_metadata().get("yardstick")}
    print_machine(benches, builds)
    for label, f in builds.items():
        print_libraries(f, f", {label}" if len(builds) > 1 else "")
    print_targets(builds)
    print_comparison(benches)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]) if sys.argv[1:] and not sys.argv[1].startswith("-") else __doc__)
