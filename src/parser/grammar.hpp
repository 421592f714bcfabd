// The grammar: every rule, from single tokens up to the whole module, written once as a member of Grammar<Mode> and
// compiled for both passes. The rules of each group are defined in a header of their own (lexical.hpp, ...), which
// entry.cpp includes to compile them all together, so that the silent pass inlines across groups.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "ast/file.hpp"
#include "ast/union_records.hpp"
#include "ast/writer.hpp"
#include "peg/classify.hpp"
#include "peg/engine.hpp"
#include "peg/terminals.hpp"

// An instruction's rules inlined into one function, where the first pass spends nearly all its time: without it, the
// parse takes about 30 % more machine instructions. A sanitizer build, which checks rather than races, compiles them
// apart: inlined whole and instrumented, this one file took minutes to compile instead of seconds.
#ifdef ZORVANE_SANITIZE
#define ZORVANE_FLATTEN
#else
#define ZORVANE_FLATTEN [[gnu::flatten]]
#endif

namespace zorvane::parser {

using peg::CharClass;
using peg::ErrorState;
using peg::FixedString;
using peg::Input;
using peg::Marking;
using peg::Pos;
using peg::Quoted;
using peg::Silent;

// The character classes of the token rules, each written once as the text that errors show.
inline constexpr CharClass kIdentifierStart{"['a'..='z' | 'A'..='Z' | '_' | '$']"};
inline constexpr CharClass kIdentifierChars{"['a'..='z' | 'A'..='Z' | '0'..='9' | '_' | '$']"};
inline constexpr CharClass kLabelChars{"['a'..='z' | '0'..='9' | '_' | 'A'..='Z']"};
inline constexpr CharClass kModifierChars{"['a'..='z' | '0'..='9']"};
inline constexpr CharClass kHexDigits{"['0'..='9' | 'a'..='f' | 'A'..='F']"};
inline constexpr CharClass kLetters{"['a'..='z'|'A'..='Z']"};
inline constexpr CharClass kPragmaChars{"[|'0'..='9'| 'a'..='z' | 'A'..='Z']"};
inline constexpr CharClass kAlnumUnderscore{"['0'..='9' | 'A'..='Z' | 'a'..='z' | '_']"};
inline constexpr CharClass kAlnum{"['0'..='9' | 'A'..='Z' | 'a'..='z']"};
inline constexpr CharClass kInitialiserChars{"['0'..='9' | ',' | ' ']"};
using peg::kDigits;

// Unsigned decimal conversions of a digit run [begin, end); out-of-range values throw base::NumberOutOfRange naming
// the number and its line and column.
std::uint64_t decimal_u64_any(const Input& in, Pos begin, Pos end);
// Runs of up to 19 digits always fit, and nearly every number is one, so they take an inline loop without checks.
inline std::uint64_t decimal_u64(const Input& in, Pos begin, Pos end) {
    if (end - begin > 19) return decimal_u64_any(in, begin, end);
    const char* text = in.data();
    std::uint64_t value = 0;
    for (Pos i = begin; i < end; ++i) value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    return value;
}
std::uint64_t negated_decimal_u64(const Input& in, Pos begin, Pos end);  // magnitude at most 2^63
std::uint64_t hex_u64(const Input& in, Pos begin, Pos end);
ast::u128 decimal_u128(const Input& in, Pos begin, Pos end);

// What body_item recognised: which item, and for a label definition or a call block the name that it holds. The
// statements and instructions themselves go into the body that the writer is writing.
struct ItemRead {
    enum class Kind : std::uint8_t { Statement, Instruction, LabelDef, Call } kind;
    std::string_view name;
};

// The value of the register rule.
using ast::encoding::RegisterFields;

// The classes that the first stage classifies: those of the runs that nearly every line has.
using FirstStage = peg::Classifier<peg::kBlanks, kDigits, kModifierChars, kLabelChars, kIdentifierChars>;

template <class Mode>
class Grammar {
public:
    // `out` receives what the silent pass builds; the marking pass builds nothing and takes none.
    Grammar(const Input& in, ErrorState& err, ast::TreeWriter* out) noexcept
        : in_{in}, text_{in.data()}, size_{in.size()}, err_{err}, out_{out}, blocks_{in} {}

