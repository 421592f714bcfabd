#!/usr/bin/env python3
"""The memory a parse takes beyond its text, each figure from fresh processes: the peak of the resident set and the
least address space it needs, on compiler output and on the texts that make a parse and its index take the most;
the JSON file (-o) is pyperf's, one value a figure in bytes, for report.py beside bench.py's.
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


def child(module_dir: str, text_path: str, offsets_path: str, allowance: str) -> None:
    """In a fresh process: one parse and a lookup of every offset given, then as JSON its outcome and resident peak;
    with an allowance, the address space may grow by that much alone."""
    sys.path.insert(0, module_dir)
    import zorvane

    text = Path(text_path).read_text(encoding="utf-8")
    offsets = array.array("q", Path(offsets_path).read_bytes() if offsets_path else b"")
    # What the module allocates once, on its first parse and lookup, is not the figure's.
    zorvane.parse_ptx(HEADER + ".entry warm()\n{\nmov.u32 %r1, a;\n}\n").get_instruction(len(HEADER) + 20)
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)  # what reading the text left free goes back to the system
    if int(allowance):
        resource.setrlimit(resource.RLIMIT_AS, (status("VmSize") + int(allowance), resource.RLIM_INFINITY))
    else:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # the resident peak starts again from here
    before = status("VmRSS")
    try:
        tree = zorvane.parse_ptx(text)
        for offset in offsets:
            tree.get_instruction(offset)
        outcome = "parsed"
    except (MemoryError, ValueError) as failure:
        outcome = type(failure).__name__
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    print(json.dumps({"outcome": outcome, "resident": status("VmHWM") - before}))


def measure(module_dir: str, text_path: str, offsets_path: str, size: int) -> dict:
    """The resident peak, then the least address space to a twentieth of the text's size (a search over limits)."""

    def run(twentieths):
        allowance = str(twentieths * size // 20)
        done = subprocess.run([sys.executable, __file__, "--child", module_dir, text_path, offsets_path, allowance],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit(f"memory.py child of {text_path} failed:\n{done.stderr[-2000:]}")
        return json.loads(done.stdout.splitlines()[-1])

    def fits(twentieths):
        return run(twentieths)["outcome"] != "MemoryError"

    figures = run(0)
    low, high = 0, int(figures["resident"] * 20 / size) + 1
    while not fits(high):
        low, high = high, high * 2
        if high > 20 * 100:
            raise SystemExit(f"{text_path}: no parse within 100 times its text")
    while high - low > 1:
        middle = (low + high) // 2
        low, high = (low, middle) if fits(middle) else (middle, high)
    return {**figures, "address": high * size // 20}


def cases(folder: Path, args, zorvane):
    """Each case: its name, its text in a file, the offsets of the instructions to look up (every one, or the last)
    in another, and the text's size."""
    _, origin, large = inputs.compiler_output(args)
    print(f"compiler output: {len(large):,} characters from {origin}")
    texts = {
        "compiler output, parse": (large, ""),
        "compiler output, parse and every lookup, each object kept by the tree": (large, "every"),
        "compiler output with a fault on its last line": (large + "xyz\n", ""),
        f"32 kernels, {DECLARATIONS:,} declarations after each, parse and every lookup":
            (inputs.lookup_module(DECLARATIONS), "every"),
    }
    for name, (lookups, before, unit, after) in WORST_CASES.items():
        texts[name] = (HEADER + before + unit * (int(args.size_mb * 2**20) // len(unit)) + after, lookups)
    for k, (name, (text, lookups)) in enumerate(texts.items()):
        path, offsets = folder / f"{k}.ptx", folder / f"{k}.offsets" if lookups else ""
        path.write_text(text, encoding="utf-8", newline="")
        if lookups:
            values = [i.offset for fn in zorvane.parse_ptx(text).functions for i in fn.body.instructions]
            offsets.write_bytes(array.array("q", values if lookups == "every" else values[-1:]).tobytes())
        yield name, str(path), str(offsets), len(text.encode("utf-8"))


def main() -> int:
    if sys.argv[1:2] == ["--child"]:
        return child(*sys.argv[2:])
    parser = inputs.add_arguments(argparse.ArgumentParser(description=__doc__))
    parser.add_argument("-o", "--output", help="write the figures to this pyperf JSON file")
    parser.add_argument("--quick", action="store_true", help="texts of 2 MiB")
    parser.add_argument("--baseline", metavar="DIR", help="also measure the module built in DIR")
    args = parser.parse_args()
    args.size_mb = min(args.size_mb, 2.0) if args.quick else args.size_mb
    import pyperf  # not in a child, whose memory is measured
    import zorvane

    builds = [(BASELINE, args.baseline)] * bool(args.baseline) + [("", str(Path(zorvane.__file__).resolve().parent))]
    print(f"load average at the start: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"{'case':<72} {'text MB':>8} {'resident':>9} {'address':>8}  outcome")
    benches = []
    with tempfile.TemporaryDirectory(prefix="zorvane-memory-") as scratch:
        for name, *case, size in cases(Path(scratch), args, zorvane):
            for suffix, module_dir in builds:
                figures = measure(module_dir, *case, size)
                print(f"{name + suffix:<72} {size / 1e6:>8.1f} {figures['resident'] / size:>8.2f}x "
                      f"{figures['address'] / size:>7.2f}x  {figures['outcome']}", flush=True)
                for kind, key in (("resident", "resident"), ("address space", "address")):
                    metadata = {"name": f"memory: {name}, {kind}{suffix}", "unit": "byte", "bytes": size}
                    benches.append(pyperf.Benchmark([pyperf.Run([max(1, figures[key])], metadata=metadata)]))
    if args.output:
        pyperf.BenchmarkSuite(benches).dump(args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
