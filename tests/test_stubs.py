# The type stub against the module (stubtest) and against user code: mypy --strict over the examples, the README and
# code that walks a tree, and over misuse it must report. (That the stub is the one made from the pinned surface is
# tests/test_surface.py.)
from __future__ import annotations

import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import zorvane
from test_readme import readme_blocks

REPO_ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((REPO_ROOT / "examples").glob("*.py"))


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

from typing import TYPE_CHECKING, assert_type

import zorvane

if TYPE_CHECKING:
    from zorvane import (
        BodyItem,
        PTXDirection,
        PTXInstruction,
        PTXOperand,
        PTXRegister,
        PTXSpecialRegister,
        PTXStatement,
    )


def describe(operand: PTXOperand) -> str:
    # Class patterns through the variant attributes narrow each field to its type.
    match operand:
        case PTXOperand.Register(PTXRegister.Special(register, direction)):
            assert_type(register, PTXSpecialRegister)
            assert_type(direction, PTXDirection)
            return f"special {int(register)}.{int(direction)}"
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
    return operand.kind()


def declared(statement: PTXStatement) -> int | str | None:
    match statement:
        case PTXStatement.RegisterCount(_, _, count):
            return count
        case PTXStatement.CustomRegister(_, _, name):
            return name
    return None


def instructions(ptx: zorvane.PTXFile, lines: list[str]) -> list[PTXInstruction]:
    # What may be None narrows by a test.
    found = [i for f in ptx.functions for i in f.body.instructions if ptx.get_instruction(i.offset) is not None]
    for line in lines:
        item = zorvane.parse_function_body_line(line)
        if item is not None and (instruction := item.as_instruction()) is not None:
            found.append(instruction)
        match item:
            case BodyItem.Instruction(instruction):
                assert_type(instruction, PTXInstruction)
    return found


def build(register: PTXRegister) -> PTXOperand:
    # A constructor takes any sequence of registers; an index that is a literal gives the type of its field.
    special = PTXRegister.Special(PTXSpecialRegister.LANEID, getattr(PTXDirection, "None"))
    assert_type(special[1], PTXDirection)
    vector = PTXOperand.VectorOperand((register, special, PTXRegister.Wide(1)))
    assert_type(vector[0], list[PTXRegister])
    return PTXOperand.MemoryRegDisp(vector[0][0], 8)
'''

# Misuse that mypy must report, each with the error code it must carry; the case's last line is the faulty one.
MISUSE = [
    pytest.param("ptx.function", "attr-defined", id="misspelt-property"),
    pytest.param("zorvane.parse_ptx(b'.version 8.5')", "arg-type", id="bytes-argument"),
    pytest.param("zorvane.parse_instruction('ret;').offset", "union-attr", id="parse-instruction-may-give-none"),
    pytest.param("operand.get_register().upper()", "union-attr", id="accessor-may-give-none"),
    pytest.param("ptx.header = ptx.header", "misc", id="properties-are-read-only"),
    pytest.param("PTXRegister.General('5')", "arg-type", id="constructor-argument-type"),
    pytest.param("PTXStatement.Pragma(1)", "call-arg", id="constructor-argument-count"),
    pytest.param("PTXType.B32 + 1", "operator", id="members-are-not-integers"),
    pytest.param("match operand:\n    case PTXOperand.Label(name, extra): pass", "misc",
                 id="too-many-positional-patterns"),
    pytest.param("class Mine(PTXOperand_Label): pass", "misc", id="variant-classes-are-final"),
]

MISUSE_PRELUDE = '''\
from __future__ import annotations

import zorvane
from zorvane import PTXOperand, PTXOperand_Label, PTXRegister, PTXStatement, PTXType
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
