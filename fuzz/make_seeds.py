"""Writes the fuzz seed corpus: string literals of the tests, and the real PTX files with their single lines."""

import ast
import hashlib
import os
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
# The corpus as the tests find it: ZORVANE_CORPUS, or shared/corpus beside the repository.
REAL = pathlib.Path(os.environ.get("ZORVANE_CORPUS") or ROOT.parent / "shared" / "corpus") / "real"
MAX_SEED = 16384  # the fuzzer's -max_len; longer files are cut to whole lines below it
MAX_LINES = 20000  # distinct lines kept; the real files repeat most shapes many times


def test_literals():
    for path in sorted((ROOT / "tests").glob("*.py")):
        try:
            tree = ast.parse(path.read_text(encoding="utf-8"))
        except (SyntaxError, UnicodeDecodeError):
            continue
        for node in ast.walk(tree):
            if isinstance(node, ast.Constant) and isinstance(node.value, str) and node.value:
                yield node.value


def real_files():
    if not REAL.is_dir():
        return
    for path in sorted(REAL.glob("*.ptx")):
        yield path.read_text(encoding="utf-8", errors="replace")


def cut(text):
    data = text.encode("utf-8", "replace")
    if len(data) <= MAX_SEED:
        return data
    return data[: data.rfind(b"\n", 0, MAX_SEED) + 1] or data[:MAX_SEED].decode("utf-8", "ignore").encode()


def main():
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    seeds = set()
    for text in test_literals():
        seeds.add(cut(text))
    lines = set()
    for text in real_files():
        seeds.add(cut(text))
        lines.update(line.strip().encode("utf-8") for line in text.splitlines() if line.strip())
    # A stable choice of lines: the same corpus files give the same seeds.
    chosen = sorted(lines, key=lambda l: hashlib.sha1(l).digest())[:MAX_LINES]
    seeds.update(chosen)
    for seed in seeds:
        (out / hashlib.sha1(seed).hexdigest()).write_bytes(seed)
    print(f"make_seeds: {len(seeds)} seeds in {out}")


if __name__ == "__main__":
    main()
