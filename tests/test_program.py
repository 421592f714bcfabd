# Whole modules through parse_ptx: header, top-level items, error texts, offsets and the file-wide tables.
import pytest

import zorvane

HDR = ".version 8.5\n.target sm_52\n.address_size 64\n"
MAX64 = 2**64 - 1

TARGETS = [
    "sm_10", "sm_11", "sm_12", "sm_13", "sm_20", "sm_30", "sm_32", "sm_35", "sm_37", "sm_50",
    "sm_52", "sm_53", "sm_60", "sm_61", "sm_62", "sm_70", "sm_72", "sm_75", "sm_80", "sm_86",
    "sm_87", "sm_88", "sm_89", "sm_90", "sm_90a", "sm_100", "sm_100f", "sm_100a", "sm_103", "sm_103f",
    "sm_103a", "sm_110", "sm_110f", "sm_110a", "sm_120", "sm_120f", "sm_120a", "sm_121", "sm_121f", "sm_121a",
]

# Every mnemonic the opcode rule knows (all opcodes' but tld4's), quoted as in error texts.
_OPCODE = type(zorvane.parse_instruction("ret;").opcode)
MNEMONICS = [str(v) for v in vars(_OPCODE).values() if type(v) is _OPCODE and str(v) != "tld4"]

TOP_LEVEL_STARTS = '".entry", ".extern", ".func", ".global", ".visible", ".weak"'
IDENT_START = "['a'..='z' | 'A'..='Z' | '_' | '$']"
# Everything that may begin a body item or close the body.
BODY_STARTS = "one of " + ", ".join(sorted(
    [f'"{m}"' for m in MNEMONICS] + ['"$"', '"{"', '".shared"', '".reg"', '".pragma"', '".local"', '"@%p"', '"}"']))


def table(rows):
    """Parameter rows named by their first column, the input text."""
    return [pytest.param(*row, id=repr(row[0])) for row in rows]


def one_of(texts):
    return "one of " + ", ".join(sorted(texts))


def parse(body):
    return zorvane.parse_ptx(HDR + body)


def error_text(text):
    with pytest.raises(ValueError) as info:
        zorvane.parse_ptx(text)
    assert len(info.value.args) == 1
    return info.value.args[0]


def accepts(body):
    try:
        parse(body)
    except ValueError:
        return False
    return True


def all_instructions(ptx):
    return [instr for fn in ptx.functions for instr in fn.body.instructions]


# ---------------------------------------------------------------------------------------------------------------
# Header


@pytest.mark.parametrize(
    "text,version,address_size",
    table([
        (HDR, "8.5", 64),
        (".version 8.5 .target sm_52 .address_size 64", "8.5", 64),
        (".version8.5.targetsm_52.address_size64", "8.5", 64),
        ("// lead\n\n.version 8.5 // a\n.target sm_52 // b\n.address_size 64 // c", "8.5", 64),
        (".version 8.5\r\n.target sm_52\r\n.address_size 64\r\n", "8.5", 64),
        ("\t.version\t8.5\t.target\tsm_52\t.address_size\t32\t", "8.5", 32),
        (".version 08.50\n.target sm_52\n.address_size 64", "08.50", 64),
        (".version 10.0\n.target sm_52\n.address_size 0064", "10.0", 64),
        (f".version 1.0\n.target sm_52\n.address_size {MAX64}", "1.0", MAX64),
    ]),
)
def test_header_forms(text, version, address_size):
    header = zorvane.parse_ptx(text).header
    assert header.version == version
    assert repr(header.target) == "PTXTarget.SM52"
    assert header.address_size == address_size


@pytest.mark.parametrize("value,name", list(enumerate(TARGETS)), ids=TARGETS)
def test_every_target(value, name):
    target = zorvane.parse_ptx(f".version 8.5\n.target {name}\n.address_size 64\n").header.target
    assert repr(target) == "PTXTarget." + name.replace("_", "").upper()
    assert int(target) == value


