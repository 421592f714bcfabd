# The eight enumerations: the rule that orders the opcodes and names their mnemonics, and the enumeration protocol.
# (Every member with its value, representation and text is pinned in tests/surface.txt.)
import operator

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_90a\n.address_size 64\n"


def enum_classes():
    """The enumeration classes, reached through the objects a parse returns (none is a module attribute)."""
    instr = zorvane.parse_instruction("mov.u32 %r1, %tid.x;")
    special = instr.operands[1]._0
    stmt = zorvane.parse_function_body_line(".reg .b32 %r<5>;")._0
    function = zorvane.parse_ptx(HEADER + ".visible .entry k()\n{\nret;\n}\n").functions[0]
    found = [instr.opcode, special._0, special._1, stmt._0, stmt._1, zorvane.parse_ptx(HEADER).header.target,
             function.kind, function.link_directive]
    return {type(member).__name__: type(member) for member in found}


ENUMS = enum_classes()


def members(cls):
    return sorted((value for value in vars(ENUMS[cls]).values() if type(value) is ENUMS[cls]), key=int)


def test_opcode_values_follow_the_byte_order_of_their_mnemonics():
    # Each mnemonic is its member's name with the first letter in lower case, without exception.
    opcodes = members("PTXOpcode")
    mnemonics = [str(m) for m in opcodes]
    assert [int(m) for m in opcodes] == list(range(len(opcodes)))
    assert mnemonics == sorted(mnemonics)
    assert [f"PTXOpcode.{m[0].upper()}{m[1:]}" for m in mnemonics] == [repr(m) for m in opcodes]


@pytest.mark.parametrize("cls", list(ENUMS))
def test_class_attribute_is_one_object(cls):
    first = members(cls)[0]
    name = repr(first).split(".", 1)[1]
    assert getattr(ENUMS[cls], name) is getattr(ENUMS[cls], name)
    assert getattr(ENUMS[cls], name) == getattr(ENUMS[cls], name)


NOT_AN_INDEX = [
    pytest.param(bin, id="bin"),
    pytest.param(hex, id="hex"),
    pytest.param(operator.index, id="operator.index"),
    pytest.param(lambda m: [10, 11, 12, 13][m], id="list-index"),
    pytest.param(lambda m: range(m), id="range"),
]


@pytest.mark.parametrize("use", NOT_AN_INDEX)
@pytest.mark.parametrize("cls", ["PTXType", "PTXOpcode"])
def test_member_is_not_an_index(cls, use):
    member = members(cls)[2]
    with pytest.raises(TypeError):
        use(member)


NO_PROTOCOL = [
    pytest.param(lambda e: e(), id="call"),
    pytest.param(lambda e: e(0), id="call-by-value"),
    pytest.param(lambda e: list(e), id="iterate"),
    pytest.param(lambda e: e["B32"], id="lookup-by-name"),
    pytest.param(lambda e: e[0], id="lookup-by-value"),
]


@pytest.mark.parametrize("use", NO_PROTOCOL)
@pytest.mark.parametrize("cls", list(ENUMS))
def test_no_construction_iteration_or_lookup(cls, use):
    with pytest.raises(TypeError):
        use(ENUMS[cls])


def test_parsed_member_equals_class_attribute_only_by_int():
    parsed = zorvane.parse_function_body_line(".reg .b32 %r<5>;")._0._1
    B32 = ENUMS["PTXType"].B32
    assert repr(parsed) == "PTXType.B32"
    assert parsed is not B32
    assert parsed != B32
    assert not (parsed == B32)
    assert int(parsed) == int(B32)


def test_each_read_gives_a_new_member_object():
    stmt = zorvane.parse_function_body_line(".reg .b32 %r<5>;")._0
    assert stmt._1 is not stmt._1
    assert stmt._1 != stmt._1


def test_members_refuse_ordering():
    PTXType = ENUMS["PTXType"]
    with pytest.raises(TypeError):
        PTXType.B32 < PTXType.U32  # noqa: B015


@pytest.mark.parametrize("cls", list(ENUMS))
def test_member_attributes_cannot_be_set(cls):
    member = members(cls)[0]
    with pytest.raises(AttributeError):
        member.value = 1
