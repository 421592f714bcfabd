// The register rule: numbered registers of the three families and the special registers with a written form.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "parser/grammar.hpp"

namespace zorvane::parser {

namespace registers {

using ast::PTXDirection;
using ast::PTXSpecialRegister;
using ast::encoding::RegisterKind;

// One alternative of the rule: a special register spelled out (kind Special), or the prefix of a numbered family.
struct RegisterForm {
    std::string_view text;
    const char* expected;
    RegisterKind kind;
    PTXSpecialRegister special;
    PTXDirection direction;
};

template <FixedString S>
constexpr RegisterForm special(PTXSpecialRegister reg, PTXDirection direction = PTXDirection::None) {
    return {S.view(), Quoted<S>::c_str(), RegisterKind::Special, reg, direction};
}

template <FixedString S>
constexpr RegisterForm numbered(RegisterKind kind) {
    return {S.view(), Quoted<S>::c_str(), kind, PTXSpecialRegister::TID, PTXDirection::None};
}

using R = PTXSpecialRegister;
using D = PTXDirection;

// In the order of trial. "%clock64" must precede "%clock", which begins it; "%rd" before "%r" only orders the
// failure marks, since a "%rd" name leaves no digit right after "%r".
inline constexpr std::array kForms{
    special<"%tid.y">(R::TID, D::Y),
    special<"%tid.x">(R::TID, D::X),
    numbered<"%rd">(RegisterKind::Wide),
    numbered<"%r">(RegisterKind::General),
    numbered<"%f">(RegisterKind::Float),
    special<"%ntid.x">(R::NTID, D::X),
    special<"%ctaid.y">(R::CTAID, D::Y),
    special<"%ctaid.x">(R::CTAID, D::X),
    special<"%tid.z">(R::TID, D::Z),
    special<"%ntid.y">(R::NTID, D::Y),
    special<"%ntid.z">(R::NTID, D::Z),
    special<"%ctaid.z">(R::CTAID, D::Z),
    special<"%nctaid.x">(R::NCTAID, D::X),
    special<"%nctaid.y">(R::NCTAID, D::Y),
    special<"%nctaid.z">(R::NCTAID, D::Z),
    special<"%warpid">(R::WARPID),
    special<"%laneid">(R::LANEID),
    special<"%warpsize">(R::WARPSIZE),
    special<"%gridid">(R::GRIDID),
    special<"%lanemask_eq">(R::LANEMASK_EQ),
    special<"%lanemask_le">(R::LANEMASK_LE),
    special<"%lanemask_lt">(R::LANEMASK_LT),
    special<"%lanemask_ge">(R::LANEMASK_GE),
    special<"%lanemask_gt">(R::LANEMASK_GT),
    special<"%clock64">(R::CLOCK64),
    special<"%clock">(R::CLOCK),
    special<"%pm0">(R::PM0),
    special<"%pm1">(R::PM1),
    special<"%pm2">(R::PM2),
    special<"%pm3">(R::PM3),
};

constexpr bool begins(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// A form tried after a form that it begins could never match; the table must keep longer forms first.
constexpr bool longer_forms_first() {
    for (std::size_t i = 0; i < kForms.size(); ++i)
        for (std::size_t j = i + 1; j < kForms.size(); ++j)
            if (begins(kForms[j].text, kForms[i].text)) return false;
    return true;
}
static_assert(longer_forms_first());

// Every form starts with "%", so the byte after it picks the few forms that can match; each group keeps the order of
// trial. The forms of byte b are kForms[members[begin[b]]] .. kForms[members[begin[b + 1] - 1]].
struct ByteGroups {
    std::array<std::uint8_t, kForms.size()> members{};
    std::array<std::uint8_t, 257> begin{};
};

constexpr ByteGroups group_by_second_byte() {
    for (const RegisterForm& form : kForms)
        if (form.text.size() < 2 || form.text[0] != '%') throw "every register form starts with \"%\" and a byte more";
    ByteGroups groups{};
    std::size_t n = 0;
    for (std::size_t b = 0; b < 256; ++b) {
        groups.begin[b] = static_cast<std::uint8_t>(n);
        for (std::size_t i = 0; i < kForms.size(); ++i)
            if (static_cast<unsigned char>(kForms[i].text[1]) == b) groups.members[n++] = static_cast<std::uint8_t>(i);
    }
    groups.begin[256] = static_cast<std::uint8_t>(n);
    return groups;
}

inline constexpr ByteGroups kBySecondByte = group_by_second_byte();

// The bytes that can start a register.
inline constexpr peg::ByteSet kFirst = peg::ByteSet{}.add('%');

}  // namespace registers

// parse_register: "%tid.y" / "%tid.x" / "%rd" number / "%r" number / "%f" number / "%ntid.x" / "%ctaid.y"
//     / "%ctaid.x" / "%tid.z" / "%ntid.y" / "%ntid.z" / "%ctaid.z" / "%nctaid.x" / "%nctaid.y" / "%nctaid.z"
//     / "%warpid" / "%laneid" / "%warpsize" / "%gridid" / "%lanemask_eq" / "%lanemask_le" / "%lanemask_lt"
//     / "%lanemask_ge" / "%lanemask_gt" / "%clock64" / "%clock" / "%pm0" / "%pm1" / "%pm2" / "%pm3"
// number: ['0'..='9']+
template <class Mode>
bool Grammar<Mode>::parse_register(Pos& pos, RegisterFields& out) {
    using registers::kBySecondByte;
    // A form whose text is not at `pos` fails there, marking only `pos`. Only the forms after the same second byte
    // can match, and trying them alone in order finds the same first match; where the marking pass records at `pos`,
    // every form is tried, for its mark.
    if constexpr (Mode::marks) {
        if (pos == err_.furthest()) {
            struct Every {
                std::size_t operator[](std::size_t k) const { return k; }
            };
            return register_of(pos, out, std::pair{Every{}, registers::kForms.size()}, 0);
        }
    }
    const unsigned char second = byte(pos) == '%' ? byte(pos + 1) : 0;
    struct Group {
        std::size_t first;
        std::size_t operator[](std::size_t k) const { return kBySecondByte.members[first + k]; }
    };
    const std::size_t first = kBySecondByte.begin[second];
    if (register_of(pos, out, std::pair{Group{first}, std::size_t{kBySecondByte.begin[second + 1u]} - first}, 2))
        return true;
    if constexpr (Mode::marks)
        err_.reached(pos);
    else
        fail(pos, nullptr);
    return false;
}

// The first of `forms` (indices into kForms, and their count) that matches at `pos`, each known to have its first
// `known` bytes there.
template <class Mode>
template <class Forms>
bool Grammar<Mode>::register_of(Pos& pos, RegisterFields& out, const Forms& forms, std::size_t known) {
    for (std::size_t k = 0; k < forms.second; ++k) {
        const registers::RegisterForm& form = registers::kForms[forms.first[k]];
        if (!at(pos, form.text, known)) {
            if constexpr (Mode::marks) fail(pos, form.expected);
            continue;
        }
        Pos after = pos + form.text.size();
        if (form.kind == registers::RegisterKind::Special) {
            out.special = form.special;
            out.direction = form.direction;
        } else if (!number(after, out.number)) {
            continue;
        }
        out.kind = form.kind;
        pos = after;
        return true;
    }
    return false;
}

}  // namespace zorvane::parser