    // ---- Terminals. Each starts exactly at the position given; one that matches advances it, one that fails marks
    // its expected text there and leaves it.

    [[gnu::always_inline]] void fail(Pos pos, const char* expected) { err_.template fail<Mode>(pos, expected); }

    // Whether S is at `pos`: its bytes compared inline, since nearly every literal is a few bytes long.
    template <FixedString S>
    [[gnu::always_inline]] bool at(Pos pos) const {
        ZORVANE_DEBUG_CHECK(pos <= size_, "a literal is tried past the end of the input");
        // The bytes are compared in order and no literal holds a NUL, so the NUL after the text ends any comparison.
        for (std::size_t i = 0; i < S.size(); ++i)
            if (text_[pos + i] != S.chars[i]) return false;
        return true;
    }

    // Whether `lit` is at `pos`, given that its first `known` bytes are.
    [[gnu::always_inline]] bool at(Pos pos, std::string_view lit, std::size_t known = 0) const {
        ZORVANE_DEBUG_CHECK(pos + known <= size_, "a literal is tried past the end of the input");
        for (std::size_t i = known; i < lit.size(); ++i)
            if (text_[pos + i] != lit[i]) return false;
        return true;
    }

    template <FixedString S>
    [[gnu::always_inline]] bool literal(Pos& pos) {
        if (at<S>(pos)) {
            pos += S.size();
            return true;
        }
        fail(pos, Quoted<S>::c_str());
        return false;
    }

    // The literal that begins an optional or repeated part. When it fails, the rule goes on from this very position
    // and tries something there next, which the silent pass lets stand for this failure.
    template <FixedString S>
    [[gnu::always_inline]] bool literal_opens(Pos& pos) {
        if (at<S>(pos)) {
            pos += S.size();
            return true;
        }
        if constexpr (Mode::marks) fail(pos, Quoted<S>::c_str());
        return false;
    }

    // Where a run of the class from `pos` stops, marked there: zero or more characters.
    template <const CharClass& Cls>
    [[gnu::always_inline]] Pos run_end(Pos pos) {
        Pos end = class_end<Cls>(pos);
        if constexpr (Mode::marks) fail(end, Cls.expected);
        return end;
    }

    // One or more characters of the class: advances past them, marking where they stop.
    template <const CharClass& Cls>
    [[gnu::always_inline]] bool run(Pos& pos) {
        Pos end = class_end<Cls>(pos);
        if (end == pos) {
            fail(end, Cls.expected);
            return false;
        }
        if constexpr (Mode::marks) fail(end, Cls.expected);
        pos = end;
        return true;
    }

    // number: ['0'..='9']+, read as an unsigned 64-bit decimal as its digits are matched: nearly every number is one
    // or two digits long, which the loop that sums them finds the end of as well as a mask would.
    [[gnu::always_inline]] bool number(Pos& pos, std::uint64_t& value) {
        Pos end = pos;
        std::uint64_t sum = 0;
        while (kDigits.has(static_cast<unsigned char>(text_[end]))) {
            sum = sum * 10 + static_cast<std::uint64_t>(text_[end] - '0');
            ++end;
        }
        if (end == pos) {
            fail(end, kDigits.expected);
            return false;
        }
        if constexpr (Mode::marks) fail(end, kDigits.expected);
        // A run too long to be sure to fit is read again, with the check.
        value = end - pos > 19 ? decimal_u64_any(in_, pos, end) : sum;
        pos = end;
        return true;
    }

