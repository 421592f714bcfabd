# Parse errors through the entry functions: positions (line, column in characters), whitespace, expected sets.
import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_52\n.address_size 64\n"
DIGIT = "['0'..='9']"
IDENT_CONTINUE = "['a'..='z' | 'A'..='Z' | '0'..='9' | '_' | '$']"
TOP_LEVEL = '".entry", ".extern", ".func", ".global", ".visible", ".weak"'
TARGET_NAMES = """
    sm_10 sm_11 sm_12 sm_13 sm_20 sm_30 sm_32 sm_35 sm_37 sm_50 sm_52 sm_53 sm_60 sm_61 sm_62 sm_70 sm_72 sm_75
    sm_80 sm_86 sm_87 sm_88 sm_89 sm_90 sm_90a sm_100 sm_100f sm_100a sm_103 sm_103f sm_103a sm_110 sm_110f
    sm_110a sm_120 sm_120f sm_120a sm_121 sm_121f sm_121a
""".split()


def error_of(text):
    with pytest.raises(ValueError) as excinfo:
        zorvane.parse_ptx(text)
    assert len(excinfo.value.args) == 1
    return str(excinfo.value)


def table(rows):
    return [pytest.param(text, message, id=row_id) for row_id, text, message in rows]


# ---------------------------------------------------------------------------------------------------------------
# Where the error is reported


POSITIONS = [
    ("empty", "", 'error at 1:1: expected ".version"'),
    ("closing-brace", "}", 'error at 1:1: expected ".version"'),
    ("spaces", "   ", 'error at 1:4: expected ".version"'),
    ("tabs-count-one-each", "\t\tx", 'error at 1:3: expected ".version"'),
    ("line-feeds", "\n\n", 'error at 3:1: expected ".version"'),
    ("whitespace-only", "  \n\t \r\n  ", 'error at 3:3: expected ".version"'),
    ("after-line-feed", "\n}", 'error at 2:1: expected ".version"'),
    ("crlf", "\r\n\r\nx", 'error at 3:1: expected ".version"'),
    ("crlf-indented", "\r\n  x", 'error at 2:3: expected ".version"'),
    ("carriage-return-is-no-line-break", "\r\r\rx", 'error at 1:4: expected ".version"'),
    ("comment-without-line-feed", "// comment", 'error at 1:11: expected ".version"'),
    ("comments-only", "// a\n// b", 'error at 2:5: expected ".version"'),
    ("comment-then-text", "// c\n  x", 'error at 2:3: expected ".version"'),
    ("comment-ends-at-line-feed-only", "// a\r.version 8.5", 'error at 1:18: expected ".version"'),
    ("block-comment-not-skipped", "/* c */" + HEADER, 'error at 1:1: expected ".version"'),
    ("slash-alone", "/" + HEADER, 'error at 1:1: expected ".version"'),
    # Columns count characters: two-byte and four-byte characters in a comment count once each.
    ("two-byte-characters", "// ééé", 'error at 1:7: expected ".version"'),
    ("four-byte-characters", "//😀😀", 'error at 1:5: expected ".version"'),
    ("multi-byte-on-earlier-line", "// ééé😀\n  x", 'error at 2:3: expected ".version"'),
    ("multi-byte-before-end", ".version 8.5 .target sm_52 // ééé", 'error at 1:34: expected ".address_size"'),
    ("multi-byte-at-error", "é", 'error at 1:1: expected ".version"'),
    ("astral-at-error", "\n😀", 'error at 2:1: expected ".version"'),
]


@pytest.mark.parametrize("text,message", table(POSITIONS))
def test_error_position(text, message):
    assert error_of(text) == message


NOT_WHITESPACE = [
    ("byte-order-mark", "\ufeff"),
    ("no-break-space", "\u00a0"),
    ("form-feed", "\f"),
    ("vertical-tab", "\v"),
    ("nul", "\0"),
    ("next-line", "\u0085"),
    ("line-separator", "\u2028"),
    ("ideographic-space", "\u3000"),
]


@pytest.mark.parametrize("char", [pytest.param(c, id=i) for i, c in NOT_WHITESPACE])
def test_not_whitespace_at_start(char):
    assert error_of(char + HEADER) == 'error at 1:1: expected ".version"'


@pytest.mark.parametrize("char", [pytest.param(c, id=i) for i, c in NOT_WHITESPACE])
def test_not_whitespace_between_directives(char):
    text = ".version 8.5" + char + ".target sm_52 .address_size 64"
    assert error_of(text) == f'error at 1:13: expected one of ".target", {DIGIT}'


@pytest.mark.parametrize("char", [pytest.param(c, id=i) for i, c in NOT_WHITESPACE])
def test_not_whitespace_after_header(char):
    assert error_of(HEADER + char) == f"error at 4:1: expected one of {TOP_LEVEL}, EOF"


# ---------------------------------------------------------------------------------------------------------------
# The expected set and its rendering


