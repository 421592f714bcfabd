"""Reads the public surface of the built zorvane module and writes the two files that pin it.

tests/surface.txt records every fact of the surface that Python can see: the module's names, the functions and every
class with its base, flags, doc string and text signature, the enumeration members with their values and texts, the
variant classes of each sum type, __match_args__, the properties and methods with their doc strings and text
signatures, and the type of the values that each of them gives, as read from a sample of parses. zorvane.pyi, the
type stub, is made from that record and from the layout and doc texts below, which are all that is written by hand.
tests/test_surface.py compares both files with a fresh reading.

Usage: PYTHONPATH=build python tools/surface.py           rewrites both files from the module on the path
       PYTHONPATH=build python tools/surface.py --check   exits 1, naming the file, when either one differs
"""

from __future__ import annotations

import sys
import types
from collections.abc import Callable, Iterator
from typing import Any
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RECORD = ROOT / "tests" / "surface.txt"
STUB = ROOT / "zorvane.pyi"
LINE_LIMIT = 120  # of a line of either file

# ---------------------------------------------------------------------------------------------------------------
# The sample: parses that, with the fieldless variants made from Python, reach every class and give every property and
# method a value other than None (and None where it can be None).

MODULE = """\
.version 8.5
.target sm_90a
.address_size 64

.extern .func helper(.param .b32 x);

.visible .entry kernel(.param .u64 data, .param .b32 n)
{
.reg .pred %p<3>;
.reg .b32 %r<8>;
.reg .b64 %rd<4>;
.reg .f32 %f<2>;
.reg .b32 %named;
.reg .u64 %wide;
.shared .align 4 .b8 smem[128];
.local .align 8 .b8 depot[32];
.pragma "nounroll";
ld.param.u64 %rd1, [data];
mov.u32 %r1, %tid.x;
mov.u32 %named, %r1;
add.cc.u32 %r2|%p2, %r1, -1;
mov.b64 {%r3, %r4}, %rd1;
mov.f32 %f1, 0f3F800000;
ld.global.u32 %r5, [%rd1+8];
selp.u32 %r6, %r1, %r2, %p1;
@%p1 bra $L__BB0_1;
{ .reg .b32 temp_param_reg; call.uni helper, (); }
$L__BB0_1:
bra done;
ret;
}
"""
BODY_LINES = [".reg .b32 %r<4>;", "@%p1 ld.global.u32 %r1, [%rd2+8];", "$L__BB0_1:",
              "{ .reg .b32 temp_param_reg; call.uni helper, (); }", "(.param .b32 x)", "}"]
CALLS = {
    "parse_ptx": [MODULE],
    "parse_instruction": ["@%p1 ld.global.u32 %r1, [%rd2+8];", "}"],
    "parse_function_body_line": BODY_LINES,
}
# Arguments for the methods that take any: the offset of every instruction of a file, and one that is none.
PROBES: dict[str, Callable[[Any], list[tuple[Any, ...]]]] = {
    "get_instruction": lambda file: [(i.offset,) for f in file.functions for i in f.body.instructions] + [(1 << 40,)],
}

# ---------------------------------------------------------------------------------------------------------------
# Reading the module

FLAGS = [("heap type", 1 << 9), ("base type", 1 << 10), ("no instantiation", 1 << 7), ("immutable type", 1 << 8),
         ("gc", 1 << 14)]
PLAIN_TYPES = {int: "int", str: "str", bool: "bool"}


