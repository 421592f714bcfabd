# The objects of a parsed tree share its storage: every read is still a new object and every list the caller's own,
# objects outlive the file and every other object of the parse, and only records keep the storage alive.
import gc
import os
import subprocess
import sys
import textwrap
import threading
import types
from pathlib import Path

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_90a\n.address_size 64\n"
MODULE = HEADER + """
.visible .entry kern(.param .u64 out, .param .u32 n)
{
    .reg .pred %p<2>;
    .reg .b32 %r<4>;
    .reg .u32 %count;
    .shared .align 4 .b8 tile[128];
    ld.param.u64 %rd1, [out];
    mov.u32 %r1, %tid.x;
    @%p1 bra $L__BB0_2;
    st.shared.v2.u32 [tile], {%r1, %r2};
$L__BB0_2:
    add.s32 %r2, %r1, -1;
    ret;
}
.func helper();
"""


def tree_and_reads():
    """A parsed module and, read from it, one of each kind of object a walk meets."""
    ptx = zorvane.parse_ptx(MODULE)
    function = ptx.functions[0]
    body = function.body
    instructions = body.instructions
    return ptx, {
        "function": function,
        "signature": function.signature,
        "parameter": function.signature.parameters[1],
        "body": body,
        "statement": body.statements[3],
        "instruction": instructions[1],
        "looked-up": ptx.get_instruction(instructions[4].offset),
        "operand": instructions[3].operands[1],
        "register": instructions[1].operands[1]._0,
        "header": ptx.header,
        "opcode": instructions[0].opcode,
    }


def describe(obj):
    """Everything an object shows, as plain values, reading through every property."""
    if obj is None or isinstance(obj, (bool, int, str)):
        return obj
    if isinstance(obj, (list, tuple)):
        return [describe(item) for item in obj]
    if isinstance(obj, dict):
        return sorted(obj.items())
    cls = type(obj)
    shown = [cls.__name__]
    if cls.__str__ is not object.__str__ or hasattr(cls, "__int__"):
        shown.append(str(obj))  # the others show only their address
    if hasattr(cls, "__match_args__"):
        shown += [describe(obj[i]) for i in range(len(obj))]
    if hasattr(cls, "__int__"):
        shown.append(int(obj))
    for klass in cls.__mro__[:-1]:
        for name, attr in vars(klass).items():
            if isinstance(attr, types.GetSetDescriptorType) and not name.startswith("_"):
                shown.append((name, describe(getattr(obj, name))))
    return shown


def test_objects_read_from_a_tree_outlive_it():
    ptx, reads = tree_and_reads()
    before = {name: describe(obj) for name, obj in reads.items()}
    del ptx
    gc.collect()
    assert {name: describe(obj) for name, obj in reads.items()} == before
    # Each alone keeps what it needs.
    for name in list(reads):
        obj = reads.pop(name)
        gc.collect()
        assert describe(obj) == before[name], name


def test_get_instruction_keeps_its_object_after_the_lists_are_gone():
    ptx = zorvane.parse_ptx(MODULE)
    offsets = [i.offset for i in ptx.functions[0].body.instructions]
    first = [ptx.get_instruction(o) for o in offsets]
    gc.collect()
    assert all(ptx.get_instruction(o) is obj for o, obj in zip(offsets, first))
    assert all(ptx.get_instruction(o) is not i for o, i in zip(offsets, ptx.functions[0].body.instructions))
    del first
    gc.collect()
    again = [ptx.get_instruction(o) for o in offsets]
    assert [str(i) for i in again] == [str(i) for i in ptx.functions[0].body.instructions]


READS = [
    ("functions", lambda t: t.functions),
    ("function.name", lambda t: t.functions[0].name),
    ("function.signature", lambda t: t.functions[0].signature),
    ("function.body", lambda t: t.functions[0].body),
    ("function.kind", lambda t: t.functions[0].kind),
    ("parameters", lambda t: t.functions[0].signature.parameters),
    ("statements", lambda t: t.functions[0].body.statements),
    ("instructions", lambda t: t.functions[0].body.instructions),
    ("operands", lambda t: t.functions[0].body.instructions[3].operands),
    ("modifiers", lambda t: t.functions[0].body.instructions[3].modifiers),
    ("opcode", lambda t: t.functions[0].body.instructions[3].opcode),
    ("header", lambda t: t.header),
    ("labels_ref", lambda t: t.labels_ref),
    ("custom_registers", lambda t: t.custom_registers),
    ("vector registers", lambda t: t.functions[0].body.instructions[3].operands[1]._0),
]


@pytest.mark.parametrize("read", [pytest.param(r, id=i) for i, r in READS])
def test_every_read_makes_new_objects(read):
    ptx = zorvane.parse_ptx(MODULE)
    first, second = read(ptx), read(ptx)
    assert first is not second
    assert describe(first) == describe(second)


