"""The `zorvane` command: check, stats, at and export over PTX files and directories."""

from __future__ import annotations

import argparse
import bisect
import collections
import contextlib
import dataclasses
import functools
import importlib
import importlib.metadata
import json
import os
import signal
import sys
import threading
from collections.abc import Callable, Iterator, Sequence
from typing import Any, BinaryIO, TextIO

from zorvane_cli import parallel, rows
from zorvane_cli.sources import (
    FAILED,
    INTERNAL,
    OK,
    UNREADABLE,
    Diagnostic,
    Input,
    Problem,
    Source,
    Style,
    caret_line,
    collect,
    exit_status,
    parse,
    read,
    shown,
)

EXIT_STATUS = """\
exit status:
  0  every file parses
  1  some file does not parse
  2  a usage error, a file that cannot be read or is not UTF-8 text, or an internal error of zorvane"""

# What one file costs to read and parse, and what a file and a byte cost to turn into rows, on one core; only
# used to decide whether worker processes would pay for themselves.
PARSE_COST = (3e-5, 3e-9)
STATS_COST = (3e-5, 3e-8)
ROWS_COST = (3e-5, 2e-7)
# Rows are encoded and written this many at a time: all the rows of a large file at once would take tens of times its
# size in memory.
CHUNK_ROWS = 4096

FileProblem = tuple[int, Diagnostic]


def _version() -> str:
    try:
        return importlib.metadata.version("zorvane")
    except importlib.metadata.PackageNotFoundError:
        return "(not installed)"


# ---------------------------------------------------------------------------------------------------------------
# Work on one batch of files, in this process or in a worker. Only what the main process writes comes back.


def _check_batch(batch: list[Input]) -> list[FileProblem]:
    problems: list[FileProblem] = []
    for item in batch:
        try:
            parse(read(item))
        except Problem as p:
            problems.append((p.status, p.diagnostic))
    return problems


@dataclasses.dataclass
class Counts:
    """The figures of one file, or of several added up."""

    files: int = 0
    functions: int = 0
    instructions: int = 0
    statements: int = 0
    guarded: int = 0
    opcodes: collections.Counter[str] = dataclasses.field(default_factory=collections.Counter)

    def add(self, other: Counts) -> None:
        self.files += other.files
        self.functions += other.functions
        self.instructions += other.instructions
        self.statements += other.statements
        self.guarded += other.guarded
        self.opcodes.update(other.opcodes)


def _stats_batch(batch: list[Input]) -> list[Counts | FileProblem]:
    out: list[Counts | FileProblem] = []
    for item in batch:
        try:
            ptx = parse(read(item))
        except Problem as p:
            out.append((p.status, p.diagnostic))
            continue
        counts = Counts(files=1)
        for function in ptx.functions:
            body = function.body
            instructions = body.instructions
            counts.functions += 1
            counts.statements += len(body.statements)
            counts.instructions += len(instructions)
            counts.guarded += sum(i.is_predicated is not None for i in instructions)
            counts.opcodes.update(str(i.opcode) for i in instructions)
        out.append(counts)
    return out


@dataclasses.dataclass(frozen=True)
class Chunk:
    """Rows of an export, encoded: JSON Lines bytes, or an Arrow record batch."""

    rows: int
    data: Any


def _export_batch(batch: list[Input], functions: bool, parquet: bool) -> Iterator[Chunk | FileProblem]:
    """The rows of the files in chunks of CHUNK_ROWS, and the problem of each file that cannot be read or parsed."""
    make = rows.function_rows if functions else rows.instruction_rows
    columns = rows.FUNCTION_COLUMNS if functions else rows.INSTRUCTION_COLUMNS
    encode = rows.record_batch if parquet else rows.jsonl
    chunk: list[rows.Row] = []
    for item in batch:
        try:
            source = read(item)
            ptx = parse(source)
        except Problem as p:
            yield p.status, p.diagnostic
            continue
        for row in make(source, ptx):
            chunk.append(row)
            if len(chunk) == CHUNK_ROWS:
                yield Chunk(len(chunk), encode(columns, chunk))
                chunk = []
    if chunk:
        yield Chunk(len(chunk), encode(columns, chunk))