class Reading:
    """The classes found from the sample, and every value that each property and method gave."""

    def __init__(self, module: types.ModuleType) -> None:
        self.classes: dict[str, type] = {}
        self.seen: set[type] = set()  # the classes of the objects visited
        self.read: dict[tuple[str, str], list[Any]] = {}  # (declaring class, member) -> the values it gave
        self.kinds: dict[str, set[object]] = {}  # variant class -> what kind() gave
        self.returns = {name: [getattr(module, name)(text) for text in texts] for name, texts in CALLS.items()}
        self.visit(list(self.returns.values()))
        for cls in list(self.classes.values()):
            if self.is_variant(cls) and cls not in self.seen and not getattr(cls, "__match_args__"):
                self.visit(cls())  # a variant without fields that no parse gives

    def add_class(self, cls: type) -> None:
        for klass in cls.__mro__[:-1]:
            if klass.__name__ not in self.classes:
                self.classes[klass.__name__] = klass
                for value in vars(klass).values():
                    if isinstance(value, type):
                        self.add_class(value)

    def is_variant(self, cls: type) -> bool:
        return cls.__base__ is not object

    def visit(self, value: object) -> None:
        if isinstance(value, (list, tuple)):
            for item in value:
                self.visit(item)
            return
        if isinstance(value, dict) or value is None or type(value) in PLAIN_TYPES:
            return
        cls = type(value)
        self.add_class(cls)
        self.seen.add(cls)
        for klass in cls.__mro__[:-1]:
            for name, attribute in vars(klass).items():
                if name.startswith("__"):
                    continue
                if isinstance(attribute, types.GetSetDescriptorType):
                    results = [getattr(value, name)]
                elif isinstance(attribute, types.MethodDescriptorType):
                    signature = getattr(attribute, "__text_signature__")
                    if name not in PROBES and signature != "($self)":
                        raise SystemExit(f"{klass.__name__}.{name}{signature}: add its arguments to PROBES")
                    arguments = PROBES[name](value) if name in PROBES else [()]
                    results = [getattr(value, name)(*args) for args in arguments]
                else:
                    continue
                self.read.setdefault((klass.__name__, name), []).extend(results)
                if name == "kind" and isinstance(attribute, types.MethodDescriptorType):
                    self.kinds.setdefault(cls.__name__, set()).update(results)
                self.visit(results)

    def type_name(self, cls: type) -> str:
        if cls in PLAIN_TYPES:
            return PLAIN_TYPES[cls]
        if self.classes.get(cls.__name__) is not cls:
            raise SystemExit(f"a value of {cls!r}, which is not a class of the module")
        return cls.__bases__[0].__name__ if self.is_variant(cls) else cls.__name__

    def annotation(self, values: list[Any], where: str) -> str:
        """The type of the values read, spelt as an annotation: unions in the order first seen, None last."""
        groups: dict[str, list[Any]] = {}
        for value in values:
            if value is None:
                key = "None"
            elif type(value) in (list, dict):
                key = type(value).__name__
            elif type(value) is tuple:
                key = f"tuple/{len(value)}"
            else:
                key = self.type_name(type(value))
            groups.setdefault(key, []).append(value)
        spelt = []
        for key, group in groups.items():
            if key == "list":
                spelt.append(f"list[{self.annotation([x for v in group for x in v], where + ' items')}]")
            elif key == "dict":
                keys = self.annotation([k for v in group for k in v], where + " keys")
                items = self.annotation([x for v in group for x in v.values()], where + " values")
                spelt.append(f"dict[{keys}, {items}]")
            elif key.startswith("tuple/"):
                fields = [self.annotation([v[i] for v in group], f"{where} [{i}]") for i in range(len(group[0]))]
                spelt.append(f"tuple[{', '.join(fields)}]")
            elif key != "None":
                spelt.append(key)
        if not spelt:
            raise SystemExit(f"{where}: the sample gives no value other than None; add one that does")
        return " | ".join(spelt + (["None"] if "None" in groups else []))


def class_kind(cls: type, attributes: dict[str, Any]) -> str:
    if any(type(v) is cls for v in attributes.values()):
        return "enumeration"
    if any(isinstance(v, type) for v in attributes.values()):
        return "sum type"
    return "variant" if cls.__base__ is not object else "record"


