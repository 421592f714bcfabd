# Instructions through parse_instruction: mnemonics, registers, operands, modifiers, guards, whitespace and texts.
import re

import pytest

import zorvane

# Every opcode member but Tld4, which the rule does not read, by value and name; the mnemonic is the name with its
# first letter in lower case.
_OPCODE = type(zorvane.parse_instruction("ret;").opcode)
PARSED_OPCODES = sorted((int(v), repr(v).removeprefix("PTXOpcode.")) for v in vars(_OPCODE).values()
                        if type(v) is _OPCODE and str(v) != "tld4")

MAX64 = 2**64 - 1


def table(rows):
    """Parameter rows named by their first column, the input text."""
    return [pytest.param(*row, id=repr(row[0])) for row in rows]


def mnemonic(name):
    return name[0].lower() + name[1:]


def text_of(instr_text):
    """The instruction text of a parse, or None when the text is not an instruction."""
    instr = zorvane.parse_instruction(instr_text)
    return None if instr is None else str(instr)


def instr_str(opcode, modifiers="", operands=""):
    return f"PTXInstruction(opcode='{opcode}', modifiers='{modifiers}', operands=[{operands}])"


def check(instr_text, expected):
    """`expected` is the instruction text, None for a text that is not an instruction, or an exception type."""
    if isinstance(expected, type) and issubclass(expected, BaseException):
        with pytest.raises(expected):
            zorvane.parse_instruction(instr_text)
    else:
        assert text_of(instr_text) == expected


# ---------------------------------------------------------------------------------------------------------------
# Opcodes


@pytest.mark.parametrize("value,name", PARSED_OPCODES, ids=[mnemonic(n) for _, n in PARSED_OPCODES])
def test_every_mnemonic_parses_as_its_member(value, name):
    m = mnemonic(name)
    alone = zorvane.parse_instruction(f"{m};")
    assert str(alone) == instr_str(name)
    assert str(alone.opcode) == m
    assert repr(alone.opcode) == f"PTXOpcode.{name}"
    assert int(alone.opcode) == value
    dotted = zorvane.parse_instruction(f"{m}.x;")
    assert str(dotted) == instr_str(name, "x")
    # Followed by enough text that the word can be looked up in one load, as nearly every mnemonic in a module is.
    assert str(zorvane.parse_instruction(f"{m}.x;" + " " * 16)) == instr_str(name, "x")
    assert str(zorvane.parse_instruction(f"{m}   ;" + " " * 16)) == instr_str(name)


