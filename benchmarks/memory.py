#!/usr/bin/env python3
"""The memory a parse takes beyond its text, each figure from fresh processes: the peak of the resident set and the
least address space it needs, on compiler output and on the texts that make a parse and its index take the most.

    python benchmarks/memory.py [-o memory.json] [--quick] [--baseline DIR] [--size-mb N] [--corpus DIR]

The JSON file is pyperf's (one value a figure, in bytes), for report.py beside bench.py's, or pyperf compare_to.
"""

import argparse
import array
import ctypes
import gc
import json
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import inputs
from inputs import BASELINE, DECLARATIONS, HEADER

# The texts that make a parse and its index take the most for their size: which instructions are looked up after
# the parse (the last one needs the whole index), and what comes before a unit repeated up to the size, and after it.
WORST_CASES = {
    "functions of one instruction, parse and the last lookup": ("last", "", ".func f(){ret;}", ""),
    "one-character operands, parse": ("", ".entry f()\n{\nmov ", "1,", "1;\n}\n"),
    "instructions of three characters, parse": ("", ".entry f()\n{\n", "or;", "\n}\n"),
}


def status(key: str) -> int:
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(key + ":"))


def child(mode: str, text_path: str, offsets_path: str, module_dir: str, allowance: int) -> None:
    """In a fresh process: one parse, and a lookup of every offset given, then what it took as JSON."""
    sys.path.insert(0, module_dir)
    import zorvane

    text = Path(text_path).read_text(encoding="utf-8")
    offsets = array.array("q", Path(offsets_path).read_bytes()) if offsets_path else array.array("q")
    # What the module allocates once, on its first parse and lookup, is not the figure's.
    zorvane.parse_ptx(HEADER + ".entry warm()\n{\nmov.u32 %r1, a;\n}\n").get_instruction(len(HEADER) + 20)
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)  # what reading the text left free goes back to the system
    if mode == "resident":
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # the resident peak starts again from here
        before = status("VmRSS")
    else:
        resource.setrlimit(resource.RLIMIT_AS, (status("VmSize") + allowance, resource.RLIM_INFINITY))
    start = time.process_time()
    try:
        tree = zorvane.parse_ptx(text)
        for offset in offsets:
            tree.get_instruction(offset)
        outcome = "parsed"
    except MemoryError:
        outcome = "MemoryError"
    except ValueError:
        outcome = "ValueError"
    seconds = time.process_time() - start
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    peak = status("VmHWM") - before if mode == "resident" else 0
    print(json.dumps({"outcome": outcome, "resident": peak, "seconds": seconds}))


def run_child(*args) -> dict:
    done = subprocess.run([sys.executable, __file__, "--child", *map(str, args)], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"memory.py child {args} failed:\n{done.stderr[-2000:]}")
    return json.loads(done.stdout.splitlines()[-1])


def measure(text_path: Path, offsets_path: str, module_dir: str, size: int) -> dict:
    """The resident peak, then the least address space to a twentieth of the text's size (a search over limits)."""
    figures = run_child("resident", text_path, offsets_path, module_dir, 0)
    fits = lambda twentieths: run_child("address", text_path, offsets_path, module_dir,
                                        twentieths * size // 20)["outcome"] != "MemoryError"
    low, high = 0, max(1, int(figures["resident"] * 20 / size) + 1)
    while not fits(high):
        low, high = high, high * 2
        if high > 20 * 100:
            raise SystemExit(f"{text_path}: no parse within 100 times its text")
    while high - low > 1:
        middle = (low + high) // 2
        low, high = (low, middle) if fits(middle) else (middle, high)
    figures["address"] = high * size // 20
    return figures


def write_case(folder: Path, text: str, lookups: str) -> tuple[Path, str, int]:
    """The text in a file, and in another the offsets of the instructions to look up: every one, or the last."""
    stem = folder / str(len(list(folder.iterdir())))
    stem.with_suffix(".ptx").write_text(text, encoding="utf-8", newline="")
    offsets = ""
    if lookups:
        import zorvane

        values = [i.offset for fn in zorvane.parse_ptx(text).functions for i in fn.body.instructions]
        offsets = str(stem.with_suffix(".offsets"))
        Path(offsets).write_bytes(array.array("q", values if lookups == "every" else values[-1:]).tobytes())
    return stem.with_suffix(".ptx"), offsets, len(text.encode("utf-8"))


def cases(folder: Path, args):
    import zorvane

    files, origin = inputs.sources(args.corpus, lambda files: [inputs.parses(zorvane.parse_ptx, t) for _, t in files])
    large = inputs.assemble(files, int(args.size_mb * 2**20))
    print(f"compiler output: {len(large):,} characters from {origin}")
    yield "compiler output, parse", write_case(folder, large, "")
    yield "compiler output, parse and every lookup, each object kept by the tree", write_case(folder, large, "every")
    yield "compiler output with a fault on its last line", write_case(folder, large + "xyz\n", "")
    del large
    yield (f"32 kernels, {DECLARATIONS:,} declarations after each, parse and every lookup",
           write_case(folder, inputs.lookup_module(DECLARATIONS), "every"))
    for name, (lookups, before, unit, after) in WORST_CASES.items():
        text = HEADER + before + unit * (int(args.size_mb * 2**20) // len(unit)) + after
        yield name, write_case(folder, text, lookups)


def main() -> int:
    if sys.argv[1:2] == ["--child"]:
        child(*sys.argv[2:6], int(sys.argv[6]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", help="write the figures to this pyperf JSON file")
    parser.add_argument("--quick", action="store_true", help="texts of 2 MiB")
    parser.add_argument("--baseline", metavar="DIR", help="also measure the module built in DIR")
    parser.add_argument("--size-mb", type=float, default=20.0, help="size of the texts in MiB (default: 20)")
    parser.add_argument("--corpus", type=Path, default=inputs.DEFAULT_CORPUS, help="default: %(default)s")
    args = parser.parse_args()
    if args.quick:
        args.size_mb = min(args.size_mb, 2.0)
    try:
        import pyperf
        import zorvane
    except ImportError as failure:
        raise SystemExit(f"memory.py needs pyperf and the module: {failure}")
    builds = [("", str(Path(zorvane.__file__).resolve().parent))]
    if args.baseline:
        builds.insert(0, (BASELINE, args.baseline))
    print(f"load average at the start: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"{'case':<72} {'text MB':>8} {'resident':>9} {'address':>8}  outcome, processor time")
    benches = []
    with tempfile.TemporaryDirectory(prefix="zorvane-memory-") as scratch:
        for name, (text_path, offsets, size) in cases(Path(scratch), args):
            for suffix, module_dir in builds:
                figures = measure(text_path, offsets, module_dir, size)
                print(f"{name + suffix:<72} {size / 1e6:>8.1f} {figures['resident'] / size:>8.2f}x "
                      f"{figures['address'] / size:>7.2f}x  {figures['outcome']}, {figures['seconds']:.2f} s",
                      flush=True)
                for kind, key in (("resident", "resident"), ("address space", "address")):
                    metadata = {"name": f"memory: {name}, {kind}{suffix}", "unit": "byte", "bytes": size}
                    benches.append(pyperf.Benchmark([pyperf.Run([max(1, figures[key])], metadata=metadata)]))
    if args.output:
        pyperf.BenchmarkSuite(benches).dump(args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
