"""PTX files as the parser takes them (UTF-8 without a byte-order mark), their positions, and their diagnostics."""

from __future__ import annotations

import dataclasses
import os
import re
import stat
import sys
from collections.abc import Iterator, Sequence

import zorvane

BOM = b"\xef\xbb\xbf"
STDIN = "-"
STDIN_NAME = "<stdin>"

# Exit statuses, and the status of one file: it parses, it does not, or it cannot be read (or decoded).
OK, FAILED, UNREADABLE = 0, 1, 2
# The status of a file the parser failed on internally: no fault of the file, so it ends the run as an unreadable
# file does (exit_status), but it is counted apart.
INTERNAL = 3

# On a terminal a list of expected tokens longer than this is cut (an unsupported guard expects some 140 tokens).
SHORT_EXPECTED = 8

_PARSE_ERROR = re.compile(r"error at (\d+):(\d+): (.*)", re.DOTALL)
# A number too large for its field: "number 99999999999999999999 at 6:15 does not fit in 64 bits".
_NUMBER_ERROR = re.compile(r"(.*) at (\d+):(\d+) (.*)", re.DOTALL)
# One expected token: a quoted literal, EOF, or a character class whose quoted characters may hold "]" or ",".
_EXPECTED_TOKEN = re.compile(r'"(?:\\.|[^"\\])*"|EOF|\[(?:\'(?:\\.|[^\'\\])*\'|[^\]\'])*\]')
# The pieces of an operand list that needs more than a split at commas: comments, braces, commas, the end.
_OPERAND_TOKEN = re.compile(r"//[^\n]*|[{},;]|[^{},;/\s]+|\s+|/")


@dataclasses.dataclass(frozen=True)
class Input:
    """A file to read: its name as the user wrote it, its size, and its bytes when already read (standard input)."""

    name: str
    size: int
    data: bytes | None = None


@dataclasses.dataclass(frozen=True)
class Style:
    """How diagnostics are written: in colour, and with the whole list of expected tokens or a shortened one."""

    color: bool = False
    full: bool = True

    @staticmethod
    def for_stream(stream: object, full: bool) -> Style:
        tty = bool(getattr(stream, "isatty", lambda: False)())
        # NO_COLOR turns colour off when it holds anything: set but empty, it does not.
        color = tty and not os.environ.get("NO_COLOR") and os.environ.get("TERM") != "dumb"
        return Style(color=color, full=full or not tty)

    def paint(self, text: str, code: str) -> str:
        return f"\x1b[{code}m{text}\x1b[0m" if self.color else text


@dataclasses.dataclass(frozen=True)
class Diagnostic:
    """A problem with one file, where it is known: FILE:LINE:COL: error: MESSAGE, the source line and a caret."""

    file: str
    message: str
    line: int | None = None
    column: int | None = None
    source_line: str | None = None
    severity: str = "error"

    def render(self, style: Style) -> str:
        where = self.file if self.line is None else f"{self.file}:{self.line}:{self.column}"
        severity = style.paint(f"{self.severity}:", "1;31" if self.severity == "error" else "1;35")
        out = [f"{style.paint(where + ':', '1')} {severity} {self.message if style.full else shorten(self.message)}"]
        if self.source_line is not None and self.column is not None:
            out.append(self.source_line)
            out.append(caret_line(self.source_line, self.column, style))
        return "\n".join(out)


def caret_line(source_line: str, column: int, style: Style) -> str:
    # Tabs stay tabs, so that the caret lands under its character wherever the terminal puts the tab stops.
    pad = "".join("\t" if c == "\t" else " " for c in source_line[: column - 1])
    return pad + style.paint("^", "1;32")


def shorten(message: str) -> str:
    head = "expected one of "
    if not message.startswith(head):
        return message
    tokens = _EXPECTED_TOKEN.findall(message, len(head))
    if len(tokens) <= SHORT_EXPECTED or head + ", ".join(tokens) != message:
        return message
    rest = len(tokens) - SHORT_EXPECTED
    return f"{head}{', '.join(tokens[:SHORT_EXPECTED])}, ... ({rest} more; --full lists them all)"


