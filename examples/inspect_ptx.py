#!/usr/bin/env python3
"""Print an overview of a PTX module: header, functions, opcode counts, referenced labels, custom registers.

Usage: python examples/inspect_ptx.py FILE.ptx [--top N]

On a parse error the location and the expected tokens go to stderr as FILE:LINE:COL: message, and the
exit status is 1.
"""

from __future__ import annotations

import argparse
import collections
import re
import sys
from typing import TYPE_CHECKING

import zorvane

if TYPE_CHECKING:
    # Only PTXFile is an attribute of the module at run time; the type checker reads the other names from its stub.
    from zorvane import PTXFunction

# parse_ptx's error text: "error at LINE:COL: expected ...".
_ERROR_RE = re.compile(r"error at (\d+):(\d+): (.*)", re.DOTALL)


def member_name(member: object) -> str:
    """Bare member name of an enumeration value: repr gives "PTXType.U64", this gives "U64"."""
    return repr(member).partition(".")[2]


def describe_function(function: PTXFunction) -> list[str]:
    kind = member_name(function.kind)
    link = member_name(function.link_directive)
    params = ", ".join(f"{p.name}: {member_name(p.type_)}" for p in function.signature.parameters)
    body = function.body
    if body.statements or body.instructions:
        shape = f"{len(body.statements)} declarations, {len(body.instructions)} instructions"
    else:
        shape = "declaration only"
    lines = [f"  {function.name}  [{kind}, link {link}, {shape}]"]
    lines.append(f"    ({params})" if params else "    ()")
    return lines


def report(ptx: zorvane.PTXFile, top: int) -> str:
    header = ptx.header
    functions = ptx.functions
    out = [
        f"header: .version {header.version}  .target {member_name(header.target)}  "
        f".address_size {header.address_size}",
        "",
        f"functions ({len(functions)}):",
    ]
    for function in functions:
        out.extend(describe_function(function))

    opcodes: collections.Counter[str] = collections.Counter()
    guarded = 0
    for function in functions:
        for instruction in function.body.instructions:
            opcodes[str(instruction.opcode)] += 1
            if instruction.is_predicated is not None:
                guarded += 1
    total = sum(opcodes.values())
    out += ["", f"instructions: {total} ({guarded} guarded), {len(opcodes)} distinct opcodes"]
    for mnemonic, count in opcodes.most_common(top):
        out.append(f"  {count:6d}  {mnemonic}")
    if len(opcodes) > top:
        out.append(f"  ... {len(opcodes) - top} more")

    # labels_ref keeps one entry per use, in order of use; show each name once with its use count.
    labels = collections.Counter(ptx.labels_ref)
    out += ["", f"referenced labels ({len(labels)}):"]
    out.extend(f"  {name}" + (f"  (x{count})" if count > 1 else "") for name, count in labels.items())

    # The dictionary's order is not defined, so sort it for a stable report.
    custom = sorted(ptx.custom_registers.items())
    out += ["", f"custom registers ({len(custom)}):"]
    out.extend(f"  %{name} -> {replacement}" for name, replacement in custom)
    return "\n".join(out)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Print an overview of a PTX module.")
    parser.add_argument("file", help="PTX text file")
    parser.add_argument("--top", type=int, default=10, metavar="N", help="opcodes to list (default 10)")
    args = parser.parse_args(argv)

    try:
        # "utf-8-sig" drops a byte-order mark, which some editors write at the start of a file and which no PTX
        # token accepts.
        with open(args.file, encoding="utf-8-sig") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        print(f"{args.file}: cannot read: {e}", file=sys.stderr)
        return 1

    try:
        ptx = zorvane.parse_ptx(text)
    except ValueError as e:
        message = str(e)
        match = _ERROR_RE.fullmatch(message)
        if match:
            line, column, rest = match.groups()
            print(f"{args.file}:{line}:{column}: {rest}", file=sys.stderr)
        else:
            print(f"{args.file}: {message}", file=sys.stderr)
        return 1

    print(f"file: {args.file}")
    print(report(ptx, max(args.top, 0)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