@pytest.mark.parametrize(
    "text",
    [
        ".version 8\n.target sm_52\n.address_size 64",
        ".version .5\n.target sm_52\n.address_size 64",
        ".version 8.\n.target sm_52\n.address_size 64",
        ".version 8 .5\n.target sm_52\n.address_size 64",
        ".version 8.5.1\n.target sm_52\n.address_size 64",
        ".version 8.5\n.target sm_52, debug\n.address_size 64",
        ".version 8.5\n.target sm_1000\n.address_size 64",
        ".version 8.5\n.target sm_90b\n.address_size 64",
        ".version 8.5\n.target SM_52\n.address_size 64",
        ".version 8.5\n.target sm_91\n.address_size 64",
        ".version 8.5\n.target compute_52\n.address_size 64",
        ".version 8.5\n.target sm_52",
        ".version 8.5\n.address_size 64\n.target sm_52",
        ".target sm_52\n.version 8.5\n.address_size 64",
        ".version 8.5\n.target sm_52\n.address_size -64",
        ".version 8.5\n.target sm_52\n.address_size 0x40",
        ".VERSION 8.5\n.target sm_52\n.address_size 64",
        "/* c */ .version 8.5\n.target sm_52\n.address_size 64",
        "\ufeff.version 8.5\n.target sm_52\n.address_size 64",
    ],
    ids=repr,
)
def test_rejected_headers(text):
    with pytest.raises(ValueError):
        zorvane.parse_ptx(text)


@pytest.mark.parametrize(
    "text",
    [
        pytest.param(f".version 8.5\n.target sm_52\n.address_size {MAX64 + 1}\n", id="address-size"),
        pytest.param(HDR + f".entry f() {{ mov.u32 %r1, {MAX64 + 1}; }}", id="immediate"),
        pytest.param(HDR + f".entry f() {{ .reg .b32 %r<{2**128}>; }}", id="register-count"),
        # The call ends at the number even though the module would fail further on.
        pytest.param(HDR + f".entry f() {{ @%p{MAX64 + 1} ret; }} garbage", id="guard-before-garbage"),
    ],
)
def test_number_out_of_range_is_not_a_parse_error(text):
    with pytest.raises(OverflowError):
        zorvane.parse_ptx(text)


# ---------------------------------------------------------------------------------------------------------------
# Error texts