@pytest.mark.parametrize(
    "text,expected",
    table([
        # A mnemonic followed by a dot always yields its own member, never a shorter one it begins.
        ("set.eq;", instr_str("Set", "eq")),
        ("setp.eq;", instr_str("Setp", "eq")),
        ("setmaxnreg.inc;", instr_str("Setmaxnreg", "inc")),
        ("st.global;", instr_str("St", "global")),
        ("stacksave.u64;", instr_str("Stacksave", "u64")),
        ("stackrestore.u64;", instr_str("Stackrestore", "u64")),
        ("stmatrix.sync;", instr_str("Stmatrix", "sync")),
        ("cp.async;", instr_str("Cp", "async")),
        ("copysign.f32;", instr_str("Copysign", "f32")),
        ("cvt.rn;", instr_str("Cvt", "rn")),
        ("cvta.to;", instr_str("Cvta", "to")),
        ("bar.sync;", instr_str("Bar", "sync")),
        ("barrier.sync;", instr_str("Barrier", "sync")),
        ("mul.wide;", instr_str("Mul", "wide")),
        ("mul24.lo;", instr_str("Mul24", "lo")),
        ("multimem.ld;", instr_str("Multimem", "ld")),
        ("mad.lo;", instr_str("Mad", "lo")),
        ("madc.hi;", instr_str("Madc", "hi")),
        ("mad24.lo;", instr_str("Mad24", "lo")),
        ("ld.global;", instr_str("Ld", "global")),
        ("ldu.global;", instr_str("Ldu", "global")),
        ("ldmatrix.sync;", instr_str("Ldmatrix", "sync")),
        ("bfi.b32;", instr_str("Bfi", "b32")),
        ("bfind.u32;", instr_str("Bfind", "u32")),
        ("shf.l;", instr_str("Shf", "l")),
        ("shfl.sync;", instr_str("Shfl", "sync")),
        ("red.add;", instr_str("Red", "add")),
        ("redux.sync;", instr_str("Redux", "sync")),
        ("prefetch.l1;", instr_str("Prefetch", "l1")),
        ("prefetchu.l1;", instr_str("Prefetchu", "l1")),
        ("mov.b32;", instr_str("Mov", "b32")),
        ("movmatrix.sync;", instr_str("Movmatrix", "sync")),
        ("add.s32;", instr_str("Add", "s32")),
        ("addc.cc;", instr_str("Addc", "cc")),
        ("sub.s32;", instr_str("Sub", "s32")),
        ("subc.cc;", instr_str("Subc", "cc")),
        ("vsub.s32;", instr_str("Vsub", "s32")),
        ("vsub4.s32;", instr_str("Vsub4", "s32")),
        ("vabsdiff.s32;", instr_str("Vabsdiff", "s32")),
        ("vabsdiff2.s32;", instr_str("Vabsdiff2", "s32")),
        ("ex2.approx;", instr_str("Ex2", "approx")),
        ("exit.x;", instr_str("Exit", "x")),
        # The mnemonic is not checked for a word boundary: what follows is read as modifiers or operands.
        ("addx;", instr_str("Add", "", 'Label("x")')),
        ("add4;", instr_str("Add", "", "Immediate(4)")),
        ("vadd4;", instr_str("Vadd4")),
        ("vadd8;", instr_str("Vadd", "", "Immediate(8)")),
        ("mul25;", instr_str("Mul", "", "Immediate(25)")),
        ("shfx;", instr_str("Shf", "", 'Label("x")')),
        ("stx;", instr_str("St", "", 'Label("x")')),
        ("ldx;", instr_str("Ld", "", 'Label("x")')),
        ("setpx;", instr_str("Setp", "", 'Label("x")')),
        ("cvtab;", instr_str("Cvta", "", 'Label("b")')),
        ("bfindx;", instr_str("Bfind", "", 'Label("x")')),
        ("prefetchux;", instr_str("Prefetchu", "", 'Label("x")')),
        ("retx;", instr_str("Ret", "", 'Label("x")')),
        ("ret%r1;", instr_str("Ret", "", "Register(General(1))")),
    ]),
)
def test_mnemonic_followed_by_text(text, expected):
    assert text_of(text) == expected
    assert text_of(text + " " * 16) == expected


@pytest.mark.parametrize(
    "text",
    ["tld4;", "tld4.2d;", "tld4.2d.v4.s32.f32 {%r1, %r2, %r3, %r4}, [tex, {%f1, %f2}];", "Add;", "ADD;", "Ret;",
     "x;", "foo;", ";", "", "}", "ret", "@%p1;"],
    ids=repr,
)
def test_not_a_mnemonic(text):
    assert zorvane.parse_instruction(text) is None
    assert zorvane.parse_instruction(text + " " * 16) is None


# ---------------------------------------------------------------------------------------------------------------
# Registers, each as the second operand of a mov


