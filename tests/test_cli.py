# The `zorvane` command line: exit statuses, diagnostics with their caret, counts and offsets that agree with the
# module, exported tables, worker processes, and no traceback when the reader goes away or the user interrupts.
from __future__ import annotations

import collections
import contextlib
import functools
import io
import json
import multiprocessing
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import zorvane
from zorvane_cli import cli, parallel
from zorvane_cli.cli import main
from zorvane_cli.sources import Diagnostic, Style

REPO_ROOT = Path(__file__).resolve().parent.parent
SAMPLE_PATH = REPO_ROOT / "examples" / "vector_sum.ptx"
SAMPLE = SAMPLE_PATH.read_bytes()
GUARDED_BRANCH = b"\t@%p1 bra \t$L__BB1_2;"


def cli_env() -> dict[str, str]:
    """The environment of a child that runs `python -m zorvane_cli` with the module and the package these tests use."""
    import zorvane_cli

    found = [str(Path(zorvane.__file__).resolve().parent), str(Path(zorvane_cli.__file__).resolve().parent.parent)]
    return dict(os.environ, PYTHONPATH=os.pathsep.join([*found, os.environ.get("PYTHONPATH", "")]))


def run(capsys, *argv):
    status = main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return status, out, err


def api_instructions(text: str):
    return [i for f in zorvane.parse_ptx(text).functions for i in f.body.instructions]


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_check_examples(capsys, jobs):
    assert run(capsys, "check", "-j", jobs, REPO_ROOT / "examples") == (0, "1 file: 1 ok, 0 failed\n", "")


# A copy of the sample broken one way: its exit status, the line of the diagnostic, the start of its message, and the
# character the caret points at.
BROKEN = [
    pytest.param(lambda t: t.replace(GUARDED_BRANCH, b"\t@!%p1 bra \t$L__BB1_2;"), 1, 52, 'expected one of "$"', "@",
                 id="negated-guard-after-tab"),
    pytest.param(lambda t: b"\xef\xbb\xbf" + t.replace(b"%ctaid.x;", "%ctaid.x; é".encode()), 1, 47, "expected",
                 "é", id="bom-and-multibyte-column"),
    pytest.param(lambda t: t.replace(b"%r1, 4;", b"%r1, 99999999999999999999;"), 1, 55,
                 "number 99999999999999999999 does not fit in 64 bits", "9", id="number-too-large"),
    pytest.param(lambda t: t.replace(b"examples: a", b"examples:\xff a"), 2, 1, "not UTF-8 text: byte 0xff", "\ufffd",
                 id="not-utf8"),
]


@pytest.mark.parametrize("transform, status, line, message, at", BROKEN)
def test_check_reports_where_a_copy_breaks(capsys, tmp_path, transform, status, line, message, at):
    path = tmp_path / "broken.ptx"
    path.write_bytes(transform(SAMPLE))
    got, out, _ = run(capsys, "check", path)
    first, source_line, caret, summary = out.splitlines()
    where, _, text = first.partition(": error: ")
    file, got_line, column = where.rsplit(":", 2)
    assert (got, file, int(got_line), summary) == (status, str(path), line, "1 file: 0 ok, " +
                                                  ("1 failed" if status == 1 else "0 failed, 1 unreadable"))
    assert text.startswith(message)
    # The caret stands under the offending character, with the line's tabs copied so that it lines up on a terminal.
    assert caret == "".join("\t" if c == "\t" else " " for c in source_line[: int(column) - 1]) + "^"
    assert source_line[int(column) - 1] == at


def test_expected_list_is_shortened_on_a_terminal_only(monkeypatch):
    monkeypatch.setenv("NO_COLOR", "1")
    message = "expected one of " + ", ".join(f'"t{i}"' for i in range(20)) + ", EOF, ['a'..='z' | ',']"

    class Terminal:
        @staticmethod
        def isatty():
            return True

    short = Diagnostic("f.ptx", message).render(Style.for_stream(Terminal(), full=False))
    assert short.endswith('"t7", ... (14 more; --full lists them all)'), short
    assert Diagnostic("f.ptx", message).render(Style.for_stream(Terminal(), full=True)) == f"f.ptx: error: {message}"
    assert Diagnostic("f.ptx", message).render(Style.for_stream(sys.stderr, full=False)).endswith("| ',']")