LISTS = [
    ("functions", lambda t: t.functions),
    ("parameters", lambda t: t.functions[0].signature.parameters),
    ("statements", lambda t: t.functions[0].body.statements),
    ("instructions", lambda t: t.functions[0].body.instructions),
    ("operands", lambda t: t.functions[0].body.instructions[3].operands),
    ("vector registers", lambda t: t.functions[0].body.instructions[3].operands[1]._0),
    ("labels_ref", lambda t: t.labels_ref),
]


@pytest.mark.parametrize("read", [pytest.param(r, id=i) for i, r in LISTS])
def test_a_returned_list_is_the_callers_own(read):
    ptx = zorvane.parse_ptx(MODULE)
    before = describe(read(ptx))
    mine = read(ptx)
    mine.reverse()
    mine.append(None)
    del mine[0]
    assert describe(read(ptx)) == before
    mine.clear()
    assert describe(read(ptx)) == before


def test_objects_made_in_the_memory_of_dropped_ones_are_each_their_own():
    # A walk drops nearly every object it makes and the next ones take that memory: objects alive at once must be
    # distinct and hold their own values, whether an object keeps its record in itself or in a block of its own.
    name = "L" + "x" * 40
    instr = zorvane.parse_instruction(f"mov.b32 {name}, %r1, 7, {{%r1, %rd2}}, [{name}];")
    expected = describe([instr.opcode, instr.operands, instr.operands[3]._0])
    kept = []
    for round in range(3000):
        read = [instr.opcode, instr.operands, instr.operands[3]._0]
        if round % 3 == 0:
            kept.append(read)
    objects = [obj for read in kept for obj in [read[0], *read[1], *read[2]]]
    assert len({id(obj) for obj in objects}) == len(objects)
    assert all(describe(read) == expected for read in kept)


def test_an_instruction_of_its_own_behaves_as_one_read_from_a_tree():
    line = "@%p1 st.shared.v2.u32 [tile], {%r1, %r2};"
    ptx = zorvane.parse_ptx(HEADER + ".entry k()\n{\n" + line + "\n}\n")
    shared = ptx.functions[0].body.instructions[0]
    alone = zorvane.parse_instruction(line)
    from_line = zorvane.parse_function_body_line(line)._0
    built = type(zorvane.parse_function_body_line(line)).__base__.Instruction(shared)._0
    shift = shared.offset - alone.offset
    for other in (alone, from_line, built):
        assert type(other) is type(shared)
        assert str(other) == str(shared) and other.is_float() == shared.is_float()
        assert describe(other.operands) == describe(shared.operands)
        assert (other.opcode is not shared.opcode) and int(other.opcode) == int(shared.opcode)
        assert other.is_predicated == shared.is_predicated == 1
    assert shift > 0 and built.offset == shared.offset and from_line.offset == alone.offset


def test_threads_reading_one_tree_at_once_see_the_same_values():
    ptx = zorvane.parse_ptx(MODULE)
    expected = describe(ptx)
    results, errors = [], []
    start = threading.Barrier(8)

    def read():
        try:
            start.wait()
            for _ in range(20):
                results.append(describe(ptx) == expected)
                ptx.get_instruction(ptx.functions[0].body.instructions[2].offset)
        except BaseException as exc:  # noqa: BLE001 - reported in the main thread
            errors.append(exc)

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=read) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    assert not errors and len(results) == 160 and all(results)


# What a large module's storage costs stays with its records: an operand, a register, a statement or the header
# read from it owns its value, and holding one keeps none of the storage; an instruction or a function keeps it all.
KEEPS = r"""
import ctypes, gc, sys
sys.path.insert(0, sys.argv[1])
import zorvane

def resident():
    ctypes.CDLL(None).malloc_trim(0)
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096

line = "\tadd.s32 %r1, %r2, 7;\n"
text = ".version 8.5\n.target sm_90\n.address_size 64\n.entry k()\n{\n" + line * 1_000_000 + "}\n"
gc.collect()
base = resident()
ptx = zorvane.parse_ptx(text)
function = ptx.functions[0]
instruction = ptx.get_instruction(function.body.instructions[-1].offset)
held = {"operand": instruction.operands[2], "register": instruction.operands[1]._0, "header": ptx.header,
        "opcode": instruction.opcode, "instruction": instruction, "function": function}
del instruction, function, ptx
keep = sys.argv[2]
for name in list(held):
    if name != keep:
        del held[name]
gc.collect()
print(resident() - base)
"""


# The sanitizer's allocator keeps freed memory in quarantine, so resident sizes say nothing under it.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="memory figures need the plain allocator")
@pytest.mark.parametrize("kept, keeps_storage", [
    ("operand", False), ("register", False), ("header", False), ("opcode", False),
    ("instruction", True), ("function", True),
])
def test_only_records_keep_the_storage_of_their_parse(kept, keeps_storage):
    module_dir = str(Path(zorvane.__file__).resolve().parent)
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(KEEPS), module_dir, kept], capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    left = int(done.stdout)
    # The tree of a million instructions takes about 17 MiB; the interpreter's own allocations leave a few MiB.
    if keeps_storage:
        assert left > 12 * 2**20
    else:
        assert left < 5 * 2**20