def read_class(reading: Reading, cls: type) -> dict[str, Any]:
    attributes: dict[str, Any] = dict(vars(cls))
    kind = class_kind(cls, attributes)
    entry: dict[str, Any] = {
        "kind": kind,
        "type name": f"{cls.__module__}.{cls.__qualname__}",
        "metaclass": type(cls).__name__,
        "base": cls.__bases__[0].__name__,
        "flags": tuple([name for name, bit in FLAGS if cls.__flags__ & bit]
                       + ["instance dict"] * bool(cls.__dictoffset__)
                       + ["weak references"] * bool(cls.__weakrefoffset__)),
        "doc": cls.__doc__,
        "text_signature": getattr(cls, "__text_signature__"),
        "slots": tuple(sorted(name for name, value in attributes.items()
                              if name.startswith("__") and callable(value))),
    }
    members, variants, properties, methods, other = [], [], [], [], []
    for name, value in attributes.items():
        # __slotnames__ is copyreg's cache, left on a class that copy or pickle was tried on.
        if name in ("__module__", "__doc__", "__match_args__", "__slotnames__") or (
                name.startswith("__") and callable(value)):
            continue
        if type(value) is cls:
            member: Any = value
            members.append((name, int(member), repr(member), str(member)))
        elif isinstance(value, type):
            variants.append((name, value.__name__))
        elif isinstance(value, types.GetSetDescriptorType):
            read = reading.read.get((cls.__name__, name))
            if not read:
                raise SystemExit(f"{cls.__name__}.{name}: no object of the sample has it; add one")
            properties.append((name, value.__doc__, reading.annotation(read, f"{cls.__name__}.{name}")))
        elif isinstance(value, types.MethodDescriptorType):
            where = f"{cls.__name__}.{name}()"
            if name == "kind" and kind == "sum type":
                # kind() names the variant: its type is the literal of the names, in the order of the variants.
                names = [reading.kinds.get(variant.__name__, set()) for variant in attributes.values()
                         if isinstance(variant, type)]
                if any(len(found) != 1 for found in names):
                    raise SystemExit(f"{where}: the sample gives not one name for each variant: {names}")
                returns = "Literal[" + ", ".join(f'"{n}"' for (n,) in names) + "]"
            else:
                read = reading.read.get((cls.__name__, name))
                if not read:
                    raise SystemExit(f"{where}: no object of the sample has it; add one")
                returns = reading.annotation(read, where)
            methods.append((name, getattr(value, "__text_signature__"), value.__doc__, returns))
        else:
            other.append((name, type(value).__name__))
    if kind == "enumeration":
        entry["members"] = members
    if kind == "sum type":
        entry["variants"] = variants
    if "__match_args__" in attributes:
        entry["match_args"] = attributes["__match_args__"]
    if properties:
        entry["properties"] = properties
    if methods:
        entry["methods"] = methods
    if other:
        entry["other"] = other
    return entry


def class_order(reading: Reading) -> Iterator[type]:
    """Enumerations, then each sum type followed by its variants, then records; by name within each group."""
    classes = sorted(reading.classes.values(), key=lambda c: c.__name__)
    kinds = {cls: class_kind(cls, dict(vars(cls))) for cls in classes}
    yield from (cls for cls in classes if kinds[cls] == "enumeration")
    for cls in classes:
        if kinds[cls] == "sum type":
            yield cls
            yield from (value for value in vars(cls).values() if isinstance(value, type))
    yield from (cls for cls in classes if kinds[cls] == "record")


def read_surface(module: types.ModuleType) -> dict[str, Any]:
    """Everything Python can see of the module's surface, as plain data."""
    reading = Reading(module)
    functions = {}
    public = [name for name in vars(module) if not name.startswith("__")]
    for name in public:
        value = getattr(module, name)
        if isinstance(value, types.BuiltinFunctionType):
            if name not in CALLS:
                raise SystemExit(f"{name}(): add the texts to call it with to CALLS")
            functions[name] = {
                "qualname": value.__qualname__,
                "module": value.__module__,
                "self": getattr(value.__self__, "__name__", None),
                "doc": value.__doc__,
                "text_signature": getattr(value, "__text_signature__"),
                "returns": reading.annotation(reading.returns[name], name + "()"),
            }
    order = list(class_order(reading))
    if {cls.__name__ for cls in order} != set(reading.classes):
        raise SystemExit("a class is neither an enumeration, a sum type, one of their variants nor a record")
    return {
        "module": {"name": module.__name__, "doc": module.__doc__, "all": module.__all__, "attributes": public},
        "functions": functions,
        "classes": {cls.__name__: read_class(reading, cls) for cls in order},
    }


def literal(value: object, indent: str = "", lead: str = "") -> str:
    """A Python literal of the value, after `lead` on a line: on that line where it fits, else one key or item a
    line."""
    flat = repr(value)
    if len(indent + lead + flat) < LINE_LIMIT - 1 or not isinstance(value, (dict, list, tuple)) or not value:
        return flat
    inner = indent + "  "
    if isinstance(value, dict):
        items = [f"{inner}{key!r}: {literal(item, inner, f'{key!r}: ')}," for key, item in value.items()]
        return "{\n" + "\n".join(items) + f"\n{indent}}}"
    opening, closing = ("[", "]") if isinstance(value, list) else ("(", ")")
    return opening + "\n" + "\n".join(f"{inner}{literal(item, inner)}," for item in value) + f"\n{indent}{closing}"


