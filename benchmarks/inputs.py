"""The benchmarks' inputs: compiler output assembled from the corpus (or the shipped example), its data as tuples and
as JSON documents of three forms, and the lookup worst case.

    python benchmarks/inputs.py --write PATH [--size-mb N]     # only the assembled text (profile_core.sh uses it)
"""

import argparse
import json
import marshal
import math
import re
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = REPO.parent / "shared" / "corpus" / "real"
EXAMPLE = REPO / "examples" / "vector_sum.ptx"
HEADER = ".version 8.5\n.target sm_90a\n.address_size 64\n"
ADDRESS_SIZE_LINE = re.compile(r"^[ \t]*\.address_size\b[^\n]*\n?", re.MULTILINE)
DECLARATIONS = 30_000  # after each kernel of the lookup module
BASELINE = " [baseline]"  # ends the names of the figures of the build given to --baseline
FORMS = {
    "keyed": "every field, objects with keys",
    "arrays": "every field of the instructions, positional arrays",
    "compact": "only what the job reads: opcode numbers and operand kinds",
}


def parses(function, text: str) -> bool:
    try:
        return function(text) is not None
    except Exception:  # ValueError, or an internal failure such as a number out of range: not a text to time
        return False


def sources(corpus: Path, accepts) -> tuple[list[tuple[Path, str]], str]:
    """The corpus files (or the shipped example, without a corpus) that parse: accepts(files) tells which."""
    files = [(path, path.read_text(encoding="utf-8", errors="replace")) for path in sorted(corpus.glob("*.ptx"))]
    files = files or [(EXAMPLE, EXAMPLE.read_text(encoding="utf-8"))]
    kept = [file for file, keep in zip(files, accepts(files)) if keep]
    return kept, f"corpus {corpus}" if files[0][0] != EXAMPLE else f"{EXAMPLE} (no corpus at {corpus})"


def assemble(files, min_bytes: int) -> str:
    """One header, then the items after the header of every file, the whole block repeated up to min_bytes."""
    block = "".join(text[m.end():] + ("" if text.endswith("\n") else "\n")
                    for _, text in files if (m := ADDRESS_SIZE_LINE.search(text)))
    if not block.strip():
        raise SystemExit("no text that parses has items after its header")
    return HEADER + block * max(1, math.ceil((min_bytes - len(HEADER)) / len(block.encode("utf-8"))))


def lookup_module(declarations: int) -> str:
    """32 one-instruction kernels, each followed by as many function declarations (30,000 make 10.6 MB)."""
    return HEADER + "".join(f".entry k{k}()\n{{\n\tret;\n}}\n" + ".func f();\n" * declarations for k in range(32))


# The data as nested tuples: a file is (header, functions), a function (name, offset, link, kind, signature, body), a
# body (statements, instructions), an instruction (offset, opcode, modifiers, operands, is_predicated) and an operand
# (kind, fields...), so that a loop over the tree and the same loop over the tuples differ by the tree's objects alone.


def plain(value):
    if value is None or isinstance(value, (int, str)):
        return value
    if isinstance(value, list):
        return tuple(plain(item) for item in value)
    if hasattr(value, "get_register"):
        return operand_tuple(value)
    return int(value) if hasattr(type(value), "__int__") else str(value)


def operand_tuple(op) -> tuple:
    return (op.kind(), *(plain(op[k]) for k in range(len(op))))


def as_tuples(ptx) -> tuple:
    functions = []
    for fn in ptx.functions:
        body = fn.body
        statements = tuple((type(s).__name__.partition("_")[2], *(plain(s[k]) for k in range(len(s))))
                           for s in body.statements)
        instructions = tuple((i.offset, int(i.opcode), i.modifiers, tuple(operand_tuple(op) for op in i.operands),
                              i.is_predicated) for i in body.instructions)
        signature = tuple((p.name, int(p.type_)) for p in fn.signature.parameters)
        functions.append((fn.name, fn.offset, int(fn.link_directive), int(fn.kind), signature,
                          (statements, instructions)))
    header = ptx.header
    return (header.version, int(header.target), header.address_size), tuple(functions)


# The same data for general-purpose parsers. Keyed: an object for everything, an operand with its kind and named
# fields. Arrays: a list of functions, each a list of instructions as above, operands as [kind, fields...].
# Compact: a list of functions, each a list of [opcode, [operand kinds]].