REGISTERS = [
    ("%tid.x", "Special(TID, X)"),
    ("%tid.y", "Special(TID, Y)"),
    ("%tid.z", "Special(TID, Z)"),
    ("%rd12", "Wide(12)"),
    ("%r5", "General(5)"),
    ("%f3", "Float(3)"),
    ("%ntid.x", "Special(NTID, X)"),
    ("%ntid.y", "Special(NTID, Y)"),
    ("%ntid.z", "Special(NTID, Z)"),
    ("%ctaid.x", "Special(CTAID, X)"),
    ("%ctaid.y", "Special(CTAID, Y)"),
    ("%ctaid.z", "Special(CTAID, Z)"),
    ("%nctaid.x", "Special(NCTAID, X)"),
    ("%nctaid.y", "Special(NCTAID, Y)"),
    ("%nctaid.z", "Special(NCTAID, Z)"),
    ("%warpid", "Special(WARPID, None)"),
    ("%laneid", "Special(LANEID, None)"),
    ("%warpsize", "Special(WARPSIZE, None)"),
    ("%gridid", "Special(GRIDID, None)"),
    ("%lanemask_eq", "Special(LANEMASK_EQ, None)"),
    ("%lanemask_le", "Special(LANEMASK_LE, None)"),
    ("%lanemask_lt", "Special(LANEMASK_LT, None)"),
    ("%lanemask_ge", "Special(LANEMASK_GE, None)"),
    ("%lanemask_gt", "Special(LANEMASK_GT, None)"),
    ("%clock64", "Special(CLOCK64, None)"),
    ("%clock", "Special(CLOCK, None)"),
    ("%pm0", "Special(PM0, None)"),
    ("%pm1", "Special(PM1, None)"),
    ("%pm2", "Special(PM2, None)"),
    ("%pm3", "Special(PM3, None)"),
]


def mov(operand):
    return f"mov.u32 %r1, {operand};"


def mov_str(tagged):
    return instr_str("Mov", "u32", f"Register(General(1)), {tagged}")


def test_register_table_has_every_form_of_the_rule():
    # Inside an address, where a register or a label must be, the module's error lists every form that the register
    # rule knows (an operand of its own may also be a custom register, which takes any name).
    with pytest.raises(ValueError) as excinfo:
        zorvane.parse_ptx(".version 8.5\n.target sm_90\n.address_size 64\n.entry f() { ld.u32 %r1, [%zz]; }")
    known = set(re.findall(r'"(%[^"]*)"', str(excinfo.value)))
    numbered = ("General(", "Wide(", "Float(")
    written = {re.sub(r"[0-9]+$", "", w) if t.startswith(numbered) else w for w, t in REGISTERS}
    assert written == known
    assert len(REGISTERS) == len(written)


@pytest.mark.parametrize("written,tagged", REGISTERS, ids=[w for w, _ in REGISTERS])
def test_register_written_forms(written, tagged):
    instr = zorvane.parse_instruction(mov(written))
    assert str(instr) == mov_str(f"Register({tagged})")
    assert instr.operands[1].kind() == "reg"


@pytest.mark.parametrize(
    "written,expected",
    table([
        ("%r007", "Register(General(7))"),
        ("%rd0009", "Register(Wide(9))"),
        ("%f00", "Register(Float(0))"),
        ("%r0", "Register(General(0))"),
        (f"%r{MAX64}", f"Register(General({MAX64}))"),
        (f"%rd{MAX64}", f"Register(Wide({MAX64}))"),
        (f"%f{MAX64}", f"Register(Float({MAX64}))"),
        ("%r" + "0" * 30 + str(MAX64), f"Register(General({MAX64}))"),
        (f"%r{MAX64 + 1}", OverflowError),
        (f"%rd{MAX64 + 1}", OverflowError),
        (f"%f{MAX64 + 1}", OverflowError),
        ("%r99999999999999999999999999999", OverflowError),
        # What the register rule leaves over makes the instruction fail ...
        ("%r5abc", None),
        ("%r5.x", None),
        ("%r5_1", None),
        ("%tid.xyz", None),
        ("%tid.w", None),
        ("%TID.X", None),
        ("%clock_hi", None),
        ("%pm4", None),
        ("%fd1", None),
        ("%rd1x", None),
        # ... or the name is read as another operand form instead.
        ("%tid", 'Register(Custom("tid"))'),
        ("%rx", 'Register(Custom("rx"))'),
        ("%rd", 'Register(Custom("rd"))'),
        ("%r", 'Register(Custom("r"))'),
        ("%f", 'Register(Custom("f"))'),
        ("%smid", 'Register(Custom("smid"))'),
        ("%nwarpid", 'Register(Custom("nwarpid"))'),
        ("%clockx", None),
        ("%p1", "Predicate(1)"),
    ]),
)
def test_register_numbers_and_leftovers(written, expected):
    check(mov(written), expected if expected in (None, OverflowError) else mov_str(expected))