@pytest.mark.parametrize(
    "text,message",
    table([
        ("}", 'error at 1:1: expected ".version"'),
        ("", 'error at 1:1: expected ".version"'),
        ("  // only a comment\n", 'error at 2:1: expected ".version"'),
        (".version 8\n.target sm_52\n.address_size 64\n", "error at 1:11: expected one of \".\", ['0'..='9']"),
        (".version 8.5\n.target sm_91\n.address_size 64\n",
         "error at 2:9: expected " + one_of(f'"{t}"' for t in TARGETS)),
        (".version 8.5\n.target sm_52\n.address_size\n", "error at 4:1: expected ['0'..='9']"),
        (HDR + ".global .f32 x;", 'error at 4:9: expected ".align"'),
        (HDR + "xyz", f"error at 4:1: expected one of {TOP_LEVEL_STARTS}, EOF"),
        (HDR + "\txyz", f"error at 4:2: expected one of {TOP_LEVEL_STARTS}, EOF"),
        (HDR.replace("\n", "\r\n") + "xyz", f"error at 4:1: expected one of {TOP_LEVEL_STARTS}, EOF"),
        (HDR + "// ééé\nxyz", f"error at 5:1: expected one of {TOP_LEVEL_STARTS}, EOF"),
        (HDR + ".entry f() { ret; }\n}", f"error at 5:1: expected one of {TOP_LEVEL_STARTS}, EOF"),
        (".version 8.5\n.target sm_52\n.address_size 64x",
         f"error at 3:17: expected one of {TOP_LEVEL_STARTS}, EOF, ['0'..='9']"),
        (HDR + ".entry f(.param .b32 a,) {}", 'error at 4:24: expected ".param"'),
        (".version 8.5 .target sm_52 .address_size 64 .entry", f"error at 1:51: expected {IDENT_START}"),
        (HDR + ".entry é() {}", f"error at 4:8: expected {IDENT_START}"),
        (HDR + ".entry f() { mov.u32 %r1, %r2 }", 'error at 4:31: expected one of ",", ";"'),
        # Runs that stop mark their class, beside what could have followed them.
        (HDR + ".entry f", "error at 4:9: expected one of \"(\", ['a'..='z' | 'A'..='Z' | '0'..='9' | '_' | '$']"),
        (HDR + ".entry f() { mov.U32 %r1, %r2; }", "error at 4:18: expected ['a'..='z' | '0'..='9']"),
        (HDR + ".entry f() { $L1 }", "error at 4:17: expected one of \":\", ['a'..='z' | '0'..='9' | '_' | 'A'..='Z']"),
        (HDR + '.entry f() { .pragma "a b"; }',
         "error at 4:24: expected one of \"\\\"\", [|'0'..='9'| 'a'..='z' | 'A'..='Z']"),
        (HDR + ".entry f() { .reg .b32 %r<4> ; }", "error at 4:28: expected one of \">;\", ['0'..='9']"),
        (HDR + ".entry f() { ld.u32 %r1, [%r2+x]; }", "error at 4:31: expected one of \"-\", ['0'..='9']"),
        (HDR + ".entry f() { ld.u32 %r1, [%r2 x]; }", 'error at 4:31: expected one of "+", "]"'),
        # The column counts characters, whatever their length in bytes.
        (HDR + ".entry f() { // é", f"error at 4:18: expected {BODY_STARTS}"),
        (HDR + ".entry f() { // 漢", f"error at 4:18: expected {BODY_STARTS}"),
        (HDR + ".entry f() { // 😀", f"error at 4:18: expected {BODY_STARTS}"),
        (HDR + ".entry f() { // é 漢 😀", f"error at 4:22: expected {BODY_STARTS}"),
        (HDR + ".entry f() { // \x00", f"error at 4:18: expected {BODY_STARTS}"),
        (HDR + ".entry f() {\n", f"error at 5:1: expected {BODY_STARTS}"),
        (HDR + "\x00", f"error at 4:1: expected one of {TOP_LEVEL_STARTS}, EOF"),
        (HDR + ".entry f() { ret; \x00 }", f"error at 4:19: expected {BODY_STARTS}"),
    ]),
)
def test_error_texts(text, message):
    assert error_text(text) == message


# ---------------------------------------------------------------------------------------------------------------
# Top-level items


@pytest.mark.parametrize(
    "body,name,link,kind",
    table([
        (".visible .entry k() { ret; }", "k", "Visible", "Kernel"),
        (".weak .func f() { ret; }", "f", "Weak", "Function"),
        (".extern .func f();", "f", "Extern", "Function"),
        (".func f();", "f", "None", "Function"),
        (".entry k() {}", "k", "None", "Kernel"),
        (".entry k();", "k", "None", "Kernel"),
        (".extern .entry k() { ret; }", "k", "Extern", "Kernel"),
        (".visible.entryfoo(){ret;}", "foo", "Visible", "Kernel"),
        (".visible\n.entry\n_Z3fooPf\n(\n)\n{\n}\n", "_Z3fooPf", "Visible", "Kernel"),
        (".func $f$1() {}", "$f$1", "None", "Function"),
        (".entry f() { ret; } // a comment without a line feed", "f", "None", "Kernel"),
    ]),
)
def test_function_items(body, name, link, kind):
    (fn,) = parse(body).functions
    assert fn.name == name
    assert repr(fn.link_directive) == f"PTXLinkDirective.{link}"
    assert repr(fn.kind) == f"PTXFunctionKind.{kind}"


def test_declaration_has_empty_body():
    (fn,) = parse(".extern .func foo(.param .b32 a);").functions
    assert [(p.name, repr(p.type_)) for p in fn.signature.parameters] == [("a", "PTXType.B32")]
    assert fn.body.statements == []
    assert fn.body.instructions == []


def test_large_module():
    body = "".join(f".func f{n}(.param .b32 a) {{\n\tadd.s32 %r1, %r2, {n};\n\tret;\n}}\n" for n in range(2000))
    ptx = parse(body)
    functions = ptx.functions
    assert len(functions) == 2000
    last = functions[-1].body.instructions[0]
    assert str(ptx.get_instruction(last.offset)) == str(last)
    assert str(last.operands[2]) == "1999"


