# The README's examples against the module: its pycon blocks run as doctests, its python blocks as scripts whose
# output, where a text block follows, must match it.
from __future__ import annotations

import contextlib
import doctest
import io
import re
from pathlib import Path

import pytest

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
    assert {info for info, *_ in found} <= {"sh", "pycon", "python", "text"}
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
