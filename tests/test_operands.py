# Registers and operands built from Python: register texts, accessors, operand texts and tagged forms.
import collections.abc

import pytest

import zorvane

MAX64 = 2**64 - 1

class _Classes:
    """The register and operand classes and the enumerations they use, found through one parsed instruction."""

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        instr = zorvane.parse_instruction("mov.u32 %r1, %tid.x;")
        special = instr.operands[1]._0
        self.PTXOperand = type(instr.operands[0]).__base__
        self.PTXRegister = type(special).__base__
        self.PTXSpecialRegister = type(special._0)
        self.PTXDirection = type(special._1)
        return self.__dict__[name]


ns = _Classes()


def member_names(enum):
    return [repr(m).split(".", 1)[1] for m in sorted((v for v in vars(enum).values() if type(v) is enum), key=int)]


SPECIAL_REGISTERS = member_names(ns.PTXSpecialRegister)
DIRECTIONS = member_names(ns.PTXDirection)
ACCESSORS = [name for name in vars(ns.PTXOperand) if name.startswith("get_")]


# Short builders, so the tables read like the values they describe.
def general(n):
    return ns.PTXRegister.General(n)


def wide(n):
    return ns.PTXRegister.Wide(n)


def float_reg(n):
    return ns.PTXRegister.Float(n)


def special(sreg, direction):
    return ns.PTXRegister.Special(getattr(ns.PTXSpecialRegister, sreg), getattr(ns.PTXDirection, direction))


def custom(name):
    return ns.PTXRegister.Custom(name)


def operand(variant, *args):
    return getattr(ns.PTXOperand, variant)(*args)


# ---------------------------------------------------------------------------------------------------------------
# Registers


REGISTER_TEXTS = [
    ("general-0", lambda: general(0), "%r0"),
    ("general-5", lambda: general(5), "%r5"),
    ("general-max", lambda: general(MAX64), "%r18446744073709551615"),
    ("wide-12", lambda: wide(12), "%rd12"),
    ("float-3", lambda: float_reg(3), "%f3"),
    ("tid-x", lambda: special("TID", "X"), "%TID.X"),
    ("ctaid-z", lambda: special("CTAID", "Z"), "%CTAID.Z"),
    ("ctaid-none", lambda: special("CTAID", "None"), "%CTAID.None"),
    ("laneid-none", lambda: special("LANEID", "None"), "%LANEID.None"),
    ("custom", lambda: custom("foo"), "%foo"),
    ("custom-empty", lambda: custom(""), "%"),
    # The register text is not escaped; only the tagged form quotes the name.
    ("custom-quote", lambda: custom('a"b\\c'), '%a"b\\c'),
    ("custom-line-feed", lambda: custom("a\nb"), "%a\nb"),
    ("custom-non-ascii", lambda: custom("régistre😀"), "%régistre😀"),
    ("custom-nul", lambda: custom("a\0b"), "%a\0b"),
]


@pytest.mark.parametrize("make,text", [pytest.param(m, t, id=i) for i, m, t in REGISTER_TEXTS])
def test_register_text(make, text):
    assert str(make()) == text


@pytest.mark.parametrize(
    "sreg,direction",
    [pytest.param(s, DIRECTIONS[i % 4], id=f"{s}-{DIRECTIONS[i % 4]}") for i, s in enumerate(SPECIAL_REGISTERS)],
)
def test_special_register_text_uses_member_names(sreg, direction):
    reg = special(sreg, direction)
    assert str(reg) == f"%{sreg}.{direction}"
    assert str(operand("Register", reg)) == f"%Special({sreg}, {direction})"


@pytest.mark.parametrize(
    "make,fields",
    [
        pytest.param(lambda: general(7), [7], id="general"),
        pytest.param(lambda: wide(MAX64), [MAX64], id="wide-max"),
        pytest.param(lambda: float_reg(0), [0], id="float"),
        pytest.param(lambda: custom("name"), ["name"], id="custom"),
        pytest.param(lambda: custom("ünï\0😀"), ["ünï\0😀"], id="custom-unicode-and-nul"),
    ],
)
def test_register_fields_round_trip(make, fields):
    reg = make()
    assert [getattr(reg, f"_{i}") for i in range(len(fields))] == fields


