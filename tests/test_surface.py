# The module's public surface against its pinned record, tests/surface.txt, and the stub against the one made from that
# record. After a deliberate change of the surface, `PYTHONPATH=build python tools/surface.py` rewrites both files;
# review their difference as the change itself.
import ast
import importlib.util
from pathlib import Path

import pytest

import zorvane

ROOT = Path(__file__).resolve().parent.parent
PINNED = ast.literal_eval((ROOT / "tests" / "surface.txt").read_text(encoding="utf-8"))
ENTRIES = [pytest.param(group, name, id=f"{group}-{name}") for group in ("functions", "classes")
           for name in PINNED[group]]


@pytest.fixture(scope="module")
def tool():
    path = ROOT / "tools" / "surface.py"
    if not path.exists():
        pytest.skip("tools/ is not part of a source distribution")
    spec = importlib.util.spec_from_file_location("surface_tool", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def fresh(tool):
    return tool.read_surface(zorvane)


def test_module_names_functions_and_classes(fresh):
    assert fresh["module"] == PINNED["module"]
    assert list(fresh["functions"]) == list(PINNED["functions"])
    assert list(fresh["classes"]) == list(PINNED["classes"])


@pytest.mark.parametrize("group,name", ENTRIES)
def test_entry(fresh, group, name):
    assert fresh[group].get(name) == PINNED[group][name]


def test_stub_is_made_from_the_record(tool):
    assert (ROOT / "zorvane.pyi").read_text(encoding="utf-8") == tool.render_stub(PINNED)