# ---------------------------------------------------------------------------------------------------------------
# Operands, each as the second operand of a mov


OPERANDS = [
    # vector
    ("{%r1, %r2}", "VectorOperand([General(1), General(2)])"),
    ("{ %r1 ,%r2 }", "VectorOperand([General(1), General(2)])"),
    ("{%r1,%r2,%r3,%r4}", "VectorOperand([General(1), General(2), General(3), General(4)])"),
    ("{%tid.x, %rd2, %f3}", "VectorOperand([Special(TID, X), Wide(2), Float(3)])"),
    ("{%r1 // c\n, %r2}", "VectorOperand([General(1), General(2)])"),
    ("{}", "VectorOperand([])"),
    ("{ }", "VectorOperand([])"),
    ("{%r1,}", None),
    ("{%r1 %r2}", None),
    ("{%p1}", None),
    ("{%foo}", None),
    ("{1}", None),
    ("{%r1", None),
    # register-predicate pair
    ("%rd1|%p2", "RegPredPair(Wide(1), 2)"),
    ("%tid.x|%p0", "RegPredPair(Special(TID, X), 0)"),
    ("%r1|%p007", "RegPredPair(General(1), 7)"),
    (f"%r1|%p{MAX64}", f"RegPredPair(General(1), {MAX64})"),
    (f"%r1|%p{MAX64 + 1}", OverflowError),
    ("%r1 |%p2", None),
    ("%r1| %p2", None),
    ("%r1|%p 2", None),
    ("%r1|%r2", None),
    ("%r1|", None),
    # predicate
    ("%p1", "Predicate(1)"),
    ("%p0", "Predicate(0)"),
    ("%p007", "Predicate(7)"),
    (f"%p{MAX64}", f"Predicate({MAX64})"),
    (f"%p{MAX64 + 1}", OverflowError),
    ("%p12x", None),
    ("%p", 'Register(Custom("p"))'),
    # memory with a register
    ("[%r1]", "MemoryRegDisp(General(1), 0)"),
    ("[ %r1 ]", "MemoryRegDisp(General(1), 0)"),
    ("[%rd2+8]", "MemoryRegDisp(Wide(2), 8)"),
    ("[%r1 + 4]", "MemoryRegDisp(General(1), 4)"),
    ("[\t%r1\n+\n4\n]", "MemoryRegDisp(General(1), 4)"),
    ("[%r1+-4]", f"MemoryRegDisp(General(1), {2**64 - 4})"),
    ("[%r1+ -4]", f"MemoryRegDisp(General(1), {2**64 - 4})"),
    ("[%rd5+0]", "MemoryRegDisp(Wide(5), 0)"),
    ("[%rd5+-0]", "MemoryRegDisp(Wide(5), 0)"),
    ("[%tid.x+8]", "MemoryRegDisp(Special(TID, X), 8)"),
    ("[%r1+007]", "MemoryRegDisp(General(1), 7)"),
    (f"[%r1+{MAX64}]", f"MemoryRegDisp(General(1), {MAX64})"),
    (f"[%r1+{MAX64 + 1}]", OverflowError),
    ("[%r1+-9223372036854775807]", "MemoryRegDisp(General(1), 9223372036854775809)"),
    # The 64-bit minimum, as compilers write it, is stored in two's complement.
    ("[%r1+-9223372036854775808]", "MemoryRegDisp(General(1), 9223372036854775808)"),
    ("[%r1+-9223372036854775809]", OverflowError),
    ("[%r1+- 4]", None),
    ("[%r1-4]", None),
    ("[%r1+x]", None),
    ("[%r1 x]", None),
    ("[%r1+4", None),
    ("[%foo]", None),
    ("[%p1]", None),
    # memory with a label
    ("[label]", 'MemoryLbl("label")'),
    ("[ label ]", 'MemoryLbl("label")'),
    ("[foo_param_0]", 'MemoryLbl("foo_param_0")'),
    ("[9abc]", 'MemoryLbl("9abc")'),
    ("[label+4]", None),
    ("[$x]", None),
    ("[a.b]", None),
    ("[]", None),
    # float immediate
    ("0f3F800000", "FloatImmediate(1065353216)"),
    ("0f3f800000", "FloatImmediate(1065353216)"),
    ("0f00000000", "FloatImmediate(0)"),
    ("0fFFFFFFFFFFFFFFFF", f"FloatImmediate({MAX64})"),
    ("0f" + "0" * 20 + "3F800000", "FloatImmediate(1065353216)"),
    ("0f10000000000000000", OverflowError),
    ("0F3F800000", None),
    ("0f", None),
    ("0fx", None),
    ("0d3FF0000000000000", None),
    # integer immediates
    ("42", "Immediate(42)"),
    ("0", "Immediate(0)"),
    ("007", "Immediate(7)"),
    ("-5", f"Immediate({2**64 - 5})"),
    ("-0", "Immediate(0)"),
    ("-00005", f"Immediate({2**64 - 5})"),
    ("-9223372036854775807", "Immediate(9223372036854775809)"),
    ("-9223372036854775808", "Immediate(9223372036854775808)"),
    ("-9223372036854775809", OverflowError),
    (str(MAX64), f"Immediate({MAX64})"),
    (str(MAX64 + 1), OverflowError),
    ("0" * 40 + "1", "Immediate(1)"),
    # A number out of range ends the call even where the instruction would fail later anyway.
    (f"{MAX64 + 1}x", OverflowError),
    (f"-{2**63 + 1}x", OverflowError),
    ("1.5", None),
    ("0x10", None),
    ("10u", None),
    ("- 5", None),
    ("+5", None),
    # labels
    ("$str$12", 'Label("$str$12")'),
    ("$str$007", 'Label("$str$007")'),
    ("$str", 'Label("str")'),
    ("$str$abc", None),
    ("$L__BB0_1", 'Label("L__BB0_1")'),
    ("_foo", 'Label("_foo")'),
    ("foo", 'Label("foo")'),
    ("Foo9_", 'Label("Foo9_")'),
    ("foo.bar", None),
    ("foo$bar", None),
    ("$", None),
    ("$$x", None),
    ("9abc", None),
    # custom registers
    ("%custom", 'Register(Custom("custom"))'),
    ("%envreg", 'Register(Custom("envreg"))'),
    ("%Ab", 'Register(Custom("Ab"))'),
    ("%custom1", None),
    ("%Ab9_z", None),
    ("%_x", None),
    ("%", None),
    ("%1", None),
    # non-ASCII ends every run
    ("%é", None),
    ("é", None),
]