# ---------------------------------------------------------------------------------------------------------------
# Commands


class Run:
    """What the commands over many files share: the inputs, where diagnostics go, the counts and the worst status."""

    def __init__(self, args: argparse.Namespace, diagnostics: TextIO) -> None:
        self.stream = diagnostics
        self.style = Style.for_stream(diagnostics, args.full)
        self.jobs: int = args.jobs
        self.status = OK
        self.failed = self.unreadable = self.internal = 0
        self.reported: list[str] = []  # the files with a problem, as the diagnostics name them
        self.inputs, problems = collect(args.paths)
        self.files = len(self.inputs) + len(problems)
        self.progress = parallel.Progress(len(self.inputs))
        for diagnostic in problems:
            self.report(UNREADABLE, diagnostic)

    def report(self, status: int, diagnostic: Diagnostic) -> None:
        self.status = max(self.status, exit_status(status))
        if status == FAILED:
            self.failed += 1
        elif status == INTERNAL:
            self.internal += 1
        else:
            self.unreadable += 1
        self.reported.append(diagnostic.file)
        self.progress.write(diagnostic.render(self.style) + "\n", self.stream)

    def summary(self) -> str:
        ok = self.files - self.failed - self.unreadable - self.internal
        text = f"{_plural(self.files, 'file')}: {ok} ok, {self.failed} failed"
        text += f", {self.unreadable} unreadable" if self.unreadable else ""
        return text + (f", {_plural(self.internal, 'internal error')}" if self.internal else "")


def _plural(n: int, word: str) -> str:
    return f"{n} {word}" + ("" if n == 1 else "s")


def check(args: argparse.Namespace) -> int:
    run = Run(args, _standard_output())
    share = parallel.worth_sharing(run.inputs, *PARSE_COST)
    with run.progress:
        for batch, problems in parallel.run(_check_batch, run.inputs, run.jobs, share):
            for status, diagnostic in problems:
                run.report(status, diagnostic)
            run.progress.advance(len(batch))
    print(run.summary())
    return run.status


def stats(args: argparse.Namespace) -> int:
    out = _standard_output()
    run = Run(args, sys.stderr)
    share = parallel.worth_sharing(run.inputs, *STATS_COST)
    per_file: list[tuple[str, Counts]] = []
    total = Counts()
    with run.progress:
        for batch, results in parallel.run(_stats_batch, run.inputs, run.jobs, share):
            for item, result in zip(batch, results):
                if isinstance(result, Counts):
                    per_file.append((shown(item.name), result))
                    total.add(result)
                else:
                    run.report(*result)
            run.progress.advance(len(batch))
    top = None if args.top == "all" else int(args.top)
    if args.json:
        document = {
            "files": [{"file": name} | _counts_json(counts, top) for name, counts in per_file],
            "total": {"files": total.files} | _counts_json(total, top),
            "failed": run.reported,
        }
        json.dump(document, out, indent=1)
        out.write("\n")
    else:
        out.write(_stats_table(per_file, total, top))
    if run.status != OK:
        sys.stderr.write(run.summary() + "\n")
    return run.status


def _opcodes(counts: Counts, top: int | None) -> list[tuple[str, int]]:
    return sorted(counts.opcodes.items(), key=lambda item: (-item[1], item[0]))[:top]


def _counts_json(counts: Counts, top: int | None) -> dict[str, object]:
    return {
        "functions": counts.functions,
        "instructions": counts.instructions,
        "statements": counts.statements,
        "guarded": counts.guarded,
        "opcodes": dict(_opcodes(counts, top)),
    }


def _stats_table(per_file: list[tuple[str, Counts]], total: Counts, top: int | None) -> str:
    table = [("file", "functions", "instructions", "statements", "guarded")]
    for name, c in [*per_file, (f"total ({_plural(total.files, 'file')})", total)]:
        table.append((name, str(c.functions), str(c.instructions), str(c.statements), str(c.guarded)))
    widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
    lines = ["  ".join([row[0].ljust(widths[0])] + [v.rjust(w) for v, w in zip(row[1:], widths[1:])]) for row in table]
    shown = _opcodes(total, top)
    lines += ["", f"opcodes: {len(total.opcodes)} distinct in {_plural(total.instructions, 'instruction')}"]
    width = max((len(name) for name, _ in shown), default=0)
    count_width = len(str(shown[0][1])) if shown else 0
    for name, count in shown:
        lines.append(f"  {name.ljust(width)}  {count:>{count_width}}  {100 * count / total.instructions:5.1f}%")
    if len(shown) < len(total.opcodes):
        lines.append(f"  ... {len(total.opcodes) - len(shown)} more (--top all lists them)")
    return "\n".join(lines) + "\n"


