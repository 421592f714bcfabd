# Body lines through parse_function_body_line: labels, call blocks, declarations, instructions, parameter lists.
import pytest

import zorvane

MAX128 = 2**128 - 1


def table(rows):
    """Parameter rows named by their first column, the input text."""
    return [pytest.param(*row, id=repr(row[0])) for row in rows]


def variant(obj):
    return type(obj).__name__


def describe_statement(stmt):
    """A statement as a tuple: variant name, then its fields (members by representation, the array name by kind)."""
    out = [variant(stmt).removeprefix("PTXStatement_")]
    for field in type(stmt).__match_args__:
        value = getattr(stmt, field)
        if isinstance(value, (int, str)):
            out.append(value)
        elif hasattr(value, "get_label"):
            out.append(f"{value.kind()}:{value.get_label()}")
        else:
            out.append(repr(value))
    return tuple(out)


def describe(line):
    """What a body line parses to: None, or a tuple naming the variant and its payload."""
    item = zorvane.parse_function_body_line(line)
    if item is None:
        return None
    kind = variant(item).removeprefix("BodyItem_")
    if kind == "Statement":
        return (kind, describe_statement(item._0))
    if kind == "Instruction":
        return (kind, str(item._0))
    if kind in ("LabelDef", "Call"):
        return (kind, item._0)
    return (kind,)


def check(line, expected):
    if isinstance(expected, type) and issubclass(expected, BaseException):
        with pytest.raises(expected):
            zorvane.parse_function_body_line(line)
    else:
        assert describe(line) == expected


# ---------------------------------------------------------------------------------------------------------------
# Label definitions


@pytest.mark.parametrize(
    "line,expected",
    table([
        ("$L__BB0_2:", ("LabelDef", "L__BB0_2")),
        ("  $L__BB0_2:", ("LabelDef", "L__BB0_2")),
        ("\t\n$x:", ("LabelDef", "x")),
        ("// before\n$x:", ("LabelDef", "x")),
        ("$L__BB0_2:  ", ("LabelDef", "L__BB0_2")),
        ("$L__BB0_2: // after", ("LabelDef", "L__BB0_2")),
        ("$9abc:", ("LabelDef", "9abc")),
        ("$_:", ("LabelDef", "_")),
        ("$L__BB0_2 :", None),
        ("$ L__BB0_2:", None),
        ("L__BB0_2:", None),
        ("LBB0_2:", None),
        ("$:", None),
        ("$a.b:", None),
        ("$a$b:", None),
        ("$L1", None),
        # Nothing after the ":" is consumed but whitespace and comments.
        ("$L1: ret;", None),
        ("$L1:ret;", None),
    ]),
)
def test_label_definitions(line, expected):
    check(line, expected)


# ---------------------------------------------------------------------------------------------------------------
# Call-sequence blocks

CALL_BLOCK = """{ // callseq 0, 0
\t.reg .b32 temp_param_reg;
\t.param .b64 param0;
\tst.param.b64 \t[param0+0], %rd2;
\t.param .b32 param1;
\tst.param.b32 \t[param1+0], %r6;
\tcall.uni 
\tfoo, 
\t(
\tparam0, 
\tparam1
\t);
\t}"""


def block(inner, head="{", tail="}"):
    return head + inner + tail