@pytest.mark.parametrize("operand,expected", table(OPERANDS))
def test_operand_forms(operand, expected):
    check(mov(operand), expected if expected in (None, OverflowError) else mov_str(expected))


@pytest.mark.parametrize(
    "operand,kind,accessor,value",
    table([
        ("42", "imm", "get_immediate", 42),
        ("-1", "imm", "get_immediate", MAX64),
        ("0f3F800000", "float_imm", "get_float_imm", 1065353216),
        ("%r5", "reg", "get_register", "%r5"),
        ("%p3", "predicate", "get_predicate", "%p3"),
        ("[gdata]", "memory_label", "get_memory_lbl", "gdata"),
        ("$L__BB0_1", "label", "get_label", "L__BB0_1"),
        ("{%r1}", "vector", None, None),
        ("%rd1|%p2", "reg_pred_pair", "get_reg_pred_pair", ("%rd1", "2")),
    ]),
)
def test_parsed_operand_kind_and_value(operand, kind, accessor, value):
    op = zorvane.parse_instruction(mov(operand)).operands[1]
    assert op.kind() == kind
    if accessor is not None:
        assert getattr(op, accessor)() == value


def test_parsed_memory_displacement():
    op = zorvane.parse_instruction("ld.u32 %r1, [%rd2+-8];").operands[1]
    reg, disp = op.get_memory_disp()
    assert (str(reg), disp) == ("%rd2", 2**64 - 8)


