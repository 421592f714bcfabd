// The module rules: header, top-level items, function signatures and the whole program.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "parser/rules.hpp"
#include "base/failure.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

using peg::digits;
using peg::Match;
using peg::match_literal;
using peg::skip_ws;
using peg::Unit;

namespace {

// Target names as their quoted expected texts; a name's position is the value of its PTXTarget member.
constexpr std::array<const char*, 40> kTargetNames{
    "\"sm_10\"",   "\"sm_11\"",   "\"sm_12\"",   "\"sm_13\"",   "\"sm_20\"",   "\"sm_30\"",   "\"sm_32\"",
    "\"sm_35\"",   "\"sm_37\"",   "\"sm_50\"",   "\"sm_52\"",   "\"sm_53\"",   "\"sm_60\"",   "\"sm_61\"",
    "\"sm_62\"",   "\"sm_70\"",   "\"sm_72\"",   "\"sm_75\"",   "\"sm_80\"",   "\"sm_86\"",   "\"sm_87\"",
    "\"sm_88\"",   "\"sm_89\"",   "\"sm_90\"",   "\"sm_90a\"",  "\"sm_100\"",  "\"sm_100f\"", "\"sm_100a\"",
    "\"sm_103\"",  "\"sm_103f\"", "\"sm_103a\"", "\"sm_110\"",  "\"sm_110f\"", "\"sm_110a\"", "\"sm_120\"",
    "\"sm_120f\"", "\"sm_120a\"", "\"sm_121\"",  "\"sm_121f\"", "\"sm_121a\"",
};

constexpr std::string_view target_text(std::size_t i) {
    std::string_view quoted{kTargetNames[i]};
    return quoted.substr(1, quoted.size() - 2);
}

// Each name is its member's name in lower case with "_" after "sm".
constexpr bool target_names_match_members() {
    if (kTargetNames.size() != ast::member_count<ast::PTXTarget>()) return false;
    for (std::size_t i = 0; i < kTargetNames.size(); ++i) {
        std::string_view text = target_text(i);
        std::string_view member = ast::EnumInfo<ast::PTXTarget>::names[i];
        if (text.size() != member.size() + 1 || text.substr(0, 3) != "sm_") return false;
        for (std::size_t k = 2; k < member.size(); ++k) {
            char c = member[k];
            char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            if (text[k + 1] != lower) return false;
        }
    }
    return true;
}
static_assert(target_names_match_members());

// target_name: the longest of the forty names that matches
Parsed<ast::PTXTarget> target_name(const Input& in, Pos pos, ErrorState& err) {
    std::size_t best = 0;
    std::size_t best_length = 0;
    for (std::size_t i = 0; i < kTargetNames.size(); ++i) {
        std::string_view text = target_text(i);
        if (text.size() > best_length && in.starts_with(pos, text)) {
            best = i;
            best_length = text.size();
        }
    }
    if (best_length == 0) {
        for (const char* quoted : kTargetNames) err.fail_at(pos, quoted);
        return std::nullopt;
    }
    return Match<ast::PTXTarget>{pos + best_length, static_cast<ast::PTXTarget>(best)};
}

constexpr bool is_alnum(unsigned char c) {
    return peg::is_digit(c) || peg::is_letter(c);
}
constexpr bool is_alnum_or_underscore(unsigned char c) {
    return is_alnum(c) || c == '_';
}
constexpr bool is_initialiser_char(unsigned char c) {
    return peg::is_digit(c) || c == ',' || c == ' ';
}
constexpr const char* kAlnumUnderscoreClass = "['0'..='9' | 'A'..='Z' | 'a'..='z' | '_']";
constexpr const char* kAlnumClass = "['0'..='9' | 'A'..='Z' | 'a'..='z']";
constexpr const char* kInitialiserClass = "['0'..='9' | ',' | ' ']";

// body: "{" _ (body_item (_ body_item)*)? _ "}" _
// Only statements and instructions are kept: each is written into the function's body as soon as it is read.
Parsed<Unit> function_body(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer) {
    Pos p = pos;
    if (!match_literal<"{">(in, pos, err, p)) return std::nullopt;
    // Only the first pass writes, and there every instruction that the scanner reads counts.
    ZORVANE_DEBUG_CHECK(writer == nullptr || !err.recording(), "the second pass writes a tree");
    p = skip_ws(in, p);
    Pos item_end = p;
    while (true) {
        // Most items are instructions that the fast scanner takes whole. They then skip the dispatch of the
        // body-item rule too, whose only mark lies before the instruction's end and so counts for nothing.
        if (in.at(p) == '@' || peg::is_lower(in.at(p))) {
            if (fast_instruction_write(in, p, writer, item_end) && scanned_instruction_counts(err, item_end)) {
                p = item_end;
                continue;
            }
        }
        if (!body_item_into(in, p, err, writer, item_end)) break;
        p = skip_ws(in, item_end);
    }
    if (!match_literal<"}">(in, p, err, p)) return std::nullopt;
    return Match<Unit>{skip_ws(in, p), {}};
}

// function_item: link_directive? _ function_kind _ identifier _ function_signature (_ body / ";" _)
// A definition and a declaration share everything up to the signature, which is deterministic, so it is read once.
Parsed<Unit> function_item(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer) {
    Pos p = pos;
    ast::PTXLinkDirective directive = ast::PTXLinkDirective::None;
    if (auto link = link_directive(in, pos, err)) {
        directive = link->value;
        p = link->end;
    }
    auto kind = function_kind(in, skip_ws(in, p), err);
    if (!kind) return std::nullopt;
    auto name = identifier(in, skip_ws(in, kind->end), err);
    if (!name) return std::nullopt;

    // The function is written from here on; what a failed alternative wrote is given back.
    std::optional<ast::TreeWriter::Mark> before_function;
    ast::encoding::Byte* function = nullptr;
    if (writer != nullptr) {
        before_function = writer->mark();
        function = writer->begin_function({pos, directive, kind->value, name->value});
    }
    auto signature = function_signature(in, skip_ws(in, name->end), err, writer);
    if (!signature) {
        if (writer != nullptr) writer->reset(*before_function);
        return std::nullopt;
    }
    std::optional<ast::TreeWriter::Mark> before_body;
    if (writer != nullptr) before_body = writer->mark();
    if (auto definition = function_body(in, skip_ws(in, signature->end), err, writer)) {
        p = definition->end;
    } else {
        if (writer != nullptr) writer->reset(*before_body);
        if (!match_literal<";">(in, signature->end, err, p)) {
            if (writer != nullptr) writer->reset(*before_function);
            return std::nullopt;
        }
        p = skip_ws(in, p);
    }
    if (writer != nullptr) {
        writer->end_function(function);
        writer->add_function(function);
    }
    return Match<Unit>{p, {}};
}

// extern_shared_array: ".extern" _ ".shared" _ ".align" _ D+ _ type_ _ identifier "[" _ "]" ";" _
Parsed<Unit> extern_shared_array(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".extern">(in, pos, err, p)) return std::nullopt;
    if (!match_literal<".shared">(in, skip_ws(in, p), err, p)) return std::nullopt;
    if (!match_literal<".align">(in, skip_ws(in, p), err, p)) return std::nullopt;
    p = skip_ws(in, p);
    Pos alignment_end = digits(in, p, err);
    if (alignment_end == p) return std::nullopt;
    auto type = type_(in, skip_ws(in, alignment_end), err);
    if (!type) return std::nullopt;
    auto name = identifier(in, skip_ws(in, type->end), err);
    if (!name) return std::nullopt;
    if (!match_literal<"[">(in, name->end, err, p)) return std::nullopt;
    if (!match_literal<"]">(in, skip_ws(in, p), err, p)) return std::nullopt;
    if (!match_literal<";">(in, p, err, p)) return std::nullopt;
    return Match<Unit>{skip_ws(in, p), {}};
}

