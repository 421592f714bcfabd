"""Property checks: any text gives a tree, None or a clear exception, and every accepted tree keeps its invariants."""

import re
import types

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import zorvane

HEADER = ".version 8.5\n.target sm_90\n.address_size 64\n"

VALID_INSTRUCTIONS = [
    "mov.u32 %r1, %r2;",
    "@%p1 bra $L__BB0_2;",
    "ld.global.u32 %r1, [%rd2+8];",
    "st.global.v4.f32 [%rd4+-16], {%f1, %f2, %f3, %f4};",
    "setp.lt.s32 %p1, %r1, 42;",
    "mov.f32 %f1, 0f3F800000;",
    "add.s64 %rd1, %rd2, -5;",
    "mov.u32 %r1, %tid.x;",
    "mov.u64 %rd1, %clock64;",
    "ld.param.u64 %rd1, [foo_param_0];",
    "shfl.sync.bfly.b32 %r1|%p2, %r3, 1, 31, -1;",
    "mov.u32 %r2, %custom;",
    "  ret; // done",
    "mov.u32 %r1, $str$12;",
    "bar.sync 0;",
    "@%p0 ld.shared.v2.f64 {%f1, %f2}, [ %rd1 ];",
    "mad.lo.s32 %r4, %r1, %r2, %r3;",
]

VALID_BODY_LINES = [
    "$L__BB0_2:",
    "  $loop:",
    ".reg .b32 %r<5>;",
    ".reg .pred %p<3>;",
    ".reg .b64 %myreg;",
    ".shared .align 4 .b8 smem[128];",
    ".local .align 8 .b8 __local_depot0[32];",
    '.pragma "nounroll";',
    "(.param .b64 p0, .param .u32 p1)",
    "{\n.reg .b32 temp_param_reg;\n.param .b64 param0;\nst.param.b64 [param0+0], %rd1;\n"
    "call.uni foo, (param0);\n}",
    "{.reg .b32 temp_param_reg;call.uni bar,();}",
    "mov.u32 %r1, %r2;",
]

VALID_MODULES = [
    HEADER,
    HEADER
    + """
.visible .entry k(.param .u64 k_param_0, .param .u32 k_param_1)
{
\t.reg .pred \t%p<2>;
\t.reg .b32 \t%r<5>;
\t.reg .b64 \t%rd<4>;
\t.reg .b32 %Counter;
\t.reg .u64 %wide;
\t.shared .align 4 .b8 smem[128];

\tld.param.u64 \t%rd1, [k_param_0];
\tmov.u32 \t%r1, %tid.x;
\tsetp.ge.u32 \t%p1, %r1, 32;
\t@%p1 bra \t$L__BB0_2;
\tcvta.to.global.u64 \t%rd2, %rd1;
\tst.global.u32 \t[%rd2+4], %r1;
\tld.global.nc.v2.f32 \t{%f1, %f2}, [gdata];
$L__BB0_2:
\tret;
}
.func helper(.param .b32 x);
.extern .shared .align 16 .b8 dsmem[];
.global .align 4 .b8 g[16] = {1, 2, 3};
// trailing comment""",
    ".version 7.8 .target sm_80 .address_size 64\n"
    ".weak .func callee(.param .b64 a)\n{\n\tret;\n}\n"
    ".entry caller()\n{\n\t.reg .b64 %rd<2>;\n\t{\n\t.reg .b32 temp_param_reg;\n\t.param .b64 param0;\n"
    "\tst.param.b64 [param0+0], %rd1;\n\tcall.uni callee, (param0);\n\t}\n\texit;\n}\n",
]

# Pieces that reach deep into the grammar, and characters that must never confuse it.
TOKENS = [
    "mov", "ld", "st", "bra", "setp", "add", "call", "ret", "tld4", "mul24", "cvta", ".u32", ".b64", ".pred",
    ".f32", ".global", ".param", ".reg", ".shared", ".local", ".align", ".pragma", ".entry", ".func", ".visible",
    ".extern", ".weak", ".version", ".target", ".address_size", "sm_90a", "8.5", "64", "%r1", "%rd2", "%f3", "%p4",
    "%tid.x", "%clock64", "%custom", "%r<4>;", "%rd<", ">;", "];", "$L__BB0_1", "$str$7", "0f3F800000", "@%p1",
    "@!%p1", "temp_param_reg", "st.param.b64", "{", "}", "(", ")", "[", "]", "+", "-", ",", ";", ":", "|", "=",
    "$", "%", ".", '"', " ", "\t", "\r", "\n", "//", "/*", "*/", "\x00", "\u00a0", "\ufeff", "\u2028", "é", "𝔘",
    "\ud800", "9" * 25, "18446744073709551615", "18446744073709551616", "-9223372036854775808", "0f" + "F" * 17,
    "340282366920938463463374607431768211456", "0" * 30 + "1",
]

