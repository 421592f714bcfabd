"""Times and peak memory of the parser at its limits: a 200 MB module, a 10 MB line, a 100,000-register vector
operand and a body of 1,000,000 instructions. Each case runs in a fresh interpreter so that peaks do not mix.

    python benchmarks/limits.py [--scale F] [CASE ...]      (F scales the 200 MB module, e.g. 0.1 for 20 MB)
"""

import argparse
import ctypes
import gc
import json
import subprocess
import sys
import time

HEADER = ".version 8.5\n.target sm_90\n.address_size 64\n"

# One realistic kernel, repeated under new names to build a large module.
KERNEL = """
.visible .entry {name}(.param .u64 {name}_param_0, .param .u64 {name}_param_1, .param .u32 {name}_param_2)
{{
\t.reg .pred \t%p<3>;
\t.reg .b32 \t%r<12>;
\t.reg .f32 \t%f<6>;
\t.reg .b64 \t%rd<10>;

\tld.param.u64 \t%rd1, [{name}_param_0];
\tld.param.u64 \t%rd2, [{name}_param_1];
\tld.param.u32 \t%r2, [{name}_param_2];
\tmov.u32 \t%r3, %ctaid.x;
\tmov.u32 \t%r4, %ntid.x;
\tmov.u32 \t%r5, %tid.x;
\tmad.lo.s32 \t%r1, %r3, %r4, %r5;
\tsetp.ge.s32 \t%p1, %r1, %r2;
\t@%p1 bra \t$L__BB0_2;
\tcvta.to.global.u64 \t%rd3, %rd1;
\tmul.wide.s32 \t%rd4, %r1, 4;
\tadd.s64 \t%rd5, %rd3, %rd4;
\tld.global.f32 \t%f1, [%rd5];
\tcvta.to.global.u64 \t%rd6, %rd2;
\tadd.s64 \t%rd7, %rd6, %rd4;
\tld.global.f32 \t%f2, [%rd7+-4];
\tfma.rn.f32 \t%f3, %f1, 0f3F800000, %f2;
\tst.global.f32 \t[%rd7], %f3;
\tst.global.v2.f32 \t[%rd7+8], {{%f1, %f2}};
$L__BB0_2:
\tret;
}}
"""


def make_input(case, scale):
    if case == "module-200mb":
        target = int(200 * 1024 * 1024 * scale)
        parts, size, i = [HEADER], len(HEADER), 0
        while size < target:
            part = KERNEL.format(name=f"k{i}")
            parts.append(part)
            size += len(part)
            i += 1
        return "parse_ptx", "".join(parts)
    if case == "module-200mb-error-at-end":
        _, text = make_input("module-200mb", scale)
        return "parse_ptx", text + "\n.entry broken() { ret }\n"
    if case == "line-10mb-comment":
        return "parse_ptx", HEADER + "// " + "x" * (10 * 1024 * 1024)
    if case == "line-10mb-digits-error":
        return "parse_ptx", ".version " + "9" * (10 * 1024 * 1024)
    if case == "line-10mb-instruction":
        # One instruction line of 10 MB: a vector operand long enough to fill it.
        regs = ", ".join(f"%r{i}" for i in range(10 * 1024 * 1024 // 9))
        return "parse_instruction", "st.global.v4.b32 [%rd1], {" + regs + "};"
    if case == "vector-100k":
        return "parse_instruction", "st.global.v4.b32 [%rd1], {" + ", ".join(f"%r{i}" for i in range(100_000)) + "};"
    if case == "vector-100k-in-module":
        instr = "st.global.v4.b32 [%rd1], {" + ", ".join(f"%r{i}" for i in range(100_000)) + "};"
        return "parse_ptx", HEADER + ".entry f()\n{\n" + instr + "\nret;\n}\n"
    if case == "body-1m":
        body = "\tadd.s32 \t%r1, %r2, 1;\n" * 1_000_000
        return "parse_ptx", HEADER + ".entry f()\n{\n\t.reg .b32 %r<3>;\n" + body + "\tret;\n}\n"
    if case == "body-1m-error-at-end":
        _, text = make_input("body-1m", scale)
        return "parse_ptx", text[: -len("\tret;\n}\n")] + "\tret\n}\n"
    raise SystemExit(f"unknown case {case}")


CASES = [
    "module-200mb", "module-200mb-error-at-end", "line-10mb-comment", "line-10mb-digits-error",
    "line-10mb-instruction", "vector-100k", "vector-100k-in-module", "body-1m", "body-1m-error-at-end",
]


def status_kb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def run_case(case, scale):
    """Runs in the child: builds the input, parses it once, reports time and memory as JSON."""
    import zorvane

    function_name, text = make_input(case, scale)
    function = getattr(zorvane, function_name)
    size = len(text.encode("utf-8"))
    # Building the input takes far more than the input for a while: the peak starts again once it is built.
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status_kb("VmRSS")
    start = time.perf_counter()
    try:
        result = function(text)
        error = None
    except (ValueError, OverflowError) as e:
        result, error = None, e
    elapsed = time.perf_counter() - start
    # Read the peak before the summary below builds objects of its own.
    peak = status_kb("VmHWM")
    if error is not None:
        outcome = f"{type(error).__name__}: {str(error)[:60]}"
    else:
        outcome = type(result).__name__
        if function_name == "parse_ptx":
            outcome += f" ({sum(len(f.body.instructions) for f in result.functions)} instructions)"
    print(json.dumps({"case": case, "bytes": size, "seconds": elapsed, "rss_before_kb": before, "peak_kb": peak,
                      "outcome": outcome}))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", default=CASES)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        run_case(args.cases[0], args.scale)
        return 0
    print(f"{'case':28} {'input MB':>9} {'parse s':>8} {'peak MB':>8} {'over input MB':>13}  outcome")
    for case in args.cases:
        proc = subprocess.run([sys.executable, __file__, "--child", "--scale", str(args.scale), case],
                              capture_output=True, text=True)
        if proc.returncode != 0:
            print(f"{case:28} failed with exit code {proc.returncode}: {proc.stderr.strip()[-300:]}")
            continue
        r = json.loads(proc.stdout.strip().splitlines()[-1])
        print(f"{case:28} {r['bytes'] / 2**20:9.1f} {r['seconds']:8.2f} {r['peak_kb'] / 1024:8.0f} "
              f"{(r['peak_kb'] - r['rss_before_kb']) / 1024:13.0f}  {r['outcome']}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