def test_functions_in_written_order():
    ptx = parse(".entry a(){}.func b();\n.global .align 4 .b8 g[4];\n.visible .func c() { ret; }\n.weak .entry d(){}")
    assert [fn.name for fn in ptx.functions] == ["a", "b", "c", "d"]


@pytest.mark.parametrize(
    "body",
    [
        ".extern .func foo(.param .b32 a) ;",
        ".entry f() { { ret; } }",
        ".entry f() { ret; } }",
        ".func (.param .b32 r) foo() {}",
        ".func (.param .b32 r) foo();",
        ".entry f() .maxntid 1, 1, 1 { }",
        ".entry f()\n.reqntid 32\n{ }",
        ".visible .visible .entry f() {}",
        ".entry f() { ret; ",
        ".entry f { ret; }",
        ".entry 9f() {}",
        ".kernel f() {}",
        ".entry f() { (.param .b64 a) }",
        ".entry f() { .reg .b32 %r<4> ; }",
        ".entry f() { ret; };",
        ".func f() ;",
        ".func f()\n;",
    ],
    ids=repr,
)
def test_rejected_functions(body):
    assert not accepts(body)


@pytest.mark.parametrize(
    "body,accepted",
    table([
        (".extern .shared .align 16 .b8 smem[];", True),
        (".extern .shared .align 16 .b8 smem[ ];", True),
        (".extern .shared .align 16 .b8 smem[\n];", True),
        (".extern.shared.align16.b8smem[];", True),
        (".extern .shared .align 16 .b8 $smem$1[];", True),
        (".extern .shared .b8 smem[];", False),
        (".extern .shared .align .b8 smem[];", False),
        (".extern .shared .align 16 .b8 smem [];", False),
        (".extern .shared .align 16 .b8 smem[] ;", False),
        (".extern .shared .align 16 .b8 smem[16];", False),
        (".extern .shared .align 16 .b16 smem[];", False),
        (".shared .align 16 .b8 smem[16];", False),
        (".global .align 4 .b8 g[16] = {1, 2, 3};", True),
        (".global .align 4 .b8 g[16]={1,2,3};", True),
        (".global .align 4 .b8 g[16] = {\n1, 2, 3\n};", True),
        (".global .align 4 .b8 g[16] = { 1 , 2 };", True),
        (".global .align 4 .b8 g[N_1] = {1};", True),
        (".global .align 1 .b8 $str[9] = {103, 116, 105, 100, 32, 60, 32, 78};", True),
        (".global .align 1 .b8 $str$1[2] = {1, 2};", True),
        (".global .align 4 .b8 g[16] = {-1};", False),
        (".global .align 4 .b8 g[16] = {};", False),
        (".global .align 4 .b8 g[16] = {1,\n2};", False),
        (".global .align 4 .b8 g[16] = {1, 2} ;", False),
        (".global .align 4 .b8 g[16] = {0x1};", False),
        (".global .align 4 .b8 g [16] = {1};", False),
        (".global .align 4 .b8 g[] = {1};", False),
        (".global .align 4 .b8 g[16];", True),
        (".global .align 8 .u64 t[N];", True),
        (".global .align 4 .b8 g[16]; // c", True),
        (".global .align 8 .u64 t[N_1];", False),
        (".global .f32 x;", False),
        (".global .align 4 .b8 g[];", False),
        (".global .align 4 .b8 g[16] ;", False),
        (".global .align 4 .u16 g[16];", False),
        (".global .align 4 .b8 g[16], h[16];", False),
        (".const .align 4 .b8 g[16];", False),
    ]),
)
def test_global_declarations(body, accepted):
    if accepted:
        ptx = parse(body + "\n.entry k() {}")
        assert [fn.name for fn in ptx.functions] == ["k"]
    else:
        assert not accepts(body)


# ---------------------------------------------------------------------------------------------------------------
# Function offsets and signatures


@pytest.mark.parametrize(
    "prefix",
    ["", "\n\n  ", "// é\n", "// ünïcödé 漢字\n\t", "\r\n// 😀\r\n"],
    ids=repr,
)
def test_function_offset_counts_bytes(prefix):
    text = HDR + prefix + ".visible .entry f() { ret; }\n.func g();"
    f, g = zorvane.parse_ptx(text).functions
    data = text.encode()
    assert f.offset == len((HDR + prefix).encode())
    assert data[f.offset:].startswith(b".visible .entry f(")
    assert data[g.offset:].startswith(b".func g(")