ANY_CHAR = st.characters(exclude_categories=())  # includes lone surrogates
FRAGMENT = st.one_of(st.sampled_from(TOKENS), ANY_CHAR, st.text(alphabet="0123456789", min_size=1, max_size=45))
TOKEN_SOUP = st.lists(FRAGMENT, max_size=40).map("".join)


@st.composite
def mutated(draw, samples):
    """A valid sample with a few characters or tokens inserted, deleted, replaced or repeated."""
    text = draw(st.sampled_from(samples))
    for _ in range(draw(st.integers(1, 4))):
        i = draw(st.integers(0, len(text)))
        j = draw(st.integers(i, min(len(text), i + 12)))
        op = draw(st.sampled_from(["insert", "delete", "replace", "repeat"]))
        if op == "insert":
            text = text[:i] + draw(FRAGMENT) + text[i:]
        elif op == "delete":
            text = text[:i] + text[j:]
        elif op == "replace":
            text = text[:i] + draw(FRAGMENT) + text[j:]
        else:
            text = text[:j] + text[i:j] * draw(st.integers(1, 3)) + text[j:]
    return text


ERROR = re.compile(r"error at (\d+):(\d+): expected (.+)", re.S)
NOARG_METHODS = {
    "kind", "is_float", "as_instruction", "get_float_imm", "get_register", "get_label", "get_immediate",
    "get_memory_lbl", "get_memory_disp", "get_predicate", "get_reg_pred_pair",
}
DESCRIPTORS = (types.GetSetDescriptorType, types.MemberDescriptorType, property)
FUNCTION_KEYWORDS = {0: ".extern", 1: ".visible", 2: ".weak"}  # PTXLinkDirective values; 3 is None
KIND_KEYWORDS = {0: ".entry", 1: ".func"}


def walk(obj):
    """Reads every property, calls every argument-free method and renders every object reachable from obj."""
    if obj is None or isinstance(obj, (bool, int, str)):
        return
    if isinstance(obj, (list, tuple)):
        for item in obj:
            walk(item)
        return
    if isinstance(obj, dict):
        for key, value in obj.items():
            walk(key)
            walk(value)
        return
    cls = type(obj)
    assert isinstance(str(obj), str) and isinstance(repr(obj), str)
    if hasattr(cls, "__int__"):
        int(obj)
    for klass in cls.__mro__[:-1]:
        for name, attr in vars(klass).items():
            if name.startswith("__"):
                continue
            if isinstance(attr, DESCRIPTORS):
                walk(getattr(obj, name))
            elif name in NOARG_METHODS:
                walk(getattr(obj, name)())
    if hasattr(cls, "__match_args__"):
        for i in range(len(obj)):
            walk(obj[i])


def may_overflow(text):
    # A number out of range needs at least 17 hexadecimal or 19 decimal digits in a row.
    return re.search(r"[0-9a-fA-F]{17,}", text) is not None


def has_surrogate(text):
    return any(0xD800 <= ord(c) <= 0xDFFF for c in text)


def check_error_message(message, text):
    m = ERROR.fullmatch(message)
    assert m, message
    line, column = int(m.group(1)), int(m.group(2))
    lines = text.split("\n")  # only a line feed ends a line
    assert 1 <= line <= len(lines), message
    assert 1 <= column <= len(lines[line - 1]) + 1, message
    assert m.group(3) != "<unreported>", message


def check_instruction(instr, data):
    mnemonic = str(instr.opcode).encode()
    assert 0 <= instr.offset < len(data)
    assert data[instr.offset :].startswith(mnemonic), (instr.offset, data[instr.offset : instr.offset + 20])
    if instr.modifiers:
        assert data[instr.offset + len(mnemonic) :].startswith(b"." + instr.modifiers.encode())
    str(instr)