@pytest.mark.parametrize(
    "line,expected",
    table([
        (CALL_BLOCK, ("Call", "foo")),
        ("  " + CALL_BLOCK + " // callseq 0", ("Call", "foo")),
        (
            "{\n.reg .b32 temp_param_reg;\n.param .b64 param0;\nst.param.b64 [param0+0], %rd1;\n"
            "call.uni foo, (param0);\n}",
            ("Call", "foo"),
        ),
        ("{.reg.b32temp_param_reg;.param.b64param0;st.param.b64[param0+0],%rd1;call.uni foo,(param0);}",
         ("Call", "foo")),
        ("{ .reg .b32 temp_param_reg; call.uni foo, (); }", ("Call", "foo")),
        ("{.reg .b32 temp_param_reg;call foo,();}", ("Call", "foo")),
        ("{.reg .pred temp_param_reg; call.uni.x foo, ( ); }", ("Call", "foo")),
        ("{.reg .b32 temp_param_reg; call.uni $foo,(); }", ("Call", "$foo")),
        ("{.reg .b32 temp_param_reg; call.uni _Z3fooi$1, (a , b,c); }", ("Call", "_Z3fooi$1")),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0 + 0], %rd1; call.uni f, (param0); }",
         ("Call", "f")),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0+ 16], %rd1; call.uni f, (param0); }",
         ("Call", "f")),
        ("{.reg .b32 temp_param_reg; .param .b32 p; st.param [p+4], %tid.x; call.uni f, (p); }", ("Call", "f")),
        ("{.reg .b32 temp_param_reg; .param .f32 p; st.param.f32 [p+0],%f1; call.uni f, (p); }", ("Call", "f")),
        # Rejected shapes.
        (CALL_BLOCK + " x", None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0+0] , %rd1; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0+0], %rd1 ; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0], %rd1; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0+0 ], %rd1; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [ param0+0], %rd1; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; st.param.b64 [param0+-8], %rd1; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0 ; st.param.b64 [param0+0], %rd1; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b32 param0; st.param.b32 [param0+0], 64; call.uni f, (param0); }",
         None),
        ("{.reg .b32 temp_param_reg; .param .b64 param0; call.uni f, (param0); }", None),
        ("{.reg .b32 temp_param_reg; .param .b64 retval0; call.uni (retval0), f, (); }", None),
        ("{.reg .b32 temp_param_reg; call.uni f, (); ld.param.b32 %r1, [retval0+0]; }", None),
        ("{.reg .b32 temp_param_reg; call.uni f, (a,); }", None),
        ("{.reg .b32 temp_param_reg; call.uni f , (); }", None),
        ("{.reg .b32 temp_param_reg; call.uni f, (); ; }", None),
        ("{.reg .b32 temp_param_reg; call.uni f, () }", None),
        ("{.reg .b32 temp_param_reg; call.uni f, ();", None),
        ("{.reg .b32 temp_param_reg ; call.uni f, (); }", None),
        ("{.reg .b16 temp_param_reg; call.uni f, (); }", None),
        ("{ call.uni f, (); }", None),
        ("{.reg .b32 temp_param_reg; ret; call.uni f, (); }", None),
        ("{ ret; }", None),
        ("{", None),
        ("}", None),
        ("{}", None),
        (".param .b64 param0;", None),
        # A parameter store alone is no instruction: a label address takes no displacement.
        ("st.param.b64 [param0+0], %rd1;", None),
    ]),
)
def test_call_blocks(line, expected):
    check(line, expected)


# ---------------------------------------------------------------------------------------------------------------
# Declarations