def test_function_offset_on_one_line():
    text = ".version 8.5 .target sm_52 .address_size 64 .entry f(){}"
    assert zorvane.parse_ptx(text).functions[0].offset == text.index(".entry")


@pytest.mark.parametrize(
    "signature,parameters",
    table([
        ("()", []),
        ("( )", []),
        ("(\n)", []),
        ("(.param .b64 a, .param .u32 b)", [("a", "B64"), ("b", "U32")]),
        ("(\n\t.param .b64 a\n\t,\n\t.param .u32 b\n)", [("a", "B64"), ("b", "U32")]),
        ("(.param.s32$x,.param.f64_y)", [("$x", "S32"), ("_y", "F64")]),
        (
            "(.param .pred a, .param .b8 b, .param .b32 c, .param .b64 d, .param .f8 e, .param .f32 f,"
            " .param .f64 g, .param .s32 h, .param .s64 i, .param .u32 j, .param .u64 k)",
            [("a", "PRED"), ("b", "B8"), ("c", "B32"), ("d", "B64"), ("e", "F8"), ("f", "F32"), ("g", "F64"),
             ("h", "S32"), ("i", "S64"), ("j", "U32"), ("k", "U64")],
        ),
    ]),
)
def test_signature_parameters(signature, parameters):
    for item in (f".entry k{signature} {{}}", f".func k{signature};"):
        (fn,) = parse(item).functions
        assert [(p.name, repr(p.type_)) for p in fn.signature.parameters] == [
            (name, f"PTXType.{t}") for name, t in parameters
        ]


@pytest.mark.parametrize(
    "signature",
    [
        "(.param .b64 a,)",
        "(,)",
        "(.param .align 8 .b64 a)",
        "(.param .b64 a[2])",
        "(.param .ptr .global .b64 a)",
        "(.param .u16 a)",
        "(.param .b64)",
        "(.reg .b64 a)",
        "(.param .b64 a .param .b64 b)",
        "(.param .b64 a; .param .b64 b)",
        "(.param .b64 9a)",
    ],
    ids=repr,
)
def test_rejected_signatures(signature):
    assert not accepts(f".entry k{signature} {{}}")


# ---------------------------------------------------------------------------------------------------------------
# Bodies

BODY = """
.visible .entry k(.param .u64 k_param_0)
{
\t.reg .pred \t%p<2>;
\t.reg .b32 \t%r<4>;
\tld.param.u64 \t%rd1, [k_param_0];
\tmov.u32 \t%r1, %tid.x;
$L__BB0_1:
\t.shared .align 4 .b8 smem[16];
\t@%p1 bra \t$L__BB0_1;
\t{ // callseq 0, 0
\t.reg .b32 temp_param_reg;
\tcall.uni f, ();
\t} // callseq 0
\t.pragma "nounroll";
\tret;

}
"""


def test_body_keeps_statements_and_instructions_in_order():
    (fn,) = parse(BODY).functions
    statements = fn.body.statements
    assert [type(s).__name__ for s in statements] == [
        "PTXStatement_RegisterCount", "PTXStatement_RegisterCount", "PTXStatement_SharedMemory", "PTXStatement_Pragma",
    ]
    assert [repr(s._1) for s in statements[:3]] == ["PTXType.PRED", "PTXType.B32", "PTXType.B8"]
    assert [str(i.opcode) for i in fn.body.instructions] == ["ld", "mov", "bra", "ret"]
    assert [i.is_predicated for i in fn.body.instructions] == [None, None, 1, None]


