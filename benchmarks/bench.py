#!/usr/bin/env python3
"""Speed of the parser, each figure beside a yardstick timed in the same run: pyperf benchmarks by processor time.

    python benchmarks/bench.py [--quick] [--only SECTIONS] [--baseline DIR] [--inputs DIR] [-o FILE] [pyperf options]
"""

import gc
import json
import marshal
import os
import re
import subprocess
import sys
import tempfile
import time
from functools import cache, cached_property, partial
from importlib import import_module
from importlib.util import find_spec
from pathlib import Path

import pyperf

import inputs
import report
from inputs import BASELINE, DECLARATIONS, FORMS, LIBRARIES

SECTIONS = ("throughput", "reading", "lookup", "libraries")
# A reasonable tokeniser of PTX text: the yardstick for what one regular-expression pass costs.
PTX_TOKEN = re.compile(r"%[A-Za-z_$][\w$.]*|[A-Za-z_$.][\w$.]*|0[fFdDxX][0-9A-Fa-f]+|\d+|[^\s\w]")

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


def loop(form: str, parts):
    """The opcode histogram (part 0) and the register-operand count (part 1) over one form: (counter, n)."""
    lines = [" " + line[1:] if line[0].isdigit() else line for line in LOOP.format(*READS[form]).splitlines()
             if not line[0].isdigit() or int(line[0]) in parts]
    namespace = {}
    exec("\n".join(lines), namespace)
    return namespace["loop"]


def timed(job, prepare=None):
    """A pyperf time function: the processor time of `loops` calls of job, with what prepare makes for a call and what
    the call returns made and freed outside the timed span, and the cyclic garbage collector off (as timeit)."""

    def time_func(loops):
        total = 0.0
        gc.disable()
        try:
            for _ in range(loops):
                given = prepare() if prepare else ()
                start = time.process_time()
                result = job(*given)
                total += time.process_time() - start
                del given, result
        finally:
            gc.enable()
        return total

    return time_func


def parse_then(read, parse, text, size):
    doc = parse(text)
    return doc, *read(doc, size)  # the document too, to be freed outside the timed span


def reading(d, form, parts, doc, parse=None):
    """The loop over doc, or with parse the whole job (parse doc, then the loop), timed once it has counted what the
    tree holds: otherwise its ratios would compare other work."""
    read = loop(form, parts)
    job = partial(parse_then, read, parse, doc, d.size) if parse else partial(read, doc, d.size)
    got, expected = job()[-2:], (d.meta["counter"], d.meta["registers"])
    if any(got[k] != expected[k] for k in parts):
        raise SystemExit(f"the loop over {form} does not count what the tree holds")
    return timed(job)


def msgspec_decoder(form):
    """Structs of the whole document (keyed), or array-like structs of each instruction (the other forms)."""
    import msgspec

    struct = msgspec.defstruct
    if form != "keyed":
        fields = ([("opcode", int), ("kinds", list[str])] if form == "compact" else
                  [("offset", int), ("opcode", int), ("modifiers", str),
                   ("operands", list[list[int | str | list[str] | None]]), ("predicate", int | None)])
        return msgspec.json.Decoder(list[list[struct("Instruction", fields, array_like=True)]])
    optional = {"value": int, "bits": int, "reg": str, "pred": int, "label": str, "disp": int, "regs": list[str]}
    operand = struct("Operand", [("kind", str), *((name, kind | None, None) for name, kind in optional.items())])
    instruction = struct("Instruction", [("offset", int), ("opcode", int), ("modifiers", str),
                                         ("operands", list[operand]), ("predicate", int | None)])
    body = struct("Body", [("statements", list[struct("Statement", [("kind", str), ("fields", list)])]),
                           ("instructions", list[instruction])])
    signature = struct("Signature", [("parameters", list[struct("Parameter", [("name", str), ("type", int)])])])
    function = struct("Function", [("name", str), ("offset", int), ("link", int), ("kind", int),
                                   ("signature", signature), ("body", body)])
    header = struct("Header", [("version", str), ("target", int), ("address_size", int)])
    return msgspec.json.Decoder(struct("File", [("header", header), ("functions", list[function])]))


def library_job(d, library, form):
    """The whole job with one general-purpose parser over one form of the same data."""
    text, reads = (d.folder / f"{form}.json").read_bytes(), form
    if library == "json":
        loads, text = json.loads, text.decode("utf-8")
    elif library == "simdjson":
        loads = import_module(library).Parser().parse  # one parser, reused as its documentation advises
    elif library == "msgspec":
        loads, reads = msgspec_decoder(form).decode, f"{form} structs"
    else:
        loads = import_module(library).loads
    return reading(d, reads, (0, 1), text, loads)