def test_special_register_fields_are_new_members():
    reg = special("TID", "X")
    assert (int(reg._0), int(reg._1)) == (0, 1)
    assert reg._0 is not ns.PTXSpecialRegister.TID
    assert reg._1 is not reg._1
    assert (repr(reg._0), repr(reg._1)) == ("PTXSpecialRegister.TID", "PTXDirection.X")


# ---------------------------------------------------------------------------------------------------------------
# Operands: text and accessors


def row(id, make, text, **accessors):
    return pytest.param(make, text, accessors, id=id)


OPERANDS = [
    row("imm", lambda: operand("Immediate", 42), "42", get_immediate=42),
    row("imm-zero", lambda: operand("Immediate", 0), "0", get_immediate=0),
    # -5 stored in two's complement
    row("imm-minus-5", lambda: operand("Immediate", 2**64 - 5), "18446744073709551611",
        get_immediate=18446744073709551611),
    row("imm-max", lambda: operand("Immediate", MAX64), "18446744073709551615", get_immediate=MAX64),
    # the bit pattern of 1.0f, shown in decimal
    row("float-imm", lambda: operand("FloatImmediate", 1065353216), "1065353216",
        get_float_imm=1065353216),
    row("float-imm-max", lambda: operand("FloatImmediate", MAX64), "18446744073709551615",
        get_float_imm=MAX64),
    row("reg-general", lambda: operand("Register", general(5)), "%General(5)", get_register="%r5"),
    row("reg-wide", lambda: operand("Register", wide(12)), "%Wide(12)", get_register="%rd12"),
    row("reg-float", lambda: operand("Register", float_reg(3)), "%Float(3)", get_register="%f3"),
    row("reg-special", lambda: operand("Register", special("TID", "X")), "%Special(TID, X)",
        get_register="%TID.X"),
    row("reg-special-none", lambda: operand("Register", special("LANEID", "None")),
        "%Special(LANEID, None)", get_register="%LANEID.None"),
    row("reg-custom", lambda: operand("Register", custom("foo")), '%Custom("foo")', get_register="%foo"),
    row("predicate", lambda: operand("Predicate", 3), "@%p3", get_register="%p3",
        get_predicate="%p3"),
    row("predicate-zero", lambda: operand("Predicate", 0), "@%p0", get_register="%p0",
        get_predicate="%p0"),
    row("predicate-max", lambda: operand("Predicate", MAX64), "@%p18446744073709551615",
        get_register="%p18446744073709551615", get_predicate="%p18446744073709551615"),
    row("memory", lambda: operand("Memory"), "[]"),
    row("memory-label", lambda: operand("MemoryLbl", "gdata"), "[gdata]", get_memory_lbl="gdata"),
    row("memory-label-empty", lambda: operand("MemoryLbl", ""), "[]", get_memory_lbl=""),
    row("memory-disp-zero", lambda: operand("MemoryRegDisp", general(1), 0), "[%General(1)]",
        get_memory_disp=("%r1", 0)),
    row("memory-disp-4", lambda: operand("MemoryRegDisp", general(1), 4), "[%General(1)+4]",
        get_memory_disp=("%r1", 4)),
    # -4 stored in two's complement
    row("memory-disp-minus-4", lambda: operand("MemoryRegDisp", general(1), 2**64 - 4),
        "[%General(1)+18446744073709551612]", get_memory_disp=("%r1", 18446744073709551612)),
    row("memory-disp-special", lambda: operand("MemoryRegDisp", special("TID", "X"), 8),
        "[%Special(TID, X)+8]", get_memory_disp=("%TID.X", 8)),
    row("memory-disp-wide", lambda: operand("MemoryRegDisp", wide(2), 8), "[%Wide(2)+8]",
        get_memory_disp=("%rd2", 8)),
    row("label", lambda: operand("Label", "main"), "main", get_label="main"),
    row("label-str", lambda: operand("Label", "$str$12"), "$str$12", get_label="$str$12"),
    row("label-empty", lambda: operand("Label", ""), "", get_label=""),
    row("vector", lambda: operand("VectorOperand", [general(1), wide(2)]), "vector"),
    row("vector-empty", lambda: operand("VectorOperand", []), "vector"),
    row("reg-pred-pair", lambda: operand("RegPredPair", wide(1), 2), "rp_pair",
        get_reg_pred_pair=("%rd1", "2")),
    row("reg-pred-pair-special", lambda: operand("RegPredPair", special("CLOCK64", "None"), 0),
        "rp_pair", get_reg_pred_pair=("%CLOCK64.None", "0")),
]