def at(args: argparse.Namespace) -> int:
    _standard_output()  # before any work, as the other commands
    if os.path.isdir(args.file):
        return _usage_error(f"{args.file} is a directory; `at` looks into one file")
    inputs, problems = collect([args.file])
    err_style = Style.for_stream(sys.stderr, args.full)
    try:
        if problems:
            raise Problem(UNREADABLE, problems[0])
        source = read(inputs[0])
        ptx = parse(source)
    except Problem as p:
        sys.stderr.write(p.diagnostic.render(err_style) + "\n")
        return exit_status(p.status)
    at = rows.AT
    # Rows only for the offsets asked: a row for every instruction of a large file would take far more memory.
    asked = {offset - source.bom for offset in args.offsets}
    found = {row[at["offset"]]: row for row in rows.instruction_rows(source, ptx, asked)}
    # Where each instruction starts, gathered only once an offset matches none, for the hint.
    starts = functools.cache(lambda: sorted(i.offset for f in ptx.functions for i in f.body.instructions))
    out_style = Style.for_stream(sys.stdout, full=True)
    status = OK
    for offset in args.offsets:
        row = found.get(offset)
        if row is None:
            status = FAILED
            diagnostic = _no_instruction(source, offset, starts)
            if args.json:
                _json_line({"file": source.name, "offset": offset, "error": diagnostic.message})
            else:
                sys.stderr.write(diagnostic.render(err_style) + "\n")
        elif args.json:
            _json_line(dict(zip(at, row)))
        else:
            line, column = row[at["line"]], row[at["column"]]
            where = out_style.paint(f"{source.name}:{line}:{column}:", "1")
            text = source.line_around(offset - source.bom)
            caret = caret_line(text, column, out_style)
            sys.stdout.write(f"{where} {row[at['function']]}: {rows.instruction_text(row)}\n{text}\n{caret}\n")
    return status


def _json_line(value: object) -> None:
    sys.stdout.write(json.dumps(value, ensure_ascii=False) + "\n")


def _no_instruction(source: Source, offset: int, instruction_starts: Callable[[], list[int]]) -> Diagnostic:
    if offset >= source.size:
        return Diagnostic(source.name, f"byte {offset} is past the end of the file ({_plural(source.size, 'byte')})")
    within = max(offset - source.bom, 0)
    line, column = source.position(within)
    message = f"no instruction starts at byte {offset}"
    start, end = source.line_span(within)
    starts = instruction_starts()
    first = bisect.bisect_left(starts, start)
    if first < len(starts) and starts[first] < end:
        message += f"; on this line one starts at byte {starts[first] + source.bom}"
    return Diagnostic(source.name, message, line, column, source.line_around(within))


def export(args: argparse.Namespace) -> int:
    fmt = args.format or _format_of(args.output)
    if fmt is None:
        return _usage_error(f"cannot tell the format from {args.output!r}: give --format jsonl or --format parquet")
    parquet = fmt == "parquet"
    if not args.output:
        return _usage_error("-o needs a path")
    if args.output != "-" and (args.output.endswith(os.sep) or os.path.isdir(args.output)):
        return _usage_error(f"{args.output} names a directory, not a file to write")
    columns = rows.FUNCTION_COLUMNS if args.functions else rows.INSTRUCTION_COLUMNS
    if parquet:
        if args.output == "-":
            return _usage_error("Parquet is written to a file, not to standard output: give -o FILE.parquet")
        try:
            importlib.import_module("pyarrow.parquet")
        except ImportError:
            return _usage_error(
                "--format parquet needs pyarrow, an optional dependency: pip install 'zorvane[parquet]'"
            )
    run = Run(args, sys.stderr)
    share = parallel.worth_sharing(run.inputs, *ROWS_COST)
    work = functools.partial(_export_batch, functions=args.functions, parquet=parquet)
    written = 0
    with _Output(args.output) as out, run.progress:
        with out.naming_target():
            sink: _Sink = _ParquetSink(out.path, columns) if parquet else _JsonlSink(out.binary())
        try:
            with contextlib.closing(parallel.stream(work, run.inputs, run.jobs, share)) as results:
                for batch, items in results:
                    for item in items:
                        if isinstance(item, Chunk):
                            with out.naming_target():
                                sink.add(item.data)
                            written += item.rows
                        else:
                            run.report(*item)
                    run.progress.advance(len(batch))
        finally:
            with out.naming_target():
                sink.close()
    what = "function" if args.functions else "instruction"
    sys.stderr.write(f"{_plural(written, what)} written to {args.output} from {run.summary()}\n")
    return run.status


