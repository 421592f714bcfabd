#!/usr/bin/env python3
"""The same-run ratios and the targets of a benchmark run, from the pyperf JSON files of bench.py and memory.py.

    python benchmarks/report.py out.json [memory.json]

Figures named "... [baseline]" are those of the build given to --baseline: the targets are shown for both builds,
and each figure of the module is set against the baseline's. Ratios are of mean processor times.
"""

import math
import statistics
import sys

import pyperf

from bench import LIBRARIES
from inputs import BASELINE, DECLARATIONS, FORMS


class Figures:
    """The figures of one build, beside the yardsticks that both builds share."""

    def __init__(self, benches: dict, suffix: str):
        self.benches, self.suffix = benches, suffix

    def bench(self, name):
        bench = self.benches.get(name + self.suffix)
        if bench is None and self.suffix and name in self.benches:
            bench = self.benches[name] if self.benches[name].get_metadata().get("yardstick") else None
        return bench

    def time(self, name):
        """The mean of one call (not of one inner loop), or a memory figure in bytes; None if not measured."""
        bench = self.bench(name)
        return None if bench is None else bench.mean() * bench.get_metadata().get("inner_loops", 1)

    def ratio(self, name, other):
        a, b = self.time(name), self.time(other)
        return None if a is None or b is None else a / b

    def megabytes_per_second(self, name):
        return None if self.time(name) is None else self.bench(name).get_metadata()["bytes"] / 1e6 / self.time(name)

    def over_fastest_library(self, form):
        times = [t for t in (self.time(f"{label}, {form}") for label in LIBRARIES.values()) if t is not None]
        return self.time("whole job") / min(times) if times and self.time("whole job") else None

    def memory(self, case=None):
        """The larger of the resident peak and the least address space over the text, of a case or of the worst."""
        cases = [case] if case else {n[8:].rpartition(",")[0] for n in self.benches if n.startswith("memory: ")}
        ratios = []
        for name in cases:
            figures = [self.bench(f"memory: {name}, {kind}") for kind in ("resident", "address space")]
            if None not in figures:
                ratios.append(max(bench.mean() for bench in figures) / figures[0].get_metadata()["bytes"])
        return max(ratios, default=None)


# (target, its figure for a build, the limit, whether higher is better). A speed is a yardstick's time over the
# figure's. Earlier targets that still say something are kept beside the current ones.
TARGETS = [
    ("parse_ptx at least 3x the speed of str.splitlines()", lambda f: f.ratio("str.splitlines()", "parse_ptx"),
     3.0, True),
    ("parse_ptx at least 10x the speed of one re.findall pass",
     lambda f: f.ratio("re.findall, one tokenising pass", "parse_ptx"), 10.0, True),
    ("native core at least 1,500 MB/s", lambda f: f.megabytes_per_second("bench_core"), 1500.0, True),
    ("native core at least 4x the speed of str.splitlines()", lambda f: f.ratio("str.splitlines()", "bench_core"),
     4.0, True),
    ("a fault on the last line at most 3x the faultless parse",
     lambda f: f.ratio("parse_ptx, a fault on the last line", "parse_ptx"), 3.0, False),
    ("parse_instruction at most 1.5x line.split()",
     lambda f: f.ratio("parse_instruction, each line", "line.split(), each line"), 1.5, False),
    ("functions[0].name at most 1% of parse_ptx, on a fresh tree or not",
     lambda f: max(f.ratio(f"functions[0].name, {tree}", "parse_ptx") or math.nan
                   for tree in ("fresh tree", "tree read before")), 0.01, False),
    ("opcode histogram at most 1.5x the same over tuples",
     lambda f: f.ratio("opcode histogram", "opcode histogram, tuples"), 1.5, False),
    ("register count at most 2.5x the same over tuples",
     lambda f: f.ratio("register count", "register count, tuples"), 2.5, False),
    ("whole job at most 2x the loop over tuples", lambda f: f.ratio("whole job", "whole job, tuples"), 2.0, False),
    ("whole job at most 1.5x the loop over tuples (aim)", lambda f: f.ratio("whole job", "whole job, tuples"), 1.5,
     False),
    *((f"whole job at most 0.8x the fastest library, {form} form", lambda f, form=form: f.over_fastest_library(form),
       0.8, False) for form in FORMS),
    (f"first get_instruction, {DECLARATIONS:,} declarations after each kernel, at most 10x without",
     lambda f: f.ratio(f"get_instruction, first calls, 32 kernels {DECLARATIONS:,} declarations after each",
                       "get_instruction, first calls, 32 kernels alone"), 10.0, False),
    ("memory of a parse of compiler output at most 1.0x its text", lambda f: f.memory("compiler output, parse"),
     1.0, False),
    ("memory of every case measured at most 5x its text", lambda f: f.memory(), 5.0, False),
]