def render_record(surface: dict[str, Any]) -> str:
    return ("# The public surface of the zorvane module, as Python sees it. Written by tools/surface.py from the\n"
            "# built module and compared with it by tests/test_surface.py; do not edit.\n" + literal(surface) + "\n")


# ---------------------------------------------------------------------------------------------------------------
# The stub: what the runtime cannot show. Its order and section comments, the types of the parameters that are not
# fields, and the doc texts that editors show. Variant classes follow their sum type; every function and every other
# class must be placed here once.

PREAMBLE = '''\
# Type stubs of the zorvane extension module: its functions and every class of the tree, as the runtime shows them.
# Written by tools/surface.py from tests/surface.txt; do not edit.
#
# Only the three functions and PTXFile are attributes of the module at run time. Every other class below is reached
# through the objects that parsing returns (type(obj)) or, for a variant class, as a class attribute of its sum type
# (PTXOperand.Label is PTXOperand_Label). The names are declared here so that annotations can use them; import them
# under `typing.TYPE_CHECKING` (or write the annotations as strings), since `from zorvane import PTXOperand` fails at
# run time.
#
# Tree objects are immutable and compare by identity. Every property read returns new objects, so two reads are
# never `==`; compare enumeration members with int().

from collections.abc import Sequence
from typing import ClassVar, Literal, Never, SupportsIndex, TypeAlias, final, overload

from typing_extensions import disjoint_base
'''

LAYOUT: list[tuple[str | None, list[str]]] = [
    (None, ["parse_ptx", "parse_instruction", "parse_function_body_line"]),
    ('Enumerations: one class attribute per member, in value order; int() gives the value, repr() "Class.Member".\n'
     "A member named None exists on PTXDirection and PTXLinkDirective; Python syntax cannot declare it, so it is "
     "reached\nas getattr(PTXDirection, \"None\") and typed as Any there.",
     ["PTXOpcode", "PTXType", "PTXSpace", "PTXDirection", "PTXSpecialRegister", "PTXTarget", "PTXFunctionKind",
      "PTXLinkDirective"]),
    ("Registers: a tagged union; each variant is a class of its own with positional fields _0, _1.", ["PTXRegister"]),
    ("Operands: kind() names the variant; each accessor answers its own variant and returns None for the others.",
     ["PTXOperand"]),
    ("Instructions", ["PTXInstruction"]),
    ("Declarations inside a function body", ["PTXStatement"]),
    ("Body lines, as parse_function_body_line returns them", ["BodyItem"]),
    ("Functions, header and file", ["PTXFunctionParameter", "PTXFunctionSignature", "PTXFunctionBody", "PTXFunction",
                                    "PTXHeader", "PTXFile"]),
]

PARAMETERS = {"parse_ptx": ["str"], "parse_instruction": ["str"], "parse_function_body_line": ["str"],
              "PTXFile.get_instruction": ["SupportsIndex"]}