def _format_of(output: str) -> str | None:
    if output == "-":
        return "jsonl"
    suffix = os.path.splitext(output)[1].lower()
    return {".jsonl": "jsonl", ".ndjson": "jsonl", ".parquet": "parquet", ".pq": "parquet"}.get(suffix)


class _Output:
    """The output: a regular file is written under a temporary name beside it and put in place only once complete;
    anything else (standard output, a device, a pipe) is written as it is. A symbolic link is written through, so the
    file it names is the one replaced."""

    def __init__(self, target: str) -> None:
        self.target = target
        self.real = target if target == "-" else os.path.realpath(target)
        in_place = target == "-" or (os.path.exists(self.real) and not os.path.isfile(self.real))
        directory, name = os.path.split(self.real)
        self.path = self.real if in_place else os.path.join(directory, f".{name}.{os.getpid()}.part")
        self._file: BinaryIO | None = None

    def binary(self) -> BinaryIO:
        if self.target == "-":
            return _standard_output().buffer
        with self.naming_target():
            self._file = open(self.path, "wb")
        return self._file

    @contextlib.contextmanager
    def naming_target(self) -> Iterator[None]:
        """A failure to write names the user's path, not the temporary one. Standard output, and a reader that went
        away, are answered as such."""
        try:
            yield
        except OSError as e:
            if self.target == "-" or isinstance(e, BrokenPipeError):
                raise
            raise OSError(e.errno, e.strerror or str(e), self.target) from None

    def __enter__(self) -> _Output:
        return self

    def __exit__(self, kind: type[BaseException] | None, *rest: object) -> None:
        if self._file is not None:
            self._file.close()
        if self.path == self.real:
            return
        try:
            if kind is None:
                with self.naming_target():
                    os.replace(self.path, self.real)
        finally:
            if os.path.lexists(self.path):
                os.unlink(self.path)


class _Sink:
    def add(self, data: Any) -> None:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError


class _JsonlSink(_Sink):
    def __init__(self, stream: BinaryIO) -> None:
        self.stream = stream

    def add(self, data: Any) -> None:
        self.stream.write(data)

    def close(self) -> None:
        self.stream.flush()


class _ParquetSink(_Sink):
    # Chunks are gathered into row groups of this many rows (the last one of the file fewer): a chunk alone makes a
    # small group.
    ROW_GROUP = 1 << 20

    def __init__(self, path: str, columns: tuple[tuple[str, str], ...]) -> None:
        self.pa = rows.pyarrow()
        self.writer = importlib.import_module("pyarrow.parquet").ParquetWriter(
            path, rows.arrow_schema(columns), compression="zstd"
        )
        self.pending: list[Any] = []
        self.rows = 0

    def add(self, data: Any) -> None:
        if data.num_rows:
            self.pending.append(data)
            self.rows += data.num_rows
        if self.rows >= self.ROW_GROUP:
            table = self.pa.Table.from_batches(self.pending)
            whole = self.rows - self.rows % self.ROW_GROUP
            self.writer.write_table(table.slice(0, whole), row_group_size=self.ROW_GROUP)
            rest = table.slice(whole)
            self.pending, self.rows = rest.to_batches(), rest.num_rows

    def close(self) -> None:
        if self.rows:
            self.writer.write_table(self.pa.Table.from_batches(self.pending), row_group_size=self.ROW_GROUP)
        self.writer.close()