@pytest.mark.parametrize("make,text,accessors", OPERANDS)
def test_operand_text(make, text, accessors):
    assert str(make()) == text


@pytest.mark.parametrize("make,text,accessors", OPERANDS)
def test_operand_accessors(make, text, accessors):
    op = make()
    for name in ACCESSORS:
        result = getattr(op, name)()
        if name == "get_memory_disp" and result is not None:
            assert type(result) is tuple and len(result) == 2
            assert isinstance(result[0], ns.PTXRegister)
            result = (str(result[0]), result[1])
        if name == "get_reg_pred_pair" and result is not None:
            assert type(result) is tuple and all(type(part) is str for part in result)
        assert result == accessors.get(name), name


def test_memory_disp_register_is_a_new_copy_each_call():
    op = operand("MemoryRegDisp", special("TID", "X"), 8)
    first, second = op.get_memory_disp(), op.get_memory_disp()
    assert first[0] is not second[0]
    assert type(first[0]) is ns.PTXRegister.Special
    assert (int(first[0]._0), int(first[0]._1)) == (0, 1)


def test_register_operand_field_is_a_new_register_each_read():
    op = operand("Register", wide(12))
    assert op._0 is not op._0
    assert type(op._0) is ns.PTXRegister.Wide
    assert op._0._0 == 12


def test_vector_operand_list_is_copied_in_and_out():
    regs = [general(1), wide(2)]
    op = operand("VectorOperand", regs)
    regs.append(float_reg(3))
    listed = op._0
    listed.append(float_reg(4))
    assert [str(r) for r in op._0] == ["%r1", "%rd2"]
    assert op._0 is not op._0
    assert all(a is not b for a, b in zip(op._0, op._0))


def test_vector_operand_accepts_any_sequence_in_order():
    class Registers(collections.abc.Sequence):
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i >= 3:
                raise IndexError(i)
            return [general(9), special("NTID", "Y"), custom("q")][i]

    for source in ([general(9), special("NTID", "Y"), custom("q")], (general(9), special("NTID", "Y"), custom("q")),
                   Registers()):
        assert [str(r) for r in operand("VectorOperand", source)._0] == ["%r9", "%NTID.Y", "%q"]


# ---------------------------------------------------------------------------------------------------------------
# Quoted names in tagged forms


QUOTED = [
    ("plain", "foo", '"foo"'),
    ("empty", "", '""'),
    ("double-quote", 'a"b', '"a\\"b"'),
    ("backslash", "a\\b", '"a\\\\b"'),
    ("single-quote-kept", "it's", '"it\'s"'),
    ("tab-cr-lf-nul", "\t\r\n\0", '"\\t\\r\\n\\0"'),
    ("nul-before-digit", "\x001", '"\\01"'),
    ("control-1", "a\x01b", '"a\\u{1}b"'),
    ("escape", "\x1b[0m", '"\\u{1b}[0m"'),
    ("delete", "\x7f", '"\\u{7f}"'),
    ("c1-control", "\x85", '"\\u{85}"'),
    ("printable-non-ascii", "régistre", '"régistre"'),
    ("printable-astral", "😀", '"😀"'),
    ("space", "a b", '"a b"'),
]


@pytest.mark.parametrize("name,quoted", [pytest.param(n, q, id=i) for i, n, q in QUOTED])
def test_custom_name_quoted_in_tagged_form(name, quoted):
    assert str(operand("Register", custom(name))) == f"%Custom({quoted})"
    assert str(operand("MemoryRegDisp", custom(name), 0)) == f"[%Custom({quoted})]"
    assert str(operand("MemoryRegDisp", custom(name), 7)) == f"[%Custom({quoted})+7]"
    # The accessor gives the register text, which is not quoted.
    assert operand("Register", custom(name)).get_register() == "%" + name