DOCS = {
    "parse_ptx": 'Parses a whole PTX module.\n\nRaises ValueError "error at LINE:COL: expected ..." when the text '
                 "does not parse.\n",
    "parse_instruction": 'Parses one instruction, with its ";"; None when the text is not one.',
    "parse_function_body_line": "Parses one line of a function body; None when the text is not one.",
    "PTXOpcode": 'Instruction mnemonic. str() gives the mnemonic ("mad24"), repr() "PTXOpcode.Mad24".',
    "PTXType": "Data type of a declaration, parameter or register range.",
    "PTXSpace": "Space that a declaration statement declares into.",
    "PTXDirection": "Component of a special register: None (value 0, via getattr), X, Y, Z.",
    "PTXSpecialRegister": "Special (hardware-defined) register.",
    "PTXTarget": "Target architecture named by the module header.",
    "PTXFunctionKind": "Kernel (.entry) or Function (.func).",
    "PTXLinkDirective": "Linkage of a function: Extern, Visible, Weak, or None (value 3, via getattr) when none is "
                        "written.",
    "PTXRegister": 'A register; str() gives its text ("%r5", "%rd12", "%f3", "%TID.X", "%name").',
    "PTXRegister_General": "%r<_0>",
    "PTXRegister_Wide": "%rd<_0>",
    "PTXRegister_Float": "%f<_0>",
    "PTXRegister_Special": "A special register _0 with its component _1 (PTXDirection None when it has none).",
    "PTXRegister_Custom": 'A register known by its name _0 (without the "%").',
    "PTXOperand": 'One operand of an instruction. str() gives the operand text ("%General(5)", "[%Wide(2)+8]", '
                  '"L__BB0_2").',
    "PTXOperand.kind": "The variant's name.",
    "PTXOperand.get_float_imm": 'FloatImmediate: the bit pattern written after "0f".',
    "PTXOperand.get_register": 'Register: the register text ("%r5"); Predicate: "%p" and its number.',
    "PTXOperand.get_label": "Label: the label text.",
    "PTXOperand.get_immediate": "Immediate: the value (a negative literal as its 64-bit two's complement).",
    "PTXOperand.get_memory_lbl": "MemoryLbl: the label between the brackets.",
    "PTXOperand.get_memory_disp": "MemoryRegDisp: the register and the displacement (0 when none is written).",
    "PTXOperand.get_predicate": 'Predicate: "%p" and its number.',
    "PTXOperand.get_reg_pred_pair": 'RegPredPair: the register text and the predicate number without a prefix '
                                    '("%rd1", "2").',
    "PTXOperand_Immediate": "An integer immediate (a negative literal as its 64-bit two's complement).",
    "PTXOperand_FloatImmediate": 'A float immediate: the bit pattern written after "0f", as an integer.',
    "PTXOperand_Register": "A register.",
    "PTXOperand_Predicate": "The predicate register %p<_0>.",
    "PTXOperand_Memory": "A memory operand without address data (never produced by parsing).",
    "PTXOperand_MemoryLbl": "A memory operand addressed by a label: [_0].",
    "PTXOperand_MemoryRegDisp": "A memory operand addressed by a register and a displacement: [_0+_1].",
    "PTXOperand_Label": 'A label or symbol name (a local label without its "$").',
    "PTXOperand_VectorOperand": "A brace-enclosed register list.",
    "PTXOperand_RegPredPair": "A register paired with the predicate register %p<_1>.",
    "PTXInstruction": "One instruction. str() gives \"PTXInstruction(opcode='Ld', modifiers='global.u32', "
                      "operands=[...])\".",
    "PTXInstruction.offset": "Byte offset of the mnemonic in the UTF-8 text that was parsed.",
    "PTXInstruction.modifiers": 'The modifiers without their leading dots, joined by "." ("global.u32"; "" for none).',
    "PTXInstruction.is_predicated": 'The number n of the guard "@%pn", or None without a guard (a guard "@%p0" gives '
                                    '0).',
    "PTXInstruction.is_float": 'Whether "f32", "f64" or "f8" occurs anywhere in the modifiers.',
    "PTXStatement": "A declaration inside a function body.",
    "PTXStatement_CustomRegister": 'One register declared by name: space _0, type _1, name _2 (without the "%").',
    "PTXStatement_RegisterCount": 'A numbered register range: space _0, type _1, count _2 (the number between "<" '
                                  'and ">").',
    "PTXStatement_SharedMemory": "An array in shared memory: space _0, element type _1, element count _2, name _3 "
                                 "(a Label operand).",
    "PTXStatement_LocalMemory": "An array in local memory: space _0, element type _1, element count _2, name _3 "
                                "(a Label operand).",
    "PTXStatement_Pragma": "A pragma; its text is not kept.",
    "BodyItem": "One line of a function body.",
    "BodyItem.kind": "The variant's name.",
    "BodyItem.as_instruction": "The instruction of an Instruction line (a new object); None for the other variants.",
    "BodyItem_Statement": "A declaration or pragma line.",
    "BodyItem_Instruction": "An instruction line.",
    "BodyItem_LabelDef": 'A label definition: the name without "$" and ":".',
    "BodyItem_Call": "A complete call sequence block: the name of the called function.",
    "BodyItem_Param": "A function parameter list line.",
    "PTXFunctionBody": "A function body: its declarations and its instructions, each in written order (labels "
                       "and calls\nare not kept).",
    "PTXFunction.offset": "Byte offset of the function's first keyword in the UTF-8 text that was parsed.",
    "PTXFunction.link_directive": "The member named None (not Python's None) when no link directive is written.",
    "PTXFunction.body": 'Both lists are empty for a declaration that ends with ";".',
    "PTXHeader.version": 'As written after .version, e.g. "8.5".',
    "PTXFile": "A parsed PTX module (parse_ptx).",
    "PTXFile.labels_ref": 'Names referenced by Label and MemoryLbl operands, in order, duplicates kept; names '
                          'starting with "L"\n(local branch labels) are left out.',
    "PTXFile.custom_registers": 'Custom register names, in lower case, mapped to replacement names: "cr0", "cr1", ... '
                                'for 32-bit\nregisters, "crd0", ... for 64-bit ones, counted per function.',
    "PTXFile.get_instruction": "The instruction whose mnemonic starts at byte offset addr (the same object on every "
                               "call), or None.",
}