# Instruction lines of every shape, mixed within bodies: each must read the same inside a module as alone.
MIXED_LINES = [
    "ld.param.u64 %rd1, [k_param_0];",
    "add.s32 %r3, %r1, -7;",
    "setp.lt.u32 %r1|%p2, %r1, %r2;",
    "mov.b32 %r1, %tid.x;",
    "ret;",
    "st.global.v4.f32 [%rd4+-16], {%f1, %f2, %f3, %f4};",
    "mov.u32 %r1, 18446744073709551615;",
    "mad.lo.s32 %r4, %r1, %r2, %r3;",
    "add.s32 %r1, // a comment between operands\n %r2, %r3;",
    "@%p1 bra $L__BB0_1;",
    "mov.u64 %rd2, $str$12;",
    "mov.b32 %f1, 0f3F800000;",
    "tex.2d.v4.f32.s32 {%f1, %f2, %f3, %f4}, {%r1, %r2};",
    "mov.u32 %r1, %myreg;",
    "bar.sync 0;",
]


def test_body_instructions_match_their_lines_alone_and_outlive_the_file():
    bodies = [MIXED_LINES, MIXED_LINES[::-1], MIXED_LINES[3:] + MIXED_LINES[:3]]
    text = HDR + "".join(
        f".entry k{n}()\n{{\n" + "".join(f"\t{line}\n" for line in lines) + "}\n" for n, lines in enumerate(bodies)
    )
    ptx = zorvane.parse_ptx(text)
    kept = [fn.body for fn in ptx.functions]
    del ptx
    for body, lines in zip(kept, bodies):
        assert [str(i) for i in body.instructions] == [str(zorvane.parse_instruction(line)) for line in lines]


# ---------------------------------------------------------------------------------------------------------------
# Referenced labels

LABELS_BODY = """
.entry k()
{
\t.shared .b8 sarr[4];
\tbra $L__BB0_1;
\tbra Loop;
\tbra done;
\tbra done;
\tld.global.u32 %r1, [gdata];
\tld.global.u32 %r1, [Lgdata];
\tmov.u64 %rd1, $str$1;
\tmov.u64 %rd1, $str;
\tsetp.eq.s32 %p1, first, second;
\tbra loop;
\tmov.u32 %r1, 5;
\t{ .reg .b32 temp_param_reg; call.uni callee, (); }
}
.func g() { @%p1 bra other; }
"""


def test_labels_ref():
    assert parse(LABELS_BODY).labels_ref == [
        "done", "done", "gdata", "$str$1", "str", "first", "second", "loop", "other",
    ]


def test_module_without_functions():
    ptx = zorvane.parse_ptx(HDR)
    assert ptx.functions == []
    assert ptx.labels_ref == []
    assert ptx.custom_registers == {}
    for addr in (0, 1, len(HDR), MAX64):
        assert ptx.get_instruction(addr) is None


# ---------------------------------------------------------------------------------------------------------------
# Custom registers


@pytest.mark.parametrize(
    "body,expected",
    table([
        (".entry a() { .reg .b32 %Foo; .reg .u64 %bar; .reg .s32 %baz; }",
         {"foo": "cr0", "bar": "crd0", "baz": "cr1"}),
        (".entry a() { .reg .b32 %a; .reg .b64 %b; .reg .u32 %c; .reg .s64 %d; .reg .u64 %e; }",
         {"a": "cr0", "b": "crd0", "c": "cr1", "d": "crd1", "e": "crd2"}),
        # Counters restart in every function; the map is shared, so later names win.
        (".entry a() { .reg .b32 %x; .reg .b32 %y; }\n.entry b() { .reg .b32 %q; }",
         {"x": "cr0", "y": "cr1", "q": "cr0"}),
        (".entry a() { .reg .b32 %Foo; .reg .b32 %y; }\n.func b() { .reg .b64 %FOO; }",
         {"foo": "crd0", "y": "cr1"}),
        (".entry a() { .reg .b32 %a; .reg .s32 %A; }", {"a": "cr1"}),
        # Other types and other declarations neither appear nor advance a counter.
        (".entry a() { .reg .f32 %x; .reg .pred %y; .reg .f64 %z; .reg .b8 %v; .reg .f8 %u; .reg .b32 %w; }",
         {"w": "cr0"}),
        (".entry a() { .reg .b32 %r<4>; .reg .b64 %rd<4>; .shared .b8 s[4]; .reg .b32 %w; }", {"w": "cr0"}),
        (".entry a() { mov.u32 %r1, %undeclared; }", {}),
        (".func a();", {}),
    ]),
)
def test_custom_registers(body, expected):
    assert parse(body).custom_registers == expected


