# The class protocol shared by every tree class: construction, conversion, copying, indexing and lifetimes.
import copy
import gc
import pickle
import sys
import types
import weakref

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_90a\n.address_size 64\n"
SAMPLE = HEADER + ".visible .entry k(.param .u64 a)\n{\n.reg .b32 %r<5>;\nmov.u32 %r1, %tid.x;\nret;\n}\n"

def module_classes():
    """Every class the module makes, by name: the types of all values reachable from a parse through their
    properties, the bases of those types, and the variant classes that a sum type holds."""
    classes = set()
    values = [zorvane.parse_ptx(SAMPLE), zorvane.parse_function_body_line("ret;")]
    while values:
        value = values.pop()
        if isinstance(value, (list, tuple)):
            values.extend(value)
            continue
        if isinstance(value, dict):
            values.extend(value.values())
            continue
        if value is None or type(value) in (int, str, bool):
            continue
        is_class = isinstance(value, type)
        for cls in (value if is_class else type(value)).__mro__[:-1]:
            if cls not in classes:
                classes.add(cls)
                values.extend(v for v in vars(cls).values() if isinstance(v, type))
        if not is_class:
            values.extend(getattr(value, name) for name, attribute in vars(type(value)).items()
                          if type(attribute).__name__ == "getset_descriptor" and not name.startswith("__"))
    return {cls.__name__: cls for cls in classes}


# Which classes are which is pinned in tests/surface.txt; here they only choose the cases.
ns = types.SimpleNamespace(**module_classes())
VARIANTS = sorted(name for name, cls in vars(ns).items() if cls.__base__ is not object)
SUM_TYPES = sorted({getattr(ns, name).__base__.__name__ for name in VARIANTS})
ENUMS = sorted(name for name, cls in vars(ns).items() if "__int__" in vars(cls))
RECORDS = sorted(set(vars(ns)) - set(VARIANTS) - set(SUM_TYPES) - set(ENUMS))


def properties(obj):
    return [name for name, value in vars(type(obj)).items() if type(value).__name__ == "getset_descriptor"]


def describe(obj):
    """A plain, comparable picture of a tree value (objects themselves compare by identity only)."""
    if obj is None or isinstance(obj, (int, str)):
        return obj
    if isinstance(obj, (list, tuple)):
        return type(obj)(describe(x) for x in obj)
    name = type(obj).__name__
    if name in ENUMS:
        return (name, int(obj))
    if hasattr(type(obj), "__match_args__"):
        return (name, tuple(describe(getattr(obj, field)) for field in type(obj).__match_args__))
    if name in RECORDS:
        return (name, tuple(describe(getattr(obj, field)) for field in properties(obj)))
    raise AssertionError(f"not a tree value: {obj!r}")