# The special methods a stub declares, in this order, by what the runtime's class defines.
SLOT_STUBS = {"__repr__": "def __repr__(self) -> str: ...", "__int__": "def __int__(self) -> int: ...",
              "__str__": "def __str__(self) -> str: ...", "__len__": "def __len__(self) -> int: ..."}
# Defined by the runtime, but not for a stub to declare: __new__ and __getitem__ are written from the fields, and a
# sum type's __init_subclass__ only refuses classes derived in Python.
SLOTS_WRITTEN_OTHERWISE = {"__new__", "__getitem__", "__init_subclass__"}


def parameter_names(text_signature: str) -> list[str]:
    names = [p.strip() for p in text_signature.strip("()").split(",") if p.strip()]
    return [name for name in names if not name.startswith("$")]


def docstring(doc: str, indent: str) -> list[str]:
    if doc.endswith('"') or '"""' in doc:
        raise SystemExit(f"a doc text that ends in a quote cannot be a stub doc string: {doc!r}")
    lines = doc.rstrip("\n").split("\n")
    text = [indent + '"""' + lines[0]] + [indent + line if line else "" for line in lines[1:]]
    if doc.endswith("\n"):
        return text + [indent + '"""']
    text[-1] += '"""'
    return text


def definition(head: str, returns: str, doc: str | None, indent: str) -> list[str]:
    """A def line (split the way formatters split one that is too long) with its doc string or "...".
    `head` is "name(parameters)"."""
    line = f"{indent}def {head} -> {returns}:"
    if len(line) + 4 > LINE_LIMIT and returns.startswith("Literal["):
        name, parameters = head.split("(", 1)
        options = returns.removeprefix("Literal[").removesuffix("]").split(", ")
        lines = [f"{indent}def {name}(", f"{indent}    {parameters.removesuffix(')')},", f"{indent}) -> Literal["]
        lines += [f"{indent}    {option}," for option in options] + [f"{indent}]:"]
    else:
        lines = [line]
    if doc is None:
        lines[-1] += " ..."
        return lines
    return lines + docstring(doc, indent + "    ")


def parameter_type(field_type: str) -> str:
    """What a constructor accepts for a field that reads as `field_type`."""
    if field_type == "int":
        return "SupportsIndex"
    if field_type.startswith("list["):
        return "Sequence[" + field_type.removeprefix("list[")
    return field_type