// initialised_array_tail: [0-9A-Za-z_]+ "]" _ "=" _ "{" _ [0-9, ' ']+ _ "}" ";" _
Parsed<Unit> initialised_array_tail(const Input& in, Pos pos, ErrorState& err) {
    Pos p = peg::run<is_alnum_or_underscore>(in, pos, err, kAlnumUnderscoreClass);
    if (p == pos) return std::nullopt;
    if (!match_literal<"]">(in, p, err, p)) return std::nullopt;
    if (!match_literal<"=">(in, skip_ws(in, p), err, p)) return std::nullopt;
    if (!match_literal<"{">(in, skip_ws(in, p), err, p)) return std::nullopt;
    p = skip_ws(in, p);
    Pos values_end = peg::run<is_initialiser_char>(in, p, err, kInitialiserClass);
    if (values_end == p) return std::nullopt;
    if (!match_literal<"}">(in, skip_ws(in, values_end), err, p)) return std::nullopt;
    if (!match_literal<";">(in, p, err, p)) return std::nullopt;
    return Match<Unit>{skip_ws(in, p), {}};
}

// uninitialised_array_tail: [0-9A-Za-z]+ "]" ";" _
Parsed<Unit> uninitialised_array_tail(const Input& in, Pos pos, ErrorState& err) {
    Pos p = peg::run<is_alnum>(in, pos, err, kAlnumClass);
    if (p == pos) return std::nullopt;
    if (!match_literal<"]">(in, p, err, p)) return std::nullopt;
    if (!match_literal<";">(in, p, err, p)) return std::nullopt;
    return Match<Unit>{skip_ws(in, p), {}};
}