    // `_`: spaces, tabs, carriage returns, line feeds and line comments; never fails and records nothing.
    [[gnu::always_inline]] Pos ws(Pos pos) {
        // Most calls meet no whitespace at all, which one byte tells.
        if (!peg::kStartsWhitespace[static_cast<unsigned char>(text_[pos])]) return pos;
        while (true) {
            pos = class_end<peg::kBlanks>(pos);
            if (text_[pos] != '/' || text_[pos + 1] != '/') return pos;
            // A comment runs to the end of its line, which ends it with it.
            const void* line_end = std::memchr(text_ + pos, '\n', size_ - pos);
            if (line_end == nullptr) return size_;
            pos = static_cast<Pos>(static_cast<const char*>(line_end) - text_) + 1;
        }
    }

    // What the silent pass builds into; the marking pass has none.
    ast::TreeWriter& writer() const noexcept { return *out_; }

    std::string_view text(Pos begin, Pos end) const { return {text_ + begin, end - begin}; }
    // The byte at `pos`, up to the NUL that follows the text.
    unsigned char byte(Pos pos) const {
        ZORVANE_DEBUG_CHECK(pos <= size_, "a byte is read past the NUL after the input");
        return static_cast<unsigned char>(text_[pos]);
    }

    // (item (_ "," _ item)*)?: as many items as there are, each after the first with a comma before it; a comma
    // that no item follows is left. `item(pos)` reads one item as a rule does. Gives the number of items.
    template <class Item>
    [[gnu::always_inline]] std::size_t separated(Pos& pos, Item&& item) {
        if (!item(pos)) return 0;
        std::size_t count = 1;
        while (true) {
            Pos next = ws(pos);
            if (!literal_opens<",">(next)) return count;
            next = ws(next);
            if (!item(next)) return count;
            pos = next;
            ++count;
        }
    }

    // An ordered choice of literals, each giving its value: the first at `pos` decides.
    template <FixedString S, auto Value>
    struct Case {};
    template <class... Cases, class T>
    bool literal_choice(Pos& pos, T& out) {
        return (take(Cases{}, pos, out) || ...);
    }

    // ---- Token rules (lexical.hpp)
    bool type_(Pos& pos, ast::PTXType& out);
    bool identifier(Pos& pos, std::string_view& out);
    bool label_(Pos& pos, std::string_view& out);
    // modifier*: where the run of modifiers ends; never fails.
    Pos modifiers(Pos pos);

    // ---- opcodes.hpp
    bool opcode(Pos& pos, ast::PTXOpcode& out);

    // ---- registers.hpp
    bool parse_register(Pos& pos, RegisterFields& out);
    template <class Forms>
    bool register_of(Pos& pos, RegisterFields& out, const Forms& forms, std::size_t known);

    // ---- operands.hpp: the operand is written into the instruction being written.
    bool operand(Pos& pos);
    bool vector_operand(Pos& pos);
    bool register_or_pair(Pos& pos);
    bool predicate(Pos& pos);
    bool memory(Pos& pos);
    bool float_immediate(Pos& pos);
    bool negative_immediate(Pos& pos);
    bool immediate(Pos& pos);
    bool string_label(Pos& pos);
    bool label(Pos& pos);
    bool custom_register(Pos& pos);

    // ---- instructions.hpp: the instruction or statement is written into the body being written.
    ZORVANE_FLATTEN bool instruction(Pos& pos);
    bool body_item(Pos& pos, ItemRead& read);
    bool label_definition(Pos& pos, ItemRead& read);
    bool call_block(Pos& pos, ItemRead& read);
    bool body_statement(Pos& pos, ItemRead& read);
    bool body_instruction(Pos& pos, ItemRead& read);
    bool param_store(Pos& pos);

    // ---- statements.hpp
    bool statement(Pos& pos);

