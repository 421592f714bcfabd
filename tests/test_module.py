# The three entry functions: their arguments and argument errors, import, huge inputs and internal failures.
import importlib
import os
import subprocess
import sys

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_52\n.address_size 64\n"
FUNCTIONS = [("parse_ptx", "content"), ("parse_instruction", "content"), ("parse_function_body_line", "line")]
BIG = 50_000_000


def function_params(rows):
    return [pytest.param(name, param, *row, id=f"{name}-{row_id}") for name, param in FUNCTIONS
            for row_id, *row in rows]


# ---------------------------------------------------------------------------------------------------------------
# Argument errors


class _Outer:
    class Inner:
        pass


ARGUMENT_ERRORS = [
    ("no-argument", lambda f, p: f(), "{name}() missing 1 required positional argument: '{param}'"),
    ("two-positional", lambda f, p: f("a", "b"), "{name}() takes 1 positional arguments but 2 were given"),
    ("three-positional", lambda f, p: f("a", "b", "c"), "{name}() takes 1 positional arguments but 3 were given"),
    ("unexpected-keyword", lambda f, p: f("a", x=1), "{name}() got an unexpected keyword argument 'x'"),
    ("other-parameter-name", lambda f, p: f("a", **{"content" if p == "line" else "line": "b"}),
     "{name}() got an unexpected keyword argument '{other}'"),
    ("multiple-values", lambda f, p: f("a", **{p: "b"}), "{name}() got multiple values for argument '{param}'"),
    ("int", lambda f, p: f(5), "argument '{param}': 'int' object cannot be cast as 'str'"),
    ("int-by-keyword", lambda f, p: f(**{p: 5}), "argument '{param}': 'int' object cannot be cast as 'str'"),
    ("bytes", lambda f, p: f(b".version 8.5"), "argument '{param}': 'bytes' object cannot be cast as 'str'"),
    ("bytearray", lambda f, p: f(bytearray(b"ret;")), "argument '{param}': 'bytearray' object cannot be cast as 'str'"),
    ("none", lambda f, p: f(None), "argument '{param}': 'NoneType' object cannot be cast as 'str'"),
    ("nested-class", lambda f, p: f(_Outer.Inner()),
     "argument '{param}': '_Outer.Inner' object cannot be cast as 'str'"),
]


@pytest.mark.parametrize("name,param,call,message", function_params(ARGUMENT_ERRORS))
def test_argument_errors(name, param, call, message):
    other = "content" if param == "line" else "line"
    with pytest.raises(TypeError) as excinfo:
        call(getattr(zorvane, name), param)
    assert str(excinfo.value) == message.format(name=name, param=param, other=other)


@pytest.mark.parametrize("name,param", FUNCTIONS)
@pytest.mark.parametrize("text", ["\ud800", "ret;\udfff", HEADER + "// \udc80\n"], ids=["alone", "after", "comment"])
def test_lone_surrogates_raise_unicode_encode_error(name, param, text):
    function = getattr(zorvane, name)
    with pytest.raises(UnicodeEncodeError):
        function(text)
    with pytest.raises(UnicodeEncodeError):
        function(**{param: text})


# ---------------------------------------------------------------------------------------------------------------
# Accepted arguments


class Text(str):
    """A str subclass whose Python-level conversions lie; the parser must read the characters themselves."""

    def __str__(self):
        return "garbage"

    def encode(self, *args, **kwargs):
        return b"garbage"


def test_str_subclass_accepted():
    instr = zorvane.parse_instruction(Text("mov.u32 %r1, %r2;"))
    assert str(instr) == str(zorvane.parse_instruction("mov.u32 %r1, %r2;"))
    assert zorvane.parse_function_body_line(Text("$L1:"))._0 == "L1"
    assert zorvane.parse_ptx(Text(HEADER)).header.version == "8.5"
    with pytest.raises(ValueError):
        zorvane.parse_ptx(Text("}"))


def test_keyword_and_positional_give_equal_results():
    text = "@%p1 ld.global.u32 %r1, [%rd2+8];"
    by_position, by_keyword = zorvane.parse_instruction(text), zorvane.parse_instruction(content=text)
    assert str(by_position) == str(by_keyword)
    assert (by_position.offset, by_position.is_predicated) == (by_keyword.offset, by_keyword.is_predicated)
    assert str(zorvane.parse_function_body_line(line=text)._0) == str(by_position)
    module = HEADER + ".entry f() { ret; }"
    header = zorvane.parse_ptx(content=module).header
    assert (header.version, int(header.target), header.address_size) == ("8.5", 10, 64)
    assert zorvane.parse_ptx(content=module).functions[0].name == "f"
    assert zorvane.parse_instruction(content="}") is None
    with pytest.raises(ValueError, match=r'^error at 1:1: expected "\.version"$'):
        zorvane.parse_ptx(content="}")


