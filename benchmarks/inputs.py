"""The benchmarks' inputs and the names the scripts share; run alone, it writes the assembled text (profile_core.sh):

    python benchmarks/inputs.py --write PATH [--size-mb N] [--corpus DIR] [--bench-core PATH]
"""

import argparse
import json
import marshal
import math
import re
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
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
LIBRARIES = {"json": "json.loads", "orjson": "orjson.loads", "msgspec": "msgspec typed structs",
             "simdjson": "pysimdjson lazy proxies"}
OPERAND_FIELDS = {  # the names of each operand kind's fields in the keyed form
    "imm": "value", "float_imm": "bits", "reg": "reg", "predicate": "pred", "memory": "", "memory_label": "label",
    "memory_reg_disp": "reg disp", "label": "label", "vector": "regs", "reg_pred_pair": "reg pred",
}


def add_arguments(parser):
    parser.add_argument("--corpus", type=Path, default=REPO.parent / "shared" / "corpus" / "real",
                        help="default: %(default)s")
    parser.add_argument("--size-mb", type=float, default=20.0, help="size of the texts in MiB (default: 20)")
    return parser


def parses(function, text: str) -> bool:
    try:
        return function(text) is not None
    except Exception:  # ValueError, or an internal failure such as a number out of range: not a text to time
        return False


def module_accepts(files) -> list[bool]:
    import zorvane

    return [parses(zorvane.parse_ptx, text) for _, text in files]


def compiler_output(args, accepts=module_accepts):
    """The corpus files (or the shipped example, without a corpus) that accepts(files) keeps, their origin, and one
    header followed by the items after the header of every file, repeated up to args.size_mb MiB."""
    files = [(path, path.read_text(encoding="utf-8", errors="replace")) for path in sorted(args.corpus.glob("*.ptx"))]
    origin = f"corpus {args.corpus}" if files else f"{EXAMPLE} (no corpus at {args.corpus})"
    files = files or [(EXAMPLE, EXAMPLE.read_text(encoding="utf-8"))]
    files = [file for file, keep in zip(files, accepts(files)) if keep]
    block = "".join(text[m.end():] + ("" if text.endswith("\n") else "\n")
                    for _, text in files if (m := ADDRESS_SIZE_LINE.search(text)))
    if not block.strip():
        raise SystemExit("no text that parses has items after its header")
    repeats = math.ceil((args.size_mb * 2**20 - len(HEADER)) / len(block.encode("utf-8")))
    return files, origin, HEADER + block * max(1, repeats)


def lookup_module(declarations: int) -> str:
    """32 one-instruction kernels, each followed by as many function declarations (30,000 make 10.6 MB)."""
    return HEADER + "".join(f".entry k{k}()\n{{\n\tret;\n}}\n" + ".func f();\n" * declarations for k in range(32))


def keyed_form(ptx) -> dict:
    """Every field of the tree as objects with keys; an operand as its kind and its named fields."""

    def plain(value):
        if value is None or isinstance(value, (int, str)):
            return value
        if isinstance(value, list):
            return [plain(item) for item in value]
        if hasattr(value, "get_register"):  # an operand
            return operand(value)
        return int(value) if hasattr(type(value), "__int__") else str(value)

    def fields(item):  # of a statement or an operand, by position
        return [plain(item[k]) for k in range(len(item))]

    def operand(op):
        names = OPERAND_FIELDS.get(op.kind(), "").split()
        if len(names) != len(op):  # a kind this table does not know: its fields by position
            names = [f"_{k}" for k in range(len(op))]
        return {"kind": op.kind(), **dict(zip(names, fields(op)))}

    header = ptx.header
    return {
        "header": {"version": header.version, "target": int(header.target), "address_size": header.address_size},
        "functions": [{
            "name": fn.name, "offset": fn.offset, "link": int(fn.link_directive), "kind": int(fn.kind),
            "signature": {"parameters": [{"name": p.name, "type": int(p.type_)} for p in fn.signature.parameters]},
            "body": {
                "statements": [{"kind": type(s).__name__.partition("_")[2], "fields": fields(s)}
                               for s in fn.body.statements],
                "instructions": [{"offset": i.offset, "opcode": int(i.opcode), "modifiers": i.modifiers,
                                  "operands": [operand(op) for op in i.operands], "predicate": i.is_predicated}
                                 for i in fn.body.instructions],
            },
        } for fn in ptx.functions],
    }


def values(value):
    """The same data as nested tuples: an object's values in order (an operand is its kind, then its fields), so that a
    loop over the tree and the same loop over the tuples differ by the tree's objects alone."""
    if isinstance(value, (dict, list)):
        return tuple(values(item) for item in (value.values() if isinstance(value, dict) else value))
    return value


def prepare(folder: Path, zorvane, args) -> None:
    """Writes every input into folder, with what the figures need to know of them (meta)."""
    files, origin, large = compiler_output(args)
    keyed = keyed_form(zorvane.parse_ptx(large))
    tuples = values(keyed)
    instructions = [i for fn in tuples[1] for i in fn[5][1]]
    lines = [s for s in (line.strip() for line in large.splitlines()) if s.endswith(";")]
    verdict = {line: parses(zorvane.parse_instruction, line) for line in set(lines)}
    lines = [line for line in lines if verdict[line]]
    counter = [0] * (1 + max((i[1] for i in instructions), default=0))
    for i in instructions:
        counter[i[1]] += 1
    (folder / "large.ptx").write_text(large, encoding="utf-8", newline="")
    arrays = [fn[5][1] for fn in tuples[1]]
    compact = [[(i[1], [op[0] for op in i[3]]) for i in fn] for fn in arrays]
    for form, document in {"keyed": keyed, "arrays": arrays, "compact": compact}.items():
        (folder / f"{form}.json").write_text(json.dumps(document, separators=(",", ":")), encoding="utf-8")
    texts = [text for _, text in files]
    meta = {"origin": origin, "files": len(files), "bytes": len(large.encode("utf-8")), "functions": len(tuples[1]),
            "files_bytes": sum(len(text.encode("utf-8")) for text in texts), "instructions": len(instructions),
            "lines": len(lines), "counter": counter,
            "registers": sum(op[0] == "reg" for i in instructions for op in i[3])}
    inputs = {"tuples": tuples, "lines": lines, "texts": texts, "offsets": [i[0] for i in instructions], "meta": meta}
    for name, value in inputs.items():
        (folder / name).write_bytes(marshal.dumps(value))


def main() -> None:
    parser = add_arguments(argparse.ArgumentParser(description=__doc__.split("\n")[0]))
    parser.add_argument("--write", metavar="PATH", required=True, help="write the assembled text to PATH")
    parser.add_argument("--bench-core", help="select the files that parse with this bench_core, not the module")
    args = parser.parse_args()

    def core_accepts(files):  # the module need not be built: the native core says which files parse
        out = subprocess.run([args.bench_core, "--accepts", *(str(path) for path, _ in files)], check=True,
                             capture_output=True, text=True).stdout.splitlines()
        return [str(path) in out for path, _ in files]

    files, origin, text = compiler_output(args, core_accepts if args.bench_core else module_accepts)
    Path(args.write).write_text(text, encoding="utf-8", newline="")
    print(f"{args.write}: {len(text.encode('utf-8')):,} bytes from {len(files)} files of {origin}")


if __name__ == "__main__":
    main()