EXPECTED_SETS = [
    ("one-text-without-one-of", ".version", f"error at 1:9: expected {DIGIT}"),
    ("one-quoted-text", "\n\n   .version 8.5\n", 'error at 4:1: expected ".target"'),
    ("quoted-before-class", ".version 8", f'error at 1:11: expected one of ".", {DIGIT}'),
    ("header-then-xyz", HEADER + "xyz", f"error at 4:1: expected one of {TOP_LEVEL}, EOF"),
    ("same-text-twice-appears-once", HEADER + ".global .f32 x;", 'error at 4:9: expected ".align"'),
    ("eof-between-quoted-and-class", ".version 8.5\n.target sm_52\n.address_size 64x",
     f"error at 3:17: expected one of {TOP_LEVEL}, EOF, {DIGIT}"),
    ("eof-on-one-line", ".version 8.5 .target sm_52 .address_size 64 }",
     f"error at 1:45: expected one of {TOP_LEVEL}, EOF"),
    ("identifier-class", HEADER + ".entry f", f'error at 4:9: expected one of "(", {IDENT_CONTINUE}'),
    ("after-complete-function", HEADER + ".entry f() { ret; }\n}",
     f"error at 5:1: expected one of {TOP_LEVEL}, EOF"),
    ("block-comment-after-header", HEADER + "/* c */", f"error at 4:1: expected one of {TOP_LEVEL}, EOF"),
    ("target-names-sorted", ".version 8.5\n.target sm_5",
     "error at 2:9: expected one of " + ", ".join(sorted(f'"{name}"' for name in TARGET_NAMES))),
]


@pytest.mark.parametrize("text,message", table(EXPECTED_SETS))
def test_expected_set(text, message):
    assert error_of(text) == message


def test_target_names_sort_byte_wise():
    # A name sorts before the longer names it begins: "sm_10" < "sm_100" < "sm_100a" < "sm_100f" < "sm_103".
    message = error_of(".version 8.5\n.target x")
    listed = message.split("expected one of ")[1].split(", ")
    assert listed[:5] == ['"sm_10"', '"sm_100"', '"sm_100a"', '"sm_100f"', '"sm_103"']
    assert len(listed) == 40


# ---------------------------------------------------------------------------------------------------------------
# What the entry rules consume


ACCEPTED = [
    ("comment-on-last-line", HEADER + "// trailing"),
    ("comment-after-function", HEADER + ".entry f() { ret; } // done"),
    ("comment-with-multi-byte", ".version 8.5 // ü\n.target sm_52 // 😀😀\n.address_size 64 // é"),
    ("crlf-line-ends", HEADER.replace("\n", "\r\n") + ".entry f()\r\n{\r\nret;\r\n}\r\n"),
    ("leading-whitespace-and-comments", "\n\t // x\r\n" + HEADER),
    ("trailing-whitespace", HEADER + " \t\r\n\n"),
]


@pytest.mark.parametrize("text", [pytest.param(t, id=i) for i, t in ACCEPTED])
def test_whitespace_and_comments_consumed(text):
    assert zorvane.parse_ptx(text).header.version == "8.5"


LEFTOVERS = [
    ("parse_instruction", "ret;x"),
    ("parse_instruction", "ret; /* c */"),
    ("parse_instruction", "ret;\f"),
    ("parse_function_body_line", "ret;x"),
    ("parse_function_body_line", "$L1: ret;"),
    ("parse_function_body_line", "ret;\ufeff"),
]


@pytest.mark.parametrize("function,text", LEFTOVERS, ids=[f"{f}-{t!r}" for f, t in LEFTOVERS])
def test_unconsumed_text_fails(function, text):
    assert getattr(zorvane, function)(text) is None


def test_comment_after_instruction_without_line_feed():
    assert str(zorvane.parse_instruction("ret; // c").opcode) == "ret"
    assert zorvane.parse_function_body_line("ret; // c").kind() == "instruction"


PARAMETER_LINES = [
    ("one-parameter", "(.param .b32 a)", "param"),
    ("two-parameters", "(.param .b32 a, .param .u64 b)", "param"),
    ("empty-list", "()", "param"),
    ("followed-by-space", "(.param .b32 a) ", None),
    ("followed-by-line-feed", "(.param .b32 a)\n", None),
    ("followed-by-comment", "(.param .b32 a)// c", None),
    ("preceded-by-space", " (.param .b32 a)", None),
]


@pytest.mark.parametrize("line,kind", [pytest.param(t, k, id=i) for i, t, k in PARAMETER_LINES])
def test_parameter_list_line(line, kind):
    item = zorvane.parse_function_body_line(line)
    if kind is None:
        assert item is None
    else:
        assert item.kind() == kind
        assert len(item) == 0


FAILURES_ARE_NONE = ["", " ", "}", "\0", "é", "😀", "/*", "ret", "@%p1", "\ufeffret;"]


@pytest.mark.parametrize("function", ["parse_instruction", "parse_function_body_line"])
@pytest.mark.parametrize("text", FAILURES_ARE_NONE, ids=repr)
def test_non_matching_text_gives_none(function, text):
    assert getattr(zorvane, function)(text) is None