@pytest.mark.parametrize("name,param", FUNCTIONS)
def test_keyword_names_built_at_run_time(name, param):
    class Key(str):
        pass

    function = getattr(zorvane, name)
    text = HEADER if name == "parse_ptx" else "mov.u32 %r1, %r2;"
    for key in ("".join(list(param)), Key(param)):  # neither is the interned parameter name
        assert function(**{key: text}) is not None


def test_closing_brace():
    assert zorvane.parse_instruction("}") is None
    assert zorvane.parse_function_body_line("}") is None
    with pytest.raises(ValueError) as excinfo:
        zorvane.parse_ptx("}")
    assert excinfo.value.args == ('error at 1:1: expected ".version"',)
    assert type(excinfo.value) is ValueError


# ---------------------------------------------------------------------------------------------------------------
# Import


def test_reimport_gives_the_identical_module():
    names, public = list(vars(zorvane)), list(zorvane.__all__)
    original = sys.modules.pop("zorvane")
    try:
        again = importlib.import_module("zorvane")
    finally:
        sys.modules["zorvane"] = original
    assert again is original
    assert (list(vars(original)), original.__all__) == (names, public)
    assert original.parse_instruction("ret;") is not None


def _run_python(code):
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(zorvane.__file__))
    env["PYTHONPATH"] = os.pathsep.join(p for p in [module_dir, env.get("PYTHONPATH")] if p)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=300)


# The script runs in a fresh process; MAIN_FIRST decides which interpreter imports the module first.
SUBINTERPRETER = r"""
import os, sys, tempfile
if MAIN_FIRST:
    import zorvane
try:
    import _interpreters as interpreters
except ImportError:
    try:
        import _xxsubinterpreters as interpreters
    except ImportError:
        print("unavailable")
        raise SystemExit(0)
out = os.path.join(tempfile.mkdtemp(), "result")
script = '''
import sys
sys.path[:0] = %r
try:
    import zorvane
    zorvane.parse_instruction("ret;")
except ImportError as exc:
    result = "ImportError: " + str(exc)
except BaseException as exc:
    result = type(exc).__name__ + ": " + str(exc)
else:
    result = "imported"
with open(%r, "w") as f:
    f.write(result)
''' % (sys.path, out)
interp = interpreters.create()
interpreters.run_string(interp, script)
interpreters.destroy(interp)
print(open(out).read())
try:
    import zorvane
except ImportError as exc:
    print("main: ImportError: " + str(exc))
else:
    print("main:", zorvane.parse_instruction("ret;") is not None)
"""


def _subinterpreter_run(main_first):
    result = _run_python(f"MAIN_FIRST = {main_first}\n" + SUBINTERPRETER)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    if lines == ["unavailable"]:
        pytest.skip("this interpreter offers no subinterpreters")
    return lines


def test_import_from_a_subinterpreter_fails():
    sub, main = _subinterpreter_run(main_first=True)
    assert sub.startswith("ImportError: ")
    assert "subinterpreter" in sub.lower()
    assert main == "main: True"


def test_import_after_a_subinterpreter_fails():
    sub, main = _subinterpreter_run(main_first=False)
    if sub == "imported":
        # The first interpreter to import owns the module for the life of the process.
        assert main.startswith("main: ImportError: ")
        assert "subinterpreter" in main.lower()
    else:
        # An isolated subinterpreter refuses the module (3.12 runs the initialisation before it refuses, 3.13 on do
        # not run it); either way the refused import claims nothing, and the main interpreter imports it after.
        assert sub.startswith("ImportError: ")
        assert main == "main: True"


# ---------------------------------------------------------------------------------------------------------------
# Huge inputs


@pytest.fixture(scope="module")
def spaces():
    return " " * BIG


@pytest.fixture(scope="module")
def xs():
    return "x" * BIG


def test_huge_whitespace(spaces):
    with pytest.raises(ValueError) as excinfo:
        zorvane.parse_ptx(spaces)
    assert str(excinfo.value) == f'error at 1:{BIG + 1}: expected ".version"'
    assert zorvane.parse_instruction(spaces) is None
    assert zorvane.parse_function_body_line(spaces) is None