# Characters that neither Python's str.isprintable() nor the usual debug escaping counts as printable: space
# separators other than the space itself, format characters, private use and unassigned code points.
NON_PRINTABLE = [
    ("no-break-space", "\u00a0"),
    ("ideographic-space", "\u3000"),
    ("soft-hyphen", "\u00ad"),
    ("zero-width-space", "\u200b"),
    ("line-separator", "\u2028"),
    ("byte-order-mark", "\ufeff"),
    ("arabic-number-sign", "\u0600"),
    ("language-tag", "\U000e0001"),
    ("private-use", "\ue000"),
    ("unassigned", "\u0378"),
    ("noncharacter", "\U0010ffff"),
]


@pytest.mark.parametrize("char", [pytest.param(c, id=i) for i, c in NON_PRINTABLE])
def test_non_printable_characters_escaped(char):
    assert not char.isprintable()
    assert str(operand("Register", custom("a" + char + "b"))) == f'%Custom("a\\u{{{ord(char):x}}}b")'


# ---------------------------------------------------------------------------------------------------------------
# Tagged forms of operands, as listed in the text of a parsed instruction


def instr_text(operands):
    return f"PTXInstruction(opcode='Mov', modifiers='u32', operands=[{operands}])"


TAGGED = [
    ("general", "mov.u32 %r1, 5;", "Register(General(1)), Immediate(5)"),
    ("special-none", "mov.u32 %rd1, %laneid;", "Register(Wide(1)), Register(Special(LANEID, None))"),
    ("float-and-special", "mov.u32 %f3, %ntid.z;", "Register(Float(3)), Register(Special(NTID, Z))"),
    ("custom", "mov.u32 %foo, 0f3F800000;", 'Register(Custom("foo")), FloatImmediate(1065353216)'),
    ("negative-immediate", "mov.u32 %r1, -5;", "Register(General(1)), Immediate(18446744073709551611)"),
    ("predicate", "mov.u32 %p1, %r1;", "Predicate(1), Register(General(1))"),
    ("memory-label", "mov.u32 %r1, [gdata];", 'Register(General(1)), MemoryLbl("gdata")'),
    ("memory-disp", "mov.u32 %r1, [%rd2+8];", "Register(General(1)), MemoryRegDisp(Wide(2), 8)"),
    ("memory-disp-zero", "mov.u32 %r1, [%r2];", "Register(General(1)), MemoryRegDisp(General(2), 0)"),
    ("memory-disp-negative", "mov.u32 %r1, [%r2+-4];",
     "Register(General(1)), MemoryRegDisp(General(2), 18446744073709551612)"),
    ("label", "mov.u32 %r1, main;", 'Register(General(1)), Label("main")'),
    ("label-dollar-dropped", "mov.u32 %r1, $L__BB0_2;", 'Register(General(1)), Label("L__BB0_2")'),
    ("label-str", "mov.u32 %r1, $str$12;", 'Register(General(1)), Label("$str$12")'),
    ("vector", "mov.u32 {%r1, %rd2, %tid.x}, 1;",
     "VectorOperand([General(1), Wide(2), Special(TID, X)]), Immediate(1)"),
    ("vector-empty", "mov.u32 {}, 1;", "VectorOperand([]), Immediate(1)"),
    ("reg-pred-pair", "mov.u32 %rd1|%p2, 1;", "RegPredPair(Wide(1), 2), Immediate(1)"),
]


@pytest.mark.parametrize("text,operands", [pytest.param(t, o, id=i) for i, t, o in TAGGED])
def test_tagged_forms_in_instruction_text(text, operands):
    assert str(zorvane.parse_instruction(text)) == instr_text(operands)


def test_parsed_negative_numbers_are_twos_complement():
    instr = zorvane.parse_instruction("mov.u32 [%r2+-4], -5;")
    disp, imm = instr.operands
    assert disp.get_memory_disp()[1] == 2**64 - 4
    assert imm.get_immediate() == 2**64 - 5
    assert imm._0 == 2**64 - 5