class _Closed(Exception):
    """A standard stream the command needs was closed before the program started (`>&-`)."""


def _standard_output() -> TextIO:
    if sys.stdout is None:
        raise _Closed("standard output is closed")
    return sys.stdout


def _usage_error(message: str) -> int:
    sys.stderr.write(f"zorvane: error: {message}\n")
    return UNREADABLE


# ---------------------------------------------------------------------------------------------------------------
# The command line


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text}")
    return value


def _offset(text: str) -> int:
    """A byte offset in decimal, or in hexadecimal with 0x as profilers often print it."""
    try:
        value = int(text, 16) if text.lower().startswith("0x") else int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a byte offset: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"not a byte offset: {text!r}")
    return value


def _top(text: str) -> str:
    if text != "all" and not (text.isdigit() and int(text) > 0):
        raise argparse.ArgumentTypeError(f"a count or 'all': {text!r}")
    return text


def build_parser() -> argparse.ArgumentParser:
    raw = argparse.RawDescriptionHelpFormatter
    parser = argparse.ArgumentParser(
        prog="zorvane",
        description="Check, count, look up and export NVIDIA PTX modules with the zorvane parser.",
        epilog="Run `zorvane COMMAND --help` for a command's options and examples.",
        formatter_class=raw,
    )
    parser.add_argument("--version", action="version", version=f"zorvane {_version()}")
    commands = parser.add_subparsers(metavar="COMMAND", required=True)

    many = argparse.ArgumentParser(add_help=False)
    many.add_argument(
        "paths", nargs="+", metavar="PATH", help="a PTX file, a directory (searched for *.ptx), or - for standard input"
    )
    many.add_argument(
        "-j",
        "--jobs",
        type=_positive,
        default=parallel.default_jobs(),
        metavar="N",
        help="worker processes for many files (default: the number of cores, %(default)s); "
        "a run too small to share stays in one process",
    )
    many.add_argument("--full", action="store_true", help="list every expected token in a diagnostic")

    check_parser = commands.add_parser(
        "check",
        parents=[many],
        formatter_class=raw,
        help="parse files and report where each one that fails stops parsing",
        description="Parse PTX files and report each that does not parse as FILE:LINE:COL: error: expected ..., "
        "with the source line and a caret, then a summary line. On a terminal a long list of expected tokens is "
        "shortened; --full prints it whole. Files are read as UTF-8; a leading byte-order mark is skipped.",
        epilog=f"""\
examples:
  zorvane check build/ptx/                    every *.ptx file below a directory
  zorvane check -j 1 kernel.ptx other.ptx     two files, in this process
  nvcc -ptx -o - kernel.cu | zorvane check -  standard input

{EXIT_STATUS}""",
    )
    check_parser.set_defaults(command=check)

    stats_parser = commands.add_parser(
        "stats",
        parents=[many],
        formatter_class=raw,
        help="count functions, instructions, statements, guarded instructions and opcodes",
        description="Count, per file and in total, the functions, instructions, declaration statements and guarded "
        "instructions, and the opcode mix. Files that do not parse are reported on standard error and left out.",
        epilog=f"""\
examples:
  zorvane stats kernel.ptx                    a table
  zorvane stats --top all build/ptx/          every opcode in the mix
  zorvane stats --json build/ptx/ | jq .total.opcodes

{EXIT_STATUS}""",
    )
    stats_parser.add_argument(
        "--top", type=_top, default="10", metavar="N", help="opcodes to list, or 'all' (default %(default)s)"
    )
    stats_parser.add_argument("--json", action="store_true", help="one JSON document instead of a table")
    stats_parser.set_defaults(command=stats)

    at_parser = commands.add_parser(
        "at",
        formatter_class=raw,
        help="show the instruction that starts at each byte offset of a file",
        description="Show the instruction whose mnemonic starts at each byte OFFSET of FILE, with its function, "
        "line and column, and its source line. Offsets count the bytes of the file as it is on disk (a byte-order "
        "mark included), in decimal or in hexadecimal with 0x; lines and columns count from 1, columns in "
        "characters.",
        epilog="""\
examples:
  zorvane at kernel.ptx 1309                  one instruction
  zorvane at kernel.ptx 0x51d 1242            several, in hexadecimal or decimal
  zorvane at --json kernel.ptx 1309           as JSON Lines, with the columns of `zorvane export`

exit status:
  0  an instruction starts at every offset
  1  none starts at some offset, or the file does not parse
  2  a usage error, a file that cannot be read or is not UTF-8 text, or an internal error of zorvane""",
    )
    at_parser.add_argument("file", metavar="FILE", help="a PTX file, or - for standard input")
    at_parser.add_argument("offsets", nargs="+", type=_offset, metavar="OFFSET", help="a byte offset in the file")
    at_parser.add_argument("--json", action="store_true", help="one JSON object per offset")
    at_parser.add_argument("--full", action="store_true", help="list every expected token in a diagnostic")
    at_parser.set_defaults(command=at)

    export_parser = commands.add_parser(
        "export",
        parents=[many],
        formatter_class=raw,
        help="write one row per instruction (or per function) as JSON Lines or Parquet",
        description="Write a table with one row per instruction: file, function, function_kind, offset, line, "
        "column, guard, opcode, modifiers, operand_kinds and operand_texts (the operands as written, without "
        "spaces); with --functions one row per function instead. Offsets count bytes of the file. Parquet needs "
        "pyarrow (pip install 'zorvane[parquet]'). Files that do not parse are reported and left out.",
        epilog=f"""\
examples:
  zorvane export build/ptx/ -o instructions.parquet
  zorvane export build/ptx/ --functions -o functions.jsonl
  zorvane export kernel.ptx --format jsonl -o - | jq -r .opcode | sort | uniq -c

{EXIT_STATUS}""",
    )
    export_parser.add_argument(
        "-o", "--output", required=True, metavar="OUT", help="the file to write, or - for standard output (JSON Lines)"
    )
    export_parser.add_argument(
        "--format",
        choices=["jsonl", "parquet"],
        help="the format (default: from the suffix of OUT, .jsonl or .parquet; jsonl for -)",
    )
    export_parser.add_argument("--functions", action="store_true", help="one row per function")
    export_parser.set_defaults(command=export)
    return parser