class Index:
    """An object that is an integer only through the index protocol."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def error_text(excinfo):
    return str(excinfo.value)


def test_every_variant_is_constructed_below():
    assert sorted(name for name, _ in CONSTRUCTIONS) == VARIANTS


def test_parsed_objects_are_instances_of_the_cached_variant_classes():
    op = zorvane.parse_instruction("bra $L__BB0_2;").operands[0]
    assert type(op) is ns.PTXOperand.Label
    assert isinstance(op, ns.PTXOperand.Label)
    assert isinstance(op, ns.PTXOperand)
    assert not isinstance(op, ns.PTXRegister)
    assert ns.PTXOperand.Label is ns.PTXOperand_Label
    assert type(zorvane.parse_function_body_line("$L1:")) is ns.BodyItem.LabelDef
    assert type(zorvane.parse_ptx(SAMPLE)) is zorvane.PTXFile


# ---------------------------------------------------------------------------------------------------------------
# Construction of variants


def reg_special():
    return ns.PTXRegister.Special(ns.PTXSpecialRegister.TID, ns.PTXDirection.X)


CONSTRUCTIONS = [
    ("PTXOperand_Immediate", lambda: (5,)),
    ("PTXOperand_FloatImmediate", lambda: (1065353216,)),
    ("PTXOperand_Register", lambda: (ns.PTXRegister.General(1),)),
    ("PTXOperand_Predicate", lambda: (3,)),
    ("PTXOperand_Memory", lambda: ()),
    ("PTXOperand_MemoryLbl", lambda: ("gdata",)),
    ("PTXOperand_MemoryRegDisp", lambda: (ns.PTXRegister.Wide(2), 2**64 - 1)),
    ("PTXOperand_Label", lambda: ("main",)),
    ("PTXOperand_VectorOperand", lambda: ([ns.PTXRegister.General(1), reg_special(), ns.PTXRegister.Custom("c")],)),
    ("PTXOperand_RegPredPair", lambda: (ns.PTXRegister.Float(1), 2)),
    ("PTXRegister_General", lambda: (0,)),
    ("PTXRegister_Wide", lambda: (12,)),
    ("PTXRegister_Float", lambda: (2**64 - 1,)),
    ("PTXRegister_Special", lambda: (ns.PTXSpecialRegister.PM7_64, getattr(ns.PTXDirection, "None"))),
    ("PTXRegister_Custom", lambda: ("ünï😀",)),
    ("PTXStatement_CustomRegister", lambda: (ns.PTXSpace.CustomRegister, ns.PTXType.B32, "myreg")),
    ("PTXStatement_RegisterCount", lambda: (ns.PTXSpace.Register, ns.PTXType.PRED, 2**128 - 1)),
    ("PTXStatement_SharedMemory",
     lambda: (ns.PTXSpace.SharedMemory, ns.PTXType.B8, 128, ns.PTXOperand.Label("smem"))),
    # Values built from Python may hold any member and any operand.
    ("PTXStatement_LocalMemory",
     lambda: (ns.PTXSpace.SpecialRegister, ns.PTXType.U64, 2**64, ns.PTXOperand.Register(reg_special()))),
    ("PTXStatement_Pragma", lambda: ()),
    ("BodyItem_Statement", lambda: (ns.PTXStatement.RegisterCount(ns.PTXSpace.Register, ns.PTXType.B32, 4),)),
    ("BodyItem_Instruction", lambda: (zorvane.parse_instruction("@%p1 ld.global.u32 %r1, [%rd2+8];"),)),
    ("BodyItem_LabelDef", lambda: ("L__BB0_2",)),
    ("BodyItem_Call", lambda: ("$foo",)),
    ("BodyItem_Param", lambda: ()),
]


@pytest.mark.parametrize("name,make_args", CONSTRUCTIONS, ids=[n for n, _ in CONSTRUCTIONS])
def test_variant_round_trip(name, make_args):
    cls = getattr(ns, name)
    args = make_args()
    obj = cls(*args)
    assert type(obj) is cls
    assert isinstance(obj, getattr(ns, name.split("_")[0]))
    assert len(obj) == len(args)
    for i, arg in enumerate(args):
        assert describe(getattr(obj, f"_{i}")) == describe(arg)
        assert describe(obj[i]) == describe(arg)
        assert describe(obj[Index(i)]) == describe(arg)
    with pytest.raises(IndexError) as excinfo:
        obj[len(args)]
    assert error_text(excinfo) == "tuple index out of range"
    by_keyword = cls(**{f"_{i}": arg for i, arg in enumerate(args)})
    assert describe(by_keyword) == describe(obj)


def test_keyword_arguments_in_any_order():
    obj = ns.PTXStatement.RegisterCount(_2=7, _1=ns.PTXType.U64, _0=ns.PTXSpace.FloatRegister)
    assert describe(obj) == ("PTXStatement_RegisterCount", (("PTXSpace", 3), ("PTXType", 10), 7))
    obj = ns.PTXOperand.MemoryRegDisp(ns.PTXRegister.General(1), _1=4)
    assert str(obj) == "[%General(1)+4]"


def test_str_subclass_accepted_for_text():
    class Name(str):
        def __str__(self):
            return "other"

    assert ns.PTXOperand.Label(Name("main"))._0 == "main"
    assert type(ns.PTXOperand.Label(Name("main"))._0) is str


def test_text_keeps_nul_and_non_ascii():
    text = "a\0b ünï 😀 \U0010ffff"
    assert ns.PTXOperand.Label(text)._0 == text
    assert ns.BodyItem.Call(text)._0 == text


# ---------------------------------------------------------------------------------------------------------------
# Argument binding and conversion errors


def _registercount(*args, **kwargs):
    return ns.PTXStatement.RegisterCount(*args, **kwargs)


BINDING_ERRORS = [
    ("missing-last", lambda: ns.PTXStatement.RegisterCount(ns.PTXSpace.Register, ns.PTXType.B32),
     "PTXStatement_RegisterCount.__new__() missing 1 required positional argument: '_2'"),
    ("missing-only", lambda: ns.PTXOperand.Label(),
     "PTXOperand_Label.__new__() missing 1 required positional argument: '_0'"),
    ("missing-second", lambda: ns.PTXRegister.Special(ns.PTXSpecialRegister.TID),
     "PTXRegister_Special.__new__() missing 1 required positional argument: '_1'"),
    ("missing-by-keyword", lambda: ns.PTXRegister.Special(_1=ns.PTXDirection.X),
     "PTXRegister_Special.__new__() missing 1 required positional argument: '_0'"),
    ("too-many", lambda: ns.PTXOperand.Immediate(1, 2),
     "PTXOperand_Immediate.__new__() takes 1 positional arguments but 2 were given"),
    ("too-many-for-none", lambda: ns.PTXStatement.Pragma(1),
     "PTXStatement_Pragma.__new__() takes 0 positional arguments but 1 was given"),
    ("too-many-of-four", lambda: ns.PTXStatement.SharedMemory(1, 2, 3, 4, 5),
     "PTXStatement_SharedMemory.__new__() takes 4 positional arguments but 5 were given"),
    ("unexpected-keyword", lambda: ns.PTXOperand.Immediate(1, x=2),
     "PTXOperand_Immediate.__new__() got an unexpected keyword argument 'x'"),
    ("unexpected-keyword-no-fields", lambda: ns.BodyItem.Param(_0=1),
     "BodyItem_Param.__new__() got an unexpected keyword argument '_0'"),
    ("multiple-values", lambda: ns.PTXOperand.Immediate(1, _0=2),
     "PTXOperand_Immediate.__new__() got multiple values for argument '_0'"),
]


@pytest.mark.parametrize("call,message", [pytest.param(c, m, id=i) for i, c, m in BINDING_ERRORS])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as excinfo:
        call()
    assert error_text(excinfo) == message


def test_binding_error_with_several_missing():
    with pytest.raises(TypeError) as excinfo:
        ns.PTXRegister.Special()
    assert error_text(excinfo).startswith("PTXRegister_Special.__new__() missing 2 required positional arguments")


CAST_ERRORS = [
    ("int-for-enum", lambda: _registercount(0, ns.PTXType.B32, 1),
     "argument '_0': 'int' object cannot be cast as 'PTXSpace'"),
    ("other-enum", lambda: _registercount(ns.PTXType.B32, ns.PTXType.B32, 1),
     "argument '_0': 'PTXType' object cannot be cast as 'PTXSpace'"),
    ("second-field", lambda: _registercount(ns.PTXSpace.Register, ns.PTXSpace.Register, 1),
     "argument '_1': 'PTXSpace' object cannot be cast as 'PTXType'"),
    ("first-failure-wins", lambda: _registercount(ns.PTXSpace.Register, 2, -1),
     "argument '_1': 'int' object cannot be cast as 'PTXType'"),
    ("direction", lambda: ns.PTXRegister.Special(ns.PTXSpecialRegister.TID, ns.PTXSpecialRegister.TID),
     "argument '_1': 'PTXSpecialRegister' object cannot be cast as 'PTXDirection'"),
    ("operand-for-register", lambda: ns.PTXOperand.Register(ns.PTXOperand.Immediate(1)),
     "argument '_0': 'PTXOperand_Immediate' object cannot be cast as 'PTXRegister'"),
    ("str-for-register", lambda: ns.PTXOperand.Register("%r1"),
     "argument '_0': 'str' object cannot be cast as 'PTXRegister'"),
    ("register-for-operand",
     lambda: ns.PTXStatement.SharedMemory(ns.PTXSpace.SharedMemory, ns.PTXType.B8, 1, ns.PTXRegister.General(1)),
     "argument '_3': 'PTXRegister_General' object cannot be cast as 'PTXOperand'"),
    ("operand-for-statement", lambda: ns.BodyItem.Statement(ns.PTXOperand.Memory()),
     "argument '_0': 'PTXOperand_Memory' object cannot be cast as 'PTXStatement'"),
    ("statement-for-instruction", lambda: ns.BodyItem.Instruction(ns.PTXStatement.Pragma()),
     "argument '_0': 'PTXStatement_Pragma' object cannot be cast as 'PTXInstruction'"),
    ("body-item-for-instruction", lambda: ns.BodyItem.Instruction(zorvane.parse_function_body_line("ret;")),
     "argument '_0': 'BodyItem_Instruction' object cannot be cast as 'PTXInstruction'"),
    ("int-for-text", lambda: ns.PTXOperand.Label(5), "argument '_0': 'int' object cannot be cast as 'str'"),
    ("bytes-for-text", lambda: ns.PTXRegister.Custom(b"foo"),
     "argument '_0': 'bytes' object cannot be cast as 'str'"),
    ("none-for-text", lambda: ns.PTXStatement.CustomRegister(ns.PTXSpace.CustomRegister, ns.PTXType.B32, None),
     "argument '_2': 'NoneType' object cannot be cast as 'str'"),
    ("str-for-list", lambda: ns.PTXOperand.VectorOperand("%r1"), "argument '_0': Can't extract `str` to `Vec`"),
    ("empty-str-for-list", lambda: ns.PTXOperand.VectorOperand(""), "argument '_0': Can't extract `str` to `Vec`"),
]


@pytest.mark.parametrize("call,message", [pytest.param(c, m, id=i) for i, c, m in CAST_ERRORS])
def test_conversion_errors(call, message):
    with pytest.raises(TypeError) as excinfo:
        call()
    assert error_text(excinfo) == message


class _Qualified:
    class Nested:
        pass


def test_conversion_error_names_the_qualified_type():
    with pytest.raises(TypeError) as excinfo:
        ns.PTXOperand.Label(_Qualified.Nested())
    assert error_text(excinfo) == "argument '_0': '_Qualified.Nested' object cannot be cast as 'str'"


PREFIXED_TYPE_ERRORS = [
    ("str-for-u64", lambda: ns.PTXOperand.Immediate("5"), "_0"),
    ("float-for-u64", lambda: ns.PTXRegister.General(1.0), "_0"),
    ("none-for-u64", lambda: ns.PTXOperand.MemoryRegDisp(ns.PTXRegister.General(1), None), "_1"),
    ("str-for-u128", lambda: _registercount(ns.PTXSpace.Register, ns.PTXType.B32, "5"), "_2"),
    ("float-for-u128", lambda: _registercount(ns.PTXSpace.Register, ns.PTXType.B32, 5.0), "_2"),
    ("int-for-list", lambda: ns.PTXOperand.VectorOperand(5), "_0"),
    ("ints-in-list", lambda: ns.PTXOperand.VectorOperand([1, 2]), "_0"),
    ("operand-in-list", lambda: ns.PTXOperand.VectorOperand([ns.PTXRegister.General(1), ns.PTXOperand.Memory()]),
     "_0"),
    ("generator-for-list", lambda: ns.PTXOperand.VectorOperand(r for r in [ns.PTXRegister.General(1)]), "_0"),
    ("dict-for-list", lambda: ns.PTXOperand.VectorOperand({}), "_0"),
]


@pytest.mark.parametrize("call,field", [pytest.param(c, f, id=i) for i, c, f in PREFIXED_TYPE_ERRORS])
def test_conversion_errors_carry_the_argument_prefix(call, field):
    with pytest.raises(TypeError) as excinfo:
        call()
    assert error_text(excinfo).startswith(f"argument '{field}': ")


def test_lone_surrogate_in_text_is_rejected():
    with pytest.raises(UnicodeEncodeError):
        ns.PTXRegister.Custom("a\ud800")


INT_RANGES = [
    # (field width, value, expected: int stored or exception type)
    ("u64", 0, 0),
    ("u64", 2**64 - 1, 2**64 - 1),
    ("u64", Index(2**64 - 1), 2**64 - 1),
    ("u64", True, 1),
    ("u64", -1, OverflowError),
    ("u64", Index(-1), OverflowError),
    ("u64", 2**64, OverflowError),
    ("u64", 2**200, OverflowError),
    ("u128", 0, 0),
    ("u128", 2**64, 2**64),
    ("u128", 2**128 - 1, 2**128 - 1),
    ("u128", Index(2**100), 2**100),
    ("u128", -1, ValueError),
    ("u128", -(2**200), ValueError),
    ("u128", Index(-5), ValueError),
    ("u128", 2**128, OverflowError),
    ("u128", 2**200, OverflowError),
    ("u128", Index(2**128), OverflowError),
]


def _range_id(v):
    if isinstance(v, Index):
        return f"index({v.value})"
    if isinstance(v, type):
        return v.__name__
    return str(v)


@pytest.mark.parametrize("width,value,expected", INT_RANGES, ids=_range_id)
def test_integer_field_ranges(width, value, expected):
    if width == "u64":
        fields = [
            lambda v: ns.PTXOperand.Immediate(v)._0,
            lambda v: ns.PTXRegister.Wide(v)._0,
            lambda v: ns.PTXOperand.RegPredPair(ns.PTXRegister.General(1), v)._1,
        ]
    else:
        fields = [
            lambda v: _registercount(ns.PTXSpace.Register, ns.PTXType.B32, v)._2,
            lambda v: ns.PTXStatement.LocalMemory(ns.PTXSpace.LocalMemory, ns.PTXType.B8, v, ns.PTXOperand.Memory())._2,
        ]
    for field in fields:
        if isinstance(expected, type):
            with pytest.raises(expected) as excinfo:
                field(value)
            # The interpreter's own range errors pass through without the argument prefix.
            assert not error_text(excinfo).startswith("argument")
            if width == "u128" and expected is OverflowError:
                assert error_text(excinfo) == "Python int larger than 128 bits"
        else:
            result = field(value)
            assert type(result) is int
            assert result == expected


def test_registercount_edge_cases():
    with pytest.raises(OverflowError) as excinfo:
        _registercount(ns.PTXSpace.Register, ns.PTXType.B32, 2**128)
    assert error_text(excinfo) == "Python int larger than 128 bits"
    with pytest.raises(ValueError):
        _registercount(ns.PTXSpace.Register, ns.PTXType.B32, -1)


# ---------------------------------------------------------------------------------------------------------------
# Length and indexing


def test_special_register_indexing():
    reg = reg_special()
    assert len(reg) == 2
    assert int(reg[1]) == int(reg._1) == 1
    assert reg[1] is not reg._1
    with pytest.raises(IndexError) as excinfo:
        reg[2]
    assert error_text(excinfo) == "tuple index out of range"


@pytest.mark.parametrize("name", ["PTXStatement_Pragma", "PTXOperand_Memory", "BodyItem_Param"])
def test_fieldless_variant(name):
    obj = getattr(ns, name)()
    assert len(obj) == 0
    assert type(obj).__match_args__ == ()
    with pytest.raises(IndexError):
        obj[0]
    assert not hasattr(obj, "_0")


INDEX_ERRORS = [
    ("str", "0", TypeError),
    ("float", 1.0, TypeError),
    ("none", None, TypeError),
    ("slice", slice(0, 1), TypeError),
    ("negative", -1, OverflowError),
    ("beyond-u64", 2**64, OverflowError),
    ("past-end", 2, IndexError),
    ("huge", 2**63, IndexError),
    ("max-u64", 2**64 - 1, IndexError),
]


@pytest.mark.parametrize("index,error", [pytest.param(x, e, id=i) for i, x, e in INDEX_ERRORS])
def test_index_errors(index, error):
    reg = reg_special()
    with pytest.raises(error) as excinfo:
        reg[index]
    text = error_text(excinfo)
    if error is TypeError:
        assert text.startswith("argument 'idx': ")
    elif error is IndexError:
        assert text == "tuple index out of range"
    else:
        assert not text.startswith("argument")


# ---------------------------------------------------------------------------------------------------------------
# Structural pattern matching


def classify(op):
    match op:
        case ns.PTXOperand.Register(ns.PTXRegister.General(number)):
            return ("general", number)
        case ns.PTXOperand.Register(ns.PTXRegister.Special(sreg, _1=direction)):
            return ("special", repr(sreg), repr(direction))
        case ns.PTXOperand.Register(reg):
            return ("register", str(reg))
        case ns.PTXOperand.MemoryRegDisp(ns.PTXRegister.Wide(base), displacement):
            return ("memory", base, displacement)
        case ns.PTXOperand.VectorOperand([first, *rest]):
            return ("vector", str(first), len(rest))
        case ns.PTXOperand.Immediate(_0=value):
            return ("immediate", value)
        case ns.PTXOperand.Memory():
            return ("memory-without-address",)
        case ns.PTXOperand():
            return ("other", op.kind())
    return None


def test_match_parsed_operands():
    instr = zorvane.parse_instruction("mov.u32 %r7, %ctaid.y, %foo, [%rd4+16], {%f1, %r2}, 42, main;")
    assert [classify(op) for op in instr.operands] == [
        ("general", 7),
        ("special", "PTXSpecialRegister.CTAID", "PTXDirection.Y"),
        ("register", "%foo"),
        ("memory", 4, 16),
        ("vector", "%f1", 1),
        ("immediate", 42),
        ("other", "label"),
    ]
    assert classify(ns.PTXOperand.Memory()) == ("memory-without-address",)
    assert classify(ns.PTXRegister.General(1)) is None


def test_match_with_too_many_subpatterns_raises():
    with pytest.raises(TypeError):
        match ns.PTXStatement.Pragma():
            case ns.PTXStatement.Pragma(x):  # noqa: F841
                pass


def test_match_body_items():
    def what(item):
        match item:
            case ns.BodyItem.Statement(ns.PTXStatement.RegisterCount(_, _, count)):
                return ("registers", count)
            case ns.BodyItem.Instruction(instr):
                return ("instruction", str(instr.opcode))
            case ns.BodyItem.LabelDef(name):
                return ("label", name)
            case ns.BodyItem.Param():
                return ("param",)
        return None

    lines = [".reg .b32 %r<12>;", "ret;", "$L1:", "(.param .b32 a)"]
    assert [what(zorvane.parse_function_body_line(line)) for line in lines] == [
        ("registers", 12),
        ("instruction", "ret"),
        ("label", "L1"),
        ("param",),
    ]


# ---------------------------------------------------------------------------------------------------------------
# Construction refused, subclassing


@pytest.mark.parametrize("name", sorted(vars(ns)))
def test_object_new_cannot_make_an_empty_object(name):
    # An object without its native value would crash on first use.
    with pytest.raises(TypeError):
        object.__new__(getattr(ns, name))


@pytest.mark.parametrize("name", SUM_TYPES)
def test_sum_type_base_derives_only_its_variant_classes(name):
    # The base is a base type for its variant classes; a class derived from it in Python would make objects
    # without a value (through object.__new__), so deriving one is refused.
    base = getattr(ns, name)
    with pytest.raises(TypeError, match=f"^type '{name}' is not an acceptable base type$"):

        class Derived(base):
            def __new__(cls):
                return object.__new__(cls)


COPIES = [
    ("variant", lambda: ns.PTXOperand.Label("main")),
    ("fieldless-variant", lambda: ns.PTXStatement.Pragma()),
    ("enum", lambda: ns.PTXType.B32),
    ("record", lambda: zorvane.parse_instruction("ret;")),
    ("file", lambda: zorvane.parse_ptx(SAMPLE)),
]


@pytest.mark.parametrize("how", [copy.copy, copy.deepcopy, pickle.dumps], ids=["copy", "deepcopy", "pickle"])
@pytest.mark.parametrize("make", [pytest.param(m, id=i) for i, m in COPIES])
def test_copy_and_pickle_refused(make, how):
    # Copying would need a constructor; it must fail cleanly rather than make an object without a value.
    with pytest.raises(TypeError):
        how(make())


# ---------------------------------------------------------------------------------------------------------------
# Attributes, properties, weak references


OBJECTS = [
    ("variant", lambda: ns.PTXOperand.Label("main"), "_0"),
    ("enum", lambda: ns.PTXType.B32, None),
    ("instruction", lambda: zorvane.parse_instruction("ret;"), "offset"),
    ("file", lambda: zorvane.parse_ptx(SAMPLE), "header"),
    ("header", lambda: zorvane.parse_ptx(SAMPLE).header, "version"),
    ("function", lambda: zorvane.parse_ptx(SAMPLE).functions[0], "kind"),
    ("signature", lambda: zorvane.parse_ptx(SAMPLE).functions[0].signature, "parameters"),
    ("parameter", lambda: zorvane.parse_ptx(SAMPLE).functions[0].signature.parameters[0], "type_"),
    ("body", lambda: zorvane.parse_ptx(SAMPLE).functions[0].body, "instructions"),
    ("statement", lambda: zorvane.parse_function_body_line(".reg .b32 %r<5>;")._0, "_2"),
    ("body-item", lambda: zorvane.parse_function_body_line("ret;"), "_0"),
]


@pytest.mark.parametrize("make,prop", [pytest.param(m, p, id=i) for i, m, p in OBJECTS])
def test_no_instance_dict_and_read_only_properties(make, prop):
    obj = make()
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1
    if prop is not None:
        before = describe(getattr(obj, prop))
        with pytest.raises(AttributeError):
            setattr(obj, prop, getattr(obj, prop))
        with pytest.raises(AttributeError):
            delattr(obj, prop)
        assert describe(getattr(obj, prop)) == before
    with pytest.raises(TypeError):
        weakref.ref(obj)


def test_class_objects_accept_new_attributes():
    cls = ns.PTXOperand.Label
    cls.extra_for_test = 1
    try:
        assert ns.PTXOperand.Label("x").extra_for_test == 1
    finally:
        del cls.extra_for_test


# ---------------------------------------------------------------------------------------------------------------
# Descriptors and methods applied to the wrong receiver


WRONG_RECEIVER = [
    ("variant-field", lambda: vars(ns.PTXOperand.Label)["_0"].__get__(ns.PTXOperand.Immediate(1))),
    ("variant-field-other-sum", lambda: vars(ns.PTXRegister.Custom)["_0"].__get__(ns.PTXOperand.Label("x"))),
    ("second-field", lambda: vars(ns.PTXOperand.MemoryRegDisp)["_1"].__get__(ns.PTXOperand.RegPredPair(
        ns.PTXRegister.General(1), 2))),
    ("operand-method", lambda: ns.PTXOperand.kind(ns.PTXRegister.General(1))),
    ("accessor", lambda: ns.PTXOperand.get_label(ns.BodyItem.LabelDef("x"))),
    ("body-item-method", lambda: ns.BodyItem.as_instruction(ns.PTXOperand.Memory())),
    ("register-str", lambda: ns.PTXRegister.__str__(ns.PTXOperand.Label("x"))),
    ("record-method", lambda: ns.PTXInstruction.is_float(ns.PTXOperand.Memory())),
    ("record-property", lambda: vars(ns.PTXInstruction)["operands"].__get__(ns.PTXOperand.Memory())),
    ("file-method", lambda: zorvane.PTXFile.get_instruction(zorvane.parse_instruction("ret;"), 0)),
    ("enum-int", lambda: ns.PTXType.__int__(ns.PTXSpace.Register)),
    ("enum-repr", lambda: ns.PTXOpcode.__repr__(ns.PTXType.B32)),
]


@pytest.mark.parametrize("call", [pytest.param(c, id=i) for i, c in WRONG_RECEIVER])
def test_wrong_receiver_is_a_type_error(call):
    with pytest.raises(TypeError):
        call()


# ---------------------------------------------------------------------------------------------------------------
# Copies on every read, identity comparison


def test_every_read_is_a_new_object():
    instr = zorvane.parse_instruction("@%p1 ld.global.u32 %r1, [%rd2+8];")
    assert instr.operands is not instr.operands
    assert instr.opcode is not instr.opcode
    assert instr.modifiers is not instr.modifiers
    assert instr.operands[0] is not instr.operands[0]
    op = instr.operands[1]
    assert op._0 is not op._0
    stmt = ns.PTXStatement.SharedMemory(ns.PTXSpace.SharedMemory, ns.PTXType.B8, 1, ns.PTXOperand.Label("smem"))
    assert stmt._3 is not stmt._3
    assert stmt._0 is not ns.PTXSpace.SharedMemory


def test_changing_a_returned_list_changes_nothing():
    instr = zorvane.parse_instruction("mov.u32 %r1, %r2;")
    operands = instr.operands
    operands.append(ns.PTXOperand.Memory())
    operands.clear()
    assert len(instr.operands) == 2
    ptx = zorvane.parse_ptx(SAMPLE)
    ptx.functions.clear()
    ptx.custom_registers["x"] = "y"
    ptx.labels_ref.append("z")
    assert len(ptx.functions) == 1
    assert ptx.custom_registers == {}
    assert ptx.labels_ref == []


def test_comparison_is_identity():
    instr = zorvane.parse_instruction("mov.u32 %r1, %r2;")
    first, second = instr.operands[0], instr.operands[0]
    assert first == first
    assert first != second
    assert instr.opcode != instr.opcode
    assert hash(first) == hash(first)
    assert len({ns.PTXOperand.Memory(), ns.PTXOperand.Memory()}) == 2
    with pytest.raises(TypeError):
        first < second  # noqa: B015


def test_default_representation_for_non_enums():
    op = ns.PTXOperand.Label("x")
    assert "PTXOperand_Label object at 0x" in repr(op)
    stmt = ns.PTXStatement.Pragma()
    assert str(stmt) == repr(stmt)


def test_values_outlive_their_parents():
    ptx = zorvane.parse_ptx(SAMPLE)
    instr = ptx.functions[0].body.instructions[0]
    operand = instr.operands[1]
    register = operand._0
    del ptx, instr, operand
    gc.collect()
    assert str(register) == "%TID.X"


# ---------------------------------------------------------------------------------------------------------------
# Reference counts and allocations over repeated use


def _exercise(name, reg, index, instr):
    op = ns.PTXOperand.Label(name)
    op._0, op[0], op.get_label(), op.kind(), str(op)
    reg_op = ns.PTXOperand.MemoryRegDisp(reg, index)
    reg_op._0, reg_op._1, reg_op.get_memory_disp(), str(reg_op)
    ns.PTXOperand.VectorOperand([reg, reg])._0
    ns.BodyItem.Instruction(instr)._0.operands
    ns.PTXRegister.Special(ns.PTXSpecialRegister.TID, ns.PTXDirection.X)._1
    ns.PTXStatement.RegisterCount(ns.PTXSpace.Register, ns.PTXType.B32, index)._2
    for bad in (lambda: ns.PTXOperand.Label(reg), lambda: ns.PTXOperand.Immediate(name), lambda: op[name]):
        try:
            bad()
        except TypeError:
            pass


def test_reference_counts_steady_over_repeated_construction_and_reads():
    name = "".join(["shared", "_label"])  # built at run time, so not an interned constant
    reg = ns.PTXRegister.Wide(3)
    index = Index(5)
    instr = zorvane.parse_instruction("mov.u32 %r1, %r2;")
    watched = [name, reg, index, instr, ns.PTXOperand.Label, ns.PTXOperand.MemoryRegDisp, ns.PTXRegister.Wide,
               ns.PTXRegister.Special, ns.PTXSpecialRegister, ns.PTXDirection, ns.PTXInstruction, ns.PTXType,
               ns.BodyItem.Instruction, ns.PTXStatement.RegisterCount, ns.PTXSpecialRegister.TID]
    _exercise(name, reg, index, instr)
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(300):
        _exercise(name, reg, index, instr)
    after = [sys.getrefcount(obj) for obj in watched]
    assert after == before


def test_reference_counts_steady_over_parses():
    text = SAMPLE + "// " + "x" * 10
    bad = "".join([".version 8.5 ", "}"])

    def run():
        ptx = zorvane.parse_ptx(text)
        for function in ptx.functions:
            function.body.instructions, function.body.statements, function.signature.parameters
        ptx.get_instruction(0)
        zorvane.parse_instruction(text)
        try:
            zorvane.parse_ptx(bad)
        except ValueError:
            pass

    run()
    watched = [text, bad, zorvane.PTXFile, ns.PTXInstruction, ns.PTXFunction, ns.PTXStatement.RegisterCount]
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(200):
        run()
    assert [sys.getrefcount(obj) for obj in watched] == before


def test_no_allocation_growth_over_repeated_parses():
    def run():
        ptx = zorvane.parse_ptx(SAMPLE)
        for function in ptx.functions:
            for instr in function.body.instructions:
                str(instr), [str(op) for op in instr.operands], ptx.get_instruction(instr.offset)
            for stmt in function.body.statements:
                describe(stmt)
        ptx.custom_registers, ptx.labels_ref, describe(ptx.header)
        item = zorvane.parse_function_body_line("@%p1 ld.global.u32 %r1, [%rd2+8];")
        item.as_instruction(), item.kind()
        zorvane.parse_instruction("nonsense")
        try:
            zorvane.parse_ptx("nonsense")
        except ValueError:
            pass

    for _ in range(50):
        run()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(500):
        run()
    gc.collect()
    # A leak of even one object per round would add 500 blocks.
    assert sys.getallocatedblocks() - before < 100


def test_instruction_map_owns_one_reference_per_instruction():
    ptx = zorvane.parse_ptx(SAMPLE)
    offset = ptx.functions[0].body.instructions[0].offset
    stored = ptx.get_instruction(offset)
    assert ptx.get_instruction(offset) is stored
    count = sys.getrefcount(stored)
    for _ in range(100):
        ptx.get_instruction(offset)
    assert sys.getrefcount(stored) == count
    del ptx
    gc.collect()
    assert sys.getrefcount(stored) == count - 1
    assert str(stored) == "PTXInstruction(opcode='Mov', modifiers='u32', operands=[Register(General(1)), " \
                          "Register(Special(TID, X))])"


# ---------------------------------------------------------------------------------------------------------------
# get_instruction arguments


GET_INSTRUCTION_ERRORS = [
    ("missing", lambda f: f.get_instruction(), TypeError,
     "PTXFile.get_instruction() missing 1 required positional argument: 'addr'"),
    ("too-many", lambda f: f.get_instruction(1, 2), TypeError,
     "PTXFile.get_instruction() takes 1 positional arguments but 2 were given"),
    ("unexpected-keyword", lambda f: f.get_instruction(1, x=2), TypeError,
     "PTXFile.get_instruction() got an unexpected keyword argument 'x'"),
    ("multiple-values", lambda f: f.get_instruction(1, addr=2), TypeError,
     "PTXFile.get_instruction() got multiple values for argument 'addr'"),
    ("str", lambda f: f.get_instruction("1"), TypeError, None),
    ("negative", lambda f: f.get_instruction(-1), OverflowError, None),
    ("beyond-u64", lambda f: f.get_instruction(2**64), OverflowError, None),
]


@pytest.mark.parametrize("call,error,message", [pytest.param(c, e, m, id=i) for i, c, e, m in
                                                GET_INSTRUCTION_ERRORS])
def test_get_instruction_argument_errors(call, error, message):
    with pytest.raises(error) as excinfo:
        call(zorvane.parse_ptx(SAMPLE))
    if message is not None:
        assert error_text(excinfo) == message
    elif error is TypeError:
        assert error_text(excinfo).startswith("argument 'addr': ")
    else:
        assert not error_text(excinfo).startswith("argument")


def test_get_instruction_by_keyword_and_index():
    ptx = zorvane.parse_ptx(SAMPLE)
    offset = ptx.functions[0].body.instructions[0].offset
    assert ptx.get_instruction(addr=offset) is ptx.get_instruction(Index(offset))
    assert ptx.get_instruction(2**64 - 1) is None
