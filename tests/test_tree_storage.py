"""The byte-encoded tree of a parse, read back: every field at the edges of its encoding (numbers at the byte
boundaries of a varint and near 2^64, texts around the lengths that change how they are stored, operand and register
counts around the ones the header holds), records that straddle or exceed an arena chunk, and
what reading a tree costs in memory. Each instruction is read through every path that decodes it: the function's list,
get_instruction, the same line parsed alone and as a body line, a BodyItem's copy, and the list read again once the
file object is gone.
"""

import gc
import json
import os
import random
import subprocess
import sys
import textwrap

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_90\n.address_size 64\n"
MiB = 2**20
MODULE_DIR = os.path.dirname(os.path.abspath(zorvane.__file__))
UNDER_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")
BodyItem = type(zorvane.parse_function_body_line("ret;")).__base__


def shown(obj):
    """Everything an operand, register or statement shows, as plain values."""
    if isinstance(obj, list):
        return [shown(item) for item in obj]
    if obj is None or isinstance(obj, (int, str)):
        return obj
    fields = [shown(obj[i]) for i in range(len(obj))] if hasattr(type(obj), "__match_args__") else []
    text = [str(obj)] if type(obj).__str__ is not object.__str__ else []  # the others show only their address
    return [type(obj).__name__, *text, *fields] + ([int(obj)] if hasattr(type(obj), "__int__") else [])


def fields(instr):
    """An instruction's fields, except its offset."""
    return (int(instr.opcode), instr.modifiers, instr.is_predicated, instr.is_float(), str(instr),
            [shown(op) for op in instr.operands])


def module_of(lines):
    prefix = HEADER + ".entry k(.param .u64 p)\n{\n"
    return prefix, prefix + "".join(line + "\n" for line in lines) + "}\n"


def assert_every_path_reads(line, expected_operands=None):
    """`line` read from a module, looked up, parsed alone, as a body line and copied into a BodyItem shows the same
    fields; and the module's instruction keeps them once the file object is gone."""
    prefix, text = module_of([line])
    ptx = zorvane.parse_ptx(text)
    (in_tree,) = ptx.functions[0].body.instructions
    expected = fields(in_tree)
    mnemonic = len(prefix) + len(line) - len(line.lstrip("@%p0123456789 "))
    assert in_tree.offset == mnemonic
    looked_up = ptx.get_instruction(in_tree.offset)
    alone = zorvane.parse_instruction(line)
    body_line = zorvane.parse_function_body_line(line)._0
    copied = BodyItem.Instruction(in_tree)._0
    assert looked_up is ptx.get_instruction(in_tree.offset)
    for name, other in [("get_instruction", looked_up), ("parse_instruction", alone),
                        ("parse_function_body_line", body_line), ("BodyItem copy", copied)]:
        assert fields(other) == expected, name
    assert looked_up.offset == copied.offset == in_tree.offset 
    assert alone.offset == body_line.offset == mnemonic - len(prefix)
    del ptx, looked_up
    gc.collect()
    assert fields(in_tree) == expected
    if expected_operands is not None:
        assert [shown(op) for op in in_tree.operands] == [shown(op) for op in expected_operands]
    return in_tree


# ---------------------------------------------------------------------------------------------------------------
# Numbers: each is written as a varint, a negative one as its negation, so the interesting values are those at
# the byte boundaries of a varint, around 2^63 (where a value counts as negative) and up to 2^64 - 1.

U64_EDGES = [0, 1, 127, 128, 2**14 - 1, 2**14, 2**21, 2**28, 2**35, 2**56 - 1, 2**56, 2**63 - 1, 2**63, 2**63 + 1,
             2**64 - 2, 2**64 - 1]
NEGATIVE_EDGES = [1, 127, 128, 129, 2**14, 2**62, 2**63 - 1, 2**63]


@pytest.mark.parametrize("value", [pytest.param(v, id=f"imm-{v}") for v in U64_EDGES]
                         + [pytest.param(-v, id=f"imm-minus-{v}") for v in NEGATIVE_EDGES])
def test_immediates_and_displacements_read_back(value):
    written = str(value)
    instr = assert_every_path_reads(f"ld.u32 %r1, [%rd2+{written}], {written};")
    _, memory, immediate = instr.operands
    assert memory.get_memory_disp()[1] == value % 2**64
    assert immediate.get_immediate() == value % 2**64