@pytest.mark.parametrize(
    "paths, status",
    [
        pytest.param(["good.ptx", "sub"], 0, id="all-parse"),
        pytest.param(["good.ptx", "bad.ptx"], 1, id="one-fails"),
        pytest.param(["good.ptx", "missing.ptx"], 2, id="missing-file"),
        pytest.param(["bad.ptx", "missing.ptx"], 2, id="read-error-outranks-failure"),
        pytest.param(["empty"], 0, id="directory-without-ptx"),
        pytest.param([], 2, id="no-path"),
    ],
)
def test_exit_status(capsys, tmp_path, monkeypatch, paths, status):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "good.ptx").write_bytes(SAMPLE)
    (tmp_path / "bad.ptx").write_bytes(SAMPLE + b"}")
    (tmp_path / "sub" / "deeper").mkdir(parents=True)
    (tmp_path / "sub" / "deeper" / "x.ptx").write_bytes(SAMPLE)
    (tmp_path / "sub" / "notes.txt").write_bytes(b"not PTX")
    (tmp_path / "empty").mkdir()
    assert run(capsys, "check", *paths)[0] == status


@pytest.mark.parametrize("command, error, kept", [
    pytest.param(["check"], SystemError("bad argument"), "2 files: 1 ok, 0 failed, 1 internal error\n", id="check"),
    pytest.param(["stats"], RuntimeError("broken invariant"), "good.ptx", id="stats"),
    pytest.param(["export", "-o", "-"], ValueError("no position"), '"file":"good.ptx"', id="export"),
])
def test_an_internal_error_of_the_parser_is_not_the_files_fault(capsys, tmp_path, monkeypatch, command, error, kept):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "good.ptx").write_bytes(SAMPLE)
    (tmp_path / "odd.ptx").write_bytes(SAMPLE + b"// odd\n")
    parse = zorvane.parse_ptx

    def failing(text):
        if text.endswith("// odd\n"):
            raise error
        return parse(text)

    monkeypatch.setattr(zorvane, "parse_ptx", failing)
    status, out, err = run(capsys, *command, "-j", "1", "good.ptx", "odd.ptx")
    assert status == 2 and kept in out
    assert f"odd.ptx: error: internal error of zorvane: {type(error).__name__}: {error}\n" in out + err


@pytest.mark.parametrize("jobs", ["abc", "2.5"])
def test_jobs_that_are_not_a_number(capsys, jobs):
    status, _, err = run(capsys, "check", "-j", jobs, SAMPLE_PATH)
    assert status == 2 and err.endswith(f"argument -j/--jobs: not a whole number: {jobs!r}\n")


def test_standard_input(capsys, monkeypatch):
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(SAMPLE + b"x")))
    status, out, _ = run(capsys, "check", "-")
    assert status == 1 and out.startswith("<stdin>:")


def test_stats_json_agrees_with_the_module(capsys):
    status, out, _ = run(capsys, "stats", "--json", "--top", "all", SAMPLE_PATH)
    functions = zorvane.parse_ptx(SAMPLE.decode()).functions
    instructions = api_instructions(SAMPLE.decode())
    expected = {
        "functions": len(functions),
        "instructions": len(instructions),
        "statements": sum(len(f.body.statements) for f in functions),
        "guarded": sum(i.is_predicated is not None for i in instructions),
        "opcodes": dict(collections.Counter(str(i.opcode) for i in instructions)),
    }
    document = json.loads(out)
    assert status == 0 and document["failed"] == []
    assert document["files"] == [{"file": str(SAMPLE_PATH), **expected}]
    assert document["total"] == {"files": 1, **expected}