OPERAND_FIELDS = {
    "imm": ("value",), "float_imm": ("bits",), "reg": ("reg",), "predicate": ("pred",), "memory": (),
    "memory_label": ("label",), "memory_reg_disp": ("reg", "disp"), "label": ("label",), "vector": ("regs",),
    "reg_pred_pair": ("reg", "pred"),
}


def operand_object(operand: tuple) -> dict:
    names = OPERAND_FIELDS.get(operand[0], ())
    if len(names) != len(operand) - 1:  # a kind this table does not know: its fields by position
        names = tuple(f"_{k}" for k in range(len(operand) - 1))
    return {"kind": operand[0], **dict(zip(names, operand[1:]))}


def documents(data: tuple) -> dict[str, bytes]:
    (version, target, address_size), functions = data
    keyed = {
        "header": {"version": version, "target": target, "address_size": address_size},
        "functions": [{
            "name": name, "offset": offset, "link": link, "kind": kind,
            "signature": {"parameters": [{"name": p, "type": t} for p, t in signature]},
            "body": {
                "statements": [{"kind": s[0], "fields": [operand_object(f) if isinstance(f, tuple) else f
                                                         for f in s[1:]]} for s in statements],
                "instructions": [{"offset": i[0], "opcode": i[1], "modifiers": i[2],
                                  "operands": [operand_object(op) for op in i[3]], "predicate": i[4]}
                                 for i in instructions],
            },
        } for name, offset, link, kind, signature, (statements, instructions) in functions],
    }
    arrays = [fn[5][1] for fn in functions]
    compact = [[(i[1], [op[0] for op in i[3]]) for i in fn[5][1]] for fn in functions]
    return {form: json.dumps(doc, separators=(",", ":")).encode("utf-8")
            for form, doc in (("keyed", keyed), ("arrays", arrays), ("compact", compact))}


def prepare(folder: Path, zorvane, corpus: Path, size_mb: float) -> dict:
    """Writes every input into folder and returns what the figures need to know of them."""
    files, origin = sources(corpus, lambda files: [parses(zorvane.parse_ptx, text) for _, text in files])
    large = assemble(files, int(size_mb * 2**20))
    ptx = zorvane.parse_ptx(large)
    data = as_tuples(ptx)
    instructions = [i for fn in data[1] for i in fn[5][1]]
    lines = [s for s in (line.strip() for line in large.splitlines()) if s.endswith(";")]
    verdict = {line: parses(zorvane.parse_instruction, line) for line in set(lines)}
    opcodes = 1 + max((i[1] for i in instructions), default=0)
    counter, registers = [0] * opcodes, 0
    for i in instructions:
        counter[i[1]] += 1
        registers += sum(op[0] == "reg" for op in i[3])
    (folder / "large.ptx").write_text(large, encoding="utf-8", newline="")
    (folder / "tuples.marshal").write_bytes(marshal.dumps(data))
    (folder / "lines.json").write_text(json.dumps([line for line in lines if verdict[line]]))
    for form, document in documents(data).items():
        (folder / f"{form}.json").write_bytes(document)
    meta = {"origin": origin, "files": [str(path) for path, _ in files], "bytes": len(large.encode("utf-8")),
            "files_bytes": sum(len(text.encode("utf-8")) for _, text in files), "functions": len(data[1]),
            "instructions": len(instructions), "lines": sum(verdict[line] for line in lines), "opcodes": opcodes,
            "counter": counter, "registers": registers}
    (folder / "meta.json").write_text(json.dumps(meta))
    return meta


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--write", metavar="PATH", required=True, help="write the assembled text to PATH")
    parser.add_argument("--size-mb", type=float, default=20.0, help="at least this many MiB (default: 20)")
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS, help="default: %(default)s")
    parser.add_argument("--bench-core", help="select the files that parse with this bench_core, not the module")
    args = parser.parse_args()
    if args.bench_core:  # the module need not be built: the native core says which files parse

        def accepts(files):
            out = subprocess.run([args.bench_core, "--accepts", *(str(path) for path, _ in files)], check=True,
                                 capture_output=True, text=True).stdout.splitlines()
            return [str(path) in out for path, _ in files]
    else:
        import zorvane

        def accepts(files):
            return [parses(zorvane.parse_ptx, text) for _, text in files]

    files, origin = sources(args.corpus, accepts)
    text = assemble(files, int(args.size_mb * 2**20))
    Path(args.write).write_text(text, encoding="utf-8", newline="")
    print(f"{args.write}: {len(text.encode('utf-8')):,} bytes from {len(files)} files of {origin}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