// global_array: ".global" _ ".align" _ D+ _ type_ _ identifier "[" (initialised_array_tail / uninitialised_array_tail)
// Both global forms share everything up to the "[", which is deterministic, so it is read once.
Parsed<Unit> global_array(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".global">(in, pos, err, p)) return std::nullopt;
    if (!match_literal<".align">(in, skip_ws(in, p), err, p)) return std::nullopt;
    p = skip_ws(in, p);
    Pos alignment_end = digits(in, p, err);
    if (alignment_end == p) return std::nullopt;
    auto type = type_(in, skip_ws(in, alignment_end), err);
    if (!type) return std::nullopt;
    auto name = identifier(in, skip_ws(in, type->end), err);
    if (!name) return std::nullopt;
    if (!match_literal<"[">(in, name->end, err, p)) return std::nullopt;
    if (auto initialised = initialised_array_tail(in, p, err)) return initialised;
    return uninitialised_array_tail(in, p, err);
}

}  // namespace

// header: ".version" _ D+ "." D+ _ ".target" _ target_name _ ".address_size" _ D+
Parsed<ast::PTXHeader> header(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".version">(in, pos, err, p)) return std::nullopt;
    const Pos version_start = skip_ws(in, p);
    Pos major_end = digits(in, version_start, err);
    if (major_end == version_start) return std::nullopt;
    if (!match_literal<".">(in, major_end, err, p)) return std::nullopt;
    Pos version_end = digits(in, p, err);
    if (version_end == p) return std::nullopt;

    if (!match_literal<".target">(in, skip_ws(in, version_end), err, p)) return std::nullopt;
    auto target = target_name(in, skip_ws(in, p), err);
    if (!target) return std::nullopt;

    if (!match_literal<".address_size">(in, skip_ws(in, target->end), err, p)) return std::nullopt;
    p = skip_ws(in, p);
    Pos size_end = digits(in, p, err);
    if (size_end == p) return std::nullopt;
    return Match<ast::PTXHeader>{
        size_end, ast::PTXHeader{std::string{in.text.substr(version_start, version_end - version_start)}, target->value,
                                 decimal_u64(in, p, size_end)}};
}