@pytest.mark.parametrize("value", [pytest.param(v, id=str(v)) for v in U64_EDGES])
@pytest.mark.parametrize("where", ["guard", "general", "wide", "float", "predicate", "pair", "float-bits"])
def test_unsigned_fields_read_back(where, value):
    line = {
        "guard": f"@%p{value} ret;",
        "general": f"mov.u32 %r{value}, 1;",
        "wide": f"ld.u32 %r1, [%rd{value}+-1];",
        "float": f"st.v4.f32 [%rd1], {{%f{value}, %tid.x, %f{value}}};",
        "predicate": f"selp.u32 %r1, %r2, %r3, %p{value};",
        "pair": f"setp.eq.u32 %r1|%p{value}, %r2, 1;",
        "float-bits": f"mov.b64 %rd1, 0f{value:016X};",
    }[where]
    instr = assert_every_path_reads(line)
    if where == "guard":
        assert instr.is_predicated == value


@pytest.mark.parametrize("count", [pytest.param(v, id=str(v)) for v in
                                   [0, 127, 128, 2**63, 2**64 - 1, 2**64, 2**100, 2**128 - 1]])
@pytest.mark.parametrize("declaration", [".reg .b32 %r<{}>;", ".reg .pred %p<{}>;", ".shared .align 4 .b8 smem[{}];",
                                         ".local .b8 scratch[{}];"])
def test_statement_counts_read_back(declaration, count):
    line = declaration.format(count)
    ptx = zorvane.parse_ptx(module_of([line, "ret;"])[1])
    (statement,) = ptx.functions[0].body.statements
    assert statement._2 == count
    assert shown(statement) == shown(zorvane.parse_function_body_line(line)._0)


# ---------------------------------------------------------------------------------------------------------------
# Texts: a label shorter than 15 bytes keeps its length in its tag, a longer one a varint of one, two or three bytes.
# An operand or register object keeps a record of up to 28 bytes in itself (a text of up to 26), a longer one apart.

TEXT_LENGTHS = [1, 13, 14, 15, 16, 26, 27, 126, 127, 128, 129, 16383, 16384, 16385, 70000]


def name_of(length):
    return ("L" + "x" * length)[:length] if length > 1 else "y"


@pytest.mark.parametrize("length", [pytest.param(n, id=f"{n}-bytes") for n in TEXT_LENGTHS])
@pytest.mark.parametrize("shape", ["label", "dollar-label", "memory-label", "custom-register", "modifiers"])
def test_texts_read_back(shape, length):
    name = name_of(length)
    if shape == "label":
        instr = assert_every_path_reads(f"bra {name}, {name};")
        assert [op.get_label() for op in instr.operands] == [name, name]
    elif shape == "dollar-label":
        instr = assert_every_path_reads(f"@%p1 bra ${name};")
        assert instr.operands[0].get_label() == name
    elif shape == "memory-label":
        instr = assert_every_path_reads(f"ld.param.u64 %rd1, [{name}];")
        assert instr.operands[1].get_memory_lbl() == name
    elif shape == "custom-register":
        letters = "Q" * length
        instr = assert_every_path_reads(f"mov.u32 %{letters}, %{letters};")
        assert [op._0._0 for op in instr.operands] == [letters, letters]
    else:
        modifiers = ("u" + "8" * length)[:length] if length > 1 else "x"
        instr = assert_every_path_reads(f"cvt.{modifiers}.{modifiers} %r1, %r2;")
        assert instr.modifiers == f"{modifiers}.{modifiers}"


@pytest.mark.parametrize("length", [pytest.param(n, id=f"{n}-bytes") for n in TEXT_LENGTHS])
def test_names_of_functions_parameters_and_declarations_read_back(length):
    name = name_of(length)
    text = (HEADER + f".visible .entry {name}(.param .u64 {name}, .param .b8 x)\n{{\n.reg .b32 %{name};\n"
            f".shared .b8 {name}[4];\nret;\n}}\n.weak .func {name}_2(.param .u32 {name});\n")
    first, second = zorvane.parse_ptx(text).functions
    assert (first.name, second.name) == (name, name + "_2")
    assert [p.name for p in first.signature.parameters] == [name, "x"]
    assert [p.name for p in second.signature.parameters] == [name]
    custom, shared = first.body.statements
    assert custom._2 == name and shared._3.get_label() == name
    assert first.offset == text.index(".visible") and second.offset == text.index(".weak")


@pytest.mark.parametrize("length", [pytest.param(n, id=f"{n}-digits") for n in [1, 126, 127, 128, 20000]])
def test_header_reads_back(length):
    version = "1." + "0" * length
    header = zorvane.parse_ptx(f".version {version}\n.target sm_120a\n.address_size 18446744073709551615\n").header
    assert (header.version, str(header.target), header.address_size) == (
        version, "PTXTarget.SM120A", 2**64 - 1)


# ---------------------------------------------------------------------------------------------------------------
# Counts: an instruction's header holds up to 62 operands in its flags, more in a varint, and a vector's count takes
# a byte up to 127 registers, more after it.

REGISTERS = ["%r7", "%rd300", "%f2", "%tid.x", "%clock64", "%pm3", "%r18446744073709551615"]