@pytest.mark.parametrize(
    "text,expected",
    table([
        ("ret;", instr_str("Ret")),
        ("bar.sync 0;", instr_str("Bar", "sync", "Immediate(0)")),
        ("exit 1, 2, 3;", instr_str("Exit", "", "Immediate(1), Immediate(2), Immediate(3)")),
        (
            "mad.lo.s32 %r5, %r2, %r3, %r4;",
            instr_str("Mad", "lo.s32", "Register(General(5)), Register(General(2)), Register(General(3)), "
                      "Register(General(4))"),
        ),
        ("mov.u32 %r1,;", None),
        ("mov.u32 %r1,, %r2;", None),
        ("mov.u32 , %r1;", None),
        ("mov.u32 %r1 %r2;", None),
        ("add.s32 %r1, %r2, 1", None),
    ]),
)
def test_operand_lists(text, expected):
    check(text, expected)


# ---------------------------------------------------------------------------------------------------------------
# Modifiers


@pytest.mark.parametrize(
    "text,modifiers",
    table([
        ("ld.global.u32 %r1, [%rd1];", "global.u32"),
        ("ld.global.v4.f32 {%f1, %f2, %f3, %f4}, [%rd1];", "global.v4.f32"),
        ("cvt.rn.f32.s32 %f1, %r1;", "rn.f32.s32"),
        ("shfl.sync.bfly.b32 %r1, %r2, 1, 31, -1;", "sync.bfly.b32"),
        ("mma.sync.aligned.m16n8k16.row.col.f32;", "sync.aligned.m16n8k16.row.col.f32"),
        ("tex.2d;", "2d"),
        ("ret;", ""),
        ("ret.0;", "0"),
    ]),
)
def test_modifiers(text, modifiers):
    assert zorvane.parse_instruction(text).modifiers == modifiers


@pytest.mark.parametrize(
    "text,expected",
    table([
        # A modifier run stops at a character outside [a-z0-9]; the rest is read as operands.
        ("bar.sync_x;", instr_str("Bar", "sync", 'Label("_x")')),
        ("bar.sync5;", instr_str("Bar", "sync5")),
        ("mov.U32 %r1, %r2;", None),
        ("mov .u32 %r1, %r2;", None),
        ("mov. u32 %r1, %r2;", None),
        ("mov.u32. %r1, %r2;", None),
        ("mov..u32 %r1, %r2;", None),
        ("ld.shared::cta.u32 %r1, [%r2];", None),
        ("cp.async.ca.shared.global.L2::128B [%r1], [%rd1], 16;", None),
        ("mov.ü32 %r1, %r2;", None),
        ("mov.u32-x %r1;", None),
    ]),
)
def test_modifier_edges(text, expected):
    check(text, expected)


# ---------------------------------------------------------------------------------------------------------------
# Guards and offsets


@pytest.mark.parametrize(
    "text,guard,offset",
    table([
        ("ret;", None, 0),
        ("  ret;", None, 2),
        ("\t\n ret;", None, 3),
        ("@%p1 bra $L__BB0_2;", 1, 5),
        ("@%p1  bra L;", 1, 6),
        ("@%p1bra L;", 1, 4),
        ("@%p1\n\tbra L;", 1, 6),
        ("@%p1// c\nbra L;", 1, 9),
        ("@%p0 ret;", 0, 5),
        ("@%p007 ret;", 7, 7),
        (f"@%p{MAX64} ret;", MAX64, 24),
        ("// é\nret;", None, 6),
        ("@%p2 // ü ß\n ret;", 2, 15),
    ]),
)
def test_guard_and_offset(text, guard, offset):
    instr = zorvane.parse_instruction(text)
    assert instr.is_predicated == guard
    assert instr.offset == offset
    assert text.encode()[offset:].startswith(str(instr.opcode).encode())


