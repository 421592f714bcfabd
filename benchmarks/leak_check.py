"""Parses, walks and renders the real corpus over and over and checks that the process's memory stays flat.

Every iteration parses each corpus file with parse_ptx (walking every property and rendering every object of the
files that parse, and again of a few records kept after their tree is gone; taking the error path for the others), runs parse_instruction and parse_function_body_line over
a sample of their lines, and takes the out-of-range, encoding and argument error paths. After a few warm-up
iterations the resident set size and the interpreter's count of allocated blocks must stop growing.

    python benchmarks/leak_check.py [--iterations N] [--warmup N] [--threshold-kb KB] [--corpus DIR]
"""

import argparse
import array
import gc
import os
import pathlib
import sys
import time
import types

import zorvane

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus" / "real"
PAGE = os.sysconf("SC_PAGE_SIZE")

NOARG_METHODS = {
    "kind", "is_float", "as_instruction", "get_float_imm", "get_register", "get_label", "get_immediate",
    "get_memory_lbl", "get_memory_disp", "get_predicate", "get_reg_pred_pair",
}
DESCRIPTORS = (types.GetSetDescriptorType, types.MemberDescriptorType, property)

# Inputs that end in an exception rather than a tree or None.
ERROR_PATHS = [
    (zorvane.parse_instruction, "mov.u32 %r1, 18446744073709551616;", OverflowError),
    (zorvane.parse_function_body_line, ".reg .b32 %r<340282366920938463463374607431768211456>;", OverflowError),
    (zorvane.parse_ptx, ".version 8.5 .target sm_90 .address_size 99999999999999999999", OverflowError),
    (zorvane.parse_ptx, "mov\ud800", UnicodeEncodeError),
    (zorvane.parse_instruction, "\udfff", UnicodeEncodeError),
    (zorvane.parse_ptx, b".version", TypeError),
    (zorvane.parse_ptx, "}", ValueError),
]


_MEMBERS = {}


def members(cls):
    """The properties and argument-free methods of a class (with its bases), looked up once per class."""
    found = _MEMBERS.get(cls)
    if found is None:
        properties, methods = [], []
        for klass in cls.__mro__[:-1]:
            for name, attr in vars(klass).items():
                if name.startswith("__"):
                    continue
                if isinstance(attr, DESCRIPTORS):
                    properties.append(name)
                elif name in NOARG_METHODS:
                    methods.append(name)
        found = _MEMBERS[cls] = (properties, methods, hasattr(cls, "__int__"), hasattr(cls, "__match_args__"))
    return found


def walk(obj):
    """Reads every property, calls every argument-free method and renders every object reachable from obj."""
    if obj is None or isinstance(obj, (bool, int, str)):
        return 1
    if isinstance(obj, (list, tuple)):
        return sum(walk(item) for item in obj)
    if isinstance(obj, dict):
        return sum(walk(k) + walk(v) for k, v in obj.items())
    properties, methods, has_int, is_variant = members(type(obj))
    count = 1
    str(obj)
    repr(obj)
    if has_int:
        int(obj)
    for name in properties:
        count += walk(getattr(obj, name))
    for name in methods:
        count += walk(getattr(obj, name)())
    if is_variant:
        for i in range(len(obj)):
            count += walk(obj[i])
    return count


def walk_file(tree):
    count = walk(tree)
    for function in tree.functions:
        for instr in function.body.instructions:
            count += walk(tree.get_instruction(instr.offset))
        tree.get_instruction(function.offset)
    return count


def rss_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE // 1024


def load(corpus, max_lines):
    files = [p.read_text(encoding="utf-8", errors="replace") for p in sorted(corpus.glob("*.ptx"))]
    lines, seen = [], set()
    for text in files:
        for line in text.splitlines():
            if line.strip() and line not in seen:
                seen.add(line)
                lines.append(line)
    # Every n-th distinct line, so the sample spans all files.
    step = max(1, len(lines) // max_lines)
    return files, lines[::step][:max_lines]


def survivors(tree):
    """Records of a tree to keep after it is gone: they share its storage, which must go with the last of them."""
    if not tree.functions:
        return [tree.header]
    function = tree.functions[-1]
    kept = [function, function.body, function.signature, *function.body.instructions[:3]]
    instructions = function.body.instructions
    if instructions:
        kept.append(tree.get_instruction(instructions[-1].offset))
    return kept


def iteration(files, lines):
    objects = parsed = failed = 0
    kept = []
    for text in files:
        try:
            tree = zorvane.parse_ptx(text)
        except ValueError as e:
            str(e)
            failed += 1
            continue
        parsed += 1
        objects += walk_file(tree)
        kept += survivors(tree)
        del tree
    objects += walk(kept)
    del kept
    for line in lines:
        for function in (zorvane.parse_instruction, zorvane.parse_function_body_line):
            try:
                objects += walk(function(line))
            except OverflowError:
                pass
    # Repeated, so that one object lost per call stands out from the interpreter's own noise.
    for _ in range(50):
        for function, argument, error in ERROR_PATHS:
            try:
                function(argument)
            except error:
                pass
            else:
                raise SystemExit(f"leak_check: {function.__name__}({argument!r}) raised no {error.__name__}")
    return objects, parsed, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=10)
    parser.add_argument("--warmup", type=int, default=3)
    parser.add_argument("--threshold-kb", type=int, default=2048, help="allowed RSS growth after warm-up")
    parser.add_argument("--threshold-blocks", type=int, default=200, help="allowed growth of allocated blocks")
    parser.add_argument("--lines", type=int, default=10000, help="distinct corpus lines parsed per iteration")
    parser.add_argument("--corpus", type=pathlib.Path, default=DEFAULT_CORPUS)
    args = parser.parse_args()
    if not args.corpus.is_dir():
        raise SystemExit(f"leak_check: no corpus at {args.corpus}")

    files, lines = load(args.corpus, args.lines)
    print(f"leak_check: {len(files)} files, {len(lines)} lines, {args.iterations} iterations")
    # Arrays of fixed size hold the figures without allocating, which would count as growth.
    rss = array.array("q", [0] * args.iterations)
    blocks = array.array("q", [0] * args.iterations)
    for i in range(args.iterations):
        start = time.perf_counter()
        objects, parsed, failed = iteration(files, lines)
        gc.collect()
        rss[i] = rss_kb()
        blocks[i] = sys.getallocatedblocks()
        print(
            f"iteration {i:3d}: {time.perf_counter() - start:6.2f} s, {objects} objects walked, "
            f"{parsed} parsed, {failed} failed, RSS {rss[i]} KiB, {blocks[i]} blocks",
            flush=True,
        )
    base = min(args.warmup, args.iterations - 1)
    rss_growth = rss[-1] - rss[base]
    block_growth = blocks[-1] - blocks[base]
    per_iteration = rss_growth / max(1, args.iterations - 1 - base)
    print(
        f"growth after warm-up ({args.iterations - 1 - base} iterations): RSS {rss_growth:+d} KiB "
        f"({per_iteration:+.1f} KiB per iteration), allocated blocks {block_growth:+d}"
    )
    if rss_growth > args.threshold_kb or block_growth > args.threshold_blocks:
        print("leak_check: FAILED: memory grows")
        return 1
    print("leak_check: OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