def exit_status(status: int) -> int:
    """The exit status a file's status ends the run with."""
    return min(status, UNREADABLE)


class Problem(Exception):
    """A file that cannot be read or parsed, with its status and diagnostic."""

    def __init__(self, status: int, diagnostic: Diagnostic) -> None:
        super().__init__(diagnostic.message)
        self.status = status
        self.diagnostic = diagnostic


class Source:
    """One file's text as the parser reads it, and the way back from the parser's byte offsets to the file.

    Offsets into the file count its bytes, the byte-order mark included; the parser's offsets count the bytes of
    the text after the mark. Lines and columns count from 1, the columns in characters, as in parse errors.
    """

    def __init__(self, name: str, data: bytes) -> None:
        self.name = shown(name)
        self.size = len(data)
        self.bom = len(BOM) if data.startswith(BOM) else 0
        body = memoryview(data)[self.bom :]
        try:
            self.text = str(body, "utf-8")
        except UnicodeDecodeError as e:
            raise Problem(UNREADABLE, _undecodable(self.name, bytes(body), e)) from None
        # One character per byte, so that the parser's offsets index it directly (the text itself when ASCII).
        self.raw = self.text if self.text.isascii() else str(body, "latin-1")
        # An offset, its line and where that line starts: rows ask for their offsets in increasing order, so each
        # search goes back no further than the offset before, however long the line.
        self._cursor = (0, 1, 0)

    def position(self, offset: int) -> tuple[int, int]:
        """Line and column of the parser's byte offset."""
        raw = self.raw
        at, line, start = self._cursor if offset >= self._cursor[0] else (0, 1, 0)
        newlines = raw.count("\n", at, offset)
        if newlines:
            line += newlines
            start = raw.rfind("\n", at, offset) + 1
        self._cursor = (offset, line, start)
        return line, self._characters(start, offset) + 1

    def line_span(self, offset: int) -> tuple[int, int]:
        """Where the line holding the parser's byte offset starts, and where its line feed (or the text) ends it."""
        end = self.raw.find("\n", offset)
        return self.raw.rfind("\n", 0, offset) + 1, len(self.raw) if end < 0 else end

    def line_around(self, offset: int) -> str:
        """The source line holding the parser's byte offset, without its line end."""
        return self._decode(*self.line_span(offset)).rstrip("\r")

    def line(self, number: int) -> str:
        start = 0
        for _ in range(number - 1):
            start = self.text.find("\n", start) + 1
            if start == 0:
                return ""
        end = self.text.find("\n", start)
        return self.text[start : None if end < 0 else end].rstrip("\r")

    def operand_texts(self, offset: int) -> list[str]:
        """The operands as written, each without whitespace or comments, from the parser's offset just past the
        modifiers of an instruction to its semicolon."""
        raw = self.raw
        end = raw.find(";", offset)
        written = raw[offset:end]
        if "/" not in written and "{" not in written:
            texts = ["".join(piece.split()) for piece in written.split(",")] if written.strip() else []
        else:
            texts = _split_operands(raw, offset)
        return texts if raw is self.text else [_utf8(t) for t in texts]

    def _characters(self, start: int, end: int) -> int:
        # An offset inside a character (one asked of `at`) counts the characters before that one.
        return end - start if self.raw is self.text else len(_utf8(self.raw[start:end], errors="ignore"))

    def _decode(self, start: int, end: int) -> str:
        piece = self.raw[start:end]
        return piece if self.raw is self.text else _utf8(piece)


def _utf8(latin1: str, errors: str = "strict") -> str:
    return latin1.encode("latin-1").decode("utf-8", errors)


def shown(name: str) -> str:
    """A file name as text that can be written anywhere: bytes that are not UTF-8 as escapes."""
    return os.fsencode(name).decode("utf-8", "backslashreplace")


def _split_operands(raw: str, offset: int) -> list[str]:
    texts: list[str] = []
    current: list[str] = []
    depth = 0
    for match in _OPERAND_TOKEN.finditer(raw, offset):
        token = match.group()
        if token.isspace() or token.startswith("//"):
            continue
        if token == ";":
            break
        if token == "," and depth == 0:
            texts.append("".join(current))
            current = []
            continue
        depth += {"{": 1, "}": -1}.get(token, 0)
        current.append(", " if token == "," else token)
    if current or texts:
        texts.append("".join(current))
    return texts