def test_stats_json_lists_every_file_left_out(capsys, tmp_path):
    # A file found in a directory but gone (a dangling link) is left out as a file that does not parse is.
    (tmp_path / "a-gone.ptx").symlink_to(tmp_path / "missing")
    (tmp_path / "b-bad.ptx").write_bytes(SAMPLE + b"}")
    (tmp_path / "c-good.ptx").write_bytes(SAMPLE)
    status, out, err = run(capsys, "stats", "--json", tmp_path)
    assert status == 2 and err.endswith("3 files: 1 ok, 1 failed, 1 unreadable\n")
    assert json.loads(out)["failed"] == [str(tmp_path / "a-gone.ptx"), str(tmp_path / "b-bad.ptx")]


@pytest.mark.parametrize("bom", [b"", b"\xef\xbb\xbf"], ids=["plain", "byte-order-mark"])
def test_at_finds_every_instruction_by_its_file_offset(capsys, tmp_path, bom):
    path = tmp_path / "sample.ptx"
    path.write_bytes(bom + SAMPLE)
    instructions = api_instructions(SAMPLE.decode())
    offsets = [len(bom) + i.offset for i in instructions]
    status, out, _ = run(capsys, "at", "--json", path, *offsets)
    found = [json.loads(line) for line in out.splitlines()]
    assert status == 0
    assert [(r["offset"], r["opcode"], r["modifiers"]) for r in found] == [
        (offset, str(i.opcode), i.modifiers) for offset, i in zip(offsets, instructions)
    ]
    assert all((bom + SAMPLE)[r["offset"]:].startswith(r["opcode"].encode()) for r in found)


@pytest.mark.parametrize(
    "offset, message",
    [
        pytest.param(1310, "52:8: error: no instruction starts at byte 1310; on this line one starts at byte 1309",
                     id="inside-an-instruction"),
        pytest.param(len(SAMPLE), f"error: byte {len(SAMPLE)} is past the end of the file", id="past-the-end"),
    ],
)
def test_at_without_an_instruction(capsys, offset, message):
    status, out, err = run(capsys, "at", SAMPLE_PATH, offset, hex(1309))
    assert status == 1 and message in err
    assert out.splitlines()[0].endswith(":52:7: vec_add: @%p1 bra $L__BB1_2")


# Operands as written, read from the source text: comments, spaces and line breaks inside an instruction are dropped.
@pytest.mark.parametrize(
    "line, kinds, texts",
    [
        ("ld.global.v2.f32 {%f1 ,%f2}, [%rd1 + -8];", ["vector", "memory_reg_disp"], ["{%f1, %f2}", "[%rd1+-8]"]),
        ("@%p1 bra $L__BB0_1; // taken, mostly;", ["label"], ["$L__BB0_1"]),
        ("add.s32 %r1, // first; operand\n\t%r2 ,\n-1 ;", ["reg", "reg", "imm"], ["%r1", "%r2", "-1"]),
        ("mov.f32%f1,0f3F800000;", ["reg", "float_imm"], ["%f1", "0f3F800000"]),
        ("ret;", [], []),
    ],
    ids=["vector-and-negative-displacement", "comment-after", "comment-inside", "no-spaces", "no-operands"],
)
def test_export_operand_texts(capsys, tmp_path, line, kinds, texts):
    path = tmp_path / "one.ptx"
    path.write_text(f".version 8.5\n.target sm_80\n.address_size 64\n// ü\n.entry k()\n{{\n\t{line}\n}}\n")
    status, out, _ = run(capsys, "export", path, "-o", "-")
    (row,) = [json.loads(r) for r in out.splitlines()]
    assert status == 0 and (row["line"], row["column"]) == (7, 7 if line.startswith("@") else 2)
    assert (row["operand_kinds"], row["operand_texts"]) == (kinds, texts)