def number(value) -> str:
    """Two decimals, or two significant digits below 0.1, which two decimals would show as 0.00."""
    return f"{value:,.2f}" if abs(value) >= 0.1 or value == 0 else f"{value:.2g}"


def print_machine(benches: dict) -> None:
    runs = [run for bench in benches.values() for run in bench.get_runs()]
    meta = runs[0].get_metadata()
    loads = [run.get_metadata()["load_avg_1min"] for run in runs if "load_avg_1min" in run.get_metadata()]
    print(f"\nmachine: {meta.get('cpu_model_name', 'unknown CPU')}, {meta.get('cpu_count', '?')} cores, "
          f"{meta.get('python_implementation', 'Python')} {meta.get('python_version', '')}; load average (1 minute) as "
          f"each worker started: " + (f"{min(loads):.2f} to {max(loads):.2f}, mean {statistics.mean(loads):.2f}"
                                      if loads else "unknown"))


def print_figures(benches: dict) -> None:
    print("figures: the mean of processor times +- their standard deviation, or memory in bytes")
    for name, bench in benches.items():
        meta, mean = bench.get_metadata(), bench.mean()
        text = bench.format_value(mean) + (f" +- {bench.format_value(bench.stdev())}" if bench.get_nvalue() > 1 else "")
        text += f" per {meta['per']}" if "per" in meta else ""
        if "bytes" in meta:
            call = mean * meta.get("inner_loops", 1)
            text += f", {meta['bytes'] / 1e6 / call:,.0f} MB/s" if meta["unit"] == "second" else ""
            text += f", {call / meta['bytes']:.2f}x the text" if meta["unit"] == "byte" else ""
        print(f"  {text:<46}  {name}")


def print_libraries(figures: Figures, label: str) -> None:
    ours = figures.bench("whole job")
    cells = {form: [figures.bench(f"{library}, {form}") for library in LIBRARIES.values()] for form in FORMS}
    if ours is None or not any(any(row) for row in cells.values()):
        return
    print(f"\nthe whole job, ns per instruction{label}: zorvane parses the PTX, each library the JSON")
    print(f"  {'the JSON holds':<58}{'zorvane':>9}" + "".join(f"{name.split()[0]:>14}" for name in LIBRARIES.values()))
    for form, row in cells.items():
        print(f"  {FORMS[form]:<58}{ours.mean() * 1e9:>9,.0f}"
              + "".join(f"{bench.mean() * 1e9:>14,.0f}" if bench else f"{'-':>14}" for bench in row))


def print_targets(builds: list[tuple[str, Figures]]) -> None:
    print("\ntargets" + ("" if len(builds) == 1 else f" ({', then '.join(label for label, _ in builds)})"))
    for target, figure, limit, higher_is_better in TARGETS:
        verdicts = ""
        for _, figures in builds:
            value = figure(figures)
            if value is None or math.isnan(value):
                verdicts += f"{'-':>9} {'':<12}"
            else:
                met = value >= limit if higher_is_better else value <= limit
                verdicts += f"{number(value):>9} {'met' if met else 'NOT met':<12}"
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
    benches = {}
    for path in paths:
        benches.update((bench.get_name(), bench) for bench in pyperf.BenchmarkSuite.load(path))
    builds = [("this build", Figures(benches, ""))]
    if any(name.endswith(BASELINE) for name in benches):
        builds.append(("the baseline", Figures(benches, BASELINE)))
    print_machine(benches)
    print_figures(benches)
    for label, figures in builds:
        print_libraries(figures, "" if len(builds) == 1 else f", {label}")
    print_targets(builds)
    print_comparison(benches)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]) if sys.argv[1:] and not sys.argv[1].startswith("-") else __doc__)