// top_level_item: function_item / extern_shared_array / global_array
// Only functions are kept; the global declarations are recognised and dropped.
Parsed<Unit> top_level_item(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer) {
    if (auto fn = function_item(in, pos, err, writer)) return fn;
    if (auto shared = extern_shared_array(in, pos, err)) return shared;
    return global_array(in, pos, err);
}

// link_directive: ".weak" / ".visible" / ".extern"
Parsed<ast::PTXLinkDirective> link_directive(const Input& in, Pos pos, ErrorState& err) {
    Pos end = pos;
    if (match_literal<".weak">(in, pos, err, end))
        return Match<ast::PTXLinkDirective>{end, ast::PTXLinkDirective::Weak};
    if (match_literal<".visible">(in, pos, err, end))
        return Match<ast::PTXLinkDirective>{end, ast::PTXLinkDirective::Visible};
    if (match_literal<".extern">(in, pos, err, end))
        return Match<ast::PTXLinkDirective>{end, ast::PTXLinkDirective::Extern};
    return std::nullopt;
}

// function_kind: ".entry" / ".func"
Parsed<ast::PTXFunctionKind> function_kind(const Input& in, Pos pos, ErrorState& err) {
    Pos end = pos;
    if (match_literal<".entry">(in, pos, err, end))
        return Match<ast::PTXFunctionKind>{end, ast::PTXFunctionKind::Kernel};
    if (match_literal<".func">(in, pos, err, end))
        return Match<ast::PTXFunctionKind>{end, ast::PTXFunctionKind::Function};
    return std::nullopt;
}

namespace {

// parameter: ".param" _ type_ _ identifier _
Parsed<ast::PTXFunctionParameter> parameter(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".param">(in, pos, err, p)) return std::nullopt;
    auto type = type_(in, skip_ws(in, p), err);
    if (!type) return std::nullopt;
    auto name = identifier(in, skip_ws(in, type->end), err);
    if (!name) return std::nullopt;
    return Match<ast::PTXFunctionParameter>{skip_ws(in, name->end),
                                            ast::PTXFunctionParameter{std::move(name->value), type->value}};
}

}  // namespace

// function_signature: "(" _ (parameter (_ "," _ parameter)*)? _ ")"
// Each parameter is written as soon as it is read, however many there are.
Parsed<Unit> function_signature(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer) {
    Pos p = pos;
    if (!match_literal<"(">(in, pos, err, p)) return std::nullopt;
    p = skip_ws(in, p);
    auto keep = [writer](const ast::PTXFunctionParameter& param) {
        if (writer != nullptr) writer->parameter(param.type_, param.name);
    };
    if (auto first = parameter(in, p, err)) {
        keep(first->value);
        p = first->end;
        while (true) {
            Pos comma = p;
            if (!match_literal<",">(in, skip_ws(in, p), err, comma)) break;
            auto next = parameter(in, skip_ws(in, comma), err);
            if (!next) break;
            keep(next->value);
            p = next->end;
        }
    }
    if (!match_literal<")">(in, skip_ws(in, p), err, p)) return std::nullopt;
    return Match<Unit>{p, {}};
}

// program: _ header _ top_level_item* _
Parsed<std::optional<ast::ParsedFile>> program(const Input& in, Pos pos, ErrorState& err) {
    auto head = header(in, skip_ws(in, pos), err);
    if (!head) return std::nullopt;
    // The second pass runs only to find the error and writes nothing.
    std::optional<ast::TreeWriter> writer;
    if (!err.recording()) {
        writer.emplace();
        writer->file_header(head->value);
    }
    ast::TreeWriter* tree = writer ? &*writer : nullptr;
    Pos p = skip_ws(in, head->end);
    while (auto item = top_level_item(in, p, err, tree)) p = item->end;
    p = skip_ws(in, p);
    // A program that leaves text over is discarded by the entry, so its tree is not finished.
    std::optional<ast::ParsedFile> file;
    if (writer && p >= in.size()) file.emplace(std::move(*writer).finish());
    return Match<std::optional<ast::ParsedFile>>{p, std::move(file)};
}

}  // namespace zorvane::parser
