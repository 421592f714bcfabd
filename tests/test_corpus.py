# The real PTX corpus: the files inside the accepted subset parse whole; every line of a sample parses or is refused;
# the fuzz target's checks hold on every file.
import os
import subprocess
from pathlib import Path

import pytest

import zorvane

SMALL_FILES_READ_WHOLE = 60
LINES_PER_LARGER_FILE = 150
BODY_ITEM_KINDS = ("statement", "instruction", "label", "call", "param")


def read_text(path: Path) -> str:
    return path.read_bytes().decode("utf-8", errors="replace")


def test_subset_files_parse(corpus_subset_files):
    assert len(corpus_subset_files) == 53
    failures = []
    for path in corpus_subset_files:
        text = read_text(path)
        data = text.encode()
        try:
            ptx = zorvane.parse_ptx(text)
        except ValueError as error:
            failures.append(f"{path.name}: {error}")
            continue
        count = 0
        for fn in ptx.functions:
            for instr in fn.body.instructions:
                count += 1
                mnemonic = str(instr.opcode)
                if not data[instr.offset:].startswith(mnemonic.encode()):
                    failures.append(f"{path.name}: offset {instr.offset} does not start with {mnemonic!r}")
                found = ptx.get_instruction(instr.offset)
                if found is None or str(found) != str(instr) or found.is_predicated != instr.is_predicated:
                    failures.append(f"{path.name}: get_instruction({instr.offset}) gives {found}, not {instr}")
        if count == 0:
            failures.append(f"{path.name}: no instructions")
    assert not failures, "\n".join(failures)


def sample_lines(corpus_dir: Path):
    """Every line of the smallest files and an evenly spaced, fixed sample of the lines of the others."""
    files = sorted((corpus_dir / "real").glob("*.ptx"), key=lambda p: (p.stat().st_size, p.name))
    for index, path in enumerate(files):
        lines = read_text(path).splitlines()
        if index < SMALL_FILES_READ_WHOLE:
            chosen = lines
        else:
            stride = max(1, len(lines) // LINES_PER_LARGER_FILE)
            chosen = lines[index % stride::stride]
        for line in chosen:
            yield path.name, line


def test_corpus_lines_give_a_tree_none_or_overflow(corpus_dir):
    outcomes = {"none": 0, "overflow": 0}
    failures = []
    for name, line in sample_lines(corpus_dir):
        try:
            item = zorvane.parse_function_body_line(line)
        except OverflowError:
            outcomes["overflow"] += 1
            continue
        except Exception as error:  # anything else is a fault, whatever the line
            failures.append(f"{name}: {line!r}: {type(error).__name__}: {error}")
            continue
        if item is None:
            outcomes["none"] += 1
            continue
        kind = type(item).__name__
        if not kind.startswith("BodyItem_") or item.kind() not in BODY_ITEM_KINDS:
            failures.append(f"{name}: {line!r}: unexpected result {item!r}")
            continue
        outcomes[kind] = outcomes.get(kind, 0) + 1
    assert not failures, "\n".join(failures[:50])
    # A sample of real code is mostly instructions, declarations and labels that the grammar reads.
    for kind in ("BodyItem_Instruction", "BodyItem_Statement", "BodyItem_LabelDef"):
        assert outcomes.get(kind, 0) > 100, outcomes


def fuzz_replay_program() -> str:
    """The fuzz target's replay program named by ZORVANE_FUZZ_REPLAY."""
    path = os.environ.get("ZORVANE_FUZZ_REPLAY")
    if not path:
        if os.environ.get("ZORVANE_REQUIRE_REPLAY") == "1":
            pytest.fail("ZORVANE_REQUIRE_REPLAY=1 but ZORVANE_FUZZ_REPLAY names no program", pytrace=False)
        pytest.skip("ZORVANE_FUZZ_REPLAY does not name the fuzz_replay program of a build with ZORVANE_TOOLS")
    if not os.access(path, os.X_OK):
        pytest.fail(f"ZORVANE_FUZZ_REPLAY={path} is not an executable program", pytrace=False)
    return path


def test_fuzz_target_checks_hold_on_every_corpus_file(corpus_dir):
    # The fuzz target parses each file twice, holds the first pass's furthest failure to every failure the second
    # marks, and checks the tree against its readers; --all-accepted fails on a file it would pass over.
    files = sorted((corpus_dir / "real").glob("*.ptx"))
    assert files
    result = subprocess.run([fuzz_replay_program(), "--all-accepted", *map(str, files)],
                            capture_output=True, text=True, check=False)
    assert result.returncode == 0, result.stdout + result.stderr[-20000:]
    assert f"{len(files)} inputs replayed, 0 of them refused" in result.stdout
