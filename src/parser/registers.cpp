// The register rule: numbered registers of the three families and the special registers with a written form.
#include <array>
#include <cstdint>
#include <string_view>

#include "parser/char_classes.hpp"
#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

using ast::PTXDirection;
using ast::PTXSpecialRegister;
using peg::FixedString;
using peg::Match;
using peg::Quoted;

namespace {

enum class Family : std::uint8_t { Special, Wide, General, Float };

// One alternative of the rule: a special register spelled out, or the prefix of a numbered family.
struct RegisterForm {
    std::string_view text;
    const char* expected;
    Family family;
    PTXSpecialRegister special;
    PTXDirection direction;
};

template <FixedString S>
constexpr RegisterForm special(PTXSpecialRegister reg, PTXDirection direction = PTXDirection::None) {
    return {S.view(), Quoted<S>::c_str(), Family::Special, reg, direction};
}

template <FixedString S>
constexpr RegisterForm numbered(Family family) {
    return {S.view(), Quoted<S>::c_str(), family, PTXSpecialRegister::TID, PTXDirection::None};
}

using R = PTXSpecialRegister;
using D = PTXDirection;

// In the order of trial. "%clock64" must precede "%clock", which begins it; "%rd" before "%r" only orders the
// failure marks, since a "%rd" name leaves no digit right after "%r".
constexpr std::array kForms{
    special<"%tid.y">(R::TID, D::Y),
    special<"%tid.x">(R::TID, D::X),
    numbered<"%rd">(Family::Wide),
    numbered<"%r">(Family::General),
    numbered<"%f">(Family::Float),
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

// The numbered forms of the table are the shared families, in their order.
constexpr bool numbered_forms_are_the_families() {
    std::size_t next = 0;
    for (const RegisterForm& form : kForms) {
        if (form.family == Family::Special) continue;
        if (next == kNumberedFamilies.size()) return false;
        const NumberedFamily& family = kNumberedFamilies[next++];
        const auto kind = form.family == Family::Wide      ? ast::encoding::RegisterKind::Wide
                          : form.family == Family::General ? ast::encoding::RegisterKind::General
                                                           : ast::encoding::RegisterKind::Float;
        if (form.text != family.prefix || kind != family.kind) return false;
    }
    return next == kNumberedFamilies.size();
}
static_assert(numbered_forms_are_the_families(), "the register rule's numbered forms differ from kNumberedFamilies");

// Every form starts with "%", so the byte after it picks the few forms that can match; each group keeps the order
// of trial. The forms of byte b are kForms[members[begin[b]]] .. kForms[members[begin[b + 1] - 1]].
struct ByteGroups {
    std::array<std::uint8_t, kForms.size()> members{};
    std::array<std::uint8_t, 257> begin{};
};

constexpr ByteGroups group_by_second_byte() {
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

constexpr ByteGroups kBySecondByte = group_by_second_byte();

// Whether `text` is at `pos`, given that its first `known` bytes are already known to be there.
bool rest_matches(const Input& in, Pos pos, std::string_view text, std::size_t known) {
    ZORVANE_DEBUG_CHECK(pos + known <= in.size(), "a register form is tried without its known bytes in the input");
    if (in.size() - pos < text.size()) return false;
    for (std::size_t i = known; i < text.size(); ++i)
        if (in.text[pos + i] != text[i]) return false;
    return true;
}

ast::PTXRegister numbered_register(Family family, std::uint64_t number) {
    switch (family) {
        case Family::Wide:
            return ast::reg::Wide{number};
        case Family::Float:
            return ast::reg::Float{number};
        default:  // General; special registers have no number
            return ast::reg::General{number};
    }
}

// Marks the failures of the forms tried before the one at `matched` (all forms when none matched). A numbered
// form whose prefix matched has marked its empty digit run already; every other one failed at `pos` on its text.
inline void mark_failed_forms(const Input& in, Pos pos, ErrorState& err, std::size_t matched) {
    if (matched == 0) return;
    err.fail_all_at(pos, [&in, pos, matched](auto&& mark) {
        for (std::size_t i = 0; i < matched; ++i)
            if (!in.starts_with(pos, kForms[i].text)) mark(kForms[i].expected);
    });
}

}  // namespace

// parse_register: "%tid.y" / "%tid.x" / "%rd" number / "%r" number / "%f" number / "%ntid.x" / "%ctaid.y"
//     / "%ctaid.x" / "%tid.z" / "%ntid.y" / "%ntid.z" / "%ctaid.z" / "%nctaid.x" / "%nctaid.y" / "%nctaid.z"
//     / "%warpid" / "%laneid" / "%warpsize" / "%gridid" / "%lanemask_eq" / "%lanemask_le" / "%lanemask_lt"
//     / "%lanemask_ge" / "%lanemask_gt" / "%clock64" / "%clock" / "%pm0" / "%pm1" / "%pm2" / "%pm3"
// number: ['0'..='9']+
Parsed<ast::PTXRegister> parse_register(const Input& in, Pos pos, ErrorState& err) {
    if (in.at(pos) == '%') {
        // Nearly every register is numbered, so those take a short way with the same outcome and marks as the loop
        // below: "%rd" and then "%r" are the only forms after "%r", "%f" the only one after "%f", and a number
        // must follow; anything else goes the long way.
        static_assert(kForms[2].text == "%rd" && kForms[3].text == "%r" && kForms[4].text == "%f");
        const unsigned char second = in.at(pos + 1);
        if (second == 'r' || second == 'f') {
            std::size_t index = second == 'f' ? 4 : 3;
            if (second == 'r' && in.at(pos + 2) == 'd') index = 2;
            const Pos after = pos + kForms[index].text.size();
            // The digits are read and summed in one pass; a run too long to be sure to fit is converted again
            // with the check.
            const char* text = in.text.data();
            const std::size_t size = in.size();
            Pos end = after;
            std::uint64_t number = 0;
            while (end < size && peg::is_digit(static_cast<unsigned char>(text[end]))) {
                number = number * 10 + static_cast<std::uint64_t>(text[end] - '0');
                ++end;
            }
            if (end != after) {
                err.fail_at(end, peg::kDigitClass);
                mark_failed_forms(in, pos, err, index);
                if (end - after > 19) number = decimal_u64(in, after, end);
                return Match<ast::PTXRegister>{end, numbered_register(kForms[index].family, number)};
            }
        }
        // Forms of other groups cannot match here, so trying only this group in order finds the same first match.
        for (std::size_t k = kBySecondByte.begin[second]; k < kBySecondByte.begin[second + 1u]; ++k) {
            std::size_t index = kBySecondByte.members[k];
            const RegisterForm& form = kForms[index];
            if (!rest_matches(in, pos, form.text, 2)) continue;
            Pos after = pos + form.text.size();
            if (form.family == Family::Special) {
                mark_failed_forms(in, pos, err, index);
                return Match<ast::PTXRegister>{after, ast::reg::Special{form.special, form.direction}};
            }
            Pos end = peg::digits(in, after, err);
            if (end == after) continue;
            mark_failed_forms(in, pos, err, index);
            return Match<ast::PTXRegister>{end, numbered_register(form.family, decimal_u64(in, after, end))};
        }
    }
    mark_failed_forms(in, pos, err, kForms.size());
    return std::nullopt;
}

}  // namespace zorvane::parser
