"""Times `zorvane check` and `zorvane export` over many copies of the corpus files that parse, with 1 and 2 jobs.

Usage: python tools/bench_cli_jobs.py CORPUS_REAL_DIR WORK_DIR [--copies 1000] [--rounds 3] [--formats jsonl,parquet]

The copies are made once in WORK_DIR/copies. Runs alternate between the job counts, so that a change in the load of
a shared machine falls on both; each line gives the wall time of the whole program (what --jobs changes; processor
time would count the workers' time twice), the processor time of it and its workers, and the load average before it.
Needs the module and zorvane_cli importable (PYTHONPATH=build:python), and pyarrow for Parquet.
"""

from __future__ import annotations

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import zorvane


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


def timed(argv: list[str]) -> tuple[float, float]:
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(argv, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("corpus", type=Path)
    parser.add_argument("work", type=Path)
    parser.add_argument("--copies", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--formats", default="jsonl,parquet")
    args = parser.parse_args()
    copies = make_copies(args.corpus, args.work, args.copies)
    zorvane_cli = [sys.executable, "-m", "zorvane_cli"]
    runs = {"check": ["check", str(copies)]}
    for fmt in args.formats.split(","):
        runs[f"export {fmt}"] = ["export", str(copies), "-o", str(args.work / f"out.{fmt}")]
    for name, argv in runs.items():
        walls: dict[int, list[float]] = {1: [], 2: []}
        for _ in range(args.rounds):
            for jobs in (1, 2):
                load = os.getloadavg()[0]
                wall, cpu = timed([*zorvane_cli, *argv, "--jobs", str(jobs)])
                walls[jobs].append(wall)
                print(f"{name:14s} --jobs {jobs}: {wall:7.2f} s wall, {cpu:7.2f} s processor, load {load:.2f}",
                      flush=True)
        one, two = statistics.median(walls[1]), statistics.median(walls[2])
        ratios = sorted(a / b for a, b in zip(walls[1], walls[2]))
        print(f"{name:14s} median {one:.2f} s / {two:.2f} s = {one / two:.2f}x "
              f"(round by round {', '.join(f'{r:.2f}' for r in ratios)})", flush=True)
        for fmt in ("jsonl", "parquet"):
            (args.work / f"out.{fmt}").unlink(missing_ok=True)


if __name__ == "__main__":
    main()
