# The example program: it reports a module, with or without a byte-order mark, and turns a parse error into
# FILE:LINE:COL on stderr.
import os
import subprocess
import sys
from pathlib import Path

import pytest

import zorvane

REPO_ROOT = Path(__file__).resolve().parent.parent
INSPECT = REPO_ROOT / "examples" / "inspect_ptx.py"
SAMPLE = (REPO_ROOT / "examples" / "vector_sum.ptx").read_text(encoding="utf-8")


def inspect(path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in [str(Path(zorvane.__file__).resolve().parent),
                                                     env.get("PYTHONPATH")] if p)
    return subprocess.run([sys.executable, str(INSPECT), str(path)], capture_output=True, text=True, env=env,
                          timeout=60)


@pytest.mark.parametrize("prefix", ["", "\ufeff"], ids=["plain", "byte-order-mark"])
def test_reports_the_sample(tmp_path, prefix):
    path = tmp_path / "sample.ptx"
    path.write_text(prefix + SAMPLE, encoding="utf-8")
    done = inspect(path)
    assert done.returncode == 0, done.stderr
    assert "header: .version 8.5  .target SM80  .address_size 64" in done.stdout
    assert "functions (4):" in done.stdout


@pytest.mark.parametrize(
    "text, where",
    [
        pytest.param("}", "1:1: expected \".version\"", id="no-header"),
        pytest.param("\ufeff.version 8.5\n.target sm_80\n.address_size 64\nxyz\n", "4:1: expected one of", id="bom"),
    ],
)
def test_parse_error_goes_to_stderr_with_its_place(tmp_path, text, where):
    path = tmp_path / "broken.ptx"
    path.write_text(text, encoding="utf-8")
    done = inspect(path)
    assert done.returncode == 1 and done.stdout == ""
    assert done.stderr.startswith(f"{path}:{where}")