def test_export_jsonl_one_row_per_instruction(capsys, tmp_path):
    out = tmp_path / "rows.jsonl"
    status, _, err = run(capsys, "export", SAMPLE_PATH, "--format", "jsonl", "-o", out)
    rows = [json.loads(line) for line in out.read_text().splitlines()]
    instructions = api_instructions(SAMPLE.decode())
    assert status == 0 and err.startswith(f"{len(instructions)} instructions written to")
    assert [(r["offset"], r["opcode"], r["guard"]) for r in rows] == [
        (i.offset, str(i.opcode), i.is_predicated) for i in instructions
    ]
    assert {r["function"]: r["function_kind"] for r in rows} == {
        "store_scaled": "function", "vec_add": "kernel", "block_sum": "kernel"}


@pytest.mark.parametrize("functions", [False, True], ids=["instructions", "functions"])
def test_export_parquet_reads_back(capsys, tmp_path, functions):
    pq = pytest.importorskip("pyarrow.parquet")
    out = tmp_path / "rows.parquet"
    status, _, _ = run(capsys, "export", SAMPLE_PATH, "-o", out, *(["--functions"] if functions else []))
    table = pq.read_table(out)
    from zorvane_cli import rows

    parsed = zorvane.parse_ptx(SAMPLE.decode())
    expected = len(parsed.functions) if functions else len(api_instructions(SAMPLE.decode()))
    columns = rows.FUNCTION_COLUMNS if functions else rows.INSTRUCTION_COLUMNS
    assert status == 0 and table.num_rows == expected
    assert table.column_names == [name for name, _ in columns]
    assert not list(tmp_path.glob(".*.part")), "the temporary file is put in place"


