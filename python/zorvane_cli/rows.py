"""Tables of a parsed module, one row per instruction or per function, as JSON Lines or Arrow record batches."""

from __future__ import annotations

import importlib
import json
from collections.abc import Container, Iterator
from typing import Any

import zorvane

from zorvane_cli.sources import Source

# Column names with their Arrow types; offsets, lines and columns as the file counts them (see Source).
INSTRUCTION_COLUMNS: tuple[tuple[str, str], ...] = (
    ("file", "string"),
    ("function", "string"),
    ("function_kind", "string"),
    ("offset", "int64"),
    ("line", "int64"),
    ("column", "int64"),
    ("guard", "uint64"),
    ("opcode", "string"),
    ("modifiers", "string"),
    ("operand_kinds", "list<string>"),
    ("operand_texts", "list<string>"),
)
FUNCTION_COLUMNS: tuple[tuple[str, str], ...] = (
    ("file", "string"),
    ("function", "string"),
    ("function_kind", "string"),
    ("link_directive", "string"),
    ("offset", "int64"),
    ("line", "int64"),
    ("column", "int64"),
    ("parameter_names", "list<string>"),
    ("parameter_types", "list<string>"),
    ("statements", "int64"),
    ("instructions", "int64"),
    ("guarded", "int64"),
)

Row = tuple[Any, ...]
# Where each column of an instruction row is: row[AT["offset"]].
AT = {name: index for index, (name, _) in enumerate(INSTRUCTION_COLUMNS)}


def member_name(member: object) -> str:
    """The lower-case name of an enumeration member: PTXFunctionKind.Kernel gives "kernel"."""
    return repr(member).partition(".")[2].lower()


def instruction_text(row: Row) -> str:
    """An instruction row written back as PTX: "@%p1 bra $L__BB1_2"."""
    guard, opcode, modifiers, texts = (row[AT[name]] for name in ("guard", "opcode", "modifiers", "operand_texts"))
    head = (f"@%p{guard} " if guard is not None else "") + opcode + (f".{modifiers}" if modifiers else "")
    return f"{head} {', '.join(texts)}" if texts else head


def instruction_rows(source: Source, ptx: zorvane.PTXFile, only: Container[int] | None = None) -> Iterator[Row]:
    """A row for each instruction, or for those whose parser offset is in `only`."""
    for function in ptx.functions:
        name, kind = function.name, member_name(function.kind)
        for instruction in function.body.instructions:
            if only is not None and instruction.offset not in only:
                continue
            offset, opcode, modifiers = instruction.offset, str(instruction.opcode), instruction.modifiers
            line, column = source.position(offset)
            # The operands start right after the mnemonic and its dotted modifiers, which are written without spaces.
            operands_at = offset + len(opcode) + (len(modifiers) + 1 if modifiers else 0)
            yield (
                source.name,
                name,
                kind,
                offset + source.bom,
                line,
                column,
                instruction.is_predicated,
                opcode,
                modifiers,
                [operand.kind() for operand in instruction.operands],
                source.operand_texts(operands_at),
            )


def function_rows(source: Source, ptx: zorvane.PTXFile) -> Iterator[Row]:
    for function in ptx.functions:
        line, column = source.position(function.offset)
        parameters = function.signature.parameters
        body = function.body
        instructions = body.instructions
        link = member_name(function.link_directive)
        yield (
            source.name,
            function.name,
            member_name(function.kind),
            None if link == "none" else link,
            function.offset + source.bom,
            line,
            column,
            [p.name for p in parameters],
            [member_name(p.type_) for p in parameters],
            len(body.statements),
            len(instructions),
            sum(i.is_predicated is not None for i in instructions),
        )


_encode = json.JSONEncoder(ensure_ascii=False, separators=(",", ":")).encode


def jsonl(columns: tuple[tuple[str, str], ...], rows: list[Row]) -> bytes:
    names = [name for name, _ in columns]
    return "".join([_encode(dict(zip(names, row))) + "\n" for row in rows]).encode("utf-8")


def pyarrow() -> Any:
    """The pyarrow module (an optional dependency), or ImportError."""
    return importlib.import_module("pyarrow")


def arrow_schema(columns: tuple[tuple[str, str], ...]) -> Any:
    pa = pyarrow()
    types = {"string": pa.string(), "int64": pa.int64(), "uint64": pa.uint64(), "list<string>": pa.list_(pa.string())}
    return pa.schema([(name, types[kind]) for name, kind in columns])


def record_batch(columns: tuple[tuple[str, str], ...], rows: list[Row]) -> Any:
    pa = pyarrow()
    schema = arrow_schema(columns)
    values = list(zip(*rows)) if rows else [() for _ in columns]
    arrays = [pa.array(column, type=field.type) for column, field in zip(values, schema)]
    return pa.RecordBatch.from_arrays(arrays, schema=schema)
