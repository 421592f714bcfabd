"""Shared fixtures: where the real PTX corpus and the shipped examples live."""

from __future__ import annotations

import csv
import os
from pathlib import Path

import pytest

REPO_ROOT = Path(__file__).resolve().parent.parent
EXAMPLES_DIR = REPO_ROOT / "examples"


def _find_corpus() -> Path | None:
    # An explicit location wins; otherwise the shared checkout beside the repository (as CI lays it out),
    # then the development machine's fixed path.
    candidates = []
    if os.environ.get("ZORVANE_CORPUS"):
        candidates.append(Path(os.environ["ZORVANE_CORPUS"]))
    candidates += [REPO_ROOT.parent / "shared" / "corpus", Path("/work/shared/corpus")]
    for candidate in candidates:
        if (candidate / "real").is_dir():
            return candidate
    return None


@pytest.fixture(scope="session")
def corpus_dir() -> Path:
    """Root of the PTX corpus (holds real/ with its MANIFEST.tsv and SUBSET.tsv); skips when absent."""
    found = _find_corpus()
    if found is None:
        pytest.skip("PTX corpus not found (set ZORVANE_CORPUS or place shared/corpus beside the repository)")
    return found


@pytest.fixture(scope="session")
def corpus_subset_files(corpus_dir: Path) -> list[Path]:
    """The corpus files that SUBSET.tsv flags as likely inside the accepted subset, in file-name order."""
    table = corpus_dir / "real" / "SUBSET.tsv"
    with table.open(newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    files = sorted(corpus_dir / "real" / row["file"] for row in rows if row.get("likely_in_subset") == "yes")
    if not files:
        pytest.skip("SUBSET.tsv flags no file as inside the subset")
    return files


@pytest.fixture(scope="session")
def examples_dir() -> Path:
    """The examples/ directory of the repository (sample PTX and the example program)."""
    return EXAMPLES_DIR