def core_time(bench_core: str, path: Path):
    """bench_core parses the file in a process of its own and prints the processor time of each parse; the first,
    which finds no memory at hand yet, is its warm-up."""

    def time_func(loops):
        out = subprocess.run([bench_core, str(path), str(loops + 1)], check=True, capture_output=True, text=True)
        return sum(float(seconds) for seconds in re.findall(r"processor time ([0-9.]+) s", out.stdout)[1:])

    return time_func


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


def lookup_module(declarations):
    text = inputs.lookup_module(declarations)
    return text, [m.start() for m in re.finditer("ret;", text)]  # ASCII: character offsets are byte offsets


def lookups(parse_ptx, text, offsets, first):
    """get_instruction of every offset: later calls on one tree, or each the first call for its instruction, on a
    fresh tree each time whose index (made by the first call of all, in one pass) is made before the timing."""
    if not first:
        tree = parse_ptx(text)
        each(tree.get_instruction, offsets)
        return timed(partial(each, tree.get_instruction, offsets))

    def fresh():
        tree = parse_ptx(text)
        tree.get_instruction(0)  # no instruction starts where the header does: this call only makes the index
        return tree.get_instruction, offsets

    return timed(each, fresh)


class Data:
    """The inputs that the process running the suite wrote, each read by a worker when its benchmark needs it."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.meta = marshal.loads((self.folder / "meta").read_bytes())
        self.size = len(self.meta["counter"])

    large = cached_property(lambda self: (self.folder / "large.ptx").read_text(encoding="utf-8"))
    tuples = cached_property(lambda self: marshal.loads((self.folder / "tuples").read_bytes()))
    lines = cached_property(lambda self: marshal.loads((self.folder / "lines").read_bytes()))
    texts = cached_property(lambda self: marshal.loads((self.folder / "texts").read_bytes()))
    offsets = cached_property(lambda self: marshal.loads((self.folder / "offsets").read_bytes()))


class Build:
    """The module and bench_core of one build; only a worker that times the build imports its module."""

    def __init__(self, suffix, module_dir, bench_core):
        self.suffix, self.module_dir, self.bench_core = suffix, module_dir, bench_core

    @cached_property
    def zorvane(self):
        sys.path[:0] = [self.module_dir] if self.module_dir else []
        import zorvane

        if self.module_dir and Path(zorvane.__file__).resolve().parent != Path(self.module_dir).resolve():
            raise SystemExit(f"zorvane came from {zorvane.__file__}, not from {self.module_dir}")
        return zorvane


def register(runner, d: Data, builds) -> None:
    """Registers each benchmark with pyperf: a figure of the module once for each build, a yardstick once."""
    args, calibrated, meta = runner.args, runner.args.loops, d.meta

    def add(section, name, make, *, yardstick=False, inner=None, fixed_loops=None, **metadata):
        for build in builds[-1:] if yardstick else builds:  # a yardstick once, under its own name
            if args.only and section not in args.only or name == "bench_core" and not build.bench_core:
                continue
            made = cache(partial(make, build))  # only in the worker that times this benchmark
            # A fixed count where each loop pays for an untimed parse of a large text, instead of calibrating.
            args.loops = calibrated or fixed_loops or 0
            runner.bench_time_func(name + build.suffix, lambda loops, made=made: made()(loops), inner_loops=inner,
                                   metadata={"yardstick": int(yardstick), **metadata})
            args.loops = calibrated

    whole, n = {"bytes": meta["bytes"]}, meta["instructions"] or None

    def tree(build):
        return build.zorvane.parse_ptx(d.large)

    add("throughput", "parse_ptx", lambda b: timed(partial(b.zorvane.parse_ptx, d.large)), **whole)
    add("throughput", "str.splitlines()", lambda b: timed(d.large.splitlines), yardstick=True, **whole)
    add("throughput", "re.findall, one tokenising pass", lambda b: timed(partial(PTX_TOKEN.findall, d.large)),
        yardstick=True, **whole)
    add("throughput", "bench_core", lambda b: core_time(b.bench_core, d.folder / "large.ptx"), **whole)
    add("throughput", "parse_ptx, a fault on the last line",
        lambda b: timed(partial(fail, b.zorvane.parse_ptx, d.large + "xyz\n")))
    add("throughput", f"parse_ptx, each of {meta['files']} files",
        lambda b: timed(partial(each, b.zorvane.parse_ptx, d.texts)), bytes=meta["files_bytes"])
    add("throughput", "parse_instruction, each line",
        lambda b: timed(partial(each, b.zorvane.parse_instruction, d.lines)), inner=meta["lines"])
    add("throughput", "line.split(), each line", lambda b: timed(partial(each, str.split, d.lines)), yardstick=True,
        inner=meta["lines"])

    add("reading", "functions[0].name, fresh tree", lambda b: timed(first_name, lambda: (tree(b),)), fixed_loops=8)
    add("reading", "functions[0].name, tree read before", lambda b: timed(partial(first_name, tree(b))))
    for job, parts in (("opcode histogram", (0,)), ("register count", (1,))):
        add("reading", job, lambda b, p=parts: reading(d, "tree", p, tree(b)), inner=n)
        add("reading", f"{job}, tuples", lambda b, p=parts: reading(d, "tuples", p, d.tuples), yardstick=True, inner=n)
    add("reading", "whole job", lambda b: reading(d, "tree", (0, 1), d.large, b.zorvane.parse_ptx), inner=n)
    add("reading", "whole job, tuples", lambda b: reading(d, "tuples", (0, 1), d.tuples), yardstick=True, inner=n)
    add("reading", "walk: properties and str() of every instruction", lambda b: timed(partial(walk, tree(b))), inner=n)

    for first in ("first", "later"):
        add("lookup", f"get_instruction, {first} calls",
            lambda b, f=first: lookups(b.zorvane.parse_ptx, d.large, d.offsets, f == "first"), inner=n)
    add("lookup", "dict.get", lambda b: timed(partial(each, dict.fromkeys(d.offsets).get, d.offsets)), yardstick=True,
        inner=n)
    for count, what in ((DECLARATIONS, f"{DECLARATIONS:,} declarations after each"), (0, "alone")):
        for first in ("first", "later"):
            add("lookup", f"get_instruction, {first} calls, 32 kernels {what}",
                lambda b, c=count, f=first: lookups(b.zorvane.parse_ptx, *lookup_module(c), f == "first"), inner=32,
                fixed_loops=8 if count and first == "first" else None)

    for form in FORMS:
        for library in (library for library in LIBRARIES if find_spec(library)):
            add("libraries", f"{LIBRARIES[library]}, {form}", lambda b, lib=library, f=form: library_job(d, lib, f),
                yardstick=True, bytes=(d.folder / f"{form}.json").stat().st_size, inner=n)


def main() -> int:
    runner = pyperf.Runner(processes=4, values=3, warmups=1, add_cmdline_args=pass_options)
    parser = inputs.add_arguments(runner.argparser)
    parser.add_argument("--quick", action="store_true", help="smoke run: a 2 MiB input, one value of each")
    parser.add_argument("--only", type=lambda text: text.split(","), help=f"sections, of {','.join(SECTIONS)}")
    parser.add_argument("--baseline", metavar="DIR", help="also time the module and bench_core built in DIR")
    parser.add_argument("--bench-core", help="the native benchmark program (default: beside the module)")
    parser.add_argument("--inputs", metavar="DIR", help="make the inputs in DIR, or reuse those there")
    args = runner.parse_args()
    if not set(args.only or ()) <= set(SECTIONS):
        parser.error(f"--only takes sections of {', '.join(SECTIONS)}")
    if not args.worker:
        prepare(args)
    builds = [Build("", None, args.bench_core)]
    if args.baseline:
        core = Path(args.baseline, "benchmarks", "bench_core")
        builds.insert(0, Build(BASELINE, args.baseline, str(core) if core.is_file() else ""))
    register(runner, Data(args.inputs), builds)
    return 0 if args.worker else report.main([args.output])


def pass_options(cmd, args):
    """What a worker needs to register the same benchmarks in the same order and to find its inputs."""
    cmd += ["--inputs", args.inputs, "--bench-core", args.bench_core]
    cmd += ["--baseline", args.baseline] if args.baseline else []
    cmd += ["--only", ",".join(args.only)] if args.only else []


def prepare(args) -> None:
    """In the process that runs the suite: the inputs, bench_core, and a JSON file for the report."""
    import zorvane

    args.scratch = tempfile.TemporaryDirectory(prefix="zorvane-bench-")  # removed as the process ends
    if args.quick:
        args.size_mb = min(args.size_mb, 2.0)
        args.processes, args.values, args.loops = 1, 1, args.loops or 1
    args.output = args.output or os.path.join(args.scratch.name, "bench.json")
    if args.bench_core is None:
        core = Path(zorvane.__file__).resolve().parent / "benchmarks" / "bench_core"
        args.bench_core = str(core) if core.is_file() else ""
    args.inputs = args.inputs or os.path.join(args.scratch.name, "inputs")
    if not Path(args.inputs, "meta").is_file():
        os.makedirs(args.inputs, exist_ok=True)
        inputs.prepare(Path(args.inputs), zorvane, args)
    meta = marshal.loads(Path(args.inputs, "meta").read_bytes())
    print(f"input: {meta['bytes']:,} bytes from {meta['files']} files of {meta['origin']}, {meta['functions']:,}"
          f" functions, {meta['instructions']:,} instructions (in {args.inputs})\nmodule: {zorvane.__file__}\n"
          f"bench_core: {args.bench_core or 'none: configure the build with -DZORVANE_TOOLS=ON'}\n"
          f"baseline: {args.baseline or 'none'}\nload average: {' '.join(f'{x:.2f}' for x in os.getloadavg())}",
          flush=True)


if __name__ == "__main__":
    sys.exit(main())
