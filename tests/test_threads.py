"""Parses from several Python threads at once give exactly the results of serial calls."""

import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_90\n.address_size 64\n"
REAL_FILES = 6


def module(n, name):
    lines = [f"\tadd.s32 %r{i + 1}, %r{i}, {i};" for i in range(n)]
    return HEADER + f".visible .entry {name}()\n{{\n\t.reg .b32 %r<{n + 1}>;\n" + "\n".join(lines) + "\n\tret;\n}\n"


TEXTS = [
    module(50, "a"),
    module(400, "b"),
    HEADER + ".entry broken()\n{\n\tmov.u32 %r1, ;\n}\n",
    HEADER + "xyz",
    "}",
    "mov.u32 %r1, %r2;",
    "@%p1 bra $L__BB0_2;",
    "ld.global.u32 %r1, [%rd2+8];",
    "mov.u32 %r1, 18446744073709551616;",
    "$L__BB0_2:",
    ".reg .b32 %r<5>;",
    "(.param .b64 p0)",
    "not an instruction",
    "é" * 100 + "\n" + "x",
    # Long enough that the parse lets other threads run meanwhile: a module, one that fails at its end, and one
    # that ends in a number out of range.
    module(4000, "long"),
    module(4000, "long_broken") + "}",
    module(4000, "long_overflow")[:-3] + "mov.u32 %r1, 18446744073709551616;\n}\n",
]


def summary(text):
    """Everything a caller can observe from the three entry functions, as plain values."""
    result = []
    try:
        tree = zorvane.parse_ptx(text)
        result.append(
            (
                "ptx",
                [(f.name, f.offset, [(i.offset, str(i), i.is_predicated) for i in f.body.instructions])
                 for f in tree.functions],
                tree.labels_ref,
                sorted(tree.custom_registers.items()),
            )
        )
    except (ValueError, OverflowError) as e:
        result.append((type(e).__name__, str(e)))
    for function in (zorvane.parse_instruction, zorvane.parse_function_body_line):
        try:
            value = function(text)
        except OverflowError as e:
            result.append(("OverflowError", str(e)))
            continue
        if value is None:
            result.append(None)
        elif hasattr(value, "kind"):
            inner = value.as_instruction()
            result.append((value.kind(), str(inner) if inner is not None else None))
        else:
            result.append((value.offset, str(value)))
    return result


@pytest.fixture
def busy_switching():
    # Switch threads as often as possible, so that calls interleave wherever the interpreter allows it.
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def concurrent_matches_serial(texts):
    expected = [summary(t) for t in texts]
    work = texts * 6
    with ThreadPoolExecutor(max_workers=8) as pool:
        got = list(pool.map(summary, work))
    assert got == expected * 6


def test_concurrent_parses_match_serial_results(busy_switching):
    concurrent_matches_serial(TEXTS)


def test_concurrent_parses_of_real_files_match_serial_results(busy_switching, corpus_subset_files):
    texts = [path.read_text(encoding="utf-8") for path in corpus_subset_files[:REAL_FILES]]
    # Real files that parse, so that the threads compare whole trees and not only errors.
    assert all(summary(t)[0][0] == "ptx" for t in texts)
    concurrent_matches_serial(texts)


def test_threads_started_together_agree(busy_switching):
    texts = TEXTS
    expected = [summary(t) for t in texts]
    barrier = threading.Barrier(len(texts))
    results = [None] * len(texts)
    errors = []

    def run(i):
        try:
            barrier.wait()
            results[i] = [summary(texts[i]) for _ in range(5)]
        except BaseException as e:  # noqa: BLE001 - reported below, in the main thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert results == [[e] * 5 for e in expected]


def test_one_tree_read_from_many_threads(busy_switching):
    tree = zorvane.parse_ptx(module(300, "shared"))
    offsets = [i.offset for i in tree.functions[0].body.instructions]
    expected = [str(tree.get_instruction(o)) for o in offsets]

    def read(_):
        objects = [tree.get_instruction(o) for o in offsets]
        return [str(o) for o in objects], [str(i) for i in tree.functions[0].body.instructions]

    with ThreadPoolExecutor(max_workers=8) as pool:
        for by_offset, by_list in pool.map(read, range(16)):
            assert by_offset == expected and by_list == expected


def test_other_threads_run_during_a_long_parse():
    # The parsing thread notes when the call starts and ends; this thread keeps noting the time meanwhile. Only if
    # the call lets other threads run can a note of this thread fall strictly between the two.
    text = module(100_000, "long")
    span = []
    done = threading.Event()

    def parse():
        try:
            span.append(time.perf_counter())
            zorvane.parse_ptx(text)
            span.append(time.perf_counter())
        finally:
            done.set()

    notes = []
    worker = threading.Thread(target=parse)
    worker.start()
    while not done.wait(0.0001):
        notes.append(time.perf_counter())
    worker.join()
    start, end = span
    assert any(start < t < end for t in notes)