def _undecodable(name: str, body: bytes, error: UnicodeDecodeError) -> Diagnostic:
    start = body.rfind(b"\n", 0, error.start) + 1
    end = body.find(b"\n", error.start)
    source_line = body[start : len(body) if end < 0 else end].decode("utf-8", "replace").rstrip("\r")
    return Diagnostic(
        name,
        f"not UTF-8 text: byte 0x{body[error.start]:02x} cannot be decoded ({error.reason})",
        line=body.count(b"\n", 0, error.start) + 1,
        column=len(body[start : error.start].decode("utf-8")) + 1,
        source_line=source_line,
    )


def read(item: Input) -> Source:
    """The file's text, or Problem when it cannot be read or is not UTF-8."""
    if item.data is not None:
        return Source(item.name, item.data)
    try:
        with open(item.name, "rb") as f:
            data = f.read()
    except OSError as e:
        raise Problem(UNREADABLE, Diagnostic(shown(item.name), f"cannot read: {e.strerror or e}")) from None
    return Source(item.name, data)


def parse(source: Source) -> zorvane.PTXFile:
    """The parsed module, or Problem with a diagnostic where the text stops parsing (or, should the parser fail
    internally, with that failure)."""
    try:
        return zorvane.parse_ptx(source.text)
    except ValueError as e:
        found = _PARSE_ERROR.fullmatch(str(e))
        if found is None:
            raise _internal(source, e) from None
        line, column, message = int(found[1]), int(found[2]), found[3]
    except OverflowError as e:
        found = _NUMBER_ERROR.fullmatch(str(e))
        if found is None:
            raise _internal(source, e) from None
        line, column, message = int(found[2]), int(found[3]), f"{found[1]} {found[4]}"
    except MemoryError:
        raise
    except Exception as e:
        raise _internal(source, e) from None
    diagnostic = Diagnostic(source.name, message, line=line, column=column, source_line=source.line(line))
    raise Problem(FAILED, diagnostic)


def _internal(source: Source, error: Exception) -> Problem:
    return Problem(INTERNAL, Diagnostic(source.name, f"internal error of zorvane: {type(error).__name__}: {error}"))


def collect(paths: Sequence[str]) -> tuple[list[Input], list[Diagnostic]]:
    """The files named and the *.ptx files below the directories named, each directory in name order; standard
    input is read here for "-". Paths that cannot be listed or read come back as diagnostics."""
    inputs: list[Input] = []
    problems: list[Diagnostic] = []
    for path in paths:
        if path == STDIN:
            try:
                if sys.stdin is None:  # closed before the program started (`<&-`)
                    raise OSError("standard input is closed")
                data = sys.stdin.buffer.read()
            except OSError as e:
                problems.append(Diagnostic(STDIN_NAME, f"cannot read: {e.strerror or e}"))
                continue
            inputs.append(Input(STDIN_NAME, len(data), data))
        elif os.path.isdir(path):
            for name, size in _walk(path, problems):
                inputs.append(Input(name, size))
        else:
            try:
                inputs.append(Input(path, os.stat(path).st_size))
            except OSError as e:
                problems.append(Diagnostic(shown(path), f"cannot read: {e.strerror or e}"))
    return inputs, problems


def _walk(root: str, problems: list[Diagnostic]) -> Iterator[tuple[str, int]]:
    def report(e: OSError) -> None:
        problems.append(Diagnostic(shown(e.filename or root), f"cannot list: {e.strerror or e}"))

    for directory, subdirectories, files in os.walk(root, onerror=report):
        subdirectories.sort()
        for name in sorted(files):
            if name.endswith(".ptx"):
                path = os.path.join(directory, name)
                try:
                    status = os.stat(path)
                except OSError as e:
                    problems.append(Diagnostic(shown(path), f"cannot read: {e.strerror or e}"))
                    continue
                # A pipe, socket or device named *.ptx is not a file of the tree: reading it could wait forever.
                if stat.S_ISREG(status.st_mode):
                    yield path, status.st_size
