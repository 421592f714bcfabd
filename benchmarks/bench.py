#!/usr/bin/env python3
"""Speed of the parser, each figure beside a yardstick timed in the same run: pyperf benchmarks by processor time.

    python benchmarks/bench.py -o out.json                   # the whole suite, then its ratios and targets
    python benchmarks/bench.py --quick                       # a smoke run on a small input, corpus or not
    python benchmarks/bench.py --fast --only reading,lookup  # some sections, half the processes
    python benchmarks/bench.py --baseline DIR -o out.json    # every figure of the module also for the build in DIR

The module timed is the one Python imports (installed, or PYTHONPATH=<build dir>), the native core that build's
benchmarks/bench_core unless --bench-core names one. pyperf's options apply too (--fast, --rigorous, -p, -n, -l, -q).
"""

import atexit
import gc
import json
import marshal
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from functools import cached_property, partial
from importlib import import_module
from importlib.util import find_spec
from pathlib import Path

import inputs
from inputs import BASELINE, DECLARATIONS

try:
    import pyperf
except ImportError:
    raise SystemExit("the benchmarks need pyperf: python -m pip install pyperf (or '.[bench]')") from None

SECTIONS = ("throughput", "reading", "lookup", "libraries")
LIBRARIES = {"json": "json.loads", "orjson": "orjson.loads", "msgspec": "msgspec typed structs",
             "simdjson": "pysimdjson lazy proxies"}
# A reasonable tokeniser of PTX text: the yardstick for what one regular-expression pass costs.
PTX_TOKEN = re.compile(r"%[A-Za-z_$][\w$.]*|[A-Za-z_$.][\w$.]*|0[fFdDxX][0-9A-Fa-f]+|\d+|[^\s\w]")

# Processor time leaves out the time that other processes of a shared machine held the processor. It counts every
# thread of the process, so a parse that one day runs helper threads is charged for all of them.
clock = time.process_time

# How each form of the data is read: its functions, a function's instructions, an instruction's opcode number and
# operands, an operand's kind. Every reading job is the loop below over one form, so that the jobs differ in nothing
# but these reads; a job that needs only the histogram or only the count leaves out the lines of the other.
READS = {
    "tree": ("doc.functions", "fn.body.instructions", "int(ins.opcode)", "ins.operands", "op.kind()"),
    "tuples": ("doc[1]", "fn[5][1]", "int(ins[1])", "ins[3]", "op[0]"),
    "keyed": ('doc["functions"]', 'fn["body"]["instructions"]', 'ins["opcode"]', 'ins["operands"]', 'op["kind"]'),
    "arrays": ("doc", "fn", "ins[1]", "ins[3]", "op[0]"),
    "compact": ("doc", "fn", "ins[0]", "ins[1]", "op"),
    "keyed structs": ("doc.functions", "fn.body.instructions", "ins.opcode", "ins.operands", "op.kind"),
    "arrays structs": ("doc", "fn", "ins.opcode", "ins.operands", "op[0]"),
    "compact structs": ("doc", "fn", "ins.opcode", "ins.kinds", "op"),
}
LOOP = """def loop(doc, size):
    counter, n = [0] * size, 0
    for fn in {0}:
        for ins in {1}:
0           counter[{2}] += 1
1           for op in {3}:
1               n += {4} == "reg"
    return counter, n
"""


def loop(form: str, parts=(0, 1)):
    """The opcode histogram (part 0) and the register-operand count (part 1) over one form: (counter, n)."""
    lines = [" " + line[1:] if line[0].isdigit() else line for line in LOOP.format(*READS[form]).splitlines()
             if not line[0].isdigit() or int(line[0]) in parts]
    namespace = {}
    exec("\n".join(lines), namespace)
    return namespace["loop"]


def parse_then(walk, parse, text, size):
    """A whole job: parse, then the loop; the document is returned, to be freed outside the timed span."""
    doc = parse(text)
    return doc, *walk(doc, size)


def timed(job, prepare=None):
    """A pyperf time function: the processor time of `loops` calls of job. What prepare makes for a call and what the
    call returns are made and released outside the timed span, with the cyclic garbage collector off (as timeit)."""

    def time_func(loops):
        total = 0.0
        gc.disable()
        try:
            for _ in range(loops):
                given = prepare() if prepare else ()
                start = clock()
                result = job(*given)
                total += clock() - start
                del given, result
        finally:
            gc.enable()
        return total

    return time_func


def verify(job, expected, parts=(0, 1)):
    """The job, once it has counted what the tree holds: otherwise its ratios would compare other work."""
    got = job()[-2:]
    if any(got[k] != expected[k] for k in parts):
        raise SystemExit(f"{job} does not count what the tree holds")
    return job