def test_parquet_without_pyarrow(capsys, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    monkeypatch.setitem(sys.modules, "pyarrow.parquet", None)
    status, _, err = run(capsys, "export", SAMPLE_PATH, "-o", tmp_path / "rows.parquet")
    assert status == 2 and "pip install 'zorvane[parquet]'" in err
    assert not list(tmp_path.iterdir())


@pytest.mark.parametrize("method", multiprocessing.get_all_start_methods())
def test_worker_processes_give_the_same_output(capsys, tmp_path, monkeypatch, method):
    # More batches than workers, a failure among them, rows in chunks that end inside files (here, and in forked
    # workers); the output must keep the order of the inputs.
    for n in range(12):
        (tmp_path / f"f{n:02d}.ptx").write_bytes(SAMPLE if n != 7 else SAMPLE + b"}")
    monkeypatch.setattr(parallel, "BATCH_FILES", 2)
    monkeypatch.setattr(cli, "CHUNK_ROWS", 5)
    monkeypatch.setattr(multiprocessing, "get_context", functools.partial(multiprocessing.get_context, method))
    results = []
    for jobs, share in [(1, False), (2, True)]:
        monkeypatch.setattr(parallel, "worth_sharing", lambda *_: share)
        results.append([run(capsys, "check", "-j", jobs, tmp_path),
                        run(capsys, "export", "-j", jobs, tmp_path, "-o", "-")])
    assert results[0] == results[1]
    assert results[0][0][0] == 1 and results[0][1][1].count("\n") == 11 * len(api_instructions(SAMPLE.decode()))


def _output_through_link(tmp_path):
    (tmp_path / "real.jsonl").write_text("old")
    (tmp_path / "link.jsonl").symlink_to("real.jsonl")
    return tmp_path / "link.jsonl", tmp_path / "real.jsonl"


def _output_to_pipe(tmp_path):
    os.mkfifo(tmp_path / "pipe.jsonl")
    got = []
    reader = threading.Thread(target=lambda: got.append((tmp_path / "pipe.jsonl").read_bytes()), daemon=True)
    reader.start()
    return tmp_path / "pipe.jsonl", lambda: reader.join(timeout=60) or (got or [b"the pipe was never written"])[0]


@pytest.mark.parametrize("make", [_output_through_link, _output_to_pipe], ids=["symlink", "fifo"])
def test_export_writes_through_what_the_output_names(capsys, tmp_path, make):
    # A link or a pipe (or a device) must be written through, never replaced by a new file.
    out, written = make(tmp_path)
    kind = os.lstat(out).st_mode
    status, _, _ = run(capsys, "export", SAMPLE_PATH, "--format", "jsonl", "-o", out)
    data = written.read_bytes() if isinstance(written, Path) else written()
    assert status == 0 and os.lstat(out).st_mode == kind
    assert data.count(b"\n") == len(api_instructions(SAMPLE.decode()))
    assert [p.name for p in tmp_path.iterdir() if p.name.endswith(".part")] == []


@pytest.mark.parametrize(("output", "message"), [
    ("", "-o needs a path"),
    ("{tmp}", "names a directory"),
    ("{tmp}/missing/rows.jsonl", "No such file or directory: {tmp}/missing/rows.jsonl"),
], ids=["empty", "directory", "missing-directory"])
def test_export_output_that_cannot_be_written(capsys, tmp_path, output, message):
    status, _, err = run(capsys, "export", SAMPLE_PATH, "--format", "jsonl", "-o", output.format(tmp=tmp_path))
    assert status == 2 and message.format(tmp=tmp_path) in err and "Traceback" not in err
    assert not list(tmp_path.rglob("*.part"))


@contextlib.contextmanager
def within_a_minute():
    """Fails what would wait forever, instead of hanging the run."""

    def give_up(*_):
        raise TimeoutError("still waiting after a minute")

    previous = signal.signal(signal.SIGALRM, give_up)
    signal.alarm(60)
    try:
        yield
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


def _die_on_second_batch(batch):
    if batch[0].name.endswith("f01.ptx"):
        os._exit(3)
    return len(batch)


def test_a_worker_that_dies_is_reported_not_waited_for(monkeypatch):
    inputs = [parallel.Input(f"f{n:02d}.ptx", 1) for n in range(4)]
    monkeypatch.setattr(parallel, "BATCH_FILES", 1)
    monkeypatch.setattr(multiprocessing, "get_context", functools.partial(multiprocessing.get_context, "fork"))
    with within_a_minute(), pytest.raises(parallel.WorkerLost, match="killed, or out of memory"):
        list(parallel.run(_die_on_second_batch, inputs, 2, True))


def test_awkward_files_and_offsets(capsys, tmp_path):
    # A pipe named *.ptx in a directory would be read forever; a name that is not UTF-8 must still be written out;
    # an offset inside a multi-byte character is no instruction, not a failure to decode.
    os.mkfifo(tmp_path / "pipe.ptx")
    (tmp_path / os.fsdecode(b"x\xff.ptx")).write_bytes(SAMPLE)
    with within_a_minute():
        assert run(capsys, "check", tmp_path) == (0, "1 file: 1 ok, 0 failed\n", "")
    status, out, _ = run(capsys, "export", tmp_path, "-o", "-")
    assert status == 0 and json.loads(out.splitlines()[0])["file"].endswith("x\\xff.ptx")
    text = SAMPLE.replace(b"// ", "// é ".encode(), 1)
    (tmp_path / "u.ptx").write_bytes(text)
    inside = text.index("é".encode()) + 1
    status, _, err = run(capsys, "at", tmp_path / "u.ptx", inside)
    assert status == 1 and f"no instruction starts at byte {inside}" in err


@pytest.mark.parametrize("command", ["check", "stats", "at", "export"])
def test_help_has_examples(capsys, command):
    status, out, _ = run(capsys, command, "--help")
    assert status == 0 and "examples:\n  zorvane " + command in out


def test_no_traceback_when_the_reader_goes_away():
    # The reader has gone before anything is written, as when `| head` has read what it wanted.
    read_end, write_end = os.pipe()
    os.close(read_end)
    done = subprocess.run([sys.executable, "-m", "zorvane_cli", "stats", SAMPLE_PATH], stdout=write_end,
                          stderr=subprocess.PIPE, env=cli_env(), timeout=60)
    os.close(write_end)
    assert (done.returncode, done.stderr) == (141, b"")


@pytest.mark.parametrize("redirect, argv, status, message", [
    ("<&-", ["check", "-"], 2, b"<stdin>: error: cannot read: standard input is closed\n"),
    (">&-", ["stats", SAMPLE_PATH], 2, b"zorvane: error: standard output is closed\n"),
    ("2>&-", ["check", SAMPLE_PATH, SAMPLE_PATH], 0, b"2 files: 2 ok, 0 failed\n"),
], ids=["stdin", "stdout", "stderr"])
def test_a_closed_standard_stream(redirect, argv, status, message):
    done = subprocess.run(["sh", "-c", f'exec "$@" {redirect}', "sh", sys.executable, "-m", "zorvane_cli", *argv],
                          capture_output=True, env=cli_env(), timeout=60)
    assert done.returncode == status and message in done.stdout + done.stderr, done.stderr


def test_a_full_disk_on_standard_output_is_one_error():
    if not Path("/dev/full").exists():
        pytest.skip("no /dev/full here")
    env = {k: v for k, v in cli_env().items() if k != "PYTHONUNBUFFERED"}  # the output is buffered, as usual
    with open("/dev/full", "wb") as full:
        done = subprocess.run([sys.executable, "-m", "zorvane_cli", "stats", SAMPLE_PATH], stdout=full,
                              stderr=subprocess.PIPE, env=env, timeout=60)
    assert (done.returncode, done.stderr) == (2, b"zorvane: error: No space left on device\n")


def test_no_traceback_on_ctrl_c():
    child = subprocess.Popen([sys.executable, "-m", "zorvane_cli", "check", "-"], stdin=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=cli_env())
    # Interrupt it once it waits for standard input (on Linux, /proc names the system call it is blocked in).
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            if Path(f"/proc/{child.pid}/syscall").read_text().startswith("0 0x0 "):
                break
        except OSError:
            pass
        time.sleep(0.02)
    child.send_signal(signal.SIGINT)
    assert child.wait(timeout=60) == 130 and child.stderr.read() == b""
    child.stdin.close()


@pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)], ids=["ctrl-c", "sigterm"])
def test_a_signal_while_workers_run_leaves_nothing_behind(tmp_path, signum, status):
    # Each worker blocks opening a named pipe of its own, so the signal reaches the main process as it waits for them.
    pipes = [tmp_path / f"p{n}.ptx" for n in range(2)]
    for pipe in pipes:
        os.mkfifo(pipe)
    (tmp_path / "spool").mkdir()
    runner = ("import sys; from zorvane_cli import cli, parallel; parallel.BATCH_FILES = 1; "
              "parallel.worth_sharing = lambda *a: True; sys.exit(cli.main())")
    child = subprocess.Popen([sys.executable, "-c", runner, "export", "-j", "2", "-o", tmp_path / "out.jsonl", *pipes],
                             stderr=subprocess.PIPE, env=cli_env() | {"TMPDIR": str(tmp_path / "spool")})

    def reader_of(pipe):  # the write end opens only while something reads the pipe
        with contextlib.suppress(OSError):
            os.close(os.open(pipe, os.O_WRONLY | os.O_NONBLOCK))
            return True
        return False

    try:
        deadline = time.monotonic() + 30
        while not reader_of(pipes[0]) and time.monotonic() < deadline:
            time.sleep(0.02)
        child.send_signal(signum)
        assert child.wait(timeout=60) == status and child.stderr.read() == b""
        assert sorted(p.name for p in tmp_path.iterdir()) == ["p0.ptx", "p1.ptx", "spool"]
        assert not any((tmp_path / "spool").iterdir()) and not any(reader_of(pipe) for pipe in pipes)
    finally:
        for pipe in pipes:  # a worker left behind reads an empty file and ends
            reader_of(pipe)


def test_console_script_is_installed():
    script = Path(sys.executable).with_name("zorvane")
    if not script.exists():
        pytest.skip("zorvane is not installed beside this interpreter (a build-tree run)")
    done = subprocess.run([script, "check", REPO_ROOT / "examples"], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout) == (0, "1 file: 1 ok, 0 failed\n")
