# The README's examples against the module: its pycon blocks run as doctests, its python blocks as scripts whose
# output, where a text block follows, must match it, and its console blocks as shell sessions of the command line.
from __future__ import annotations

import contextlib
import doctest
import io
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

import zorvane
import zorvane_cli

REPO_ROOT = Path(__file__).resolve().parent.parent
README = REPO_ROOT / "README.md"

FENCE = re.compile(r"^```(?P<info>[a-z]*)\n(?P<code>.*?)^```\n", re.MULTILINE | re.DOTALL)


def readme_blocks() -> list[tuple[str, int, str, bool]]:
    """The fenced blocks of the README: info string, line of the first code line, code, and whether the block
    directly follows the one before it (nothing but blank lines between them)."""
    text = README.read_text(encoding="utf-8")
    found = []
    previous_end = None
    for m in FENCE.finditer(text):
        adjacent = previous_end is not None and text[previous_end:m.start()].strip() == ""
        found.append((m["info"], text.count("\n", 0, m.start("code")) + 1, m["code"], adjacent))
        previous_end = m.end()
    return found


@pytest.fixture
def in_repo_root(monkeypatch):
    # The examples open examples/vector_sum.ptx, as a reader running them from a checkout would.
    monkeypatch.chdir(REPO_ROOT)


def test_every_python_block_is_checked():
    # A block of Python that neither runs as a doctest nor as a script would rot unnoticed.
    found = readme_blocks()
    assert {info for info, *_ in found} <= {"sh", "pycon", "python", "text", "console"}
    for index, (info, line, code, adjacent) in enumerate(found):
        if info == "pycon":
            assert code.startswith(">>> "), f"README.md:{line}: a pycon block starts with a prompt"
        if info == "text":
            assert adjacent and found[index - 1][0] == "python", f"README.md:{line}: output of no python block"
    assert sum(info == "pycon" for info, *_ in found) >= 8


@pytest.mark.usefixtures("in_repo_root")
def test_pycon_examples():
    globs: dict[str, object] = {}
    parser = doctest.DocTestParser()
    out = io.StringIO()
    runner = doctest.DocTestRunner(verbose=False)
    examples = 0
    for info, line, code, _ in readme_blocks():
        if info != "pycon":
            continue
        # One doctest per block, each going on with the names of the blocks before it, as in a reader's session.
        test = parser.get_doctest(code, globs, f"README.md:{line}", str(README), line - 1)
        examples += len(test.examples)
        runner.run(test, out=out.write, clear_globs=False)
        globs = test.globs
    assert runner.failures == 0, out.getvalue()
    assert examples == runner.tries > 0


@pytest.mark.usefixtures("in_repo_root")
def test_python_examples():
    found = readme_blocks()
    scripts = 0
    for index, (info, line, code, _) in enumerate(found):
        if info != "python":
            continue
        scripts += 1
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            exec(compile(code, f"README.md:{line}", "exec"), {"__name__": "readme_example"})
        following = found[index + 1] if index + 1 < len(found) else None
        if following is not None and following[0] == "text" and following[3]:
            assert output.getvalue() == following[2], f"README.md:{line}"
    assert scripts > 0


def test_console_examples(tmp_path):
    # Each "$ " line runs in bash, in a scratch directory that sees the checkout's examples/, with `zorvane` standing
    # for this interpreter's program; what it writes (standard output and error, in order) must be the lines below it.
    (tmp_path / "examples").symlink_to(REPO_ROOT / "examples")
    found = [str(Path(m.__file__).resolve().parent) for m in (zorvane, zorvane_cli)]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([found[0], str(Path(found[1]).parent)]), PYTHONUNBUFFERED="1")
    env.pop("NO_COLOR", None)
    define = f'zorvane() {{ {shlex.quote(sys.executable)} -m zorvane_cli "$@"; }}\n'
    commands = 0
    for info, line, code, _ in readme_blocks():
        if info != "console":
            continue
        for session in re.split(r"^\$ ", code, flags=re.MULTILINE)[1:]:
            command, _, expected = session.partition("\n")
            done = subprocess.run(["bash", "-c", f"{define}{{ {command}\n}} 2>&1"], cwd=tmp_path, env=env,
                                  capture_output=True, text=True, timeout=120)
            assert done.stdout == expected, f"README.md:{line}: {command}"
            commands += 1
    assert commands >= 5
