"""Very large inputs parse without exhausting the stack: long operand lists, long bodies and very long lines."""

import pytest

import zorvane

HEADER = ".version 8.5\n.target sm_90\n.address_size 64\n"
TEN_MB = 10 * 1024 * 1024


def test_vector_operand_of_100000_registers():
    registers = ", ".join(f"%r{i}" for i in range(100_000))
    instr = zorvane.parse_instruction("st.global.v4.b32 [%rd1], {" + registers + "};")
    (address, vector) = instr.operands
    regs = vector._0
    assert vector.kind() == "vector" and len(regs) == 100_000
    assert str(regs[0]) == "%r0" and str(regs[-1]) == "%r99999"


def test_unclosed_vector_operand_of_100000_registers_fails_at_its_end():
    text = "mov.u32 {" + ",".join(f"%r{i}" for i in range(100_000))
    assert zorvane.parse_instruction(text) is None
    with pytest.raises(ValueError, match=rf"^error at 5:{len(text) + 1}: expected "):
        zorvane.parse_ptx(HEADER + ".entry f(){\n" + text)


def test_body_of_200000_instructions():
    count = 200_000
    body = "ret;\n" * count
    text = HEADER + ".entry f()\n{\n" + body + "}\n"
    tree = zorvane.parse_ptx(text)
    (function,) = tree.functions
    instructions = function.body.instructions
    assert len(instructions) == count
    first = len((HEADER + ".entry f()\n{\n").encode())
    assert instructions[0].offset == first and instructions[-1].offset == first + 5 * (count - 1)
    assert tree.get_instruction(instructions[-1].offset) is not None


def test_body_of_200000_instructions_with_an_error_at_the_end():
    text = HEADER + ".entry f()\n{\n" + "ret;\n" * 200_000 + "ret\n"
    with pytest.raises(ValueError, match=r"^error at 200007:1: expected "):
        zorvane.parse_ptx(text)


@pytest.mark.parametrize(
    "line",
    [
        pytest.param("// " + "x" * TEN_MB, id="comment"),
        pytest.param("//" + "é" * (TEN_MB // 2), id="multibyte-comment"),
    ],
)
def test_ten_megabyte_comment_line(line):
    tree = zorvane.parse_ptx(HEADER + line)
    assert tree.functions == []


def test_ten_megabyte_digit_run_ends_in_an_error():
    digits = "9" * TEN_MB
    with pytest.raises(ValueError, match=rf"^error at 1:{len('.version ') + TEN_MB + 1}: expected "):
        zorvane.parse_ptx(".version " + digits)


def test_ten_megabyte_number_is_out_of_range():
    with pytest.raises(OverflowError):
        zorvane.parse_instruction("mov.u32 %r1, " + "9" * TEN_MB + ";")


def test_ten_megabyte_line_of_leading_zeros_is_one_number():
    instr = zorvane.parse_instruction("mov.u32 %r1, " + "0" * TEN_MB + "7;")
    assert instr.operands[1].get_immediate() == 7


def test_ten_megabyte_identifier_ends_in_an_error():
    with pytest.raises(ValueError, match=rf"^error at 4:{len('.entry ') + TEN_MB + 1}: expected "):
        zorvane.parse_ptx(HEADER + ".entry " + "a" * TEN_MB)