def check_file(tree, text):
    data = text.encode("utf-8")
    walk(tree)
    rendered = []
    for f in tree.functions:
        keyword = FUNCTION_KEYWORDS.get(int(f.link_directive)) or KIND_KEYWORDS[int(f.kind)]
        assert data[f.offset :].startswith(keyword.encode()), (f.offset, keyword)
        assert tree.get_instruction(f.offset) is None
        for instr in f.body.instructions:
            check_instruction(instr, data)
            found = tree.get_instruction(instr.offset)
            assert found is not None and found is tree.get_instruction(instr.offset)
            assert found.offset == instr.offset and str(found) == str(instr)
            assert found.modifiers == instr.modifiers and found.is_predicated == instr.is_predicated
            assert int(found.opcode) == int(instr.opcode)
            rendered.append((instr.offset, str(instr)))
    again = zorvane.parse_ptx(text)
    assert [(i.offset, str(i)) for f in again.functions for i in f.body.instructions] == rendered


def outcome(function, text):
    """The call's result, or the exception it raised if that is one of the allowed ones."""
    try:
        return function(text)
    except UnicodeEncodeError as e:
        assert has_surrogate(text), e
        return e
    except OverflowError as e:
        assert may_overflow(text), e
        return e
    except ValueError as e:
        assert function is zorvane.parse_ptx, e
        return e


def check_text(text):
    """Runs all three entry functions over text and checks what each gives."""
    if has_surrogate(text):
        for function in (zorvane.parse_ptx, zorvane.parse_instruction, zorvane.parse_function_body_line):
            with pytest.raises(UnicodeEncodeError):
                function(text)
        return
    data = text.encode("utf-8")

    tree = outcome(zorvane.parse_ptx, text)
    if isinstance(tree, ValueError):
        check_error_message(str(tree), text)
        with pytest.raises(ValueError) as again:
            zorvane.parse_ptx(text)
        assert str(again.value) == str(tree)
    elif not isinstance(tree, OverflowError):
        assert type(tree).__name__ == "PTXFile"
        check_file(tree, text)

    instr = outcome(zorvane.parse_instruction, text)
    item = outcome(zorvane.parse_function_body_line, text)
    if instr is not None and not isinstance(instr, OverflowError):
        assert type(instr).__name__ == "PTXInstruction"
        check_instruction(instr, data)
        walk(instr)
        if text[:3] == "@%p":
            assert instr.is_predicated is not None
        # An instruction is also a body line, whatever the line rule tries first.
        assert item is not None and type(item).__name__ == "BodyItem_Instruction"
        assert str(item._0) == str(instr) and item._0.offset == instr.offset
        assert item._0.is_predicated == instr.is_predicated
        # And it parses the same way inside a function body.
        prefix = HEADER + ".entry f()\n{\n"
        wrapped = zorvane.parse_ptx(prefix + text + "\n}\n")
        (inner,) = wrapped.functions[0].body.instructions
        assert inner.offset == instr.offset + len(prefix.encode()) and str(inner) == str(instr)
    if isinstance(instr, OverflowError):
        assert isinstance(item, OverflowError)
    if item is not None and not isinstance(item, OverflowError):
        assert type(item).__name__.startswith("BodyItem_")
        walk(item)
        if item.kind() == "instruction":
            check_instruction(item._0, data)


SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@SETTINGS
@given(st.text(ANY_CHAR, max_size=200))
@example("")
@example("\x00")
@example("\ud800")
@example("mov.u32 %r1, 18446744073709551616;")
@example(".reg .b32 %r<340282366920938463463374607431768211456>;")
@example(HEADER[:-4] + "99999999999999999999")
def test_arbitrary_text(text):
    check_text(text)


@SETTINGS
@given(TOKEN_SOUP)
def test_token_soup(text):
    check_text(text)


@SETTINGS
@given(mutated(VALID_INSTRUCTIONS))
def test_mutated_instructions(text):
    check_text(text)


@SETTINGS
@given(mutated(VALID_BODY_LINES))
def test_mutated_body_lines(text):
    check_text(text)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(mutated(VALID_MODULES))
def test_mutated_modules(text):
    check_text(text)


@pytest.mark.parametrize("text", VALID_INSTRUCTIONS, ids=range(len(VALID_INSTRUCTIONS)))
def test_instruction_samples_are_valid(text):
    assert zorvane.parse_instruction(text) is not None
    check_text(text)


@pytest.mark.parametrize("text", VALID_BODY_LINES, ids=range(len(VALID_BODY_LINES)))
def test_body_line_samples_are_valid(text):
    assert zorvane.parse_function_body_line(text) is not None
    check_text(text)


@pytest.mark.parametrize("text", VALID_MODULES, ids=range(len(VALID_MODULES)))
def test_module_samples_are_valid(text):
    zorvane.parse_ptx(text)
    check_text(text)
