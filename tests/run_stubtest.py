"""Checks zorvane.pyi against the importable zorvane module with mypy's stubtest.

Usage: PYTHONPATH=build python tests/run_stubtest.py [stubtest options]

Only PTXFile is an attribute of the module; every other class is reached through objects or through the class
attributes of its sum type, and stubtest would stop at "not present at runtime" for each of them without looking at
their members. So this script first finds every class by walking a parsed sample, publishes the ones the module lacks
on the module object of this process only, and then runs stubtest with the allowlist beside this file. That the stub
declares no class the runtime lacks, and every one it has, is then part of the check.
"""

from __future__ import annotations

import os
import sys
import types
from pathlib import Path

import zorvane

HERE = Path(__file__).resolve().parent
ALLOWLIST = HERE / "stubtest_allowlist.txt"
STUB_DIR = HERE.parent

# Reaches all eight enumerations, all four sum types and all seven records.
SAMPLE = """\
.version 8.5
.target sm_90a
.address_size 64
.visible .entry k(.param .u64 a)
{
.reg .b32 %r<5>;
mov.u32 %r1, %tid.x;
ret;
}
"""


def reachable_classes() -> dict[str, type]:
    """Every class of the tree that the runtime reaches from a parse result, by name."""
    found: dict[str, type] = {}

    def visit_class(cls: type) -> None:
        for klass in cls.__mro__:
            if klass is object or klass.__name__ in found:
                continue
            found[klass.__name__] = klass
            for value in vars(klass).values():
                if isinstance(value, type):
                    visit_class(value)

    def visit(obj: object) -> None:
        if isinstance(obj, (list, tuple)):
            for item in obj:
                visit(item)
            return
        if obj is None or isinstance(obj, (int, str, dict)):
            return
        visit_class(type(obj))
        for name, attribute in vars(type(obj)).items():
            if isinstance(attribute, types.GetSetDescriptorType) and not name.startswith("__"):
                visit(getattr(obj, name))

    visit(zorvane.parse_ptx(SAMPLE))
    visit(zorvane.parse_function_body_line("ret;"))
    return found


def main(argv: list[str]) -> int:
    from mypy import stubtest  # here, so that the tests can use reachable_classes without mypy

    classes = reachable_classes()
    for name, cls in classes.items():
        if not hasattr(zorvane, name):
            setattr(zorvane, name, cls)
    # MYPYPATH comes before site-packages, so the checkout's stub is checked even where a wheel is installed.
    os.environ["MYPYPATH"] = os.pathsep.join(filter(None, [str(STUB_DIR), os.environ.get("MYPYPATH")]))
    sys.argv = ["stubtest", "zorvane", "--allowlist", str(ALLOWLIST), *argv]
    return stubtest.main()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