def stub_class(name: str, entry: dict[str, Any], indent: str = "    ") -> list[str]:
    kind = entry["kind"]
    base = "" if entry["base"] == "object" else f"({entry['base']})"
    lines = ["@disjoint_base" if "base type" in entry["flags"] else "@final", f"class {name}{base}:"]
    body: list[str] = []
    if name in DOCS:
        body += docstring(DOCS[name], indent) + [""]
    for member, value, _, _ in entry.get("members", []):
        if member == "None":
            body.append(f'{indent}# None (value {value}): getattr({name}, "None"), as no stub can declare a member of '
                        "that name")
        else:
            body.append(f"{indent}{member}: ClassVar[{name}]")
    for attribute, variant in entry.get("variants", []):
        body.append(f"{indent}{attribute}: TypeAlias = {variant}")
    fields: list[tuple[str, str]] = []
    if kind == "variant":
        properties = {p: t for p, _, t in entry.get("properties", [])}
        fields = [(field, properties[field]) for field in entry["match_args"]]
        body.append(f"{indent}__match_args__ = {entry['match_args']!r}".replace("'", '"'))
        parameters = "".join(f", {field}: {parameter_type(t)}" for field, t in fields)
        body.append(f"{indent}def __new__(cls{parameters}) -> {name}: ...")
    for prop, _, returns in entry.get("properties", []):
        body.append(f"{indent}@property")
        body += definition(f"{prop}(self)", returns, DOCS.get(f"{name}.{prop}"), indent)
    for method, text_signature, _, returns in entry.get("methods", []):
        names = parameter_names(text_signature)
        types_ = PARAMETERS.get(f"{name}.{method}", [])
        if len(types_) != len(names):
            raise SystemExit(f"{name}.{method}{text_signature}: PARAMETERS gives the types {types_}")
        parameters = "".join(f", {p}: {t}" for p, t in zip(names, types_))
        body += definition(f"{method}(self{parameters})", returns, DOCS.get(f"{name}.{method}"), indent)
    for slot in entry["slots"]:
        if slot not in SLOT_STUBS and slot not in SLOTS_WRITTEN_OTHERWISE:
            raise SystemExit(f"{name}.{slot}: the stub has no declaration for this special method")
    body += [indent + stub for slot, stub in SLOT_STUBS.items() if slot in entry["slots"]]
    if "__getitem__" in entry["slots"]:
        distinct = list(dict.fromkeys(t for _, t in fields))
        if len(fields) < 2:
            returns = fields[0][1] if fields else "Never"
            body.append(f"{indent}def __getitem__(self, idx: SupportsIndex, /) -> {returns}: ...")
        else:
            for index, (_, field_type) in enumerate(fields):
                body += [f"{indent}@overload",
                         f"{indent}def __getitem__(self, idx: Literal[{index}], /) -> {field_type}: ..."]
            body += [f"{indent}@overload",
                     f"{indent}def __getitem__(self, idx: SupportsIndex, /) -> {' | '.join(distinct)}: ..."]
    return lines + (body or [indent + "..."])


def render_stub(surface: dict[str, Any]) -> str:
    functions: dict[str, dict[str, Any]] = surface["functions"]
    classes: dict[str, dict[str, Any]] = surface["classes"]
    placed = [name for _, names in LAYOUT for name in names]
    variants = {variant for entry in classes.values() for _, variant in entry.get("variants", [])}
    if sorted(placed) != sorted(set(functions) | set(classes) - variants):
        raise SystemExit(f"LAYOUT places {sorted(placed)}; the module has {sorted(set(functions) | set(classes))}")
    known = set(functions) | set(classes) | {
        f"{name}.{member[0]}" for name, entry in classes.items()
        for member in [*entry.get("properties", []), *entry.get("methods", [])]}
    if set(DOCS) - known:
        raise SystemExit(f"DOCS names what the module does not have: {sorted(set(DOCS) - known)}")

    out = [PREAMBLE, f"__all__ = {surface['module']['all']!r}".replace("'", '"'), ""]
    for comment, names in LAYOUT:
        if comment is not None:
            out += ["# ---- " + comment.replace("\n", "\n# "), ""]
        for name in names:
            if name in functions:
                entry = functions[name]
                parameters = ", ".join(f"{p}: {t}" for p, t in zip(parameter_names(entry["text_signature"]),
                                                                   PARAMETERS[name], strict=True))
                out += definition(f"{name}({parameters})", entry["returns"], DOCS.get(name), "") + [""]
                continue
            out += stub_class(name, classes[name]) + [""]
            for _, variant in classes[name].get("variants", []):
                out += stub_class(variant, classes[variant]) + [""]
    return "\n".join(out).rstrip("\n") + "\n"


def main(argv: list[str]) -> int:
    import zorvane

    surface = read_surface(zorvane)
    outputs = {RECORD: render_record(surface), STUB: render_stub(surface)}
    if argv == ["--check"]:
        stale = [path for path, text in outputs.items() if path.read_text(encoding="utf-8") != text]
        for path in stale:
            print(f"{path.relative_to(ROOT)} differs from the module; run tools/surface.py to rewrite it")
        return 1 if stale else 0
    if argv:
        print(__doc__)
        return 2
    for path, text in outputs.items():
        path.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