@pytest.mark.parametrize(
    "line,expected",
    table([
        # register ranges
        (".reg .pred %p<3>;", ("RegisterCount", "PTXSpace.Register", "PTXType.PRED", 3)),
        (".reg .b32 %p<2>;", ("RegisterCount", "PTXSpace.Register", "PTXType.PRED", 2)),
        (".reg .b64 %p<2>;", ("RegisterCount", "PTXSpace.Register", "PTXType.PRED", 2)),
        (".reg .b32 %r<10>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 10)),
        (".reg .f32 %r<10>;", ("RegisterCount", "PTXSpace.Register", "PTXType.F32", 10)),
        (".reg .s32 %r<1>;", ("RegisterCount", "PTXSpace.Register", "PTXType.S32", 1)),
        (".reg .b64 %rd<5>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B64", 5)),
        (".reg .u32 %rd<5>;", ("RegisterCount", "PTXSpace.Register", "PTXType.U32", 5)),
        (".reg .f32 %f<7>;", ("RegisterCount", "PTXSpace.FloatRegister", "PTXType.F32", 7)),
        (".reg .u32 %f<7>;", ("RegisterCount", "PTXSpace.FloatRegister", "PTXType.U32", 7)),
        (".reg .f8 %f<1>;", ("RegisterCount", "PTXSpace.FloatRegister", "PTXType.F8", 1)),
        (".reg .b32 %r<0>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 0)),
        (".reg .b32 %r<007>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 7)),
        (f".reg .b32 %r<{MAX128}>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", MAX128)),
        (f".reg .b64 %rd<{'0' * 10}{MAX128}>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B64", MAX128)),
        (".reg.b32 %r<4>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 4)),
        (".reg .b32%r<4>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 4)),
        (".reg\t.b32 \t%r<4>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 4)),
        (".reg .b32 %r<4>; // trailing", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 4)),
        ("  .reg .b32 %r<5>;", ("RegisterCount", "PTXSpace.Register", "PTXType.B32", 5)),
        (".reg .f64 %fd<7>;", None),
        (".reg .b16 %rs<5>;", None),
        (".reg .u8 %r<5>;", None),
        (".reg .B32 %r<5>;", None),
        (".reg .b32 %r< 4>;", None),
        (".reg .b32 %r<4 >;", None),
        (".reg .b32 %r<4> ;", None),
        (".reg .b32 %r <4>;", None),
        (".reg .b32 % r<4>;", None),
        (".reg .b32 %r<>;", None),
        (".reg .b32 %r<-1>;", None),
        (".reg .b32 %r<4>", None),
        (".reg .b32 %r<4>, %rd<4>;", None),
        (".reg %r<4>;", None),
        (".reg .b32 %r<4>;;", None),
        # named registers
        (".reg .b32 %myreg;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.B32", "myreg")),
        (".reg .b32 %zz ;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.B32", "zz")),
        (".reg .u64 %Foo;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.U64", "Foo")),
        (".reg .b32 %_x9$;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.B32", "_x9$")),
        (".reg .b32 %$x;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.B32", "$x")),
        (".reg .b32 %r1;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.B32", "r1")),
        (".reg .pred %p;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.PRED", "p")),
        (".reg .b32 %x // c\n;", ("CustomRegister", "PTXSpace.CustomRegister", "PTXType.B32", "x")),
        (".reg .b32 % foo;", None),
        (".reg .b32 %1x;", None),
        (".reg .b32 %r1, %r2;", None),
        (".reg .b32 %a.b;", None),
        (".reg .b32 foo;", None),
        # pragmas
        ('.pragma "nounroll";', ("Pragma",)),
        ('.pragma"nounroll";', ("Pragma",)),
        ('.pragma "abc123";', ("Pragma",)),
        ('.pragma "nounroll"; // c', ("Pragma",)),
        ('.pragma "";', None),
        ('.pragma "a b";', None),
        ('.pragma "a_b";', None),
        ('.pragma "a-b";', None),
        (".pragma nounroll;", None),
        ('.pragma "nounroll" ;', None),
        ('.pragma " nounroll";', None),
        ('.pragma "nounroll"', None),
        # shared arrays
        (".shared .align 4 .b8 smem[128];",
         ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.B8", 128, "label:smem")),
        (".shared .b8 smem[128];", ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.B8", 128, "label:smem")),
        (".shared.align4.u32smem[8];", ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.U32", 8, "label:smem")),
        (".shared .align 4 .b8 smem[ 128 ];",
         ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.B8", 128, "label:smem")),
        (".shared .align 4 .b8 smem [128];",
         ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.B8", 128, "label:smem")),
        (".shared .align 16 .f32 _Z4tile[0];",
         ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.F32", 0, "label:_Z4tile")),
        (".shared .align 4 .b8 9s[1];", ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.B8", 1, "label:9s")),
        (f".shared .align 4 .b8 s[{MAX128}];",
         ("SharedMemory", "PTXSpace.SharedMemory", "PTXType.B8", MAX128, "label:s")),
        (".shared .align .b8 smem[1];", None),
        (".shared .align 4 .b8 smem[];", None),
        (".shared .align 4 .b8 smem[128] ;", None),
        (".shared .align 4 .b8 smem[128]", None),
        (".shared .align 4 .b8 $smem[1];", None),
        (".shared .align 4 .b8 s.mem[1];", None),
        (".shared .align 4 .b8 smem[N];", None),
        (".shared .align 4 smem[1];", None),
        (".shared .align 4 .b8 smem[1][2];", None),
        # local arrays
        (".local .align 8 .b8 __local_depot0[32];",
         ("LocalMemory", "PTXSpace.LocalMemory", "PTXType.B8", 32, "label:__local_depot0")),
        (".local .b8 x[1];", ("LocalMemory", "PTXSpace.LocalMemory", "PTXType.B8", 1, "label:x")),
        (".local .align 8 .b8 x[1] ;", None),
        (".local .align 8 .b8 x;", None),
        (".const .align 8 .b8 x[1];", None),
        (".global .align 8 .b8 x[1];", None),
    ]),
)
def test_declarations(line, expected):
    check(line, expected if expected is None else ("Statement", expected))


@pytest.mark.parametrize(
    "line",
    [
        pytest.param(f".reg .b32 %r<{MAX128 + 1}>;", id="general-range"),
        pytest.param(f".reg .pred %p<{MAX128 + 1}>;", id="predicate-range"),
        pytest.param(f".reg .b64 %rd<{MAX128 + 1}>;", id="wide-range"),
        pytest.param(f".reg .f32 %f<{MAX128 + 1}>;", id="float-range"),
        pytest.param(f".reg .b32 %r<{'9' * 60}>;", id="sixty-digits"),
        pytest.param(f".shared .align 4 .b8 smem[{MAX128 + 1}];", id="shared-array"),
        pytest.param(f".local .align 4 .b8 depot[{MAX128 + 1}];", id="local-array"),
    ],
)
def test_declaration_count_beyond_128_bits(line):
    with pytest.raises(OverflowError):
        zorvane.parse_function_body_line(line)


def test_shared_array_name_is_a_label_operand():
    stmt = zorvane.parse_function_body_line(".shared .align 4 .b8 smem[128];")._0
    assert stmt._3.kind() == "label"
    assert stmt._3.get_label() == "smem"
    assert str(stmt._3) == "smem"


# ---------------------------------------------------------------------------------------------------------------
# Instructions


@pytest.mark.parametrize(
    "line,expected,offset",
    table([
        ("mov.u32 %r1, %r2;",
         "PTXInstruction(opcode='Mov', modifiers='u32', operands=[Register(General(1)), Register(General(2))])", 0),
        ("\tld.param.u64 \t%rd1, [foo_param_0];",
         "PTXInstruction(opcode='Ld', modifiers='param.u64', operands=[Register(Wide(1)), MemoryLbl(\"foo_param_0\")])",
         1),
        ("  ret;", "PTXInstruction(opcode='Ret', modifiers='', operands=[])", 2),
        # The line skips whitespace before the guard, which a lone instruction does not.
        ("\t@%p1 bra \t$L__BB0_2;", "PTXInstruction(opcode='Bra', modifiers='', operands=[Label(\"L__BB0_2\")])", 6),
        ("// é\nret; // done", "PTXInstruction(opcode='Ret', modifiers='', operands=[])", 6),
    ]),
)
def test_instructions(line, expected, offset):
    item = zorvane.parse_function_body_line(line)
    assert variant(item) == "BodyItem_Instruction"
    assert str(item._0) == expected
    assert item._0.offset == offset


@pytest.mark.parametrize(
    "line,expected",
    table([
        ("@%p0 ret;", 0),
        ("ret;", None),
        (" @%p12 ret;", 12),
    ]),
)
def test_instruction_guard(line, expected):
    assert zorvane.parse_function_body_line(line)._0.is_predicated == expected


@pytest.mark.parametrize(
    "line,expected",
    table([
        ("ret;x", None),
        ("ret; ret;", None),
        ("@!%p1 bra L;", None),
        ("mov.u32 %r1 %r2;", None),
        (f"mov.u32 %r1, {2**64};", OverflowError),
        (f"@%p{2**64} ret;", OverflowError),
        ("", None),
        ("   ", None),
        ("// only a comment", None),
        ("/* c */ ret;", None),
        ("\u00a0ret;", None),
    ]),
)
def test_rejected_lines(line, expected):
    check(line, expected)


# ---------------------------------------------------------------------------------------------------------------
# Parameter lists


@pytest.mark.parametrize(
    "line,expected",
    table([
        ("(.param .b64 a)", ("Param",)),
        ("()", ("Param",)),
        ("( )", ("Param",)),
        ("(.param .u32 a, .param .u64 b)", ("Param",)),
        ("( .param .b64 a )", ("Param",)),
        ("(\n\t.param .b64 _Z3fooPf_param_0,\n\t.param .u32 _Z3fooPf_param_1\n)", ("Param",)),
        ("(.param.pred$p)", ("Param",)),
        # A complete list decides the line: nothing may follow it, not even whitespace.
        ("(.param .b64 a) ", None),
        ("(.param .b64 a)\n", None),
        ("(.param .b64 a)// c", None),
        ("(.param .b64 a);", None),
        (" (.param .b64 a)", None),
        ("(.param .b64 a,)", None),
        ("(.param .b16 a)", None),
        ("(.param .align 8 .b64 a)", None),
        ("(.param .b64 a[2])", None),
        ("(.param .ptr .b64 a)", None),
        ("(.reg .b64 a)", None),
        ("(.param .b64 9a)", None),
        ("(", None),
    ]),
)
def test_parameter_lists(line, expected):
    check(line, expected)


# ---------------------------------------------------------------------------------------------------------------
# kind() and as_instruction()


@pytest.mark.parametrize(
    "line,kind",
    table([
        (".reg .b32 %r<4>;", "statement"),
        ("mov.u32 %r1, %r2;", "instruction"),
        ("$L__BB0_1:", "label"),
        ("{.reg .b32 temp_param_reg; call.uni f, (); }", "call"),
        ("(.param .b64 a)", "param"),
    ]),
)
def test_kind_and_as_instruction(line, kind):
    item = zorvane.parse_function_body_line(line)
    assert item.kind() == kind
    if kind == "instruction":
        copy = item.as_instruction()
        assert copy is not item._0
        assert type(copy).__name__ == "PTXInstruction"
        assert str(copy) == str(item._0)
        assert (copy.offset, copy.modifiers, copy.is_predicated) == (item._0.offset, item._0.modifiers, None)
    else:
        assert item.as_instruction() is None


def test_as_instruction_keeps_guard_and_offset():
    item = zorvane.parse_function_body_line("  @%p7 bar.sync 0;")
    copy = item.as_instruction()
    assert (copy.offset, copy.is_predicated, int(copy.opcode)) == (7, 7, int(item._0.opcode))
