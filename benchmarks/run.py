#!/usr/bin/env python3
"""Speed and memory of the parser on real compiler output, each figure set against a yardstick in the same run.

Usage, from the repository root, with the module importable (installed, or PYTHONPATH=<build dir>):

    python benchmarks/run.py                     # the whole suite, about two minutes
    python benchmarks/run.py --json out.json     # also keep the figures, to compare a later run with
    python benchmarks/run.py --quick             # a smoke run on a small input
    python benchmarks/run.py --only reading      # only reading the parsed tree, beside tuples and other parsers
    python benchmarks/run.py --write-input F     # only write the large input to F (profile_core.sh uses this)

The inputs are the corpus files that parse_ptx accepts and one large text assembled from them: one header, then the
top-level items of every accepted file (everything after its ".address_size" line), repeated up to --size-mb. The
native core is timed by bench_core, which is built in --build-dir unless --bench-core names a binary.
Wall times are the best of --runs calls, with the cyclic garbage collector off while timing (as timeit does).
MB means 10^6 bytes of UTF-8 text.
"""

from __future__ import annotations

import argparse
import gc
import json
import math
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = REPO.parent / "shared" / "corpus" / "real"
HEADER = ".version 8.5\n.target sm_90a\n.address_size 64\n"
MB = 1e6

# What the timings read: wall time by default, or this process's processor time with --cpu-time.
clock = time.perf_counter

# A reasonable tokeniser of PTX text: the yardstick for what a single regular-expression pass costs.
PTX_TOKEN = re.compile(
    r"""
      %[A-Za-z_$][\w$.]*            # registers: %r5, %rd12, %tid.x
    | [A-Za-z_$.][\w$.]*            # mnemonics with their modifiers, directives, identifiers
    | 0[fFdDxX][0-9A-Fa-f]+         # float bit patterns and hexadecimal numbers
    | \d+                           # decimal numbers
    | [^\s\w]                       # punctuation
    """,
    re.VERBOSE,
)

ADDRESS_SIZE_LINE = re.compile(r"^[ \t]*\.address_size\b[^\n]*\n?", re.MULTILINE)


# ---------------------------------------------------------------------------------------------------------------
# Inputs


def machine_description() -> dict:
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    try:
        load = "%.2f %.2f %.2f" % os.getloadavg()
    except OSError:
        load = "unknown"
    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "python": f"{platform.python_implementation()} {platform.python_version()}",
        "platform": f"{platform.system()} {platform.machine()}",
        "load_average": load,
    }


def items_after_header(text: str) -> str | None:
    """The top-level items of a module text: everything after its ".address_size" line."""
    match = ADDRESS_SIZE_LINE.search(text)
    if match is None:
        return None
    items = text[match.end() :]
    return items if items.endswith("\n") else items + "\n"


def read_corpus(corpus: Path) -> list[tuple[Path, str]]:
    files = []
    for path in sorted(corpus.glob("*.ptx")):
        try:
            files.append((path, path.read_bytes().decode("utf-8")))
        except (OSError, UnicodeDecodeError):
            continue
    return files


def accepted_by_module(files, parse_ptx):
    """The files parse_ptx accepts, and the names of those it refused with something other than ValueError."""
    accepted, internal = [], []
    for path, text in files:
        try:
            parse_ptx(text)
        except ValueError:
            continue
        except Exception as failure:  # an internal failure of the parser: worth telling, not a reason to stop
            internal.append(f"{path.name}: {type(failure).__name__}: {failure}")
            continue
        accepted.append((path, text))
    return accepted, internal