@pytest.mark.parametrize("count", [pytest.param(n, id=f"{n}-operands") for n in
                                   [0, 1, 15, 16, 17, 61, 62, 63, 64, 65, 127, 128, 129, 5000]])
def test_operand_counts_read_back(count):
    operands = [REGISTERS[i % len(REGISTERS)] if i % 3 else f"lbl{i}" for i in range(count)]
    instr = assert_every_path_reads("mov.b32 " + ", ".join(operands) + ";")
    assert [shown(op) for op in instr.operands] == [
        shown(zorvane.parse_instruction(f"mov {text};").operands[0]) for text in operands]


@pytest.mark.parametrize("count", [pytest.param(n, id=f"{n}-registers") for n in
                                   [0, 1, 2, 31, 32, 33, 127, 128, 129, 3000]])
@pytest.mark.parametrize("split", [pytest.param(False, id="one-vector"), pytest.param(True, id="two-vectors")])
def test_vector_register_counts_read_back(count, split):
    registers = [REGISTERS[i % len(REGISTERS)] for i in range(count)]
    halves = [registers[: count // 2], registers[count // 2:]] if split else [registers]
    line = "st.v4.b32 [%rd1], " + ", ".join("{" + ", ".join(half) + "}" for half in halves) + ";"
    instr = assert_every_path_reads(line)
    assert [shown(op._0) for op in instr.operands[1:]] == [
        [shown(zorvane.parse_instruction(f"mov {r};").operands[0]._0) for r in half] for half in halves]


# ---------------------------------------------------------------------------------------------------------------
# Shapes of a tree: records that straddle chunk boundaries at every position, a record larger than a chunk, many
# functions, and bodies that mix every kind of record.

BODY_ITEMS = [
    lambda r, i: f"add.s32 %r{i}, %r{r.randrange(2**20)}, {r.choice(['', '-'])}{r.randrange(2**40)};",
    lambda r, i: f"@%p{r.randrange(300)} bra $L_{'x' * r.randrange(40)};",
    lambda r, i: f"ld.global.u32 %r1, [%rd{i}+{r.randrange(-2**31, 2**31)}];",
    lambda r, i: "st.v4.u32 [%rd1], {" + ", ".join(f"%r{k}" for k in range(r.randrange(40))) + "};",
    lambda r, i: "mov.u32 " + ", ".join(f"%r{k}" for k in range(r.randrange(10, 90))) + ";",
    lambda r, i: f".reg .b32 %r<{r.randrange(2**70)}>;",
    lambda r, i: f".reg .u64 %c{'y' * r.randrange(200)};",
    lambda r, i: f".shared .align 8 .b8 arr{i}[{r.randrange(1000)}];",
    lambda r, i: '.pragma "nounroll";',
    lambda r, i: f"$L_{i}:",
    lambda r, i: "ret;",
]


def random_module(seed, functions, items):
    r = random.Random(seed)
    parts, expected = [HEADER], []
    for f in range(functions):
        params = [f"p{f}_{k}" for k in range(r.choice([0, 1, 3, 70]))]
        signature = "(" + ", ".join(f".param .u32 {p}" for p in params) + ")"
        if r.random() < 0.15:
            parts.append(f".extern .func d{f}{signature};\n")
            expected.append((f"d{f}", params, [], []))
            continue
        lines = [r.choice(BODY_ITEMS)(r, i) for i in range(r.choice([0, 1, 2, items]))]
        parts.append(f".visible .entry f{f}{signature}\n{{\n" + "".join(line + "\n" for line in lines) + "}\n")
        instructions = [line for line in lines if not line.startswith((".", "$"))]
        statements = [line for line in lines if line.startswith(".")]
        expected.append((f"f{f}", params, instructions, statements))
    return "".join(parts), expected


@pytest.mark.parametrize("seed, functions, items", [
    pytest.param(1, 3, 3000, id="large-bodies"),
    pytest.param(2, 2000, 12, id="many-small-functions"),
    pytest.param(3, 300, 300, id="mixed"),
])
def test_random_modules_read_back_record_for_record(seed, functions, items):
    text, expected = random_module(seed, functions, items)
    ptx = zorvane.parse_ptx(text)
    assert [f.name for f in ptx.functions] == [name for name, *_ in expected]
    alone = {}
    for function, (name, params, instructions, statements) in zip(ptx.functions, expected):
        assert [p.name for p in function.signature.parameters] == params, name
        read = function.body.instructions
        assert len(read) == len(instructions), name
        for instr, line in zip(read, instructions):
            if line not in alone:
                alone[line] = fields(zorvane.parse_instruction(line))
            assert fields(instr) == alone[line], line
            assert ptx.get_instruction(instr.offset) is ptx.get_instruction(instr.offset)
            assert fields(ptx.get_instruction(instr.offset)) == alone[line]
        assert [shown(s) for s in function.body.statements] == [
            shown(zorvane.parse_function_body_line(line)._0) for line in statements], name


@pytest.mark.parametrize("padding", range(0, 48, 3))
def test_records_straddling_the_first_chunk_boundary(padding):
    # Each body item moves the boundary of the first chunk one byte along the next record.
    lines = ["bra " + "a" * (k % 23 + 1 + padding) + ";" if k % 2 else f".reg .b32 %n{'b' * (k % 17 + padding)};"
             for k in range(400)]
    ptx = zorvane.parse_ptx(module_of(lines)[1])
    body = ptx.functions[0].body
    assert [op.get_label() for i in body.instructions for op in i.operands] == [
        line[4:-1] for line in lines if line.startswith("bra")]
    assert [s._2 for s in body.statements] == [line[11:-1] for line in lines if line.startswith(".reg")]


# The largest chunk holds 1 MiB: each of these records takes more.
@pytest.mark.parametrize("line", [
    pytest.param("mov.b32 " + ", ".join(["%r1"] * 600_000) + ";", id="600000-operands"),
    pytest.param("st.v4.b32 [%rd1], {" + ", ".join(["%tid.x"] * 400_000) + "};", id="400000-vector-registers"),
    pytest.param("bra " + "L" * 3 * MiB + ";", id="3-MiB-label"),
    pytest.param("add.u32 %r1," + " " * 3 * MiB + "%r2;", id="3-MiB-of-blanks-in-a-scanned-instruction"),
])
def test_a_record_larger_than_a_chunk_reads_back(line):
    ptx = zorvane.parse_ptx(module_of(["ret;", line, "ret;"])[1])
    first, big, last = ptx.functions[0].body.instructions
    expected = str(zorvane.parse_instruction(line))
    for other in (big, ptx.get_instruction(big.offset), BodyItem.Instruction(big)._0):
        assert str(other) == expected
    assert str(first.opcode) == str(last.opcode) == "ret" and last.offset > big.offset > first.offset


# ---------------------------------------------------------------------------------------------------------------
# Memory: what a text makes the tree and its instruction index take, at most five times the text plus a constant,
# in address space and in resident memory alike. The first get_instruction builds the index; a body of the shortest
# instructions, and a module of many tiny functions or declarations, are where they cost most for their text.

MEMORY_CHILD = r"""
import ctypes, gc, json, resource, sys
sys.path.insert(0, {module_dir!r})
import zorvane

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024

HEADER = {header!r}
text = {text}
zorvane.parse_ptx(HEADER + ".entry warm()\n{{\nret;\n}}\n").get_instruction(0)
gc.collect()
ctypes.CDLL(None).malloc_trim(0)
allowance = 5 * len(text) + {constant}
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
resident_before = status("VmRSS")
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (status("VmSize") + allowance, hard))
try:
    ptx = zorvane.parse_ptx(text)
    found = ptx.get_instruction(text.rindex("ret;")) is not None
    outcome = "found" if found else "not found"
except MemoryError:
    outcome = "MemoryError"
resident = status("VmHWM") - resident_before
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(json.dumps(dict(outcome=outcome, input=len(text), allowance=allowance, resident=resident)))
"""

INDEXED_TEXTS = [
    ("functions-of-one-instruction", 'HEADER + ".func f(){{ret;}}" * ({size} // 15)'),
    ("unnamed-spacing-functions-of-one-instruction", 'HEADER + ".funcf(){{ret;}}" * ({size} // 14)'),
    ("functions-of-two-instructions", 'HEADER + ".func f(){{ret;ret;}}" * ({size} // 19)'),
    ("one-body-of-tiny-instructions", 'HEADER + ".entry f(){{" + "or;" * ({size} // 3) + "ret;}}"'),
    ("declarations", 'HEADER + ".funcf();" * ({size} // 9) + ".funcf(){{ret;}}"'),
]


@pytest.mark.skipif(UNDER_SANITIZER, reason="address-space limits and memory figures need the plain allocator")
@pytest.mark.parametrize("text", [pytest.param(text, id=name) for name, text in INDEXED_TEXTS])
def test_tree_and_instruction_index_stay_within_five_times_the_text(text):
    code = MEMORY_CHILD.format(module_dir=MODULE_DIR, header=HEADER, text=text.format(size=8 * MiB),
                               constant=16 * MiB)
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout.splitlines()[-1])
    assert report["outcome"] == "found", f"{report} under an address-space allowance of 5 x input + 16 MiB"
    ratio = report["resident"] / report["input"]
    assert report["resident"] <= report["allowance"], f"resident peak {ratio:.1f} x the input"
