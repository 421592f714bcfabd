# The eight enumerations: members, values, representations, opcode mnemonics and the enumeration protocol.
import operator

import pytest

import zorvane
from ptx_tables import MEMBERS

HEADER = ".version 8.5\n.target sm_90a\n.address_size 64\n"

COUNTS = {
    "PTXType": 11,
    "PTXSpace": 6,
    "PTXDirection": 4,
    "PTXSpecialRegister": 42,
    "PTXTarget": 40,
    "PTXFunctionKind": 2,
    "PTXLinkDirective": 4,
    "PTXOpcode": 135,
}

SMALL_ENUMS = [name for name in MEMBERS if name != "PTXOpcode"]
ALL_MEMBERS = [
    pytest.param(cls, member, value, id=f"{cls}.{member}")
    for cls, members in MEMBERS.items()
    for value, member in enumerate(members)
]

_found = {}


def enum_class(name):
    """The enumeration class `name`, reached through the objects a parse returns (none is a module attribute)."""
    if not _found:
        instr = zorvane.parse_instruction("mov.u32 %r1, %tid.x;")
        special = instr.operands[1]._0
        stmt = zorvane.parse_function_body_line(".reg .b32 %r<5>;")._0
        _found.update(
            PTXOpcode=type(instr.opcode),
            PTXSpecialRegister=type(special._0),
            PTXDirection=type(special._1),
            PTXSpace=type(stmt._0),
            PTXType=type(stmt._1),
        )
        function = zorvane.parse_ptx(HEADER + ".visible .entry k()\n{\nret;\n}\n").functions[0]
        _found.update(
            PTXTarget=type(zorvane.parse_ptx(HEADER).header.target),
            PTXFunctionKind=type(function.kind),
            PTXLinkDirective=type(function.link_directive),
        )
    return _found[name]


@pytest.mark.parametrize("cls", list(MEMBERS))
def test_member_attributes_in_declaration_order(cls):
    enum = enum_class(cls)
    members = [name for name, value in vars(enum).items() if isinstance(value, enum)]
    assert members == MEMBERS[cls]
    assert len(members) == COUNTS[cls]


def test_opcode_values_follow_the_byte_order_of_their_mnemonics():
    enum = enum_class("PTXOpcode")
    members = sorted((v for v in vars(enum).values() if isinstance(v, enum)), key=int)
    mnemonics = [str(m) for m in members]
    assert [int(m) for m in members] == list(range(COUNTS["PTXOpcode"]))
    assert mnemonics == sorted(mnemonics)


@pytest.mark.parametrize("cls", list(MEMBERS))
def test_no_public_attributes_besides_members(cls):
    enum = enum_class(cls)
    assert [name for name in vars(enum) if not name.startswith("_")] == MEMBERS[cls]


@pytest.mark.parametrize("cls,member,value", ALL_MEMBERS)
def test_member_value_and_repr(cls, member, value):
    obj = getattr(enum_class(cls), member)
    assert type(obj) is enum_class(cls)
    assert type(int(obj)) is int
    assert int(obj) == value
    assert repr(obj) == f"{cls}.{member}"


@pytest.mark.parametrize("cls,member,value", [p for p in ALL_MEMBERS if p.values[0] != "PTXOpcode"])
def test_small_enum_str_is_repr(cls, member, value):
    obj = getattr(enum_class(cls), member)
    assert str(obj) == f"{cls}.{member}"


@pytest.mark.parametrize("cls,member,value", [p for p in ALL_MEMBERS if p.values[0] == "PTXOpcode"])
def test_opcode_str_is_mnemonic(cls, member, value):
    obj = getattr(enum_class(cls), member)
    assert str(obj) == member[0].lower() + member[1:]
    assert repr(obj) == f"PTXOpcode.{member}"


@pytest.mark.parametrize(
    "cls,member,value",
    [
        ("PTXType", "PRED", 0),
        ("PTXType", "U64", 10),
        ("PTXLinkDirective", "None", 3),
        ("PTXDirection", "None", 0),
        ("PTXTarget", "SM121A", 39),
        ("PTXTarget", "SM90A", 24),
        ("PTXSpecialRegister", "CLOCK64", 25),
        ("PTXSpecialRegister", "LANEMASK_EQ", 18),
        ("PTXSpace", "SpecialRegister", 1),
        ("PTXOpcode", "Mad24", 48),
        ("PTXOpcode", "Madc", 49),
        ("PTXOpcode", "Tld4", 105),
        ("PTXOpcode", "Xor", 134),
    ],
    ids=lambda v: str(v),
)
def test_landmark_values(cls, member, value):
    # Independent of the tables above: values that are easy to get wrong by one.
    assert int(getattr(enum_class(cls), member)) == value


@pytest.mark.parametrize(
    "member,text",
    [("Dp4a", "dp4a"), ("Tcgen05", "tcgen05"), ("Tld4", "tld4"), ("Clusterlaunchcontrol", "clusterlaunchcontrol")],
)
def test_opcode_mnemonic_landmarks(member, text):
    assert str(getattr(enum_class("PTXOpcode"), member)) == text


@pytest.mark.parametrize("cls", ["PTXDirection", "PTXLinkDirective"])
def test_member_named_none_is_an_attribute(cls):
    enum = enum_class(cls)
    member = getattr(enum, "None")
    assert member is not None
    assert type(member) is enum
    assert repr(member) == f"{cls}.None"


@pytest.mark.parametrize("cls", list(MEMBERS))
def test_class_attribute_is_one_object(cls):
    enum = enum_class(cls)
    first = MEMBERS[cls][0]
    assert getattr(enum, first) is getattr(enum, first)
    assert getattr(enum, first) == getattr(enum, first)


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
    member = getattr(enum_class(cls), MEMBERS[cls][2])
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
@pytest.mark.parametrize("cls", list(MEMBERS))
def test_no_construction_iteration_or_lookup(cls, use):
    with pytest.raises(TypeError):
        use(enum_class(cls))


def test_parsed_member_equals_class_attribute_only_by_int():
    parsed = zorvane.parse_function_body_line(".reg .b32 %r<5>;")._0._1
    B32 = enum_class("PTXType").B32
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
    PTXType = enum_class("PTXType")
    with pytest.raises(TypeError):
        PTXType.B32 < PTXType.U32  # noqa: B015


@pytest.mark.parametrize("cls", list(MEMBERS))
def test_member_attributes_cannot_be_set(cls):
    member = getattr(enum_class(cls), MEMBERS[cls][0])
    with pytest.raises(AttributeError):
        member.value = 1