def core_time(bench_core: str, path: Path):
    """bench_core parses the file in a process of its own and prints the processor time of each parse; the first,
    which finds no memory at hand yet, is its warm-up."""

    def time_func(loops):
        out = subprocess.run([bench_core, str(path), str(loops + 1)], check=True, capture_output=True,
                             text=True).stdout
        return sum(float(seconds) for seconds in re.findall(r"processor time ([0-9.]+) s", out)[1:])

    return time_func


class Data:
    """The inputs that the process running the suite wrote, read by a worker when its benchmark needs them."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.meta = json.loads((self.folder / "meta.json").read_text())
        self.size, self.expected = self.meta["opcodes"], (self.meta["counter"], self.meta["registers"])

    large = cached_property(lambda self: (self.folder / "large.ptx").read_text(encoding="utf-8"))
    tuples = cached_property(lambda self: marshal.loads((self.folder / "tuples.marshal").read_bytes()))
    lines = cached_property(lambda self: json.loads((self.folder / "lines.json").read_text()))
    texts = cached_property(lambda self: [Path(p).read_text(encoding="utf-8") for p in self.meta["files"]])
    offsets = cached_property(lambda self: [i[0] for fn in self.tuples[1] for i in fn[5][1]])


class Build:
    """The module and bench_core of one build; a worker imports the module of the one build that it times."""

    def __init__(self, suffix, module_dir, bench_core, data):
        self.suffix, self.module_dir, self.bench_core, self.data = suffix, module_dir, bench_core, data

    @cached_property
    def zorvane(self):
        sys.path[:0] = [self.module_dir] if self.module_dir else []
        import zorvane

        if self.module_dir and Path(zorvane.__file__).resolve().parent != Path(self.module_dir).resolve():
            raise SystemExit(f"zorvane came from {zorvane.__file__}, not from {self.module_dir}")
        return zorvane

    tree = cached_property(lambda self: self.zorvane.parse_ptx(self.data.large))


def each(function, items):
    for item in items:
        function(item)


def fail(parse_ptx, text):
    try:
        parse_ptx(text)
    except ValueError as failure:
        return failure
    raise SystemExit("the text with a fault parsed")


def walk(tree):
    """Every instruction and operand through the properties, and the text of every instruction."""
    for fn in tree.functions:
        for ins in fn.body.instructions:
            ins.opcode, ins.modifiers, [op.kind() for op in ins.operands], str(ins)


def first_name(tree):
    return tree.functions[0].name


def first_lookups(parse_ptx, text, offsets):
    """get_instruction of every offset, each the first call for its instruction: on a fresh tree each time, whose
    index (made once, by the first call of all, in one pass over the tree) is made before the timing."""
    def fresh():
        tree = parse_ptx(text)
        tree.get_instruction(0)  # no instruction starts where the header does: this call only makes the index
        return tree.get_instruction, offsets
    return timed(each, fresh)


def later_lookups(tree, offsets):
    each(tree.get_instruction, offsets)
    return timed(partial(each, tree.get_instruction, offsets))


def lookup_case(declarations):
    """The lookup module and the offsets of its instructions (ASCII: character offsets are byte offsets)."""
    text = inputs.lookup_module(declarations)
    return text, [m.start() for m in re.finditer("ret;", text)]


def lookups(parse_ptx, declarations, first):
    text, offsets = lookup_case(declarations)
    return first_lookups(parse_ptx, text, offsets) if first else later_lookups(parse_ptx(text), offsets)


def msgspec_decoder(form):
    import msgspec

    struct = msgspec.defstruct
    if form != "keyed":
        fields = ([("opcode", int), ("kinds", list[str])] if form == "compact" else
                  [("offset", int), ("opcode", int), ("modifiers", str),
                   ("operands", list[list[int | str | list[str] | None]]), ("predicate", int | None)])
        return msgspec.json.Decoder(list[list[struct("Instruction", fields, array_like=True)]])
    operand = struct("Operand", [("kind", str), *((name, kind | None, None) for name, kind in (
        ("value", int), ("bits", int), ("reg", str), ("pred", int), ("label", str), ("disp", int),
        ("regs", list[str])))])
    instruction = struct("Instruction", [("offset", int), ("opcode", int), ("modifiers", str),
                                         ("operands", list[operand]), ("predicate", int | None)])
    body = struct("Body", [("statements", list[struct("Statement", [("kind", str), ("fields", list)])]),
                           ("instructions", list[instruction])])
    signature = struct("Signature", [("parameters", list[struct("Parameter", [("name", str), ("type", int)])])])
    function = struct("Function", [("name", str), ("offset", int), ("link", int), ("kind", int),
                                   ("signature", signature), ("body", body)])
    header = struct("Header", [("version", str), ("target", int), ("address_size", int)])
    return msgspec.json.Decoder(struct("File", [("header", header), ("functions", list[function])]))


def library_job(data, library, form):
    """The whole job with one general-purpose parser over one form of the same data."""
    text, reads = (data.folder / f"{form}.json").read_bytes(), form
    if library == "json":
        loads, text = json.loads, text.decode("utf-8")
    elif library == "simdjson":
        loads = import_module(library).Parser().parse  # one parser, reused as its documentation advises
    elif library == "msgspec":
        loads, reads = msgspec_decoder(form).decode, f"{form} structs"
    else:
        loads = import_module(library).loads
    return verify(partial(parse_then, loop(reads), loads, text, data.size), data.expected)


class Suite:
    """Registers each benchmark with pyperf, once for each build when it times the module."""

    def __init__(self, runner, data, builds):
        self.runner, self.data, self.builds, self.loops = runner, data, builds, runner.args.loops

    def add(self, section, name, make, *, module=True, core=False, inner=None, per=None, loops=None, metadata=None):
        if self.runner.args.only and section not in self.runner.args.only:
            return
        for build in self.builds if module else [b for b in self.builds if not b.suffix]:
            if core and not build.bench_core:
                continue
            if loops and not self.loops:  # a fixed count where each loop pays for an untimed fresh parse
                self.runner.args.loops = loops
            made = []

            def time_func(count, build=build, made=made):
                if not made:  # only in the worker that times this benchmark
                    made.append(make(build))
                return made[0](count)

            self.runner.bench_time_func(name + build.suffix, time_func, inner_loops=inner, metadata={
                "section": section, **({"per": per} if inner else {}), **({} if module else {"yardstick": 1}),
                **(metadata or {})})
            self.runner.args.loops = self.loops


def register(suite: Suite, d: Data) -> None:
    meta, add = d.meta, suite.add
    whole = {"bytes": meta["bytes"]}
    per_instruction = {"inner": meta["instructions"] or None, "per": "instruction"}
    add("throughput", "parse_ptx", lambda b: timed(partial(b.zorvane.parse_ptx, d.large)), metadata=whole)
    add("throughput", "str.splitlines()", lambda b: timed(d.large.splitlines), module=False, metadata=whole)
    add("throughput", "re.findall, one tokenising pass", lambda b: timed(partial(PTX_TOKEN.findall, d.large)),
        module=False, metadata=whole)
    add("throughput", "bench_core", lambda b: core_time(b.bench_core, d.folder / "large.ptx"), core=True,
        metadata=whole)
    add("throughput", "parse_ptx, a fault on the last line",
        lambda b: timed(partial(fail, b.zorvane.parse_ptx, d.large + "xyz\n")))
    add("throughput", f"parse_ptx, each of {len(meta['files'])} files",
        lambda b: timed(partial(each, b.zorvane.parse_ptx, d.texts)), metadata={"bytes": meta["files_bytes"]})
    add("throughput", "parse_instruction, each line",
        lambda b: timed(partial(each, b.zorvane.parse_instruction, d.lines)), inner=meta["lines"], per="line")
    add("throughput", "line.split(), each line", lambda b: timed(partial(each, str.split, d.lines)), module=False,
        inner=meta["lines"], per="line")

    add("reading", "functions[0].name, fresh tree",
        lambda b: timed(first_name, lambda: (b.zorvane.parse_ptx(d.large),)), loops=8)
    add("reading", "functions[0].name, tree read before", lambda b: timed(partial(first_name, b.tree)))
    for job, parts in (("opcode histogram", (0,)), ("register count", (1,)), ("whole job", (0, 1))):
        if job == "whole job":
            over_tree = lambda b, p=parts: partial(parse_then, loop("tree", p), b.zorvane.parse_ptx, d.large, d.size)
        else:
            over_tree = lambda b, p=parts: partial(loop("tree", p), b.tree, d.size)
        add("reading", job, lambda b, p=parts, f=over_tree: timed(verify(f(b), d.expected, p)), **per_instruction)
        add("reading", f"{job}, tuples",
            lambda b, p=parts: timed(verify(partial(loop("tuples", p), d.tuples, d.size), d.expected, p)),
            module=False, **per_instruction)
    add("reading", "walk: properties and str() of every instruction", lambda b: timed(partial(walk, b.tree)),
        **per_instruction)

    per_call = {**per_instruction, "per": "call"}
    add("lookup", "get_instruction, first calls", lambda b: first_lookups(b.zorvane.parse_ptx, d.large, d.offsets),
        **per_call)
    add("lookup", "get_instruction, later calls", lambda b: later_lookups(b.tree, d.offsets), **per_call)
    add("lookup", "dict.get", lambda b: timed(partial(each, dict.fromkeys(d.offsets).get, d.offsets)), module=False,
        **per_call)
    for n, what in ((DECLARATIONS, f"{DECLARATIONS:,} declarations after each"), (0, "alone")):
        for first in (True, False):
            add("lookup", f"get_instruction, {'first' if first else 'later'} calls, 32 kernels {what}",
                lambda b, n=n, first=first: lookups(b.zorvane.parse_ptx, n, first), inner=32, per="call",
                loops=8 if n and first else None)

    for form in inputs.FORMS:
        for library in (library for library in LIBRARIES if find_spec(library)):
            add("libraries", f"{LIBRARIES[library]}, {form}",
                lambda b, library=library, form=form: timed(library_job(d, library, form)), module=False,
                metadata={"bytes": (d.folder / f"{form}.json").stat().st_size}, **per_instruction)


def main() -> int:
    runner = pyperf.Runner(processes=4, values=3, warmups=1, add_cmdline_args=pass_options)
    parser = runner.argparser
    parser.add_argument("--quick", action="store_true", help="smoke run: a 2 MiB input, one value of each")
    parser.add_argument("--only", type=lambda text: text.split(","), help=f"sections, of {','.join(SECTIONS)}")
    parser.add_argument("--baseline", metavar="DIR", help="also time the module and bench_core built in DIR")
    parser.add_argument("--bench-core", help="the native benchmark program (default: beside the module)")
    parser.add_argument("--corpus", type=Path, default=inputs.DEFAULT_CORPUS, help="default: %(default)s")
    parser.add_argument("--size-mb", type=float, default=20.0, help="size of the large input in MiB (default: 20)")
    parser.add_argument("--inputs", metavar="DIR", help="make the inputs in DIR, or reuse those there")
    args = runner.parse_args()
    if args.only and not set(args.only) <= set(SECTIONS):
        parser.error(f"--only takes sections of {', '.join(SECTIONS)}")
    if not args.worker:
        prepare(args)
    data = Data(args.inputs)
    builds = [Build("", None, args.bench_core or None, data)]
    if args.baseline:
        core = Path(args.baseline) / "benchmarks" / "bench_core"
        builds.insert(0, Build(BASELINE, args.baseline, str(core) if core.is_file() else None, data))
    register(Suite(runner, data, builds), data)
    return 0 if args.worker else import_module("report").main([args.output])


def pass_options(cmd, args):
    """What a worker needs to register the same benchmarks in the same order and to find its inputs."""
    cmd += ["--inputs", args.inputs, "--bench-core", args.bench_core]
    cmd += ["--baseline", args.baseline] if args.baseline else []
    cmd += ["--only", ",".join(args.only)] if args.only else []


def prepare(args) -> None:
    """In the process that runs the suite: the inputs, bench_core, and a JSON file for the report."""
    try:
        import zorvane
    except ImportError as failure:
        raise SystemExit(f"cannot import zorvane ({failure}): install it, or set PYTHONPATH to its build directory")
    scratch = tempfile.mkdtemp(prefix="zorvane-bench-")
    atexit.register(shutil.rmtree, scratch, ignore_errors=True)
    if args.quick:
        args.size_mb = min(args.size_mb, 2.0)
        args.processes, args.values, args.loops = 1, 1, args.loops or 1
    args.output = args.output or os.path.join(scratch, "bench.json")
    if args.bench_core is None:
        core = Path(zorvane.__file__).resolve().parent / "benchmarks" / "bench_core"
        args.bench_core = str(core) if core.is_file() else ""
    args.inputs = args.inputs or os.path.join(scratch, "inputs")
    folder = Path(args.inputs)
    if not (folder / "meta.json").is_file():
        folder.mkdir(parents=True, exist_ok=True)
        inputs.prepare(folder, zorvane, args.corpus, args.size_mb)
    meta = json.loads((folder / "meta.json").read_text())
    print(f"input: {meta['bytes']:,} bytes from {len(meta['files'])} files of {meta['origin']}, {meta['functions']:,}"
          f" functions, {meta['instructions']:,} instructions (in {folder})\nmodule: {zorvane.__file__}\n"
          f"bench_core: {args.bench_core or 'none: configure the build with -DZORVANE_TOOLS=ON'}\n"
          f"baseline: {args.baseline or 'none'}\nload average: {' '.join(f'{x:.2f}' for x in os.getloadavg())}",
          flush=True)


if __name__ == "__main__":
    sys.exit(main())
