"""Shared fixtures: where the real PTX corpus and the shipped examples live, and where the command-line program is."""

from __future__ import annotations

import csv
import importlib.util
import os
import sys
from pathlib import Path

import pytest

REPO_ROOT = Path(__file__).resolve().parent.parent
EXAMPLES_DIR = REPO_ROOT / "examples"

# The command-line program is a pure-Python package of the distribution: installed with it, or, beside a build tree
# (PYTHONPATH=build), read from the checkout.
if importlib.util.find_spec("zorvane_cli") is None:
    sys.path.insert(0, str(REPO_ROOT / "python"))


def _find_corpus() -> Path | None:
    # ZORVANE_CORPUS when set (and then only there); otherwise the shared checkout beside the repository, as CI
    # lays it out.
    if os.environ.get("ZORVANE_CORPUS"):
        candidate = Path(os.environ["ZORVANE_CORPUS"])
    else:
        candidate = REPO_ROOT.parent / "shared" / "corpus"
    return candidate if (candidate / "real").is_dir() else None


def corpus_required() -> bool:
    """Whether a missing corpus fails the tests that need it (CI sets ZORVANE_REQUIRE_CORPUS=1) or skips them."""
    return os.environ.get("ZORVANE_REQUIRE_CORPUS") == "1"


def skip_or_fail(reason: str) -> None:
    if corpus_required():
        pytest.fail(f"{reason}, and ZORVANE_REQUIRE_CORPUS=1", pytrace=False)
    pytest.skip(reason)


@pytest.fixture(scope="session")
def corpus_dir() -> Path:
    """Root of the PTX corpus (holds real/ with its MANIFEST.tsv and SUBSET.tsv); skips when absent, or fails
    when ZORVANE_REQUIRE_CORPUS=1."""
    found = _find_corpus()
    if found is None:
        skip_or_fail("PTX corpus not found (set ZORVANE_CORPUS or place shared/corpus beside the repository)")
    return found


@pytest.fixture(scope="session")
def corpus_subset_files(corpus_dir: Path) -> list[Path]:
    """The corpus files that SUBSET.tsv flags as likely inside the accepted subset, in file-name order."""
    table = corpus_dir / "real" / "SUBSET.tsv"
    with table.open(newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    files = sorted(corpus_dir / "real" / row["file"] for row in rows if row.get("likely_in_subset") == "yes")
    if not files:
        skip_or_fail("SUBSET.tsv flags no file as inside the subset")
    return files


@pytest.fixture(scope="session")
def examples_dir() -> Path:
    """The examples/ directory of the repository (sample PTX and the example program)."""
    return EXAMPLES_DIR