def _silence_stdout() -> None:
    # The reader went away (`zorvane stats ... | head`): nothing more can reach it, not even the final flush.
    if sys.stdout is None:
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())


class _Terminated(BaseException):
    """SIGTERM: raised like Ctrl-C's KeyboardInterrupt, so that the run cleans up after itself as it ends."""


def _terminate(signum: int, frame: object) -> None:
    raise _Terminated


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line and returns the exit status."""
    if sys.stderr is None:
        # Closed before the program started (`2>&-`): the diagnostics go nowhere, as into /dev/null.
        sys.stderr = open(os.devnull, "w")
    terminate = None
    if threading.current_thread() is threading.main_thread() and signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
        terminate = signal.signal(signal.SIGTERM, _terminate)
    try:
        return _main(argv)
    finally:
        if terminate is not None:
            signal.signal(signal.SIGTERM, terminate)


def _main(argv: Sequence[str] | None) -> int:
    try:
        args = build_parser().parse_args(argv)
        command: Callable[[argparse.Namespace], int] = args.command
        status = command(args)
        if sys.stdout is not None:
            sys.stdout.flush()
        return status
    except SystemExit as e:  # argparse, for --help and usage errors
        return e.code if isinstance(e.code, int) else UNREADABLE if e.code is not None else OK
    except KeyboardInterrupt:
        return 130
    except _Terminated:
        return 143
    except BrokenPipeError:
        _silence_stdout()
        return 141
    except (_Closed, parallel.WorkerLost) as e:
        sys.stderr.write(f"zorvane: error: {e}\n")
        return UNREADABLE
    except MemoryError:
        sys.stderr.write("zorvane: error: out of memory\n")
        return UNREADABLE
    except OSError as e:  # writing the output
        where = f": {e.filename}" if e.filename else ""
        sys.stderr.write(f"zorvane: error: {e.strerror or e}{where}\n")
        if e.filename is None:
            # Standard output could not take what it was given (a full disk): what it still holds would fail
            # again as the interpreter exits, turning the status into 120.
            _silence_stdout()
        return UNREADABLE