# ---------------------------------------------------------------------------------------------------------------
# Instruction lookup by offset

LOOKUP_TEXT = HDR + """// ünïcödé before the first function
.visible .entry k(.param .u64 p)
{
\t.reg .b32 %r<4>;   // ß
\tld.param.u64 \t%rd1, [p];
$L__BB0_1:
\t@%p1 bra \t$L__BB0_1; // é
\tret;
}
.func g() { mov.u32 %r1, 0f3F800000; @%p0 exit; }
"""


@pytest.fixture(scope="module")
def lookup_file():
    return zorvane.parse_ptx(LOOKUP_TEXT)


def test_instruction_offsets_point_at_mnemonics(lookup_file):
    data = LOOKUP_TEXT.encode()
    instrs = all_instructions(lookup_file)
    assert [str(i.opcode) for i in instrs] == ["ld", "bra", "ret", "mov", "exit"]
    for instr in instrs:
        assert data[instr.offset:].startswith(str(instr.opcode).encode())
    assert instrs[1].offset == data.index(b"bra")


def test_get_instruction_returns_the_stored_object(lookup_file):
    for fn_index, fn in enumerate(lookup_file.functions):
        for instr in fn.body.instructions:
            found = lookup_file.get_instruction(instr.offset)
            assert found is lookup_file.get_instruction(instr.offset)
            assert found is lookup_file.get_instruction(addr=instr.offset)
            assert found is not instr
            assert type(found).__name__ == "PTXInstruction"
            assert str(found) == str(instr)
            assert (found.offset, found.modifiers, found.is_predicated, int(found.opcode)) == (
                instr.offset, instr.modifiers, instr.is_predicated, int(instr.opcode))


def test_get_instruction_accepts_index_objects(lookup_file):
    class Offset:
        def __init__(self, value):
            self.value = value

        def __index__(self):
            return self.value

    offset = all_instructions(lookup_file)[0].offset
    assert lookup_file.get_instruction(Offset(offset)) is lookup_file.get_instruction(offset)


def test_get_instruction_misses(lookup_file):
    offsets = {i.offset for i in all_instructions(lookup_file)}
    misses = [0, len(HDR), len(LOOKUP_TEXT.encode()), MAX64]
    misses += [fn.offset for fn in lookup_file.functions]
    misses += [o + 1 for o in offsets] + [o - 1 for o in offsets]
    for addr in misses:
        assert addr not in offsets
        assert lookup_file.get_instruction(addr) is None


@pytest.mark.parametrize(
    "args,kwargs,error,message",
    [
        pytest.param(("x",), {}, TypeError, "argument 'addr': 'str' object cannot be interpreted as an integer",
                     id="str"),
        pytest.param((1.5,), {}, TypeError, "argument 'addr': 'float' object cannot be interpreted as an integer",
                     id="float"),
        pytest.param((None,), {}, TypeError,
                     "argument 'addr': 'NoneType' object cannot be interpreted as an integer", id="None"),
        pytest.param((-1,), {}, OverflowError, None, id="negative"),
        pytest.param((2**64,), {}, OverflowError, None, id="2**64"),
        pytest.param((-(2**70),), {}, OverflowError, None, id="large-negative"),
        pytest.param((), {}, TypeError, "PTXFile.get_instruction() missing 1 required positional argument: 'addr'",
                     id="missing"),
        pytest.param((1, 2), {}, TypeError, "PTXFile.get_instruction() takes 1 positional arguments but 2 were given",
                     id="two-positional"),
        pytest.param((1,), {"x": 1}, TypeError, "PTXFile.get_instruction() got an unexpected keyword argument 'x'",
                     id="unknown-keyword"),
        pytest.param((1,), {"addr": 1}, TypeError,
                     "PTXFile.get_instruction() got multiple values for argument 'addr'", id="twice"),
    ],
)
def test_get_instruction_argument_errors(lookup_file, args, kwargs, error, message):
    with pytest.raises(error) as info:
        lookup_file.get_instruction(*args, **kwargs)
    if message is not None:
        assert str(info.value) == message