def test_guard_zero_is_present_but_false():
    assert zorvane.parse_instruction("@%p0 ret;").is_predicated == 0
    assert zorvane.parse_instruction("@%p0 ret;").is_predicated is not None
    assert zorvane.parse_instruction("ret;").is_predicated is None


@pytest.mark.parametrize(
    "text,expected",
    table([
        ("@!%p1 bra L;", None),
        ("@%p bra L;", None),
        (" @%p1 bra L;", None),
        ("\n@%p1 bra L;", None),
        ("@ %p1 bra L;", None),
        ("@%p 1 bra L;", None),
        ("@%r1 bra L;", None),
        ("@%p1;", None),
        ("@%p1 @%p2 ret;", None),
        (f"@%p{MAX64 + 1} ret;", OverflowError),
    ]),
)
def test_rejected_guards(text, expected):
    check(text, expected)


# ---------------------------------------------------------------------------------------------------------------
# Whitespace, comments and what follows the semicolon

MOV_R1_R2 = instr_str("Mov", "u32", "Register(General(1)), Register(General(2))")


@pytest.mark.parametrize(
    "text,expected",
    table([
        ("mov.u32 %r1, %r2;", MOV_R1_R2),
        ("mov.u32%r1,%r2;", MOV_R1_R2),
        ("mov.u32 %r1 , %r2 ;", MOV_R1_R2),
        ("mov.u32\t%r1,\n%r2\r\n;", MOV_R1_R2),
        ("mov.u32 // first\n%r1, // second\n%r2 // third\n;", MOV_R1_R2),
        ("mov.u32 %r1, %r2;   \n// done", MOV_R1_R2),
        ("mov.u32 %r1, %r2; // done\n\n", MOV_R1_R2),
        ("mov.u32 %r1, %r2;\r\n", MOV_R1_R2),
        ("mov.u32 %r1, %r2;x", None),
        ("mov.u32 %r1, %r2;;", None),
        ("mov.u32 %r1, %r2; ret;", None),
        ("mov.u32 /* c */ %r1, %r2;", None),
        ("mov.u32 %r1, %r2; /* c */", None),
        ("mov.u32\u00a0%r1, %r2;", None),
        ("mov.u32\f%r1, %r2;", None),
        ("mov.u32\v%r1, %r2;", None),
        ("\ufeffmov.u32 %r1, %r2;", None),
        ("mov.u32 %r1, %r2\u00a0;", None),
        ("mov.u32 %r1, %r2", None),
    ]),
)
def test_whitespace_and_comments(text, expected):
    check(text, expected)


def test_trailing_comment_without_line_feed():
    assert text_of("ret; // no line feed at the end") == instr_str("Ret")


@pytest.mark.parametrize(
    "text,offset",
    table([
        # NUL is an ordinary character: a comment runs over it to the line feed.
        ("// a\x00b\nret;", 7),
        ("ret; // \x00", 0),
        ("// 😀 漢 é\n ret;", 16),
    ]),
)
def test_comments_hold_any_character(text, offset):
    instr = zorvane.parse_instruction(text)
    assert str(instr) == instr_str("Ret")
    assert instr.offset == offset


@pytest.mark.parametrize("text", ["ret;\x00", "\x00ret;", "ret\x00;", "mov.u32 %r1\x00, %r2;", "bra L\x00;"], ids=repr)
def test_nul_outside_comments_is_refused(text):
    assert zorvane.parse_instruction(text) is None