def test_huge_text(xs):
    with pytest.raises(ValueError) as excinfo:
        zorvane.parse_ptx(xs)
    assert str(excinfo.value) == 'error at 1:1: expected ".version"'
    assert zorvane.parse_instruction(xs) is None
    assert zorvane.parse_function_body_line(xs) is None


def test_huge_line_count():
    lines = 10_000_000
    with pytest.raises(ValueError) as excinfo:
        zorvane.parse_ptx("\n" * lines)
    assert str(excinfo.value) == f'error at {lines + 1}:1: expected ".version"'


def test_huge_values():
    name = "a" * 10_000_000
    assert zorvane.parse_function_body_line("$" + name + ":")._0 == name
    instr = zorvane.parse_instruction("bra " + name + ";")
    assert instr.operands[0].get_label() == name
    many = zorvane.parse_instruction("mov.u32 " + ", ".join(["%r1"] * 200_000) + ";")
    assert len(many.operands) == 200_000
    assert str(many).count("Register(General(1))") == 200_000


def test_huge_module_with_comment_tail():
    text = HEADER + ".entry f() { ret; }\n" + "// " + "é" * 5_000_000
    ptx = zorvane.parse_ptx(text)
    assert [f.name for f in ptx.functions] == ["f"]


# ---------------------------------------------------------------------------------------------------------------
# Internal failures: numbers that do not fit their field end the call with an exception, never None


OVERFLOWS = [
    ("register", "parse_instruction", "mov.u32 %r18446744073709551616;"),
    ("register-no-semicolon", "parse_instruction", "mov.u32 %r18446744073709551616"),
    ("register-leading-zeros", "parse_instruction", "mov.u32 %rd0018446744073709551616, 1;"),
    ("immediate", "parse_instruction", "mov.u32 %r1, 18446744073709551616;"),
    ("negative-immediate", "parse_instruction", "mov.u32 %r1, -9223372036854775809;"),
    ("float-immediate", "parse_instruction", "mov.f32 %f1, 0f10000000000000000;"),
    ("predicate", "parse_instruction", "selp.u32 %r1, %r2, %r3, %p18446744073709551616;"),
    ("reg-pred-pair", "parse_instruction", "shfl.sync.idx.b32 %r1|%p18446744073709551616, %r2, 0, 31, -1;"),
    ("displacement", "parse_instruction", "ld.u32 %r1, [%r2+18446744073709551616];"),
    ("negative-displacement", "parse_instruction", "ld.u32 %r1, [%r2+-9223372036854775809];"),
    ("guard", "parse_instruction", "@%p18446744073709551616 ret;"),
    ("body-line-register", "parse_function_body_line", "mov.u32 %f18446744073709551616, 1;"),
    ("register-count", "parse_function_body_line", ".reg .b32 %r<340282366920938463463374607431768211456>;"),
    ("array-count", "parse_function_body_line", ".shared .b8 smem[340282366920938463463374607431768211456];"),
    ("address-size", "parse_ptx", ".version 8.5\n.target sm_52\n.address_size 18446744073709551616\n"),
    ("in-function-body", "parse_ptx", HEADER + ".entry f()\n{\nmov.u32 %r18446744073709551616, 1;\n}\n"),
]


@pytest.mark.parametrize("function,text", [pytest.param(f, t, id=i) for i, f, t in OVERFLOWS])
def test_number_out_of_range_raises(function, text):
    with pytest.raises(OverflowError):
        getattr(zorvane, function)(text)
    # The interpreter and the module go on working.
    assert zorvane.parse_instruction("ret;") is not None


LIMITS = [
    ("register", "parse_instruction", "mov.u32 %r18446744073709551615;"),
    ("immediate", "parse_instruction", "mov.u32 %r1, 18446744073709551615;"),
    ("negative-immediate", "parse_instruction", "mov.u32 %r1, -9223372036854775808;"),
    ("float-immediate-leading-zeros", "parse_instruction", "mov.f32 %f1, 0f0000FFFFFFFFFFFFFFFF;"),
    ("guard", "parse_instruction", "@%p18446744073709551615 ret;"),
    ("register-count", "parse_function_body_line", ".reg .b32 %r<340282366920938463463374607431768211455>;"),
    ("address-size", "parse_ptx", ".version 8.5\n.target sm_52\n.address_size 18446744073709551615\n"),
]


@pytest.mark.parametrize("function,text", [pytest.param(f, t, id=i) for i, f, t in LIMITS])
def test_numbers_at_the_limit_parse(function, text):
    assert getattr(zorvane, function)(text) is not None