    // ---- program.hpp
    bool header(Pos& pos, ast::PTXHeader& out);
    bool top_level_item(Pos& pos);
    bool link_directive(Pos& pos, ast::PTXLinkDirective& out);
    bool function_kind(Pos& pos, ast::PTXFunctionKind& out);
    // Writes each parameter into the function being written when `keep` is set.
    bool function_signature(Pos& pos, bool keep);
    bool program(Pos& pos);

private:
    // Where the run of the class from `pos` stops: from the masks of the first stage for the classes it classifies,
    // which nearly every run is of, and a byte at a time for the others.
    template <const CharClass& Cls>
    [[gnu::always_inline]] Pos class_end(Pos pos) {
        ZORVANE_DEBUG_CHECK(pos <= size_, "a character run starts past the end of the input");
        if constexpr (Blocks::template classifies<Cls>()) {
            for (int i = 0; i < 8; ++i, ++pos)
                if (!Cls.has(static_cast<unsigned char>(text_[pos]))) return pos;
            return blocks_.template class_end<Cls>(pos);
        } else {
            while (Cls.has(static_cast<unsigned char>(text_[pos]))) ++pos;
            return pos;
        }
    }

    ast::TreeWriter& out() const noexcept { return *out_; }

    template <FixedString S, auto Value, class T>
    bool take(Case<S, Value>, Pos& pos, T& out) {
        if (!literal<S>(pos)) return false;
        out = Value;
        return true;
    }

    // Tries the alternatives in order, as an ordered choice: all of them where the marking pass records at `pos`,
    // and otherwise only those in `candidates` (a bit per alternative, from a table of first bytes), since every
    // other one fails on its first byte and marks only `pos`, which one mark stands for when all fail.
    template <auto... Alternatives, class... Args>
    bool choose(Pos& pos, std::uint32_t candidates, Args&... args) {
        if constexpr (Mode::marks)
            if (pos == err_.furthest()) candidates = ~std::uint32_t{0};
        const bool matched = [&]<std::size_t... I>(std::index_sequence<I...>) {
            return ((((candidates >> I) & 1) != 0 && (this->*Alternatives)(pos, args...)) || ...);
        }
        (std::make_index_sequence<sizeof...(Alternatives)>{});
        if (!matched) {
            if constexpr (Mode::marks)
                err_.reached(pos);
            else
                fail(pos, nullptr);
        }
        return matched;
    }

    bool parameter_declaration(Pos& pos, ast::PTXType& type, std::string_view& name);
    bool function_item(Pos& pos);
    bool function_body(Pos& pos);
    bool array_head(Pos& pos);
    bool extern_shared_array(Pos& pos);
    bool global_array(Pos& pos);
    bool align(Pos& pos);
    bool register_declaration(Pos& pos);
    bool pragma(Pos& pos);
    template <FixedString Keyword>
    bool memory_array(Pos& pos, ast::PTXType& type, ast::u128& count, std::string_view& name);
    template <FixedString Family>
    bool register_range(Pos& pos, ast::u128& count);
    bool declared_custom_register(Pos& pos, std::string_view& name);
    bool count(Pos& pos, ast::u128& out);

    using Blocks = FirstStage;

    const Input& in_;
    const char* text_;
    std::size_t size_;
    ErrorState& err_;
    ast::TreeWriter* out_;
    Blocks blocks_;
};

// A table from a byte to the alternatives of a choice that can start with it, a bit each in the order of trial, from
// the sets of first bytes of the alternatives.
template <std::size_t N>
constexpr std::array<std::uint32_t, 256> first_byte_table(const std::array<peg::ByteSet, N>& firsts) {
    static_assert(N <= 32);
    std::array<std::uint32_t, 256> table{};
    for (std::size_t c = 0; c < 256; ++c)
        for (std::size_t i = 0; i < N; ++i)
            if (firsts[i].has(static_cast<unsigned char>(c))) table[c] |= std::uint32_t{1} << i;
    return table;
}

}  // namespace zorvane::parser