def accepted_by_core(files, bench_core: Path):
    """The same selection made by the native core, for when the Python module is not built."""
    out = subprocess.run(
        [str(bench_core), "--accepts", *(str(path) for path, _ in files)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    names = set(out.split("\n"))
    return [(path, text) for path, text in files if str(path) in names], []


def assemble_large(accepted, min_bytes: int) -> str:
    """One header, then the items of every accepted file, the whole block repeated until the text has min_bytes."""
    block = "".join(items for items in (items_after_header(text) for _, text in accepted) if items)
    if not block:
        raise SystemExit("no accepted corpus file has items after its header")
    block_bytes = len(block.encode("utf-8"))
    copies = max(1, math.ceil((min_bytes - len(HEADER)) / block_bytes))
    return HEADER + block * copies


# ---------------------------------------------------------------------------------------------------------------
# Timing


def best_of(fns, runs: int, budget: float) -> tuple[list[float], int]:
    """The best wall time of each of fns over up to `runs` rounds, stopping early once about `budget` seconds per
    function are spent.

    A round calls every function once, so that a function and its yardstick see the same load of the machine. What
    a function returns is released outside the timed span, so freeing a tree is not charged to the parse.
    """
    enabled = gc.isenabled()
    gc.disable()
    try:
        best = [math.inf] * len(fns)
        rounds, spent = 0, 0.0
        while rounds < runs:
            for k, fn in enumerate(fns):
                start = clock()
                result = fn()
                elapsed = clock() - start
                del result
                best[k] = min(best[k], elapsed)
                spent += elapsed
            rounds += 1
            if spent >= budget * len(fns):
                break
        return best, rounds
    finally:
        if enabled:
            gc.enable()


class Report:
    """Prints figures as they come and keeps them for the summary and the JSON file."""

    def __init__(self):
        self.figures: dict[str, dict] = {}
        self.targets: list[dict] = []

    def section(self, title: str) -> None:
        print(f"\n{title}")

    def figure(self, key: str, label: str, value: float, unit: str, note: str = "", **extra) -> None:
        self.figures[key] = {"value": value, "unit": unit, **extra}
        print(f"  {label:<44} {value:>12,.1f} {unit:<10} {note}".rstrip())

    def ratio(self, key: str, label: str, value: float, note: str = "") -> None:
        self.figures[key] = {"value": value, "unit": "x"}
        print(f"  {label:<44} {ratio_text(value):>12} x          {note}".rstrip())

    def note(self, text: str) -> None:
        print(f"  {text}")

    def target(self, name: str, measured: float | None, limit: float, higher_is_better: bool, aim=None) -> None:
        if measured is None:
            met = None
        else:
            met = measured >= limit if higher_is_better else measured <= limit
        self.targets.append(
            {"target": name, "measured": measured, "limit": limit, "higher_is_better": higher_is_better,
             "met": met, "aim": aim}
        )


def ratio_text(value: float) -> str:
    """Two decimals, or two significant digits for a ratio below 0.1, which two decimals would show as 0.00."""
    return f"{value:.2f}" if abs(value) >= 0.1 or value == 0 else f"{value:.2g}"


def mbps(nbytes: int, seconds: float) -> float:
    return nbytes / MB / seconds


# ---------------------------------------------------------------------------------------------------------------
# The native core


def find_or_build_bench_core(args) -> tuple[Path | None, str]:
    """The bench_core binary: the one given, or the one in the build directory, configured and brought up to date."""
    if args.bench_core:
        path = Path(args.bench_core)
        return (path, "given") if path.is_file() else (None, f"{path} does not exist")
    if shutil.which("cmake") is None:
        return None, "cmake not found"
    build = Path(args.build_dir)
    cache = build / "CMakeCache.txt"
    if cache.is_file():
        # Keep the directory's own settings (its generator, whether it builds the module); only make sure the
        # tools are on, then build just the benchmark.
        configure = ["cmake", "-S", str(REPO), "-B", str(build), "-DZORVANE_TOOLS=ON"]
    else:
        configure = ["cmake", "-S", str(REPO), "-B", str(build), "-DZORVANE_TOOLS=ON",
                     "-DZORVANE_PYTHON_MODULE=OFF", "-DCMAKE_BUILD_TYPE=Release"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
    build_cmd = ["cmake", "--build", str(build), "--target", "bench_core", "-j1"]
    for cmd in (configure, build_cmd):
        done = subprocess.run(cmd, capture_output=True, text=True)
        if done.returncode != 0:
            tail = "\n".join((done.stdout + done.stderr).strip().splitlines()[-15:])
            return None, f"`{' '.join(cmd)}` failed:\n{tail}"
    settings = cache.read_text(errors="replace")
    build_type = re.search(r"^CMAKE_BUILD_TYPE:\w+=(.*)$", settings, re.MULTILINE)
    sanitize = re.search(r"^ZORVANE_SANITIZE:\w+=(.*)$", settings, re.MULTILINE)
    debug_checks = re.search(r"^ZORVANE_DEBUG_CHECKS:\w+=(.*)$", settings, re.MULTILINE)
    compiler = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", settings, re.MULTILINE)
    warning = f" with {Path(compiler.group(1)).name}" if compiler else ""
    if build_type and build_type.group(1) not in ("Release", ""):
        warning += f" (built as {build_type.group(1)}, not Release)"
    if sanitize and sanitize.group(1).upper() in ("ON", "1", "TRUE", "YES"):
        warning += " (built with sanitizers)"
    if debug_checks and debug_checks.group(1).upper() in ("ON", "1", "TRUE", "YES"):
        warning += " (built with the debug checks)"
    for candidate in (build / "benchmarks" / "bench_core", build / "bench_core"):
        if candidate.is_file():
            return candidate, f"built in {build}{warning}"
    return None, f"bench_core not found in {build}"


def run_bench_core(bench_core: Path, input_path: str, runs: int) -> tuple[float | None, str]:
    done = subprocess.run([str(bench_core), input_path, str(runs)], capture_output=True, text=True)
    key = "best_cpu_seconds" if clock is time.process_time else "best_seconds"
    match = re.search(rf"\b{key}=([0-9.]+)", done.stdout)
    if done.returncode != 0 or match is None:
        return None, (done.stdout + done.stderr).strip()
    return float(match.group(1)), done.stdout


# ---------------------------------------------------------------------------------------------------------------
# Memory

# The memory a parse takes beyond the text it parses, in a fresh process: the peak of its resident set (the peak is
# reset once the text is read, so that reading it, which takes more than the text for a while, counts for nothing),
# and whether the parse succeeds within a given address space beyond what the process held before it.
PEAK_SCRIPT = """
import ctypes, resource, sys
sys.path.insert(0, sys.argv[3])
import zorvane
with open(sys.argv[1], encoding="utf-8") as source:
    text = source.read()
def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
ctypes.CDLL(None).malloc_trim(0)
if sys.argv[2] == "resident":
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the resident peak starts again from here
    base = status("VmRSS")
    tree = zorvane.parse_ptx(text)
    print(status("VmHWM") - base)
else:
    limit = status("VmSize") + int(sys.argv[4])
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    try:
        tree = zorvane.parse_ptx(text)
    except MemoryError:
        print("no")
    else:
        print("yes")
"""

# Linux carries a process's peak resident size over into the program it executes, so a child of this large
# process would report this process's peak. A small launcher in between starts the measured process afresh.
LAUNCHER = "import subprocess, sys; sys.exit(subprocess.run(sys.argv[1:]).returncode)"


def run_peak_script(input_path: str, module_dir: str, *args: str) -> str:
    return subprocess.run(
        [sys.executable, "-c", LAUNCHER, sys.executable, "-c", PEAK_SCRIPT, input_path, args[0], module_dir,
         *args[1:]],
        check=True,
        capture_output=True,
        text=True,
    ).stdout.split()[-1]


def parse_peak_resident(input_path: str, module_dir: str) -> int:
    """The bytes a parse adds to the peak resident set of a process that holds its text."""
    return int(run_peak_script(input_path, module_dir, "resident"))


def parse_least_address_space(input_path: str, module_dir: str, input_bytes: int) -> float:
    """The least address space, in multiples of the text's size and to 1/20 of one, that a parse needs beyond what
    the process held before it (a search over limits, a fresh process each)."""
    low, high = 0, 20 * 20  # in twentieths of the input size
    while run_peak_script(input_path, module_dir, "address", str(high * input_bytes // 20)) != "yes":
        low, high = high, high * 2
        if high > 20 * 200:
            return math.inf
    while high - low > 1:
        middle = (low + high) // 2
        if run_peak_script(input_path, module_dir, "address", str(middle * input_bytes // 20)) == "yes":
            high = middle
        else:
            low = middle
    return high / 20


# ---------------------------------------------------------------------------------------------------------------
# Reading the tree: jobs written as a new user would write them, each beside the same loop over plain tuples


def first_name(tree) -> str:
    return tree.functions[0].name


def opcode_histogram(tree, size: int) -> list[int]:
    counter = [0] * size
    for fn in tree.functions:
        for ins in fn.body.instructions:
            counter[int(ins.opcode)] += 1
    return counter


def register_count(tree) -> int:
    n = 0
    for fn in tree.functions:
        for ins in fn.body.instructions:
            for op in ins.operands:
                n += op.kind() == "reg"
    return n


def whole_job(parse_ptx, text: str, size: int):
    """Parse, then the histogram and the register count in one loop. The tree is returned, so that freeing it falls
    outside the timed span as it does for the parse alone."""
    tree = parse_ptx(text)
    counter = [0] * size
    n = 0
    for fn in tree.functions:
        for ins in fn.body.instructions:
            counter[int(ins.opcode)] += 1
            for op in ins.operands:
                n += op.kind() == "reg"
    return tree, counter, n


def index_in_loop(fn) -> None:
    for k in range(len(fn.body.instructions)):
        fn.body.instructions[k]


def index_list_once(fn) -> None:
    instructions = fn.body.instructions
    for k in range(len(instructions)):
        instructions[k]


# The yardstick: the same data as nested tuples, and the same loops over them. A file is (header, functions), a
# function (name, offset, link, kind, signature, body), a body (statements, instructions), an instruction (offset,
# opcode, modifiers, operands, is_predicated) and an operand (kind, fields...): attribute reads become indexing.


def opcode_histogram_tuples(tree, size: int) -> list[int]:
    counter = [0] * size
    for fn in tree[1]:
        for ins in fn[5][1]:
            counter[int(ins[1])] += 1
    return counter


def register_count_tuples(tree) -> int:
    n = 0
    for fn in tree[1]:
        for ins in fn[5][1]:
            for op in ins[3]:
                n += op[0] == "reg"
    return n


def whole_loop_tuples(tree, size: int):
    counter = [0] * size
    n = 0
    for fn in tree[1]:
        for ins in fn[5][1]:
            counter[int(ins[1])] += 1
            for op in ins[3]:
                n += op[0] == "reg"
    return counter, n


def plain_field(value):
    """A field of an operand or a declaration as plain data: numbers and names as they are, an enumeration member
    as its value, a register as its text, a list as a tuple, an operand as an operand tuple."""
    if value is None or isinstance(value, (int, str)):
        return value
    if isinstance(value, list):
        return tuple(plain_field(item) for item in value)
    if hasattr(value, "get_register"):
        return operand_tuple(value)
    if hasattr(type(value), "__int__"):
        return int(value)
    return str(value)


def operand_tuple(op) -> tuple:
    return (op.kind(), *(plain_field(op[k]) for k in range(len(op))))


def as_tuples(ptx) -> tuple:
    """The tree as nested tuples, read once through the properties."""
    header = ptx.header
    functions = []
    for fn in ptx.functions:
        body = fn.body
        statements = tuple(
            (type(statement).__name__.partition("_")[2], *(plain_field(statement[k]) for k in range(len(statement))))
            for statement in body.statements
        )
        instructions = tuple(
            (ins.offset, int(ins.opcode), ins.modifiers, tuple(operand_tuple(op) for op in ins.operands),
             ins.is_predicated)
            for ins in body.instructions
        )
        signature = tuple((parameter.name, int(parameter.type_)) for parameter in fn.signature.parameters)
        functions.append((fn.name, fn.offset, int(fn.link_directive), int(fn.kind), signature,
                          (statements, instructions)))
    return (header.version, int(header.target), header.address_size), tuple(functions)


# The same data as a document for general-purpose parsers: JSON and XML texts made once from the tuples, an operand
# as an object with its kind and named fields.

OPERAND_FIELDS = {
    "imm": ("value",),
    "float_imm": ("bits",),
    "reg": ("reg",),
    "predicate": ("pred",),
    "memory": (),
    "memory_label": ("label",),
    "memory_reg_disp": ("reg", "disp"),
    "label": ("label",),
    "vector": ("regs",),
    "reg_pred_pair": ("reg", "pred"),
}


def operand_fields(operand: tuple) -> list[tuple[str, object]]:
    kind, values = operand[0], operand[1:]
    names = OPERAND_FIELDS.get(kind, ())
    if len(names) != len(values):  # a kind this table does not know: its fields by position
        names = tuple(f"_{k}" for k in range(len(values)))
    return list(zip(names, values))


def operand_object(operand: tuple) -> dict:
    fields = {"kind": operand[0]}
    for name, value in operand_fields(operand):
        fields[name] = list(value) if isinstance(value, tuple) else value
    return fields


def json_document(data: tuple) -> dict:
    (version, target, address_size), functions = data
    return {
        "header": {"version": version, "target": target, "address_size": address_size},
        "functions": [
            {
                "name": name,
                "offset": offset,
                "link": link,
                "kind": kind,
                "signature": {"parameters": [{"name": p_name, "type": p_type} for p_name, p_type in signature]},
                "body": {
                    "statements": [
                        {"kind": statement[0],
                         "fields": [operand_object(f) if isinstance(f, tuple) else f for f in statement[1:]]}
                        for statement in statements
                    ],
                    "instructions": [
                        {"offset": i_offset, "opcode": opcode, "modifiers": modifiers,
                         "operands": [operand_object(op) for op in operands], "predicate": predicate}
                        for i_offset, opcode, modifiers, operands, predicate in instructions
                    ],
                },
            }
            for name, offset, link, kind, signature, (statements, instructions) in functions
        ],
    }


def xml_text(data: tuple) -> str:
    from xml.sax.saxutils import quoteattr

    def operand_xml(operand: tuple) -> str:
        attributes, children = [f"kind={quoteattr(operand[0])}"], []
        for name, value in operand_fields(operand):
            if isinstance(value, tuple):
                children.extend(f"<reg name={quoteattr(str(item))}/>" for item in value)
            else:
                attributes.append(f"{name}={quoteattr(str(value))}")
        if children:
            return f"<operand {' '.join(attributes)}>{''.join(children)}</operand>"
        return f"<operand {' '.join(attributes)}/>"

    (version, target, address_size), functions = data
    out = [f"<file><header version={quoteattr(version)} target=\"{target}\" address_size=\"{address_size}\"/>"]
    for name, offset, link, kind, signature, (statements, instructions) in functions:
        out.append(f"<function name={quoteattr(name)} offset=\"{offset}\" link=\"{link}\" kind=\"{kind}\">"
                   "<signature>")
        out.extend(f"<parameter name={quoteattr(p_name)} type=\"{p_type}\"/>" for p_name, p_type in signature)
        out.append("</signature><body><statements>")
        for statement in statements:
            fields = "".join(operand_xml(f) if isinstance(f, tuple) else f"<field value={quoteattr(str(f))}/>"
                             for f in statement[1:])
            out.append(f"<statement kind={quoteattr(statement[0])}>{fields}</statement>")
        out.append("</statements><instructions>")
        for i_offset, opcode, modifiers, operands, predicate in instructions:
            guard = "" if predicate is None else f" predicate=\"{predicate}\""
            out.append(f"<instruction offset=\"{i_offset}\" opcode=\"{opcode}\" modifiers={quoteattr(modifiers)}"
                       f"{guard}>{''.join(operand_xml(op) for op in operands)}</instruction>")
        out.append("</instructions></body></function>")
    out.append("</file>")
    return "".join(out)


def library_jobs(json_str: str, json_bytes: bytes, xml_bytes: bytes, size: int):
    """The whole job over the JSON and XML texts with each general-purpose parser that imports: (name, job) pairs,
    and (name, reason) for those left out. Each job returns its document, so that freeing it is not timed."""
    jobs, missing = [], []

    def walk(doc):
        counter = [0] * size
        n = 0
        for fn in doc["functions"]:
            for ins in fn["body"]["instructions"]:
                counter[ins["opcode"]] += 1
                for op in ins["operands"]:
                    n += op["kind"] == "reg"
        return counter, n

    def loads_job(loads, text):
        def job():
            doc = loads(text)
            return doc, *walk(doc)
        return job

    jobs.append(("json.loads", loads_job(json.loads, json_str)))
    try:
        import orjson
    except ImportError as failure:
        missing.append(("orjson", str(failure)))
    else:
        jobs.append(("orjson.loads", loads_job(orjson.loads, json_bytes)))

    try:
        import msgspec
    except ImportError as failure:
        missing.append(("msgspec", str(failure)))
    else:
        # defstruct rather than class bodies: this file's annotations are strings, which msgspec would have to
        # resolve in a function's scope.
        struct = msgspec.defstruct
        operand = struct("Operand", [("kind", str), ("value", int | None, None), ("bits", int | None, None),
                                     ("reg", str | None, None), ("pred", int | None, None),
                                     ("label", str | None, None), ("disp", int | None, None),
                                     ("regs", list[str] | None, None)])
        statement = struct("Statement", [("kind", str), ("fields", list[int | str | operand])])
        instruction = struct("Instruction", [("offset", int), ("opcode", int), ("modifiers", str),
                                             ("operands", list[operand]), ("predicate", int | None)])
        body = struct("Body", [("statements", list[statement]), ("instructions", list[instruction])])
        parameter = struct("Parameter", [("name", str), ("type", int)])
        signature = struct("Signature", [("parameters", list[parameter])])
        function = struct("Function", [("name", str), ("offset", int), ("link", int), ("kind", int),
                                       ("signature", signature), ("body", body)])
        header = struct("Header", [("version", str), ("target", int), ("address_size", int)])
        file_type = struct("File", [("header", header), ("functions", list[function])])
        decode = msgspec.json.Decoder(file_type).decode

        def msgspec_job():
            doc = decode(json_bytes)
            counter = [0] * size
            n = 0
            for fn in doc.functions:
                for ins in fn.body.instructions:
                    counter[ins.opcode] += 1
                    for op in ins.operands:
                        n += op.kind == "reg"
            return doc, counter, n

        jobs.append(("msgspec (typed Struct)", msgspec_job))

    try:
        import simdjson
    except ImportError as failure:
        missing.append(("pysimdjson", str(failure)))
    else:
        def simdjson_job():
            parser = simdjson.Parser()
            doc = parser.parse(json_bytes)
            return parser, doc, *walk(doc)

        jobs.append(("pysimdjson (lazy proxies)", simdjson_job))

    try:
        from lxml import etree
    except ImportError as failure:
        missing.append(("lxml", str(failure)))
    else:
        xml_parser = etree.XMLParser(huge_tree=True)

        def lxml_job():
            root = etree.fromstring(xml_bytes, xml_parser)
            counter = [0] * size
            n = 0
            for fn in root.iterchildren("function"):
                for ins in fn.find("body").find("instructions"):
                    counter[int(ins.get("opcode"))] += 1
                    for op in ins:
                        n += op.get("kind") == "reg"
            return root, counter, n

        jobs.append(("lxml (element proxies)", lxml_job))
    return jobs, missing


def nearest_function(ptx, count: int):
    """The function whose instruction count is nearest to count (the first such), and its count."""
    sizes = [len(fn.body.instructions) for fn in ptx.functions]
    index = min(range(len(sizes)), key=lambda k: abs(sizes[k] - count))
    return index, sizes[index]


def reading_section(report: Report, args, zorvane, large: str, ptx, instructions: int) -> list[tuple]:
    """Reading the parsed tree; returns the targets, for the caller to add after its own."""
    runs, budget = args.runs, args.budget
    parse_ptx = zorvane.parse_ptx
    load = "%.2f %.2f %.2f" % os.getloadavg() if hasattr(os, "getloadavg") else "unknown"
    report.section(f"reading the tree of the large input ({instructions:,} instructions; load average {load})")
    if instructions == 0 or not ptx.functions:
        report.note("the large input has no instruction: nothing to read")
        return []

    # The first function's name on a tree read before and right after a parse, against the parse itself. How long
    # a parse takes depends on the state of the allocator (within one run it has varied by more than two times):
    # the parse is timed both beside the reads and while making the fresh trees, and the faster counts.
    (t_name, t_parse), n = best_of([lambda: first_name(ptx), lambda: parse_ptx(large)], runs, budget)
    fresh_runs = min(runs, 5)  # a tree each, kept for the reads
    fresh = []
    (t_parse_kept,), _ = best_of([lambda: fresh.append(parse_ptx(large))], fresh_runs, budget)

    def first_name_fresh():
        tree = fresh.pop()
        first_name(tree)
        return tree

    (t_name_fresh,), _ = best_of([first_name_fresh], len(fresh), budget)
    del fresh
    t_parse = min(t_parse, t_parse_kept)
    name_ratio = max(t_name, t_name_fresh) / t_parse
    report.figure("read_parse_ms", "parse_ptx, the best in this section", t_parse * 1e3, "ms", f"{n} runs")
    report.figure("read_first_name_fresh_ms", "functions[0].name, first read of a tree", t_name_fresh * 1e3, "ms")
    report.figure("read_first_name_ms", "functions[0].name, later reads", t_name * 1e3, "ms")
    report.ratio("read_first_name_over_parse", "functions[0].name / parse (time)", name_ratio,
                 "the slower of the two reads")

    # The yardstick: the same data as tuples, built once.
    started = time.perf_counter()
    data = as_tuples(ptx)
    size = 1 + max((ins[1] for fn in data[1] for ins in fn[5][1]), default=0)
    report.note(f"tuples of the same data built in {time.perf_counter() - started:.1f} s (not timed)")

    # Each loop and its yardstick are timed one after the other rather than in turns: right after a walk of the
    # tree, a loop over the tuples has taken up to twice as long as on its own, and how often varied from run to run.
    (t_hist,), n = best_of([lambda: opcode_histogram(ptx, size)], runs, budget)
    (t_hist_tuples,), _ = best_of([lambda: opcode_histogram_tuples(data, size)], runs, budget)
    hist_ratio = t_hist / t_hist_tuples
    report.figure("read_histogram_ns", "opcode histogram", t_hist / instructions * 1e9, "ns/instr", f"{n} runs")
    report.figure("read_histogram_tuples_ns", "the same over tuples", t_hist_tuples / instructions * 1e9, "ns/instr")
    report.ratio("read_histogram_over_tuples", "histogram / tuples (time)", hist_ratio)

    (t_reg,), n = best_of([lambda: register_count(ptx)], runs, budget)
    (t_reg_tuples,), _ = best_of([lambda: register_count_tuples(data)], runs, budget)
    reg_ratio = t_reg / t_reg_tuples
    report.figure("read_registers_ns", "register-operand count", t_reg / instructions * 1e9, "ns/instr", f"{n} runs")
    report.figure("read_registers_tuples_ns", "the same over tuples", t_reg_tuples / instructions * 1e9, "ns/instr")
    report.ratio("read_registers_over_tuples", "register count / tuples (time)", reg_ratio)

    (t_whole,), n = best_of([lambda: whole_job(parse_ptx, large, size)], runs, budget)
    (t_whole_tuples,), _ = best_of([lambda: whole_loop_tuples(data, size)], runs, budget)
    whole_ratio = t_whole / t_whole_tuples
    report.figure("read_whole_ns", "whole job: parse, histogram, registers", t_whole / instructions * 1e9,
                  "ns/instr", f"{n} runs")
    report.figure("read_whole_tuples_ns", "the loop alone over tuples", t_whole_tuples / instructions * 1e9,
                  "ns/instr")
    report.ratio("read_whole_over_tuples", "whole job / tuple loop (time)", whole_ratio)

    # The loops must see the same data in both forms, or the ratios compare different work.
    expected = whole_job(parse_ptx, large, size)[1:]  # the counts, without keeping the tree
    tree_counter, tree_registers = expected
    checks = {
        "histogram": opcode_histogram(ptx, size) == tree_counter,
        "tuple histogram": opcode_histogram_tuples(data, size) == tree_counter,
        "register count": register_count(ptx) == tree_registers,
        "tuple register count": register_count_tuples(data) == tree_registers,
        "tuple loop": whole_loop_tuples(data, size) == expected,
    }
    for name, same in checks.items():
        if not same:
            report.note(f"the {name} differs from the whole job's: the ratios above compare different data")
    report.figures["read_registers"] = {"value": tree_registers, "unit": "operands"}

    # Indexing the instruction list through the properties on every step, against reading the list once.
    index, count = nearest_function(ptx, 800)
    fn = ptx.functions[index]
    if count == 0:
        report.note("no function has an instruction: indexing not measured")
    else:
        (t_index,), n = best_of([lambda: index_in_loop(fn)], runs, budget)
        (t_once,), _ = best_of([lambda: index_list_once(fn)], runs, budget)
        report.figure("read_index_loop_ns", f"fn.body.instructions[k] ({count} instructions)", t_index / count * 1e9,
                      "ns/index", f"{n} runs")
        report.figure("read_index_once_ns", "the list read once, then [k]", t_once / count * 1e9, "ns/index")
        report.ratio("read_index_loop_over_once", "indexing in a loop / list once (time)", t_index / t_once)
        report.figures["read_index_function"] = {"value": count, "unit": "instructions", "name": fn.name}
    del fn

    # The same whole job with general-purpose parsers over the same data as JSON and XML, where they import.
    if args.skip_libraries:
        report.note("general-purpose parsers skipped (--skip-libraries)")
        return reading_targets(name_ratio, hist_ratio, reg_ratio, whole_ratio)
    report.section("the whole job with general-purpose parsers, over the same data as JSON and XML")
    started = time.perf_counter()
    json_str = json.dumps(json_document(data), separators=(",", ":"))
    json_bytes = json_str.encode("utf-8")
    xml_bytes = xml_text(data).encode("utf-8")
    del data
    report.note(f"JSON {len(json_bytes) / MB:,.1f} MB, XML {len(xml_bytes) / MB:,.1f} MB, made in "
                f"{time.perf_counter() - started:.1f} s (not timed)")
    jobs, missing = library_jobs(json_str, json_bytes, xml_bytes, size)
    for name, reason in missing:
        report.note(f"{name} not measured: {reason}")
    report.figures["read_libraries_missing"] = dict(missing)
    # Each job is timed on its own, after one untimed call. Freeing a large document leaves the allocator work that
    # the next job's first call pays for (after lxml's, zorvane's next parse took several times as long), so jobs
    # timed in turn would each be charged for the one before.
    ours = ("zorvane (parse_ptx)", lambda: whole_job(parse_ptx, large, size))
    times = {}
    for name, job in [ours, *jobs]:
        try:
            result = job()
        except Exception as failure:  # a library that cannot read this document is left out, not a reason to stop
            report.note(f"{name} not measured: {type(failure).__name__}: {failure}")
            continue
        same = (result[-2], result[-1]) == expected
        del result
        if not same:
            report.note(f"{name} not measured: its counts differ from the tree's")
            continue
        (times[name],), _ = best_of([job], runs, budget)
    t_ours = times.get(ours[0])
    if t_ours is None:
        report.note("zorvane's whole job did not run again: no comparison")
    else:
        report.figure("read_whole_alone_ns", f"{ours[0]}, timed alone", t_ours / instructions * 1e9, "ns/instr")
        for name, t_job in times.items():
            if name == ours[0]:
                continue
            key = re.sub(r"\W+", "_", name.split(" ")[0]).strip("_").lower()
            report.figure(f"read_whole_{key}_ns", name, t_job / instructions * 1e9, "ns/instr",
                          f"{t_job / t_ours:.2f}x zorvane's time")
    del json_str, json_bytes, xml_bytes
    return reading_targets(name_ratio, hist_ratio, reg_ratio, whole_ratio)


def reading_targets(name_ratio, hist_ratio, reg_ratio, whole_ratio) -> list[tuple]:
    return [
        ("functions[0].name <= 1% of parse_ptx", name_ratio, 0.01, False, None),
        ("opcode histogram <= 1.5x tuples", hist_ratio, 1.5, False, None),
        ("register count <= 2.5x tuples", reg_ratio, 2.5, False, None),
        ("whole job <= 2x tuple loop", whole_ratio, 2.0, False, 1.5),
    ]


# ---------------------------------------------------------------------------------------------------------------
# The suite


def walk_everything(ptx) -> int:
    """Every function, instruction and operand through the properties, and the text of every instruction."""
    count = 0
    for function in ptx.functions:
        for instruction in function.body.instructions:
            instruction.opcode
            instruction.modifiers
            for operand in instruction.operands:
                operand.kind()
            str(instruction)
            count += 1
    return count


def list_instructions(ptx) -> int:
    count = 0
    for function in ptx.functions:
        count += len(function.body.instructions)
    return count


def accepts_instruction(parse_instruction, text: str) -> bool:
    try:
        return parse_instruction(text) is not None
    except Exception:  # an internal failure (a number out of range): not a line to time
        return False


def run_suite(args, zorvane) -> Report:
    report = Report()
    runs, budget = args.runs, args.budget
    machine = machine_description()
    report.figures["machine"] = machine
    report.figures["clock"] = "processor" if clock is time.process_time else "wall"
    print(f"machine: {machine['cpu']}, {machine['cores']} cores, {machine['python']}, {machine['platform']}")
    print(f"load average at start: {machine['load_average']} (the machine may be shared: compare runs made alike)")
    busy = os.getloadavg()[0] if hasattr(os, "getloadavg") else 0.0
    if busy > 0.5 * (machine["cores"] or 1):
        print("warning: other processes are using the CPU; wall times and the ratios between them will be off")
    print(f"module: {zorvane.__file__}")
    print(f"timing by {'processor time' if clock is time.process_time else 'wall time'}, best of {runs} runs, "
          "garbage collector off while timing; MB = 10^6 bytes")

    # Inputs -----------------------------------------------------------------------------------------------------
    corpus = read_corpus(Path(args.corpus))
    accepted, internal = accepted_by_module(corpus, zorvane.parse_ptx)
    corpus_bytes = sum(len(text.encode("utf-8")) for _, text in accepted)
    print(f"corpus: {args.corpus}: {len(accepted)} of {len(corpus)} files parse ({corpus_bytes:,} bytes)")
    for line in internal:
        print(f"  internal failure (not a ValueError): {line}")
    if not accepted:
        raise SystemExit("no corpus file parses: nothing to measure")

    large = assemble_large(accepted, int(args.size_mb * 1024 * 1024))
    large_bytes = len(large.encode("utf-8"))
    try:
        ptx = zorvane.parse_ptx(large)
    except ValueError as failure:
        raise SystemExit(f"the large input does not parse: {failure}")
    instructions = list_instructions(ptx)
    print(f"large input: {large_bytes:,} bytes, {large.count(chr(10)):,} lines, "
          f"{len(ptx.functions):,} functions, {instructions:,} instructions (verified to parse)")
    report.figures["input"] = {"bytes": large_bytes, "instructions": instructions, "files": len(accepted)}
    if args.only == "reading":
        for target in reading_section(report, args, zorvane, large, ptx, instructions):
            report.target(*target)
        return report

    # Throughput -------------------------------------------------------------------------------------------------
    report.section("throughput on the large input (best of runs)")
    parse_ptx = zorvane.parse_ptx
    (t_parse, t_lines, t_findall), n = best_of(
        [lambda: parse_ptx(large), large.splitlines, lambda: PTX_TOKEN.findall(large)], runs, budget)
    report.figure("parse_mbps", "parse_ptx", mbps(large_bytes, t_parse), "MB/s", f"{t_parse * 1e3:.0f} ms, {n} runs")
    report.figure("splitlines_mbps", "str.splitlines()", mbps(large_bytes, t_lines), "MB/s", f"{t_lines * 1e3:.1f} ms")
    report.figure("findall_mbps", "re.findall (PTX tokens)", mbps(large_bytes, t_findall), "MB/s",
                  f"{t_findall * 1e3:.0f} ms")
    parse_vs_lines = t_lines / t_parse
    parse_vs_findall = t_findall / t_parse
    report.ratio("parse_over_splitlines", "parse_ptx / splitlines (speed)", parse_vs_lines)
    report.ratio("parse_over_findall", "parse_ptx / re.findall (speed)", parse_vs_findall)

    def parse_corpus():
        for _, text in accepted:
            parse_ptx(text)

    (t_corpus,), _ = best_of([parse_corpus], runs, budget)
    report.figure("corpus_mbps", f"parse_ptx per file ({len(accepted)} files)", mbps(corpus_bytes, t_corpus), "MB/s",
                  f"{t_corpus * 1e3:.1f} ms for all")

    # Error path -------------------------------------------------------------------------------------------------
    report.section("error path: the large input with one fault on its last line")
    faulty = large + "xyz\n"
    try:
        parse_ptx(faulty)
        raise SystemExit("the faulty input parsed")
    except ValueError as failure:
        report.note(f"message: {str(failure)[:100]}")

    def fail():
        try:
            parse_ptx(faulty)
        except ValueError as failure:
            return failure

    (t_fail, t_parse_again), n = best_of([fail, lambda: parse_ptx(large)], runs, budget)
    del faulty
    error_ratio = t_fail / min(t_parse, t_parse_again)
    report.figure("error_ms", "time until ValueError", t_fail * 1e3, "ms", f"{n} runs")
    report.ratio("error_over_parse", "error path / faultless parse (time)", error_ratio)

    # The native core --------------------------------------------------------------------------------------------
    report.section("native core (bench_core, parse_program without Python)")
    core_vs_lines = None
    with tempfile.TemporaryDirectory(prefix="zorvane-bench-") as scratch:
        input_path = os.path.join(scratch, "large.ptx")
        with open(input_path, "w", encoding="utf-8", newline="") as out:
            out.write(large)
        if args.skip_core:
            report.note("skipped (--skip-core)")
        else:
            bench_core, how = find_or_build_bench_core(args)
            if bench_core is None:
                report.note(f"not measured: {how}")
            else:
                report.note(f"{bench_core} ({how})")
                t_core, detail = run_bench_core(bench_core, input_path, runs)
                if t_core is None:
                    report.note(f"not measured: bench_core failed:\n{detail}")
                else:
                    # bench_core runs in a process of its own, so the yardstick is timed again right after it.
                    (t_lines_again,), _ = best_of([large.splitlines], runs, budget)
                    core_vs_lines = min(t_lines, t_lines_again) / t_core
                    report.figure("core_mbps", "parse_program", mbps(large_bytes, t_core), "MB/s",
                                  f"{t_core * 1e3:.0f} ms")
                    report.ratio("core_over_splitlines", "core / splitlines (speed)", core_vs_lines)
                    report.ratio("parse_over_core", "parse_ptx / core (time)", t_parse / t_core,
                                 "the cost of the Python objects")

        # Memory ---------------------------------------------------------------------------------------------------
        report.section("memory a parse takes beyond its text, in a fresh process")
        module_dir = str(Path(zorvane.__file__).resolve().parent)
        resident = parse_peak_resident(input_path, module_dir)
        address_space = parse_least_address_space(input_path, module_dir, large_bytes)
    memory_ratio = max(resident / large_bytes, address_space)
    report.figure("parse_resident_mib", "peak resident set", resident / 2**20, "MiB")
    report.ratio("parse_resident_over_input", "peak resident set / input size", resident / large_bytes)
    report.ratio("parse_address_space_over_input", "least address space / input size", address_space,
                 "searched in steps of 0.05x")
    report.ratio("memory_over_input", "peak memory / input size", memory_ratio, "the larger of the two")

    # Walking ------------------------------------------------------------------------------------------------------
    report.section("walking the tree of the large input")
    (t_walk, t_list), n = best_of([lambda: walk_everything(ptx), lambda: list_instructions(ptx)], min(runs, 3),
                                  budget)
    report.figure("walk_ns", "everything, with str() of each instruction", t_walk / instructions * 1e9, "ns/instr",
                  f"{t_walk:.2f} s, {n} runs")
    report.figure("list_ns", "of which functions -> body.instructions", t_list / instructions * 1e9, "ns/instr")

    offsets = [i.offset for f in ptx.functions for i in f.body.instructions]
    get_instruction = ptx.get_instruction
    by_offset = dict.fromkeys(offsets)

    def lookup_all():
        for offset in offsets:
            get_instruction(offset)

    def dict_all():
        get = by_offset.get
        for offset in offsets:
            get(offset)

    # The first call for an offset may make the instruction object, the later ones return it: a fresh tree shows
    # the first, and the best of several sweeps the later.
    fresh_get = parse_ptx(large).get_instruction

    def first_lookups():
        for offset in offsets:
            fresh_get(offset)

    (t_first,), _ = best_of([first_lookups], 1, budget)
    del fresh_get
    stored = [get_instruction(offset) for offset in offsets]
    (t_get, t_dict), _ = best_of([lookup_all, dict_all], runs, budget)
    if any(instruction is None for instruction in stored):
        report.note("get_instruction returned None for an instruction's offset")
    (t_str,), _ = best_of([lambda: [str(instruction) for instruction in stored]], min(runs, 3), budget)
    del stored
    report.figure("str_ns", "str() of an instruction", t_str / instructions * 1e9, "ns/instr")
    report.figure("get_instruction_first_ns", "get_instruction(offset), first call", t_first / len(offsets) * 1e9,
                  "ns/call")
    report.figure("get_instruction_ns", "get_instruction(offset), later calls", t_get / len(offsets) * 1e9,
                  "ns/call")
    report.figure("dict_get_ns", "dict.get(offset), the yardstick", t_dict / len(offsets) * 1e9, "ns/call")
    report.ratio("get_over_dict", "get_instruction / dict.get (time)", t_get / t_dict)
    del by_offset, offsets

    # Reading the tree -------------------------------------------------------------------------------------------
    reading = reading_section(report, args, zorvane, large, ptx, instructions)

    # Line at a time ---------------------------------------------------------------------------------------------
    report.section("line at a time: every instruction line of the large input")
    parse_instruction = zorvane.parse_instruction
    candidates = [s for s in (line.strip() for line in large.splitlines()) if s.endswith(";")]
    verdict = {text: accepts_instruction(parse_instruction, text) for text in set(candidates)}
    lines = [text for text in candidates if verdict[text]]
    del candidates, verdict

    def parse_lines():
        for text in lines:
            parse_instruction(text)

    def split_lines():
        for text in lines:
            text.split()

    (t_pi, t_split), _ = best_of([parse_lines, split_lines], runs, budget)
    line_ratio = t_pi / t_split
    report.figure("parse_instruction_ns", f"parse_instruction ({len(lines):,} lines)", t_pi / len(lines) * 1e9,
                  "ns/line")
    report.figure("split_ns", "line.split(), the yardstick", t_split / len(lines) * 1e9, "ns/line")
    report.ratio("parse_instruction_over_split", "parse_instruction / split (time)", line_ratio)

    # Targets ------------------------------------------------------------------------------------------------------
    report.target("parse_ptx speed >= 1.0x splitlines", parse_vs_lines, 1.0, True, aim=1.5)
    report.target("parse_ptx speed >= 10x re.findall", parse_vs_findall, 10.0, True)
    report.target("core speed >= 4x splitlines", core_vs_lines, 4.0, True)
    report.target("peak memory <= 2.5x input", memory_ratio, 2.5, False)
    report.target("error path <= 3x faultless parse", error_ratio, 3.0, False)
    report.target("parse_instruction <= 1.5x line.split()", line_ratio, 1.5, False)
    for target in reading:
        report.target(*target)
    return report


def print_targets(report: Report) -> None:
    print("\ntargets (ratios on the large input)")
    for t in report.targets:
        if t["met"] is None:
            verdict, measured = "not measured", "-"
        else:
            verdict = "met" if t["met"] else "NOT met"
            measured = f"{ratio_text(t['measured'])}x"
        aim = ""
        if t["aim"] is not None and t["measured"] is not None:
            aim_met = t["measured"] >= t["aim"] if t["higher_is_better"] else t["measured"] <= t["aim"]
            aim = f" (aim {t['aim']}x: {'met' if aim_met else 'not met'})"
        print(f"  {t['target']:<44} {measured:>10}  {verdict}{aim}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", default=str(DEFAULT_CORPUS), help="folder of .ptx files (default: %(default)s)")
    parser.add_argument("--size-mb", type=float, default=20.0, help="size of the large input in MiB (default: 20)")
    parser.add_argument("--runs", type=int, default=5, help="calls per measurement, the best counts (default: 5)")
    parser.add_argument("--budget", type=float, default=8.0,
                        help="seconds after which a measurement stops repeating (default: 8)")
    parser.add_argument("--bench-core", help="a built bench_core to use instead of building one")
    parser.add_argument("--build-dir", default=str(REPO / "build-bench"),
                        help="where bench_core is built (default: %(default)s)")
    parser.add_argument("--skip-core", action="store_true", help="do not build or run bench_core")
    parser.add_argument("--cpu-time", action="store_true",
                        help="time by processor time instead of wall time, for a machine that others share")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--only", choices=["reading"],
                        help="after building the inputs, run only this section: reading the tree (a few minutes)")
    parser.add_argument("--skip-libraries", action="store_true",
                        help="do not time the general-purpose JSON and XML parsers in the reading section")
    parser.add_argument("--quick", action="store_true", help="smoke run: 2 MiB input, 1 run each")
    parser.add_argument("--write-input", metavar="PATH", help="only write the large input to PATH and exit")
    args = parser.parse_args()
    if args.quick:
        args.size_mb, args.runs = min(args.size_mb, 2.0), 1
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    if args.cpu_time:
        global clock
        clock = time.process_time

    try:
        import zorvane
    except ImportError as failure:
        zorvane = None
        import_failure = failure

    if args.write_input:
        corpus = read_corpus(Path(args.corpus))
        if zorvane is not None:
            accepted, _ = accepted_by_module(corpus, zorvane.parse_ptx)
        else:
            bench_core, how = find_or_build_bench_core(args)
            if bench_core is None:
                raise SystemExit(f"neither the module nor bench_core is available: {how}")
            accepted, _ = accepted_by_core(corpus, bench_core)
        if not accepted:
            raise SystemExit("no corpus file parses")
        large = assemble_large(accepted, int(args.size_mb * 1024 * 1024))
        with open(args.write_input, "w", encoding="utf-8", newline="") as out:
            out.write(large)
        print(f"{args.write_input}: {len(large.encode('utf-8')):,} bytes from {len(accepted)} files")
        return 0

    if zorvane is None:
        raise SystemExit(f"cannot import zorvane ({import_failure}): install it, or set PYTHONPATH to its build "
                         "directory")
    started = time.perf_counter()
    report = run_suite(args, zorvane)
    print_targets(report)
    load = "%.2f %.2f %.2f" % os.getloadavg() if hasattr(os, "getloadavg") else "unknown"
    print(f"\nsuite took {time.perf_counter() - started:.0f} s; load average at the end: {load}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump({"figures": report.figures, "targets": report.targets}, out, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
