"""Times `zorvane check` and `zorvane export` over many copies of the corpus files that parse, with 1 and 2 jobs.

Usage: python tools/bench_cli_jobs.py CORPUS_REAL_DIR WORK_DIR [--copies 1000] [--pairs 3] [--formats jsonl,parquet]

The copies are made once in WORK_DIR/copies. Each pair runs both job counts back to back (in alternating order), and
starts only once the machine has been nearly idle for a few seconds, since other work on a shared machine takes the
cores that a second job needs. Each run prints its wall time (what --jobs changes; processor time would count the
workers' time twice), the processor time of the program and its workers, and the processor time that other processes
took meanwhile. Needs the module and zorvane_cli importable (PYTHONPATH=build:python), and pyarrow for Parquet.
"""

from __future__ import annotations

import argparse
import os
import resource
import shutil
import subprocess
import sys
import time
from pathlib import Path

import zorvane

TICKS = os.sysconf("SC_CLK_TCK")


def make_copies(corpus: Path, work: Path, copies: int) -> Path:
    target = work / "copies"
    if (target / f"c{copies - 1:04d}").is_dir():
        return target
    shutil.rmtree(target, ignore_errors=True)
    good = []
    for path in sorted(corpus.glob("*.ptx")):
        try:
            zorvane.parse_ptx(path.read_bytes().decode("utf-8"))
            good.append(path)
        except (ValueError, UnicodeDecodeError):
            pass
    for n in range(copies):
        (target / f"c{n:04d}").mkdir(parents=True)
        for path in good:
            shutil.copyfile(path, target / f"c{n:04d}" / path.name)
    print(f"{copies} copies of {len(good)} files in {target}")
    return target


def cpu_ticks() -> tuple[int, int]:
    """All processor ticks of the machine so far, and the idle ones."""
    with open("/proc/stat") as f:
        values = [int(v) for v in f.readline().split()[1:]]
    return sum(values), values[3] + values[4]


def idle_share(seconds: float) -> float:
    total, idle = cpu_ticks()
    time.sleep(seconds)
    total2, idle2 = cpu_ticks()
    return (idle2 - idle) / max(1, total2 - total)


def timed(argv: list[str]) -> tuple[float, float, float]:
    """Wall time, processor time of the program and its children, and processor time of everything else."""
    before, ticks = resource.getrusage(resource.RUSAGE_CHILDREN), cpu_ticks()
    start = time.perf_counter()
    done = subprocess.run(argv, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    # A run that failed (pyarrow missing, say) did not do the work: its time means nothing.
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(argv)} exited with {done.returncode}: {done.stderr.strip()}")
    wall = time.perf_counter() - start
    after, ticks2 = resource.getrusage(resource.RUSAGE_CHILDREN), cpu_ticks()
    ours = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    busy = ((ticks2[0] - ticks[0]) - (ticks2[1] - ticks[1])) / TICKS
    return wall, ours, max(0.0, busy - ours)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("corpus", type=Path)
    parser.add_argument("work", type=Path)
    parser.add_argument("--copies", type=int, default=1000)
    parser.add_argument("--pairs", type=int, default=3)
    parser.add_argument("--formats", default="jsonl,parquet")
    parser.add_argument("--idle", type=float, default=0.85, help="idle share of the cores a pair waits for")
    args = parser.parse_args()
    copies = make_copies(args.corpus, args.work, args.copies)
    runs = {"check": ["check", str(copies)]}
    for fmt in args.formats.split(","):
        runs[f"export {fmt}"] = ["export", str(copies), "-o", str(args.work / f"out.{fmt}")]
    for name, argv in runs.items():
        ratios = []
        for pair in range(args.pairs):
            while (idle := idle_share(5)) < args.idle:
                time.sleep(15)
            walls = {}
            for jobs in (1, 2) if pair % 2 == 0 else (2, 1):
                wall, ours, others = timed([sys.executable, "-m", "zorvane_cli", *argv, "--jobs", str(jobs)])
                walls[jobs] = wall
                print(f"{name:14s} --jobs {jobs}: {wall:7.2f} s wall, {ours:7.2f} s processor, others took "
                      f"{others:6.2f} s meanwhile (idle {idle:.0%} before)", flush=True)
            ratios.append(walls[1] / walls[2])
        print(f"{name:14s} --jobs 2 is {', '.join(f'{r:.2f}x' for r in sorted(ratios))} as fast as --jobs 1",
              flush=True)
        for fmt in ("jsonl", "parquet"):
            (args.work / f"out.{fmt}").unlink(missing_ok=True)


if __name__ == "__main__":
    main()