def test_long_operand_list():
    count = 50_000
    instr = zorvane.parse_instruction("add " + ", ".join(f"%r{i}" for i in range(count)) + ";")
    operands = instr.operands
    assert len(operands) == count
    assert str(operands[-1]._0) == f"%r{count - 1}"


# ---------------------------------------------------------------------------------------------------------------
# Instruction texts


@pytest.mark.parametrize(
    "text,expected",
    table([
        (
            "ld.global.u32 %r1, [%rd2+8];",
            "PTXInstruction(opcode='Ld', modifiers='global.u32', operands=[Register(General(1)), "
            "MemoryRegDisp(Wide(2), 8)])",
        ),
        ("@%p1 bra $L__BB0_2;", "PTXInstruction(opcode='Bra', modifiers='', operands=[Label(\"L__BB0_2\")])"),
        ("ret;", "PTXInstruction(opcode='Ret', modifiers='', operands=[])"),
        (
            "st.shared.v2.f32 [%r3+-4], {%f1, %f2};",
            "PTXInstruction(opcode='St', modifiers='shared.v2.f32', operands=[MemoryRegDisp(General(3), "
            "18446744073709551612), VectorOperand([Float(1), Float(2)])])",
        ),
        (
            "setp.ne.s32 %p1, %r2, 0;",
            "PTXInstruction(opcode='Setp', modifiers='ne.s32', operands=[Predicate(1), Register(General(2)), "
            "Immediate(0)])",
        ),
        (
            "mov.u64 %rd1, $str$1;",
            "PTXInstruction(opcode='Mov', modifiers='u64', operands=[Register(Wide(1)), Label(\"$str$1\")])",
        ),
        (
            "mov.f32 %f1, 0fBF800000;",
            "PTXInstruction(opcode='Mov', modifiers='f32', operands=[Register(Float(1)), "
            "FloatImmediate(3212836864)])",
        ),
        (
            "mov.u32 %r1, %laneid;",
            "PTXInstruction(opcode='Mov', modifiers='u32', operands=[Register(General(1)), "
            "Register(Special(LANEID, None))])",
        ),
        (
            "mov.b32 %r1, %envreg;",
            "PTXInstruction(opcode='Mov', modifiers='b32', operands=[Register(General(1)), "
            "Register(Custom(\"envreg\"))])",
        ),
        (
            "ld.param.u64 %rd1, [foo_param_0];",
            "PTXInstruction(opcode='Ld', modifiers='param.u64', operands=[Register(Wide(1)), "
            "MemoryLbl(\"foo_param_0\")])",
        ),
        (
            "vote.sync.ballot.b32 %r1|%p2, 1, -1;",
            "PTXInstruction(opcode='Vote', modifiers='sync.ballot.b32', operands=[RegPredPair(General(1), 2), "
            "Immediate(1), Immediate(18446744073709551615)])",
        ),
    ]),
)
def test_instruction_text(text, expected):
    assert str(zorvane.parse_instruction(text)) == expected


def test_instruction_fields():
    instr = zorvane.parse_instruction("@%p3 ld.global.u32 %r1, [%rd2+8];")
    assert instr.offset == 5
    assert str(instr.opcode) == "ld"
    assert instr.modifiers == "global.u32"
    assert [op.kind() for op in instr.operands] == ["reg", "memory_reg_disp"]
    assert instr.is_predicated == 3


@pytest.mark.parametrize(
    "modifiers,expected",
    table([
        ("rn.ftz.f32", True),
        ("f64.s32", True),
        ("rn.f32", True),
        ("f32.u64", True),
        ("e4m3x2.f8", True),
        ("xf32y", True),
        ("xf8y", True),
        ("u32", False),
        ("f16x2", False),
        ("f16", False),
        ("bf16", False),
        ("s64", False),
        ("f3.2", False),
        ("", False),
    ]),
)
def test_is_float(modifiers, expected):
    text = f"cvt.{modifiers};" if modifiers else "cvt;"
    instr = zorvane.parse_instruction(text)
    assert instr.modifiers == modifiers
    assert instr.is_float() is expected
