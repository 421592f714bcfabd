# The type stubs against the module: stubtest, the stub's annotations against the values the runtime returns, and
# mypy over code that walks a tree (what it must accept and what it must report).
from __future__ import annotations

import ast
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import zorvane
from run_stubtest import reachable_classes
from test_readme import readme_blocks

REPO_ROOT = Path(__file__).resolve().parent.parent
STUB = REPO_ROOT / "zorvane.pyi"
EXAMPLES = sorted((REPO_ROOT / "examples").glob("*.py"))
SUM_TYPES = ["PTXOperand", "PTXRegister", "PTXStatement", "BodyItem"]
HEADER = ".version 8.5\n.target sm_80\n.address_size 64\n"


@pytest.fixture(scope="module")
def mypy_installed() -> None:
    """Skips without mypy, unless ZORVANE_REQUIRE_MYPY is set (as CI does), where a missing mypy fails."""
    if os.environ.get("ZORVANE_REQUIRE_MYPY"):
        import mypy  # noqa: F401
    else:
        pytest.importorskip("mypy")


def module_env() -> dict[str, str]:
    """The environment of a child process that imports the zorvane this process imported."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(Path(zorvane.__file__).parent), env.get("PYTHONPATH")]))
    return env


# ---------------------------------------------------------------------------------------------------------------
# The stub as data: its classes, their annotated members, and the functions of the module


def stub_classes() -> dict[str, ast.ClassDef]:
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def stub_functions() -> dict[str, ast.FunctionDef]:
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def is_property(function: ast.FunctionDef) -> bool:
    return any(isinstance(d, ast.Name) and d.id == "property" for d in function.decorator_list)


def own_members(node: ast.ClassDef) -> dict[str, list[ast.FunctionDef]]:
    """The functions a stub class declares itself, overloads grouped by name."""
    found: dict[str, list[ast.FunctionDef]] = {}
    for item in node.body:
        if isinstance(item, ast.FunctionDef):
            found.setdefault(item.name, []).append(item)
    return found


def members(classes: dict[str, ast.ClassDef], name: str) -> dict[str, tuple[str, list[ast.FunctionDef]]]:
    """The functions a stub class declares or inherits from another stub class, with the class declaring each."""
    found: dict[str, tuple[str, list[ast.FunctionDef]]] = {}
    for base in classes[name].bases:
        if isinstance(base, ast.Name) and base.id in classes:
            found.update(members(classes, base.id))
    found.update({member: (name, overloads) for member, overloads in own_members(classes[name]).items()})
    return found


def conforms(value: object, annotation: ast.expr) -> bool:
    """Whether a runtime value is an instance of the type that a stub annotation spells."""
    match annotation:
        case ast.Constant(value=None):
            return value is None
        case ast.Name(id="int" | "str" | "bool" as builtin):
            return type(value).__name__ == builtin
        case ast.Name(id=class_name):
            return any(klass.__name__ == class_name for klass in type(value).__mro__)
        case ast.BinOp(op=ast.BitOr(), left=left, right=right):
            return conforms(value, left) or conforms(value, right)
        case ast.Subscript(value=ast.Name(id="list"), slice=item):
            return type(value) is list and all(conforms(v, item) for v in value)
        case ast.Subscript(value=ast.Name(id="dict"), slice=ast.Tuple(elts=[key, item])):
            return type(value) is dict and all(conforms(k, key) and conforms(v, item) for k, v in value.items())
        case ast.Subscript(value=ast.Name(id="tuple"), slice=ast.Tuple(elts=items)):
            return (type(value) is tuple and len(value) == len(items)
                    and all(conforms(v, item) for v, item in zip(value, items)))
        case ast.Subscript(value=ast.Name(id="Literal"), slice=ast.Tuple(elts=options)):
            return any(type(value) is type(o.value) and value == o.value for o in options)
        case ast.Subscript(value=ast.Name(id="Literal"), slice=ast.Constant(value=option)):
            return type(value) is type(option) and value == option
    raise AssertionError(f"the check knows no annotation {ast.unparse(annotation)}")


# Body lines and instructions that, with the example module, give every variant and every accessor a value.
EXTRA_LINES = [
    ".shared .align 4 .b8 smem[128];",
    ".local .align 8 .b8 __local_depot0[32];",
    '.pragma "nounroll";',
    "$L__BB0_1:",
    "{ .reg .b32 temp_param_reg; call.uni foo, (); }",
    "(.param .b32 x)",
    ".reg .b32 %r<4>;",
    ".reg .b32 %named;",
    "@%p0 bra $L__BB0_1;",
    "mov.b64 {%r1, %r2}, %rd1;",
    "add.cc.u32 %r1|%p2, %r3, 1;",
]


def sample_objects() -> list[object]:
    sample = (REPO_ROOT / "examples" / "vector_sum.ptx").read_text(encoding="utf-8")
    objects: list[object] = [zorvane.parse_ptx(sample)]
    objects += [zorvane.parse_function_body_line(line) for line in EXTRA_LINES]
    objects += [zorvane.parse_instruction(line) for line in EXTRA_LINES[-3:]]
    operand_class = type(zorvane.parse_instruction("bra L;").operands[0]).__base__
    objects.append(operand_class.Memory())  # no parse gives this variant
    assert None not in objects
    return objects


def test_stub_declares_exactly_the_runtime_classes():
    runtime = reachable_classes()
    assert len(runtime) == 44
    assert sorted(stub_classes()) == sorted(runtime)


@pytest.mark.parametrize("sum_type", SUM_TYPES)
def test_variant_attributes_name_their_classes(sum_type):
    # stubtest sees an alias only as some class; this checks which one, and the order of the variants.
    declared = [
        (item.target.id, item.value.id)
        for item in stub_classes()[sum_type].body
        if isinstance(item, ast.AnnAssign) and ast.unparse(item.annotation) == "TypeAlias"
    ]
    base = reachable_classes()[sum_type]
    runtime = [(name, value.__name__) for name, value in vars(base).items() if isinstance(value, type)]
    assert declared == runtime


def test_annotations_describe_the_values_read():
    classes = stub_classes()
    functions = stub_functions()
    checked: set[tuple[str, str]] = set()
    wrong: list[str] = []

    def check(where: str, value: object, annotation: ast.expr | None) -> None:
        assert annotation is not None, f"{where} has no annotation"
        if not conforms(value, annotation):
            wrong.append(f"{where} returned {value!r}, annotated {ast.unparse(annotation)}")

    def visit(obj: object) -> None:
        if isinstance(obj, (list, tuple)):
            for item in obj:
                visit(item)
            return
        if obj is None or isinstance(obj, (int, str, dict)):
            return
        name = type(obj).__name__
        for member, (declaring, overloads) in members(classes, name).items():
            function = overloads[0]
            where = f"{name}.{member}"
            if is_property(function):
                results = [getattr(obj, member)]
            elif member == "get_instruction":
                offsets = [i.offset for f in obj.functions for i in f.body.instructions] + [1 << 40]
                results = [obj.get_instruction(offset) for offset in offsets]
            elif member == "__getitem__":
                # The overload for the literal index where there is one, else the general one (always last).
                for index in range(len(obj)):
                    literal = f"Literal[{index}]"
                    exact = [f for f in overloads if ast.unparse(f.args.posonlyargs[1].annotation) == literal]
                    check(f"{where}[{index}]", obj[index], (exact or overloads)[-1].returns)
                continue
            elif member.startswith("__") or len(function.args.args) > 1:
                continue
            else:
                results = [getattr(obj, member)()]
            for result in results:
                check(where, result, function.returns)
                if result is not None:
                    checked.add((declaring, member))
                visit(result)

    for obj in sample_objects():
        visit(obj)
    for function_name, cases in [("parse_ptx", [HEADER]), ("parse_instruction", ["}", "ret;"]),
                                 ("parse_function_body_line", ["}", "ret;", "$x:"])]:
        for text in cases:
            check(function_name, getattr(zorvane, function_name)(text), functions[function_name].returns)

    assert wrong == []
    declared = {(name, member) for name, node in classes.items() for member in own_members(node)
                if not member.startswith("__")}
    # Every property and method the stub declares was read on a runtime object with a value other than None.
    assert declared - checked == set()


@pytest.mark.usefixtures("mypy_installed")
def test_stubtest(tmp_path):
    result = subprocess.run([sys.executable, str(REPO_ROOT / "tests" / "run_stubtest.py")], cwd=tmp_path,
                            env=module_env(), capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr


# ---------------------------------------------------------------------------------------------------------------
# mypy over user code: one run checks the examples, the accepted usage and every misuse case below.

ACCEPTED = '''\
# Type-checked, never run: at run time only PTXFile is an attribute of the module.
from __future__ import annotations

from collections import Counter
from typing import TYPE_CHECKING, assert_type

import zorvane

if TYPE_CHECKING:
    from zorvane import (
        BodyItem,
        PTXDirection,
        PTXFunction,
        PTXInstruction,
        PTXOperand,
        PTXRegister,
        PTXSpecialRegister,
        PTXStatement,
        PTXType,
    )


def opcode_mix(ptx: zorvane.PTXFile) -> Counter[str]:
    return Counter(str(i.opcode) for f in ptx.functions for i in f.body.instructions)


def registers_written(function: PTXFunction) -> list[str]:
    written = []
    for instruction in function.body.instructions:
        if instruction.operands and (text := instruction.operands[0].get_register()) is not None:
            written.append(text)
    return written


def describe(operand: PTXOperand) -> str:
    match operand:
        case PTXOperand.Register(PTXRegister.Special(register, direction)):
            assert_type(register, PTXSpecialRegister)
            assert_type(direction, PTXDirection)
            return f"special {int(register)}.{int(direction)}"
        case PTXOperand.Register(register):
            assert_type(register, PTXRegister)
            return str(register)
        case PTXOperand.MemoryRegDisp(base, displacement):
            assert_type(base, PTXRegister)
            assert_type(displacement, int)
            return f"[{base}+{displacement}]"
        case PTXOperand.MemoryLbl(name) | PTXOperand.Label(name):
            assert_type(name, str)
            return name
        case PTXOperand.VectorOperand(registers):
            assert_type(registers, list[PTXRegister])
            return ", ".join(map(str, registers))
        case PTXOperand.Memory():
            return "[]"
        case _:
            return operand.kind()


def declared_types(statements: list[PTXStatement]) -> list[PTXType]:
    found = []
    for statement in statements:
        match statement:
            case PTXStatement.RegisterCount(_, type_, count):
                assert_type(count, int)
                found.append(type_)
            case PTXStatement.CustomRegister(_, type_, name):
                assert_type(name, str)
                found.append(type_)
    return found


def walk(text: str) -> None:
    ptx = zorvane.parse_ptx(text)
    assert_type(ptx, zorvane.PTXFile)
    assert_type(ptx.custom_registers, dict[str, str])
    assert_type(ptx.labels_ref, list[str])
    for function in ptx.functions:
        assert_type(function.signature.parameters[0].type_, PTXType)
        for instruction in function.body.instructions:
            assert_type(instruction.is_predicated, int | None)
            assert ptx.get_instruction(instruction.offset) is not None
            for operand in instruction.operands:
                describe(operand)
                assert_type(operand.get_memory_disp(), tuple[PTXRegister, int] | None)
                assert_type(operand.get_reg_pred_pair(), tuple[str, str] | None)
    assert_type(ptx.get_instruction(0), PTXInstruction | None)


def lines(source: list[str]) -> list[PTXInstruction]:
    found = []
    for line in source:
        item = zorvane.parse_function_body_line(line)
        assert_type(item, BodyItem | None)
        if item is not None and (instruction := item.as_instruction()) is not None:
            found.append(instruction)
        match item:
            case BodyItem.LabelDef(label):
                assert_type(label, str)
            case BodyItem.Instruction(instruction):
                assert_type(instruction, PTXInstruction)
    return found


def build(register: PTXRegister) -> PTXOperand:
    special = PTXRegister.Special(PTXSpecialRegister.LANEID, getattr(PTXDirection, "None"))
    assert_type(special[0], PTXSpecialRegister)
    assert_type(special[1], PTXDirection)
    vector = PTXOperand.VectorOperand([register, special, PTXRegister.Wide(1)])
    assert_type(vector[0], list[PTXRegister])
    return PTXOperand.MemoryRegDisp(vector[0][0], 8)
'''

# Misuse that mypy must report, each with the error code it must carry; the case's last line is the faulty one.
MISUSE = [
    pytest.param("ptx.header.version + 1", "operator", id="version-is-text"),
    pytest.param("ptx.function", "attr-defined", id="misspelt-property"),
    pytest.param("zorvane.parse_ptx(b'.version 8.5')", "arg-type", id="bytes-argument"),
    pytest.param("zorvane.parse_instruction('ret;').offset", "union-attr", id="parse-instruction-may-give-none"),
    pytest.param("operand.get_register().upper()", "union-attr", id="accessor-may-give-none"),
    pytest.param("ptx.get_instruction('12')", "arg-type", id="offset-must-be-an-integer"),
    pytest.param("ptx.header = ptx.header", "misc", id="properties-are-read-only"),
    pytest.param("ptx.labels_ref.append(3)", "arg-type", id="labels-are-text"),
    pytest.param("PTXRegister.General('5')", "arg-type", id="constructor-argument-type"),
    pytest.param("PTXStatement.Pragma(1)", "call-arg", id="constructor-argument-count"),
    pytest.param("PTXOpcode.Tld5", "attr-defined", id="no-such-member"),
    pytest.param("PTXType.B32 + 1", "operator", id="members-are-not-integers"),
    pytest.param("match operand:\n    case PTXOperand.Register(register):\n        register.upper()", "attr-defined",
                 id="matched-field-is-a-register"),
    pytest.param("match operand:\n    case PTXOperand.Label(name, extra): pass", "misc",
                 id="too-many-positional-patterns"),
    pytest.param("class Mine(PTXOperand_Label): pass", "misc", id="variant-classes-are-final"),
]

MISUSE_PRELUDE = '''\
from __future__ import annotations

import zorvane
from zorvane import PTXOpcode, PTXOperand, PTXOperand_Label, PTXRegister, PTXStatement, PTXType
'''


def misuse_source() -> tuple[str, dict[int, str]]:
    """The misuse module and, for each case, the line of its fault and its id."""
    source = MISUSE_PRELUDE
    fault_lines: dict[int, str] = {}
    for case in MISUSE:
        (snippet, _), case_id = case.values, case.id
        body = textwrap.indent(snippet, "    ")
        source += f"\n\ndef case_{case_id.replace('-', '_')}(ptx: zorvane.PTXFile, operand: PTXOperand) -> None:\n"
        source += body + "\n"
        fault_lines[source.count("\n")] = case_id
    return source, fault_lines


@pytest.fixture(scope="module")
def mypy_report(mypy_installed, tmp_path_factory) -> dict[tuple[str, int], list[str]]:
    """mypy's error codes by (file name, line) over the examples, the README's Python blocks, the accepted usage
    and the misuse cases."""
    work = tmp_path_factory.mktemp("mypy")
    (work / "accepted.py").write_text(ACCEPTED)
    (work / "misuse.py").write_text(misuse_source()[0])
    readme = []
    for info, line, code, _ in readme_blocks():
        if info == "python":
            readme.append(f"readme_{line}.py")
            (work / readme[-1]).write_text(code)
    env = module_env()
    env["MYPYPATH"] = str(REPO_ROOT)  # the checkout's stub, ahead of any installed one
    command = [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--show-error-codes",
               "--no-error-summary", "--hide-error-context", "--cache-dir", str(work / "cache"),
               "accepted.py", "misuse.py", *readme, *map(str, EXAMPLES)]
    result = subprocess.run(command, cwd=work, env=env, capture_output=True, text=True, timeout=600)
    assert result.returncode in (0, 1), result.stdout + result.stderr
    report: dict[tuple[str, int], list[str]] = {}
    for line in result.stdout.splitlines():
        if ": note: " in line:
            continue
        found = re.match(r"(?P<file>[^:]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$", line)
        assert found, f"unexpected mypy output: {line}"
        key = (Path(found["file"]).name, int(found["line"]))
        report.setdefault(key, []).append(found["code"])
    return report


def test_mypy_accepts_the_examples_and_typed_usage(mypy_report):
    # The examples, the README's python blocks and the accepted usage, under --strict.
    assert {key: codes for key, codes in mypy_report.items() if key[0] != "misuse.py"} == {}


@pytest.mark.parametrize("snippet, code", MISUSE)
def test_mypy_reports_misuse(mypy_report, snippet, code, request):
    case_id = request.node.callspec.id
    line = next(number for number, name in misuse_source()[1].items() if name == case_id)
    assert code in mypy_report.get(("misuse.py", line), []), f"line {line}: {mypy_report}"


def test_mypy_reports_nothing_but_the_misuse(mypy_report):
    fault_lines = misuse_source()[1]
    assert {line for name, line in mypy_report if name == "misuse.py"} <= set(fault_lines)
